#include "app/dpi.h"

#include "app/viewer_state.h"

namespace {

// v * numerator / denominator with the 64-bit product rounded half away from zero.
// Denominators here are DPI values, always positive.
int32_t mulDiv(int32_t v, int32_t numerator, int32_t denominator) {
    if (denominator <= 0)
        return -1;
    const int64_t product = static_cast<int64_t>(v) * numerator;
    const int64_t half = denominator / 2;
    return static_cast<int32_t>((product >= 0 ? product + half : product - half) / denominator);
}

void readDpiOnce() {
    if (dpiCache.initialised)
        return;
    // Widget coordinates are device-independent pixels, defined at 96 DPI whatever the
    // screen: scaling them again would enlarge the window twice on high-DPI screens.
    dpiCache.dpiX = 96;
    dpiCache.dpiY = 96;
    dpiCache.initialised = 1;
}

}  // namespace

int32_t ScaleX(int32_t v) {
    readDpiOnce();
    return mulDiv(v, dpiCache.dpiX, 96);
}

int32_t ScaleY(int32_t v) {
    readDpiOnce();
    return mulDiv(v, dpiCache.dpiY, 96);
}

int32_t UnscaleX(int32_t v) {
    readDpiOnce();
    return mulDiv(v, 96, dpiCache.dpiX);
}

int32_t UnscaleY(int32_t v) {
    readDpiOnce();
    return mulDiv(v, 96, dpiCache.dpiY);
}
