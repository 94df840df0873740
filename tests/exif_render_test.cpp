// After every decode the render turns a JPEG upright from its EXIF orientation, never mirrored.
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

#include "catalogue/picture_list.h"
#include "exif_jpeg.h"
#include "fake_surface.h"
#include "render/render_pipeline.h"

namespace {

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };

// Where the red quarter ended up in the decoded, turned picture.
Corner redCorner(const Image& picture) {
    const int w = picture.width();
    const int h = picture.height();
    auto isRed = [&](int x, int y) {
        const uint8_t* p = picture.row(y) + ptrdiff_t{4} * x;
        return p[2] > 200 && p[0] < 60;
    };
    if (isRed(w / 4, h / 4))
        return Corner::TopLeft;
    if (isRed(3 * w / 4, h / 4))
        return Corner::TopRight;
    if (isRed(w / 4, 3 * h / 4))
        return Corner::BottomLeft;
    return Corner::BottomRight;
}

struct OrientationCase {
    const char* name;
    uint16_t orientation;
    int width;
    int height;
    Corner red;
};

class ExifRender : public ::testing::TestWithParam<OrientationCase> {};

TEST_P(ExifRender, ReloadTurnsByOrientation) {
    const OrientationCase& c = GetParam();
    QTemporaryDir folder;
    const std::string path = folder.filePath("photo.jpg").toStdString();
    const QByteArray bytes = jpegWithOrientation(c.orientation);
    std::ofstream(path, std::ios::binary).write(bytes.constData(), bytes.size());

    PictureListState list;
    list.pictureList = {path};
    RenderState state;
    state.zoom.zoomFactor = 2.0f;
    FakeSurface surface(64, 64);
    ASSERT_EQ(reloadPicture(currentPath(list), state, &surface, nullptr, false), 0);
    EXPECT_EQ(state.currentPicture.width(), c.width);
    EXPECT_EQ(state.currentPicture.height(), c.height);
    EXPECT_EQ(redCorner(state.currentPicture), c.red);
    const bool turned = c.width != 40 || c.red == Corner::BottomRight;
    EXPECT_EQ(state.zoom.zoomFactor, turned ? 1.0f : 2.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Orientations, ExifRender,
    ::testing::Values(OrientationCase{"upright", 1, 40, 30, Corner::TopLeft},
                      OrientationCase{"mirrored_shown_unmirrored", 2, 40, 30, Corner::TopLeft},
                      OrientationCase{"half_turn", 3, 40, 30, Corner::BottomRight},
                      OrientationCase{"mirrored_half_turn_unmirrored", 4, 40, 30,
                                      Corner::BottomRight},
                      OrientationCase{"mirrored_quarter_clockwise", 5, 30, 40, Corner::TopRight},
                      OrientationCase{"quarter_clockwise", 6, 30, 40, Corner::TopRight},
                      OrientationCase{"mirrored_quarter_counter", 7, 30, 40, Corner::BottomLeft},
                      OrientationCase{"quarter_counter_clockwise", 8, 30, 40, Corner::BottomLeft},
                      OrientationCase{"undefined_value", 9, 40, 30, Corner::TopLeft}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
