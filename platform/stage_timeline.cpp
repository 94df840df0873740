#include "platform/stage_timeline.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

void markStage(const char* stage) {
    static const bool enabled = std::getenv("QUILLMERE_TIMELINE") != nullptr;
    if (!enabled)
        return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count();
    char line[160];
    const int length = std::snprintf(line, sizeof line, "quillmere-timeline %s %lld\n", stage,
                                     static_cast<long long>(ns));
    // stderr is unbuffered: one call, one write, so lines of two threads never interleave.
    if (length > 0)
        std::fwrite(line, 1, static_cast<size_t>(length), stderr);
}
