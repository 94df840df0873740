// Deleting the current file after the confirmation box, and files dropped on the window.
#include <QApplication>
#include <QContextMenuEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include "app/viewer_state.h"
#include "window_test_support.h"

namespace {

// Answers the confirmation box that shows while the timer lives, after checking it is the
// one users must see, and after running meanwhile. The timer belongs to the caller, so no
// answer outlives its test.
void answerNextBox(QTimer& timer, QMessageBox::StandardButton answer, bool* shown,
                   std::function<void()> meanwhile = {}) {
    timer.start(20);
    QObject::connect(&timer, &QTimer::timeout, [&timer, answer, shown, meanwhile] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer.stop();
        *shown = true;
        if (meanwhile)
            meanwhile();
        EXPECT_EQ(box->windowTitle(), "Please Confirm");
        EXPECT_EQ(box->text(), "This will permanently delete current image. Are you sure?");
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::Yes));
        box->button(answer)->click();
    });
}

// Drops files on the window as a file manager does.
void dropOn(QWidget& window, const std::vector<std::filesystem::path>& files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const auto& file : files)
        urls << QUrl::fromLocalFile(QString::fromStdString(file.string()));
    data.setUrls(urls);
    const QPointF at(100, 100);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    QDropEvent dropEvent(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &dropEvent);
}

// Sets or clears a file's immutable flag, which stops even root from deleting it.
bool setImmutable(const std::filesystem::path& file, bool immutable) {
    const int fd = ::open(file.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

class DeleteTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;

    void SetUp() override { writeRedGreenBlue(pictures); }

    bool deleteWith(QMessageBox::StandardButton answer, std::function<void()> meanwhile = {}) {
        bool shown = false;
        QTimer timer;
        answerNextBox(timer, answer, &shown, std::move(meanwhile));
        fixture.press(Qt::Key_Delete);
        return shown;
    }
};

TEST_F(DeleteTest, DeletingTheMiddleShowsTheNextAndTheLastShowsTheFirst) {
    fixture.open(pictures / "b.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::Yes));
    EXPECT_FALSE(std::filesystem::exists(pictures / "b.bmp"));
    EXPECT_EQ(fixture.title(), "Quillmere - c.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::blue));
    ASSERT_TRUE(deleteWith(QMessageBox::Yes));
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::red));
}

TEST_F(DeleteTest, DeletingTheOnlyPictureLeavesTheBackgroundAndTheOldTitle) {
    TempFolder single;
    writePicture(single / "only.bmp", 40, 20, Qt::red);
    fixture.open(single / "only.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::Yes));
    EXPECT_TRUE(viewer.list.pictureList.empty());
    EXPECT_EQ(viewer.list.currentIndex, -1);
    EXPECT_EQ(fixture.title(), "Quillmere - only.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(250, 250, 250));
    // No box with an empty list.
    EXPECT_FALSE(deleteWith(QMessageBox::Yes));
}

TEST_F(DeleteTest, NoChangesNothing) {
    fixture.open(pictures / "b.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::No));
    EXPECT_TRUE(std::filesystem::exists(pictures / "b.bmp"));
    EXPECT_EQ(viewer.list.pictureList.size(), 3u);
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp");
}

TEST_F(DeleteTest, AFileThatIsAlreadyGoneStillLeavesTheList) {
    fixture.open(pictures / "b.bmp");
    std::filesystem::remove(pictures / "b.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::Yes));
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(fixture.title(), "Quillmere - c.bmp");
}

TEST_F(DeleteTest, AFolderThatTookTheFilesNameIsNotRemoved) {
    fixture.open(pictures / "b.bmp");
    std::filesystem::remove(pictures / "b.bmp");
    std::filesystem::create_directory(pictures / "b.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::Yes));
    EXPECT_TRUE(std::filesystem::is_directory(pictures / "b.bmp"));
}

TEST_F(DeleteTest, YesDeletesNothingOnceADropHasReplacedTheList) {
    TempFolder other;
    writePicture(other / "x.bmp", 40, 20, Qt::blue);
    writePicture(other / "y.bmp", 40, 20, Qt::yellow);
    fixture.open(pictures / "b.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::Yes, [&] { dropOn(*fixture.window, {other / "x.bmp"}); }));
    for (const auto& file : {pictures / "b.bmp", other / "x.bmp", other / "y.bmp"})
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(fixture.title(), "Quillmere - x.bmp");
}

TEST_F(DeleteTest, YesAfterAStepDeletesThePictureAskedAboutAndItsEntry) {
    fixture.open(pictures / "b.bmp");
    ASSERT_TRUE(deleteWith(QMessageBox::Yes, [&] { fixture.window->runCommand(ID_NEXT); }));
    EXPECT_FALSE(std::filesystem::exists(pictures / "b.bmp"));
    ASSERT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(viewer.list.pictureList[1].filename(), "c.bmp");
    EXPECT_EQ(fixture.title(), "Quillmere - c.bmp");
}

// Permissions don't stop root, an immutable file does (where the file system has the flag).
TEST_F(DeleteTest, AFileThatStaysKeepsItsEntryTitleAndPicture) {
    fixture.open(pictures / "b.bmp");
    const bool root = ::geteuid() == 0;
    if (root && !setImmutable(pictures / "b.bmp", true))
        GTEST_SKIP() << "root, and no immutable flag on this file system";
    if (!root)
        std::filesystem::permissions(pictures.path(), std::filesystem::perms(0555));
    const bool shown = deleteWith(QMessageBox::Yes);
    if (root)
        setImmutable(pictures / "b.bmp", false);
    ASSERT_TRUE(shown);
    EXPECT_TRUE(std::filesystem::exists(pictures / "b.bmp"));
    EXPECT_EQ(viewer.list.pictureList.size(), 3u);
    EXPECT_EQ(viewer.list.currentIndex, 1);
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::green));
}

TEST_F(DeleteTest, DeletingWhileZoomedKeepsTheZoom) {
    fixture.open(pictures / "a.bmp");
    fixture.press(Qt::Key_Up);
    fixture.press(Qt::Key_Up);
    const float zoom = viewer.render.zoom.zoomFactor;
    ASSERT_NE(zoom, 1.0f);
    ASSERT_TRUE(deleteWith(QMessageBox::Yes));
    EXPECT_EQ(viewer.render.zoom.zoomFactor, zoom);
}

class DropTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    TempFolder other;
    WindowFixture fixture;

    void SetUp() override {
        writePicture(pictures / "a.bmp", 40, 20, Qt::red);
        writePicture(pictures / "b.bmp", 40, 20, Qt::green);
        writePicture(other / "x.bmp", 40, 20, Qt::blue);
        writePicture(other / "y.bmp", 40, 20, Qt::yellow);
        fixture.open(pictures / "a.bmp");
    }

    void drop(const std::vector<std::filesystem::path>& files) {
        dropOn(*fixture.window, files);
        fixture.waitIdle();
    }
};

TEST_F(DropTest, APictureFromAnotherFolderReplacesTheListAtFit) {
    fixture.press(Qt::Key_Up);
    drop({other / "y.bmp"});
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(viewer.list.pictureList[viewer.list.currentIndex].filename(), "y.bmp");
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    EXPECT_EQ(fixture.title(), "Quillmere - y.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::yellow));
}

TEST_F(DropTest, OfThreeFilesOnlyTheFirstOpens) {
    drop({other / "y.bmp", pictures / "b.bmp", other / "x.bmp"});
    EXPECT_EQ(viewer.list.pictureList[viewer.list.currentIndex].filename(), "y.bmp");
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
}

TEST_F(DropTest, AFolderOrANonPictureListsItsFolderAndShowsTheFirst) {
    writeBytes(other / "notes.txt", "text");
    drop({other / "notes.txt"});
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.title(), "Quillmere - x.bmp");
    std::filesystem::create_directory(other / "sub");
    drop({other / "sub"});
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::blue));
}

TEST_F(DropTest, ANonPictureKeepsAnIndexThatLiesInTheNewList) {
    fixture.press(Qt::Key_Right);  // b.bmp: index 1
    writeBytes(other / "notes.txt", "text");
    drop({other / "notes.txt"});
    EXPECT_EQ(viewer.list.currentIndex, 1);
    EXPECT_EQ(fixture.title(), "Quillmere - y.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::yellow));
    fixture.press(Qt::Key_Right);
    fixture.press(Qt::Key_Right);  // index 1 of two: a list of one leaves it outside
    TempFolder single;
    writePicture(single / "only.bmp", 40, 20, Qt::red);
    writeBytes(single / "notes.txt", "text");
    drop({single / "notes.txt"});
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.title(), "Quillmere - only.bmp");
}

TEST_F(DropTest, ADropAfterTheLastPictureWasDeletedShowsTheNewFolder) {
    TempFolder single;
    writePicture(single / "only.bmp", 40, 20, Qt::red);
    fixture.window->openDroppedFile(single / "only.bmp");
    fixture.waitIdle();
    bool shown = false;
    QTimer timer;
    answerNextBox(timer, QMessageBox::Yes, &shown);
    fixture.press(Qt::Key_Delete);
    ASSERT_TRUE(shown);
    ASSERT_EQ(viewer.list.currentIndex, -1);
    drop({other / "notes-missing.txt"});
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.title(), "Quillmere - x.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::blue));
}

// The folder's listing arrives after the first picture is shown: what came before it acts
// on the list as the listing leaves it.
class ListingLateTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    TempFolder other;
    WindowFixture fixture;
    std::unique_ptr<FileSystemGate> gate;

    void SetUp() override {
        writeRedGreenBlue(pictures);
        writePicture(other / "x.bmp", 40, 20, Qt::yellow);
        writePicture(other / "y.bmp", 40, 20, Qt::cyan);
        gate = std::make_unique<FileSystemGate>(pictures.path(), std::vector{FileSystemCall::List});
        fixture.openWaitsIdle = false;
        fixture.open(pictures / "b.bmp");
        // Named and drawn while its folder is still being listed.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return fixture.title() == "Quillmere - b.bmp" && fixture.pixel(400, 300) == Qt::green;
        }));
        ASSERT_EQ(gate->waited(), 1);
        ASSERT_TRUE(fixture.window->busy());
    }
    void TearDown() override { gate.reset(); }

    void key(int key) { QTest::keyClick(fixture.window.get(), static_cast<Qt::Key>(key)); }
    void listingArrives() {
        gate->release();
        fixture.waitIdle();
    }
};

TEST_F(ListingLateTest, StepsEndOnTheListedFolder) {
    key(Qt::Key_Right);
    key(Qt::Key_Right);
    key(Qt::Key_Left);
    key(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp");
    listingArrives();
    EXPECT_EQ(viewer.list.pictureList.size(), 3u);
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::red));
}

TEST_F(ListingLateTest, ADeleteAsksOnceTheListIsThereAndShowsTheNext) {
    key(Qt::Key_Delete);
    bool shown = false;
    QTimer timer;
    answerNextBox(timer, QMessageBox::Yes, &shown);
    listingArrives();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown && !fixture.window->busy(); }));
    EXPECT_FALSE(std::filesystem::exists(pictures / "b.bmp"));
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(fixture.title(), "Quillmere - c.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::blue));
}

TEST_F(ListingLateTest, ADropBetweenStepsOpensItsFolderInTurn) {
    key(Qt::Key_Right);
    dropOn(*fixture.window, {other / "y.bmp"});
    key(Qt::Key_Right);
    listingArrives();
    ASSERT_EQ(viewer.list.pictureList.size(), 2u);
    EXPECT_EQ(viewer.list.pictureList[0], other / "x.bmp");
    EXPECT_EQ(viewer.list.currentIndex, 0);
    EXPECT_EQ(fixture.title(), "Quillmere - x.bmp");
    EXPECT_EQ(fixture.pixel(400, 300), QColor(Qt::yellow));
}

// A file system that hangs after the start holds back only what needs it: keys, the menu and
// a close request are answered meanwhile, the window's thread never calls it, and once it
// answers the viewer ends where it would have.
TEST(HangingFileSystemTest, HoldsNoKeyMenuOrCloseRequest) {
    TempFolder pictures;
    writeRedGreenBlue(pictures);
    WindowFixture fixture;
    fixture.open(pictures / "a.bmp");
    const std::vector all{FileSystemCall::Stat, FileSystemCall::Open, FileSystemCall::Read,
                          FileSystemCall::List, FileSystemCall::Remove};
    auto gate = std::make_optional<FileSystemGate>(pictures.path(), all);
    gate->watchMainThread();
    ViewerWindow& window = *fixture.window;
    // Our own properties window (no file manager here) shows once the file's facts are read.
    window.runCommand(ID_PROPERTIES);
    bool shown = false;
    QTimer timer;
    answerNextBox(timer, QMessageBox::Yes, &shown);
    QTest::keyClick(&window, Qt::Key_Delete);
    ASSERT_TRUE(shown);
    EXPECT_EQ(viewer.list.pictureList.size(), 3u) << "listed until the file is gone";
    // The keys wait a moment behind the removal, in order, then go on without it.
    QTest::keyClick(&window, Qt::Key_Right);
    QTest::keyClick(&window, Qt::Key_F);
    QTest::keyClick(&window, Qt::Key_Up);
    EXPECT_TRUE(QTest::qWaitFor([] { return viewer.render.zoom.zoomFactor > 1.0f; }, 5000));
    EXPECT_EQ(viewer.window.isFullScreen, 1);
    bool menu = false;
    QTimer::singleShot(50, &window, [&] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            menu = true;
            popup->close();
        }
    });
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(10, 10),
                                window.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&window, &menuEvent);
    EXPECT_TRUE(menu);
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");

    gate->release();  // still watching: what the answers bring runs on workers too
    fixture.waitIdle();
    QPointer<QWidget> properties;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->isVisible() && widget->windowTitle() == "a.bmp Properties")
                properties = widget;
        }
        return properties != nullptr;
    }));
    if (properties)
        properties->close();
    EXPECT_FALSE(std::filesystem::exists(pictures / "a.bmp"));
    EXPECT_EQ(viewer.list.pictureList.size(), 2u);
    // The step that waited for the list comes last and returns to the fit.
    EXPECT_EQ(fixture.title(), "Quillmere - c.bmp");
    EXPECT_EQ(viewer.render.zoom.zoomFactor, 1.0f);
    EXPECT_FALSE(gate->calledOnMainThread());

    gate.emplace(pictures.path(), all);
    window.close();
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
