#include "render/pixels/pixel_ops.h"

#include <algorithm>

#include "platform/page_warmer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

// Pixels are moved in square tiles so that both the rows read and the rows written stay in
// the cache; a straight column walk over a large photo misses on every pixel.
constexpr int32_t kTurnTile = 64;

const uint32_t* pixelRow(const Image& picture, int32_t y) {
    return reinterpret_cast<const uint32_t*>(picture.row(y));
}

uint32_t* pixelRow(Image& picture, int32_t y) {
    return reinterpret_cast<uint32_t*>(picture.row(y));
}

// Fills turned (already of the turned size) from picture; sourceAt maps a turned position
// (x, y) to the source position it takes its pixel from.
template <typename SourceAt>
void moveTiles(const Image& picture, Image& turned, SourceAt sourceAt) {
    const int32_t width = turned.width();
    const int32_t height = turned.height();
    for (int32_t ty = 0; ty < height; ty += kTurnTile) {
        const int32_t yEnd = std::min(height, ty + kTurnTile);
        for (int32_t tx = 0; tx < width; tx += kTurnTile) {
            const int32_t xEnd = std::min(width, tx + kTurnTile);
            for (int32_t y = ty; y < yEnd; ++y) {
                uint32_t* out = pixelRow(turned, y);
                for (int32_t x = tx; x < xEnd; ++x) {
                    const auto [sx, sy] = sourceAt(x, y);
                    out[x] = pixelRow(picture, sy)[sx];
                }
            }
        }
    }
}

}  // namespace

uint32_t backgroundColour(int32_t level) {
    const uint32_t v = static_cast<uint32_t>(level) & 0xFFu;
    return kOpaque | v << 16 | v << 8 | v;
}

void fillSolid(QImage& image, const PixelRect& rect, uint32_t colour) {
    if (image.depth() != 32)
        return;
    // 64-bit edges: a strip's far edge may lie beyond the range of int32 arithmetic.
    const int64_t x0 = std::max<int64_t>(rect.x, 0);
    const int64_t y0 = std::max<int64_t>(rect.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{rect.x} + rect.width, image.width());
    const int64_t y1 = std::min<int64_t>(int64_t{rect.y} + rect.height, image.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    for (int64_t y = y0; y < y1; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(static_cast<int>(y)));
        std::fill(row + x0, row + x1, colour);
    }
}

bool turnPicture(Image& picture, int32_t rotation) {
    if (picture.empty() || rotation < 1 || rotation > 3)
        return false;
    const int32_t w = picture.width();
    const int32_t h = picture.height();
    const bool quarter = rotation != 3;
    Image turned;
    if (!turned.create(quarter ? h : w, quarter ? w : h, picture.hasAlpha()))
        return false;
    const PageWarmer warmer(turned.row(0), static_cast<size_t>(turned.pitch()) * turned.height());
    const Image& source = picture;
    struct Pos {
        int32_t x;
        int32_t y;
    };
    if (rotation == 1)
        moveTiles(source, turned, [h](int32_t x, int32_t y) { return Pos{y, h - 1 - x}; });
    else if (rotation == 2)
        moveTiles(source, turned, [w](int32_t x, int32_t y) { return Pos{w - 1 - y, x}; });
    else
        moveTiles(source, turned, [w, h](int32_t x, int32_t y) {
            return Pos{w - 1 - x, h - 1 - y};
        });
    turned.setFullSize(quarter ? picture.fullHeight() : picture.fullWidth(),
                       quarter ? picture.fullWidth() : picture.fullHeight());
    picture.swap(turned);
    return true;
}

void premultiplyAlpha(Image& picture) {
    if (picture.empty() || !picture.hasAlpha())
        return;
    for (int32_t y = 0; y < picture.height(); ++y) {
        uint8_t* p = picture.row(y);
        int32_t x = 0;
#if defined(__SSE2__)
        // Four pixels at a time. x * a / 255, truncated, is (x * a * 0x8081) >> 23 for every
        // product of two bytes, so this gives exactly what the loop below gives.
        const __m128i zero = _mm_setzero_si128();
        const __m128i reciprocal = _mm_set1_epi16(static_cast<int16_t>(0x8081));
        const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
        for (; x + 4 <= picture.width(); x += 4, p += 16) {
            const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i halves[2] = {_mm_unpacklo_epi8(pixels, zero), _mm_unpackhi_epi8(pixels, zero)};
            for (__m128i& half : halves) {
                const __m128i alpha = _mm_shufflehi_epi16(
                    _mm_shufflelo_epi16(half, _MM_SHUFFLE(3, 3, 3, 3)), _MM_SHUFFLE(3, 3, 3, 3));
                const __m128i product = _mm_mullo_epi16(half, alpha);
                const __m128i quotient = _mm_srli_epi16(_mm_mulhi_epu16(product, reciprocal), 7);
                half = _mm_or_si128(_mm_andnot_si128(alphaLanes, quotient),
                                    _mm_and_si128(alphaLanes, half));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(halves[0], halves[1]));
        }
#endif
        for (; x < picture.width(); ++x, p += 4) {
            const uint32_t a = p[3];
            if (a == 255)
                continue;
            p[0] = static_cast<uint8_t>(p[0] * a / 255);
            p[1] = static_cast<uint8_t>(p[1] * a / 255);
            p[2] = static_cast<uint8_t>(p[2] * a / 255);
        }
    }
}

void blendPremultipliedOver(const uint32_t* src, uint32_t* dst, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t s = src[i];
        const uint32_t a = s >> 24;
        if (a == 255) {
            dst[i] = s;
            continue;
        }
        const uint32_t d = dst[i];
        const uint32_t keep = 255 - a;
        uint32_t out = kOpaque;
        for (int shift = 0; shift < 24; shift += 8) {
            // (x + 128 + ((x + 128) >> 8)) >> 8 is x / 255 rounded, exact for x < 65536.
            const uint32_t t = ((d >> shift) & 0xFFu) * keep + 128;
            const uint32_t c = ((s >> shift) & 0xFFu) + ((t + (t >> 8)) >> 8);
            out |= std::min<uint32_t>(c, 255) << shift;
        }
        dst[i] = out;
    }
}

void copyOpaque(const uint32_t* src, uint32_t* dst, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        dst[i] = src[i] | kOpaque;
}
