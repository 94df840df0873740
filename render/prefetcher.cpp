#include "render/prefetcher.h"

#include <QLoggingCategory>

#include <algorithm>
#include <system_error>

namespace {

Q_LOGGING_CATEGORY(lcPrefetch, "quillmere.render.prefetch")

constexpr size_t kMiB = size_t{1} << 20;

}  // namespace

Prefetcher::Prefetcher(size_t capBytes) : capBytes_(capBytes) {
    try {
        worker_ = std::thread(&Prefetcher::run, this);
        reaper_ = std::thread(&Prefetcher::reap, this);
    } catch (const std::system_error&) {
        // Without a worker nothing queued is ever done: every take finds nothing and the
        // caller decodes, as it would without a prefetcher; pictures are freed in place.
        qCDebug(lcPrefetch) << "no worker thread; prefetching is off";
    }
}

Prefetcher::~Prefetcher() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
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

size_t Prefetcher::cachedBytes() const {
    size_t total = 0;
    for (const PreparedPicture& prepared : cache_)
        total += prepared.bytes();
    return total;
}

// The next picture is guessed to be as large as the last one: a decode that could not be
// kept would only have raised the peak of memory for nothing.
bool Prefetcher::roomForAnother() const {
    return cache_.size() < kMaxPictures &&
           (cache_.empty() || cachedBytes() + lastBytes_ <= capBytes_);
}

void Prefetcher::request(std::vector<std::filesystem::path> files, int32_t surfaceWidth,
                         int32_t surfaceHeight) {
    if (files.size() > kMaxPictures)
        files.resize(kMaxPictures);
    {
        std::lock_guard lock(mutex_);
        wanted_ = std::move(files);
        surfaceWidth_ = surfaceWidth;
        surfaceHeight_ = surfaceHeight;
        std::erase_if(cache_, [&](const PreparedPicture& p) { return !wanted(p.file); });
        if (decoding_ && !wanted(*decoding_))
            decodingWanted_ = false;
        queue_.clear();
        if (!worker_.joinable())
            return;
        for (const std::filesystem::path& file : wanted_) {
            const bool cached =
                std::any_of(cache_.begin(), cache_.end(),
                            [&](const PreparedPicture& p) { return p.file == file; });
            if (!cached && !(decoding_ && decodingWanted_ && *decoding_ == file))
                queue_.push_back(file);
        }
    }
    wake_.notify_one();
}

void Prefetcher::setScreenArea(FitArea area) {
    std::lock_guard lock(mutex_);
    screenArea_ = area;
}

std::optional<PreparedPicture> Prefetcher::take(const std::filesystem::path& file) {
    std::optional<PreparedPicture> found;
    {
        std::unique_lock lock(mutex_);
        // Waiting for a decode already half done beats starting the same one again.
        idle_.wait(lock, [&] { return !(decoding_ && decodingWanted_ && *decoding_ == file); });
        std::erase(queue_, file);
        const auto at = std::find_if(cache_.begin(), cache_.end(),
                                     [&](const PreparedPicture& p) { return p.file == file; });
        if (at == cache_.end())
            return std::nullopt;
        found = std::move(*at);
        cache_.erase(at);
    }
    // A file written since it was read must be decoded afresh.
    const std::optional<FileStamp> now = fileStampOf(file);
    if (!now || !(*now == found->stamp)) {
        qCDebug(lcPrefetch) << "changed since prefetched:" << file.c_str();
        return std::nullopt;
    }
    return found;
}

void Prefetcher::forget(const std::filesystem::path& file) {
    std::lock_guard lock(mutex_);
    std::erase(wanted_, file);
    std::erase(queue_, file);
    std::erase_if(cache_, [&](const PreparedPicture& p) { return p.file == file; });
    if (decoding_ && *decoding_ == file)
        decodingWanted_ = false;
}

void Prefetcher::clear() {
    std::lock_guard lock(mutex_);
    wanted_.clear();
    queue_.clear();
    cache_.clear();
    decodingWanted_ = false;
}

void Prefetcher::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] {
        return !decoding_ &&
               ((queue_.empty() && staleFit() == cache_.end()) || !worker_.joinable());
    });
}

size_t Prefetcher::cachedCount() const {
    std::lock_guard lock(mutex_);
    return cache_.size();
}

void Prefetcher::keep(PreparedPicture&& prepared) {
    if (prepared.status != DecodeStatus::Ok || prepared.bytes() > capBytes_)
        return;
    // The cache stays under its cap by giving up the least wanted picture.
    cache_.push_back(std::move(prepared));
    std::sort(cache_.begin(), cache_.end(),
              [&](const PreparedPicture& a, const PreparedPicture& b) {
                  return std::find(wanted_.begin(), wanted_.end(), a.file) <
                         std::find(wanted_.begin(), wanted_.end(), b.file);
              });
    while (cache_.size() > kMaxPictures || cachedBytes() > capBytes_)
        cache_.pop_back();
}

// A cached picture fitted for another surface than the window's now (the window was
// resized or maximised since), or cache_.end().
std::vector<PreparedPicture>::iterator Prefetcher::staleFit() {
    return std::find_if(cache_.begin(), cache_.end(), [&](const PreparedPicture& p) {
        return p.fitWidth != surfaceWidth_ || p.fitHeight != surfaceHeight_;
    });
}

void Prefetcher::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || !queue_.empty() || staleFit() != cache_.end(); });
        if (stop_)
            return;
        // Refitting a cached picture is cheap next to a decode, and makes it ready at once.
        if (const auto stale = staleFit(); stale != cache_.end()) {
            PreparedPicture prepared = std::move(*stale);
            cache_.erase(stale);
            work(std::move(prepared), lock);
            continue;
        }
        if (!roomForAnother()) {
            queue_.clear();
            idle_.notify_all();
            continue;
        }
        PreparedPicture fresh;
        fresh.file = queue_.front();
        queue_.pop_front();
        work(std::move(fresh), lock);
    }
}

// Decodes prepared's file when it has no picture yet, then fits it to the window's surface,
// with the lock released meanwhile; a take of the same file waits for it.
void Prefetcher::work(PreparedPicture&& prepared, std::unique_lock<std::mutex>& lock) {
    decoding_ = prepared.file;
    decodingWanted_ = true;
    const std::filesystem::path file = prepared.file;
    const int32_t width = surfaceWidth_;
    const int32_t height = surfaceHeight_;
    const FitArea area = width > 0 && height > 0 ? FitArea{width, height} : screenArea_;
    lock.unlock();
    // A picture reduced for a smaller surface is decoded again for this one.
    if (prepared.picture.empty() || !servesFit(prepared.picture, width, height))
        prepared = preparePicture(file, area);
    prepareFit(prepared, width, height);
    lock.lock();
    if (prepared.status == DecodeStatus::Ok)
        lastBytes_ = prepared.bytes();
    if (decodingWanted_ && !stop_)
        keep(std::move(prepared));
    else
        qCDebug(lcPrefetch) << "no longer wanted:" << prepared.file.c_str();
    decoding_.reset();
    decodingWanted_ = false;
    idle_.notify_all();
}
