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
        for (size_t i = 0; i <= kWorkers; ++i)
            workers_.emplace_back(&Prefetcher::run, this, i);
    } catch (const std::system_error&) {
        // Without a worker nothing queued is ever done and no picture comes; without the
        // reaper pictures are freed in place. With one worker, the pictures decode one after
        // the other and it checks files' versions too.
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

std::vector<Prefetcher::Held>::iterator Prefetcher::heldOf(const std::filesystem::path& file) {
    return std::find_if(held_.begin(), held_.end(),
                        [&](const Held& h) { return h.prepared.file == file; });
}

bool Prefetcher::decodingWanted(const std::filesystem::path& file) const {
    return std::any_of(decoding_.begin(), decoding_.end(),
                       [&](const InFlight& d) { return d.wanted && d.file == file; });
}

// Carries out the policy's plan for what is held and under way now: called under the lock
// after every change.
void Prefetcher::replan() {
    PrefetchState state;
    state.wanted = wanted_;
    state.awaited = awaited_;
    state.capBytes = capBytes_;
    state.lastBytes = lastBytes_;
    state.maxPictures = kMaxPictures;
    state.deferred = deferred_;
    for (const Held& h : held_) {
        const PreparedPicture& p = h.prepared;
        const bool failed = p.status != DecodeStatus::Ok;
        state.held.push_back(
            {p.file, p.bytes(), failed,
             !failed && (p.fitWidth != surfaceWidth_ || p.fitHeight != surfaceHeight_),
             h.checkedSerial >= awaitedSerial_, h.checking});
    }
    for (const InFlight& d : decoding_) {
        if (d.wanted)
            state.decoding.push_back({d.file, d.ahead});
    }
    const PrefetchPlan plan = planPrefetch(state);
    for (const std::filesystem::path& file : plan.drop)
        std::erase_if(held_, [&](const Held& h) { return h.prepared.file == file; });
    deferred_.insert(deferred_.end(), plan.defer.begin(), plan.defer.end());
    for (InFlight& d : decoding_) {
        if (std::find(plan.stop.begin(), plan.stop.end(), d.file) != plan.stop.end())
            d.drop();
    }
    queue_.assign(plan.ask.begin(), plan.ask.end());
    if (!queue_.empty())
        wake_.notify_all();
    idle_.notify_all();
}

void Prefetcher::request(std::vector<std::filesystem::path> files, int32_t surfaceWidth,
                         int32_t surfaceHeight) {
    // A file wanted twice (a folder of one) is decoded once.
    for (auto at = files.begin(); at != files.end(); ++at)
        files.erase(std::remove(std::next(at), files.end(), *at), files.end());
    if (files.size() > kMaxPictures)
        files.resize(kMaxPictures);
    std::lock_guard lock(mutex_);
    wanted_ = std::move(files);
    surfaceWidth_ = surfaceWidth;
    surfaceHeight_ = surfaceHeight;
    std::erase_if(deferred_, [&](const std::filesystem::path& f) {
        return std::find(wanted_.begin(), wanted_.end(), f) == wanted_.end();
    });
    replan();
}

void Prefetcher::setSurface(int32_t surfaceWidth, int32_t surfaceHeight) {
    std::lock_guard lock(mutex_);
    surfaceWidth_ = surfaceWidth;
    surfaceHeight_ = surfaceHeight;
    replan();
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

void Prefetcher::await(const std::filesystem::path& file) {
    std::lock_guard lock(mutex_);
    if (file != awaited_) {
        awaited_ = file;
        // What was read before now is checked again before the window gets it.
        if (!file.empty())
            awaitedSerial_ = ++serial_;
    }
    replan();
}

std::optional<PreparedPicture> Prefetcher::takeResult(const std::filesystem::path& file) {
    std::lock_guard lock(mutex_);
    if (file.empty() || file != awaited_)
        return std::nullopt;
    const auto at = heldOf(file);
    if (at == held_.end() || at->checking || at->checkedSerial < awaitedSerial_)
        return std::nullopt;
    std::optional<PreparedPicture> found = std::move(at->prepared);
    held_.erase(at);
    // The window has it now: neither awaited nor wanted, so that it isn't decoded again.
    awaited_.clear();
    std::erase(wanted_, file);
    replan();
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
    return decodingWanted(file) ||
           std::any_of(queue_.begin(), queue_.end(),
                       [&](const PrefetchPlan::Job& job) { return job.file == file; }) ||
           std::any_of(held_.begin(), held_.end(),
                       [&](const Held& h) { return h.checking && h.prepared.file == file; });
}

void Prefetcher::setOnDecoded(std::function<void(const std::filesystem::path&)> onDecoded) {
    std::lock_guard lock(callbackMutex_);
    onDecoded_ = std::move(onDecoded);
}

void Prefetcher::forget(const std::filesystem::path& file) {
    std::lock_guard lock(mutex_);
    std::erase(wanted_, file);
    std::erase(deferred_, file);
    std::erase_if(held_, [&](const Held& h) { return h.prepared.file == file; });
    for (InFlight& d : decoding_) {
        if (d.file == file)
            d.drop();
    }
    replan();
}

void Prefetcher::clear() {
    std::lock_guard lock(mutex_);
    wanted_.clear();
    held_.clear();
    deferred_.clear();
    for (InFlight& d : decoding_)
        d.drop();
    replan();
}

void Prefetcher::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] {
        return workers_.empty() || (decoding_.empty() && checking_ == 0 && queue_.empty());
    });
}

size_t Prefetcher::aheadBytes() const {
    std::lock_guard lock(mutex_);
    size_t total = 0;
    for (const Held& h : held_) {
        if (h.prepared.file != awaited_)
            total += h.prepared.bytes();
    }
    return total;
}

size_t Prefetcher::cachedCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count_if(held_.begin(), held_.end(), [](const Held& h) {
        return h.prepared.status == DecodeStatus::Ok;
    }));
}

void Prefetcher::keep(Held&& held, bool ahead) {
    PreparedPicture& prepared = held.prepared;
    const bool overCap = prepared.status == DecodeStatus::OutOfMemory ||
                         (prepared.status == DecodeStatus::Ok && prepared.bytes() > capBytes_ &&
                          prepared.file != awaited_);
    if (ahead && overCap) {
        // Too large for the cap, not for the budget: decoded once the window waits for it.
        if (std::find(deferred_.begin(), deferred_.end(), prepared.file) == deferred_.end())
            deferred_.push_back(prepared.file);
        return;
    }
    if (prepared.status == DecodeStatus::Cancelled)
        return;
    // A failed one is kept too: the window learns so that the file doesn't decode again.
    if (prepared.status != DecodeStatus::Ok)
        prepared.picture.destroy();
    std::erase_if(held_, [&](const Held& h) { return h.prepared.file == prepared.file; });
    held_.push_back(std::move(held));
}

// The checker takes only checks; the first worker takes whatever comes first; the others
// only what the first leaves while it decodes.
std::deque<PrefetchPlan::Job>::iterator Prefetcher::nextJob(size_t index) {
    if (index == kWorkers)
        return std::find_if(queue_.begin(), queue_.end(), [](const PrefetchPlan::Job& job) {
            return job.work == PrefetchPlan::Work::Check;
        });
    if (index != 0 && !firstWorkerBusy_)
        return queue_.end();
    return queue_.begin();
}

void Prefetcher::run(size_t index) {
    const bool first = index == 0;
    // The other decoders yield the cores to the window's threads and the first worker.
    if (!first && index != kWorkers)
        lowerThisThreadsPriority();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || nextJob(index) != queue_.end(); });
        if (stop_)
            return;
        const auto at = nextJob(index);
        const PrefetchPlan::Job job = *at;
        queue_.erase(at);
        if (first) {
            firstWorkerBusy_ = true;
            wake_.notify_all();  // the second worker may take what is left
        }
        perform(job, lock);
        if (first)
            firstWorkerBusy_ = false;
    }
}

void Prefetcher::perform(const PrefetchPlan::Job& job, std::unique_lock<std::mutex>& lock) {
    if (job.work == PrefetchPlan::Work::Check) {
        check(job.file, lock);
        return;
    }
    Held held;
    if (job.work == PrefetchPlan::Work::Refit) {
        // Refitting a held picture is cheap next to a decode, and makes it ready at once.
        const auto stale = heldOf(job.file);
        if (stale == held_.end() || stale->checking) {
            replan();
            return;
        }
        held = std::move(*stale);
        held_.erase(stale);
    } else {
        held.prepared.file = job.file;
    }
    work(std::move(held), lock);
}

// Whether the awaited file, decoded before the window began to wait for it, is still the
// version it was read from; the window's thread never asks the file system itself.
void Prefetcher::check(const std::filesystem::path& file, std::unique_lock<std::mutex>& lock) {
    const auto at = heldOf(file);
    if (at == held_.end()) {
        replan();
        return;
    }
    at->checking = true;
    ++checking_;
    const uint64_t serial = serial_;
    const FileVersion stamp = at->prepared.stamp;
    const bool ok = at->prepared.status == DecodeStatus::Ok;
    lock.unlock();
    const std::optional<FileVersion> now = regularFileVersion(file);
    // A file written since it was read is decoded afresh, a failed one included.
    const bool same = now ? *now == stamp : !ok;
    lock.lock();
    --checking_;
    bool given = false;
    if (const auto again = heldOf(file); again != held_.end() && again->checking) {
        again->checking = false;
        if (same) {
            again->checkedSerial = serial;
            given = true;
        } else {
            qCDebug(lcPrefetch) << "changed since decoded:" << file.c_str();
            held_.erase(again);
        }
    }
    replan();
    if (given)
        notifyDecoded(file, lock);
}

void Prefetcher::notifyDecoded(const std::filesystem::path& file,
                               std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    {
        std::lock_guard callbackLock(callbackMutex_);
        if (onDecoded_)
            onDecoded_(file);
    }
    lock.lock();
}

// Decodes the held picture's file when it has no picture yet, then fits it to the window's
// surface, with the lock released meanwhile.
void Prefetcher::work(Held&& held, std::unique_lock<std::mutex>& lock) {
    PreparedPicture& prepared = held.prepared;
    const bool ahead = prepared.file != awaited_;
    const auto self = decoding_.insert(decoding_.end(), InFlight{prepared.file, ahead, true, {}});
    const std::filesystem::path file = prepared.file;
    const int32_t width = surfaceWidth_;
    const int32_t height = surfaceHeight_;
    const uint64_t serial = serial_;  // before the file is read
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
        held.checkedSerial = serial;
    }
    if (!stop.stop_requested())
        prepareFit(prepared, width, height);
    lock.lock();
    if (prepared.status == DecodeStatus::Ok)
        lastBytes_ = prepared.bytes();
    const bool keepIt = self->wanted && !stop_;
    if (keepIt)
        keep(std::move(held), ahead);
    else
        qCDebug(lcPrefetch) << "no longer wanted:" << file.c_str();
    decoding_.erase(self);
    // Room may have come free for work the other worker left waiting.
    replan();
    wake_.notify_all();
    if (keepIt)
        notifyDecoded(file, lock);
}
