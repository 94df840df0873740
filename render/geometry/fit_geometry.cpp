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
    const float z = zoomFactor;
    const float x0 = static_cast<float>(fit.fx) * z + panX;
    const float y0 = static_cast<float>(fit.fy) * z + panY;
    const float x1 = x0 + static_cast<float>(fit.fw) * z;
    const float y1 = y0 + static_cast<float>(fit.fh) * z;
    if (static_cast<float>(right) > x1)
        strips.push_back({trunc32(x1), 0, trunc32(static_cast<float>(right) - x1), bottom});
    if (x0 > 0.0f)
        strips.push_back({0, 0, trunc32(x0), bottom});
    if (y0 > 0.0f)
        strips.push_back({0, 0, right, trunc32(y0)});
    if (static_cast<float>(bottom) > y1)
        strips.push_back({0, trunc32(y1), right, trunc32(static_cast<float>(bottom) - y1)});
    return strips;
}
