// Pictures decoded ahead on the worker must be indistinguishable from a decode at the step,
// and must never stand in for a file that changed or for another file.
#include <QBuffer>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "app/picture_surface.h"
#include "catalogue/picture_list.h"
#include "render/render_pipeline.h"
#include "render/source/prefetcher.h"
#include "window_test_support.h"

#include "exif_jpeg.h"

namespace {

class SurfaceImage : public RenderTarget {
  public:
    QImage pixels{80, 60, QImage::Format_RGB32};
    QImage* surfacePixels() override { return &pixels; }
    void present() override {}
};

// The shared test JPEG, as the bytes a file holds.
std::string jpegBytes(uint16_t orientation) {
    return jpegWithOrientation(orientation).toStdString();
}

// A PNG with straight alpha: the alpha path premultiplies it at the render, never before.
std::string pngWithAlpha() {
    QImage image(24, 18, QImage::Format_ARGB32);
    image.fill(qRgba(200, 100, 50, 128));
    image.setPixel(3, 4, qRgba(10, 250, 90, 255));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png.toStdString();
}

void expectSameExif(const ExifInfo& a, const ExifInfo& b) {
    EXPECT_EQ(a.hasExif, b.hasExif);
    EXPECT_EQ(a.orientation, b.orientation);
    EXPECT_EQ(a.imageWidth, b.imageWidth);
    EXPECT_EQ(a.imageHeight, b.imageHeight);
    EXPECT_EQ(a.thumbnailSize, b.thumbnailSize);
    EXPECT_STREQ(a.cameraMake, b.cameraMake);
    EXPECT_STREQ(a.comment, b.comment);
}

struct PictureCase {
    const char* name;
    const char* fileName;
    std::string bytes;
    int32_t prefetchSurfaceWidth;  // the surface the prefetch fitted to; the render's is 80
    bool resampledAhead;           // whether the fitted resample comes from the prefetch
};

class CachedStep : public ::testing::TestWithParam<PictureCase> {};

// The render's whole observable state after a reload from the prefetch equals that of a
// reload that decodes the file itself: pixels, alpha, the premultiply flag, EXIF, zoom and
// what lands on the surface.
TEST_P(CachedStep, GivesWhatAFreshDecodeGives) {
    TempFolder folder;
    const std::filesystem::path file = folder / GetParam().fileName;
    writeBytes(file, GetParam().bytes);
    PictureListState list;
    list.pictureList = {file};

    RenderState fresh;
    fresh.zoom.zoomFactor = 2.0f;
    SurfaceImage freshSurface;
    const int32_t freshResult =
        renderPicture(currentPath(list), fresh, &freshSurface, 0, kRotateNone);

    Prefetcher prefetcher;
    prefetcher.request({file}, GetParam().prefetchSurfaceWidth, 60);
    prefetcher.waitIdle();
    ASSERT_EQ(prefetcher.cachedCount(), 1u);
    RenderState cached;
    cached.zoom.zoomFactor = 2.0f;
    cached.loadFailed = 1;
    SurfaceImage cachedSurface;
    bool asked = false;
    const int32_t cachedResult = renderPicture(
        currentPath(list), cached, &cachedSurface, 0, kRotateNone, [&](const auto& f) {
            asked = true;
            std::optional<PreparedPicture> taken = prefetcher.take(f);
            EXPECT_EQ(taken && taken->resampled.valid, GetParam().resampledAhead);
            return taken;
        });

    EXPECT_TRUE(asked);
    EXPECT_EQ(prefetcher.cachedCount(), 0u);
    EXPECT_EQ(cachedResult, freshResult);
    EXPECT_EQ(cached.currentPicture.qimage(), fresh.currentPicture.qimage());
    EXPECT_EQ(cached.currentPicture.hasAlpha(), fresh.currentPicture.hasAlpha());
    EXPECT_EQ(cached.alphaPremultiplied, fresh.alphaPremultiplied);
    EXPECT_EQ(cached.loadFailed, fresh.loadFailed);
    EXPECT_EQ(cached.zoom.zoomFactor, fresh.zoom.zoomFactor);
    expectSameExif(cached.exifInfo, fresh.exifInfo);
    EXPECT_EQ(cachedSurface.pixels, freshSurface.pixels);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, CachedStep,
    ::testing::Values(
        PictureCase{"upright_jpeg_keeps_zoom", "a.jpg", jpegBytes(1), 80, true},
        PictureCase{"quarter_turn_not_lost_nor_doubled", "b.jpg", jpegBytes(6), 80, true},
        PictureCase{"half_turn_resets_zoom", "c.jpg", jpegBytes(3), 80, true},
        PictureCase{"fitted_for_an_older_surface_size", "e.jpg", jpegBytes(6), 120, true},
        PictureCase{"fit_unknown_without_a_surface", "f.jpg", jpegBytes(1), 0, false},
        PictureCase{"alpha_stays_straight_until_render", "d.png", pngWithAlpha(), 80, false},
        PictureCase{"opaque_png_on_the_alpha_path", "g.png", jpegBytes(1), 80, true}),
    [](const auto& info) { return std::string(info.param.name); });

// The resample made ahead is what the render puts on the surface when the surface is the
// one it was made for, and is made anew when the window changed size since: marked pixels
// in the ahead-made resample show which happened.
TEST(CachedStep, AheadResampleIsUsedOnlyForItsOwnSurface) {
    TempFolder folder;
    const std::filesystem::path file = folder / "a.jpg";
    writeBytes(file, jpegBytes(6));
    PictureListState list;
    list.pictureList = {file};
    for (const int32_t prefetchWidth : {80, 81}) {
        Prefetcher prefetcher;
        prefetcher.request({file}, prefetchWidth, 60);
        prefetcher.waitIdle();
        RenderState state;
        SurfaceImage surface;
        renderPicture(currentPath(list), state, &surface, 0, kRotateNone, [&](const auto& f) {
            std::optional<PreparedPicture> taken = prefetcher.take(f);
            if (taken)
                std::fill(taken->resampled.pixels.begin(), taken->resampled.pixels.end(),
                          0xFF00FF00u);
            return taken;
        });
        const bool marked = surface.pixels.pixel(40, 30) == 0xFF00FF00u;
        EXPECT_EQ(marked, prefetchWidth == 80) << "prefetched for width " << prefetchWidth;
    }
}

// A reload without a surface decodes but never turns; a picture turned ahead would differ.
TEST(CachedStep, NoSurfaceDoesNotUseTheTurnedPicture) {
    TempFolder folder;
    const std::filesystem::path file = folder / "turned.jpg";
    writeBytes(file, jpegBytes(6));
    PictureListState list;
    list.pictureList = {file};
    RenderState state;
    bool asked = false;
    renderPicture(currentPath(list), state, nullptr, 0, kRotateNone, [&](const auto&) {
        asked = true;
        return std::optional<PreparedPicture>();
    });
    EXPECT_FALSE(asked);
    EXPECT_EQ(state.currentPicture.width(), 40);
}

// How a file can change between its prefetch and the step.
struct ChangeCase {
    const char* name;
    void (*change)(const std::filesystem::path&);
};

class ChangedFile : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangedFile, IsDecodedAfresh) {
    TempFolder folder;
    const std::filesystem::path file = folder / "x.png";
    writePicture(file, 20, 10, Qt::red);
    Prefetcher prefetcher;
    prefetcher.request({file});
    prefetcher.waitIdle();
    ASSERT_EQ(prefetcher.cachedCount(), 1u);
    GetParam().change(file);
    EXPECT_FALSE(prefetcher.take(file).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedFile,
    ::testing::Values(
        ChangeCase{"same_size_newer_time",
                   [](const std::filesystem::path& f) {
                       std::filesystem::last_write_time(
                           f, std::filesystem::last_write_time(f) + std::chrono::seconds(5));
                   }},
        ChangeCase{"rewritten_other_size",
                   [](const std::filesystem::path& f) { writePicture(f, 30, 30, Qt::blue); }},
        ChangeCase{"deleted", [](const std::filesystem::path& f) { std::filesystem::remove(f); }},
        ChangeCase{"replaced_by_folder",
                   [](const std::filesystem::path& f) {
                       std::filesystem::remove(f);
                       std::filesystem::create_directory(f);
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Prefetcher, UnchangedFileIsTakenOnceAndNeverForAnother) {
    TempFolder folder;
    const std::filesystem::path a = folder / "a.png";
    const std::filesystem::path b = folder / "b.png";
    writePicture(a, 20, 10, Qt::red);
    writePicture(b, 20, 10, Qt::blue);
    Prefetcher prefetcher;
    prefetcher.request({a});
    prefetcher.waitIdle();
    EXPECT_FALSE(prefetcher.take(b).has_value());
    std::optional<PreparedPicture> taken = prefetcher.take(a);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->file, a);
    EXPECT_EQ(taken->picture.qimage().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_FALSE(prefetcher.take(a).has_value());
}

// Everything that makes a prefetched picture unwanted: deletion, a drop of another folder,
// a jump elsewhere, and a result that arrives for a file no longer asked for.
struct DropCase {
    const char* name;
    void (*drop)(Prefetcher&, const std::filesystem::path& wanted,
                 const std::filesystem::path& other);
};

class Unwanted : public ::testing::TestWithParam<DropCase> {};

TEST_P(Unwanted, IsNeverUsed) {
    TempFolder folder;
    const std::filesystem::path a = folder / "a.png";
    const std::filesystem::path b = folder / "b.png";
    writePicture(a, 200, 100, Qt::red);
    writePicture(b, 20, 10, Qt::blue);
    Prefetcher prefetcher;
    prefetcher.request({a});
    GetParam().drop(prefetcher, a, b);
    prefetcher.waitIdle();
    EXPECT_FALSE(prefetcher.take(a).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Drops, Unwanted,
    ::testing::Values(DropCase{"forgotten_after_decode",
                               [](Prefetcher& p, const auto& wanted, const auto&) {
                                   p.waitIdle();
                                   p.forget(wanted);
                               }},
                      DropCase{"deleted_while_decoding", [](Prefetcher& p, const auto& wanted,
                                                            const auto&) { p.forget(wanted); }},
                      DropCase{"cleared_by_a_drop",
                               [](Prefetcher& p, const auto&, const auto&) { p.clear(); }},
                      DropCase{"stale_after_a_jump", [](Prefetcher& p, const auto&,
                                                        const auto& other) { p.request({other}); }},
                      DropCase{"stale_after_decode",
                               [](Prefetcher& p, const auto&, const auto& other) {
                                   p.waitIdle();
                                   p.request({other});
                               }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Prefetcher, KeepsAtMostTwoUnderItsCap) {
    TempFolder folder;
    std::vector<std::filesystem::path> files;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        files.push_back(folder / name);
        writePicture(files.back(), 100, 100, Qt::green);  // 40000 bytes of pixels each
    }
    Prefetcher roomy(1 << 20);
    roomy.request(files);
    roomy.waitIdle();
    EXPECT_EQ(roomy.cachedCount(), 2u);
    EXPECT_TRUE(roomy.take(files[0]).has_value());
    EXPECT_FALSE(roomy.take(files[2]).has_value());

    Prefetcher tight(50000);
    tight.request(files);
    tight.waitIdle();
    EXPECT_EQ(tight.cachedCount(), 1u);
    EXPECT_TRUE(tight.take(files[0]).has_value()) << "the most wanted one is the one kept";

    Prefetcher tooSmall(1000);
    tooSmall.request({files[0]});
    tooSmall.waitIdle();
    EXPECT_EQ(tooSmall.cachedCount(), 0u);
}

// A window resized after the prefetch gets its pictures fitted again for the new size.
TEST(Prefetcher, NewSurfaceSizeRefitsWhatIsCached) {
    TempFolder folder;
    const std::filesystem::path file = folder / "a.jpg";
    writeBytes(file, jpegBytes(1));
    Prefetcher prefetcher;
    prefetcher.request({file}, 80, 60);
    prefetcher.waitIdle();
    prefetcher.request({file}, 100, 50);
    prefetcher.waitIdle();
    std::optional<PreparedPicture> taken = prefetcher.take(file);
    ASSERT_TRUE(taken.has_value());
    ASSERT_TRUE(taken->resampled.valid);
    EXPECT_EQ(taken->resampled.key.surfaceWidth, 100);
    EXPECT_EQ(taken->resampled.key.surfaceHeight, 50);
}

TEST(Prefetcher, FailedDecodeIsLeftToTheCaller) {
    TempFolder folder;
    const std::filesystem::path broken = folder / "broken.jpg";
    writeBytes(broken, std::string("\xFF\xD8\xFF\xE0 not really", 14));
    Prefetcher prefetcher;
    prefetcher.request({broken});
    prefetcher.waitIdle();
    EXPECT_EQ(prefetcher.cachedCount(), 0u);
    EXPECT_FALSE(prefetcher.take(broken).has_value());
}

// The first paint's wait: bounded while the decode runs on, and over once it has ended,
// with the picture then ready to take.
TEST(Prefetcher, WaitForDecodeGivesUpAtItsLimitAndEndsWithTheDecode) {
    TempFolder folder;
    writePicture(folder / "a.png", 20, 10, Qt::red);
    std::atomic<bool> release{false};
    Prefetcher prefetcher(
        Prefetcher::defaultCapBytes(),
        [&](const std::filesystem::path& file, const FitAreaSource& area, std::stop_token stop) {
            while (!release && !stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return preparePicture(file, area, stop);
        });
    prefetcher.request({folder / "a.png"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return prefetcher.decoding(folder / "a.png"); }, 5000));
    EXPECT_FALSE(prefetcher.waitForDecode(folder / "a.png", std::chrono::milliseconds(20)));
    release = true;
    EXPECT_TRUE(prefetcher.waitForDecode(folder / "a.png", std::chrono::milliseconds(5000)));
    EXPECT_TRUE(prefetcher.takeResult(folder / "a.png").has_value());
    // Nothing under way: no wait at all.
    EXPECT_TRUE(prefetcher.waitForDecode(folder / "b.png", std::chrono::milliseconds(0)));
}

// Steps in a row: the picture after the awaited one decodes beside it, on the worker a step
// has freed, whichever the window wants next.
TEST(Prefetcher, ThePictureAfterTheAwaitedOneDecodesBesideIt) {
    TempFolder folder;
    for (const char* name : {"x.png", "a.png", "b.png", "c.png"})
        writePicture(folder / name, 20, 10, Qt::red);
    using Clock = std::chrono::steady_clock;
    std::mutex mutex;
    std::map<std::string, Clock::time_point> started;
    std::map<std::string, Clock::time_point> ended;
    Prefetcher prefetcher(
        Prefetcher::defaultCapBytes(),
        [&](const std::filesystem::path& file, const FitAreaSource& area, std::stop_token stop) {
            const auto begin = Clock::now();
            {
                std::lock_guard lock(mutex);
                started[file.filename().string()] = begin;
            }
            const int ms = file.filename() == "a.png" ? 300 : 100;
            while (Clock::now() < begin + std::chrono::milliseconds(ms) && !stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::lock_guard lock(mutex);
            ended[file.filename().string()] = Clock::now();
            return preparePicture(file, area, stop);
        });
    prefetcher.request({folder / "x.png", folder / "a.png"});  // x first, a on the second
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    prefetcher.await(folder / "a.png");
    prefetcher.request({folder / "a.png", folder / "c.png"});    // x dropped: the first worker is
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // free for c, after a
    prefetcher.request({folder / "a.png", folder / "b.png"});    // the window wants b instead
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return prefetcher.takeResult(folder / "a.png").has_value(); }, 5000));
    std::lock_guard lock(mutex);
    ASSERT_EQ(started.count("c.png"), 1u) << "the picture after a decodes beside it";
    EXPECT_LT(started["c.png"], ended["a.png"]);
    ASSERT_EQ(started.count("b.png"), 1u);
    EXPECT_LT(started["b.png"], ended["a.png"]);
}

// The window: every step shows its own picture at once, whichever of them came from the
// prefetch, and a picture rewritten after it was prefetched shows as it is now.
class WindowPrefetch : public ::testing::Test {
  protected:
    TempFolder folder;
    WindowFixture fixture;
    const QColor colours[4] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};

    void SetUp() override {
        const char* names[4] = {"p0.png", "p1.png", "p2.png", "p3.png"};
        for (int i = 0; i < 4; ++i)
            writePicture(folder / names[i], 64, 48, colours[i]);
        fixture.open(folder / "p0.png");
    }
    QColor centre() const {
        const QImage& pixels = *fixture.window->surface()->surfacePixels();
        return fixture.pixel(pixels.width() / 2, pixels.height() / 2);
    }
};

TEST_F(WindowPrefetch, RepeatedStepsShowEveryPictureAndEndOnTheLast) {
    const int steps[] = {Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right,
                         Qt::Key_Left,  Qt::Key_Left,  Qt::Key_Right};
    const int expected[] = {1, 2, 3, 0, 3, 2, 3};
    for (size_t i = 0; i < std::size(steps); ++i) {
        fixture.press(steps[i]);
        EXPECT_EQ(centre(), colours[expected[i]]) << "step " << i;
    }
    EXPECT_EQ(fixture.title(), QString("Quillmere - p3.png"));
}

TEST_F(WindowPrefetch, PictureRewrittenAfterPrefetchShowsItsNewContent) {
    Prefetcher& prefetcher = fixture.window->prefetcher();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        prefetcher.waitIdle();
        return prefetcher.cachedCount() == 2;
    }));
    const std::filesystem::path next = folder / "p1.png";
    const auto before = std::filesystem::last_write_time(next);
    writePicture(next, 64, 48, Qt::magenta);
    std::filesystem::last_write_time(next, before + std::chrono::seconds(2));
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(centre(), QColor(Qt::magenta));
}

}  // namespace
