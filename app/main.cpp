#include <QApplication>

#include "app/settings_file.h"
#include "app/viewer_window.h"
#include "platform/app_data.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);

    ViewerOptions options;
    // The argument is taken as the file system's bytes, so any file name opens.
    if (argc >= 2)
        options.commandLinePath = std::filesystem::path(argv[1]);
    options.programFolder = executableFolder();
    options.settingsFile = settingsFilePath();

    ViewerWindow window(std::move(options));
    window.exec();
    return 0;
}
