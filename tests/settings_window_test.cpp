// The window's place, maximised state and background across runs, through the settings file.
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/picture_surface.h"
#include "app/settings_file.h"
#include "app/viewer_state.h"
#include "app/window_placement.h"
#include "window_test_support.h"

namespace {

class SettingsWindowTest : public ::testing::Test {
  protected:
    TempFolder pictures;
    WindowFixture fixture;

    void SetUp() override { writePicture(pictures / "a.bmp", 40, 20, Qt::red); }

    std::filesystem::path settingsFile() { return fixture.settingsFolder / "quillmere.settings"; }

    void store(const SettingsRecord& record) {
        const SettingsBytes bytes = encodeSettings(record);
        std::ofstream out(settingsFile(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    std::optional<SettingsRecord> stored() {
        std::ifstream in(settingsFile(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        if (bytes.size() != kSettingsRecordSize)
            return std::nullopt;
        SettingsBytes record{};
        std::copy(bytes.begin(), bytes.end(), record.begin());
        return decodeSettings(record);
    }

    void closeWindow() {
        fixture.window->close();
        settle();
    }
};

TEST_F(SettingsWindowTest, WithoutAFileTheWindowOpensMaximisedOnGrey) {
    fixture.open(pictures / "a.bmp");
    EXPECT_TRUE(fixture.window->isMaximized());
    EXPECT_EQ(viewer.render.backgroundLevel, 250);
}

// The window's rectangle is its frame's, so the smallest frame is what an unplaced window gets.
TEST_F(SettingsWindowTest, AnUnusableRectangleOpensTheSmallestFrame) {
    store({300, 300, 300, 300, 0, 250});
    fixture.open(pictures / "a.bmp");
    ASSERT_FALSE(fixture.window->isMaximized());
    EXPECT_EQ(fixture.window->frameGeometry().size(), QSize(768, 536));
}

TEST_F(SettingsWindowTest, AStoredMaximisedWindowIsPlacedThenMaximisedAndRestoresThere) {
    store({50, 60, 850, 660, 1, 0});
    fixture.open(pictures / "a.bmp");
    EXPECT_TRUE(fixture.window->isMaximized());
    EXPECT_EQ(viewer.render.backgroundLevel, 0);
    fixture.window->setWindowState(Qt::WindowNoState);
    settle();
    EXPECT_EQ(fixture.window->frameGeometry(), QRect(50, 60, 800, 600));
}

TEST_F(SettingsWindowTest, ClosedMaximisedAgainItKeepsTheStoredRectangle) {
    store({50, 60, 850, 660, 1, 250});
    fixture.open(pictures / "a.bmp");
    closeWindow();
    EXPECT_EQ(stored(), (SettingsRecord{50, 60, 850, 660, 1, 250}));
}

TEST_F(SettingsWindowTest, AStoredNormalWindowComesBackThereAndBlack) {
    store({40, 30, 840, 600, 0, 0});
    fixture.open(pictures / "a.bmp");
    EXPECT_FALSE(fixture.window->isMaximized());
    EXPECT_EQ(fixture.window->frameGeometry(), QRect(40, 30, 800, 570));
    EXPECT_EQ(fixture.pixel(2, 2), QColor(0, 0, 0));
}

TEST_F(SettingsWindowTest, ARectangleOnNoScreenIsMovedOntoThePrimaryScreen) {
    store({-20000, -20000, -19200, -19400, 0, 250});
    fixture.open(pictures / "a.bmp");
    EXPECT_TRUE(
        QGuiApplication::primaryScreen()->geometry().intersects(fixture.window->geometry()));
    EXPECT_EQ(fixture.window->frameGeometry().size(), QSize(800, 600));
}

bool within(QSize size, QSize limit) {
    return size.width() <= limit.width() && size.height() <= limit.height();
}

struct FitCase {
    const char* name;
    SettingsRecord stored;
    QRect frame;
};

// On the offscreen screen (800 pixels wide, 600 or more high): the frame opens no larger than
// the screen, with its title bar on it. A null frame stands for the screen's available area.
const FitCase kFitCases[] = {
    {"HugeShrinksToTheScreen", {0, 0, 65536, 65536, 0, 250}, QRect()},
    {"TopAboveTheScreenMovesDown", {10, -100, 790, 500, 0, 250}, QRect(10, 0, 780, 600)},
    {"LeftFarRightMovesBack", {780, 20, 1560, 580, 0, 250}, QRect(20, 20, 780, 560)},
};

class SettingsFitTest : public SettingsWindowTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(SettingsFitTest, TheWindowOpensWhereTheScreenShowsIt) {
    store(GetParam().stored);
    fixture.open(pictures / "a.bmp");
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = GetParam().frame.isNull() ? available : GetParam().frame;
    EXPECT_EQ(fixture.window->frameGeometry(), frame);
    const QSize screen = available.size();
    // Asserted first: the image is made at the surface's size.
    ASSERT_TRUE(within(fixture.window->surface()->deviceSize(), screen));
    EXPECT_TRUE(within(fixture.window->surface()->surfacePixels()->size(), screen));
}

INSTANTIATE_TEST_SUITE_P(Stored, SettingsFitTest, ::testing::ValuesIn(kFitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Two screens side by side, the primary 1920 x 1080 with a 40-pixel panel at the top, and a
// 1080 x 1920 one on its right.
TEST(FitOnScreensTest, BoundsEachAxisByTheLargestScreenAndKeepsTheTitleBarOnOne) {
    const std::vector<QRect> areas{QRect(0, 40, 1920, 1040), QRect(1920, 0, 1080, 1920)};
    struct Case {
        WindowRect stored;
        WindowRect fitted;
    };
    const Case cases[] = {
        // Each axis as large as the largest screen's.
        {{0, 40, 65536, 65536}, {0, 40, 1920, 1960}},
        // The title bar under the panel, or on the second screen's last rows.
        {{100, 0, 900, 600}, {100, 40, 900, 640}},
        {{2000, 1910, 2800, 2510}, {2000, 1320, 2800, 1920}},
        // Mostly on the second screen, its title bar there: kept.
        {{1900, 100, 2700, 700}, {1900, 100, 2700, 700}},
        {{-9000, -9000, -8000, -8000}, {0, 40, 1000, 1040}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fitOnScreens(c.stored, areas), c.fitted) << &c - cases;
}

// However large the window manager makes the window, the surface's image stays within a few
// screens.
TEST_F(SettingsWindowTest, AHugeWindowGetsASurfaceOfAFewScreens) {
    store({40, 30, 840, 600, 0, 250});
    fixture.open(pictures / "a.bmp");
    fixture.window->resize(6000, 6000);
    settle();
    const QSize limit = QGuiApplication::primaryScreen()->size() * 2;
    ASSERT_TRUE(within(fixture.window->surface()->deviceSize(), limit));
    EXPECT_TRUE(within(fixture.window->surface()->surfacePixels()->size(), limit));
}

TEST_F(SettingsWindowTest, ClosingMaximisedWithoutEverRestoringSavesTheStartRectangle) {
    fixture.open(pictures / "a.bmp");
    ASSERT_TRUE(fixture.window->isMaximized());
    closeWindow();
    EXPECT_EQ(stored(), (SettingsRecord{200, 200, 768, 536, 1, 250}));
}

TEST_F(SettingsWindowTest, ClosingANormalWindowSavesItsRectangle) {
    store({40, 30, 840, 600, 0, 250});
    fixture.open(pictures / "a.bmp");
    fixture.window->move(70, 80);  // the frame's place and the client's size
    fixture.window->resize(fixture.window->size() + QSize(30, 50));
    settle();
    fixture.press(Qt::Key_C);
    closeWindow();
    EXPECT_EQ(stored(), (SettingsRecord{70, 80, 900, 700, 0, 0}));
}

TEST_F(SettingsWindowTest, ClosingMinimisedWritesNothing) {
    store({40, 30, 840, 600, 0, 250});
    fixture.open(pictures / "a.bmp");
    fixture.window->setWindowState(Qt::WindowMinimized);
    settle();
    std::filesystem::remove(settingsFile());
    closeWindow();
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
}

TEST_F(SettingsWindowTest, ClosingInFullScreenSavesTheScreenRectangleBlack) {
    store({40, 30, 840, 600, 0, 250});
    fixture.open(pictures / "a.bmp");
    fixture.press(Qt::Key_F);
    settle();
    closeWindow();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(stored(), (SettingsRecord{screen.left(), screen.top(), screen.right() + 1,
                                        screen.bottom() + 1, 0, 0}));
}

// The rectangle is the frame's, title bar included: stored unchanged run after run, and a
// window closed in full screen comes back with its title bar on the screen.
TEST_F(SettingsWindowTest, TheFrameRectangleComesBackUnchangedRunAfterRun) {
    store({40, 30, 840, 600, 0, 250});
    for (int run = 0; run < 3; ++run) {
        WindowFixture again;
        std::filesystem::copy_file(settingsFile(), again.settingsFolder / "quillmere.settings");
        again.open(pictures / "a.bmp");
        EXPECT_EQ(again.window->frameGeometry(), QRect(40, 30, 800, 570)) << run;
        again.window->close();
        settle();
        std::filesystem::copy_file(again.settingsFolder / "quillmere.settings", settingsFile(),
                                   std::filesystem::copy_options::overwrite_existing);
        EXPECT_EQ(stored(), (SettingsRecord{40, 30, 840, 600, 0, 250})) << run;
    }
}

TEST_F(SettingsWindowTest, AWindowClosedInFullScreenComesBackWithItsTitleBarOnTheScreen) {
    store({40, 30, 840, 600, 0, 250});
    fixture.open(pictures / "a.bmp");
    fixture.press(Qt::Key_F);
    settle();
    closeWindow();
    WindowFixture next;
    std::filesystem::copy_file(settingsFile(), next.settingsFolder / "quillmere.settings");
    next.open(pictures / "a.bmp");
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(next.window->frameGeometry(), screen);
    EXPECT_GT(next.window->geometry().top(), screen.top()) << "the title bar is above the client";
}

}  // namespace
