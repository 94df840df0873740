#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace {

bool isRegular(const struct stat& status) {
    return S_ISREG(status.st_mode);
}

// A regular file's reads ignore O_NONBLOCK, but the descriptor may be handed to another
// process, so it leaves as a plain open would have made it.
bool clearNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

int openRegularFile(const std::string& nativePath) {
    struct stat status {};
    // What the name already shows is not opened at all: opening a device can act on it.
    if (::stat(nativePath.c_str(), &status) != 0 || !isRegular(status)) {
        return -1;
    }
    // The name may lead elsewhere by now: O_NONBLOCK keeps a FIFO from holding the open, and
    // the descriptor's own status decides.
    const int fd = ::open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &status) != 0 || !isRegular(status) || !clearNonBlocking(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool openRegularFile(const std::string& nativePath, QFile& file) {
    const int fd = openRegularFile(nativePath);
    if (fd < 0) {
        return false;
    }
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        return true;
    }
    ::close(fd);
    return false;
}
