#include "render/geometry/fit_geometry.h"

namespace {

int32_t trunc32(float v) {
    return static_cast<int32_t>(v);
}

}  // namespace

Fit fitPicture(int32_t pictureWidth, int32_t pictureHeight, int32_t surfaceWidth,
               int32_t surfaceHeight) {
    Fit fit;
    if (pictureWidth <= 0 || pictureHeight <= 0 || surfaceWidth <= 0 || surfaceHeight <= 0)
        return fit;
    const int32_t W = surfaceWidth;
    const int32_t H = surfaceHeight;
    const float a = static_cast<float>(pictureWidth) / static_cast<float>(pictureHeight);
    if (a < 1.0f) {
        fit.fw = trunc32(static_cast<float>(H) * a);
        if (fit.fw > W) {
            fit.fw = W;
            fit.fh = trunc32(static_cast<float>(W) / a);
        } else {
            fit.fh = H;
        }
    } else {
        fit.fh = trunc32(static_cast<float>(W) / a);
        if (fit.fh > H) {
            fit.fh = H;
            fit.fw = trunc32(static_cast<float>(H) * a);
        } else {
            fit.fw = W;
        }
    }
    fit.fx = fit.fw < W ? (W - fit.fw) / 2 : 0;
    fit.fy = fit.fh < H ? (H - fit.fh) / 2 : 0;
    if (fit.fx + fit.fw > W)
        fit.fw = W - fit.fx;
    if (fit.fy + fit.fh > H)
        fit.fh = H - fit.fy;
    return fit;
}

PixelRect destinationRect(const Fit& fit, float zoomFactor, float panX, float panY) {
    if (zoomFactor == 1.0f)
        return {fit.fx, fit.fy, fit.fw, fit.fh};
    const float z = zoomFactor;
    return {trunc32(static_cast<float>(fit.fx) * z + panX),
            trunc32(static_cast<float>(fit.fy) * z + panY), trunc32(static_cast<float>(fit.fw) * z),
            trunc32(static_cast<float>(fit.fh) * z)};
}

std::vector<PixelRect> marginStrips(const Fit& fit, int32_t surfaceWidth, int32_t surfaceHeight,
                                    float zoomFactor, float panX, float panY) {
    const int32_t right = surfaceWidth;
    const int32_t bottom = surfaceHeight;
    std::vector<PixelRect> strips;
    if (zoomFactor == 1.0f) {
        if (fit.fw < right) {
            strips.push_back({0, 0, fit.fx, bottom});
            strips.push_back({fit.fx + fit.fw, 0, right - fit.fx - fit.fw, bottom});
        }
        if (fit.fh < bottom) {
            strips.push_back({0, 0, right, fit.fy});
            strips.push_back({0, fit.fy + fit.fh, right, bottom - fit.fy - fit.fh});
        }
        return strips;
    }
    // Around the destination exactly: strips from the unrounded edges could cover its last
    // column or row.
    const PixelRect dest = destinationRect(fit, zoomFactor, panX, panY);
    const int32_t destRight = dest.x + dest.width;
    const int32_t destBottom = dest.y + dest.height;
    if (right > destRight)
        strips.push_back({destRight, 0, right - destRight, bottom});
    if (dest.x > 0)
        strips.push_back({0, 0, dest.x, bottom});
    if (dest.y > 0)
        strips.push_back({0, 0, right, dest.y});
    if (bottom > destBottom)
        strips.push_back({0, destBottom, right, bottom - destBottom});
    return strips;
}
