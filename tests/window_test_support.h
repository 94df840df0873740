#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/viewer_window.h"
#include "platform/file_system_probe.h"

// A temporary folder removed with everything in it when the object goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Writes a picture of one colour; the format follows the name's extension.
void writePicture(const std::filesystem::path& file, int width, int height, QColor colour);
// Writes a.bmp, b.bmp and c.bmp, 40 x 20 pixels of red, green and blue.
void writeRedGreenBlue(const TempFolder& folder);
// Writes a file with the given bytes.
void writeBytes(const std::filesystem::path& file, const std::string& bytes);

// A file system that hangs for one folder: the chosen calls for paths inside it wait until
// release() (a network share that has gone away), except on the main thread, which is never
// held: the gate tells whether any call, for any path, came there since watchMainThread(). One
// gate at a time; the destructor releases.
class FileSystemGate {
  public:
    FileSystemGate(std::filesystem::path folder, std::vector<FileSystemCall> held);
    ~FileSystemGate();
    FileSystemGate(const FileSystemGate&) = delete;
    FileSystemGate& operator=(const FileSystemGate&) = delete;

    void release();
    void watchMainThread();
    bool calledOnMainThread() const;
    // How many calls have waited at the gate so far.
    int waited() const;
};

// A viewer window started as the command line would start it, with a settings file of the
// test's own (never the machine's), shown and past its first paint.
struct WindowFixture {
    TempFolder settingsFolder;
    std::unique_ptr<ViewerWindow> window;
    // The decoder of the window when set before open (tests slow some pictures down).
    std::shared_ptr<Prefetcher> prefetcher;
    // Runs on the window before it is shown, when set.
    std::function<void(ViewerWindow&)> beforeShow;
    // Whether open() waits for the window to be idle (its list final, its picture drawn).
    bool openWaitsIdle = true;

    // Opens the window; an empty path starts it without an argument (programFolder listed).
    void open(const std::filesystem::path& commandLinePath,
              const std::filesystem::path& programFolder = {});
    // Sends a key press to the window as the keyboard would, and waits for the picture it
    // asks for (decoded on a worker) to be drawn.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Waits until no picture is coming and no input waits behind a step.
    void waitIdle() const;
    // The surface's pixel at (x, y) in device pixels.
    QColor pixel(int x, int y) const;
    QString title() const { return window->windowTitle(); }
};

// Lets queued events (window-state changes, the first paint) run.
void settle(int ms = 20);
