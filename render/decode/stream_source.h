#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>

#include "platform/page_warmer.h"
#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/decode/row_reducer.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

// What the streamed formats share: the level they write rows into, the interface each of them
// implements, and the pixel helpers more than one of them needs.
namespace stream_detail {

// Rows converted between two looks at the stop token.
inline constexpr int32_t kBatchRows = 16;

// The part of a level being made from rows that arrive top to bottom. A part's edges fall on
// the level's box blocks, so reducing only the picture's rows and columns under it gives
// exactly the same part of the whole level.
class LevelWriter {
  public:
    // Clips part (in the level's pixels; none: the whole level, marked with the picture's size)
    // to the level of a width x height picture and creates it: Failed when nothing is left,
    // OutOfMemory when it is too large.
    DecodeStatus start(int32_t width, int32_t height, int32_t level, const PixelRect* part,
                       bool alpha) {
        const int32_t levelWidth = levelExtent(width, level);
        const int32_t levelHeight = levelExtent(height, level);
        const PixelRect clipped =
            part ? clip(*part, levelWidth, levelHeight) : PixelRect{0, 0, levelWidth, levelHeight};
        if (clipped.width == 0 || clipped.height == 0)
            return DecodeStatus::Failed;
        const uint64_t bytes = uint64_t{static_cast<uint32_t>(clipped.width)} *
                               static_cast<uint32_t>(clipped.height) * 4;
        if (bytes > Image::maxPictureBytes() ||
            !image_.create(clipped.width, clipped.height, alpha))
            return DecodeStatus::OutOfMemory;
        if (!part)
            image_.setFullSize(width, height);
        left_ = clipped.x << level;
        top_ = clipped.y << level;
        right_ = static_cast<int32_t>(
            std::min(int64_t{clipped.x + clipped.width} << level, int64_t{width}));
        bottom_ = static_cast<int32_t>(
            std::min(int64_t{clipped.y + clipped.height} << level, int64_t{height}));
        reducer_.emplace(image_, right_ - left_, bottom_ - top_, level);
        warmer_.emplace(image_.row(0), static_cast<size_t>(image_.pitch()) * clipped.height);
        return DecodeStatus::Ok;
    }

    // The picture's rows [top, bottom) and columns [left, right) the part covers.
    int32_t top() const { return top_; }
    int32_t bottom() const { return bottom_; }
    int32_t left() const { return left_; }
    int32_t right() const { return right_; }
    int32_t columns() const { return right_ - left_; }

    // The next row from top() on, its pixels from left() to right() alone.
    void add(const uint32_t* row) { reducer_->addRow(row); }
    void finish(Image& out) {
        warmer_.reset();
        out.swap(image_);
    }

  private:
    static PixelRect clip(const PixelRect& part, int32_t levelWidth, int32_t levelHeight) {
        const int32_t x = std::clamp(part.x, 0, levelWidth);
        const int32_t y = std::clamp(part.y, 0, levelHeight);
        const auto right =
            std::clamp(int64_t{part.x} + std::max(part.width, 0), int64_t{x}, int64_t{levelWidth});
        const auto bottom = std::clamp(int64_t{part.y} + std::max(part.height, 0), int64_t{y},
                                       int64_t{levelHeight});
        return {x, y, static_cast<int32_t>(right - x), static_cast<int32_t>(bottom - y)};
    }

    Image image_;
    int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    std::optional<RowReducer> reducer_;
    std::optional<PageWarmer> warmer_;  // declared last: it ends before the pixels go
};

// A format read as a stream. open() reads the header and tells whether the picture is
// streamed; read() then sends the writer the rows and columns it wants, top to bottom.
class StreamSource {
  public:
    virtual ~StreamSource() = default;
    // nullopt for a kind not streamed, Failed for a damaged header, Ok with the size known.
    virtual std::optional<DecodeStatus> open(std::span<const uint8_t> data) = 0;
    virtual DecodeStatus read(LevelWriter& writer, const std::stop_token& stop) = 0;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool alpha() const { return alpha_; }

  protected:
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool alpha_ = false;
};

inline uint32_t argb(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
    return alpha << 24 | red << 16 | green << 8 | blue;
}

// 16-bit samples to 8 bits as Qt narrows its 16-bit formats: x / 257 rounded.
inline uint32_t narrow(uint32_t sample) {
    return (sample + 128) / 257;
}

}  // namespace stream_detail
