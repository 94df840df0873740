// Zoomed views drawn from tiles decoded by region show what a whole decode at full scale shows.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <filesystem>
#include <fstream>

#include "catalogue/picture_list.h"
#include "fake_surface.h"
#include "jpeg2000_writer.h"
#include "render/decode/decoder.h"
#include "render/render_pipeline.h"
#include "render/source/detail_tiles.h"

namespace {

// A 1000 x 700 picture with fine detail everywhere, so any misplaced pixel shows.
std::filesystem::path writeDetailed(const QTemporaryDir& dir, const char* name) {
    QImage image(1000, 700, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, ((x / 9 + y / 13) % 2) * 255));
    const QString file = dir.filePath(name);
    EXPECT_TRUE(image.save(file, QFileInfo(file).suffix() == "jpg" ? "JPEG" : nullptr, 92));
    return file.toStdString();
}

TEST(DetailTiles, RectanglesTurnWithThePictureAndBack) {
    const PixelRect rect{10, 20, 30, 40};
    EXPECT_EQ(turnRect(rect, 1, 100, 200), (PixelRect{140, 10, 40, 30}));
    EXPECT_EQ(turnRect(rect, 2, 100, 200), (PixelRect{60, 140, 30, 40}));
    EXPECT_EQ(turnRect(rect, 3, 100, 200), (PixelRect{20, 60, 40, 30}));
    for (int32_t turns = 0; turns < 4; ++turns)
        EXPECT_EQ(unturnRect(turnRect(rect, turns, 100, 200), turns, 100, 200), rect) << turns;
}

// The same zoomed view twice: from a picture decoded whole at full scale, and from tiles that a
// small budget forces to come region by region. Zooms that need full resolution; coarser ones use a
// level of the decoder's own making. A 1000 x 700 lossless JPEG 2000 of four resolution levels: its
// regions are exact.
std::filesystem::path writeDetailedJpeg2000(const QTemporaryDir& dir, const char* name) {
    const Bytes bytes = encode({name, 1000, 700, 0, 0, 1, 4, 0, 0});
    std::filesystem::path file = dir.filePath(name).toStdString();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return file;
}

class ZoomedView : public ::testing::TestWithParam<const char*> {};

TEST_P(ZoomedView, FromRegionsEqualsTheWholePicture) {
    QTemporaryDir dir;
    PictureListState list;
    const std::string format = GetParam();
    if (format == "jpeg2000")
        list.pictureList = {writeDetailedJpeg2000(dir, "d.j2k")};
    else
        list.pictureList = {writeDetailed(dir, ("d." + format).c_str())};
    // A PNG or BMP is shown from a level only when it is larger than the budget.
    const bool overBudget = format == "png" || format == "bmp";
    struct View {
        const char* trap;
        int turns;  // quarter turns right before zooming
        float zoom, panX, panY;
    };
    // Each view centres the picture's pixel (512, 512), where four tiles meet.
    const View views[] = {{"upright", 0, 3.0f, -248.0f, -271.0f},
                          {"turned_right", 1, 4.0f, -255.7f, -247.7f},
                          {"half_turn", 2, 5.0f, -465.0f, -133.7f}};
    for (const View& view : views) {
        RenderState whole, tiled;
        FakeSurface wholeSurface(240, 160), tiledSurface(240, 160);
        DetailTiles tiles(size_t{300} * 1024);
        ASSERT_EQ(decodePicture(list.pictureList[0], whole.currentPicture), DecodeStatus::Ok);
        Image::setMaxPictureBytesForTests(overBudget ? 1 << 20 : 0);
        ASSERT_EQ(reloadPicture(currentPath(list), tiled, &tiledSurface, &tiles), 0);
        Image::setMaxPictureBytesForTests(0);
        ASSERT_TRUE(tiled.currentPicture.reduced()) << view.trap;
        for (int i = 0; i < view.turns; ++i) {
            renderPicture(currentPath(list), whole, &wholeSurface, kRotateRight);
            renderPicture(currentPath(list), tiled, &tiledSurface, kRotateRight, &tiles);
        }
        for (RenderState* state : {&whole, &tiled}) {
            state->zoom.zoomFactor = view.zoom;
            state->zoom.panX = view.panX;
            state->zoom.panY = view.panY;
        }
        ASSERT_EQ(renderPicture(currentPath(list), whole, &wholeSurface, 0), 0);
        // Until the tiles come the view is the reduced picture enlarged; then it sharpens.
        ASSERT_EQ(renderPicture(currentPath(list), tiled, &tiledSurface, 0, &tiles), 0);
        tiles.waitIdle();
        ASSERT_EQ(renderPicture(currentPath(list), tiled, &tiledSurface, 0, &tiles), 0);
        EXPECT_TRUE(tiled.currentPicture.reduced()) << "the tiles never replace the picture";
        EXPECT_TRUE(tiledSurface.pixels == wholeSurface.pixels) << view.trap;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, ZoomedView, ::testing::Values("jpeg", "jpeg2000", "png", "bmp"));

}  // namespace
