// ---- PNG decoding ---------------------------------------------------------------------------
// A 4000 x 3000 RGBA PNG decoded by Qt's reader plus the holder's conversion (the old path)
// and by decodePngFast, each into the holder's 32-bit pixels.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <vector>

#include "render/decode/png_decoder.h"
#include "render/decode/stream_decoder.h"

namespace {

// The latency suite's picture when it is there; otherwise one like it, written once into
// /tmp: gradients with noise and a varying alpha, so it deflates about as poorly as a photo.
const std::filesystem::path& benchPng() {
    static const std::filesystem::path file = [] {
        std::filesystem::path suite = "/tmp/latency-pictures/png/c01.png";
        if (std::filesystem::exists(suite))
            return suite;
        std::filesystem::path path = "/tmp/quillmere-bench-4000x3000.png";
        if (std::filesystem::exists(path))
            return path;
        QImage image(4000, 3000, QImage::Format_ARGB32);
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-10, 10);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const int n = noise(random);
                row[x] = qRgba(std::clamp(x / 16 + n, 0, 255), std::clamp(y / 12 + n, 0, 255),
                               std::clamp((x + y) / 28 + n, 0, 255),
                               std::clamp(255 - x / 40 + n, 0, 255));
            }
        }
        QImageWriter(QString::fromStdString(path.string()), "png").write(image);
        return path;
    }();
    return file;
}

const QByteArray& pngBytes() {
    static const QByteArray bytes = [] {
        std::ifstream stream(benchPng(), std::ios::binary);
        std::vector<char> data((std::istreambuf_iterator<char>(stream)), {});
        return QByteArray(data.data(), qsizetype(data.size()));
    }();
    return bytes;
}

void BM_QtReaderPlusConversion(benchmark::State& state) {
    QByteArray bytes = pngBytes();
    for (auto _ : state) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "png");
        reader.setAutoTransform(false);
        QImage image = reader.read();
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        Image out;
        if (!out.adopt(std::move(image)))
            state.SkipWithError("Qt could not decode the picture");
        benchmark::DoNotOptimize(out.row(0));
    }
}
BENCHMARK(BM_QtReaderPlusConversion)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Decodes the picture once an iteration into the holder's pixels.
template <typename Decode>
void decodeEach(benchmark::State& state, const Decode& decode) {
    const QByteArray& bytes = pngBytes();
    const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                        size_t(bytes.size()));
    for (auto _ : state) {
        Image out;
        if (decode(data, out) != std::optional(DecodeStatus::Ok))
            state.SkipWithError("the picture did not decode");
        benchmark::DoNotOptimize(out.row(0));
    }
}

void BM_DecodePngFast(benchmark::State& state) {
    decodeEach(state,
               [](std::span<const uint8_t> data, Image& out) { return decodePngFast(data, out); });
}
BENCHMARK(BM_DecodePngFast)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The same picture streamed whole, a few rows at a time with the stop token seen between them.
void BM_DecodeStreamedWhole(benchmark::State& state) {
    decodeEach(state, [](std::span<const uint8_t> data, Image& out) {
        return decodeStreamedLevel(data, 0, out);
    });
}
BENCHMARK(BM_DecodeStreamedWhole)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
