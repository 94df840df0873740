#pragma once

#include <cstdint>

// Conversions between pixels and 96-DPI units, with the screen's DPI read on first use.
// Qt already lays widgets out in device-independent pixels, so the DPI they see is 96 on
// every screen and the helpers are the identity; they keep the rounding of a 64-bit MulDiv.
int32_t ScaleX(int32_t v);
int32_t ScaleY(int32_t v);
int32_t UnscaleX(int32_t v);
int32_t UnscaleY(int32_t v);
