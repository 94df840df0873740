// Full-screen mode and the slideshow on the real window. The slideshow's pause is shortened
// by the test; what is checked is the order of steps, titles and stops, never a duration.
#include <QApplication>
#include <QMimeData>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "app/picture_surface.h"
#include "app/viewer_state.h"
#include "commands/slideshow.h"
#include "window_test_support.h"

namespace {

constexpr int kShortIntervalMs = 40;

class FullScreenTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;

    void SetUp() override {
        writeRedGreenBlue(pictures);
        fixture.open(pictures / "a.bmp");
    }

    void makeNormal(const QRect& geometry) {
        fixture.window->setWindowState(Qt::WindowNoState);
        settle();
        fixture.window->setGeometry(geometry);
        settle();
    }
};

TEST_F(FullScreenTest, LeavingGivesBackTheFormerGeometryZoomAndGrey) {
    makeNormal(QRect(30, 40, 780, 540));
    const QRect before = fixture.window->geometry();
    fixture.press(Qt::Key_C);  // black before entering: leaving still gives grey
    fixture.press(Qt::Key_Up);
    fixture.press(Qt::Key_F);
    settle();
    EXPECT_EQ(viewer.window.isFullScreen, 1);
    EXPECT_EQ(viewer.render.backgroundLevel, 0);
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    EXPECT_EQ(fixture.window->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_EQ(fixture.pixel(0, 0), QColor(0, 0, 0));
    const WindowRect normal = viewer.window.normalWindowRect;

    fixture.press(Qt::Key_Up);
    fixture.press(Qt::Key_Escape);
    settle();
    EXPECT_EQ(viewer.window.isFullScreen, 0);
    EXPECT_EQ(fixture.window->geometry(), before);
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    EXPECT_EQ(viewer.render.backgroundLevel, 250);
    EXPECT_EQ(fixture.pixel(400, 5), QColor(250, 250, 250));
    EXPECT_EQ(viewer.window.normalWindowRect, normal);
}

TEST_F(FullScreenTest, FromAMaximisedWindowItComesBackMaximised) {
    fixture.window->setWindowState(Qt::WindowMaximized);
    settle();
    fixture.press(Qt::Key_F);
    settle();
    EXPECT_TRUE(fixture.window->isFullScreen());
    fixture.press(Qt::Key_F);
    settle();
    EXPECT_TRUE(fixture.window->isMaximized());
    EXPECT_FALSE(fixture.window->isFullScreen());
}

TEST_F(FullScreenTest, TheBackgroundToggleWorksInFullScreenAndEscOutsideDoesNothing) {
    makeNormal(QRect(30, 40, 780, 540));
    const QRect before = fixture.window->geometry();
    fixture.press(Qt::Key_Escape);
    settle();
    EXPECT_EQ(fixture.window->geometry(), before);
    EXPECT_EQ(viewer.window.isFullScreen, 0);
    fixture.press(Qt::Key_F);
    settle();
    fixture.press(Qt::Key_C);
    EXPECT_EQ(viewer.render.backgroundLevel, 250);
    fixture.press(Qt::Key_C);
    EXPECT_EQ(viewer.render.backgroundLevel, 0);
}

TEST_F(FullScreenTest, MinimisingAndRestoringFitThePictureAgain) {
    fixture.press(Qt::Key_Up);
    ASSERT_NE(viewer.render.zoom.zoomFactor, 1.0f);
    fixture.window->setWindowState(Qt::WindowMinimized);
    settle();
    fixture.window->setWindowState(Qt::WindowNoState);
    settle();
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
}

class SlideshowTest : public FullScreenTest {
  protected:
    void SetUp() override {
        FullScreenTest::SetUp();
        fixture.window->slideshow()->setIntervalMs(kShortIntervalMs);
    }
    void waitSteps(int steps) { QTest::qWait(kShortIntervalMs * steps + kShortIntervalMs / 2); }
};

TEST_F(SlideshowTest, RunsWithItsTitleWrapsAroundAndNamesThePictureWhenStopped) {
    fixture.press(Qt::Key_S);
    EXPECT_TRUE(fixture.window->slideshow()->isRunning());
    EXPECT_EQ(fixture.title(), "Quillmere - Running Slideshow");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.list.currentIndex, 2, 5000);
    EXPECT_EQ(fixture.title(), "Quillmere - Running Slideshow");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.list.currentIndex, 0, 5000);  // wrapped around
    fixture.press(Qt::Key_S);
    EXPECT_FALSE(fixture.window->slideshow()->isRunning());
    const std::string expected =
        "Quillmere - " + viewer.list.pictureList[viewer.list.currentIndex].filename().string();
    EXPECT_EQ(fixture.title().toStdString(), expected);
}

TEST_F(SlideshowTest, STwiceWithinThePauseGivesNoStepAndNoStepFollowsAStop) {
    fixture.window->slideshow()->setIntervalMs(kShortIntervalMs * 4);
    fixture.press(Qt::Key_S);
    fixture.press(Qt::Key_S);
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");
    QTest::qWait(kShortIntervalMs * 8);
    EXPECT_EQ(viewer.list.currentIndex, 0);
}

TEST_F(SlideshowTest, AOnePictureListRedrawsTheSamePicture) {
    TempFolder single;
    writePicture(single / "only.bmp", 10, 10, Qt::red);
    fixture.window->openDroppedFile(single / "only.bmp");
    fixture.waitIdle();
    fixture.press(Qt::Key_S);
    // Smudge the surface: only a fresh decode and draw of the same picture cleans it.
    fixture.window->surface()->surfacePixels()->fill(Qt::magenta);
    QTRY_COMPARE_WITH_TIMEOUT(fixture.pixel(300, 300), QColor(Qt::red), 5000);
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_TRUE(fixture.window->slideshow()->isRunning());
}

TEST_F(SlideshowTest, KeysWheelMenuAndResizeStopIt) {
    auto started = [&] {
        fixture.window->startSlideshow();
        return fixture.window->slideshow()->isRunning();
    };
    ASSERT_TRUE(started());
    fixture.press(Qt::Key_Space);
    EXPECT_FALSE(fixture.window->slideshow()->isRunning()) << "unbound key";

    ASSERT_TRUE(started());
    fixture.press(Qt::Key_Right);
    EXPECT_FALSE(fixture.window->slideshow()->isRunning());
    EXPECT_EQ(viewer.list.currentIndex, 1) << "the key stops the show, then steps once";

    ASSERT_TRUE(started());
    const QPointF local(100, 100);
    QWheelEvent wheel(local, fixture.window->surface()->mapToGlobal(local), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(fixture.window->surface(), &wheel);
    EXPECT_FALSE(fixture.window->slideshow()->isRunning()) << "wheel";

    ASSERT_TRUE(started());
    QTimer::singleShot(30, [] {
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                fixture.window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(fixture.window.get(), &menuEvent);
    EXPECT_FALSE(fixture.window->slideshow()->isRunning()) << "context menu";

    fixture.window->setWindowState(Qt::WindowNoState);
    settle();
    ASSERT_TRUE(started());
    fixture.window->resize(fixture.window->width() + 20, fixture.window->height() + 10);
    settle();
    EXPECT_FALSE(fixture.window->slideshow()->isRunning()) << "resize";
}

TEST_F(SlideshowTest, AMoveAndADropDoNotStopIt) {
    fixture.window->setWindowState(Qt::WindowNoState);
    settle();
    fixture.window->startSlideshow();
    fixture.window->move(fixture.window->x() + 15, fixture.window->y() + 5);
    settle();
    EXPECT_TRUE(fixture.window->slideshow()->isRunning()) << "move";

    TempFolder other;
    writePicture(other / "x.bmp", 10, 10, Qt::red);
    writePicture(other / "y.bmp", 10, 10, Qt::green);
    fixture.window->openDroppedFile(other / "x.bmp");
    EXPECT_TRUE(fixture.window->slideshow()->isRunning()) << "drop";
    EXPECT_EQ(fixture.title(), "Quillmere - Running Slideshow");
    QTRY_COMPARE_WITH_TIMEOUT(viewer.list.currentIndex, 1, 5000);
    EXPECT_EQ(viewer.list.pictureList[1].filename(), "y.bmp");
}

TEST_F(SlideshowTest, StoppedAfterADropEmptiedTheListItLeavesItsTitle) {
    TempFolder noPictures;
    writeBytes(noPictures / "notes.txt", "text");
    fixture.window->startSlideshow();
    fixture.window->openDroppedFile(noPictures / "notes.txt");
    fixture.waitIdle();
    ASSERT_EQ(fixture.title(), "Quillmere - Running Slideshow");
    fixture.press(Qt::Key_Space);
    EXPECT_FALSE(fixture.window->slideshow()->isRunning());
    EXPECT_EQ(fixture.title(), "Quillmere");
}

TEST_F(SlideshowTest, AStopWhileAStepIsPendingLeavesNoStepBehind) {
    fixture.window->startSlideshow();
    QTest::qWait(kShortIntervalMs / 2);
    fixture.window->stopSlideshow();
    const int index = viewer.list.currentIndex;
    waitSteps(4);
    EXPECT_EQ(viewer.list.currentIndex, index);
}

}  // namespace
