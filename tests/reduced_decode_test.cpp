#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "catalogue/picture_list.h"
#include "fake_surface.h"
#include "render/decode/decoder.h"
#include "render/render_pipeline.h"
#include "render/source/detail_tiles.h"
#include "render/source/prefetcher.h"
#include "render/source/prepared_picture.h"

namespace {

constexpr uint32_t kRed = 0xFFFF0000u;
constexpr uint32_t kGreen = 0xFF00FF00u;
constexpr uint32_t kBlue = 0xFF0000FFu;
constexpr uint32_t kWhite = 0xFFFFFFFFu;

// A 1600 x 1200 JPEG in four quadrants (red, green / blue, white), so a turn shows.
std::filesystem::path writeQuadrants(const QTemporaryDir& dir, const char* name, int width = 1600,
                                     int height = 1200) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           y < height / 2 ? (x < width / 2 ? kRed : kGreen)
                                          : (x < width / 2 ? kBlue : kWhite));
    const QString file = dir.filePath(name);
    EXPECT_TRUE(image.save(file, "JPEG", 95));
    return file.toStdString();
}

bool near(uint32_t a, uint32_t b, int tolerance = 12) {
    for (int shift = 0; shift < 24; shift += 8) {
        if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) >
            tolerance)
            return false;
    }
    return true;
}

TEST(Reduction, SmallestScaleThatStillHoldsTheFitInEitherOrientation) {
    struct Row {
        const char* trap;
        int32_t width, height;
        FitArea area;
        int32_t reduction;
    };
    const Row rows[] = {
        {"photo_on_a_full_hd_window", 6000, 4000, {1920, 1057}, 2},
        {"photo_on_a_small_window", 6000, 4000, {800, 600}, 4},
        {"tiny_window_allows_an_eighth", 6000, 4000, {200, 100}, 8},
        {"portrait_keeps_room_for_a_quarter_turn", 4000, 6000, {1920, 1057}, 2},
        {"screen_sized_picture_is_never_reduced", 1920, 1080, {1920, 1057}, 1},
        {"half_would_be_one_pixel_short", 3170, 2112, {1920, 1057}, 1},
        {"no_area_means_full_scale", 6000, 4000, {0, 0}, 1},
        {"odd_sizes_round_up", 6001, 4001, {1500, 1000}, 4},
    };
    for (const auto& row : rows)
        EXPECT_EQ(reductionFor(row.width, row.height, row.area), row.reduction) << row.trap;
}

TEST(ReducedDecode, KeepsTheFullSizeAndThePicture) {
    QTemporaryDir dir;
    const std::filesystem::path file = writeQuadrants(dir, "q.jpg");
    Image reduced;
    ASSERT_EQ(decodePicture(file, reduced, {300, 300}), DecodeStatus::Ok);
    EXPECT_EQ(reduced.width(), 400);
    EXPECT_EQ(reduced.height(), 300);
    EXPECT_EQ(reduced.fullWidth(), 1600);
    EXPECT_EQ(reduced.fullHeight(), 1200);
    EXPECT_TRUE(reduced.reduced());
    const QImage& pixels = reduced.qimage();
    EXPECT_TRUE(near(pixels.pixel(100, 75), kRed));
    EXPECT_TRUE(near(pixels.pixel(300, 75), kGreen));
    EXPECT_TRUE(near(pixels.pixel(100, 225), kBlue));
    EXPECT_TRUE(near(pixels.pixel(399, 299), kWhite));  // the last row and column are written

    Image full;
    ASSERT_EQ(decodePicture(file, full), DecodeStatus::Ok);
    EXPECT_EQ(full.width(), 1600);
    EXPECT_FALSE(full.reduced());
    // PNG has no reduced decode: it always comes out whole.
    const QString png = dir.filePath("q.png");
    ASSERT_TRUE(full.qimage().save(png));
    Image whole;
    ASSERT_EQ(decodePicture(png.toStdString(), whole, {100, 100}), DecodeStatus::Ok);
    EXPECT_FALSE(whole.reduced());
}

// A list of one 1600 x 1200 quadrant JPEG.
class QuadrantsListed : public ::testing::Test {
  protected:
    QuadrantsListed() { list.pictureList = {writeQuadrants(dir, "q.jpg")}; }
    QTemporaryDir dir;
    PictureListState list;
};

// Mean and largest difference of two surfaces, per channel.
std::pair<double, int> difference(const QImage& a, const QImage& b) {
    int64_t total = 0;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int shift = 0; shift < 24; shift += 8) {
                const int d = std::abs(static_cast<int>(a.pixel(x, y) >> shift & 0xFF) -
                                       static_cast<int>(b.pixel(x, y) >> shift & 0xFF));
                total += d;
                worst = std::max(worst, d);
            }
    return {static_cast<double>(total) / (a.width() * a.height() * 3), worst};
}

// The picture of the list drawn from a decode at full scale.
FakeSurface drawnWhole(const PictureListState& list, int width, int height, float zoom = 1.0f) {
    RenderState full;
    EXPECT_EQ(decodePicture(list.pictureList[0], full.currentPicture), DecodeStatus::Ok);
    full.zoom.zoomFactor = zoom;
    FakeSurface surface(width, height);
    EXPECT_EQ(renderPicture(currentPath(list), full, &surface, 0), 0);
    return surface;
}

// The fit drawn from a reduced decode looks like the one drawn from the full picture: on
// average within a quarter of a level.
TEST_F(QuadrantsListed, FitLooksTheSameAsFromTheFullPicture) {
    FakeSurface fromReduced(300, 300);
    RenderState reduced;
    ASSERT_EQ(reloadPicture(currentPath(list), reduced, &fromReduced), 0);
    ASSERT_TRUE(reduced.currentPicture.reduced());
    const auto [mean, worst] = difference(fromReduced.pixels, drawnWhole(list, 300, 300).pixels);
    // Hard colour edges ring a little differently at the two scales; nowhere else differs.
    EXPECT_LT(mean, 0.25);
    EXPECT_LE(worst, 24);
}

// A window larger than the reduced picture holds is drawn enlarged at once, then sharpened by
// tiles, which never replace the picture held.
TEST_F(QuadrantsListed, LargerWindowIsSharpenedByTiles) {
    FakeSurface small(300, 300);
    RenderState state;
    ASSERT_EQ(reloadPicture(currentPath(list), state, &small), 0);
    ASSERT_TRUE(state.currentPicture.reduced());
    DetailTiles tiles;
    FakeSurface larger(700, 700);  // fit 700 x 525: more than the 400 x 300 pixels
    ASSERT_EQ(renderPicture(currentPath(list), state, &larger, 0, &tiles), 0);
    const QImage enlarged = larger.pixels.copy();
    tiles.waitIdle();
    ASSERT_EQ(renderPicture(currentPath(list), state, &larger, 0, &tiles), 0);
    EXPECT_TRUE(state.currentPicture.reduced());
    const FakeSurface whole = drawnWhole(list, 700, 700);
    EXPECT_LT(difference(larger.pixels, whole.pixels).first,
              difference(enlarged, whole.pixels).first / 2);
    // Nor is a fit made ahead for it, which would be the enlarged one.
    PreparedPicture ahead = preparePicture(list.pictureList[0], {300, 300});
    prepareFit(ahead, 700, 700);
    EXPECT_FALSE(ahead.resampled.valid);
}

// A file rewritten or deleted since the shown picture was decoded is never mixed into it: no
// tile of it is drawn, and the zoom shows the reduced pixels enlarged until the next decode.
TEST_F(QuadrantsListed, ChangedFileIsNeverDrawnFromItsTiles) {
    FakeSurface surface(300, 300);
    RenderState state;
    ASSERT_EQ(reloadPicture(currentPath(list), state, &surface), 0);
    ASSERT_TRUE(state.currentPicture.reduced());
    state.zoom.zoomFactor = 2.0f;
    FakeSurface enlarged(300, 300);
    ASSERT_EQ(renderPicture(currentPath(list), state, &enlarged, 0), 0);
    for (const char* trap : {"rewritten_same_size", "deleted"}) {
        if (std::string(trap) == "deleted") {
            std::filesystem::remove(list.pictureList[0]);
        } else {
            QImage black(1600, 1200, QImage::Format_RGB32);
            black.fill(Qt::black);
            ASSERT_TRUE(black.save(QString::fromStdString(list.pictureList[0]), "JPEG"));
        }
        DetailTiles tiles;
        ASSERT_EQ(renderPicture(currentPath(list), state, &surface, 0, &tiles), 0) << trap;
        tiles.waitIdle();
        ASSERT_EQ(renderPicture(currentPath(list), state, &surface, 0, &tiles), 0) << trap;
        EXPECT_TRUE(surface.pixels == enlarged.pixels) << trap;
    }
}

// At start-up the first picture is asked for before the screen is known. A JPEG that a small
// screen would take reduced waits for the area given afterwards and is reduced for it; one no
// screen would reduce, and our PNG path, don't wait at all; and a prefetcher closed before any
// area comes still closes.
TEST_F(QuadrantsListed, ScreenAreaGivenAfterTheRequestReducesTheDecode) {
    const std::filesystem::path large = writeQuadrants(dir, "large.jpg", 3200, 2400);
    {
        Prefetcher early;
        early.awaitScreenArea();
        early.request({large});
        // Time for the worker to read the file; a decode that didn't wait would be done.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        early.setScreenArea({300, 300});
        const std::optional<PreparedPicture> taken = awaitPicture(early, large);
        ASSERT_TRUE(taken.has_value());
        EXPECT_EQ(taken->picture.width(), 3200 / reductionFor(3200, 2400, {300, 300}));
        EXPECT_EQ(taken->picture.fullWidth(), 3200);
    }

    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(kBlue);
    const QString png = dir.filePath("p.png");
    ASSERT_TRUE(image.save(png, "PNG"));
    const std::filesystem::path screenSized = list.pictureList[0];
    Prefetcher early;
    early.awaitScreenArea();
    early.request({png.toStdString(), screenSized, large});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (early.cachedCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(early.cachedCount(), 2u) << "the PNG and the 1600 x 1200 JPEG decoded, the large "
                                          "JPEG still waits";
    const std::optional<PreparedPicture> whole = awaitPicture(early, screenSized);
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(whole->picture.width(), 1600);
    // Leaving the scope with the large JPEG still waiting for its area must not hang.
}

}  // namespace
