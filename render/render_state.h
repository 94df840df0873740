#pragma once

#include <cstdint>

#include "render/exif_reader.h"
#include "render/image.h"
#include "render/zoom.h"

// Rotation requests of renderPicture.
enum RotationCode : int32_t {
    kRotateNone = 0,
    kRotateRight = 1,  // a quarter turn clockwise
    kRotateLeft = 2,   // a quarter turn counter-clockwise
    kRotateHalf = 3,   // a half turn (comes only from the EXIF orientation)
};

// Background grey levels: light grey and black are the only two that occur.
inline constexpr int32_t kBackgroundGrey = 250;
inline constexpr int32_t kBackgroundBlack = 0;

// The part of the viewer state the render pipeline reads and writes.
struct RenderState : ZoomState {
    Image currentPicture;
    int32_t loadFailed = 0;
    int32_t alphaPremultiplied = 0;
    ExifInfo exifInfo{};
    int32_t backgroundLevel = kBackgroundGrey;
};
