// After every decode the render turns a JPEG upright from its EXIF orientation, never mirrored.
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>

#include "render/render_pipeline.h"

namespace {

class NullSurface : public RenderTarget {
  public:
    QImage pixels{64, 64, QImage::Format_RGB32};
    QImage* surfacePixels() override { return &pixels; }
    void present() override {}
};

// A 40 x 30 JPEG whose top-left quarter is red and the rest blue, so every turn and every
// mirror puts the red corner somewhere else; an EXIF block with the orientation follows SOI.
QByteArray jpegWithOrientation(uint16_t orientation) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    const uint8_t app1[] = {0xFF,
                            0xE1,
                            0,
                            34,
                            'E',
                            'x',
                            'i',
                            'f',
                            0,
                            0,  // marker, length
                            'M',
                            'M',
                            0,
                            42,
                            0,
                            0,
                            0,
                            8,  // TIFF header
                            0,
                            1,
                            0x01,
                            0x12,
                            0,
                            3,
                            0,
                            0,
                            0,
                            1,  // one entry: Orientation
                            static_cast<uint8_t>(orientation >> 8),
                            static_cast<uint8_t>(orientation),
                            0,
                            0,  // SHORT value
                            0,
                            0,
                            0,
                            0};  // no next directory
    return jpeg.insert(2, QByteArray(reinterpret_cast<const char*>(app1), sizeof app1));
}

enum class Corner { TopLeft, TopRight, BottomLeft, BottomRight };

// Where the red quarter ended up in the decoded, turned picture.
Corner redCorner(const Image& picture) {
    const int w = picture.width();
    const int h = picture.height();
    auto isRed = [&](int x, int y) {
        const uint8_t* p = picture.row(y) + x * 4;
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
    state.zoomFactor = 2.0f;
    NullSurface surface;
    ASSERT_EQ(renderPicture(list, state, &surface, 0, kRotateNone), 0);
    EXPECT_EQ(state.currentPicture.width(), c.width);
    EXPECT_EQ(state.currentPicture.height(), c.height);
    EXPECT_EQ(redCorner(state.currentPicture), c.red);
    const bool turned = c.width != 40 || c.red == Corner::BottomRight;
    EXPECT_EQ(state.zoomFactor, turned ? 1.0f : 2.0f);
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
