// JPEG levels and regions through libjpeg against whole decodes through TurboJPEG.
//
// QUILLMERE_BIG_JPEG names a very large JPEG (say 30000 x 20000); the benchmarks that need it
// skip when it is not set. QUILLMERE_PHOTO_JPEG names a camera-sized photo; without it one is
// written once into /tmp. Run one benchmark at a time (--benchmark_filter) under
// /usr/bin/time -v to see each one's peak memory.

#include <QImage>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <span>
#include <stop_token>
#include <thread>

#include "render/decode/jpeg_decoder.h"

namespace {

// A file mapped for reading, so that its pages count once and only as they are read.
class MappedFile {
  public:
    explicit MappedFile(const char* path) {
        const int fd = path ? open(path, O_RDONLY) : -1;
        struct stat info {};
        if (fd < 0 || fstat(fd, &info) != 0 || info.st_size == 0) {
            if (fd >= 0)
                close(fd);
            return;
        }
        size_ = static_cast<size_t>(info.st_size);
        void* at = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (at != MAP_FAILED)
            data_ = static_cast<const uint8_t*>(at);
    }
    ~MappedFile() {
        if (data_)
            munmap(const_cast<uint8_t*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::span<const uint8_t> bytes() const { return {data_, data_ ? size_ : 0}; }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

const MappedFile& bigJpeg() {
    static const MappedFile file(std::getenv("QUILLMERE_BIG_JPEG"));
    return file;
}

// A 6000 x 4000 quality-90 photo-like JPEG: gradients with noise.
std::filesystem::path photoPath() {
    if (const char* path = std::getenv("QUILLMERE_PHOTO_JPEG"))
        return path;
    std::filesystem::path path = "/tmp/quillmere-bench-6000x4000.jpg";
    if (std::filesystem::exists(path))
        return path;
    QImage image(6000, 4000, QImage::Format_RGB32);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> noise(-8, 8);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = noise(random);
            row[x] = qRgb(std::clamp(x / 24 + n, 0, 255), std::clamp(y / 16 + n, 0, 255),
                          std::clamp((x + y) / 40 + n, 0, 255));
        }
    }
    image.save(QString::fromStdString(path.string()), "JPEG", 90);
    return path;
}

const MappedFile& photoJpeg() {
    static const MappedFile file(photoPath().c_str());
    return file;
}

bool usable(benchmark::State& state, const MappedFile& file) {
    if (!file.bytes().empty())
        return true;
    state.SkipWithError("no picture: set QUILLMERE_BIG_JPEG");
    return false;
}

void BM_BigLevel(benchmark::State& state) {
    if (!usable(state, bigJpeg()))
        return;
    for (auto _ : state) {
        Image out;
        if (decodeJpegLevel(bigJpeg().bytes(), static_cast<int32_t>(state.range(0)), out) !=
            DecodeStatus::Ok)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.row(0));
    }
}
BENCHMARK(BM_BigLevel)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 2000 x 1100 region at full scale, range(0) and range(1) in hundredths of the free room.
void BM_BigRegion(benchmark::State& state) {
    if (!usable(state, bigJpeg()))
        return;
    PictureHeader header;
    readJpegHeader(bigJpeg().bytes(), header);
    const PixelRect region{static_cast<int32_t>((header.width - 2000) * state.range(0) / 100),
                           static_cast<int32_t>((header.height - 1100) * state.range(1) / 100),
                           2000, 1100};
    for (auto _ : state) {
        Image out;
        if (decodeJpegRegion(bigJpeg().bytes(), 0, region, out) != DecodeStatus::Ok)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.row(0));
    }
}
BENCHMARK(BM_BigRegion)
    ->Args({50, 50})
    ->Args({100, 100})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// From asking a level 4 decode to stop, 300 ms in, to its return.
void BM_BigStopLatency(benchmark::State& state) {
    if (!usable(state, bigJpeg()))
        return;
    for (auto _ : state) {
        std::stop_source stop;
        std::chrono::steady_clock::time_point asked;
        std::thread decode([&] {
            Image out;
            if (decodeJpegLevel(bigJpeg().bytes(), 4, out, stop.get_token()) !=
                DecodeStatus::Cancelled)
                state.SkipWithError("not cancelled");
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        asked = std::chrono::steady_clock::now();
        stop.request_stop();
        decode.join();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count());
    }
}
BENCHMARK(BM_BigStopLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// An area for which decodePicture reduces a width x height picture by `reduction`.
FitArea areaFor(int32_t width, int32_t height, int32_t reduction) {
    for (int32_t side = 1; reduction > 1 && side < std::max(width, height); ++side)
        if (reductionFor(width, height, {side, side}) == reduction)
            return {side, side};
    return {};
}

void BM_PhotoLevel(benchmark::State& state) {
    const auto level = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        Image out;
        decodeJpegLevel(photoJpeg().bytes(), level, out);
        benchmark::DoNotOptimize(out.row(0));
    }
}
BENCHMARK(BM_PhotoLevel)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_PhotoTurboJpeg(benchmark::State& state) {
    PictureHeader header;
    readJpegHeader(photoJpeg().bytes(), header);
    const FitArea area =
        areaFor(header.width, header.height, 1 << static_cast<int32_t>(state.range(0)));
    for (auto _ : state) {
        Image out;
        decodePictureData(photoJpeg().bytes(), out, area);
        benchmark::DoNotOptimize(out.row(0));
    }
}
BENCHMARK(BM_PhotoTurboJpeg)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
