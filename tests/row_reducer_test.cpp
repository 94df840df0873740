#include <gtest/gtest.h>

#include <cstdint>

#include "render/decode/levels.h"
#include "render/decode/row_reducer.h"

namespace {

uint32_t pixelAt(const Image& image, int32_t x, int32_t y) {
    return reinterpret_cast<const uint32_t*>(image.row(y))[x];
}

Image filled(int32_t width, int32_t height, bool alpha, uint32_t (*pixel)(int32_t, int32_t)) {
    Image image;
    image.create(width, height, alpha);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            reinterpret_cast<uint32_t*>(image.row(y))[x] = pixel(x, y);
    return image;
}

TEST(Levels, ExtentRoundsUpAtEveryLevel) {
    EXPECT_EQ(levelExtent(30000, 0), 30000);
    EXPECT_EQ(levelExtent(30000, 3), 3750);
    EXPECT_EQ(levelExtent(30001, 3), 3751);
    EXPECT_EQ(levelExtent(1, 16), 1);
    // Reducing step by step lands where one reduction does, as decoders rely on.
    for (const int32_t full : {1, 7, 4000, 20001, 65535})
        EXPECT_EQ(levelExtent(levelExtent(full, 3), 2), levelExtent(full, 5)) << full;
}

TEST(RowReducer, EdgeBlocksAverageOnlyThePixelsTheyCover) {
    // 5 x 3 grey ramp: x * 10 + y * 100 in every colour byte.
    const Image in = filled(5, 3, false, [](int32_t x, int32_t y) {
        const uint32_t v = static_cast<uint32_t>(x * 10 + y * 100);
        return 0xFF000000u | v << 16 | v << 8 | v;
    });
    Image out;
    ASSERT_TRUE(reducePicture(in, 1, out));
    ASSERT_EQ(out.width(), 3);
    ASSERT_EQ(out.height(), 2);
    EXPECT_EQ(pixelAt(out, 0, 0) & 0xFF, 55u);   // (0 + 10 + 100 + 110) / 4
    EXPECT_EQ(pixelAt(out, 2, 0) & 0xFF, 90u);   // the last column alone: (40 + 140) / 2
    EXPECT_EQ(pixelAt(out, 0, 1) & 0xFF, 205u);  // the last row alone: (200 + 210) / 2
    EXPECT_EQ(pixelAt(out, 2, 1) & 0xFF, 240u);  // the corner pixel itself
    EXPECT_EQ(pixelAt(out, 1, 1) >> 24, 0xFFu);
}

TEST(RowReducer, TransparentPixelsLendNoColour) {
    // Opaque red beside fully transparent white: the block stays pure red at half alpha.
    const Image in =
        filled(2, 2, true, [](int32_t x, int32_t) { return x == 0 ? 0xFFFF0000u : 0x00FFFFFFu; });
    Image out;
    ASSERT_TRUE(reducePicture(in, 1, out));
    EXPECT_EQ(pixelAt(out, 0, 0), 0x80FF0000u);
    const Image clear = filled(3, 3, true, [](int32_t, int32_t) { return 0x00FFFFFFu; });
    ASSERT_TRUE(reducePicture(clear, 2, out));
    EXPECT_EQ(pixelAt(out, 0, 0), 0u);
}

TEST(RowReducer, LargeBlocksDoNotOverflow) {
    const Image white = filled(300, 300, true, [](int32_t, int32_t) { return 0xFFFFFFFFu; });
    Image out;
    ASSERT_TRUE(reducePicture(white, 8, out));
    ASSERT_EQ(out.width(), 2);
    EXPECT_EQ(pixelAt(out, 0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(pixelAt(out, 1, 1), 0xFFFFFFFFu);
}

}  // namespace
