#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "render/pixels/resample.h"

namespace {

Image filled(int32_t width, int32_t height, uint32_t (*colourAt)(int32_t x, int32_t y)) {
    Image image;
    image.create(width, height, true);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            reinterpret_cast<uint32_t*>(image.row(y))[x] = colourAt(x, y);
    return image;
}

std::vector<uint32_t> resampled(const Image& source, PixelRect dest, PixelRect clip) {
    std::vector<uint32_t> out(static_cast<size_t>(clip.width) * clip.height, 0xDEADBEEFu);
    resamplePicture(source, dest, clip, out.data(), clip.width);
    return out;
}

int channel(uint32_t pixel, int index) {
    return static_cast<int>(pixel >> (8 * index) & 0xFF);
}

TEST(Resample, CheckerboardReducedByEightIsEvenGrey) {
    const Image board = filled(
        64, 48, [](int32_t x, int32_t y) { return (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u; });
    for (const uint32_t pixel : resampled(board, {0, 0, 8, 6}, {0, 0, 8, 6}))
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(channel(pixel, c), 127.5, 1.0);
}

TEST(Resample, ConstantPictureStaysConstantAtEveryScale) {
    struct Row {
        const char* trap;
        int32_t sourceWidth, sourceHeight;
        PixelRect dest;
    };
    const Row rows[] = {
        {"identity", 7, 5, {0, 0, 7, 5}},
        {"non_integer_reduction", 7, 13, {0, 0, 3, 5}},
        {"enlarge", 3, 2, {0, 0, 10, 9}},
        {"reduce_x_enlarge_y", 50, 2, {0, 0, 7, 31}},
        {"one_pixel_enlarged", 1, 1, {0, 0, 40, 30}},
        {"reduced_to_one_pixel", 1000, 3, {0, 0, 1, 1}},
    };
    for (const auto& row : rows) {
        const Image source =
            filled(row.sourceWidth, row.sourceHeight, [](int32_t, int32_t) { return 0x80C8641Fu; });
        for (const uint32_t pixel : resampled(source, row.dest, row.dest))
            EXPECT_EQ(pixel, 0x80C8641Fu) << row.trap;
    }
}

TEST(Resample, EnlargingTwoPixelsGivesASmoothRamp) {
    const Image pair =
        filled(2, 2, [](int32_t x, int32_t) { return x ? 0xFFFFFFFFu : 0xFF000000u; });
    const std::vector<uint32_t> row = resampled(pair, {0, 0, 16, 1}, {0, 0, 16, 1});
    EXPECT_EQ(channel(row.front(), 0), 0);
    EXPECT_EQ(channel(row.back(), 0), 255);
    int distinct = 1;
    for (size_t i = 1; i < row.size(); ++i) {
        EXPECT_GE(channel(row[i], 0), channel(row[i - 1], 0));
        distinct += channel(row[i], 0) != channel(row[i - 1], 0);
    }
    EXPECT_GE(distinct, 8);  // a ramp, not a hard step
}

TEST(Resample, VisiblePartEqualsTheFullResampleClipped) {
    const Image source = filled(13, 9, [](int32_t x, int32_t y) {
        return static_cast<uint32_t>((x * 37 + y * 101) * 2654435761u);
    });
    // Enlarging on both axes, reducing on both, and mixed; each clipped by a small surface.
    const PixelRect dests[] = {{-5, -3, 40, 30}, {-2, 1, 6, 5}, {3, -20, 5, 50}};
    for (const PixelRect& dest : dests) {
        const PixelRect visible = visiblePart(dest, 20, 15);
        const std::vector<uint32_t> full = resampled(source, dest, dest);
        const std::vector<uint32_t> part = resampled(source, dest, visible);
        for (int32_t y = 0; y < visible.height; ++y)
            for (int32_t x = 0; x < visible.width; ++x)
                ASSERT_EQ(part[y * visible.width + x],
                          full[(visible.y - dest.y + y) * dest.width + visible.x - dest.x + x]);
    }
}

TEST(Resample, VisiblePartOfDestinations) {
    struct Row {
        const char* trap;
        PixelRect dest;
        PixelRect visible;
    };
    const Row rows[] = {
        {"partly_off_left_top", {-300, -10, 1600, 800}, {0, 0, 800, 600}},
        {"inside", {10, 20, 30, 40}, {10, 20, 30, 40}},
        {"wholly_off_right", {800, 0, 10, 10}, {}},
        {"wholly_off_above", {0, -11, 10, 10}, {}},
        {"zero_width", {5, 5, 0, 10}, {}},
        {"negative_height", {5, 5, 10, -4}, {}},
        {"far_edge_beyond_int32", {790, 590, 2147483647, 2147483647}, {790, 590, 10, 10}},
    };
    for (const auto& row : rows)
        EXPECT_EQ(visiblePart(row.dest, 800, 600), row.visible) << row.trap;
}

TEST(Resample, TinyAndEmptyDestinations) {
    const Image halves =
        filled(4, 2, [](int32_t x, int32_t) { return x < 2 ? 0xFF000000u : 0xFFC8C8C8u; });
    EXPECT_EQ(resampled(halves, {0, 0, 1, 1}, {0, 0, 1, 1}).front(), 0xFF646464u);
    // Nothing is written for a destination without area or a clip outside it.
    EXPECT_EQ(resampled(halves, {0, 0, 0, 5}, {0, 0, 2, 2}).front(), 0xDEADBEEFu);
    EXPECT_EQ(resampled(halves, {0, 0, 2, 2}, {5, 5, 2, 2}).front(), 0xDEADBEEFu);
}

TEST(Resample, HugeDestinationCostsOnlyTheClip) {
    // A destination far larger than memory: only the 4 x 4 clip may be computed.
    const Image source = filled(6, 4, [](int32_t, int32_t) { return 0xFF336699u; });
    const PixelRect dest{-1000000000, -1000000000, 2000000000, 2000000000};
    for (const uint32_t pixel : resampled(source, dest, {0, 0, 4, 4}))
        EXPECT_EQ(pixel, 0xFF336699u);
}

// A zoom draws from the part of the picture it needs: the result must be exactly the one from
// the whole picture, whether it enlarges or reduces, and a piece short of a tap is refused.
TEST(Resample, APieceGivesExactlyWhatTheWholePictureGives) {
    const Image whole = filled(97, 61, [](int32_t x, int32_t y) {
        return 0xFF000000u | static_cast<uint32_t>((x * 37 + y * 11) % 256) << 16 |
               static_cast<uint32_t>((x * y) % 256);
    });
    const struct {
        PixelRect dest, clip;
    } rows[] = {{{-2000, -900, 3880, 2440}, {0, 0, 300, 200}},  // 40x, off the top left
                {{-10, 3, 500, 300}, {120, 40, 90, 70}},        // enlarged, in the middle
                {{5, 5, 40, 25}, {10, 10, 20, 12}}};            // reduced
    for (const auto& row : rows) {
        const PixelRect needed = sourceNeeded(97, 61, row.dest, row.clip);
        ASSERT_GT(needed.width, 0);
        Image piece;
        ASSERT_TRUE(piece.create(needed.width, needed.height, true));
        for (int32_t y = 0; y < needed.height; ++y)
            std::copy_n(reinterpret_cast<const uint32_t*>(whole.row(needed.y + y)) + needed.x,
                        needed.width, reinterpret_cast<uint32_t*>(piece.row(y)));
        std::vector<uint32_t> fromPiece(static_cast<size_t>(row.clip.width) * row.clip.height);
        ASSERT_TRUE(resamplePiece(piece, needed, 97, 61, row.dest, row.clip, fromPiece.data(),
                                  row.clip.width));
        EXPECT_EQ(fromPiece, resampled(whole, row.dest, row.clip));
        PixelRect shortOne = needed;
        shortOne.width -= 1;
        EXPECT_FALSE(resamplePiece(piece, shortOne, 97, 61, row.dest, row.clip, fromPiece.data(),
                                   row.clip.width));
    }
}

}  // namespace

// Every reduction equals the area average computed in floating point to within one level:
// slight fits (two taps a pixel), those to a half and a third (three and four taps) and
// stronger ones, clipped at odd columns so each pass also ends on a lone column.
TEST(Resample, ReductionsMatchTheAreaAverage) {
    const Image source = filled(211, 97, [](int32_t x, int32_t y) {
        const auto hash = static_cast<uint32_t>(x * 2654435761u ^ y * 40503u);
        return hash ^ hash >> 13;
    });
    const auto average = [&](int32_t x, int32_t y, int32_t dw, int32_t dh, int ch) {
        const double sx = 211.0 / dw, sy = 97.0 / dh;
        double sum = 0;
        for (int32_t j = static_cast<int32_t>(y * sy); j < 97 && j < (y + 1) * sy; ++j)
            for (int32_t i = static_cast<int32_t>(x * sx); i < 211 && i < (x + 1) * sx; ++i) {
                const double cover =
                    (std::min<double>(i + 1, (x + 1) * sx) - std::max<double>(i, x * sx)) *
                    (std::min<double>(j + 1, (y + 1) * sy) - std::max<double>(j, y * sy));
                sum += cover * channel(reinterpret_cast<const uint32_t*>(source.row(j))[i], ch);
            }
        return sum / (sx * sy);
    };
    for (const auto& [dw, dh] :
         {std::pair{207, 95}, {160, 71}, {106, 49}, {71, 33}, {54, 25}, {30, 11}}) {
        const PixelRect clip{1, 0, dw - 2, dh};
        const std::vector<uint32_t> out = resampled(source, {0, 0, dw, dh}, clip);
        for (int32_t y = 0; y < clip.height; ++y)
            for (int32_t x = 0; x < clip.width; ++x)
                for (int ch = 0; ch < 4; ++ch)
                    ASSERT_NEAR(channel(out[static_cast<size_t>(y) * clip.width + x], ch),
                                average(x + 1, y, dw, dh, ch), 1.0)
                        << dw << "x" << dh << " at " << x << "," << y;
    }
}
