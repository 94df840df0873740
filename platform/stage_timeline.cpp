#include "platform/stage_timeline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// The calling thread's time on a core and waiting for one, in nanoseconds, where the system
// keeps them (Linux's schedstat); -1 elsewhere.
void threadSchedule(long long& runNs, long long& waitNs) {
    runNs = waitNs = -1;
    if (std::FILE* file = std::fopen("/proc/thread-self/schedstat", "r")) {
        if (std::fscanf(file, "%lld %lld", &runNs, &waitNs) != 2)
            runNs = waitNs = -1;
        std::fclose(file);
    }
}

}  // namespace

void markStage(const char* stage) {
    static const bool enabled = std::getenv("QUILLMERE_TIMELINE") != nullptr;
    if (!enabled)
        return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    long long runNs = 0;
    long long waitNs = 0;
    threadSchedule(runNs, waitNs);
    char line[200];
    const int length =
        std::snprintf(line, sizeof line, "quillmere-timeline %s %lld run=%lld wait=%lld\n", stage,
                      static_cast<long long>(ns), runNs, waitNs);
    // stderr is unbuffered: one call, one write, so lines of two threads never interleave.
    if (length > 0)
        std::fwrite(line, 1, static_cast<size_t>(length), stderr);
}
