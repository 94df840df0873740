#include "render/source/prefetcher.h"

#include <QLoggingCategory>

#include <algorithm>
#include <system_error>

#include "platform/stage_timeline.h"
#include "platform/thread_priority.h"

namespace {

Q_LOGGING_CATEGORY(lcPrefetch, "quillmere.render.prefetch", QtInfoMsg)

constexpr size_t kMiB = size_t{1} << 20;

// The smallest screen the viewer expects to run on. A picture that a screen this size would
// not take reduced is taken whole by every larger one; on a smaller screen it is just decoded
// larger than needed.
constexpr FitArea kSmallestScreen{1024, 768};

}  // namespace

Prefetcher::Prefetcher(size_t capBytes, Prepare prepare)
    : capBytes_(capBytes),
      prepare_(prepare ? std::move(prepare)
                       : Prepare([](const std::filesystem::path& file, const FitAreaSource& area,
                                    std::stop_token stop) {
                             return preparePicture(file, area, std::move(stop));
                         })) {
    try {
        reaper_ = std::thread(&Prefetcher::reap, this);
        for (size_t i = 0; i < kWorkers; ++i)
            workers_.emplace_back(&Prefetcher::run, this, i);
    } catch (const std::system_error&) {
        // Without a worker nothing queued is ever done: every take finds nothing and the
        // caller decodes, as it would without a prefetcher; without the reaper pictures are
        // freed in place. With one worker of two, the pictures decode one after the other.
        qCDebug(lcPrefetch) << "fewer threads than asked for:" << workers_.size() << "workers";
    }
}

Prefetcher::~Prefetcher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
        for (InFlight& d : decoding_)
            d.drop();
    }
    wake_.notify_all();
    areaKnown_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    {
        std::lock_guard lock(reapMutex_);
        reapStop_ = true;
    }
    reapWake_.notify_all();
    if (reaper_.joinable())
        reaper_.join();
}

void Prefetcher::release(Image&& picture) {
    if (!reaper_.joinable()) {
        picture.destroy();
        return;
    }
    {
        std::lock_guard lock(reapMutex_);
        toFree_.emplace_back();
        toFree_.back().swap(picture);
    }
    reapWake_.notify_one();
}

void Prefetcher::reap() {
    std::unique_lock lock(reapMutex_);
    for (;;) {
        reapWake_.wait(lock, [&] { return reapStop_ || !toFree_.empty(); });
        std::vector<Image> batch;
        batch.swap(toFree_);
        lock.unlock();
        batch.clear();
        lock.lock();
        if (reapStop_ && toFree_.empty())
            return;
    }
}

size_t Prefetcher::defaultCapBytes() {
    return std::clamp(Image::maxPictureBytes() / 8, 64 * kMiB, 160 * kMiB);
}

bool Prefetcher::wanted(const std::filesystem::path& file) const {
    return std::find(wanted_.begin(), wanted_.end(), file) != wanted_.end();
}

bool Prefetcher::decodingWanted(const std::filesystem::path& file) const {
    return std::any_of(decoding_.begin(), decoding_.end(),
                       [&](const InFlight& d) { return d.wanted && d.file == file; });
}

bool Prefetcher::firstWorkerBusy() const {
    return std::any_of(decoding_.begin(), decoding_.end(),
                       [](const InFlight& d) { return d.byFirstWorker; });
}

// The pictures ahead: the one the window waits for is its own, whatever its size, and is taken
// at once.
size_t Prefetcher::cachedBytes() const {
    size_t total = 0;
    for (const PreparedPicture& prepared : cache_) {
        if (prepared.file != awaited_)
            total += prepared.bytes();
    }
    return total;
}

// The next picture is guessed to be as large as the last one, and no larger than the cap it is
// decoded under: a decode that could not be kept would only have raised the peak of memory for
// nothing. Decodes under way count as pictures of that size too.
bool Prefetcher::roomForAnother() const {
    const size_t held = cache_.size() + decoding_.size();
    const size_t guess = std::min(lastBytes_, capBytes_);
    return held < kMaxPictures &&
           (held == 0 || cachedBytes() + (decoding_.size() + 1) * guess <= capBytes_);
}

// The picture the window waits for is next in the queue: it never waits for room.
bool Prefetcher::awaitedQueued() const {
    return !queue_.empty() && !awaited_.empty() && queue_.front() == awaited_;
}

void Prefetcher::request(std::vector<std::filesystem::path> files, int32_t surfaceWidth,
                         int32_t surfaceHeight) {
    // A file wanted twice (a folder of one) is decoded once.
    for (auto at = files.begin(); at != files.end(); ++at)
        files.erase(std::remove(std::next(at), files.end(), *at), files.end());
    if (files.size() > kMaxPictures)
        files.resize(kMaxPictures);
    {
        std::lock_guard lock(mutex_);
        wanted_ = std::move(files);
        surfaceWidth_ = surfaceWidth;
        surfaceHeight_ = surfaceHeight;
        std::erase_if(cache_, [&](const PreparedPicture& p) { return !wanted(p.file); });
        trim();
        std::erase_if(failed_, [&](const PreparedPicture& p) { return !wanted(p.file); });
        std::erase_if(deferred_, [&](const std::filesystem::path& f) { return !wanted(f); });
        for (InFlight& d : decoding_) {
            if (!wanted(d.file))
                d.drop();
        }
        queue_.clear();
        if (workers_.empty())
            return;
        for (const std::filesystem::path& file : wanted_) {
            const bool cached =
                std::any_of(cache_.begin(), cache_.end(),
                            [&](const PreparedPicture& p) { return p.file == file; });
            const bool failed =
                std::any_of(failed_.begin(), failed_.end(),
                            [&](const PreparedPicture& p) { return p.file == file; });
            const bool deferred = file != awaited_ && std::find(deferred_.begin(), deferred_.end(),
                                                                file) != deferred_.end();
            if (!cached && !failed && !deferred && !decodingWanted(file))
                queue_.push_back(file);
        }
    }
    wake_.notify_all();
}

void Prefetcher::setScreenArea(FitArea area) {
    {
        std::lock_guard lock(mutex_);
        screenArea_ = area;
        screenAreaPending_ = false;
    }
    areaKnown_.notify_all();
}

void Prefetcher::awaitScreenArea() {
    std::lock_guard lock(mutex_);
    screenAreaPending_ = true;
}

std::optional<PreparedPicture> Prefetcher::take(const std::filesystem::path& file) {
    std::optional<PreparedPicture> found;
    {
        std::unique_lock lock(mutex_);
        // Waiting for a decode already half done beats starting the same one again.
        idle_.wait(lock, [&] { return !decodingWanted(file); });
        std::erase(queue_, file);
        const auto at = std::find_if(cache_.begin(), cache_.end(),
                                     [&](const PreparedPicture& p) { return p.file == file; });
        if (at == cache_.end())
            return std::nullopt;
        found = std::move(*at);
        cache_.erase(at);
    }
    // A file written since it was read must be decoded afresh.
    const std::optional<FileVersion> now = regularFileVersion(file);
    if (!now || !(*now == found->stamp)) {
        qCDebug(lcPrefetch) << "changed since prefetched:" << file.c_str();
        return std::nullopt;
    }
    return found;
}

void Prefetcher::await(const std::filesystem::path& file) {
    {
        std::lock_guard lock(mutex_);
        awaited_ = file;
        trim();  // a picture no longer awaited is one ahead, under the cap
    }
    wake_.notify_all();
}

std::optional<PreparedPicture> Prefetcher::takeResult(const std::filesystem::path& file) {
    std::optional<PreparedPicture> found;
    {
        std::lock_guard lock(mutex_);
        for (std::vector<PreparedPicture>* from : {&cache_, &failed_}) {
            const auto at = std::find_if(from->begin(), from->end(),
                                         [&](const PreparedPicture& p) { return p.file == file; });
            if (at != from->end()) {
                found = std::move(*at);
                from->erase(at);
                break;
            }
        }
    }
    if (!found)
        return std::nullopt;
    // A file written since it was read is decoded afresh, a failed one included.
    const std::optional<FileVersion> now = regularFileVersion(file);
    if (now ? !(*now == found->stamp) : found->status == DecodeStatus::Ok) {
        qCDebug(lcPrefetch) << "changed since decoded:" << file.c_str();
        return std::nullopt;
    }
    return found;
}

bool Prefetcher::decoding(const std::filesystem::path& file) const {
    std::lock_guard lock(mutex_);
    return decodingWanted(file);
}

bool Prefetcher::waitForDecode(const std::filesystem::path& file, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [&] { return !decodingWanted(file); });
}

bool Prefetcher::coming(const std::filesystem::path& file) const {
    std::lock_guard lock(mutex_);
    return decodingWanted(file) || std::find(queue_.begin(), queue_.end(), file) != queue_.end();
}

void Prefetcher::setOnDecoded(std::function<void(const std::filesystem::path&)> onDecoded) {
    std::lock_guard lock(callbackMutex_);
    onDecoded_ = std::move(onDecoded);
}

void Prefetcher::forget(const std::filesystem::path& file) {
    std::lock_guard lock(mutex_);
    std::erase(wanted_, file);
    std::erase(queue_, file);
    std::erase_if(cache_, [&](const PreparedPicture& p) { return p.file == file; });
    std::erase_if(failed_, [&](const PreparedPicture& p) { return p.file == file; });
    std::erase(deferred_, file);
    for (InFlight& d : decoding_) {
        if (d.file == file)
            d.drop();
    }
}

void Prefetcher::clear() {
    std::lock_guard lock(mutex_);
    wanted_.clear();
    queue_.clear();
    cache_.clear();
    failed_.clear();
    deferred_.clear();
    for (InFlight& d : decoding_)
        d.drop();
}

void Prefetcher::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] {
        return decoding_.empty() &&
               ((queue_.empty() && staleFit() == cache_.end()) || workers_.empty());
    });
}

size_t Prefetcher::aheadBytes() const {
    std::lock_guard lock(mutex_);
    return cachedBytes();
}

size_t Prefetcher::cachedCount() const {
    std::lock_guard lock(mutex_);
    return cache_.size();
}

void Prefetcher::keep(PreparedPicture&& prepared, bool ahead) {
    if (prepared.status == DecodeStatus::OutOfMemory && ahead) {
        // Too large for the cap, not for the budget: decoded once the window waits for it.
        deferred_.push_back(prepared.file);
        return;
    }
    if (prepared.status != DecodeStatus::Ok) {
        // Kept for takeResult only: the window learns so that the file doesn't decode.
        if (prepared.status != DecodeStatus::Cancelled) {
            prepared.picture.destroy();
            failed_.push_back(std::move(prepared));
        }
        return;
    }
    if (prepared.bytes() > capBytes_ && prepared.file != awaited_)
        return;
    cache_.push_back(std::move(prepared));
    trim();
}

// The cache keeps to its count and cap by giving up the least wanted pictures ahead; the
// awaited one stays whatever its size.
void Prefetcher::trim() {
    std::stable_sort(cache_.begin(), cache_.end(),
                     [&](const PreparedPicture& a, const PreparedPicture& b) {
                         return std::find(wanted_.begin(), wanted_.end(), a.file) <
                                std::find(wanted_.begin(), wanted_.end(), b.file);
                     });
    while (cache_.size() > kMaxPictures || cachedBytes() > capBytes_) {
        const auto victim =
            std::find_if(cache_.rbegin(), cache_.rend(),
                         [&](const PreparedPicture& p) { return p.file != awaited_; });
        if (victim == cache_.rend())
            return;
        cache_.erase(std::next(victim).base());
    }
}

// A cached picture fitted for another surface than the window's now (the window was
// resized or maximised since), or cache_.end().
std::vector<PreparedPicture>::iterator Prefetcher::staleFit() {
    // The picture the window waits for goes as it is: it fits it itself sooner than a worker
    // would fit it again.
    return std::find_if(cache_.begin(), cache_.end(), [&](const PreparedPicture& p) {
        return (p.fitWidth != surfaceWidth_ || p.fitHeight != surfaceHeight_) && p.file != awaited_;
    });
}

void Prefetcher::run(size_t index) {
    const bool first = index == 0;
    // The others yield the cores to the window's threads and the first worker.
    if (!first)
        lowerThisThreadsPriority();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] {
            if (stop_)
                return true;
            if (!first && !firstWorkerBusy())
                return false;
            return staleFit() != cache_.end() || awaitedQueued() ||
                   (!queue_.empty() && (roomForAnother() || decoding_.empty()));
        });
        if (stop_)
            return;
        // Refitting a cached picture is cheap next to a decode, and makes it ready at once.
        if (const auto stale = staleFit(); stale != cache_.end()) {
            PreparedPicture prepared = std::move(*stale);
            cache_.erase(stale);
            work(std::move(prepared), lock, first);
            continue;
        }
        // With nothing under way there is nothing to wait for: no room now means none later,
        // for the pictures ahead.
        if (!roomForAnother() && !awaitedQueued()) {
            queue_.clear();
            idle_.notify_all();
            continue;
        }
        PreparedPicture fresh;
        fresh.file = queue_.front();
        queue_.pop_front();
        work(std::move(fresh), lock, first);
    }
}

// Decodes prepared's file when it has no picture yet, then fits it to the window's surface,
// with the lock released meanwhile; a take of the same file waits for it.
void Prefetcher::work(PreparedPicture&& prepared, std::unique_lock<std::mutex>& lock,
                      bool firstWorker) {
    const bool ahead = prepared.file != awaited_;
    const auto self =
        decoding_.insert(decoding_.end(), InFlight{prepared.file, firstWorker, ahead, true, {}});
    if (firstWorker)
        wake_.notify_all();  // the second worker may take what is left
    const std::filesystem::path file = prepared.file;
    const int32_t width = surfaceWidth_;
    const int32_t height = surfaceHeight_;
    // Asked for after the file is read, so a decode may start before the screen is known.
    const FitAreaSource area = [this, width, height](
                                   int32_t pictureWidth,
                                   int32_t pictureHeight) -> std::optional<FitArea> {
        if (width > 0 && height > 0)
            return FitArea{width, height};
        std::unique_lock areaLock(mutex_);
        // A picture no screen would reduce is decoded whole at once, while the application
        // that finds the screens is still starting: its area is then the picture's own.
        if (screenAreaPending_ && pictureWidth > 0 && pictureHeight > 0 &&
            levelFor(pictureWidth, pictureHeight, kSmallestScreen) == 0)
            return FitArea{pictureWidth, pictureHeight};
        areaKnown_.wait(areaLock, [&] { return stop_ || !screenAreaPending_; });
        return stop_ ? std::nullopt : std::optional<FitArea>(screenArea_);
    };
    const std::stop_token stop = self->stop.get_token();
    lock.unlock();
    // A picture reduced for a smaller surface is decoded again for this one.
    if (prepared.picture.empty() || !servesFit(prepared.picture, width, height)) {
        const PictureBudgetScope budget(ahead ? capBytes_ : SIZE_MAX);
        markStage(ahead ? "decode ahead" : "decode");
        prepared = prepare_(file, area, stop);
        markStage(ahead ? "decoded ahead" : "decoded");
    }
    if (!stop.stop_requested())
        prepareFit(prepared, width, height);
    lock.lock();
    if (prepared.status == DecodeStatus::Ok)
        lastBytes_ = prepared.bytes();
    const bool keepIt = self->wanted && !stop_;
    if (keepIt)
        keep(std::move(prepared), ahead);
    else
        qCDebug(lcPrefetch) << "no longer wanted:" << file.c_str();
    decoding_.erase(self);
    idle_.notify_all();
    // Room may have come free for work the other worker left waiting.
    wake_.notify_all();
    if (keepIt) {
        lock.unlock();
        {
            std::lock_guard callbackLock(callbackMutex_);
            if (onDecoded_)
                onDecoded_(file);
        }
        lock.lock();
    }
}
