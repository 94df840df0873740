#pragma once

#include <cstdint>
#include <vector>

// Integer rectangle as (x, y, width, height) in surface device pixels.
struct PixelRect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// Where a picture lands when fitted into a surface of surfaceWidth x surfaceHeight.
struct Fit {
    int32_t fx = 0;
    int32_t fy = 0;
    int32_t fw = 0;
    int32_t fh = 0;
};

// Fits a picture into the surface keeping its aspect ratio, enlarging small pictures as well
// as reducing large ones. Single-precision arithmetic truncated toward zero; an odd leftover
// pixel goes to the right or bottom margin. A non-positive picture size gives an empty fit.
Fit fitPicture(int32_t pictureWidth, int32_t pictureHeight, int32_t surfaceWidth,
               int32_t surfaceHeight);

// The rectangle the whole picture is drawn into: the fit itself at zoom exactly 1.0, else the
// fit scaled by zoom and moved by the pan, each value truncated by itself.
PixelRect destinationRect(const Fit& fit, float zoomFactor, float panX, float panY);

// The background strips around the picture, in painting order. They may overlap each other
// but never the destination; at zoom 1.0 widths and heights may come out zero or negative,
// which paints nothing.
std::vector<PixelRect> marginStrips(const Fit& fit, int32_t surfaceWidth, int32_t surfaceHeight,
                                    float zoomFactor, float panX, float panY);
