#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <vector>

#include "render/decode/decoder.h"
#include "render/pixels/image.h"

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
// before anything is allocated. stop is looked at every 64 rows once the image data is
// inflated, which one call does (Cancelled). The bytes are only read during the call.
std::optional<DecodeStatus> decodePngFast(std::span<const uint8_t> data, Image& out,
                                          std::stop_token stop = {});

// The parts of the format the streamed level decoder (stream_decoder.h) shares.
namespace png {

namespace colour {
enum : uint8_t {
    kGrey = 0,
    kRgb = 2,
    kPalette = 3,
    kGreyAlpha = 4,
    kRgba = 6,
};
}

struct Header {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t bitDepth = 0;
    uint8_t colourType = 0;
    uint32_t bitsPerPixel = 0;
    uint32_t bytesPerPixel = 0;  // the unfiltering's unit: at least 1; 0 for a kind left to Qt
};

// How the chunk walk ended: with the image data gathered, with a file libpng refuses, or with
// a file the caller should leave to Qt.
enum class Walk { Complete, Broken, LeaveToQt };

struct Chunks {
    Walk walk = Walk::Broken;
    bool beforeData = true;  // the walk ended before reaching the first IDAT
    Header header;
    std::vector<std::span<const uint8_t>> data;  // the IDAT payloads in file order
    std::span<const uint8_t> palette;            // PLTE's payload, three bytes an entry
    std::span<const uint8_t> transparency;       // tRNS's payload, when libpng applies it
};

// Walks the chunks of a PNG (signature already checked) up to IEND, checking the critical
// chunks' checksums. Without allKinds only 8-bit grey, grey+alpha, RGB and RGBA without
// palette or tRNS are Complete; with it every colour type and depth is, palette and tRNS
// included. Interlaced pictures, unknown critical chunks, image data split by other chunks
// and the rare odd placements whose handling libpng decides are LeaveToQt in both.
Chunks walkChunks(std::span<const uint8_t> data, bool allKinds);
// Whether every IDAT is within the length libpng accepts for rows of that size.
bool withinLibpngDataLimit(const Chunks& chunks, size_t rowBytes, size_t rawBytes);
// Whether the zlib stream declares a window smaller than the inflated data, whose farthest
// back-references zlib and libdeflate judge differently.
bool windowTooSmall(std::span<const uint8_t> stream, size_t inflatedBytes);
// Undoes one row's filter in place; above is the previous row, already unfiltered (zeros for
// the first), bpp the header's bytesPerPixel.
void unfilterRow(uint8_t filter, uint8_t* row, const uint8_t* above, size_t size, size_t bpp);
// Converts one row of 8-bit grey, grey+alpha, RGB or RGBA samples to pixel words, exactly as
// decodePngFast does.
void convertRow(uint8_t colourType, const uint8_t* from, uint32_t* to, size_t width);

}  // namespace png
