#include "platform/detached_spawn.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

bool spawnDetached(const std::vector<std::string>& argv) {
    if (argv.empty() || argv.front().empty()) {
        return false;
    }
    // Everything the children use is built before fork: between fork and exec only
    // async-signal-safe calls are allowed in a threaded process.
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    const pid_t middle = fork();
    if (middle < 0) {
        return false;
    }
    if (middle == 0) {
        setsid();
        if (fork() == 0) {
            execvp(args[0], args.data());
        }
        _exit(0);
    }
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}
