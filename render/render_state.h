#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/regular_file.h"
#include "render/background.h"
#include "render/exif/exif_reader.h"
#include "render/geometry/fit_geometry.h"
#include "render/geometry/zoom.h"
#include "render/pixels/image.h"
#include "render/pixels/resampled_cache.h"

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
struct RenderState {
    ZoomState zoom;
    Image currentPicture;
    int32_t loadFailed = 0;
    int32_t alphaPremultiplied = 0;
    ExifInfo exifInfo{};
    // The one record of the background's level; the surface asks it for its fill.
    int32_t backgroundLevel = kBackgroundGrey;
    ResampledCache resampled;
    // A picture decoded reduced (Image::reduced()) is sharpened by tiles of the same version
    // of the file (its stamp when it was decoded), turned as often as it was since (quarter
    // turns clockwise, the EXIF turn included).
    FileVersion pictureStamp;
    int32_t pictureTurns = 0;
    PendingReload pending;
};
