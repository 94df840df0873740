#pragma once

#include <cstdint>
#include <vector>

// The resampler's weights: which source pixels each destination pixel takes, and how much of
// each, along one axis; the resampler's passes read them.
namespace resample_detail {

// Weights are fixed point with kWeightBits fraction bits and sum exactly to kWeightOne, so a
// constant picture stays constant at every scale. The vertical pass keeps kCarryBits of
// fraction for the horizontal one; 255 << kCarryBits times kWeightOne still fits an int32.
constexpr int32_t kWeightBits = 14;
constexpr int64_t kWeightOne = int64_t{1} << kWeightBits;
constexpr int32_t kCarryBits = 6;
constexpr int32_t kVerticalShift = kWeightBits - kCarryBits;
constexpr int32_t kHorizontalShift = kWeightBits + kCarryBits;

// The source taps of each computed destination position along one axis.
struct AxisTaps {
    std::vector<int32_t> first;   // first source index of each position
    std::vector<int32_t> count;   // number of taps
    std::vector<int32_t> offset;  // where its weights start in weight
    std::vector<int32_t> weight;
    int32_t lowest = 0;      // smallest source index used
    int32_t highest = 0;     // largest source index used
    bool twoTaps = false;    // every position has exactly two taps
    bool enlarging = false;  // interpolated: one or two taps a position

    int64_t tapCount() const { return static_cast<int64_t>(weight.size()); }
};

// Taps for destination positions [from, to) of an axis of length d mapped from length s: area
// coverage when reducing, linear interpolation between pixel centres when enlarging.
AxisTaps buildAxis(int64_t s, int64_t d, int64_t from, int64_t to);

}  // namespace resample_detail
