#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "render/source/prefetch_policy.h"
#include "render/source/prepared_picture.h"

// Decodes pictures the viewer is likely to show next on worker threads of its own and keeps
// at most two of them under a memory cap; what it keeps, drops and decodes next is
// planPrefetch's. All calls are made from one thread (the window's) and never touch the file
// system; the workers only ever touch the prefetcher's own queue and cache, never the viewer
// state.
// Two workers let the two wanted pictures decode at once: while the window waits for the
// first picture, the second decodes on the other core. The second worker takes only what
// the first leaves, at a lower priority, so that it never slows the picture awaited.
class Prefetcher {
  public:
    // How a worker makes a picture: preparePicture, or a stand-in of the tests. It must
    // return soon once stop is requested.
    using Prepare = std::function<PreparedPicture(const std::filesystem::path&,
                                                  const FitAreaSource&, std::stop_token)>;

    // capBytes bounds what a picture decoded ahead may spend (PictureBudgetScope: its decoder's
    // buffers included) and the pixels the cache holds for pictures ahead. A picture that can't
    // be decoded within it is left until the window waits for it, and then decoded once, with
    // the whole budget; the picture the window waits for is never refused for the cap.
    explicit Prefetcher(size_t capBytes = defaultCapBytes(), Prepare prepare = {});
    ~Prefetcher();  // drops the queue and waits for the pictures being decoded
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // Wants these files (at most the first two count), most wanted first. Queued work and
    // cached pictures for other files are dropped; a decode under way for another file is
    // asked to stop and discarded when it ends. With a surface size (device pixels) each picture
    // also gets the fitted resample its first render on that surface would make.
    void request(std::vector<std::filesystem::path> files, int32_t surfaceWidth = 0,
                 int32_t surfaceHeight = 0);

    // The window's surface size (device pixels), as request takes it, for what is asked for
    // next: the awaited picture's decode is asked for as soon as it is awaited.
    void setSurface(int32_t surfaceWidth, int32_t surfaceHeight);

    // The largest area the window may show a picture in (the largest screen, in device
    // pixels): pictures requested without a surface size are reduced for it on decoding.
    void setScreenArea(FitArea area);
    // Says the screen area is still to come: until setScreenArea, a decode requested without
    // a surface size reads its file and then waits for it, except our PNG path, which needs
    // no area. Lets the first picture start before the application is up.
    void awaitScreenArea();

    // Never waits, never touches the file system: the decode of file, failed ones included,
    // once it has ended and file is the picture the window waits for (await), read since the
    // window began to wait for it or found unchanged since by a worker's check. Nothing while
    // it is queued, under way or being checked (onDecoded follows), or when it is not awaited.
    // Taken out: the file is no longer awaited nor wanted until asked for again.
    std::optional<PreparedPicture> takeResult(const std::filesystem::path& file);

    // The window waits for file, until it is shown (an empty path): once decoded it stays as
    // it is, not fitted again for a surface of another size (the window fits it sooner). A
    // picture of it decoded before is given only after a worker has found the file unchanged.
    void await(const std::filesystem::path& file);

    // Whether file is being decoded right now for a take.
    bool decoding(const std::filesystem::path& file) const;
    // Waits until file is no longer being decoded, at most limit; false when it still is.
    bool waitForDecode(const std::filesystem::path& file, std::chrono::milliseconds limit);
    // Whether file is wanted and not decoded yet (queued or under way), or being checked.
    bool coming(const std::filesystem::path& file) const;

    // Called on the worker's thread each time a decode of a wanted file ends, kept or
    // failed, and when a check finds the awaited file unchanged. Replacing it waits for a call
    // under way to return.
    void setOnDecoded(std::function<void(const std::filesystem::path&)> onDecoded);

    // Frees a picture on a thread of its own: giving back a large picture's memory takes
    // milliseconds that a step should not wait for.
    void release(Image&& picture);

    // Drops anything for file (a deleted picture), or everything (a new folder).
    void forget(const std::filesystem::path& file);
    void clear();

    // Blocks until the queue is empty and nothing is being decoded (tests, benchmarks).
    void waitIdle();
    // How many pictures the cache holds now, and their bytes but for the awaited one's.
    size_t cachedCount() const;
    size_t aheadBytes() const;

    // An eighth of the largest picture the viewer holds, at least 64 MiB and at most
    // 160 MiB: one 24-megapixel photo, or two of screen size.
    static size_t defaultCapBytes();

    static constexpr size_t kMaxPictures = 2;
    static constexpr size_t kWorkers = 2;  // decoders; a third thread checks files' versions

  private:
    // A decode under way; one that is no longer wanted is dropped when it ends.
    struct InFlight {
        std::filesystem::path file;
        bool ahead = false;  // decoded under the cap, not for the window waiting
        bool wanted = true;
        std::stop_source stop;
        void drop() {
            wanted = false;
            stop.request_stop();
        }
    };
    // A decode ended, kept or failed (status), for the window to take.
    struct Held {
        PreparedPicture prepared;
        // serial_ when its file was last read or its version checked: the window takes it
        // only when that was since it began to wait for it (awaitedSerial_).
        uint64_t checkedSerial = 0;
        bool checking = false;
    };

    void run(size_t index);
    void perform(const PrefetchPlan::Job& job, std::unique_lock<std::mutex>& lock);
    void reap();
    void replan();
    std::deque<PrefetchPlan::Job>::iterator nextJob(size_t index);
    std::vector<Held>::iterator heldOf(const std::filesystem::path& file);
    bool decodingWanted(const std::filesystem::path& file) const;
    void keep(Held&& held, bool ahead);
    void check(const std::filesystem::path& file, std::unique_lock<std::mutex>& lock);
    void work(Held&& held, std::unique_lock<std::mutex>& lock);
    void notifyDecoded(const std::filesystem::path& file, std::unique_lock<std::mutex>& lock);

    const size_t capBytes_;
    const Prepare prepare_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // work queued or stop
    std::condition_variable idle_;  // a decode ended
    std::vector<std::filesystem::path> wanted_;
    std::deque<PrefetchPlan::Job> queue_;  // the policy's plan, made again on every change
    std::vector<Held> held_;
    // Wanted files too large to decode ahead: decoded only once the window waits for them.
    std::vector<std::filesystem::path> deferred_;
    std::filesystem::path awaited_;
    uint64_t serial_ = 0;  // counts the pictures the window began to wait for
    uint64_t awaitedSerial_ = 0;
    size_t checking_ = 0;  // checks under way
    bool firstWorkerBusy_ = false;
    std::list<InFlight> decoding_;
    size_t lastBytes_ = 0;
    int32_t surfaceWidth_ = 0;
    int32_t surfaceHeight_ = 0;
    FitArea screenArea_;
    bool screenAreaPending_ = false;
    std::condition_variable areaKnown_;
    bool stop_ = false;
    std::vector<std::thread> workers_;

    std::mutex callbackMutex_;
    std::function<void(const std::filesystem::path&)> onDecoded_;

    std::mutex reapMutex_;
    std::condition_variable reapWake_;
    std::vector<Image> toFree_;
    bool reapStop_ = false;
    std::thread reaper_;
};
