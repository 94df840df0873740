#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>

#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

// JPEG levels and regions through libjpeg's scanline interface, for pictures too large to
// decode whole and for the parts a zoom shows. The common case, a whole picture at 1/1 to
// 1/8, goes through TurboJPEG in decoder.cpp.

// Reads the frame header: size, nativeLevels 3, regions true. Failed when the bytes are no
// JPEG or the header is broken; nothing is decoded.
DecodeStatus readJpegHeader(std::span<const uint8_t> data, PictureHeader& header);

// The bytes of the coefficient buffer libjpeg keeps for the whole picture, at any scale, when
// it is scanned more than once (progressive, or components in scans of their own), from the
// header alone; 0 for a single scan. Nothing when the bytes hold no readable header.
std::optional<uint64_t> jpegCoefficientBytes(std::span<const uint8_t> data);

// Decodes level `level` (0 to kMaxLevel) of the whole picture into out, created here at
// levelExtent() of the full size and marked with the full size (Image::setFullSize): DCT
// scaling makes levels up to 3, rows are reduced as they arrive beyond that (RowReducer), so
// nothing larger than the output and a few rows is ever held. stop is checked every few rows
// (Cancelled). A level whose pixels exceed Image::maxPictureBytes() is OutOfMemory.
DecodeStatus decodeJpegLevel(std::span<const uint8_t> data, int32_t level, Image& out,
                             std::stop_token stop = {});

// Decodes the part `region` of level `level` (0 to 3; region in that level's pixels, clipped
// to it) into out, exactly the region's size: columns outside it are cropped and rows above
// it skipped by the library, rows below it never read. Pixels equal those of the same part of
// the whole level within the rounding of the library's upsampling at the crop's edges.
DecodeStatus decodeJpegRegion(std::span<const uint8_t> data, int32_t level, const PixelRect& region,
                              Image& out, std::stop_token stop = {});
