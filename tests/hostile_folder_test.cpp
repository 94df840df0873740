// Folders that fight back: files that can't be read, links that loop, names that aren't
// UTF-8, and pictures or the whole folder changed by another program while the viewer shows
// them. The window must keep going, showing what is there now and never a stale picture.
#include <sys/stat.h>
#include <unistd.h>

#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/picture_surface.h"
#include "app/viewer_state.h"
#include "catalogue/picture_list.h"
#include "window_test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kGreen = qRgb(0, 255, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kGreyBackground = qRgb(250, 250, 250);

class HostileFolderTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;

    QRgb centre() const {
        const QSize size = fixture.window->surface()->surfacePixels()->size();
        return fixture.pixel(size.width() / 2, size.height() / 2).rgb();
    }
    // Steps with the key until the title names `name`, at most once round the list.
    bool stepTo(const std::string& name) {
        for (size_t i = 0; i <= viewer.list.pictureList.size(); ++i) {
            if (fixture.title().toStdString() == "Quillmere - " + name)
                return true;
            fixture.press(Qt::Key_Right);
        }
        return false;
    }
};

// Entries the file system lists as pictures but that can't be read as one: each shows the
// background, and the good picture after it is shown.
TEST_F(HostileFolderTest, UnreadableEntriesAmongPicturesShowTheBackgroundAndNoHang) {
    writePicture(pictures / "a-first.bmp", 30, 20, Qt::red);
    // A named pipe would block a reader forever.
    ASSERT_EQ(::mkfifo((pictures / "b-pipe.jpg").c_str(), 0644), 0);
    fs::create_symlink("c-loop-2.png", pictures / "c-loop-1.png");
    fs::create_symlink("c-loop-1.png", pictures / "c-loop-2.png");
    fs::create_symlink("/dev/zero", pictures / "d-endless.gif");
    fs::create_symlink("e-missing.bmp", pictures / "e-dangling.bmp");
    fs::create_symlink(".", pictures / "f-folder-itself.jpg");
    writePicture(pictures / "g-no-permission.bmp", 30, 20, Qt::blue);
    fs::permissions(pictures / "g-no-permission.bmp", fs::perms::none);
    writePicture(pictures / "h-last.bmp", 30, 20, Qt::green);

    fixture.open(pictures / "a-first.bmp");
    // The link to the folder itself is a folder, so not listed; the rest are.
    ASSERT_EQ(viewer.list.pictureList.size(), 8u);
    EXPECT_EQ(centre(), kRed);
    for (const char* name :
         {"b-pipe.jpg", "c-loop-1.png", "c-loop-2.png", "d-endless.gif", "e-dangling.bmp"}) {
        fixture.press(Qt::Key_Right);
        EXPECT_EQ(fixture.title().toStdString(), std::string("Quillmere - ") + name);
        EXPECT_EQ(centre(), kGreyBackground) << name;
        fixture.press(Qt::Key_R);
        fixture.press(Qt::Key_Up);
    }
    fixture.press(Qt::Key_Right);
    // The superuser reads any file, so the denied one may still be shown.
    if (::geteuid() != 0) {
        EXPECT_EQ(centre(), kGreyBackground);
    }
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - h-last.bmp");
    EXPECT_EQ(centre(), kGreen);
}

TEST_F(HostileFolderTest, ANameThatIsNotUtf8IsShownAndTitledWithAReplacement) {
    writePicture(pictures / "a.bmp", 30, 20, Qt::red);
    const std::string name = "b-\xff\xfe-caf\xe9.bmp";
    writePicture(pictures / name, 30, 20, Qt::blue);
    fixture.open(pictures / "a.bmp");
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), QString::fromUtf8("Quillmere - b-\uFFFD\uFFFD-caf\uFFFD.bmp"));
    EXPECT_EQ(centre(), kBlue);
}

// Another program removes or replaces the next picture after the list was made; a prefetch
// or cache of the old file must not be shown under its name.
TEST_F(HostileFolderTest, APictureChangedAfterListingShowsWhatIsThereNow) {
    writePicture(pictures / "a.bmp", 30, 20, Qt::red);
    writePicture(pictures / "b.bmp", 30, 20, Qt::green);
    writePicture(pictures / "c.bmp", 30, 20, Qt::blue);
    writePicture(pictures / "d.bmp", 30, 20, Qt::green);
    fixture.open(pictures / "a.bmp");
    settle(200);

    fs::remove(pictures / "b.bmp");
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - b.bmp");
    EXPECT_EQ(centre(), kGreyBackground);

    // Replaced by a picture of another colour, by a folder, and by bytes that aren't one.
    writePicture(pictures / "c.bmp.new", 30, 20, Qt::red);
    fs::rename(pictures / "c.bmp.new", pictures / "c.bmp");
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(centre(), kRed);

    fs::remove(pictures / "d.bmp");
    fs::create_directory(pictures / "d.bmp");
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - d.bmp");
    EXPECT_EQ(centre(), kGreyBackground);

    writeBytes(pictures / "a.bmp", "BM not a picture any more");
    fixture.press(Qt::Key_Right);
    EXPECT_EQ(fixture.title(), "Quillmere - a.bmp");
    EXPECT_EQ(centre(), kGreyBackground);
    // A redraw after a failed decode paints nothing, and must not bring the old picture back.
    fixture.press(Qt::Key_R);
    fixture.press(Qt::Key_C);
    EXPECT_EQ(centre(), kGreyBackground);
}

TEST_F(HostileFolderTest, AFolderThatVanishesWhileShownLeavesAWorkingWindow) {
    const TempFolder parent;
    const fs::path folder = parent / "pictures";
    fs::create_directory(folder);
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"})
        writePicture(folder / name, 30, 20, Qt::red);
    fixture.open(folder / "b.bmp");
    EXPECT_EQ(centre(), kRed);

    fs::remove_all(folder);
    // What is on screen can still be turned, zoomed and redrawn from the decoded picture.
    fixture.press(Qt::Key_R);
    fixture.press(Qt::Key_Up);
    fixture.press(Qt::Key_C);
    for (const int key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Left, Qt::Key_L, Qt::Key_Down}) {
        fixture.press(key);
        EXPECT_NE(centre(), kRed);
    }
    EXPECT_EQ(viewer.list.pictureList.size(), 3u);

    // A folder of the same name that comes back holds what is there now.
    fs::create_directory(folder);
    writePicture(folder / "a.bmp", 30, 20, Qt::blue);
    ASSERT_TRUE(stepTo("a.bmp"));
    fixture.press(Qt::Key_Right);
    fixture.press(Qt::Key_Left);
    EXPECT_EQ(centre(), kBlue);
}

}  // namespace
