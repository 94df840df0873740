#include "render/decode/png_decoder.h"

#include <QImage>

#include <libdeflate.h>

#include "platform/page_warmer.h"
#include "render/decode/render_log.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::array<uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::array<uint8_t, 8> kIendHeader = {0, 0, 0, 0, 'I', 'E', 'N', 'D'};

// libpng refuses pictures wider or taller than this unless told otherwise, and Qt never tells
// it; a larger side fails rather than running out of memory, as it does through Qt.
constexpr uint32_t kMaxSide = 1000000;
// libpng refuses outright a non-image chunk longer than its allocation limit (8,000,000
// bytes); such files, and ones nearly so, are left to Qt to judge.
constexpr uint32_t kMaxSkippedChunkBytes = 4u << 20;

using png::Chunks;
using png::Header;
using png::Walk;
using namespace png::colour;

uint32_t readBigEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

// libpng refuses a chunk whose type is not four ASCII letters, ancillary or not.
bool validChunkType(const uint8_t* type) {
    return std::all_of(type, type + 4,
                       [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool isChunk(const uint8_t* type, const char (&name)[5]) {
    return std::memcmp(type, name, 4) == 0;
}

uint32_t bytesPerPixelOf(uint8_t colourType) {
    switch (colourType) {
        case kGrey:
            return 1;
        case kGreyAlpha:
            return 2;
        case kRgb:
            return 3;
        case kRgba:
            return 4;
        default:
            return 0;
    }
}

// The bit depths a colour type allows; 0 for an unknown type.
bool validDepth(uint8_t colourType, uint8_t bitDepth) {
    switch (colourType) {
        case kGrey:
            return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 ||
                   bitDepth == 16;
        case kPalette:
            return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
        case kRgb:
        case kGreyAlpha:
        case kRgba:
            return bitDepth == 8 || bitDepth == 16;
        default:
            return false;
    }
}

// Reads IHDR. A size libpng refuses fails the file; anything but the standard compression and
// filtering and no interlacing is left to Qt, and so is any depth but 8 and the palette kind
// unless allKinds.
Walk readHeader(std::span<const uint8_t> payload, Header& header, bool allKinds) {
    if (payload.size() != 13)
        return Walk::LeaveToQt;
    header.width = readBigEndian32(&payload[0]);
    header.height = readBigEndian32(&payload[4]);
    if (header.width == 0 || header.height == 0 || header.width > kMaxSide ||
        header.height > kMaxSide)
        return Walk::Broken;
    header.bitDepth = payload[8];
    header.colourType = payload[9];
    if (payload[10] != 0 || payload[11] != 0 || payload[12] != 0)
        return Walk::LeaveToQt;
    if (allKinds) {
        if (!validDepth(header.colourType, header.bitDepth))
            return Walk::LeaveToQt;
        const uint32_t channels =
            header.colourType == kPalette ? 1 : bytesPerPixelOf(header.colourType);
        header.bitsPerPixel = channels * header.bitDepth;
        header.bytesPerPixel = std::max<uint32_t>(1, header.bitsPerPixel / 8);
        return Walk::Complete;
    }
    if (header.bitDepth != 8)
        return Walk::LeaveToQt;
    header.bytesPerPixel = bytesPerPixelOf(header.colourType);
    header.bitsPerPixel = header.bytesPerPixel * 8;
    return header.bytesPerPixel == 0 ? Walk::LeaveToQt : Walk::Complete;
}

// A tRNS chunk as libpng takes it before the image data: one grey or RGB key, or alphas for
// at most the palette's entries. Anything else libpng ignores with a warning; such rare files
// are left to Qt.
bool validTransparency(const Header& header, const Chunks& chunks, size_t length) {
    switch (header.colourType) {
        case kGrey:
            return length == 2;
        case kRgb:
            return length == 6;
        case kPalette:
            return !chunks.palette.empty() && length > 0 &&
                   length <=
                       std::min<size_t>(chunks.palette.size() / 3, size_t{1} << header.bitDepth);
        default:
            return false;
    }
}

}  // namespace

namespace png {

// Walks the chunks up to IEND as libpng reads them for Qt: checksums of the critical chunks
// are checked, ancillary chunks are skipped unread (Qt applies none of them to the pixels and
// libpng only warns about a damaged one). Unknown critical chunks and image data split by
// other chunks are left to Qt, and so are palettes and tRNS unless allKinds.
Chunks walkChunks(std::span<const uint8_t> data, bool allKinds) {
    Chunks chunks;
    size_t at = kSignature.size();
    bool dataEnded = false;  // some chunk has followed the IDATs
    auto end = [&](Walk walk) {
        chunks.walk = walk;
        chunks.beforeData = chunks.data.empty();
        return chunks;
    };
    for (;;) {
        const size_t left = data.size() - at;
        // Qt reads a file whose IEND lacks (some of) its checksum as whole.
        if (left >= 8 && left < 12 &&
            std::equal(kIendHeader.begin(), kIendHeader.end(), data.begin() + at))
            return end(chunks.data.empty() ? Walk::LeaveToQt : Walk::Complete);
        if (left < 12)
            return end(Walk::Broken);
        const uint32_t length = readBigEndian32(&data[at]);
        const uint8_t* type = &data[at + 4];
        if (length > 0x7FFFFFFF || length > left - 12 || !validChunkType(type))
            return end(Walk::Broken);
        const std::span<const uint8_t> payload = data.subspan(at + 8, length);
        const bool first = at == kSignature.size();
        at += size_t{length} + 12;
        if (first != isChunk(type, "IHDR"))
            return end(Walk::LeaveToQt);
        dataEnded = dataEnded || (!chunks.data.empty() && !isChunk(type, "IDAT"));
        const auto crcOk = [&] {
            return libdeflate_crc32(0, type, size_t{length} + 4) ==
                   readBigEndian32(payload.data() + length);
        };
        if ((type[0] & 0x20) != 0) {
            if (isChunk(type, "tRNS") && allKinds && chunks.data.empty()) {
                if (!crcOk() || !chunks.transparency.empty() ||
                    !validTransparency(chunks.header, chunks, length))
                    return end(Walk::LeaveToQt);
                chunks.transparency = payload;
            } else if ((isChunk(type, "tRNS") && !allKinds) || length > kMaxSkippedChunkBytes) {
                return end(Walk::LeaveToQt);
            }
            continue;
        }
        if (!crcOk())
            return end(Walk::Broken);
        if (first) {
            if (const Walk walk = readHeader(payload, chunks.header, allKinds);
                walk != Walk::Complete)
                return end(walk);
        } else if (isChunk(type, "IDAT")) {
            if (dataEnded || (chunks.header.colourType == kPalette && chunks.palette.empty()))
                return end(Walk::LeaveToQt);
            chunks.data.push_back(payload);
        } else if (isChunk(type, "IEND")) {
            return end(length == 0 && !chunks.data.empty() ? Walk::Complete : Walk::LeaveToQt);
        } else if (isChunk(type, "PLTE") && allKinds && chunks.data.empty() &&
                   chunks.palette.empty() && (chunks.header.colourType & 2) != 0 && length > 0 &&
                   length <= 768 && length % 3 == 0) {
            chunks.palette = payload;
        } else {
            return end(Walk::LeaveToQt);
        }
    }
}

// libpng refuses an IDAT chunk longer than the rows could take even stored uncompressed,
// at its own estimate of the zlib overhead.
bool withinLibpngDataLimit(const Chunks& chunks, size_t rowBytes, size_t rawBytes) {
    const size_t perBlock = std::min<size_t>(rowBytes, 32566);
    const size_t limit = rawBytes + 6 + 5 * (rawBytes / perBlock + 1);
    return std::all_of(chunks.data.begin(), chunks.data.end(),
                       [&](std::span<const uint8_t> piece) { return piece.size() <= limit; });
}

// zlib refuses back-references beyond the window the stream's header declares, which
// libdeflate does not check. None can reach that far when the whole output fits in the
// window (as libpng's writer sizes it for small pictures).
bool windowTooSmall(std::span<const uint8_t> stream, size_t inflatedBytes) {
    return stream.size() >= 2 && (stream[0] & 0x0F) == 8 && (stream[0] >> 4) < 7 &&
           inflatedBytes > size_t{1} << ((stream[0] >> 4) + 8);
}

}  // namespace png

namespace {

// ---- unfiltering: each row rebuilt from its left neighbour, the row above and their corner

uint8_t paeth(uint8_t left, uint8_t above, uint8_t corner) {
    const int p = int{left} + int{above} - int{corner};
    const int pa = std::abs(p - left), pb = std::abs(p - above), pc = std::abs(p - corner);
    if (pa <= pb && pa <= pc)
        return left;
    return pb <= pc ? above : corner;
}

// The first bytesPerPixel bytes have no left neighbour: it counts as 0.
void unfilterPlain(uint8_t filter, uint8_t* row, const uint8_t* above, size_t size, size_t bpp) {
    switch (filter) {
        case 1:
            for (size_t i = bpp; i < size; ++i)
                row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
            break;
        case 2:
            for (size_t i = 0; i < size; ++i)
                row[i] = static_cast<uint8_t>(row[i] + above[i]);
            break;
        case 3:
            for (size_t i = 0; i < bpp; ++i)
                row[i] = static_cast<uint8_t>(row[i] + (above[i] >> 1));
            for (size_t i = bpp; i < size; ++i)
                row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + above[i]) >> 1));
            break;
        case 4:
            for (size_t i = 0; i < bpp; ++i)
                row[i] = static_cast<uint8_t>(row[i] + above[i]);
            for (size_t i = bpp; i < size; ++i)
                row[i] =
                    static_cast<uint8_t>(row[i] + paeth(row[i - bpp], above[i], above[i - bpp]));
            break;
        default:
            break;
    }
}

#ifdef __SSE2__
// Sub, Average and Paeth depend on the pixel to the left, so the vector passes go one pixel
// (three or four bytes, in the low lanes of a register) at a time; the lanes are the
// channels, computed exactly as the plain loop does. A three-byte pixel is put together in a
// general register: assembled in memory, it would be read back whole right after piecewise
// writes, and the stalled store forwarding made RGB slower than Qt.

// Three-byte pixels are put together in a register: built in memory, a pixel would be read
// back whole right after being written piecewise, which stalls the store forwarding.
template <size_t Bpp>
__m128i loadPixel(const uint8_t* p) {
    uint32_t v = 0;
    if constexpr (Bpp == 4)
        std::memcpy(&v, p, 4);
    else
        v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
    return _mm_cvtsi32_si128(static_cast<int>(v));
}

template <size_t Bpp>
void storePixel(uint8_t* p, __m128i v) {
    const auto word = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    if constexpr (Bpp == 4) {
        std::memcpy(p, &word, 4);
    } else {
        p[0] = static_cast<uint8_t>(word);
        p[1] = static_cast<uint8_t>(word >> 8);
        p[2] = static_cast<uint8_t>(word >> 16);
    }
}

template <size_t Bpp>
void unfilterSub(uint8_t* row, size_t size) {
    __m128i left = _mm_setzero_si128();
    for (size_t i = 0; i < size; i += Bpp) {
        left = _mm_add_epi8(loadPixel<Bpp>(row + i), left);
        storePixel<Bpp>(row + i, left);
    }
}

template <size_t Bpp>
void unfilterAverage(uint8_t* row, const uint8_t* above, size_t size) {
    const __m128i one = _mm_set1_epi8(1);
    __m128i left = _mm_setzero_si128();
    for (size_t i = 0; i < size; i += Bpp) {
        const __m128i up = loadPixel<Bpp>(above + i);
        // _mm_avg_epu8 rounds up; the filter's mean rounds down.
        const __m128i mean =
            _mm_sub_epi8(_mm_avg_epu8(left, up), _mm_and_si128(_mm_xor_si128(left, up), one));
        left = _mm_add_epi8(loadPixel<Bpp>(row + i), mean);
        storePixel<Bpp>(row + i, left);
    }
}

__m128i absolute16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

template <size_t Bpp>
void unfilterPaeth(uint8_t* row, const uint8_t* above, size_t size) {
    const __m128i zero = _mm_setzero_si128();
    __m128i left = zero, corner = zero;  // as 16-bit lanes
    for (size_t i = 0; i < size; i += Bpp) {
        const __m128i up = _mm_unpacklo_epi8(loadPixel<Bpp>(above + i), zero);
        const __m128i fromCorner = _mm_sub_epi16(up, corner);
        const __m128i leftFromCorner = _mm_sub_epi16(left, corner);
        const __m128i pa = absolute16(fromCorner);
        const __m128i pb = absolute16(leftFromCorner);
        const __m128i pc = absolute16(_mm_add_epi16(fromCorner, leftFromCorner));
        const __m128i smallest = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
        // The first of left, above, corner whose distance is the smallest, as the plain rule.
        const __m128i takeLeft = _mm_cmpeq_epi16(smallest, pa);
        const __m128i takeUp = _mm_andnot_si128(takeLeft, _mm_cmpeq_epi16(smallest, pb));
        const __m128i takeCorner =
            _mm_andnot_si128(_mm_or_si128(takeLeft, takeUp), _mm_set1_epi16(-1));
        const __m128i predictor =
            _mm_or_si128(_mm_or_si128(_mm_and_si128(takeLeft, left), _mm_and_si128(takeUp, up)),
                         _mm_and_si128(takeCorner, corner));
        const __m128i value =
            _mm_add_epi8(loadPixel<Bpp>(row + i), _mm_packus_epi16(predictor, zero));
        storePixel<Bpp>(row + i, value);
        left = _mm_unpacklo_epi8(value, zero);
        corner = up;
    }
}

void unfilterUp(uint8_t* row, const uint8_t* above, size_t size) {
    size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        auto* at = reinterpret_cast<__m128i*>(row + i);
        const __m128i up = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        _mm_storeu_si128(at, _mm_add_epi8(_mm_loadu_si128(at), up));
    }
    unfilterPlain(2, row + i, above + i, size - i, 1);
}

template <size_t Bpp>
void unfilterVector(uint8_t filter, uint8_t* row, const uint8_t* above, size_t size) {
    switch (filter) {
        case 1:
            return unfilterSub<Bpp>(row, size);
        case 2:
            return unfilterUp(row, above, size);
        case 3:
            return unfilterAverage<Bpp>(row, above, size);
        case 4:
            return unfilterPaeth<Bpp>(row, above, size);
        default:
            return;
    }
}
#endif

// Undoes one row's filter in place; above is the previous row, already unfiltered.
void unfilter(uint8_t filter, uint8_t* row, const uint8_t* above, size_t size, size_t bpp) {
#ifdef __SSE2__
    if (bpp == 4)
        return unfilterVector<4>(filter, row, above, size);
    if (bpp == 3)
        return unfilterVector<3>(filter, row, above, size);
    if (filter == 2)
        return unfilterUp(row, above, size);
#endif
    unfilterPlain(filter, row, above, size, bpp);
}

// ---- conversion to the holder's pixels, 0xAARRGGBB as a native word -----------------------
// Each converter reads a pixel before writing it and may write over the samples it has
// already read, so a row can be converted onto itself moved toward lower addresses.

void storeWord(uint8_t* to, uint32_t argb) {
    std::memcpy(to, &argb, 4);
}

void convertRgba(const uint8_t* from, uint8_t* to, size_t width) {
    size_t x = 0;
#ifdef __SSE2__
    if constexpr (std::endian::native == std::endian::little) {
        // Red and blue trade places; four pixels a register.
        const __m128i alphaGreen = _mm_set1_epi32(static_cast<int>(0xFF00FF00));
        const __m128i low = _mm_set1_epi32(0xFF);
        for (; x + 4 <= width; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * x));
            const __m128i red = _mm_slli_epi32(_mm_and_si128(v, low), 16);
            const __m128i blue = _mm_and_si128(_mm_srli_epi32(v, 16), low);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4 * x),
                             _mm_or_si128(_mm_and_si128(v, alphaGreen), _mm_or_si128(red, blue)));
        }
    }
#endif
    for (; x < width; ++x) {
        const uint8_t* p = from + 4 * x;
        storeWord(to + 4 * x,
                  uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
    }
}

void convertRgb(const uint8_t* from, uint8_t* to, size_t width) {
    for (size_t x = 0; x < width; ++x) {
        const uint8_t* p = from + 3 * x;
        storeWord(to + 4 * x, 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2]);
    }
}

void convertGreyAlpha(const uint8_t* from, uint8_t* to, size_t width) {
    for (size_t x = 0; x < width; ++x)
        storeWord(to + 4 * x, uint32_t{from[2 * x + 1]} << 24 | from[2 * x] * 0x010101u);
}

void convertGrey(const uint8_t* from, uint8_t* to, size_t width) {
    for (size_t x = 0; x < width; ++x)
        storeWord(to + 4 * x, 0xFF000000u | from[x] * 0x010101u);
}

void convert(uint8_t colourType, const uint8_t* from, uint8_t* to, size_t width) {
    switch (colourType) {
        case kRgba:
            return convertRgba(from, to, width);
        case kRgb:
            return convertRgb(from, to, width);
        case kGreyAlpha:
            return convertGreyAlpha(from, to, width);
        default:
            return convertGrey(from, to, width);
    }
}

struct FreeDeleter {
    void operator()(uint8_t* bytes) const { std::free(bytes); }
};
using Buffer = std::unique_ptr<uint8_t, FreeDeleter>;

// Plain pages: asking for huge pages (madvise) sped the decode up alone, but in the viewer
// the kernel's compaction for them made the first picture up to 100 ms late, now and then.
Buffer allocate(size_t size) {
    return Buffer(static_cast<uint8_t*>(std::malloc(size)));
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// The geometry of one buffer that first holds the inflated rows (a filter byte and the
// samples each) and ends up holding the 32-bit pixels. The rows sit at the buffer's end, so
// that row y's pixels, written from the front, never overtake its unread samples.
struct Geometry {
    size_t width = 0;
    size_t height = 0;
    size_t rowBytes = 0;  // a filter byte and the samples
    size_t rawBytes = 0;
    size_t rawOffset = 0;
    size_t bufferBytes = 0;

    explicit Geometry(const Header& header)
        : width(header.width),
          height(header.height),
          rowBytes(1 + width * header.bytesPerPixel),
          rawBytes(height * rowBytes) {
        const size_t pixelBytes = width * height * 4;
        rawOffset = pixelBytes > rawBytes ? pixelBytes - rawBytes : 0;
        bufferBytes = rawOffset + rawBytes;
    }
};

// Rows between two looks at the stop token.
constexpr size_t kStopCheckRows = 64;

// Rebuilds the rows and converts each once the next one no longer needs it as its row above.
DecodeStatus unfilterAndConvert(uint8_t* buffer, const Geometry& g, const Header& header,
                                const std::stop_token& stop) {
    const size_t samples = g.rowBytes - 1;
    const std::vector<uint8_t> zeros(samples);  // the row above the first
    const uint8_t* above = zeros.data();
    uint8_t* const raw = buffer + g.rawOffset;
    for (size_t y = 0; y < g.height; ++y) {
        uint8_t* row = raw + y * g.rowBytes;
        if (y % kStopCheckRows == 0 && stop.stop_requested())
            return DecodeStatus::Cancelled;
        if (row[0] > 4) {
            qCDebug(lcRender) << "png row with an unknown filter";
            return DecodeStatus::Failed;
        }
        unfilter(row[0], row + 1, above, samples, header.bytesPerPixel);
        if (y > 0)
            convert(header.colourType, above, buffer + (y - 1) * g.width * 4, g.width);
        above = row + 1;
    }
    convert(header.colourType, above, buffer + (g.height - 1) * g.width * 4, g.width);
    return DecodeStatus::Ok;
}

// The IDAT payloads as one zlib stream: the single chunk itself, or a gathered copy.
std::span<const uint8_t> zlibStream(const Chunks& chunks, std::vector<uint8_t>& gathered) {
    if (chunks.data.size() == 1)
        return chunks.data.front();
    size_t total = 0;
    for (const auto& piece : chunks.data)
        total += piece.size();
    gathered.reserve(total);
    for (const auto& piece : chunks.data)
        gathered.insert(gathered.end(), piece.begin(), piece.end());
    return gathered;
}

std::optional<DecodeStatus> inflate(std::span<const uint8_t> stream, uint8_t* to, size_t size) {
    if (png::windowTooSmall(stream, size))
        return std::nullopt;
    std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor)
        return DecodeStatus::OutOfMemory;
    size_t read = 0, written = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(
        decompressor.get(), stream.data(), stream.size(), to, size, &read, &written);
    // More image data than the rows need, or bytes after the stream's end: whether that is a
    // warning or a failure is libpng's call, so such files go to Qt.
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE ||
        (result == LIBDEFLATE_SUCCESS && read != stream.size()))
        return std::nullopt;
    if (result != LIBDEFLATE_SUCCESS || written != size) {
        qCDebug(lcRender) << "png image data broken or short:" << result << written << size;
        return DecodeStatus::Failed;
    }
    return DecodeStatus::Ok;
}

std::optional<DecodeStatus> decode(std::span<const uint8_t> data, Image& out,
                                   const std::stop_token& stop) {
    if (!isPng(data))
        return std::nullopt;
    const Chunks chunks = png::walkChunks(data, false);
    if (chunks.walk == Walk::LeaveToQt)
        return std::nullopt;
    // As through Qt: the size is judged once the header chunks have been read.
    if (chunks.walk == Walk::Broken && chunks.beforeData)
        return DecodeStatus::Failed;
    const Header& header = chunks.header;
    if (uint64_t{header.width} * header.height * 4 > Image::maxPictureBytes())
        return DecodeStatus::OutOfMemory;
    if (chunks.walk == Walk::Broken)
        return DecodeStatus::Failed;

    const Geometry geometry(header);
    if (!png::withinLibpngDataLimit(chunks, geometry.rowBytes, geometry.rawBytes))
        return std::nullopt;
    std::vector<uint8_t> gathered;
    const std::span<const uint8_t> stream = zlibStream(chunks, gathered);
    Buffer buffer = allocate(geometry.bufferBytes);
    if (!buffer)
        return DecodeStatus::OutOfMemory;
    const PageWarmer warmer(buffer.get(), geometry.bufferBytes);
    const std::optional<DecodeStatus> inflated =
        inflate(stream, buffer.get() + geometry.rawOffset, geometry.rawBytes);
    if (inflated != DecodeStatus::Ok)
        return inflated;
    if (const DecodeStatus rows = unfilterAndConvert(buffer.get(), geometry, header, stop);
        rows != DecodeStatus::Ok)
        return rows;
    const bool withAlpha = header.colourType == kRgba || header.colourType == kGreyAlpha;
    // The picture keeps the buffer: QImage frees it with the last copy and writes through
    // scanLine() without copying, since the pixels are neither shared nor read-only.
    QImage image(
        buffer.get(), static_cast<int>(header.width), static_cast<int>(header.height),
        static_cast<qsizetype>(geometry.width * 4),
        withAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32,
        [](void* pixels) { std::free(pixels); }, buffer.get());
    if (image.isNull())
        return DecodeStatus::OutOfMemory;
    static_cast<void>(buffer.release());  // the picture frees it now
    return out.adopt(std::move(image)) ? DecodeStatus::Ok : DecodeStatus::Failed;
}

}  // namespace

bool isPng(std::span<const uint8_t> data) {
    return data.size() >= kSignature.size() &&
           std::equal(kSignature.begin(), kSignature.end(), data.begin());
}

std::optional<DecodeStatus> decodePngFast(std::span<const uint8_t> data, Image& out,
                                          std::stop_token stop) {
    const std::optional<DecodeStatus> status = decode(data, out, stop);
    if (status && *status != DecodeStatus::Ok)
        out.destroy();
    return status;
}

namespace png {

void unfilterRow(uint8_t filter, uint8_t* row, const uint8_t* above, size_t size, size_t bpp) {
    unfilter(filter, row, above, size, bpp);
}

void convertRow(uint8_t colourType, const uint8_t* from, uint32_t* to, size_t width) {
    convert(colourType, from, reinterpret_cast<uint8_t*>(to), width);
}

}  // namespace png
