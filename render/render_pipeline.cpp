#include "render/render_pipeline.h"

#include <new>

#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/decode/render_log.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/pixel_ops.h"
#include "render/pixels/resample.h"

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

// The opaque way to the surface: what it still holds from the last render when the resample
// and the surface are unchanged, else the resample made ahead (copied, then let go), else a
// resample straight onto the surface. Saves a picture-sized buffer and a copy per render.
// The caller records the surface's key once it has drawn the margins too.
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
}

// The deepest level of the picture that still holds dest without enlarging its pixels.
int32_t levelHolding(const Image& picture, const PixelRect& dest) {
    int32_t level = 0;
    while (level < kMaxLevel && levelExtent(picture.fullWidth(), level + 1) >= dest.width &&
           levelExtent(picture.fullHeight(), level + 1) >= dest.height)
        ++level;
    return level;
}

// Draws the part of the picture on the surface from sharper pixels than the picture holds,
// when detail has them; false otherwise (they are then on their way).
bool drawDetail(const std::filesystem::path& file, RenderState& state, DetailTiles& detail,
                const PixelRect& dest, const PixelRect& visible, bool blend, QImage& surface) {
    const Image& picture = state.currentPicture;
    const bool odd = (state.pictureTurns & 1) != 0;
    DetailRequest request;
    request.file = file;
    request.stamp = state.pictureStamp;
    request.turns = state.pictureTurns;
    request.fileWidth = odd ? picture.fullHeight() : picture.fullWidth();
    request.fileHeight = odd ? picture.fullWidth() : picture.fullHeight();
    request.level = levelHolding(picture, dest);
    request.dest = dest;
    request.clip = visible;
    request.premultiply = blend;
    const std::optional<DetailPiece> piece = detail.piece(request);
    if (!piece)
        return false;
    // Not kept: a zoomed view changes with every step, and the surface no longer holds what
    // the resample cache says it does.
    state.resampled.invalidate();
    std::vector<uint32_t> blended;
    uint32_t* out = reinterpret_cast<uint32_t*>(surface.scanLine(visible.y)) + visible.x;
    ptrdiff_t stride = surface.bytesPerLine() / 4;
    if (blend) {
        blended.resize(static_cast<size_t>(visible.width) * static_cast<size_t>(visible.height));
        out = blended.data();
        stride = visible.width;
    }
    if (!resamplePiece(*piece->pixels, piece->rect, piece->levelWidth, piece->levelHeight, dest,
                       visible, out, stride))
        return false;
    // Opaque pixels resample to opaque ones; only alpha needs a second pass.
    if (!blend && !piece->pixels->hasAlpha())
        return true;
    for (int32_t y = 0; y < visible.height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(surface.scanLine(visible.y + y)) + visible.x;
        if (blend)
            blendPremultipliedOver(blended.data() + static_cast<size_t>(y) * visible.width, row,
                                   visible.width);
        else
            copyOpaque(row, row, visible.width);
    }
    return true;
}

// The picture's part of the frame: everything but the margins off the alpha path. Returns
// whether the surface itself now holds the resample (see drawOpaqueInSurface).
bool drawPictureArea(const std::filesystem::path& file, RenderState& state, QImage& surface,
                     DetailTiles* detail, const PixelRect& dest, bool alphaPath,
                     int64_t untouchedKey) {
    const PixelRect visible = visiblePart(dest, surface.width(), surface.height());
    if (visible.width == 0 || state.currentPicture.empty())
        return false;
    const bool blend = alphaPath && state.currentPicture.hasAlpha();
    // Sharper pixels than the picture holds when a zoom or the window asks for them; until
    // they come, the picture is drawn enlarged.
    if (detail != nullptr && state.currentPicture.reduced() &&
        !holdsDestination(state.currentPicture, dest) &&
        drawDetail(file, state, *detail, dest, visible, blend, surface))
        return false;
    const ResampledCache::Key key =
        resampleKey(state.currentPicture, dest, surface.width(), surface.height(), alphaPath,
                    state.alphaPremultiplied);
    if (!alphaPath && !state.currentPicture.hasAlpha()) {
        drawOpaqueInSurface(state, key, visible, untouchedKey, surface);
        return true;
    }
    if (refreshResampled(state, key, visible))
        compositeResampled(state.resampled, blend, surface);
    return false;
}

void drawPicture(const std::filesystem::path& file, RenderState& state, QImage& surface,
                 DetailTiles* detail) {
    // Any write to the surface from here on changes its key.
    const int64_t untouchedKey = surface.cacheKey();
    const int32_t width = surface.width();
    const int32_t height = surface.height();
    const Fit fit = fitPicture(state.currentPicture.fullWidth(), state.currentPicture.fullHeight(),
                               width, height);
    const PixelRect dest =
        destinationRect(fit, state.zoom.zoomFactor, state.zoom.panX, state.zoom.panY);
    const uint32_t background = backgroundColour(state.backgroundLevel);
    if (usesAlphaPath(file)) {
        // The whole frame starts as background, which covers the margins as well.
        fillSolid(surface, {0, 0, width, height}, background);
        if (state.alphaPremultiplied == 0) {
            // Set first: the conversion is tried once per decoded picture, whatever happens.
            state.alphaPremultiplied = 1;
            premultiplyAlpha(state.currentPicture);
        }
        drawPictureArea(file, state, surface, detail, dest, true, untouchedKey);
        return;
    }
    // The margins come after the picture: in a fresh buffer (the window's first) the pages
    // are then first touched by the resample's threads together, not by this one alone.
    const bool heldInSurface =
        drawPictureArea(file, state, surface, detail, dest, false, untouchedKey);
    for (const PixelRect& strip :
         marginStrips(fit, width, height, state.zoom.zoomFactor, state.zoom.panX, state.zoom.panY))
        fillSolid(surface, strip, background);
    // The surface as this render leaves it is the one that holds the resample.
    if (heldInSurface)
        state.resampled.surfaceKey = surface.cacheKey();
}

}  // namespace

bool adoptPicture(RenderState& state, PreparedPicture&& prepared, bool applyExifTurn) {
    state.resampled.invalidate();
    state.currentPicture.destroy();
    if (prepared.status != DecodeStatus::Ok || prepared.picture.empty()) {
        qCDebug(lcRender) << "decode failed" << static_cast<int>(prepared.status)
                          << prepared.file.c_str();
        state.loadFailed = 1;
        return false;
    }
    state.currentPicture.swap(prepared.picture);
    if (prepared.resampled.valid)
        state.resampled = std::move(prepared.resampled);
    state.exifInfo = prepared.exifInfo;
    state.alphaPremultiplied = 0;
    state.loadFailed = 0;
    state.pictureStamp = prepared.stamp;
    state.pictureTurns = prepared.turned ? quarterTurns(prepared.exifTurn) : 0;
    const bool turns = turnsPicture(prepared.exifTurn);
    if (applyExifTurn && turns) {
        if (!prepared.turned) {
            state.resampled.invalidate();
            if (turnPicture(state.currentPicture, prepared.exifTurn))
                state.pictureTurns = quarterTurns(prepared.exifTurn);
        }
        state.zoom.zoomFactor = 1.0f;
    }
    return true;
}

int32_t renderPicture(const std::filesystem::path* file, RenderState& state, RenderTarget* target,
                      int32_t rotation, DetailTiles* detail) {
    if (file == nullptr) {
        state.pending = {};
        fillBackground(state, target);
        return -1;
    }
    if (state.pending.active) {
        // The turn waits for the picture; the zoom is reset now, as the turn would do.
        if (turnsPicture(rotation)) {
            state.pending.turns = (state.pending.turns + quarterTurns(rotation)) & 3;
            zoomStep(state, {ZoomStep::Op::Turn, std::nullopt});
        }
        return -1;
    }
    QImage* surface = usableSurface(target);
    if (state.loadFailed != 0 || surface == nullptr)
        return -1;
    if (turnsPicture(rotation)) {
        state.resampled.invalidate();
        if (turnPicture(state.currentPicture, rotation))
            state.pictureTurns = (state.pictureTurns + quarterTurns(rotation)) & 3;
        state.zoom.zoomFactor = 1.0f;
    }
    drawPicture(*file, state, *surface, detail);
    target->present();
    return 0;
}

void beginPendingReload(const std::filesystem::path* file, RenderState& state) {
    state.resampled.invalidate();
    state.currentPicture.destroy();
    state.pending = {};
    if (file == nullptr)
        return;
    state.pending.active = true;
    state.pending.file = *file;
    state.pending.zoomBefore = state.zoom;
}

int32_t finishPendingReload(const std::filesystem::path* file, RenderState& state,
                            RenderTarget* target, PreparedPicture&& prepared, DetailTiles* detail) {
    if (!state.pending.active || file == nullptr || *file != state.pending.file ||
        prepared.file != *file)
        return -1;
    PendingReload pending = std::move(state.pending);
    state.pending = {};
    const bool exifTurns = turnsPicture(prepared.exifTurn);
    const bool ok = adoptPicture(state, std::move(prepared), true);
    // The zoom as the reload and the steps after it would have left it, one after the other.
    if (pending.zoomSteps.size() < PendingReload::kMaxSteps) {
        ZoomState& zoom = state.zoom;
        zoom = pending.zoomBefore;
        if (ok && exifTurns)
            zoom.zoomFactor = 1.0f;
        for (const ZoomStep& step : pending.zoomSteps)
            applyZoomStep(zoom, step, ok);
    }
    if (!ok) {
        fillBackground(state, target);
        return -1;
    }
    if (pending.turns != 0) {
        state.resampled.invalidate();
        if (turnPicture(state.currentPicture, rotationOfTurns(pending.turns)))
            state.pictureTurns = (state.pictureTurns + pending.turns) & 3;
    }
    return renderPicture(file, state, target, kRotateNone, detail);
}

void zoomStep(RenderState& state, const ZoomStep& step) {
    applyZoomStep(state.zoom, step);
    if (state.pending.active && state.pending.zoomSteps.size() < PendingReload::kMaxSteps)
        state.pending.zoomSteps.push_back(step);
}

void fillBackground(const RenderState& state, RenderTarget* target) {
    QImage* surface = usableSurface(target);
    if (surface == nullptr)
        return;
    fillSolid(*surface, {0, 0, surface->width(), surface->height()},
              backgroundColour(state.backgroundLevel));
    target->present();
}
