// The shell's own windows as a user meets them beside the viewer: printing, the chooser and the
// properties window.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QPointer>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "exif_jpeg.h"
#include "jpeg2000_writer.h"
#include "platform/open_with_chooser.h"
#include "platform/print_job.h"
#include "platform/properties_window.h"
#include "window_test_support.h"

namespace {

// The page as a recording printer sees it.
QImage printed(const std::filesystem::path& file) {
    QImage page(300, 400, QImage::Format_RGB32);
    page.fill(Qt::white);
    EXPECT_TRUE(printPictureOn(page, file.string())) << file;
    return page;
}

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <
           40;
}

// What is printed is what the viewer shows after a reload: its own decoders (JPEG 2000
// included) and its EXIF turns, which never mirror.
TEST(Printing, PrintsThePictureAsTheViewerShowsIt) {
    TempFolder folder;
    writeBytes(folder / "a.jpg", jpegWithOrientation(5).toStdString());
    const Bytes j2k = encode({"p", 64, 48, 0, 0, 1, 3, 0, 0});
    std::ofstream(folder / "b.j2k", std::ios::binary)
        .write(reinterpret_cast<const char*>(j2k.data()), static_cast<std::streamsize>(j2k.size()));
    WindowFixture fixture;
    fixture.open(folder / "a.jpg");
    // 40 x 30, red in its top-left quarter; orientation 5 shows it turned right, without the
    // mirror: red at the top right of the 30 x 40 page picture.
    const QImage page = printed(folder / "a.jpg");
    EXPECT_TRUE(near(page.pixel(260, 60), Qt::red));
    EXPECT_TRUE(near(page.pixel(40, 60), Qt::blue));
    EXPECT_TRUE(near(page.pixel(40, 340), Qt::blue));
    const QImage other = printed(folder / "b.j2k");
    EXPECT_NE(other.pixel(150, 200), QColor(Qt::white).rgb()) << "a JPEG 2000 prints too";
}

// The dialog that shows next, of those opened by open (once a worker has read the file).
template <typename Open>
QDialog* opened(Open open) {
    const QWidgetList before = QApplication::topLevelWidgets();
    open();
    QDialog* dialog = nullptr;
    (void)QTest::qWaitFor([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!before.contains(widget) && widget->isVisible())
                dialog = qobject_cast<QDialog*>(widget);
        }
        return dialog != nullptr;
    });
    return dialog;
}

// The viewer runs modal; its own dialogs must still take a click and a close.
TEST(OwnDialogs, TheChooserAndThePropertiesTakeAClickWhileTheViewerRuns) {
    TempFolder folder;
    writePicture(folder / "a.png", 20, 10, Qt::red);
    QDialog viewerStandIn;
    viewerStandIn.setWindowModality(Qt::ApplicationModal);
    viewerStandIn.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewerStandIn));
    const std::string path = (folder / "a.png").string();
    for (auto open : {+[](const std::string& p) { showPropertiesWindow(p); },
                      +[](const std::string& p) { showOpenWithChooser(p); }}) {
        QPointer<QDialog> dialog = opened([&] { open(path); });
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->parentWidget(), &viewerStandIn);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        ASSERT_TRUE(buttons);
        QAbstractButton* close = buttons->buttons().back();
        QTest::mouseClick(close, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog, 2000);
    }
}

// Two programs that call themselves alike are told apart by their ids.
TEST(OwnDialogs, TheChooserTellsProgramsOfOneNameApart) {
    std::vector<DesktopEntry> apps(3);
    apps[0].id = "org.example.viewer.desktop";
    apps[0].name = "Image Viewer";
    apps[1].id = "other-viewer.desktop";
    apps[1].name = "Image Viewer";
    apps[2].id = "paint.desktop";
    apps[2].name = "Paint";
    EXPECT_EQ(chooserNames(apps), (QStringList{"Image Viewer (org.example.viewer)",
                                               "Image Viewer (other-viewer)", "Paint"}));
}

}  // namespace
