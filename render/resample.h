#pragma once

#include <cstddef>
#include <cstdint>

#include "render/fit_geometry.h"
#include "render/image.h"

// The part of dest that lies on a surface of surfaceWidth x surfaceHeight, or an empty rect
// (width and height 0) when nothing of it does, or when dest has no area.
PixelRect visiblePart(const PixelRect& dest, int32_t surfaceWidth, int32_t surfaceHeight);

// Scales the whole of source onto the rectangle dest of a destination plane and computes only
// the pixels of clip (in the same plane; the part of clip outside dest is left untouched).
// Quality is that of a halftone stretch: each axis on its own is area-averaged (a box filter
// with exact fractional coverage) when reduced and bilinearly interpolated when enlarged.
// All four bytes of each pixel are filtered alike, so premultiplied pixels stay premultiplied.
// The pixel of plane position (x, y) goes to out[(y - clip.y) * outStride + (x - clip.x)];
// outStride is in pixels. Work and memory are bounded by the clipped size and the source,
// never by dest, so a 20x zoom of a large photo costs what the visible pixels cost.
// Does nothing for an empty source, a dest without area or a clip outside dest.
void resamplePicture(const Image& source, const PixelRect& dest, const PixelRect& clip,
                     uint32_t* out, ptrdiff_t outStride);
