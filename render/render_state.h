#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "render/exif_reader.h"
#include "render/file_stamp.h"
#include "render/fit_geometry.h"
#include "render/image.h"
#include "render/zoom.h"

// Rotation requests of renderPicture.
enum RotationCode : int32_t {
    kRotateNone = 0,
    kRotateRight = 1,  // a quarter turn clockwise
    kRotateLeft = 2,   // a quarter turn counter-clockwise
    kRotateHalf = 3,   // a half turn (comes only from the EXIF orientation)
};

// Background grey levels: light grey and black are the only two that occur.
inline constexpr int32_t kBackgroundGrey = 250;
inline constexpr int32_t kBackgroundBlack = 0;

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

// A reload whose picture is still being decoded on a worker. Until it arrives the state holds
// no picture and draws nothing; what the reload does to the zoom (an EXIF turn puts the factor
// back to 1.0, a failed decode leaves later turns without effect) is settled when it arrives,
// by applying the zoom steps taken meanwhile again to the zoom the reload began with.
struct PendingReload {
    bool active = false;
    std::filesystem::path file;
    ZoomState zoomBefore;
    std::vector<ZoomStep> zoomSteps;
    // Quarter turns clockwise asked for meanwhile; applied to the picture when it arrives.
    int32_t turns = 0;
    // Enough drag steps to give up replaying exactly: the zoom then stays as it is.
    static constexpr size_t kMaxSteps = 4096;
};

// The part of the viewer state the render pipeline reads and writes.
struct RenderState : ZoomState {
    Image currentPicture;
    int32_t loadFailed = 0;
    int32_t alphaPremultiplied = 0;
    ExifInfo exifInfo{};
    int32_t backgroundLevel = kBackgroundGrey;
    ResampledCache resampled;
    // A picture decoded reduced (Image::reduced()) is decoded again at full scale before a
    // zoom shows it: from the same version of the file (its stamp when it was decoded),
    // turned as often as it was since (quarter turns clockwise, the EXIF turn included).
    FileStamp pictureStamp;
    int32_t pictureTurns = 0;
    bool fullScaleUnavailable = false;  // tried and failed: drawn from the reduced pixels
    PendingReload pending;
};
