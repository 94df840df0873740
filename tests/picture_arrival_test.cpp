// The window while pictures decode on the workers: it answers at once, shows each picture
// when it arrives, and ends in the state a decode on its own thread would have left.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "app/picture_surface.h"
#include "app/picture_view.h"
#include "app/viewer_state.h"
#include "commands/slideshow.h"
#include "exif_jpeg.h"
#include "render/source/prefetcher.h"
#include "window_test_support.h"

namespace {

// Decodes as the viewer does, after a pause of the file's own (by name), during which a
// request to stop is honoured unless the decoder is made deaf to it.
class SlowDecodes {
  public:
    void set(const std::string& name, int delayMs) {
        std::lock_guard lock(mutex_);
        delays_[name] = delayMs;
    }
    void setDeaf(bool deaf) { deaf_ = deaf; }

    Prefetcher::Prepare prepare() {
        return [this](const std::filesystem::path& file, const FitAreaSource& area,
                      std::stop_token stop) {
            const auto until = std::chrono::steady_clock::now() +
                               std::chrono::milliseconds(delayOf(file.filename().string()));
            while (std::chrono::steady_clock::now() < until) {
                if (stop.stop_requested() && !deaf_) {
                    PreparedPicture cancelled;
                    cancelled.file = file;
                    cancelled.status = DecodeStatus::Cancelled;
                    return cancelled;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            return preparePicture(file, area, stop);
        };
    }

  private:
    int delayOf(const std::string& name) {
        std::lock_guard lock(mutex_);
        const auto at = delays_.find(name);
        return at == delays_.end() ? 0 : at->second;
    }
    std::mutex mutex_;
    std::map<std::string, int> delays_;
    std::atomic<bool> deaf_{false};
};

// The centre colour of every frame the surface puts on the screen.
class FrameRecorder : public QObject {
  public:
    explicit FrameRecorder(PictureSurface* surface) : surface_(surface) {
        surface->installEventFilter(this);
    }
    std::vector<QColor> colours;
    bool saw(QColor colour) const {
        return std::find(colours.begin(), colours.end(), colour) != colours.end();
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const QImage& pixels = *surface_->surfacePixels();
            colours.emplace_back(pixels.pixel(pixels.width() / 2, pixels.height() / 2));
        }
        return false;
    }

  private:
    PictureSurface* surface_;
};

class PictureArrival : public ::testing::Test {
  protected:
    TempFolder folder;
    SlowDecodes slow;
    WindowFixture fixture;

    void openSlowly(const std::filesystem::path& first) {
        fixture.prefetcher =
            std::make_shared<Prefetcher>(Prefetcher::defaultCapBytes(), slow.prepare());
        fixture.open(first);
    }
    void pressNoWait(int key) { QTest::keyClick(fixture.window.get(), static_cast<Qt::Key>(key)); }
    QColor centre() const {
        const QImage& pixels = *fixture.window->surface()->surfacePixels();
        return fixture.pixel(pixels.width() / 2, pixels.height() / 2);
    }
};

TEST_F(PictureArrival, AStepOvertakingASlowDecodeNeverDrawsTheSlowPicture) {
    writePicture(folder / "a.bmp", 40, 20, Qt::red);
    writePicture(folder / "b.bmp", 40, 20, Qt::green);
    writePicture(folder / "c.bmp", 40, 20, Qt::blue);
    slow.set("b.bmp", 700);
    slow.setDeaf(true);  // it even runs to its end
    openSlowly(folder / "a.bmp");
    FrameRecorder frames(fixture.window->surface());
    pressNoWait(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp") << "the title changes at once";
    pressNoWait(Qt::Key_Right);
    fixture.waitIdle();
    EXPECT_EQ(fixture.title(), "Quillmere - c.bmp");
    EXPECT_EQ(centre(), QColor(Qt::blue));
    QTest::qWait(800);  // the slow decode ends meanwhile
    EXPECT_EQ(centre(), QColor(Qt::blue));
    EXPECT_FALSE(frames.saw(Qt::green));
    EXPECT_TRUE(frames.saw(QColor(250, 250, 250))) << "the background once a step waits long";
}

TEST_F(PictureArrival, StepsFasterThanTheDecodesShowEveryPicture) {
    const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan, Qt::magenta};
    for (int i = 0; i < 6; ++i) {
        const std::string name = "p" + std::to_string(i) + ".bmp";
        writePicture(folder / name, 40, 20, colours[i]);
        slow.set(name, i == 0 ? 0 : 90);
    }
    openSlowly(folder / "p0.bmp");
    FrameRecorder frames(fixture.window->surface());
    for (int i = 0; i < 5; ++i) {
        pressNoWait(Qt::Key_Right);
        QTest::qWait(50);
    }
    fixture.waitIdle();
    EXPECT_EQ(fixture.title(), "Quillmere - p5.bmp");
    for (int i = 1; i < 6; ++i)
        EXPECT_TRUE(frames.saw(colours[i])) << "picture " << i;
}

// What a user does while a picture decodes, done once during the decode and once after it:
// both end alike.
struct DuringCase {
    const char* name;
    std::vector<int> keys;  // pressed after the step to the slow picture
    float startZoom;        // the zoom before the step (a delete keeps it)
    bool stepByDelete;
};

class DuringDecode : public PictureArrival, public ::testing::WithParamInterface<DuringCase> {
  protected:
    struct Outcome {
        QString title;
        float zoom, panX, panY;
        int32_t anchorX, anchorY, index, loadFailed;
        QImage surface;
    };

    Outcome run(bool waitFirst) {
        TempFolder pictures;
        writePicture(pictures / "a.bmp", 40, 20, Qt::red);
        writeBytes(pictures / "b.jpg", jpegWithOrientation(6).toStdString());
        writeBytes(pictures / "c.jpg", jpegWithOrientation(1).toStdString());
        slow.set("b.jpg", 250);
        slow.set("c.jpg", 250);
        WindowFixture window;
        window.prefetcher =
            std::make_shared<Prefetcher>(Prefetcher::defaultCapBytes(), slow.prepare());
        window.open(pictures / (GetParam().stepByDelete ? "a.bmp" : "c.jpg"));
        QCursor::setPos(window.window->surface()->mapToGlobal(QPoint(300, 200)));
        viewer.render.zoom.zoomFactor = GetParam().startZoom;
        QTimer answer;
        if (GetParam().stepByDelete) {
            answer.setSingleShot(true);
            answer.start(20);
            QObject::connect(&answer, &QTimer::timeout, [] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->button(QMessageBox::Yes)->click();
            });
        }
        // Delete a.bmp (b.jpg follows), or step from c.jpg to a.bmp to b.jpg: b.jpg decodes slowly.
        if (GetParam().stepByDelete) {
            QTest::keyClick(window.window.get(), Qt::Key_Delete);
        } else {
            window.press(Qt::Key_Right);
            QTest::keyClick(window.window.get(), Qt::Key_Right);
        }
        if (waitFirst)
            window.waitIdle();
        for (const int key : GetParam().keys)
            QTest::keyClick(window.window.get(), static_cast<Qt::Key>(key));
        window.waitIdle();
        return {window.title(),
                viewer.render.zoom.zoomFactor,
                viewer.render.zoom.panX,
                viewer.render.zoom.panY,
                viewer.render.zoom.zoomAnchorX,
                viewer.render.zoom.zoomAnchorY,
                viewer.list.currentIndex,
                viewer.render.loadFailed,
                *window.window->surface()->surfacePixels()};
    }
};

TEST_P(DuringDecode, EndsAsIfPressedAfterThePictureArrived) {
    const Outcome during = run(false);
    const Outcome after = run(true);
    EXPECT_EQ(during.title, after.title);
    EXPECT_EQ(during.index, after.index);
    EXPECT_EQ(during.zoom, after.zoom);
    EXPECT_EQ(during.panX, after.panX);
    EXPECT_EQ(during.panY, after.panY);
    EXPECT_EQ(during.anchorX, after.anchorX);
    EXPECT_EQ(during.anchorY, after.anchorY);
    EXPECT_EQ(during.loadFailed, after.loadFailed);
    EXPECT_TRUE(during.surface == after.surface);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DuringDecode,
    ::testing::Values(
        DuringCase{"turn_right", {Qt::Key_R}, 1.0f, false},
        DuringCase{"turn_left_then_zoom_in", {Qt::Key_L, Qt::Key_Up, Qt::Key_Up}, 1.0f, false},
        DuringCase{"zoom_then_turn", {Qt::Key_Up, Qt::Key_R}, 1.0f, false},
        DuringCase{"background_and_next", {Qt::Key_C, Qt::Key_Right}, 1.0f, false},
        // A delete keeps the zoom, and the EXIF turn of the picture it shows resets it: a
        // zoom pressed meanwhile then starts from the fit, anchored at the cursor.
        DuringCase{"zoom_after_delete_onto_turned_picture", {Qt::Key_Up}, 2.0f, true},
        DuringCase{"delete_then_turn", {Qt::Key_R}, 1.0f, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PictureArrival, ACloseDuringADecodeEndsTheWindowAtOnceWithItsSettings) {
    writePicture(folder / "a.bmp", 40, 20, Qt::red);
    writePicture(folder / "b.bmp", 40, 20, Qt::green);
    slow.set("b.bmp", 60000);
    openSlowly(folder / "a.bmp");
    pressNoWait(Qt::Key_Right);
    fixture.window->close();
    EXPECT_FALSE(fixture.window->isVisible());
    EXPECT_EQ(fixture.window->result(), QDialog::Rejected);
    EXPECT_TRUE(std::filesystem::exists(fixture.settingsFolder / "quillmere.settings"));
    fixture.window.reset();  // the decode is asked to stop; nothing waits a minute
}

TEST_F(PictureArrival, TheSlideshowPauseCountsFromThePictureDrawn) {
    writePicture(folder / "a.bmp", 40, 20, Qt::red);
    writePicture(folder / "b.bmp", 40, 20, Qt::green);
    writePicture(folder / "c.bmp", 40, 20, Qt::blue);
    slow.set("b.bmp", 400);
    openSlowly(folder / "a.bmp");
    fixture.window->slideshow()->setIntervalMs(30);
    fixture.window->startSlideshow();
    QTRY_VERIFY_WITH_TIMEOUT(viewer.list.currentIndex == 1, 2000);
    // b.bmp is still coming: no step may follow before it is drawn.
    QTRY_COMPARE_WITH_TIMEOUT(centre(), QColor(Qt::green), 2000);
    EXPECT_EQ(viewer.list.currentIndex, 1);
    QTRY_VERIFY_WITH_TIMEOUT(viewer.list.currentIndex == 2, 2000);
}

// The drop's picture is still coming when the show's step comes: the step waits behind it,
// and must not run once the show has stopped.
TEST_F(PictureArrival, AShowStepWaitingBehindAPictureDiesWithTheShow) {
    writePicture(folder / "a.bmp", 40, 20, Qt::red);
    TempFolder other;
    writePicture(other / "x.bmp", 40, 20, Qt::green);
    writePicture(other / "y.bmp", 40, 20, Qt::blue);
    slow.set("x.bmp", 1500);
    openSlowly(folder / "a.bmp");
    fixture.window->slideshow()->setIntervalMs(30);
    fixture.window->startSlideshow();
    fixture.window->openDroppedFile(other / "x.bmp");
    QTest::qWait(100);
    ASSERT_TRUE(fixture.window->busy());
    fixture.window->stopSlideshow();
    QTest::qWait(PictureView::kStepWaitMs + 100);
    EXPECT_EQ(viewer.list.currentIndex, 0);
}

// A picture larger than the viewer holds is shown fitted from a level of it, not refused:
// JPEGs by their own scaling, PNGs and BMPs read as a stream and reduced.
TEST_F(PictureArrival, APictureOverTheBudgetStillShowsFitted) {
    for (const char* name : {"big.jpg", "big.png", "big.bmp"}) {
        writePicture(folder / name, 1000, 700, Qt::blue);
        Image::setMaxPictureBytesForTests(1 << 20);  // the whole picture needs 2.8 MB
        WindowFixture window;
        window.open(folder / name);
        Image::setMaxPictureBytesForTests(0);
        EXPECT_EQ(viewer.render.loadFailed, 0) << name;
        EXPECT_TRUE(viewer.render.currentPicture.reduced()) << name;
        EXPECT_EQ(viewer.render.currentPicture.fullWidth(), 1000) << name;
        const QColor centre = window.pixel(400, 290);
        EXPECT_LT(centre.red() + centre.green() + std::abs(centre.blue() - 255), 8) << name;
        std::filesystem::remove(folder / name);
    }
}

}  // namespace
