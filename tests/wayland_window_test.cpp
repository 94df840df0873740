// The real window on a Wayland compositor, as Debian's desktops start it: open, step, zoom,
// turn and close, with the surface's pixels read from inside the process. Run at the output
// scale QUILLMERE_TEST_SCALE (1 when unset).
#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include "app/picture_surface.h"
#include "app/viewer_state.h"
#include "render/geometry/fit_geometry.h"
#include "window_test_support.h"

namespace {

// Notes the surface's pixel ratio at its first paint, and the resizes after it: each would
// fit and draw the picture again.
class FirstPaintWatch : public QObject {
  public:
    qreal ratioAtFirstPaint = 0;
    int resizesAfterFirstPaint = 0;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && ratioAtFirstPaint == 0)
            ratioAtFirstPaint = static_cast<QWidget*>(watched)->devicePixelRatioF();
        else if (event->type() == QEvent::Resize && ratioAtFirstPaint != 0)
            ++resizesAfterFirstPaint;
        return false;
    }
};

TEST(Wayland, TheWindowOpensStepsZoomsTurnsAndCloses) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"));
    const qreal scale = qEnvironmentVariable("QUILLMERE_TEST_SCALE", "1").toDouble();
    TempFolder pictures;
    writeRedGreenBlue(pictures);
    WindowFixture fixture;
    FirstPaintWatch watch;
    fixture.beforeShow = [&](ViewerWindow& window) {
        window.surface()->installEventFilter(&watch);
    };
    fixture.open(pictures / "a.bmp");
    ASSERT_TRUE(fixture.window->firstPaintDone());
    // The fit is drawn once, at the output's scale, in device pixels: its first and last rows
    // are the picture's, the rows beyond them the margins'.
    EXPECT_EQ(watch.ratioAtFirstPaint, scale);
    EXPECT_EQ(watch.resizesAfterFirstPaint, 0);
    const QSize device = fixture.window->surface()->deviceSize();
    EXPECT_EQ(device, fixture.window->surface()->size() * scale);
    const Fit fit = fitPicture(40, 20, device.width(), device.height());
    const int middle = fit.fx + fit.fw / 2;
    ASSERT_GT(fit.fy, 0);
    EXPECT_EQ(fixture.pixel(middle, fit.fy - 1), QColor(250, 250, 250));
    EXPECT_EQ(fixture.pixel(middle, fit.fy), QColor(Qt::red));
    EXPECT_EQ(fixture.pixel(middle, fit.fy + fit.fh - 1), QColor(Qt::red));
    EXPECT_EQ(fixture.pixel(middle, fit.fy + fit.fh), QColor(250, 250, 250));
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
