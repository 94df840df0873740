#include "window_test_support.h"

#include <QApplication>
#include <QTest>

#include <fstream>
#include <random>

#include "app/picture_surface.h"

TempFolder::TempFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("quillmere-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code error;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(path_, error);
}

void writePicture(const std::filesystem::path& file, int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    const std::string extension = file.extension().string();
    const char* format = nullptr;
    if (extension == ".jpg" || extension == ".JPG" || extension == ".jpeg")
        format = "JPEG";
    else if (extension == ".bmp" || extension == ".BMP")
        format = "BMP";
    else
        format = "PNG";
    if (std::string(format) != "PNG")
        image = image.convertToFormat(QImage::Format_RGB32);
    image.save(QString::fromStdString(file.string()), format, 95);
}

void writeRedGreenBlue(const TempFolder& folder) {
    writePicture(folder / "a.bmp", 40, 20, Qt::red);
    writePicture(folder / "b.bmp", 40, 20, Qt::green);
    writePicture(folder / "c.bmp", 40, 20, Qt::blue);
}

void writeBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out << bytes;
}

void settle(int ms) {
    QCoreApplication::processEvents();
    QTest::qWait(ms);
}

void WindowFixture::open(const std::filesystem::path& commandLinePath,
                         const std::filesystem::path& programFolder) {
    ViewerOptions options;
    if (!commandLinePath.empty())
        options.commandLinePath = commandLinePath;
    options.programFolder = programFolder;
    options.settingsFile = settingsFolder / "quillmere.settings";
    options.prefetcher = prefetcher;
    window = std::make_unique<ViewerWindow>(std::move(options));
    if (beforeShow)
        beforeShow(*window);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        qWarning("the viewer window was never exposed");
    settle();
    waitIdle();
}

void WindowFixture::press(int key, Qt::KeyboardModifiers modifiers) {
    QTest::keyClick(window.get(), static_cast<Qt::Key>(key), modifiers);
    waitIdle();
}

void WindowFixture::waitIdle() const {
    if (!QTest::qWaitFor([&] { return !window->busy(); }, 10000))
        qWarning("the viewer window stayed busy");
}

QColor WindowFixture::pixel(int x, int y) const {
    return QColor(window->surface()->surfacePixels()->pixel(x, y));
}
