// The real window on a Wayland compositor, as Debian's desktops start it: open, step, zoom,
// turn and close, with the surface's pixels read from inside the process.
#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "app/picture_surface.h"
#include "app/viewer_state.h"
#include "window_test_support.h"

namespace {

TEST(Wayland, TheWindowOpensStepsZoomsTurnsAndCloses) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    TempFolder pictures;
    writeRedGreenBlue(pictures);
    WindowFixture fixture;
    fixture.open(pictures / "a.bmp");
    ASSERT_TRUE(fixture.window->firstPaintDone());
    const auto centre = [&] {
        const QImage& pixels = *fixture.window->surface()->surfacePixels();
        return fixture.pixel(pixels.width() / 2, pixels.height() / 2);
    };
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");
    EXPECT_EQ(centre(), QColor(Qt::red));
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp");
    EXPECT_EQ(centre(), QColor(Qt::green));
    fixture.press(Qt::Key_Up);
    EXPECT_FLOAT_EQ(viewer.render.zoom.zoomFactor, 1.2f);
    fixture.press(Qt::Key_R);
    EXPECT_EQ(viewer.render.currentPicture.width(), 20);
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    fixture.window->close();
    settle();
    EXPECT_FALSE(fixture.window->isVisible());
}

}  // namespace
