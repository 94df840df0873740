// ---- Decoding ---------------------------------------------------------------------------
// A 6000 x 4000 JPEG (a 24-megapixel photo) decoded by decodePicture, by Qt's reader alone,
// and by TurboJPEG alone as the floor.

#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "render/decoder.h"

#ifdef QUILLMERE_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

// Written once into /tmp: a smooth landscape-like gradient with sensor-like noise, so the
// file compresses like a photo (about 1.5 bits a pixel at quality 90).
const std::filesystem::path& benchJpeg() {
    static const std::filesystem::path file = [] {
        const std::filesystem::path path = "/tmp/quillmere-bench-6000x4000.jpg";
        if (std::filesystem::exists(path))
            return path;
        QImage image(6000, 4000, QImage::Format_RGB32);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-12, 12);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int sky = y < 1600, n = noise(random);
                const int r = (sky ? 90 + y / 40 : 60 + (x / 30) % 80) + n;
                const int g = (sky ? 140 + y / 30 : 110 + (y / 25) % 60) + n;
                const int b = (sky ? 220 - y / 50 : 50 + ((x + y) / 45) % 50) + n;
                row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
            }
        }
        QImageWriter writer(QString::fromStdString(path.string()), "jpeg");
        writer.setQuality(90);
        writer.write(image);
        return path;
    }();
    return file;
}

std::vector<uint8_t> readAll(const std::filesystem::path& file) {
    std::vector<uint8_t> bytes(std::filesystem::file_size(file));
    std::ifstream(file, std::ios::binary)
        .read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

void BM_DecodePictureJpeg6000x4000(benchmark::State& state) {
    const auto& file = benchJpeg();
    for (auto _ : state) {
        Image image;
        if (decodePicture(file, image) != DecodeStatus::Ok)
            state.SkipWithError("decodePicture failed");
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_DecodePictureJpeg6000x4000)->Unit(benchmark::kMillisecond)->MinTime(3);

void BM_QtReaderJpeg6000x4000(benchmark::State& state) {
    const QString file = QString::fromStdString(benchJpeg().string());
    for (auto _ : state) {
        QImageReader::setAllocationLimit(1024);
        QImageReader reader(file);
        reader.setAutoTransform(false);
        QImage image;
        if (!reader.read(&image))
            state.SkipWithError("QImageReader failed");
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_QtReaderJpeg6000x4000)->Unit(benchmark::kMillisecond)->MinTime(3);

#ifdef QUILLMERE_HAVE_TURBOJPEG
// The floor: reading the file and TurboJPEG decoding straight into a 32-bit QImage.
void BM_TurboJpegFloor6000x4000(benchmark::State& state) {
    const auto& file = benchJpeg();
    for (auto _ : state) {
        const std::vector<uint8_t> jpeg = readAll(file);
        tjhandle handle = tjInitDecompress();
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &width, &height, &subsampling,
                            &colourspace);
        QImage image(width, height, QImage::Format_RGB32);
        if (tjDecompress2(handle, jpeg.data(), jpeg.size(), image.bits(), width,
                          int(image.bytesPerLine()), height, TJPF_BGRX, 0) != 0)
            state.SkipWithError("tjDecompress2 failed");
        tjDestroy(handle);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_TurboJpegFloor6000x4000)->Unit(benchmark::kMillisecond)->MinTime(3);
#endif

}  // namespace

// ---- Rendering --------------------------------------------------------------------------
