#include "render/source/detail_tiles.h"

#include <algorithm>

#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/decode/render_log.h"
#include "render/pixels/pixel_ops.h"
#include "render/pixels/resample.h"

namespace {

constexpr size_t kMiB = size_t{1} << 20;

int32_t rotationOfTurns(int32_t turns) {
    static constexpr int32_t kRotations[4] = {0, 1, 3, 2};  // none, right, half, left
    return kRotations[turns & 3];
}

bool contains(const PixelRect& outer, const PixelRect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           int64_t{inner.x} + inner.width <= int64_t{outer.x} + outer.width &&
           int64_t{inner.y} + inner.height <= int64_t{outer.y} + outer.height;
}

bool intersects(const PixelRect& a, const PixelRect& b) {
    return a.x < int64_t{b.x} + b.width && b.x < int64_t{a.x} + a.width &&
           a.y < int64_t{b.y} + b.height && b.y < int64_t{a.y} + a.height;
}

size_t pixelBytes(int64_t width, int64_t height) {
    return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
}

// The tiles of the level that hold rect, as a tile-aligned rectangle clipped to the level.
PixelRect tileAligned(const PixelRect& rect, int32_t levelWidth, int32_t levelHeight) {
    constexpr int32_t t = DetailTiles::kTileSize;
    const int32_t x0 = rect.x / t * t;
    const int32_t y0 = rect.y / t * t;
    const int32_t x1 = std::min(levelWidth, (rect.x + rect.width + t - 1) / t * t);
    const int32_t y1 = std::min(levelHeight, (rect.y + rect.height + t - 1) / t * t);
    return {x0, y0, x1 - x0, y1 - y0};
}

void copyRect(const Image& from, const PixelRect& fromRect, Image& to, int32_t toX, int32_t toY) {
    for (int32_t y = 0; y < fromRect.height; ++y) {
        const auto* src = reinterpret_cast<const uint32_t*>(from.row(fromRect.y + y)) + fromRect.x;
        std::copy_n(src, fromRect.width, reinterpret_cast<uint32_t*>(to.row(toY + y)) + toX);
    }
}

}  // namespace

PixelRect turnRect(const PixelRect& r, int32_t turns, int32_t levelWidth, int32_t levelHeight) {
    switch (turns & 3) {
        case 1:  // (x, y) goes to (H - 1 - y, x)
            return {levelHeight - r.y - r.height, r.x, r.height, r.width};
        case 2:
            return {levelWidth - r.x - r.width, levelHeight - r.y - r.height, r.width, r.height};
        case 3:  // (x, y) goes to (y, W - 1 - x)
            return {r.y, levelWidth - r.x - r.width, r.height, r.width};
        default:
            return r;
    }
}

PixelRect unturnRect(const PixelRect& r, int32_t turns, int32_t levelWidth, int32_t levelHeight) {
    // Turning back is turning on: the level as displayed has its sides exchanged when odd.
    const bool odd = (turns & 1) != 0;
    return turnRect(r, 4 - (turns & 3), odd ? levelHeight : levelWidth,
                    odd ? levelWidth : levelHeight);
}

size_t DetailTiles::defaultBudgetBytes() {
    return std::min(Image::maxPictureBytes() / 4, 512 * kMiB);
}

DetailTiles::DetailTiles(size_t budgetBytes)
    : budgetBytes_(budgetBytes), worker_([this](std::stop_token stop) { run(stop); }) {}

DetailTiles::~DetailTiles() {
    {
        std::lock_guard lock(mutex_);
        queued_.reset();
        runningStop_.request_stop();
    }
    worker_.request_stop();
    wake_.notify_all();
    worker_.join();
}

void DetailTiles::setOnArrived(std::function<void()> onArrived) {
    std::lock_guard lock(callbackMutex_);
    onArrived_ = std::move(onArrived);
}

bool DetailTiles::sameVersion(const std::filesystem::path& file, const FileVersion& stamp) const {
    return file_ == file && stamp_ == stamp;
}

void DetailTiles::forgetLocked() {
    tiles_.clear();
    tileBytes_ = 0;
    queued_.reset();
    runningStop_.request_stop();
    nativeLevels_.reset();
    failed_ = false;
    assembled_.destroy();
    assembledLevel_ = -1;
    ++generation_;
}

void DetailTiles::clear() {
    std::lock_guard lock(mutex_);
    forgetLocked();
    file_.clear();
    stamp_ = {};
}

void DetailTiles::waitIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return !queued_ && !running_; });
}

bool DetailTiles::unavailable(const DetailRequest& request) const {
    std::lock_guard lock(mutex_);
    return sameVersion(request.file, request.stamp) && failed_;
}

std::optional<DetailPiece> DetailTiles::piece(const DetailRequest& request) {
    std::lock_guard lock(mutex_);
    if (!sameVersion(request.file, request.stamp)) {
        forgetLocked();
        file_ = request.file;
        stamp_ = request.stamp;
    }
    if (failed_)
        return std::nullopt;
    // A level the file doesn't make by itself is taken from the finest one that it does.
    const int32_t level = std::clamp(request.level, 0, nativeLevels_.value_or(kMaxLevel));
    const int32_t levelWidth = levelExtent(request.fileWidth, level);
    const int32_t levelHeight = levelExtent(request.fileHeight, level);
    const bool odd = (request.turns & 1) != 0;
    DetailPiece piece;
    piece.levelWidth = odd ? levelHeight : levelWidth;
    piece.levelHeight = odd ? levelWidth : levelHeight;
    const PixelRect needed =
        sourceNeeded(piece.levelWidth, piece.levelHeight, request.dest, request.clip);
    if (needed.width <= 0 || levelWidth <= 0)
        return std::nullopt;
    piece.pixels = &assembled_;
    if (assembledGeneration_ == generation_ && assembledLevel_ == level &&
        assembledTurns_ == (request.turns & 3) && assembledPremultiplied_ == request.premultiply &&
        contains(assembledRect_, needed)) {
        piece.rect = assembledRect_;
        return piece;
    }
    const PixelRect fileNeeded = unturnRect(needed, request.turns, levelWidth, levelHeight);
    const PixelRect aligned = tileAligned(fileNeeded, levelWidth, levelHeight);
    std::vector<TileKey> keys;
    PixelRect missing{};
    for (int32_t y = aligned.y; y < aligned.y + aligned.height; y += kTileSize) {
        for (int32_t x = aligned.x; x < aligned.x + aligned.width; x += kTileSize) {
            const TileKey key{level, x / kTileSize, y / kTileSize};
            keys.push_back(key);
            if (tiles_.count(key) != 0)
                continue;
            const PixelRect tile{x, y, std::min(kTileSize, levelWidth - x),
                                 std::min(kTileSize, levelHeight - y)};
            if (missing.width == 0) {
                missing = tile;
            } else {
                const int32_t x1 = std::max(missing.x + missing.width, tile.x + tile.width);
                const int32_t y1 = std::max(missing.y + missing.height, tile.y + tile.height);
                missing.x = std::min(missing.x, tile.x);
                missing.y = std::min(missing.y, tile.y);
                missing.width = x1 - missing.x;
                missing.height = y1 - missing.y;
            }
        }
    }
    if (missing.width > 0) {
        const bool covered =
            running_ && running_->level == level && contains(running_->region, missing);
        if (!covered) {
            // The decode under way is of no use once the view has moved off it.
            if (running_ && (running_->level != level || !intersects(running_->region, aligned)))
                runningStop_.request_stop();
            queued_ = Job{request.file, request.stamp, level, missing};
            wake_.notify_all();
        }
        return std::nullopt;
    }
    Image scratch;
    bool alpha = false;
    for (const TileKey& key : keys)
        alpha = alpha || tiles_.at(key).pixels.hasAlpha();
    if (!scratch.create(aligned.width, aligned.height, alpha))
        return std::nullopt;
    for (const TileKey& key : keys) {
        Tile& tile = tiles_.at(key);
        tile.lastUse = ++useClock_;
        copyRect(tile.pixels, {0, 0, tile.pixels.width(), tile.pixels.height()}, scratch,
                 std::get<1>(key) * kTileSize - aligned.x,
                 std::get<2>(key) * kTileSize - aligned.y);
    }
    if ((request.turns & 3) != 0 && !turnPicture(scratch, rotationOfTurns(request.turns)))
        return std::nullopt;
    if (request.premultiply)
        premultiplyAlpha(scratch);
    assembled_.swap(scratch);
    assembledRect_ = turnRect(aligned, request.turns, levelWidth, levelHeight);
    assembledLevel_ = level;
    assembledTurns_ = request.turns & 3;
    assembledPremultiplied_ = request.premultiply;
    assembledGeneration_ = generation_;
    piece.rect = assembledRect_;
    return piece;
}

void DetailTiles::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop.stop_requested() || queued_.has_value(); });
        if (stop.stop_requested())
            return;
        running_ = std::move(queued_);
        queued_.reset();
        runningStop_ = std::stop_source();
        const std::stop_token jobStop = runningStop_.get_token();
        const Job job = *running_;
        lock.unlock();
        decode(job, jobStop);
        lock.lock();
        running_.reset();
        idle_.notify_all();
    }
}

void DetailTiles::decode(const Job& job, std::stop_token stop) {
    const auto fail = [&](const char* why) {
        qCDebug(lcRender) << "no detail:" << why << job.file.c_str();
        std::lock_guard lock(mutex_);
        if (sameVersion(job.file, job.stamp))
            failed_ = true;
    };
    FileBytes bytes;
    FileVersion version;
    PictureHeader header;
    if (readPictureFile(job.file, bytes, &version) != DecodeStatus::Ok || version != job.stamp)
        return fail("the file changed");
    if (readPictureHeader(bytes.span(), header) != DecodeStatus::Ok || !header.regions)
        return fail("no regions");
    {
        std::lock_guard lock(mutex_);
        nativeLevels_ = header.nativeLevels;
    }
    // Asked before the file's own levels were known: the finest one it makes serves.
    const int32_t level = std::min(job.level, header.nativeLevels);
    const int32_t levelWidth = levelExtent(header.width, level);
    const int32_t levelHeight = levelExtent(header.height, level);
    const int32_t finer = job.level - level;
    PixelRect region = tileAligned({job.region.x << finer, job.region.y << finer,
                                    job.region.width << finer, job.region.height << finer},
                                   levelWidth, levelHeight);
    Image pixels;
    DecodeStatus status;
    if (header.sequential && pixelBytes(levelWidth, levelHeight) <= budgetBytes_ / 2) {
        region = {0, 0, levelWidth, levelHeight};
        status = decodePictureLevel(bytes.span(), level, pixels, stop);
    } else {
        status = decodePictureRegion(bytes.span(), level, region, pixels, stop);
    }
    if (status == DecodeStatus::Cancelled)
        return;
    if (status != DecodeStatus::Ok || pixels.width() != region.width ||
        pixels.height() != region.height)
        return fail("the decode failed");
    store(job, level, pixels, region);
    std::lock_guard callbackLock(callbackMutex_);
    if (onArrived_)
        onArrived_();
}

void DetailTiles::store(const Job& job, int32_t level, const Image& pixels,
                        const PixelRect& region) {
    std::lock_guard lock(mutex_);
    if (!sameVersion(job.file, job.stamp))
        return;
    std::vector<TileKey> stored;
    for (int32_t y = 0; y < region.height; y += kTileSize) {
        for (int32_t x = 0; x < region.width; x += kTileSize) {
            const TileKey key{level, (region.x + x) / kTileSize, (region.y + y) / kTileSize};
            const PixelRect part{x, y, std::min(kTileSize, region.width - x),
                                 std::min(kTileSize, region.height - y)};
            Tile tile;
            if (!tile.pixels.create(part.width, part.height, pixels.hasAlpha()))
                continue;
            copyRect(pixels, part, tile.pixels, 0, 0);
            tile.lastUse = ++useClock_;
            if (auto at = tiles_.find(key); at != tiles_.end())
                tileBytes_ -= pixelBytes(at->second.pixels.width(), at->second.pixels.height());
            tileBytes_ += pixelBytes(part.width, part.height);
            tiles_[key] = std::move(tile);
            stored.push_back(key);
        }
    }
    ++generation_;
    evict(stored);
}

// Gives up the tiles used longest ago until the budget holds, never those just stored.
void DetailTiles::evict(const std::vector<TileKey>& keep) {
    while (tileBytes_ > budgetBytes_) {
        auto oldest = tiles_.end();
        for (auto at = tiles_.begin(); at != tiles_.end(); ++at) {
            if (std::find(keep.begin(), keep.end(), at->first) != keep.end())
                continue;
            if (oldest == tiles_.end() || at->second.lastUse < oldest->second.lastUse)
                oldest = at;
        }
        if (oldest == tiles_.end())
            return;
        tileBytes_ -= pixelBytes(oldest->second.pixels.width(), oldest->second.pixels.height());
        tiles_.erase(oldest);
    }
}
