#include "window_test_support.h"

#include <QApplication>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

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

namespace {

// The gate's state: the probe is a plain function, called on any thread.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    std::string folder;
    std::vector<FileSystemCall> held;
    bool closed = false;
    int waited = 0;
    std::thread::id mainThread;
    std::atomic<bool> watching{false};
    std::atomic<bool> calledOnMain{false};
};
Gate gate;

void gateProbe(FileSystemCall call, const char* path) {
    // The main thread is never held: a test that sees it here fails instead of hanging.
    if (std::this_thread::get_id() == gate.mainThread) {
        if (gate.watching)
            gate.calledOnMain = true;
        return;
    }
    std::unique_lock lock(gate.mutex);
    const bool inFolder = path != nullptr && std::string_view(path).starts_with(gate.folder);
    if (!inFolder || std::find(gate.held.begin(), gate.held.end(), call) == gate.held.end())
        return;
    ++gate.waited;
    gate.opened.wait(lock, [] { return !gate.closed; });
}

}  // namespace

FileSystemGate::FileSystemGate(std::filesystem::path folder, std::vector<FileSystemCall> held) {
    {
        std::lock_guard lock(gate.mutex);
        gate.folder = folder.native();
        gate.held = std::move(held);
        gate.closed = true;
        gate.waited = 0;
        gate.mainThread = std::this_thread::get_id();
    }
    gate.watching = false;
    gate.calledOnMain = false;
    setFileSystemProbe(gateProbe);
}

FileSystemGate::~FileSystemGate() {
    release();
    setFileSystemProbe(nullptr);
}

void FileSystemGate::release() {
    {
        std::lock_guard lock(gate.mutex);
        gate.closed = false;
    }
    gate.opened.notify_all();
}

void FileSystemGate::watchMainThread() {
    gate.watching = true;
}

bool FileSystemGate::calledOnMainThread() const {
    return gate.calledOnMain;
}

int FileSystemGate::waited() const {
    std::lock_guard lock(gate.mutex);
    return gate.waited;
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
    if (openWaitsIdle)
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
