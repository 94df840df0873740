#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "catalogue/picture_list.h"
#include "fake_surface.h"
#include "render/render_pipeline.h"

namespace {

constexpr uint32_t kGrey = 0xFFFAFAFAu;
constexpr uint32_t kBlack = 0xFF000000u;
constexpr uint32_t kStale = FakeSurface::kStale;  // what the surface showed before the render
constexpr uint32_t kPaint = 0xFFC04020u;          // a picture colour no background can be

Image solid(int32_t width, int32_t height, uint32_t colour, bool alpha = false) {
    Image image;
    image.create(width, height, alpha);
    for (int32_t y = 0; y < height; ++y)
        std::fill_n(reinterpret_cast<uint32_t*>(image.row(y)), width, colour);
    return image;
}

PictureListState listOf(const char* path) {
    PictureListState list;
    list.pictureList = {path};
    return list;
}

// Pixels inside inside must be the picture colour, every other pixel the background.
int mismatches(const QImage& surface, const PixelRect& inside, uint32_t picture, uint32_t back) {
    int wrong = 0;
    for (int y = 0; y < surface.height(); ++y)
        for (int x = 0; x < surface.width(); ++x) {
            const bool in = x >= inside.x && x < inside.x + inside.width && y >= inside.y &&
                            y < inside.y + inside.height;
            wrong += surface.pixel(x, y) != (in ? picture : back);
        }
    return wrong;
}

TEST(RenderPicture, FitsPictureOverGreyMargins) {
    struct Row {
        const char* trap;
        int32_t pictureWidth, pictureHeight, surfaceWidth, surfaceHeight;
        float zoom, panX, panY;
        PixelRect drawn;
    };
    const Row rows[] = {
        {"wide_picture_top_bottom_strips", 200, 100, 800, 600, 1.0f, 0, 0, {0, 100, 800, 400}},
        {"tall_picture_side_strips", 300, 600, 800, 600, 1.0f, 0, 0, {250, 0, 300, 600}},
        {"odd_leftover_goes_right", 50, 50, 801, 600, 1.0f, 0, 0, {100, 0, 600, 600}},
        {"small_picture_enlarged", 16, 16, 1000, 500, 1.0f, 0, 0, {250, 0, 500, 500}},
        {"zoomed_covers_surface", 200, 100, 800, 600, 2.0f, -300, -200, {0, 0, 800, 600}},
        {"zoomed_off_surface", 200, 100, 800, 600, 2.0f, 900, 0, {}},
    };
    for (const auto& row : rows) {
        FakeSurface surface(row.surfaceWidth, row.surfaceHeight);
        RenderState state;
        state.currentPicture = solid(row.pictureWidth, row.pictureHeight, kPaint);
        state.zoom.zoomFactor = row.zoom;
        state.zoom.panX = row.panX;
        state.zoom.panY = row.panY;
        EXPECT_EQ(renderPicture(currentPath(listOf("/p/a.jpg")), state, &surface, 0), 0)
            << row.trap;
        EXPECT_EQ(mismatches(surface.pixels, row.drawn, kPaint, kGrey), 0) << row.trap;
        EXPECT_EQ(surface.presents, 1) << row.trap;
    }
}

// Left half opaque, right half transparent with white colour bytes.
Image halfTransparent() {
    Image image = solid(4, 2, kPaint, true);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 2; x < 4; ++x)
            reinterpret_cast<uint32_t*>(image.row(y))[x] = 0x00FFFFFFu;
    return image;
}

TEST(RenderPicture, PathDecidesAlphaBlending) {
    struct Row {
        const char* path;
        bool alpha;
    };
    const Row rows[] = {{"/pics/a.png", true},           {"/pics/a.PNG", true},
                        {"/pics/a.GIF", true},           {"/my.gif.files/b.jpg", true},
                        {"/pics/a.Png", false},          {"/pics/a.jpg", false},
                        {"/pics/a.png.d/../a.bmp", true}};
    for (const auto& row : rows) {
        for (const int32_t level : {250, 0}) {
            FakeSurface surface(80, 40);
            RenderState state;
            state.currentPicture = halfTransparent();
            state.backgroundLevel = level;
            renderPicture(currentPath(listOf(row.path)), state, &surface, 0);
            const uint32_t expected = row.alpha ? (level ? kGrey : kBlack) : 0xFFFFFFFFu;
            EXPECT_EQ(surface.pixels.pixel(70, 20), expected) << row.path;
            EXPECT_EQ(surface.pixels.pixel(10, 20), kPaint) << row.path;
            EXPECT_EQ(state.alphaPremultiplied, row.alpha ? 1 : 0) << row.path;
        }
    }
}

TEST(RenderPicture, PremultipliesOncePerDecodedPicture) {
    FakeSurface surface(10, 10);
    RenderState state;
    state.currentPicture = solid(1, 1, 0x803264C8u, true);
    renderPicture(currentPath(listOf("/a.png")), state, &surface, 0);
    renderPicture(currentPath(listOf("/a.png")), state, &surface, kRotateRight);
    EXPECT_EQ(state.currentPicture.qimage().pixel(0, 0), 0x80193264u);
}

TEST(RenderPicture, RedrawFromCacheMatchesAFreshRender) {
    // Background toggle, picture written in place, and resize, each after a cached render.
    FakeSurface surface(90, 50);
    RenderState state;
    state.currentPicture = halfTransparent();
    const PictureListState list = listOf("/a.png");
    renderPicture(currentPath(list), state, &surface, 0);
    const auto freshEquals = [&](FakeSurface& drawn) {
        RenderState fresh = state;
        fresh.resampled.invalidate();
        FakeSurface again(drawn.pixels.width(), drawn.pixels.height());
        renderPicture(currentPath(list), fresh, &again, 0);
        return again.pixels == drawn.pixels;
    };
    state.backgroundLevel = 0;
    renderPicture(currentPath(list), state, &surface, 0);
    EXPECT_TRUE(freshEquals(surface));
    reinterpret_cast<uint32_t*>(state.currentPicture.row(0))[0] = 0xFF0000FFu;
    renderPicture(currentPath(list), state, &surface, 0);
    EXPECT_EQ(surface.pixels.pixel(0, 2), 0xFF0000FFu);  // top-left of the picture
    FakeSurface larger(120, 50);
    renderPicture(currentPath(list), state, &larger, 0);
    EXPECT_TRUE(freshEquals(larger));
}

// Off the alpha path the surface itself keeps the resample: a redraw must still give what a
// fresh render gives, also when something else has drawn over the picture meanwhile.
TEST(RenderPicture, OpaqueRedrawsMatchAFreshRender) {
    const PictureListState list = listOf("/a.jpg");
    RenderState state;
    state.currentPicture = solid(40, 20, kPaint);
    reinterpret_cast<uint32_t*>(state.currentPicture.row(0))[0] = 0xFF0000FFu;
    FakeSurface surface(90, 50);
    renderPicture(currentPath(list), state, &surface, 0);
    const auto freshEquals = [&] {
        RenderState fresh = state;
        fresh.resampled.invalidate();
        FakeSurface again(surface.pixels.width(), surface.pixels.height());
        renderPicture(currentPath(list), fresh, &again, 0);
        return again.pixels == surface.pixels;
    };
    EXPECT_TRUE(freshEquals());
    state.backgroundLevel = 0;  // margins only
    renderPicture(currentPath(list), state, &surface, 0);
    EXPECT_TRUE(freshEquals());
    surface.pixels.fill(kStale);  // drawn over by someone else
    renderPicture(currentPath(list), state, &surface, 0);
    EXPECT_TRUE(freshEquals());
    EXPECT_EQ(surface.pixels.pixel(0, 2), 0xFF0000FFu);
    FakeSurface other(90, 50);  // another surface of the same size
    renderPicture(currentPath(list), state, &other, 0);
    EXPECT_EQ(other.pixels, surface.pixels);
}

TEST(RenderPicture, TurnsRedrawTurnedAndResetZoom) {
    FakeSurface surface(20, 20);
    RenderState state;
    state.currentPicture = solid(2, 1, kPaint);
    reinterpret_cast<uint32_t*>(state.currentPicture.row(0))[1] = 0xFF0000FFu;
    const QImage decoded = state.currentPicture.qimage().copy();
    const PictureListState list = listOf("/a.jpg");
    renderPicture(currentPath(list), state, &surface, 0);  // fills the cache before the turn
    state.zoom.zoomFactor = 3.0f;
    state.zoom.panX = -7.0f;
    renderPicture(currentPath(list), state, &surface, kRotateRight);
    EXPECT_EQ(state.zoom.zoomFactor, 1.0f);
    EXPECT_EQ(state.zoom.panX, -7.0f);
    EXPECT_EQ(surface.pixels.pixel(10, 1), kPaint);  // the left pixel now on top
    EXPECT_EQ(surface.pixels.pixel(10, 18), 0xFF0000FFu);
    for (int i = 0; i < 3; ++i)
        renderPicture(currentPath(list), state, &surface, kRotateRight);
    EXPECT_EQ(state.currentPicture.qimage(), decoded);
    state.zoom.zoomFactor = 2.0f;
    renderPicture(currentPath(list), state, &surface, 7);  // not a turn: nothing changes
    EXPECT_EQ(state.zoom.zoomFactor, 2.0f);
    EXPECT_EQ(state.currentPicture.qimage(), decoded);
}

TEST(RenderPicture, FailedDecodeShowsBackgroundThenRedrawsNothing) {
    FakeSurface surface(30, 20);
    RenderState state;
    state.currentPicture = solid(3, 2, kPaint);
    const PictureListState list = listOf("/no/such/dir/missing.jpg");
    renderPicture(currentPath(list), state, &surface, 0);
    EXPECT_EQ(reloadPicture(currentPath(list), state, &surface), -1);
    EXPECT_EQ(state.loadFailed, 1);
    EXPECT_EQ(mismatches(surface.pixels, {}, 0, kGrey), 0);
    const int presents = surface.presents;
    state.zoom.zoomFactor = 2.0f;
    state.backgroundLevel = 0;
    for (const int32_t rotation : {0, 1, 2})
        EXPECT_EQ(renderPicture(currentPath(list), state, &surface, rotation), -1);
    EXPECT_EQ(surface.presents, presents);
    EXPECT_EQ(mismatches(surface.pixels, {}, 0, kGrey), 0);
}

TEST(RenderPicture, ReloadAfterFailureDrawsTheReadableFile) {
    QTemporaryDir dir;
    QImage png(4, 2, QImage::Format_ARGB32);
    png.fill(0u);  // fully transparent
    const QString file = dir.filePath("b.png");
    ASSERT_TRUE(png.save(file));
    FakeSurface surface(40, 20);
    RenderState state;
    state.loadFailed = 1;
    state.alphaPremultiplied = 1;
    state.backgroundLevel = 0;
    PictureListState list;
    list.pictureList = {file.toStdString()};
    EXPECT_EQ(reloadPicture(currentPath(list), state, &surface), 0);
    EXPECT_EQ(state.loadFailed, 0);
    EXPECT_EQ(state.alphaPremultiplied, 1);  // cleared by the decode, set by the alpha draw
    EXPECT_EQ(mismatches(surface.pixels, {}, 0, kBlack), 0);
}

TEST(RenderPicture, NoCurrentPathPaintsOnlyTheBackground) {
    struct Row {
        const char* trap;
        size_t entries;
        int32_t index;
    };
    const Row rows[] = {{"empty_list", 0, 0}, {"index_past_end", 2, 2}, {"index_negative", 2, -1}};
    for (const auto& row : rows) {
        FakeSurface surface(8, 8);
        RenderState state;
        state.currentPicture = solid(2, 2, kPaint);
        PictureListState list;
        list.pictureList.assign(row.entries, "/a.jpg");
        list.currentIndex = row.index;
        EXPECT_EQ(renderPicture(currentPath(list), state, &surface, 0), -1) << row.trap;
        EXPECT_EQ(mismatches(surface.pixels, {}, 0, kGrey), 0) << row.trap;
        EXPECT_EQ(state.loadFailed, 0) << row.trap;
    }
}

TEST(RenderPicture, WithoutSurfaceNothingIsDrawnOrTurned) {
    RenderState state;
    state.currentPicture = solid(3, 2, kPaint);
    EXPECT_EQ(renderPicture(currentPath(listOf("/a.jpg")), state, nullptr, kRotateRight), -1);
    FakeSurface surface(8, 8);
    surface.hasSurface = false;
    EXPECT_EQ(renderPicture(currentPath(listOf("/a.jpg")), state, &surface, kRotateRight), -1);
    fillBackground(state, &surface);
    EXPECT_EQ(surface.presents, 0);
    EXPECT_EQ(state.currentPicture.width(), 3);
}

}  // namespace
