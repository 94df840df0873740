// Only a confirmed delete may touch a picture file: a session of every other command, and a
// delete answered No, leaves every byte of every file in the folder as it was.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/picture_surface.h"
#include "app/viewer_state.h"
#include "commands/context_menu.h"
#include "commands/slideshow.h"
#include "corruption_corpus.h"
#include "platform/shell.h"
#include "window_test_support.h"

namespace fs = std::filesystem;

namespace {

// Shell requests are recorded, not carried out: what the desktop does with a file afterwards
// is not the viewer's doing, and the real programs would open windows.
class CountingShell : public ShellBackend {
  public:
    void execute(const ShellRequest&, const ShellIntent&) override { ++requests; }
    int requests = 0;
};

std::map<std::string, std::string> folderBytes(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = readWholeFile(entry.path().string());
    return files;
}

// Closes whatever modal box or popup comes up next (the About box, a confirmation), pressing
// `answer` on a message box.
void closeNextModal(QTimer& timer, int* closed,
                    QMessageBox::StandardButton answer = QMessageBox::No) {
    timer.setSingleShot(true);
    timer.start(30);
    QObject::connect(&timer, &QTimer::timeout, [answer, closed] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->button(answer)->click();
        else if (modal)
            modal->close();
        if (modal)
            ++*closed;
    });
}

class NothingLostTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;
    CountingShell shell;
    int modalsClosed = 0;

    void SetUp() override {
        setShellBackend(&shell);
        for (const CorruptFile& source : corpusSources()) {
            // One picture of every format the list admits, the EXIF-turned one included.
            if (source.bytes.size() < 300'000)
                writeBytes(pictures / source.name, source.bytes);
        }
        writeBytes(pictures / "notes.txt", "not a picture\n");
    }
    void TearDown() override { setShellBackend(nullptr); }

    void pressEveryKey() {
        for (const int key :
             {Qt::Key_Right, Qt::Key_Left, Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_R,
              Qt::Key_L, Qt::Key_C, Qt::Key_C, Qt::Key_O, Qt::Key_P, Qt::Key_F, Qt::Key_Escape,
              Qt::Key_F, Qt::Key_F, Qt::Key_Escape, Qt::Key_Space, Qt::Key_Return, Qt::Key_A}) {
            fixture.press(key);
            if (key == Qt::Key_F || key == Qt::Key_Escape)
                settle(5);
        }
    }

    void dragAndWheel() {
        PictureSurface* surface = fixture.window->surface();
        fixture.press(Qt::Key_Up);
        QTest::mousePress(surface, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
        QTest::mouseMove(surface, QPoint(260, 190));
        QTest::mouseMove(surface, QPoint(100, 60));
        QTest::mouseRelease(surface, Qt::LeftButton, Qt::NoModifier, QPoint(100, 60));
        QTest::mouseDClick(surface, Qt::LeftButton, Qt::NoModifier, QPoint(150, 120));
        for (const int delta : {120, 120, -120}) {
            QWheelEvent wheel(QPointF(150, 120), surface->mapToGlobal(QPointF(150, 120)), QPoint(),
                              QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(surface, &wheel);
        }
    }

    // Every context-menu command but Delete, chosen from the real popup.
    void chooseEveryMenuItem() {
        for (const MenuItem& item : contextMenuItems()) {
            if (item.command == ID_NONE || item.command == ID_DELETE)
                continue;
            QTimer choose;
            choose.setSingleShot(true);
            QTimer closeAbout;
            const QString text = QString::fromUtf8(item.text);
            QObject::connect(&choose, &QTimer::timeout, [&] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                ASSERT_NE(menu, nullptr);
                for (QAction* action : menu->actions()) {
                    if (action->text() == text) {
                        if (item.command == ID_ABOUT)
                            closeNextModal(closeAbout, &modalsClosed);
                        action->trigger();
                    }
                }
                menu->close();
            });
            choose.start(30);
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 100),
                                    fixture.window->mapToGlobal(QPoint(100, 100)));
            QApplication::sendEvent(fixture.window.get(), &event);
            settle(5);
        }
    }

    void runSlideshowSteps() {
        fixture.window->slideshow()->setIntervalMs(10);
        fixture.press(Qt::Key_S);
        settle(150);
        fixture.press(Qt::Key_S);
    }
};

TEST_F(NothingLostTest, EveryCommandButAConfirmedDeleteLeavesEveryFileAsItWas) {
    const std::map<std::string, std::string> before = folderBytes(pictures.path());
    fixture.open(pictures / "3-turned-by-exif.jpg");
    // Every picture of every format meets every command.
    const size_t pictureCount = viewer.list.pictureList.size();
    for (size_t round = 0; round < pictureCount; ++round) {
        pressEveryKey();
        dragAndWheel();
        QTimer answerNo;
        closeNextModal(answerNo, &modalsClosed, QMessageBox::No);
        fixture.press(Qt::Key_Delete);
        fixture.press(Qt::Key_Right);
    }
    EXPECT_EQ(modalsClosed, static_cast<int>(pictureCount));
    runSlideshowSteps();
    chooseEveryMenuItem();
    EXPECT_EQ(modalsClosed, static_cast<int>(pictureCount) + 1);  // the About box
    fixture.window->close();
    settle();
    EXPECT_GT(shell.requests, 0);
    EXPECT_EQ(viewer.list.pictureList.size(), before.size() - 1);
    const std::map<std::string, std::string> after = folderBytes(pictures.path());
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, bytes] : before) {
        ASSERT_TRUE(after.count(name)) << name;
        EXPECT_TRUE(after.at(name) == bytes) << name << " changed";
    }
}

}  // namespace
