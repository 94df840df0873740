// Pictures decoded ahead on the worker must be indistinguishable from a decode at the step,
// and must never stand in for a file that changed or for another file.
#include <QBuffer>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "app/picture_surface.h"
#include "catalogue/picture_list.h"
#include "platform/file_system_probe.h"
#include "render/render_pipeline.h"
#include "render/source/prefetch_policy.h"
#include "render/source/prefetcher.h"
#include "window_test_support.h"

#include "fake_surface.h"

#include "exif_jpeg.h"

namespace {

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

// The render's whole observable state after a reload from the prefetch (decoded ahead, turned
// and fitted by the worker, then found unchanged) equals that of a reload whose picture the
// render turns and resamples itself: pixels, alpha, the premultiply flag, EXIF, zoom and what
// lands on the surface.
TEST_P(CachedStep, GivesWhatAFreshDecodeGives) {
    TempFolder folder;
    const std::filesystem::path file = folder / GetParam().fileName;
    writeBytes(file, GetParam().bytes);
    PictureListState list;
    list.pictureList = {file};

    RenderState fresh;
    fresh.zoom.zoomFactor = 2.0f;
    FakeSurface freshSurface(80, 60);
    const int32_t freshResult =
        reloadPicture(currentPath(list), fresh, &freshSurface, nullptr, /*turn=*/false);

    Prefetcher prefetcher;
    prefetcher.request({file}, GetParam().prefetchSurfaceWidth, 60);
    prefetcher.waitIdle();
    ASSERT_EQ(prefetcher.cachedCount(), 1u);
    std::optional<PreparedPicture> taken = awaitPicture(prefetcher, file);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->resampled.valid, GetParam().resampledAhead);
    EXPECT_EQ(prefetcher.cachedCount(), 0u);
    RenderState cached;
    cached.zoom.zoomFactor = 2.0f;
    cached.loadFailed = 1;
    FakeSurface cachedSurface(80, 60);
    beginPendingReload(currentPath(list), cached);
    const int32_t cachedResult =
        finishPendingReload(currentPath(list), cached, &cachedSurface, std::move(*taken));

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
        std::optional<PreparedPicture> taken = awaitPicture(prefetcher, file);
        ASSERT_TRUE(taken.has_value());
        std::fill(taken->resampled.pixels.begin(), taken->resampled.pixels.end(), 0xFF102030u);
        RenderState state;
        FakeSurface surface(80, 60);
        beginPendingReload(currentPath(list), state);
        finishPendingReload(currentPath(list), state, &surface, std::move(*taken));
        const bool marked = surface.pixels.pixel(40, 30) == 0xFF102030u;
        EXPECT_EQ(marked, prefetchWidth == 80) << "prefetched for width " << prefetchWidth;
    }
}

// How a file can change between its prefetch and the step.
struct ChangeCase {
    const char* name;
    void (*change)(const std::filesystem::path&);
};

class ChangedFile : public ::testing::TestWithParam<ChangeCase> {};

// A file changed after its decode ahead is read again once the window waits for it: what it
// gets is the file as it is now (a failure for one that is gone), never the stale picture.
TEST_P(ChangedFile, IsDecodedAfresh) {
    TempFolder folder;
    const std::filesystem::path file = folder / "x.png";
    writePicture(file, 20, 10, Qt::red);
    std::atomic<int> decodes{0};
    Prefetcher prefetcher(
        Prefetcher::defaultCapBytes(),
        [&](const std::filesystem::path& f, const FitAreaSource& area, std::stop_token stop) {
            ++decodes;
            return preparePicture(f, area, stop);
        });
    prefetcher.request({file});
    prefetcher.waitIdle();
    ASSERT_EQ(prefetcher.cachedCount(), 1u);
    if (GetParam().change)
        GetParam().change(file);
    const std::optional<PreparedPicture> taken = awaitPicture(prefetcher, file);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(decodes, GetParam().change ? 2 : 1);
    const std::optional<FileVersion> now = regularFileVersion(file);
    EXPECT_EQ(taken->status == DecodeStatus::Ok, now.has_value());
    EXPECT_TRUE(!now || taken->stamp == *now) << "the picture of the file as it is now";
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangedFile,
    ::testing::Values(
        ChangeCase{"unchanged_is_not_read_again", nullptr},
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

// Only the awaited file is given, once, and a broken file as a failure, so that the window doesn't
// decode it again.
TEST(Prefetcher, GivesTheAwaitedFileOnceAndNeverAnother) {
    TempFolder folder;
    const std::filesystem::path a = folder / "a.png";
    const std::filesystem::path broken = folder / "broken.jpg";
    writePicture(a, 20, 10, Qt::red);
    writeBytes(broken, std::string("\xFF\xD8\xFF\xE0 not really", 14));
    Prefetcher prefetcher;
    prefetcher.request({a, broken});
    prefetcher.waitIdle();
    EXPECT_EQ(prefetcher.cachedCount(), 1u);
    EXPECT_FALSE(prefetcher.takeResult(a).has_value()) << "not awaited";
    std::optional<PreparedPicture> taken = awaitPicture(prefetcher, a);
    ASSERT_TRUE(taken.has_value());
    EXPECT_EQ(taken->file, a);
    EXPECT_EQ(taken->picture.qimage().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_FALSE(prefetcher.takeResult(a).has_value());
    taken = awaitPicture(prefetcher, broken);
    ASSERT_TRUE(taken.has_value());
    EXPECT_NE(taken->status, DecodeStatus::Ok);
}

// Everything that makes a prefetched picture unwanted: deletion, a drop of another folder,
// a jump elsewhere, and a result that arrives for a file no longer asked for.
struct DropCase {
    const char* name;
    void (*drop)(Prefetcher&, const std::filesystem::path& wanted,
                 const std::filesystem::path& other);
};

class Unwanted : public ::testing::TestWithParam<DropCase> {};

TEST_P(Unwanted, IsNeverKept) {
    TempFolder folder;
    const std::filesystem::path a = folder / "a.png";
    const std::filesystem::path b = folder / "b.png";
    writePicture(a, 200, 100, Qt::red);
    writePicture(b, 20, 10, Qt::blue);
    Prefetcher prefetcher;
    prefetcher.request({a});
    GetParam().drop(prefetcher, a, b);
    prefetcher.waitIdle();
    EXPECT_FALSE(prefetcher.coming(a));
    EXPECT_LT(prefetcher.aheadBytes(), size_t{200} * 100 * 4) << "the picture of a is held";
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

// What the policy keeps, drops, stops and asks for, one decision at a time (sizes in KiB, a
// cap of 100 KiB, the last picture 60 KiB).
TEST(PrefetchPolicy, KeepsDropsStopsAndAsks) {
    using Work = PrefetchPlan::Work;
    using Held = PrefetchState::Held;
    constexpr size_t k = 1024;
    struct Row {
        const char* trap;
        std::vector<std::filesystem::path> wanted;
        std::filesystem::path awaited;
        std::vector<Held> held;
        std::vector<PrefetchState::Decoding> decoding;
        std::vector<std::filesystem::path> deferred;
        std::vector<std::filesystem::path> drop, stop;
        std::vector<PrefetchPlan::Job> ask;
    };
    const Row rows[] = {
        {"awaited_asked_whatever_the_cache_holds",
         {"b", "a"},
         "b",
         {{"a", 60 * k}},
         {},
         {},
         {},
         {},
         {{"b", Work::Decode}}},
        {"least_wanted_gives_way_to_the_cap",
         {"a", "b"},
         {},
         {{"b", 60 * k}, {"a", 60 * k}},
         {},
         {},
         {"b"},
         {},
         {}},
        {"a_picture_over_the_cap_is_not_kept_ahead",
         {"a", "b"},
         {},
         {{"a", 120 * k}},
         {},
         {},
         {"a"},
         {},
         {{"b", Work::Decode}}},
        {"count_keeps_to_two",
         {"a", "b"},
         "c",
         {{"c", 1 * k}, {"b", 1 * k}, {"a", 1 * k}},
         {},
         {},
         {"b"},
         {},
         {{"c", Work::Check}}},
        {"awaited_over_the_cap_is_kept_and_checked",
         {"a"},
         "a",
         {{"a", 500 * k}},
         {},
         {},
         {},
         {},
         {{"a", Work::Check}}},
        {"awaited_read_since_is_given",
         {"a"},
         "a",
         {{"a", 500 * k, false, true, true}},
         {},
         {},
         {},
         {},
         {}},
        {"unwanted_decode_stopped_and_unwanted_dropped",
         {"a"},
         {},
         {{"y", 1 * k}},
         {{"x", true}},
         {},
         {"y"},
         {"x"},
         {{"a", Work::Decode}}},
        {"no_room_for_one_more_of_the_last_size",
         {"a", "b"},
         {},
         {{"a", 60 * k}},
         {},
         {},
         {},
         {},
         {}},
        {"deferred_waits_for_the_window",
         {"a", "b"},
         {},
         {},
         {},
         {"a"},
         {},
         {},
         {{"b", Work::Decode}}},
        {"deferred_decoded_once_awaited",
         {"a", "b"},
         "a",
         {},
         {},
         {"a"},
         {},
         {},
         {{"a", Work::Decode}, {"b", Work::Decode}}},
        {"stale_fit_refitted_after_the_awaited",
         {"a", "b"},
         "a",
         {{"b", 30 * k, false, true}},
         {},
         {},
         {},
         {},
         {{"a", Work::Decode}, {"b", Work::Refit}}},
        {"failed_kept_uncounted",
         {"a", "b"},
         {},
         {{"a", 0, true}},
         {},
         {},
         {},
         {},
         {{"b", Work::Decode}}},
    };
    for (const Row& row : rows) {
        PrefetchState state;
        state.wanted = row.wanted;
        state.awaited = row.awaited;
        state.held = row.held;
        state.decoding = row.decoding;
        state.deferred = row.deferred;
        state.capBytes = 100 * k;
        state.lastBytes = 60 * k;
        const PrefetchPlan plan = planPrefetch(state);
        EXPECT_EQ(plan.drop, row.drop) << row.trap;
        EXPECT_EQ(plan.stop, row.stop) << row.trap;
        EXPECT_EQ(plan.ask, row.ask) << row.trap;
    }
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
    std::optional<PreparedPicture> taken = awaitPicture(prefetcher, file);
    ASSERT_TRUE(taken.has_value());
    ASSERT_TRUE(taken->resampled.valid);
    EXPECT_EQ(taken->resampled.key.surfaceWidth, 100);
    EXPECT_EQ(taken->resampled.key.surfaceHeight, 50);
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
    EXPECT_TRUE(awaitPicture(prefetcher, folder / "a.png").has_value());
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

// A key the hanging file held would wait the 2 s the probe holds the window's thread; one
// answered at once comes back well within a second, also on a loaded machine under a sanitizer.
constexpr auto kAnswerWithin = std::chrono::milliseconds(1000);

// Probes of the file system: which thread calls it, and a file whose calls hang.
std::atomic<std::thread::id> windowThread;
std::atomic<int> callsOnTheWindow{0};
std::mutex hangMutex;
std::condition_variable hangReleased;
std::string hangingName;  // under hangMutex
std::atomic<int> hungCalls{0};

void probe(FileSystemCall, const char* path) {
    if (std::this_thread::get_id() == windowThread.load())
        ++callsOnTheWindow;
    std::unique_lock lock(hangMutex);
    if (path == nullptr || hangingName.empty() || !std::string_view(path).ends_with(hangingName))
        return;
    ++hungCalls;
    // The window's thread, which must never get here, is let go after a while: a test
    // that fails rather than hangs.
    const auto released = [&] { return hangingName.empty(); };
    if (std::this_thread::get_id() == windowThread.load())
        hangReleased.wait_for(lock, std::chrono::seconds(2), released);
    else
        hangReleased.wait(lock, released);
}

// Ends the hang and removes the probe however the test ends.
struct ProbeInstalled {
    explicit ProbeInstalled(const std::string& hanging = {}) {
        windowThread = std::this_thread::get_id();
        callsOnTheWindow = 0;
        hungCalls = 0;
        std::lock_guard lock(hangMutex);
        hangingName = hanging;
        setFileSystemProbe(probe);
    }
    ~ProbeInstalled() {
        release();
        setFileSystemProbe(nullptr);
    }
    void release() {
        {
            std::lock_guard lock(hangMutex);
            hangingName.clear();
        }
        hangReleased.notify_all();
    }
};

// After the start the window's thread never calls the file system: steps to neighbours decoded
// ahead and to ones still coming, zooms and turns leave every call to the workers.
TEST_F(WindowPrefetch, NoFileSystemCallOnTheWindowsThreadAfterTheStart) {
    const ProbeInstalled installed;
    fixture.press(Qt::Key_Right);                          // decoded ahead
    QTest::keyClick(fixture.window.get(), Qt::Key_Right);  // and at once another, still coming
    fixture.press(Qt::Key_Right);
    for (const int key :
         {Qt::Key_Up, Qt::Key_Up, Qt::Key_R, Qt::Key_Down, Qt::Key_Left, Qt::Key_Left, Qt::Key_L})
        fixture.press(key);
    EXPECT_EQ(fixture.title(), QString("Quillmere - p1.png"));
    EXPECT_EQ(centre(), colours[1]);
    EXPECT_EQ(callsOnTheWindow, 0);
}

// A file whose every call hangs (a share gone away) holds only its own picture: the window
// answers every key at once, steps past it to pictures that come, and shows it once the file
// system answers again.
TEST_F(WindowPrefetch, HangingFileHoldsOnlyItsOwnPicture) {
    ProbeInstalled installed("p1.png");
    const auto answered = [&](int key) {
        const auto start = std::chrono::steady_clock::now();
        QTest::keyClick(fixture.window.get(), static_cast<Qt::Key>(key));
        QCoreApplication::processEvents();
        return std::chrono::steady_clock::now() - start < kAnswerWithin;
    };
    EXPECT_TRUE(answered(Qt::Key_Right));  // p1, decoded ahead: its check hangs
    ASSERT_TRUE(QTest::qWaitFor([] { return hungCalls > 0; }, 5000));
    EXPECT_TRUE(answered(Qt::Key_Right));  // p2 comes while p1 still hangs
    ASSERT_TRUE(QTest::qWaitFor([&] { return centre() == colours[2]; }, 5000));
    EXPECT_TRUE(answered(Qt::Key_Right));
    ASSERT_TRUE(QTest::qWaitFor([&] { return centre() == colours[3]; }, 5000));
    EXPECT_TRUE(answered(Qt::Key_Left));
    EXPECT_TRUE(answered(Qt::Key_Left));  // held at most 250 ms for p2, then on to p1
    EXPECT_TRUE(QTest::qWaitFor([&] { return fixture.title() == "Quillmere - p1.png"; }, 2000));
    EXPECT_TRUE(fixture.window->busy()) << "p1's picture stays coming";
    EXPECT_EQ(callsOnTheWindow, 0);
    installed.release();
    fixture.waitIdle();
    EXPECT_EQ(centre(), colours[1]);
}

}  // namespace
