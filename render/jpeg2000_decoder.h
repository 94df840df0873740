#pragma once

#include <cstdint>
#include <span>

#include "render/decoder.h"
#include "render/image.h"

// True when the bytes open a JPEG 2000 file: the JP2 signature box (JP2, JPX, JPM, MJ2 all
// start with it) or a bare J2K codestream (SOC followed by SIZ).
bool isJpeg2000(std::span<const uint8_t> data);

// Decodes a JPEG 2000 file or codestream held in memory into out (emptied first), through
// OpenJPEG. One component is grey, two grey and alpha, three RGB (YCbCr is turned into RGB),
// four RGBA; further components are ignored. Samples of any precision and signedness are
// brought to 8 bits; subsampled components are widened to the full grid. Alpha comes out
// straight, in Format_ARGB32. Dimensions are checked against Image::maxPictureBytes() before
// anything is decoded: too large gives OutOfMemory, anything else unusable gives Failed.
DecodeStatus decodeJpeg2000(std::span<const uint8_t> data, Image& out);
