#include "render/render_pipeline.h"

#include <new>
#include <string>

#include "render/decoder.h"
#include "render/fit_geometry.h"
#include "render/pixel_ops.h"
#include "render/render_log.h"
#include "render/resample.h"

namespace {

// The surface to draw on, or nullptr when there is none or it isn't 32 bits per pixel. A
// 0 x 0 surface (a minimised window) is usable: there is just nothing to paint.
QImage* usableSurface(RenderTarget* target) {
    if (target == nullptr)
        return nullptr;
    QImage* surface = target->surfacePixels();
    if (surface == nullptr || (!surface->isNull() && surface->depth() != 32))
        return nullptr;
    return surface;
}

// Quarter turns clockwise of a rotation code, and back.
int32_t quarterTurns(int32_t rotation) {
    switch (rotation) {
        case kRotateRight:
            return 1;
        case kRotateHalf:
            return 2;
        case kRotateLeft:
            return 3;
        default:
            return 0;
    }
}

int32_t rotationOfTurns(int32_t turns) {
    static constexpr int32_t kRotations[4] = {kRotateNone, kRotateRight, kRotateHalf, kRotateLeft};
    return kRotations[turns & 3];
}

// Takes a prepared picture of file from source, if it has one: the state becomes what a
// decode here gives. A picture already turned by its EXIF orientation leaves rotation 0 and
// sets exifTurned, so that the render still does what a turn does besides moving pixels.
bool takePrepared(const std::filesystem::path& file, const DecodeSource& source, RenderState& state,
                  int32_t& rotation, bool& exifTurned) {
    if (!source)
        return false;
    std::optional<PreparedPicture> prepared = source(file);
    if (!prepared || prepared->status != DecodeStatus::Ok || prepared->file != file ||
        prepared->picture.empty())
        return false;
    state.currentPicture.swap(prepared->picture);
    if (prepared->resampled.valid)
        state.resampled = std::move(prepared->resampled);
    state.exifInfo = prepared->exifInfo;
    state.alphaPremultiplied = 0;
    state.loadFailed = 0;
    state.pictureStamp = prepared->stamp;
    state.pictureTurns = prepared->turned ? quarterTurns(prepared->exifTurn) : 0;
    state.fullScaleUnavailable = false;
    exifTurned = prepared->turned;
    rotation = prepared->turned ? kRotateNone : prepared->exifTurn;
    return true;
}

// Decodes the current file into the picture and puts its EXIF turn into rotation. Returns
// false, with loadFailed set and the picture empty, when the file doesn't decode.
bool reloadPicture(const std::filesystem::path& file, const DecodeSource& source, FitArea area,
                   RenderState& state, int32_t& rotation, bool& exifTurned) {
    state.resampled.invalidate();
    // Freed first, so that a decode never holds the old picture and the new one at once.
    state.currentPicture.destroy();
    if (takePrepared(file, source, state, rotation, exifTurned))
        return true;
    // Stamped before reading: a write during the read then shows as another version.
    state.pictureStamp = fileStampOf(file).value_or(FileStamp{});
    state.pictureTurns = 0;
    state.fullScaleUnavailable = false;
    const DecodeStatus status = decodePicture(file, state.currentPicture, area);
    if (status != DecodeStatus::Ok) {
        qCDebug(lcRender) << "decode failed" << static_cast<int>(status) << file.c_str();
        state.currentPicture.destroy();
        state.loadFailed = 1;
        return false;
    }
    state.alphaPremultiplied = 0;
    state.loadFailed = 0;
    rotation = rotationFromExif(readPictureExif(file, state.exifInfo), state.exifInfo);
    return true;
}

// Makes the cache hold the resample for key, reusing it when nothing it depends on changed.
// Returns false when its pixels can't be allocated; the picture is then not drawn.
bool refreshResampled(RenderState& state, const ResampledCache::Key& key,
                      const PixelRect& visible) {
    ResampledCache& cache = state.resampled;
    if (cache.valid && !cache.inSurface && cache.key == key && cache.visible == visible)
        return true;
    cache.valid = false;
    cache.inSurface = false;
    try {
        cache.pixels.resize(static_cast<size_t>(visible.width) *
                            static_cast<size_t>(visible.height));
    } catch (const std::bad_alloc&) {
        qCDebug(lcRender) << "no memory for the resampled picture";
        return false;
    }
    resamplePicture(state.currentPicture, key.destination, visible, cache.pixels.data(),
                    visible.width);
    cache.key = key;
    cache.visible = visible;
    cache.valid = true;
    return true;
}

// Puts the cached resample on the surface: blended over the background already there on the
// alpha path when the picture has alpha, copied opaque otherwise.
void compositeResampled(const ResampledCache& cache, bool blend, QImage& surface) {
    const PixelRect& at = cache.visible;
    for (int32_t y = 0; y < at.height; ++y) {
        const uint32_t* src = cache.pixels.data() + static_cast<size_t>(y) * at.width;
        auto* dst = reinterpret_cast<uint32_t*>(surface.scanLine(at.y + y)) + at.x;
        if (blend)
            blendPremultipliedOver(src, dst, at.width);
        else
            copyOpaque(src, dst, at.width);
    }
}

// Decodes a reduced picture again at full scale, turned as it was, when the file is still the
// version it was decoded from. Otherwise (or without memory) the reduced pixels stay, drawn
// enlarged, and no later render tries again.
void restoreFullScale(const std::filesystem::path& file, RenderState& state) {
    Image& picture = state.currentPicture;
    const std::optional<FileStamp> now = fileStampOf(file);
    Image full;
    bool ok = now && *now == state.pictureStamp && decodePicture(file, full) == DecodeStatus::Ok;
    if (ok && state.pictureTurns != 0)
        ok = turnPicture(full, rotationOfTurns(state.pictureTurns));
    if (!ok || full.width() != picture.fullWidth() || full.height() != picture.fullHeight() ||
        full.hasAlpha() != picture.hasAlpha()) {
        qCDebug(lcRender) << "no full-scale picture for" << file.c_str();
        state.fullScaleUnavailable = true;
        return;
    }
    if (state.alphaPremultiplied != 0)
        premultiplyAlpha(full);
    picture.swap(full);
    state.resampled.invalidate();
}

// A zoom always shows the full picture; the fit, as long as the reduced pixels hold it.
bool needsFullScale(const RenderState& state, const PixelRect& dest) {
    return state.currentPicture.reduced() && !state.fullScaleUnavailable &&
           (state.zoomFactor != 1.0f || !holdsDestination(state.currentPicture, dest));
}

// The opaque way to the surface: what it still holds from the last render when the resample
// and the surface are unchanged, else the resample made ahead (copied, then let go), else a
// resample straight onto the surface. Saves a picture-sized buffer and a copy per render.
void drawOpaqueInSurface(RenderState& state, const ResampledCache::Key& key,
                         const PixelRect& visible, int64_t untouchedKey, QImage& surface) {
    ResampledCache& cache = state.resampled;
    const bool same = cache.valid && cache.key == key && cache.visible == visible;
    if (same && !cache.inSurface) {
        compositeResampled(cache, false, surface);
    } else if (!(same && cache.surfaceKey == untouchedKey)) {
        auto* first = reinterpret_cast<uint32_t*>(surface.scanLine(visible.y)) + visible.x;
        resamplePicture(state.currentPicture, key.destination, visible, first,
                        surface.bytesPerLine() / 4);
    }
    cache.pixels = {};
    cache.key = key;
    cache.visible = visible;
    cache.valid = true;
    cache.inSurface = true;
    cache.surfaceKey = surface.cacheKey();
}

void drawPicture(const std::filesystem::path& file, RenderState& state, QImage& surface) {
    // Any write to the surface from here on changes its key.
    const int64_t untouchedKey = surface.cacheKey();
    const int32_t width = surface.width();
    const int32_t height = surface.height();
    const Fit fit = fitPicture(state.currentPicture.fullWidth(), state.currentPicture.fullHeight(),
                               width, height);
    const PixelRect dest = destinationRect(fit, state.zoomFactor, state.panX, state.panY);
    if (needsFullScale(state, dest))
        restoreFullScale(file, state);
    const uint32_t background = backgroundColour(state.backgroundLevel);
    const bool alphaPath = usesAlphaPath(file);
    if (alphaPath) {
        // The whole frame starts as background, which covers the margins as well.
        fillSolid(surface, {0, 0, width, height}, background);
        if (state.alphaPremultiplied == 0) {
            // Set first: the conversion is tried once per decoded picture, whatever happens.
            state.alphaPremultiplied = 1;
            premultiplyAlpha(state.currentPicture);
        }
    } else {
        for (const PixelRect& strip :
             marginStrips(fit, width, height, state.zoomFactor, state.panX, state.panY))
            fillSolid(surface, strip, background);
    }
    const PixelRect visible = visiblePart(dest, width, height);
    if (visible.width == 0 || state.currentPicture.empty())
        return;
    const ResampledCache::Key key{state.currentPicture.qimage().cacheKey(),
                                  dest,
                                  width,
                                  height,
                                  alphaPath,
                                  state.alphaPremultiplied};
    if (!alphaPath && !state.currentPicture.hasAlpha()) {
        drawOpaqueInSurface(state, key, visible, untouchedKey, surface);
        return;
    }
    if (!refreshResampled(state, key, visible))
        return;
    compositeResampled(state.resampled, alphaPath && state.currentPicture.hasAlpha(), surface);
}

}  // namespace

bool usesAlphaPath(const std::filesystem::path& file) {
    const std::string& text = file.native();
    for (const char* marker : {".png", ".PNG", ".gif", ".GIF"}) {
        if (text.find(marker) != std::string::npos)
            return true;
    }
    return false;
}

int32_t renderPicture(const PictureListState& list, RenderState& state, RenderTarget* target,
                      int32_t reload, int32_t rotation, const DecodeSource& source) {
    const std::filesystem::path* file = currentPath(list);
    if (file == nullptr) {
        fillBackground(state, target);
        return -1;
    }
    QImage* surface = usableSurface(target);
    // Without a surface a decode is not turned, so a picture turned ahead must not be used.
    static const DecodeSource kNoSource;
    const DecodeSource& from = surface != nullptr ? source : kNoSource;
    const FitArea area = surface ? FitArea{surface->width(), surface->height()} : FitArea{};
    bool exifTurned = false;
    if (reload == 0 && !reloadPicture(*file, from, area, state, rotation, exifTurned)) {
        // The unreadable file must not be shown as the previous picture under its name.
        fillBackground(state, target);
        return -1;
    }
    if (state.loadFailed != 0 || surface == nullptr)
        return -1;
    if (rotation >= kRotateRight && rotation <= kRotateHalf) {
        state.resampled.invalidate();
        if (turnPicture(state.currentPicture, rotation))
            state.pictureTurns = (state.pictureTurns + quarterTurns(rotation)) & 3;
        state.zoomFactor = 1.0f;
    }
    if (exifTurned)
        state.zoomFactor = 1.0f;
    drawPicture(*file, state, *surface);
    target->present();
    return 0;
}

void fillBackground(const RenderState& state, RenderTarget* target) {
    QImage* surface = usableSurface(target);
    if (surface == nullptr)
        return;
    fillSolid(*surface, {0, 0, surface->width(), surface->height()},
              backgroundColour(state.backgroundLevel));
    target->present();
}
