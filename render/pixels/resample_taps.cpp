#include "render/pixels/resample_taps.h"

#include <algorithm>

namespace resample_detail {

namespace {

// Destination pixel i covers [i * s / d, (i + 1) * s / d) of the source; counted in units of
// 1/d source pixel the bounds are integers, so coverage is exact. Weights are the rounded
// cumulative coverage, which keeps each within one unit of its share and the sum exact.
void addBoxTaps(AxisTaps& taps, int64_t i, int64_t s, int64_t d) {
    const int64_t left = i * s;
    const int64_t right = left + s;
    const int64_t j0 = left / d;
    const int64_t j1 = (right - 1) / d;
    taps.first.push_back(static_cast<int32_t>(j0));
    taps.count.push_back(static_cast<int32_t>(j1 - j0 + 1));
    int64_t covered = 0;
    int64_t given = 0;
    for (int64_t j = j0; j <= j1; ++j) {
        covered += std::min(right, (j + 1) * d) - std::max(left, j * d);
        const int64_t cumulative = (covered * kWeightOne + s / 2) / s;
        taps.weight.push_back(static_cast<int32_t>(cumulative - given));
        given = cumulative;
    }
}

// Pixel centres line up: destination centre i + 0.5 samples the source at
// (i + 0.5) * s / d - 0.5, clamped to the edge pixels. At s == d this is the identity. Every
// position gets exactly two neighbouring taps (one of them may weigh 0) so that the passes
// run a fixed two-tap loop; only a one-pixel source has a single tap.
void addLinearTaps(AxisTaps& taps, int64_t i, int64_t s, int64_t d) {
    const int64_t numerator = (2 * i + 1) * s - d;
    const int64_t denominator = 2 * d;
    int64_t j = 0;
    int64_t fraction = 0;
    if (numerator > 0) {
        j = numerator / denominator;
        fraction = (numerator % denominator) * kWeightOne / denominator;
    }
    if (s == 1) {
        taps.first.push_back(0);
        taps.count.push_back(1);
        taps.weight.push_back(static_cast<int32_t>(kWeightOne));
        return;
    }
    if (j >= s - 1) {
        j = s - 2;
        fraction = kWeightOne;
    }
    taps.first.push_back(static_cast<int32_t>(j));
    taps.count.push_back(2);
    taps.weight.push_back(static_cast<int32_t>(kWeightOne - fraction));
    taps.weight.push_back(static_cast<int32_t>(fraction));
}

}  // namespace

AxisTaps buildAxis(int64_t s, int64_t d, int64_t from, int64_t to) {
    AxisTaps taps;
    const size_t n = static_cast<size_t>(to - from);
    taps.first.reserve(n);
    taps.count.reserve(n);
    taps.offset.reserve(n);
    for (int64_t i = from; i < to; ++i) {
        taps.offset.push_back(static_cast<int32_t>(taps.weight.size()));
        if (d < s)
            addBoxTaps(taps, i, s, d);
        else
            addLinearTaps(taps, i, s, d);
    }
    taps.lowest = taps.first.front();
    taps.highest = taps.first.back() + taps.count.back() - 1;
    taps.twoTaps = taps.weight.size() == 2 * n;
    taps.enlarging = d >= s;
    return taps;
}

}  // namespace resample_detail
