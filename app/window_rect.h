#pragma once

#include <cstdint>

// A window rectangle in screen pixels: corners, right and bottom exclusive.
struct WindowRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    friend bool operator==(const WindowRect&, const WindowRect&) = default;
};
