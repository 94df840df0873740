#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

// What the prefetcher holds and does at one moment, as its policy sees it. Plain data: the
// policy runs under the prefetcher's lock, and tests give it states of their own.
struct PrefetchState {
    // Most wanted first: the current picture and the one after it while the window waits,
    // the neighbours once it is shown.
    std::vector<std::filesystem::path> wanted;
    // The picture the window waits for, or empty. It is its own, whatever its size: never
    // counted against the cap, never dropped while awaited.
    std::filesystem::path awaited;
    struct Held {
        std::filesystem::path file;
        size_t bytes = 0;
        bool failed = false;    // a failed decode, kept so that the window learns it
        bool fitStale = false;  // fitted for another surface than the window's now
        // Read, or its version checked, since the window began to wait for it: only then is
        // it given to the window.
        bool checked = false;
        bool checking = false;  // a check of its version is under way
    };
    std::vector<Held> held;
    struct Decoding {
        std::filesystem::path file;
        bool ahead = false;  // under the cap, not for the window waiting
    };
    std::vector<Decoding> decoding;  // decodes and refits under way
    // Wanted files that came out over the cap when decoded ahead: decoded again only once the
    // window waits for them.
    std::vector<std::filesystem::path> deferred;
    size_t capBytes = 0;
    // The next picture is guessed to be as large as the last one decoded, and no larger than
    // the cap: a decode that could not be kept would only raise the peak of memory.
    size_t lastBytes = 0;
    size_t maxPictures = 2;
};

// What the prefetcher does about it.
struct PrefetchPlan {
    enum class Work {
        Check,   // the awaited picture, decoded before the window asked: is its file unchanged?
        Decode,  // read and decode the file
        Refit,   // a held picture fitted again for the window's surface
    };
    struct Job {
        std::filesystem::path file;
        Work work = Work::Decode;
        friend bool operator==(const Job&, const Job&) = default;
    };
    std::vector<std::filesystem::path> drop;   // held pictures given up
    std::vector<std::filesystem::path> defer;  // of those, the ones over the cap by themselves
    std::vector<std::filesystem::path> stop;   // decodes under way no longer wanted
    std::vector<Job> ask;                      // what the workers do next, in this order
};

// The policy, a pure function:
// - kept: what is wanted, in the order wanted, while the pictures ahead stay within
//   maxPictures and capBytes; the awaited picture whatever its size; failed decodes wanted.
// - dropped: everything else held; one over the cap by itself is deferred, decoded again only
//   once the window waits for it. Stopped: decodes of files no longer wanted.
// - asked for: first the awaited picture (its check, or its decode when nothing of it is held
//   or coming: it never waits for room, whatever the cache holds); then refits of the kept
//   pictures; then the other wanted files, while the cap has room for one more picture of the
//   last size and the count for one more picture.
PrefetchPlan planPrefetch(const PrefetchState& state);
