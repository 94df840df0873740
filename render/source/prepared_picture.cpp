#include "render/source/prepared_picture.h"

#include <new>

#include "render/geometry/fit_geometry.h"
#include "render/pixels/pixel_ops.h"
#include "render/pixels/resample.h"
#include "render/pixels/resampled_cache.h"

PreparedPicture preparePicture(const std::filesystem::path& file, FitArea area) {
    return preparePicture(file, fixedArea(area));
}

PreparedPicture preparePicture(const std::filesystem::path& file, const FitAreaSource& area,
                               std::stop_token stop, bool turn) {
    PreparedPicture prepared;
    prepared.file = file;
    // One open: the version is the descriptor's, taken before reading (a write during the read
    // then shows as a changed version later), and the EXIF comes from the bytes decoded.
    FileBytes bytes;
    prepared.status = readPictureFile(file, bytes, &prepared.stamp);
    if (prepared.status == DecodeStatus::Ok)
        prepared.status = stop.stop_requested()
                              ? DecodeStatus::Cancelled
                              : decodePictureData(bytes.span(), prepared.picture, area, stop);
    if (prepared.status != DecodeStatus::Ok) {
        prepared.picture.destroy();
        return prepared;
    }
    prepared.exifTurn =
        rotationFromExif(readExifFromBytes(bytes.span(), prepared.exifInfo), prepared.exifInfo);
    if (turn && turnsPicture(prepared.exifTurn))
        prepared.turned = turnPicture(prepared.picture, prepared.exifTurn);
    return prepared;
}

QImage uprightPicture(const std::filesystem::path& file, FitArea area) {
    PreparedPicture prepared = preparePicture(file, fixedArea(area));
    if (prepared.status != DecodeStatus::Ok)
        return {};
    const bool turns = turnsPicture(prepared.exifTurn);
    if (turns && !prepared.turned && !turnPicture(prepared.picture, prepared.exifTurn))
        return {};
    return prepared.picture.qimage();
}

bool holdsDestination(const Image& picture, const PixelRect& dest) {
    return !picture.reduced() || (dest.width <= picture.width() && dest.height <= picture.height());
}

bool servesFit(const Image& picture, int32_t surfaceWidth, int32_t surfaceHeight) {
    const Fit fit =
        fitPicture(picture.fullWidth(), picture.fullHeight(), surfaceWidth, surfaceHeight);
    return holdsDestination(picture, destinationRect(fit, 1.0f, 0.0f, 0.0f));
}

void prepareFit(PreparedPicture& prepared, int32_t surfaceWidth, int32_t surfaceHeight) {
    prepared.resampled.invalidate();
    prepared.fitWidth = surfaceWidth;
    prepared.fitHeight = surfaceHeight;
    const Image& picture = prepared.picture;
    const bool alphaPath = usesAlphaPath(prepared.file);
    if (picture.empty() || surfaceWidth <= 0 || surfaceHeight <= 0 ||
        (alphaPath && picture.hasAlpha()))
        return;
    const Fit fit =
        fitPicture(picture.fullWidth(), picture.fullHeight(), surfaceWidth, surfaceHeight);
    const PixelRect dest = destinationRect(fit, 1.0f, 0.0f, 0.0f);
    const PixelRect visible = visiblePart(dest, surfaceWidth, surfaceHeight);
    if (visible.width == 0 || !holdsDestination(picture, dest))
        return;
    ResampledCache& cache = prepared.resampled;
    try {
        cache.pixels.resize(static_cast<size_t>(visible.width) *
                            static_cast<size_t>(visible.height));
    } catch (const std::bad_alloc&) {
        return;
    }
    resamplePicture(picture, dest, visible, cache.pixels.data(), visible.width);
    // On the alpha path the render marks the picture premultiplied before it draws, which
    // for a picture without alpha changes no pixel.
    cache.key =
        resampleKey(picture, dest, surfaceWidth, surfaceHeight, alphaPath, alphaPath ? 1 : 0);
    cache.visible = visible;
    cache.valid = true;
}
