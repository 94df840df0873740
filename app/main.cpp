#include <QApplication>
#include <QScreen>
#include <QStyleFactory>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/plain_dialog_style.h"
#include "app/settings_file.h"
#include "app/viewer_window.h"
#include "catalogue/picture_catalogue.h"
#include "platform/app_data.h"
#include "platform/process_memory.h"
#include "platform/stage_timeline.h"
#include "render/source/prefetcher.h"

namespace {

// The largest screen in device pixels: the window is never shown larger than it (maximised
// or full screen), so the first picture can be decoded reduced for it before the window
// knows its own size.
FitArea largestScreenArea() {
    FitArea area;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QSize size = screen->size() * screen->devicePixelRatio();
        area.width = std::max(area.width, size.width());
        area.height = std::max(area.height, size.height());
    }
    return area;
}

}  // namespace

int main(int argc, char** argv) {
    markStage("main");
    returnLargeBuffersAtOnce();
    ViewerOptions options;
    // The argument is taken as the file system's bytes, so any file name opens.
    if (argc >= 2)
        options.commandLinePath = std::filesystem::path(argv[1]);
    // The first picture decodes on the worker while Qt starts and the window is built, shown
    // and placed. Until the application knows the screens, the worker only reads the file
    // (and decodes it if it is a PNG of our own path): a JPEG's scale needs the screen size,
    // and Qt's image readers need the application for their plugins.
    options.prefetcher = std::make_shared<Prefetcher>();
    options.prefetcher->awaitScreenArea();
    // Under the name the folder's listing will give it, so that the window's first reload finds
    // the decode begun here. The window will wait for it: it decodes with the whole budget, not
    // the cap of the pictures decoded ahead.
    if (const std::optional<std::filesystem::path> first = likelyCurrent(options.commandLinePath)) {
        options.prefetcher->await(*first);
        options.prefetcher->request({*first});
    }
    // Its folder is listed and sorted beside it, on a worker of its own.
    options.programFolder = executableFolder();
    options.catalogue = std::make_shared<PictureCatalogue>();
    options.catalogue->open(options.commandLinePath, options.programFolder);
    QApplication app(argc, argv);
    markStage("application");
    QApplication::setStyle(
        new PlainDialogStyle(QStyleFactory::create(QApplication::style()->name())));
    options.prefetcher->setScreenArea(largestScreenArea());
    options.settingsFile = settingsFilePath();

    ViewerWindow window(std::move(options));
    markStage("window built");
    window.exec();
    // The settings are written by now. A decode still under way (a huge picture, a slow
    // codec) must not hold the process after its window has gone, and nothing else is left
    // to save or to hand back to the system than what ending the process gives back.
    std::fflush(nullptr);
    std::_Exit(0);
}
