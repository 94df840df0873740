#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

#include "platform/regular_file.h"
#include "render/decode/decoder.h"
#include "render/exif/exif_reader.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"
#include "render/pixels/resampled_cache.h"

// A picture decoded ahead of its render, with everything the render's own decode would have
// produced: the pixels (straight alpha), the EXIF record and the turn it asks for.
struct PreparedPicture {
    std::filesystem::path file;
    FileVersion stamp;  // taken before the file was read
    DecodeStatus status = DecodeStatus::Failed;
    Image picture;  // already turned by exifTurn when turned is set
    ExifInfo exifInfo{};
    int32_t exifTurn = 0;  // the rotation code of the EXIF orientation
    bool turned = false;
    // The fitted resample for a surface size, made ahead when the render would make exactly
    // this one; the render's own cache check decides whether it is used.
    ResampledCache resampled;
    int32_t fitWidth = 0;  // the surface prepareFit last worked for
    int32_t fitHeight = 0;

    size_t bytes() const {
        return static_cast<size_t>(picture.pitch()) * static_cast<size_t>(picture.height()) +
               resampled.pixels.size() * sizeof(uint32_t);
    }
};

// Decodes file and reads its EXIF turn, as the render's reload does, and applies the turn to
// the pixels when it can and turn is set (turned tells). status is not Ok, with the picture
// empty, when the file is missing, changes type or doesn't decode, or stop was requested
// (Cancelled). Safe on any thread: it touches no shared state.
// A picture much larger than area comes out reduced for it (see FitArea).
PreparedPicture preparePicture(const std::filesystem::path& file, FitArea area = {});
// The same, with the area asked for only when the decode needs it (see FitAreaSource).
PreparedPicture preparePicture(const std::filesystem::path& file, const FitAreaSource& area,
                               std::stop_token stop = {}, bool turn = true);

// The picture of file as the viewer shows it after a reload: turned by its EXIF orientation,
// straight alpha, the deepest level that still holds area (so a huge picture prints from a
// level of it). Null when it doesn't decode.
QImage uprightPicture(const std::filesystem::path& file, FitArea area);

// Whether picture can be drawn into dest without enlarging its pixels: always at full scale;
// a reduced one while dest is no larger than it. servesFit asks it of the surface's fit.
bool holdsDestination(const Image& picture, const PixelRect& dest);
bool servesFit(const Image& picture, int32_t surfaceWidth, int32_t surfaceHeight);

// Adds the resample the first render of the prepared picture makes on a surface of
// surfaceWidth x surfaceHeight device pixels (fitted, zoom 1). Left out when the render
// would premultiply first (alpha on the alpha path), for an empty surface or without memory.
void prepareFit(PreparedPicture& prepared, int32_t surfaceWidth, int32_t surfaceHeight);
