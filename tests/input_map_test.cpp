// Keys, mouse and the context menu of the real window, driven as a user would.
#include <QApplication>
#include <QMenu>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include "app/picture_surface.h"
#include "app/pointer_look.h"
#include "app/viewer_state.h"
#include "commands/slideshow.h"
#include "window_test_support.h"

namespace {

class InputMapTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;

    void SetUp() override {
        writeRedGreenBlue(pictures);
        fixture.open(pictures / "a.bmp");
        fixture.window->setWindowState(Qt::WindowNoState);
        fixture.window->setGeometry(100, 100, 800, 600);
        settle();
    }

    QPoint surfacePoint(int x, int y) { return QPoint(x, y); }

    void moveCursorTo(int x, int y) {
        QCursor::setPos(fixture.window->surface()->mapToGlobal(QPoint(x, y)));
    }

    void wheel(int delta, int sideways = 0) {
        const QPointF local(400, 300);
        QWheelEvent event(local, fixture.window->surface()->mapToGlobal(local), QPoint(),
                          QPoint(sideways, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(fixture.window->surface(), &event);
    }

    void pinch(Qt::NativeGestureType type, qreal value, QPointF local = {300, 200}) {
        QNativeGestureEvent event(type, QPointingDevice::primaryPointingDevice(), 2, local, local,
                                  fixture.window->surface()->mapToGlobal(local), value, {});
        QApplication::sendEvent(fixture.window->surface(), &event);
    }
};

TEST_F(InputMapTest, TurningKeysIgnoreModifiers) {
    ASSERT_EQ(viewer.render.currentPicture.width(), 40);
    fixture.press(Qt::Key_R);
    EXPECT_EQ(viewer.render.currentPicture.width(), 20);
    fixture.press(Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(viewer.render.currentPicture.width(), 40);
    fixture.press(Qt::Key_R, Qt::ShiftModifier);
    EXPECT_EQ(viewer.render.currentPicture.width(), 20);
    fixture.press(Qt::Key_L);
    EXPECT_EQ(viewer.render.currentPicture.width(), 40);
}

TEST_F(InputMapTest, CFlipsTheBackgroundOfTheMargins) {
    // 40 x 20 in 800 x 600: the picture fills the width, the top rows are margin.
    EXPECT_EQ(fixture.pixel(400, 5), QColor(250, 250, 250));
    fixture.press(Qt::Key_C);
    EXPECT_EQ(viewer.render.backgroundLevel, 0);
    EXPECT_EQ(fixture.pixel(400, 5), QColor(0, 0, 0));
    fixture.press(Qt::Key_C, Qt::ShiftModifier);
    EXPECT_EQ(fixture.pixel(400, 5), QColor(250, 250, 250));
}

TEST_F(InputMapTest, UnboundKeysEnterAndEscChangeNothing) {
    const QString title = fixture.title();
    for (int key : {Qt::Key_Space, Qt::Key_A, Qt::Key_Return, Qt::Key_Escape}) {
        fixture.press(key);
        EXPECT_EQ(fixture.title(), title) << key;
        EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f) << key;
        EXPECT_EQ(viewer.window.isFullScreen, 0) << key;
        EXPECT_TRUE(fixture.window->isVisible()) << key;
    }
}

TEST_F(InputMapTest, TheWheelTakesOneStepPerEventWhateverItsDelta) {
    wheel(1);
    EXPECT_FLOAT_EQ(viewer.render.zoom.zoomFactor, 1.2f);
    wheel(1200);
    EXPECT_EQ(viewer.render.zoom.zoomFactor, static_cast<float>(static_cast<double>(1.2f) + 0.2));
    wheel(-1);
    wheel(-480);
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    wheel(0);  // no forward motion counts as backward
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
}

// Under a Cyrillic layout the key where a US keyboard prints F gives a Cyrillic letter; it is
// still full screen, and S still starts the slideshow.
TEST_F(InputMapTest, LetterShortcutsWorkUnderACyrillicLayout) {
    const auto press = [&](int key, quint32 scanCode, const QString& text) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, scanCode, 0, 0, text);
        QApplication::sendEvent(fixture.window.get(), &event);
        fixture.waitIdle();
    };
    press(0x0410, 41, QString(QChar(0x0430)));  // the F key: Cyrillic a
    EXPECT_EQ(viewer.window.isFullScreen, 1);
    press(0x042B, 39, QString(QChar(0x044B)));  // the S key: Cyrillic yeru
    EXPECT_TRUE(fixture.window->slideshow()->isRunning());
}

// The pointer: a closed hand while dragging; in full screen it hides once it rests and
// comes back when moved.
TEST_F(InputMapTest, ThePointerHidesAtRestInFullScreenAndGrabsWhileDragging) {
    QWidget* surface = fixture.window->surface();
    fixture.window->pointer()->setRestMs(30);
    fixture.press(Qt::Key_Up);
    QTest::mousePress(surface, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(surface->cursor().shape(), Qt::ClosedHandCursor);
    QTest::mouseRelease(surface, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor);
    QTest::qWait(60);
    EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor) << "not full screen: it stays";
    fixture.press(Qt::Key_F);
    QTRY_COMPARE_WITH_TIMEOUT(surface->cursor().shape(), Qt::BlankCursor, 2000);
    QTest::mouseMove(surface, QPoint(200, 200));
    EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor);
    QTRY_COMPARE_WITH_TIMEOUT(surface->cursor().shape(), Qt::BlankCursor, 2000);
    fixture.press(Qt::Key_Escape);
    EXPECT_EQ(surface->cursor().shape(), Qt::ArrowCursor);
}

// Tilted wheels and touchpads scroll sideways; that is not a zoom, nor a reason to stop.
TEST_F(InputMapTest, ASidewaysScrollDoesNothing) {
    wheel(120);
    fixture.window->startSlideshow();
    wheel(0, 120);
    wheel(0, -120);
    EXPECT_FLOAT_EQ(viewer.render.zoom.zoomFactor, 1.2f);
    EXPECT_TRUE(fixture.window->slideshow()->isRunning());
}

// Spreading the fingers by a scale of 0.2 takes one zoom step, about the point between them
// at the first step from the fit; pinching back steps out again.
TEST_F(InputMapTest, APinchZoomsInStepsAboutItsCentre) {
    fixture.window->startSlideshow();
    pinch(Qt::BeginNativeGesture, 0);
    for (int i = 0; i < 9; ++i)
        pinch(Qt::ZoomNativeGesture, 0.05);  // 0.45 in all: two steps
    EXPECT_FALSE(fixture.window->slideshow()->isRunning());
    EXPECT_EQ(viewer.render.zoom.zoomFactor, static_cast<float>(static_cast<double>(1.2f) + 0.2));
    EXPECT_EQ(viewer.render.zoom.zoomAnchorX, 300);
    EXPECT_EQ(viewer.render.zoom.zoomAnchorY, 200);
    pinch(Qt::EndNativeGesture, 0);
    pinch(Qt::BeginNativeGesture, 0);
    pinch(Qt::ZoomNativeGesture, -0.15, {50, 50});  // the rest of the last pinch is gone
    EXPECT_EQ(viewer.render.zoom.zoomFactor, static_cast<float>(static_cast<double>(1.2f) + 0.2));
    pinch(Qt::ZoomNativeGesture, -0.9, {50, 50});
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
}

TEST_F(InputMapTest, ALeftPressAtFitStartsNoDrag) {
    QTest::mousePress(fixture.window->surface(), Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(viewer.render.zoom.isDragging, 0);
    QTest::mouseMove(fixture.window->surface(), QPoint(150, 120));
    EXPECT_EQ(viewer.render.zoom.panX, 0.0f);
    QTest::mouseRelease(fixture.window->surface(), Qt::LeftButton, {}, QPoint(150, 120));
}

TEST_F(InputMapTest, ADragWhileZoomedMovesThePictureAndEndsOnRelease) {
    moveCursorTo(400, 300);
    fixture.press(Qt::Key_Up);
    ASSERT_NE(viewer.render.zoom.zoomFactor, 1.0f);
    const float panBefore = viewer.render.zoom.panX;
    moveCursorTo(200, 200);
    QTest::mousePress(fixture.window->surface(), Qt::LeftButton, {}, QPoint(200, 200));
    EXPECT_EQ(viewer.render.zoom.isDragging, 1);
    moveCursorTo(230, 188);
    QTest::mouseMove(fixture.window->surface(), QPoint(230, 188));
    EXPECT_FLOAT_EQ(viewer.render.zoom.panX, panBefore + 30);
    QTest::mouseRelease(fixture.window->surface(), Qt::LeftButton, {}, QPoint(230, 188));
    EXPECT_EQ(viewer.render.zoom.isDragging, 0);
}

TEST_F(InputMapTest, ADoubleClickTogglesThreeTimesAndBack) {
    moveCursorTo(400, 300);
    QTest::mouseDClick(fixture.window->surface(), Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 3.0f);
    EXPECT_EQ(viewer.render.zoom.zoomAnchorX, 400);
    EXPECT_EQ(viewer.render.zoom.zoomAnchorY, 300);
    QTest::mouseDClick(fixture.window->surface(), Qt::LeftButton, {}, QPoint(400, 300));
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
}

// Opens the context menu and hands it to the check while it shows.
void withContextMenu(ViewerWindow* window, const std::function<void(QMenu*)>& check) {
    bool seen = false;
    QTimer::singleShot(50, window, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu) {
            seen = true;
            check(menu);
            if (menu->isVisible())
                menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            window->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(window, &event);
    EXPECT_TRUE(seen);
}

TEST_F(InputMapTest, TheContextMenuShowsItsItemsInOrder) {
    withContextMenu(fixture.window.get(), [](QMenu* menu) {
        QStringList texts;
        for (QAction* action : menu->actions())
            texts << (action->isSeparator() ? QString("-") : action->text());
        EXPECT_EQ(texts.join('|').toStdString(),
                  "Full Screen Toggle  ( F )|-|Rotate Left  ( L )|Rotate Right  ( R )|-|"
                  "Next  ( Right )|Previous  ( Left )|-|Zoom In  ( Up )|Zoom Out  ( Down )|-|"
                  "Delete  ( del )|Open With...  ( O )|-|Slideshow Toggle ( S )|"
                  "BG Color Toggle  ( C )|-|Properties  ( P )|Print|-|Website|-|"
                  " &About Quillmere...");
    });
}

TEST_F(InputMapTest, MenuCommandsReachTheirOperations) {
    auto choose = [&](const QString& text) {
        withContextMenu(fixture.window.get(), [&](QMenu* menu) {
            for (QAction* action : menu->actions()) {
                if (action->text() == text) {
                    menu->close();
                    action->trigger();
                    return;
                }
            }
            ADD_FAILURE() << text.toStdString();
        });
        fixture.waitIdle();  // a step's picture comes from a worker
    };
    choose("Next  ( Right )");
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp");
    choose("Previous  ( Left )");
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");
    choose("Rotate Right  ( R )");
    EXPECT_EQ(viewer.render.currentPicture.width(), 20);
    choose("Rotate Left  ( L )");
    EXPECT_EQ(viewer.render.currentPicture.width(), 40);
    choose("Zoom In  ( Up )");
    EXPECT_FLOAT_EQ(viewer.render.zoom.zoomFactor, 1.2f);
    choose("Zoom Out  ( Down )");
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    choose("BG Color Toggle  ( C )");
    EXPECT_EQ(viewer.render.backgroundLevel, 0);
    choose("Slideshow Toggle ( S )");
    EXPECT_TRUE(fixture.window->slideshow()->isRunning());
    choose("Full Screen Toggle  ( F )");  // opening the menu stopped the slideshow
    EXPECT_FALSE(fixture.window->slideshow()->isRunning());
    EXPECT_EQ(viewer.window.isFullScreen, 1);
}

}  // namespace
