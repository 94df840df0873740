#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>

#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

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

// Reads the main header: size, nativeLevels (the fewest resolution levels of any component,
// less one), regions true. Failed when the bytes are no JPEG 2000 or the header is broken,
// OutOfMemory when a side exceeds what an Image can address.
DecodeStatus readJpeg2000Header(std::span<const uint8_t> data, PictureHeader& header);

// Decodes level `level` (0 to kMaxLevel) of the whole picture into out, created here at
// levelExtent() of the full size and marked with the full size (Image::setFullSize): the
// codestream's own resolution levels make what they can (OpenJPEG's reduce factor), rows are
// reduced as they arrive beyond that (RowReducer). The picture is decoded in bands, cut at
// the tiles, so OpenJPEG's own buffers stay bounded whatever its size; stop is checked
// between them (Cancelled, out empty). A level whose pixels exceed Image::maxPictureBytes()
// is OutOfMemory, from the header alone. Level 0 is what decodeJpeg2000 gives.
DecodeStatus decodeJpeg2000Level(std::span<const uint8_t> data, int32_t level, Image& out,
                                 std::stop_token stop = {});

// Decodes the part `region` of level `level` (at most nativeLevels; region in that level's
// pixels, clipped to it; Failed when nothing is left) through OpenJPEG's decode area into
// out, exactly the region's size, in bands as above. Its pixels equal those of the same part
// of the whole level; for an irreversible (lossy 9/7) codestream, OpenJPEG's windowed inverse
// transform may leave a rare sample one off.
DecodeStatus decodeJpeg2000Region(std::span<const uint8_t> data, int32_t level,
                                  const PixelRect& region, Image& out, std::stop_token stop = {});

// The bytes of OpenJPEG's own 32-bit samples one band may hold, from which band heights follow;
// 0 restores the default. For tests and measurements: a small value forces many bands.
void setJpeg2000BandBytes(size_t bytes);
