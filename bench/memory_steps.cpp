// Steps the real viewer window through 200 pictures of 24 megapixels on the offscreen
// platform and prints the resident memory: after each step it must stay within a few decoded
// pictures, however long the walk. Not a unit test: it takes about a minute.
//   bench_memory_steps [steps]
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/viewer_window.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kDistinct = 4;

long peakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

long currentRssMb() {
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

// A picture with detail everywhere, so the JPEG is of realistic size; the odd ones are
// portrait, so turns and fits vary along the walk.
QImage makePicture(int seed) {
    const bool portrait = seed % 2 == 1;
    QImage image(portrait ? kHeight : kWidth, portrait ? kWidth : kHeight, QImage::Format_RGB32);
    uint32_t state = 2463534242u + static_cast<uint32_t>(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const uint32_t noise = state & 0x1F1F1F;
            row[x] = 0xFF000000u | (((x * 255 / image.width()) << 16) + ((y >> 4) & 0xFF00) +
                                    (seed * 60 & 0xFF) + noise);
        }
    }
    return image;
}

// Writes the distinct pictures once and links them under 200 names, so the walk decodes
// 200 files of 24 megapixels without 200 files' worth of disk.
fs::path makeFolder(int steps) {
    fs::path folder =
        fs::temp_directory_path() / ("quillmere_memory_" + std::to_string(::getpid()));
    fs::create_directories(folder / "sources");
    for (int i = 0; i < kDistinct; ++i) {
        const fs::path source = folder / "sources" / ("source" + std::to_string(i) + ".jpg");
        makePicture(i).save(QString::fromStdString(source.string()), "JPEG", 85);
    }
    for (int i = 0; i < steps; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", i);
        fs::create_hard_link(
            folder / "sources" / ("source" + std::to_string(i % kDistinct) + ".jpg"),
            folder / name);
    }
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int steps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::printf("writing %d distinct %d x %d pictures under %d names...\n", kDistinct, kWidth,
                kHeight, steps);
    const fs::path folder = makeFolder(steps);
    const long baseline = currentRssMb();

    ViewerOptions options;
    options.commandLinePath = folder / "IMG_0000.jpg";
    options.settingsFile = folder / "sources" / "quillmere.settings";
    long highest = 0;
    const auto start = std::chrono::steady_clock::now();
    {
        ViewerWindow window(std::move(options));
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            std::printf("the window was never exposed\n");
        QTest::qWait(50);
        for (int i = 1; i < steps; ++i) {
            window.runCommand(ID_NEXT);
            // A turn now and then makes a turned copy, as a user's R would.
            if (i % 10 == 0)
                window.runCommand(ID_ROTATE_RIGHT);
            QCoreApplication::processEvents();
            highest = std::max(highest, currentRssMb());
            if (i % 25 == 0)
                std::printf("step %3d: resident %ld MiB, peak %ld MiB\n", i, currentRssMb(),
                            peakRssMb());
        }
        window.close();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d steps in %.1f s (%.0f ms a step)\n", steps, seconds, 1000 * seconds / steps);
    std::printf(
        "resident before the window %ld MiB, highest after a step %ld MiB, "
        "peak (getrusage) %ld MiB; one decoded picture is %d MiB\n",
        baseline, highest, peakRssMb(), kWidth * kHeight * 4 >> 20);
    std::error_code error;
    fs::remove_all(folder, error);
    return 0;
}
