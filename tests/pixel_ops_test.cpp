#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "platform/page_warmer.h"
#include "render/pixels/pixel_ops.h"
#include "render/render_state.h"

namespace {

uint32_t bgra(uint32_t b, uint32_t g, uint32_t r, uint32_t a) {
    return a << 24 | r << 16 | g << 8 | b;
}

uint32_t& pixel(Image& image, int32_t x, int32_t y) {
    return reinterpret_cast<uint32_t*>(image.row(y))[x];
}

// A picture whose every pixel is different, so any misplaced pixel shows.
Image numbered(int32_t width, int32_t height, bool alpha) {
    Image image;
    image.create(width, height, alpha);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            pixel(image, x, y) = alpha ? 0x01000000u * static_cast<uint32_t>(x + 7 * y) + 0x10203
                                       : 0xFF000000u | static_cast<uint32_t>(y * 1000 + x);
    return image;
}

struct PremultiplyRow {
    const char* trap;
    uint32_t before;
    uint32_t after;
};

TEST(PremultiplyAlpha, ColourBytesScaleByAlphaTruncating) {
    const PremultiplyRow rows[] = {
        {"half_alpha", bgra(200, 100, 50, 128), bgra(100, 50, 25, 128)},
        {"transparent_white_becomes_black", bgra(255, 255, 255, 0), bgra(0, 0, 0, 0)},
        {"opaque_unchanged", bgra(9, 99, 199, 255), bgra(9, 99, 199, 255)},
        {"truncates_where_rounding_gives_one", bgra(1, 1, 255, 128), bgra(0, 0, 128, 128)},
    };
    for (const auto& row : rows) {
        Image image;
        ASSERT_TRUE(image.create(1, 1, true));
        pixel(image, 0, 0) = row.before;
        premultiplyAlpha(image);
        EXPECT_EQ(pixel(image, 0, 0), row.after) << row.trap;
    }
}

// Every colour byte with every alpha, four pixels at a time as well as one by one (the rows
// are 257 pixels long): each channel is its value times alpha over 255, truncated.
TEST(PremultiplyAlpha, EveryByteWithEveryAlpha) {
    Image image;
    ASSERT_TRUE(image.create(257, 256, true));
    for (int32_t a = 0; a < 256; ++a)
        for (int32_t v = 0; v < 257; ++v)
            pixel(image, v, a) = bgra(v & 0xFF, 255 - (v & 0xFF), (v * 7) & 0xFF, a);
    premultiplyAlpha(image);
    int wrong = 0;
    for (int32_t a = 0; a < 256; ++a)
        for (int32_t v = 0; v < 257; ++v) {
            const int32_t b = v & 0xFF, g = 255 - b, r = (v * 7) & 0xFF;
            wrong += pixel(image, v, a) != bgra(b * a / 255, g * a / 255, r * a / 255, a);
        }
    EXPECT_EQ(wrong, 0);
}

TEST(PremultiplyAlpha, PictureWithoutAlphaIsLeftAlone) {
    Image image = numbered(5, 3, false);
    const QImage before = image.qimage().copy();
    premultiplyAlpha(image);
    EXPECT_EQ(image.qimage(), before);
}

TEST(TurnPicture, QuarterTurnsMovePixelsAndSwapSize) {
    for (const bool alpha : {false, true}) {
        const Image original = numbered(5, 3, alpha);
        Image right = original;
        ASSERT_TRUE(turnPicture(right, kRotateRight));
        ASSERT_EQ(right.width(), 3);
        ASSERT_EQ(right.height(), 5);
        EXPECT_EQ(right.hasAlpha(), alpha);
        // Clockwise: the top-left corner goes to the top-right.
        EXPECT_EQ(right.qimage().pixel(2, 0), original.qimage().pixel(0, 0));
        Image left = original;
        ASSERT_TRUE(turnPicture(left, kRotateLeft));
        EXPECT_EQ(left.qimage().pixel(0, 4), original.qimage().pixel(0, 0));
        Image half = original;
        ASSERT_TRUE(turnPicture(half, kRotateHalf));
        EXPECT_EQ(half.qimage().pixel(4, 2), original.qimage().pixel(0, 0));
    }
}

TEST(TurnPicture, TurnsComposeBackToTheOriginal) {
    // Larger than one tile, with odd sizes, so tile edges are crossed.
    const Image original = numbered(131, 70, true);
    const int32_t sequences[][4] = {{1, 1, 1, 1}, {1, 2, 0, 0}, {3, 3, 0, 0}, {1, 1, 3, 0}};
    for (const auto& sequence : sequences) {
        Image image = original;
        for (const int32_t code : sequence)
            turnPicture(image, code);
        EXPECT_EQ(image.qimage(), original.qimage());
        EXPECT_TRUE(image.hasAlpha());
    }
}

TEST(TurnPicture, UnknownCodesAndEmptyPicturesChangeNothing) {
    Image image = numbered(4, 2, false);
    const QImage before = image.qimage().copy();
    for (const int32_t code : {0, 4, -1, 1000})
        EXPECT_FALSE(turnPicture(image, code));
    EXPECT_EQ(image.qimage(), before);
    Image empty;
    EXPECT_FALSE(turnPicture(empty, kRotateRight));
}

// The warmer runs while the decoder writes: nothing written before, during or after it, nor
// the bytes either side of an unaligned range, may change.
TEST(PageWarmer, LeavesEveryByteAsWritten) {
    constexpr size_t kBytes = 3 * PageWarmer::kMinBytes + 123;
    const std::unique_ptr<uint8_t, decltype(&std::free)> buffer(
        static_cast<uint8_t*>(std::malloc(kBytes)), &std::free);
    ASSERT_NE(buffer, nullptr);
    uint8_t* const bytes = buffer.get();
    const auto expected = [](size_t i) { return static_cast<uint8_t>(i * 7 + i / 4093); };
    for (size_t i = 0; i < kBytes / 2; ++i)
        bytes[i] = expected(i);
    {
        const PageWarmer warmer(bytes + 1, kBytes - 2);
        for (size_t i = kBytes / 2; i < kBytes; ++i)
            bytes[i] = expected(i);
    }
    size_t wrong = 0;
    for (size_t i = 0; i < kBytes; ++i)
        wrong += bytes[i] != expected(i);
    EXPECT_EQ(wrong, 0u);

    // Small, empty and missing buffers are left to the writer.
    const PageWarmer small(bytes, PageWarmer::kMinBytes - 1);
    const PageWarmer none(nullptr, kBytes);
    EXPECT_EQ(bytes[0], expected(0));
}

TEST(FillSolid, ClipsToTheImage) {
    struct Row {
        const char* trap;
        PixelRect rect;
        int32_t painted;
    };
    const Row rows[] = {
        {"partly_off_top_left", {-2, -2, 4, 4}, 4},
        {"partly_off_bottom_right", {8, 3, 10, 10}, 2},
        {"wholly_off", {10, 0, 5, 4}, 0},
        {"negative_width", {5, 0, -3, 4}, 0},
        {"far_edge_beyond_int32", {1, 1, 2147483647, 1}, 9},
    };
    for (const auto& row : rows) {
        QImage image(10, 4, QImage::Format_RGB32);
        image.fill(0u);
        fillSolid(image, row.rect, backgroundColour(250));
        int32_t painted = 0;
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 10; ++x)
                painted += image.pixel(x, y) == 0xFFFAFAFAu;
        EXPECT_EQ(painted, row.painted) << row.trap;
    }
}

TEST(BlendPremultipliedOver, SourceOverBackground) {
    const uint32_t grey = backgroundColour(250);
    const uint32_t src[] = {bgra(0, 0, 0, 0), bgra(10, 20, 30, 255), bgra(64, 64, 64, 128)};
    uint32_t dst[] = {grey, grey, grey};
    blendPremultipliedOver(src, dst, 3);
    EXPECT_EQ(dst[0], grey);
    EXPECT_EQ(dst[1], bgra(10, 20, 30, 255));
    EXPECT_EQ(dst[2], bgra(189, 189, 189, 255));  // 64 + 250 * 127 / 255, rounded
}

}  // namespace
