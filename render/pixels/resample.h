#pragma once

#include <cstddef>
#include <cstdint>

#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

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

// The same for a picture of pictureWidth x pictureHeight of which only a piece is at hand:
// piece holds the picture's pixels of pieceRect (from its top-left pixel on). The result is
// exactly that of resamplePicture on the whole picture. Returns false, computing nothing,
// when a pixel the clip needs lies outside the piece.
bool resamplePiece(const Image& piece, const PixelRect& pieceRect, int32_t pictureWidth,
                   int32_t pictureHeight, const PixelRect& dest, const PixelRect& clip,
                   uint32_t* out, ptrdiff_t outStride);

// The part of a picture of pictureWidth x pictureHeight that resampling it onto dest needs
// for the pixels of clip: the taps of every computed pixel, in the picture's pixels. Empty
// when clip and dest don't meet.
PixelRect sourceNeeded(int32_t pictureWidth, int32_t pictureHeight, const PixelRect& dest,
                       const PixelRect& clip);
