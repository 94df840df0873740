#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <tuple>

#include "platform/regular_file.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

// What a zoomed render needs sharper than the picture it holds: the part of the whole picture
// that lands on clip when the picture is drawn into dest (surface pixels, display
// orientation), from level `level` or a finer one.
struct DetailRequest {
    std::filesystem::path file;
    FileVersion stamp;      // the version of the file the picture was decoded from
    int32_t turns = 0;      // quarter turns clockwise from the file to the display
    int32_t fileWidth = 0;  // the picture at full scale, as stored in the file
    int32_t fileHeight = 0;
    int32_t level = 0;  // the deepest level that holds dest
    PixelRect dest;
    PixelRect clip;
    bool premultiply = false;  // give the pixels premultiplied (the alpha path)
};

// Pixels of a level of the picture, turned to the display: pixels holds the part rect of a
// picture of levelWidth x levelHeight (see resamplePiece).
struct DetailPiece {
    const Image* pixels = nullptr;
    PixelRect rect;
    int32_t levelWidth = 0;
    int32_t levelHeight = 0;
};

// Full-resolution (or finer than shown) pixels of the current picture, decoded as tiles of a
// level on a worker thread of its own and kept under a memory budget, in the file's own
// orientation, so that turns never decode again. A JPEG whose whole level fits the budget
// well is decoded whole at once (its rows above a region cost as much as the region); other
// pictures by region (JPEG 2000's decode area, JPEG's cropped and skipped scanlines). Only the
// pictures of one file version are kept: a request for another drops them.
class DetailTiles {
  public:
    explicit DetailTiles(size_t budgetBytes = defaultBudgetBytes());
    ~DetailTiles();  // stops the decode under way
    DetailTiles(const DetailTiles&) = delete;
    DetailTiles& operator=(const DetailTiles&) = delete;

    // The pixels request needs, when every tile of them is decoded; valid until the next
    // call. Otherwise nothing, and the missing tiles are decoded (onArrived follows).
    std::optional<DetailPiece> piece(const DetailRequest& request);

    // Called on the worker's thread when tiles have arrived. Replacing it waits for a call
    // under way to return.
    void setOnArrived(std::function<void()> onArrived);
    // Drops every tile and the decode under way (a new picture is shown).
    void clear();
    // Blocks until no decode is under way or queued (tests, benchmarks).
    void waitIdle();

    // Whether the level can't be decoded (a format without regions, a broken file): the
    // render then draws what it has.
    bool unavailable(const DetailRequest& request) const;

    // A quarter of the largest picture the viewer holds, at most 512 MiB.
    static size_t defaultBudgetBytes();
    static constexpr int32_t kTileSize = 512;

  private:
    using TileKey = std::tuple<int32_t, int32_t, int32_t>;  // level, column, row
    struct Tile {
        Image pixels;
        uint64_t lastUse = 0;
    };
    struct Job {
        std::filesystem::path file;
        FileVersion stamp;
        int32_t level = 0;
        PixelRect region;  // file orientation, in the level's pixels, tile-aligned
    };

    void run(std::stop_token stop);
    void decode(const Job& job, std::stop_token stop);
    void store(const Job& job, int32_t level, const Image& pixels, const PixelRect& region);
    void evict(const std::vector<TileKey>& keep);
    bool sameVersion(const std::filesystem::path& file, const FileVersion& stamp) const;
    void forgetLocked();

    const size_t budgetBytes_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::filesystem::path file_;
    FileVersion stamp_;
    std::optional<int32_t> nativeLevels_;  // learnt from the header by the first decode
    bool failed_ = false;                  // the file has no regions or doesn't decode
    std::map<TileKey, Tile> tiles_;
    size_t tileBytes_ = 0;
    uint64_t useClock_ = 0;
    std::optional<Job> queued_;
    std::optional<Job> running_;
    std::stop_source runningStop_;

    // The last piece handed out, kept while it still serves.
    Image assembled_;
    PixelRect assembledRect_;
    int32_t assembledLevel_ = -1;
    int32_t assembledTurns_ = -1;
    bool assembledPremultiplied_ = false;
    uint64_t assembledGeneration_ = 0;
    uint64_t generation_ = 0;  // changes with every tile stored or dropped

    std::mutex callbackMutex_;
    std::function<void()> onArrived_;
    std::jthread worker_;
};

// Rectangles of a level turned with the picture: from the file's orientation to the display
// after turns quarter turns clockwise, and back. levelWidth x levelHeight is the level in the
// file's orientation.
PixelRect turnRect(const PixelRect& rect, int32_t turns, int32_t levelWidth, int32_t levelHeight);
PixelRect unturnRect(const PixelRect& rect, int32_t turns, int32_t levelWidth, int32_t levelHeight);
