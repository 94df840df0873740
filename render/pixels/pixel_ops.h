#pragma once

#include <QImage>

#include <cstdint>

#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

// The 32-bit surface value of the background grey: the low byte of level in blue, green and
// red, opaque.
uint32_t backgroundColour(int32_t level);

// Fills rect of a 32-bit image with colour (the bytes blue, green, red, alpha of a pixel read
// as one little-endian word). The rectangle is clipped to the image; rectangles with a zero
// or negative size, or wholly outside, paint nothing. Images of another depth are left alone.
void fillSolid(QImage& image, const PixelRect& rect, uint32_t colour);

// Rotation codes: the turns renderPicture is asked for and turnPicture makes.
enum RotationCode : int32_t {
    kRotateNone = 0,
    kRotateRight = 1,  // a quarter turn clockwise
    kRotateLeft = 2,   // a quarter turn counter-clockwise
    kRotateHalf = 3,   // a half turn (comes only from the EXIF orientation)
};

// Whether a rotation code turns the picture at all (1 to 3); 0 and anything else leave it.
constexpr bool turnsPicture(int32_t rotation) {
    return rotation >= kRotateRight && rotation <= kRotateHalf;
}

// Turns picture by a rotation code: 1 a quarter turn clockwise, 2 a quarter turn
// counter-clockwise, 3 a half turn. The pixels move unchanged and the alpha flag is kept, so
// four quarter turns give back the original. Returns false and leaves the picture exactly as
// it was for any other code, an empty picture, or when the turned copy can't be allocated.
bool turnPicture(Image& picture, int32_t rotation);

// Multiplies blue, green and red of every pixel by its alpha, truncating: c := c * A / 255.
// Does nothing to a picture without alpha, whose fourth byte carries no meaning.
void premultiplyAlpha(Image& picture);

// Source-over of count premultiplied pixels onto dst: d := s + d * (255 - As) / 255, rounded.
// The result is opaque, as the surface has no alpha of its own.
void blendPremultipliedOver(const uint32_t* src, uint32_t* dst, int32_t count);

// Copies count pixels and marks them opaque; the source's fourth byte is ignored.
void copyOpaque(const uint32_t* src, uint32_t* dst, int32_t count);
