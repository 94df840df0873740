#include "render/pixels/resample.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <vector>

#include "render/pixels/resample_taps.h"

// QUILLMERE_RESAMPLE_PLAIN builds the plain loops only, to compare the SSE2 passes with them.
#if defined(__SSE2__) && !defined(QUILLMERE_RESAMPLE_PLAIN)
#include <emmintrin.h>
#define QUILLMERE_RESAMPLE_SSE2 1
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define QUILLMERE_RESAMPLE_AVX2 1
#endif
#endif

namespace {

using namespace resample_detail;

// Below this many tap operations a second thread costs more than it saves.
constexpr int64_t kMinParallelWork = 200'000;

// The columns of a reduction where none has more than four taps (a fit to more than a third
// of the width), ready for the multiply-adds: each column's weights as pairs, every pair
// repeated over a 16-byte register, and pair k of neighbouring columns side by side.
struct PairedColumns {
    int32_t pairs = 0;  // pairs of taps per column, 1 or 2
    std::vector<int32_t> weights[2];
    std::vector<int32_t> offset;  // where each column's first tap lies in the carried row
};

struct Job {
    const Image& source;
    const AxisTaps& columns;
    const AxisTaps& rows;
    uint32_t* out;
    ptrdiff_t outStride;
    const PairedColumns* paired = nullptr;
};

// Weighted sums of the horizontal taps for every computed column, four channels each. in
// holds four values per source column from columns.lowest on.
template <typename In>
void horizontalSums(const AxisTaps& cols, const In* in, int32_t* sums) {
    const size_t columnCount = cols.first.size();
    const int32_t* w = cols.weight.data();
    if (cols.twoTaps) {
        for (size_t c = 0; c < columnCount; ++c, w += 2, sums += 4) {
            const In* p = in + static_cast<size_t>(cols.first[c] - cols.lowest) * 4;
            for (int ch = 0; ch < 4; ++ch)
                sums[ch] = w[0] * p[ch] + w[1] * p[4 + ch];
        }
        return;
    }
    for (size_t c = 0; c < columnCount; ++c, sums += 4) {
        const In* p = in + static_cast<size_t>(cols.first[c] - cols.lowest) * 4;
        const int32_t* cw = w + cols.offset[c];
        int32_t sum[4] = {0, 0, 0, 0};
        for (int32_t k = 0; k < cols.count[c]; ++k, p += 4)
            for (int ch = 0; ch < 4; ++ch)
                sum[ch] += cw[k] * p[ch];
        for (int ch = 0; ch < 4; ++ch)
            sums[ch] = sum[ch];
    }
}

void packPixels(const int32_t* sums, size_t count, int32_t shift, uint32_t* out) {
    const int32_t half = 1 << (shift - 1);
    for (size_t c = 0; c < count; ++c, sums += 4) {
        uint32_t pixel = 0;
        for (int ch = 0; ch < 4; ++ch) {
            const int32_t v = (sums[ch] + half) >> shift;
            pixel |= static_cast<uint32_t>(std::min(v, 255)) << (8 * ch);
        }
        out[c] = pixel;
    }
}

void reduceCarry(int32_t* values, size_t count) {
    for (size_t b = 0; b < count; ++b)
        values[b] = (values[b] + (1 << (kVerticalShift - 1))) >> kVerticalShift;
}

#if defined(QUILLMERE_RESAMPLE_SSE2)
// The SSE2 forms of the reducing passes below. They compute exactly what the plain loops do:
// every product and sum fits its 32-bit lane, and taps are taken in pairs by one multiply-add
// of 16-bit values (bytes, carried values up to 255 << kCarryBits and weights up to
// kWeightOne all fit), the odd one paired with a zero weight.

// Two weights as the 16-bit pair a multiply-add takes, first in the low half.
int32_t pairWord(int32_t first, int32_t second) {
    return static_cast<int32_t>(static_cast<uint32_t>(second) << 16 |
                                (static_cast<uint32_t>(first) & 0xFFFF));
}

__m128i weightPair(int32_t first, int32_t second) {
    return _mm_set1_epi32(pairWord(first, second));
}

// carry[i] += w0 * a[i] + w1 * b[i] over length bytes.
void accumulateRows(const uint8_t* a, const uint8_t* b, int32_t w0, int32_t w1, int32_t* carry,
                    size_t length) {
    const __m128i weights = weightPair(w0, w1);
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i pairs[2] = {_mm_unpacklo_epi8(va, vb), _mm_unpackhi_epi8(va, vb)};
        auto* out = reinterpret_cast<__m128i*>(carry + i);
        for (int half = 0; half < 2; ++half) {
            const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi8(pairs[half], zero), weights);
            const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi8(pairs[half], zero), weights);
            _mm_storeu_si128(out + ptrdiff_t{2} * half,
                             _mm_add_epi32(_mm_loadu_si128(out + ptrdiff_t{2} * half), low));
            _mm_storeu_si128(out + ptrdiff_t{2} * half + 1,
                             _mm_add_epi32(_mm_loadu_si128(out + ptrdiff_t{2} * half + 1), high));
        }
    }
    for (; i < length; ++i)
        carry[i] += w0 * a[i] + w1 * b[i];
}

// narrow[i] = w0 * a[i] + w1 * b[i] rounded to kCarryBits of fraction: accumulateRows and
// narrowCarry in one pass, for an output row of at most two source rows.
void narrowTwoRowsSse2(const uint8_t* a, const uint8_t* b, int32_t w0, int32_t w1, int16_t* narrow,
                       size_t length) {
    const __m128i weights = weightPair(w0, w1);
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (kVerticalShift - 1));
    const auto rounded = [&](__m128i pairs) {
        return _mm_srai_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, weights), half), kVerticalShift);
    };
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        const __m128i low = _mm_unpacklo_epi8(va, vb);
        const __m128i high = _mm_unpackhi_epi8(va, vb);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + i),
                         _mm_packs_epi32(rounded(_mm_unpacklo_epi8(low, zero)),
                                         rounded(_mm_unpackhi_epi8(low, zero))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + i + 8),
                         _mm_packs_epi32(rounded(_mm_unpacklo_epi8(high, zero)),
                                         rounded(_mm_unpackhi_epi8(high, zero))));
    }
    for (; i < length; ++i)
        narrow[i] = static_cast<int16_t>((w0 * a[i] + w1 * b[i] + (1 << (kVerticalShift - 1))) >>
                                         kVerticalShift);
}

#if defined(QUILLMERE_RESAMPLE_AVX2)
// Whether the processor has AVX2, asked once.
bool hasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// narrowTwoRowsSse2 with AVX2, where the processor has it: the bytes widened in order pair up
// within each half of the register, and the halves pack back in order.
__attribute__((target("avx2"))) void narrowTwoRowsAvx2(const uint8_t* a, const uint8_t* b,
                                                       int32_t w0, int32_t w1, int16_t* narrow,
                                                       size_t length) {
    const __m256i weights = _mm256_set1_epi32(pairWord(w0, w1));
    const __m256i half = _mm256_set1_epi32(1 << (kVerticalShift - 1));
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m256i va =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i)));
        const __m256i vb =
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)));
        const __m256i low = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(va, vb), weights), half),
            kVerticalShift);
        const __m256i high = _mm256_srai_epi32(
            _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(va, vb), weights), half),
            kVerticalShift);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(narrow + i), _mm256_packs_epi32(low, high));
    }
    narrowTwoRowsSse2(a + i, b + i, w0, w1, narrow + i, length - i);
}
#endif

void narrowTwoRows(const uint8_t* a, const uint8_t* b, int32_t w0, int32_t w1, int16_t* narrow,
                   size_t length) {
#if defined(QUILLMERE_RESAMPLE_AVX2)
    if (hasAvx2()) {
        narrowTwoRowsAvx2(a, b, w0, w1, narrow, length);
        return;
    }
#endif
    narrowTwoRowsSse2(a, b, w0, w1, narrow, length);
}

// Rounds the carried sums to kCarryBits of fraction as 16-bit values.
void narrowCarry(const int32_t* carry, int16_t* narrow, size_t length) {
    const __m128i half = _mm_set1_epi32(1 << (kVerticalShift - 1));
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        const __m128i low = _mm_srai_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(carry + i)), half),
            kVerticalShift);
        const __m128i high = _mm_srai_epi32(
            _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(carry + i + 4)), half),
            kVerticalShift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(narrow + i), _mm_packs_epi32(low, high));
    }
    for (; i < length; ++i)
        narrow[i] =
            static_cast<int16_t>((carry[i] + (1 << (kVerticalShift - 1))) >> kVerticalShift);
}

// The horizontal taps of every computed column from the narrowed carried row, packed.
void horizontalPack(const AxisTaps& cols, const int16_t* in, uint32_t* out) {
    const __m128i half = _mm_set1_epi32(1 << (kHorizontalShift - 1));
    const __m128i zero = _mm_setzero_si128();
    const size_t columnCount = cols.first.size();
    for (size_t c = 0; c < columnCount; ++c) {
        const int16_t* p = in + static_cast<size_t>(cols.first[c] - cols.lowest) * 4;
        const int32_t* w = cols.weight.data() + cols.offset[c];
        const int32_t n = cols.count[c];
        __m128i sum = zero;
        int32_t k = 0;
        for (; k + 1 < n; k += 2, p += 8) {
            const __m128i pixels =
                _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 4)));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(pixels, weightPair(w[k], w[k + 1])));
        }
        if (k < n) {
            const __m128i pixel =
                _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
            sum = _mm_add_epi32(sum, _mm_madd_epi16(pixel, weightPair(w[k], 0)));
        }
        sum = _mm_srai_epi32(_mm_add_epi32(sum, half), kHorizontalShift);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
        out[c] = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    }
}

// The pairs' layout for columns of at most four taps, or nothing for wider ones.
std::optional<PairedColumns> pairColumns(const AxisTaps& cols) {
    int32_t widest = 0;
    for (const int32_t count : cols.count)
        widest = std::max(widest, count);
    if (widest > 4)
        return std::nullopt;
    PairedColumns paired;
    paired.pairs = widest <= 2 ? 1 : 2;
    const size_t columnCount = cols.first.size();
    for (int32_t k = 0; k < paired.pairs; ++k)
        paired.weights[k].reserve(columnCount * 4);
    paired.offset.reserve(columnCount);
    for (size_t c = 0; c < columnCount; ++c) {
        const int32_t* w = cols.weight.data() + cols.offset[c];
        const int32_t n = cols.count[c];
        for (int32_t k = 0; k < paired.pairs; ++k) {
            const int32_t first = 2 * k < n ? w[ptrdiff_t{2} * k] : 0;
            const int32_t second = 2 * k + 1 < n ? w[2 * k + 1] : 0;
            paired.weights[k].insert(paired.weights[k].end(), 4, pairWord(first, second));
        }
        paired.offset.push_back((cols.first[c] - cols.lowest) * 4);
    }
    return paired;
}

// The carried row is read past its end by up to this many values (a column's unused taps,
// weighed 0), so it is made that much longer.
constexpr size_t kPairedOverread = 16;

// The sums of column c: its taps side by side in the row, interleaved per channel for the
// multiply-add with its pairs of weights.
template <int Pairs>
__m128i pairedSums(const PairedColumns& paired, const int16_t* in, size_t c) {
    const int16_t* p = in + paired.offset[c];
    __m128i sum = _mm_setzero_si128();
    for (int k = 0; k < Pairs; ++k) {
        const __m128i taps =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + ptrdiff_t{8} * k));
        const __m128i weights =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(paired.weights[k].data() + c * 4));
        sum = _mm_add_epi32(
            sum, _mm_madd_epi16(_mm_unpacklo_epi16(taps, _mm_srli_si128(taps, 8)), weights));
    }
    return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << (kHorizontalShift - 1))),
                          kHorizontalShift);
}

// horizontalPack for paired columns [from, count), two at a time.
template <int Pairs>
void pairedPack(const PairedColumns& paired, const int16_t* in, uint32_t* out, size_t from,
                size_t count) {
    const __m128i zero = _mm_setzero_si128();
    size_t c = from;
    for (; c + 2 <= count; c += 2) {
        const __m128i words =
            _mm_packs_epi32(pairedSums<Pairs>(paired, in, c), pairedSums<Pairs>(paired, in, c + 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + c), _mm_packus_epi16(words, zero));
    }
    if (c < count) {
        const __m128i words = _mm_packs_epi32(pairedSums<Pairs>(paired, in, c), zero);
        out[c] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, zero)));
    }
}

#if defined(QUILLMERE_RESAMPLE_AVX2)
// The same sums for columns c and c + 1, one in each half of the register.
template <int Pairs>
__attribute__((target("avx2"))) __m256i pairedSumsAvx2(const PairedColumns& paired,
                                                       const int16_t* in, size_t c) {
    const __m256i interleave =
        _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                         11, 4, 5, 12, 13, 6, 7, 14, 15);
    const int16_t* p = in + paired.offset[c];
    const int16_t* q = in + paired.offset[c + 1];
    __m256i sum = _mm256_setzero_si256();
    for (int k = 0; k < Pairs; ++k) {
        const __m256i taps = _mm256_inserti128_si256(
            _mm256_castsi128_si256(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + ptrdiff_t{8} * k))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + ptrdiff_t{8} * k)), 1);
        const __m256i weights =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(paired.weights[k].data() + c * 4));
        sum = _mm256_add_epi32(sum,
                               _mm256_madd_epi16(_mm256_shuffle_epi8(taps, interleave), weights));
    }
    return _mm256_srai_epi32(_mm256_add_epi32(sum, _mm256_set1_epi32(1 << (kHorizontalShift - 1))),
                             kHorizontalShift);
}

// pairedPack four columns at a time, where the processor has AVX2.
template <int Pairs>
__attribute__((target("avx2"))) void pairedPackAvx2(const PairedColumns& paired, const int16_t* in,
                                                    uint32_t* out, size_t count) {
    size_t c = 0;
    for (; c + 4 <= count; c += 4) {
        // Halves hold columns c | c + 1 and c + 2 | c + 3; packing keeps the halves apart, so
        // the low half ends up with c and c + 2, the high half with c + 1 and c + 3.
        const __m256i words = _mm256_packs_epi32(pairedSumsAvx2<Pairs>(paired, in, c),
                                                 pairedSumsAvx2<Pairs>(paired, in, c + 2));
        const __m256i bytes = _mm256_packus_epi16(words, words);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + c),
            _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1)));
    }
    pairedPack<Pairs>(paired, in, out, c, count);
}

#endif

template <int Pairs>
void pairedRow(const PairedColumns& paired, const int16_t* in, uint32_t* out, size_t count) {
#if defined(QUILLMERE_RESAMPLE_AVX2)
    if (hasAvx2()) {
        pairedPackAvx2<Pairs>(paired, in, out, count);
        return;
    }
#endif
    pairedPack<Pairs>(paired, in, out, 0, count);
}

void verticalFirstSse2(const Job& job, int32_t begin, int32_t end) {
    const AxisTaps& cols = job.columns;
    const int32_t firstByte = cols.lowest * 4;
    const size_t carryLength = static_cast<size_t>(cols.highest - cols.lowest + 1) * 4;
    std::vector<int32_t> carry(carryLength);
    std::vector<int16_t> narrow(carryLength + kPairedOverread);
    for (int32_t r = begin; r < end; ++r) {
        const int32_t* w = job.rows.weight.data() + job.rows.offset[r];
        const int32_t n = job.rows.count[r];
        const int32_t top = job.rows.first[r];
        if (n <= 2) {
            const uint8_t* a = job.source.row(top) + firstByte;
            const uint8_t* b = n == 2 ? job.source.row(top + 1) + firstByte : a;
            narrowTwoRows(a, b, w[0], n == 2 ? w[1] : 0, narrow.data(), carryLength);
        } else {
            std::fill(carry.begin(), carry.end(), 0);
            for (int32_t k = 0; k < n; k += 2) {
                const uint8_t* a = job.source.row(top + k) + firstByte;
                const bool pair = k + 1 < n;
                const uint8_t* b = pair ? job.source.row(top + k + 1) + firstByte : a;
                accumulateRows(a, b, w[k], pair ? w[k + 1] : 0, carry.data(), carryLength);
            }
            narrowCarry(carry.data(), narrow.data(), carryLength);
        }
        uint32_t* out = job.out + job.outStride * r;
        if (job.paired == nullptr)
            horizontalPack(cols, narrow.data(), out);
        else if (job.paired->pairs == 1)
            pairedRow<1>(*job.paired, narrow.data(), out, cols.first.size());
        else
            pairedRow<2>(*job.paired, narrow.data(), out, cols.first.size());
    }
}
#endif

// Vertical pass first, over the source columns the visible part needs, then the horizontal
// pass from that one carried row. Best when the rows are reduced: each output row reads its
// source rows once. Rows [begin, end) of the computed part.
void verticalFirst(const Job& job, int32_t begin, int32_t end) {
#if defined(QUILLMERE_RESAMPLE_SSE2)
    verticalFirstSse2(job, begin, end);
    return;
#endif
    const AxisTaps& cols = job.columns;
    const int32_t firstByte = cols.lowest * 4;
    const size_t carryLength = static_cast<size_t>(cols.highest - cols.lowest + 1) * 4;
    std::vector<int32_t> carry(carryLength);
    std::vector<int32_t> sums(cols.first.size() * 4);
    for (int32_t r = begin; r < end; ++r) {
        const int32_t* rowWeights = job.rows.weight.data() + job.rows.offset[r];
        std::fill(carry.begin(), carry.end(), 0);
        for (int32_t k = 0; k < job.rows.count[r]; ++k) {
            const int32_t w = rowWeights[k];
            const uint8_t* src = job.source.row(job.rows.first[r] + k) + firstByte;
            int32_t* carried = carry.data();
            for (size_t b = 0; b < carryLength; ++b)
                carried[b] += w * src[b];
        }
        reduceCarry(carry.data(), carryLength);
        horizontalSums(cols, carry.data(), sums.data());
        packPixels(sums.data(), cols.first.size(), kHorizontalShift, job.out + job.outStride * r);
    }
}

// Horizontal pass first, once per source row, then the two-tap vertical blend. Best when the
// rows are enlarged: consecutive output rows share their source rows, and the two most
// recent horizontal results are kept for them. Those are held two channels to a 64-bit word
// (32-bit lanes): a product of a carried value and a weight stays below 2^29, so one multiply
// blends two channels without carrying between the lanes.
void horizontalFirst(const Job& job, int32_t begin, int32_t end) {
    const AxisTaps& cols = job.columns;
    const size_t columnCount = cols.first.size();
    struct Carried {
        int32_t sourceRow = -1;
        std::vector<uint64_t> lanes;  // per pixel: blue | green << 32, red | alpha << 32
    };
    Carried recent[2];
    recent[0].lanes.resize(columnCount * 2);
    recent[1].lanes.resize(columnCount * 2);
    std::vector<int32_t> sums(columnCount * 4);
    // The row to keep is the other one the current output row needs, so it is never evicted.
    const auto carriedRow = [&](int32_t sourceRow, int32_t keep) -> const uint64_t* {
        for (const Carried& slot : recent)
            if (slot.sourceRow == sourceRow)
                return slot.lanes.data();
        Carried& slot = recent[recent[0].sourceRow == keep ? 1 : 0];
        const uint8_t* src = job.source.row(sourceRow) + static_cast<size_t>(cols.lowest) * 4;
        horizontalSums(cols, src, sums.data());
        reduceCarry(sums.data(), sums.size());
        for (size_t i = 0; i < columnCount * 2; ++i)
            slot.lanes[i] =
                static_cast<uint64_t>(sums[2 * i]) | static_cast<uint64_t>(sums[2 * i + 1]) << 32;
        slot.sourceRow = sourceRow;
        return slot.lanes.data();
    };
    constexpr uint64_t kHalf = uint64_t{1} << (kHorizontalShift - 1);
    constexpr uint64_t kHalves = kHalf | kHalf << 32;
    constexpr int kLow = kHorizontalShift;
    constexpr int kHigh = 32 + kHorizontalShift;
    for (int32_t r = begin; r < end; ++r) {
        const int32_t* w = job.rows.weight.data() + job.rows.offset[r];
        const int32_t first = job.rows.first[r];
        const bool single = job.rows.count[r] == 1;
        const uint64_t* upper = carriedRow(first, single ? -1 : first + 1);
        const uint64_t* lower = single ? upper : carriedRow(first + 1, first);
        const uint64_t w0 = static_cast<uint64_t>(w[0]);
        const uint64_t w1 = single ? 0 : static_cast<uint64_t>(w[1]);
        uint32_t* out = job.out + job.outStride * r;
        // Weights sum to one and carried values are at most 255 << kCarryBits, so each lane's
        // result fits its byte without clamping.
        for (size_t c = 0; c < columnCount; ++c) {
            const uint64_t bg = upper[2 * c] * w0 + lower[2 * c] * w1 + kHalves;
            const uint64_t ra = upper[2 * c + 1] * w0 + lower[2 * c + 1] * w1 + kHalves;
            out[c] = static_cast<uint32_t>((bg >> kLow & 0xFF) | (bg >> kHigh & 0xFF) << 8 |
                                           (ra >> kLow & 0xFF) << 16 | (ra >> kHigh & 0xFF) << 24);
        }
    }
}

#if defined(QUILLMERE_RESAMPLE_SSE2)
// The SSE2 form of horizontalFirst for two-tap columns, with exactly its arithmetic: the
// carried rows hold 16-bit values (at most 255 << kCarryBits), and every blend is one
// multiply-add of a pair of them with a pair of weights.
void horizontalFirstSse2(const Job& job, int32_t begin, int32_t end) {
    const AxisTaps& cols = job.columns;
    const size_t columnCount = cols.first.size();
    const __m128i zero = _mm_setzero_si128();
    const __m128i carryHalf = _mm_set1_epi32(1 << (kVerticalShift - 1));
    struct Carried {
        int32_t sourceRow = -1;
        std::vector<int16_t> values;  // four per column, two spare at the end for loads
    };
    Carried recent[2];
    recent[0].values.resize(columnCount * 4 + 4);
    recent[1].values.resize(columnCount * 4 + 4);
    const auto carriedRow = [&](int32_t sourceRow, int32_t keep) -> const int16_t* {
        for (const Carried& slot : recent)
            if (slot.sourceRow == sourceRow)
                return slot.values.data();
        Carried& slot = recent[recent[0].sourceRow == keep ? 1 : 0];
        const uint8_t* src = job.source.row(sourceRow);
        int16_t* out = slot.values.data();
        const int32_t* w = cols.weight.data();
        for (size_t c = 0; c < columnCount; ++c, w += 2, out += 4) {
            // b0 g0 r0 a0 b1 g1 r1 a1, then paired per channel: b0 b1 g0 g1 ...
            const __m128i two = _mm_unpacklo_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + size_t(cols.first[c]) * 4)),
                zero);
            const __m128i pairs = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
            __m128i sums = _mm_madd_epi16(pairs, weightPair(w[0], w[1]));
            sums = _mm_srai_epi32(_mm_add_epi32(sums, carryHalf), kVerticalShift);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(sums, zero));
        }
        slot.sourceRow = sourceRow;
        return slot.values.data();
    };
    const __m128i half = _mm_set1_epi32(1 << (kHorizontalShift - 1));
    for (int32_t r = begin; r < end; ++r) {
        const int32_t* w = job.rows.weight.data() + job.rows.offset[r];
        const int32_t first = job.rows.first[r];
        const bool single = job.rows.count[r] == 1;
        const int16_t* upper = carriedRow(first, single ? -1 : first + 1);
        const int16_t* lower = single ? upper : carriedRow(first + 1, first);
        const __m128i weights = weightPair(w[0], single ? 0 : w[1]);
        uint32_t* out = job.out + job.outStride * r;
        for (size_t c = 0; c < columnCount; c += 2) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + c * 4));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + c * 4));
            const __m128i first4 = _mm_srai_epi32(
                _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(u, l), weights), half),
                kHorizontalShift);
            const __m128i second4 = _mm_srai_epi32(
                _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(u, l), weights), half),
                kHorizontalShift);
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(first4, second4), zero);
            if (c + 1 < columnCount)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(out + c), bytes);
            else
                out[c] = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
        }
    }
}
#endif

void resampleRows(const Job& job, int32_t begin, int32_t end) {
#if defined(QUILLMERE_RESAMPLE_SSE2)
    if (job.rows.enlarging && job.columns.twoTaps) {
        horizontalFirstSse2(job, begin, end);
        return;
    }
#endif
    if (job.rows.enlarging)
        horizontalFirst(job, begin, end);
    else
        verticalFirst(job, begin, end);
}

// Shares the rows between this thread and one helper when the work is worth it (the machine
// has two cores). They take bands of rows in turn rather than half each: one of them may be
// slowed (by page faults in a fresh buffer, or by the cores' other work) and the other then
// takes more. If no thread can be started the calling thread does it all.
void runRows(const Job& job, int32_t rowCount, int64_t work) {
    if (work < kMinParallelWork || rowCount < 2 || std::thread::hardware_concurrency() < 2) {
        resampleRows(job, 0, rowCount);
        return;
    }
    const int32_t band = std::max<int32_t>(8, rowCount / 32);
    std::atomic<int32_t> next{0};
    const auto takeBands = [&] {
        for (int32_t begin = next.fetch_add(band); begin < rowCount; begin = next.fetch_add(band))
            resampleRows(job, begin, std::min(rowCount, begin + band));
    };
    std::thread helper;
    try {
        helper = std::thread(takeBands);
    } catch (...) {
        // The helper took no band: this thread takes them all.
    }
    takeBands();
    if (helper.joinable())
        helper.join();
}

}  // namespace

PixelRect visiblePart(const PixelRect& dest, int32_t surfaceWidth, int32_t surfaceHeight) {
    const int64_t x0 = std::max<int64_t>(dest.x, 0);
    const int64_t y0 = std::max<int64_t>(dest.y, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{dest.x} + dest.width, surfaceWidth);
    const int64_t y1 = std::min<int64_t>(int64_t{dest.y} + dest.height, surfaceHeight);
    if (dest.width <= 0 || dest.height <= 0 || x0 >= x1 || y0 >= y1)
        return {};
    return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
            static_cast<int32_t>(y1 - y0)};
}

namespace {

// The computed part of dest, in the destination's own coordinates: position 0 is its left or
// top edge.
struct Span {
    int64_t x0, y0, x1, y1;
};

Span computedSpan(const PixelRect& dest, const PixelRect& clip) {
    return {
        std::max<int64_t>(clip.x, dest.x) - dest.x, std::max<int64_t>(clip.y, dest.y) - dest.y,
        std::min<int64_t>(int64_t{clip.x} + clip.width, int64_t{dest.x} + dest.width) - dest.x,
        std::min<int64_t>(int64_t{clip.y} + clip.height, int64_t{dest.y} + dest.height) - dest.y};
}

// Moves the taps of an axis from the whole picture's coordinates into a piece starting at
// origin and length long. False when a tap falls outside the piece.
bool shiftIntoPiece(AxisTaps& taps, int32_t origin, int32_t length) {
    if (taps.lowest < origin || taps.highest >= int64_t{origin} + length)
        return false;
    for (int32_t& first : taps.first)
        first -= origin;
    taps.lowest -= origin;
    taps.highest -= origin;
    return true;
}

}  // namespace

void resamplePicture(const Image& source, const PixelRect& dest, const PixelRect& clip,
                     uint32_t* out, ptrdiff_t outStride) {
    resamplePiece(source, {0, 0, source.width(), source.height()}, source.width(), source.height(),
                  dest, clip, out, outStride);
}

bool resamplePiece(const Image& piece, const PixelRect& pieceRect, int32_t pictureWidth,
                   int32_t pictureHeight, const PixelRect& dest, const PixelRect& clip,
                   uint32_t* out, ptrdiff_t outStride) {
    const Image& source = piece;
    if (source.empty() || out == nullptr || dest.width <= 0 || dest.height <= 0 ||
        pictureWidth <= 0 || pictureHeight <= 0 || pieceRect.width > source.width() ||
        pieceRect.height > source.height())
        return false;
    const Span span = computedSpan(dest, clip);
    const int64_t x0 = span.x0, y0 = span.y0, x1 = span.x1, y1 = span.y1;
    if (x0 >= x1 || y0 >= y1)
        return false;
    AxisTaps columns = buildAxis(pictureWidth, dest.width, x0, x1);
    AxisTaps rows = buildAxis(pictureHeight, dest.height, y0, y1);
    if (!shiftIntoPiece(columns, pieceRect.x, pieceRect.width) ||
        !shiftIntoPiece(rows, pieceRect.y, pieceRect.height))
        return false;
    uint32_t* first = out + outStride * (y0 + dest.y - clip.y) + (x0 + dest.x - clip.x);
    Job job{source, columns, rows, first, outStride};
#if defined(QUILLMERE_RESAMPLE_SSE2)
    std::optional<PairedColumns> paired;
    if (!rows.enlarging && !columns.enlarging) {
        paired = pairColumns(columns);
        job.paired = paired ? &*paired : nullptr;
    }
#endif
    const int64_t carryWidth = columns.highest - columns.lowest + 1;
    const int64_t work = rows.tapCount() * carryWidth + (y1 - y0) * columns.tapCount();
    runRows(job, static_cast<int32_t>(y1 - y0), work);
    return true;
}

PixelRect sourceNeeded(int32_t pictureWidth, int32_t pictureHeight, const PixelRect& dest,
                       const PixelRect& clip) {
    const Span span = computedSpan(dest, clip);
    if (pictureWidth <= 0 || pictureHeight <= 0 || dest.width <= 0 || dest.height <= 0 ||
        span.x0 >= span.x1 || span.y0 >= span.y1)
        return {};
    const AxisTaps columns = buildAxis(pictureWidth, dest.width, span.x0, span.x1);
    const AxisTaps rows = buildAxis(pictureHeight, dest.height, span.y0, span.y1);
    return {columns.lowest, rows.lowest, columns.highest - columns.lowest + 1,
            rows.highest - rows.lowest + 1};
}
