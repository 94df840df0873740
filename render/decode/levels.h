#pragma once

#include <cstdint>

// A picture's levels: level L is the picture reduced by 2^L along each axis, so it is
// ceil(width / 2^L) x ceil(height / 2^L) pixels. Level 0 is the picture at full scale.
// Decoders make a level the fastest way the format allows (a JPEG's DCT scaling, a JPEG
// 2000's resolution levels) and reduce the rows as they arrive beyond that.
inline constexpr int32_t kMaxLevel = 16;

// ceil(full / 2^level); 0 for a non-positive full size.
constexpr int32_t levelExtent(int32_t full, int32_t level) {
    if (full <= 0)
        return 0;
    return static_cast<int32_t>((int64_t{full} + (int64_t{1} << level) - 1) >> level);
}

// What a picture's header says, read without decoding any pixels.
struct PictureHeader {
    int32_t width = 0;  // at full scale
    int32_t height = 0;
    // The deepest level the format makes by itself: 3 for a JPEG (1/8 by DCT scaling), the
    // number of resolution levels less one for a JPEG 2000, 0 for the other formats.
    int32_t nativeLevels = 0;
    // Whether a part of a level can be decoded without decoding the rest of it.
    bool regions = false;
    // Whether a region costs the decoding of everything before it in the file (a JPEG without
    // an index), which makes a whole level little dearer than one region of it.
    bool sequential = false;
};
