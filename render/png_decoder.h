#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "render/decoder.h"
#include "render/image.h"

// True when the bytes open with the 8-byte PNG signature.
bool isPng(std::span<const uint8_t> data);

// Decodes the common PNGs fast into out: 8-bit grey, grey with alpha, RGB and RGBA, not
// interlaced, without a palette or tRNS. The result is what Qt's reader followed by the
// holder's conversion gives, byte for byte: no gamma or colour profile is applied, a picture
// with an alpha channel keeps it (straight) even when every pixel is opaque, one without has
// none. Returns std::nullopt, leaving out untouched, for data that is not such a PNG (other
// kinds, and the rare odd files whose handling Qt's reader decides): those go to Qt unchanged.
// Otherwise out is replaced by the picture, or emptied on failure: a damaged critical chunk,
// a broken or unfinished zlib stream, missing image data or a missing IEND fail the picture
// whole; damaged ancillary chunks are skipped unread. A zero or absurd size (a side over
// 1,000,000) gives Failed, a picture larger than Image::maxPictureBytes() OutOfMemory, both
// before anything is allocated. The bytes are only read during the call.
std::optional<DecodeStatus> decodePngFast(std::span<const uint8_t> data, Image& out);
