#pragma once

#include <cstdint>

// The background's grey levels: light grey and black are the only two that occur. The level
// in use is RenderState::backgroundLevel's alone; the surface and the settings file ask it.
inline constexpr int32_t kBackgroundGrey = 250;
inline constexpr int32_t kBackgroundBlack = 0;

// The level the background toggle turns a level into.
constexpr int32_t toggledBackground(int32_t level) {
    return level != kBackgroundBlack ? kBackgroundBlack : kBackgroundGrey;
}
