// ---- JPEG 2000 levels and regions ----------------------------------------------------------
// Decodes the JPEG 2000 file named by QUILLMERE_J2K_FILE at levels 0 to 4, two 2000 x 1100
// regions of level 0 (the middle and the bottom-right corner), and measures how long a
// decode takes to return once stop is requested. Every benchmark skips without the file. Run
// one benchmark per process (--benchmark_filter) under /usr/bin/time -v for its peak memory.
// QUILLMERE_J2K_BAND_BYTES overrides the band budget, to compare band heights.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <stop_token>
#include <thread>
#include <vector>

#include "render/decode/jpeg2000_decoder.h"

namespace {

const std::vector<uint8_t>* benchFile() {
    static const std::vector<uint8_t> bytes = [] {
        const char* path = std::getenv("QUILLMERE_J2K_FILE");
        if (path == nullptr)
            return std::vector<uint8_t>();
        if (const char* band = std::getenv("QUILLMERE_J2K_BAND_BYTES"))
            setJpeg2000BandBytes(std::strtoull(band, nullptr, 10));
        std::ifstream stream(path, std::ios::binary);
        return std::vector<uint8_t>((std::istreambuf_iterator<char>(stream)), {});
    }();
    return bytes.empty() ? nullptr : &bytes;
}

bool header(benchmark::State& state, PictureHeader& out) {
    const std::vector<uint8_t>* bytes = benchFile();
    if (bytes == nullptr || readJpeg2000Header(*bytes, out) != DecodeStatus::Ok) {
        state.SkipWithError("QUILLMERE_J2K_FILE names no readable JPEG 2000 file");
        return false;
    }
    return true;
}

void BM_Level(benchmark::State& state) {
    PictureHeader head;
    if (!header(state, head))
        return;
    const auto level = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        Image image;
        if (decodeJpeg2000Level(*benchFile(), level, image) != DecodeStatus::Ok)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_Level)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(3);

// A 2000 x 1100 region of level 0: range 0 puts it in the middle, 1 at the bottom-right.
void BM_Region(benchmark::State& state) {
    PictureHeader head;
    if (!header(state, head))
        return;
    const PixelRect region =
        state.range(0) == 0 ? PixelRect{head.width / 2 - 1000, head.height / 2 - 550, 2000, 1100}
                            : PixelRect{head.width - 2000, head.height - 1100, 2000, 1100};
    for (auto _ : state) {
        Image image;
        if (decodeJpeg2000Region(*benchFile(), 0, region, image) != DecodeStatus::Ok)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_Region)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Iterations(3);

// Time from asking a level-0 decode to stop, range(0) ms after it began, until it returns.
void BM_CancelLatency(benchmark::State& state) {
    PictureHeader head;
    if (!header(state, head))
        return;
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        std::stop_source source;
        Image image;
        auto decode = std::async(std::launch::async, [&] {
            const DecodeStatus status =
                decodeJpeg2000Level(*benchFile(), 0, image, source.get_token());
            return std::make_pair(status, Clock::now());
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
        const Clock::time_point asked = Clock::now();
        source.request_stop();
        const auto [status, returned] = decode.get();
        if (status != DecodeStatus::Cancelled)
            state.SkipWithError("the decode ended before stop was asked");
        state.SetIterationTime(std::chrono::duration<double>(returned - asked).count());
    }
}
BENCHMARK(BM_CancelLatency)
    ->Arg(300)
    ->Arg(1000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

}  // namespace
