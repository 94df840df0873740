#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

// The resampled picture of the last render, so that a redraw at the same geometry (a window
// move, a background toggle, a repaint) only composites. It holds the visible part of the
// destination exactly as the resampler made it, alpha included, so on the alpha path a new
// background re-blends without resampling. A render uses it only when every input of the
// resample matches the key; the render empties it on every decode and turn as well.
struct ResampledCache {
    struct Key {
        int64_t pictureKey = 0;  // QImage::cacheKey(): changes with any write to the pixels
        PixelRect destination;
        int32_t surfaceWidth = 0;
        int32_t surfaceHeight = 0;
        bool alphaPath = false;
        int32_t alphaPremultiplied = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };
    bool valid = false;
    Key key;
    PixelRect visible;             // where pixels lands on the surface
    std::vector<uint32_t> pixels;  // visible.width x visible.height, row after row
    // An opaque picture off the alpha path is resampled straight onto the surface, which then
    // holds it instead of pixels (left empty): valid while the surface's QImage::cacheKey()
    // is still surfaceKey, that is while nothing else has written to it since.
    bool inSurface = false;
    int64_t surfaceKey = 0;

    void invalidate() { valid = false; }
};

// Whether the picture of file is drawn blended over the background: a plain case-sensitive
// search of the whole path, folders included, for ".png", ".PNG", ".gif" or ".GIF".
bool usesAlphaPath(const std::filesystem::path& file);

// What a resample depends on; a cached resample whose key matches is the one to draw.
ResampledCache::Key resampleKey(const Image& picture, const PixelRect& dest, int32_t surfaceWidth,
                                int32_t surfaceHeight, bool alphaPath, int32_t alphaPremultiplied);
