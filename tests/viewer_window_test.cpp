// The viewer window as a user meets it: title, stepping, keys that must not close it.
#include <QBackingStore>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

#include "app/picture_surface.h"
#include "app/plain_dialog_style.h"
#include "app/viewer_state.h"
#include "window_test_support.h"

namespace {

class ViewerWindowTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;

    void makeFive() {
        for (const char* name : {"e10.png", "a1.png", "c3.png", "b2.png", "d9.png"})
            writePicture(pictures / name, 8, 6, Qt::red);
    }
};

TEST_F(ViewerWindowTest, StartedWithTheThirdOfFivePicturesNamesItAfterTheFirstPaint) {
    makeFive();
    fixture.open(pictures / "c3.png");
    ASSERT_TRUE(fixture.window->firstPaintDone());
    EXPECT_EQ(fixture.title(), "Quillmere - c3.png");
    EXPECT_EQ(viewer.list.pictureList.size(), 5u);
    EXPECT_EQ(viewer.list.currentIndex, 2);
}

// The first picture is drawn straight into the window's buffer; the surface must still hold
// its own copy once that buffer is Qt's again, or a later paint shows whatever Qt left there.
TEST_F(ViewerWindowTest, TheFirstPictureReachesTheWindowBufferAndTheSurfaceKeepsItsOwnCopy) {
    writePicture(pictures / "red.png", 64, 48, Qt::red);
    fixture.open(pictures / "red.png");
    PictureSurface* surface = fixture.window->surface();
    const QPoint centre = surface->rect().center();
    auto* buffer = static_cast<QImage*>(fixture.window->backingStore()->paintDevice());
    const QPoint inBuffer =
        surface->mapTo(fixture.window.get(), centre) * buffer->devicePixelRatio();
    EXPECT_EQ(QColor(buffer->pixel(inBuffer)), QColor(Qt::red));

    buffer->fill(Qt::blue);
    EXPECT_EQ(fixture.pixel(centre.x(), centre.y()), QColor(Qt::red));
    EXPECT_EQ(surface->grab().toImage().pixelColor(centre), QColor(Qt::red));
}

// Keeps the paints of the widget it filters from it (an expose that comes late).
class PaintBlocker : public QObject {
  protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Paint; }
};

// A surface exposed late (a window started minimised) is first drawn by the fallback; its
// real first paint must not fill the background over that picture.
TEST_F(ViewerWindowTest, TheFirstPaintAfterTheFallbackKeepsThePicture) {
    writePicture(pictures / "red.png", 64, 48, Qt::red);
    PaintBlocker blocker;
    fixture.beforeShow = [&](ViewerWindow& window) {
        window.surface()->installEventFilter(&blocker);
    };
    fixture.open(pictures / "red.png");
    ASSERT_FALSE(fixture.window->firstPaintDone());
    QTRY_VERIFY_WITH_TIMEOUT(fixture.window->firstPaintDone(), 2000);
    fixture.waitIdle();
    PictureSurface* surface = fixture.window->surface();
    surface->removeEventFilter(&blocker);
    surface->repaint();
    settle();
    const QPoint centre = surface->rect().center();
    EXPECT_EQ(fixture.pixel(centre.x(), centre.y()), QColor(Qt::red));
}

// Qt takes "[*]" in a title for its unsaved-changes marker.
TEST_F(ViewerWindowTest, AMarkerInTheFileNameIsShownAsWritten) {
    writePicture(pictures / "draft[*].png", 8, 6, Qt::red);
    fixture.open(pictures / "draft[*].png");
    EXPECT_EQ(fixture.window->windowHandle()->title(), "Quillmere - draft[*].png");
}

TEST_F(ViewerWindowTest, NextAndPreviousWrapAroundAndResetTheZoom) {
    makeFive();
    fixture.open(pictures / "e10.png");
    viewer.render.zoom.zoomFactor = 3.0f;
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - a1.png");
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    fixture.press(Qt::Key_Left);
    EXPECT_EQ(fixture.title(), "Quillmere - e10.png");
    fixture.press(Qt::Key_Left);
    EXPECT_EQ(fixture.title(), "Quillmere - d9.png");
}

TEST_F(ViewerWindowTest, WithoutPicturesTheTitleStaysTheProductName) {
    writeBytes(pictures / "notes.txt", "no pictures here");
    fixture.open(pictures / "notes.txt");
    EXPECT_EQ(fixture.title(), "Quillmere");
    fixture.press(Qt::Key_Right);
    fixture.press(Qt::Key_Left);
    EXPECT_EQ(fixture.title(), "Quillmere");
}

TEST_F(ViewerWindowTest, WithoutArgumentTheProgramFolderIsListed) {
    makeFive();
    fixture.open({}, pictures.path());
    EXPECT_EQ(fixture.title(), "Quillmere - a1.png");
}

TEST_F(ViewerWindowTest, EnterAndEscLeaveTheWindowOpenAndACloseRequestEndsIt) {
    makeFive();
    fixture.open(pictures / "a1.png");
    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        fixture.press(key);
        settle();
        EXPECT_TRUE(fixture.window->isVisible()) << key;
    }
    fixture.window->close();
    settle();
    EXPECT_FALSE(fixture.window->isVisible());
    EXPECT_EQ(fixture.window->result(), QDialog::Rejected);
}

TEST_F(ViewerWindowTest, TheWindowCannotBeMadeSmallerThanItsMinimum) {
    makeFive();
    fixture.open(pictures / "a1.png");
    fixture.window->setWindowState(Qt::WindowNoState);
    fixture.window->resize(300, 200);
    settle();
    // The limit is the frame's, title bar and borders included.
    EXPECT_GE(fixture.window->frameGeometry().width(), 768);
    EXPECT_GE(fixture.window->frameGeometry().height(), 536);
}

// Desktops whose theme puts icons on dialog buttons (a green arrow on OK) get none from us.
TEST(PlainDialogStyle, DialogButtonsCarryNoThemeIcons) {
    class IconsStyle : public QProxyStyle {
      public:
        int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                      QStyleHintReturn* returned) const override {
            if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
                return 1;
            return QProxyStyle::styleHint(hint, option, widget, returned);
        }
    };
    for (const bool plain : {false, true}) {
        std::unique_ptr<QStyle> style;
        if (plain)
            style = std::make_unique<PlainDialogStyle>(new IconsStyle);
        else
            style = std::make_unique<IconsStyle>();
        QDialogButtonBox box;
        box.setStyle(style.get());
        box.setStandardButtons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        EXPECT_EQ(box.button(QDialogButtonBox::Ok)->icon().isNull(), plain);
    }
}

}  // namespace
