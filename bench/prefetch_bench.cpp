// A step to a 24-megapixel JPEG onto a 1920 x 1080 surface: decoded at the step, and taken
// from the prefetch with the fitted resample made ahead (what a step costs once the worker
// has had time), its file's version checked by a worker.

#include <QImage>
#include <QImageWriter>

#include <benchmark/benchmark.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>

#include "catalogue/picture_list.h"
#include "render/render_pipeline.h"
#include "render/source/prefetcher.h"

namespace {

const std::filesystem::path& photo() {
    static const std::filesystem::path file = [] {
        std::filesystem::path path = "/tmp/quillmere-prefetch-bench-6000x4000.jpg";
        if (std::filesystem::exists(path))
            return path;
        QImage image(6000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                row[x] = qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, (x ^ y) & 0xFF);
        }
        QImageWriter writer(QString::fromStdString(path.string()), "jpeg");
        writer.setQuality(90);
        writer.write(image);
        return path;
    }();
    return file;
}

class Surface : public RenderTarget {
  public:
    QImage pixels{1920, 1080, QImage::Format_RGB32};
    QImage* surfacePixels() override { return &pixels; }
    void present() override {}
};

// A step whose picture is decoded when it is asked for (on a worker in the viewer), then
// taken through the pending reload.
void BM_StepDecodedAtTheStep(benchmark::State& state) {
    PictureListState list;
    list.pictureList = {photo()};
    RenderState render;
    Surface surface;
    for (auto _ : state) {
        beginPendingReload(currentPath(list), render);
        PreparedPicture prepared = preparePicture(photo(), {1920, 1080});
        finishPendingReload(currentPath(list), render, &surface, std::move(prepared));
    }
}
BENCHMARK(BM_StepDecodedAtTheStep)->Unit(benchmark::kMillisecond)->Iterations(10);

// The window's side of a step to a picture the prefetcher has ready: it awaits it, a worker
// finds its file unchanged and says so (the window's thread never asks the file system), and
// the window takes it. Returns the picture.
PreparedPicture takeChecked(Prefetcher& prefetcher, const std::filesystem::path& file,
                            std::mutex& mutex, std::condition_variable& arrived, bool& told) {
    prefetcher.await(file);
    std::optional<PreparedPicture> taken = prefetcher.takeResult(file);
    if (!taken) {
        std::unique_lock lock(mutex);
        arrived.wait(lock, [&] { return told; });
        told = false;
        lock.unlock();
        taken = prefetcher.takeResult(file);
    }
    prefetcher.await({});
    return taken ? std::move(*taken) : PreparedPicture{};
}

// A step whose picture the prefetcher has ready. freeAside: the outgoing picture is handed to
// the prefetcher to be freed, as the window steps; otherwise the step frees it in place.
void stepFromPrefetch(benchmark::State& state, const std::filesystem::path& file, bool freeAside,
                      bool render) {
    PictureListState list;
    list.pictureList = {file};
    RenderState shown;
    Surface surface;
    Prefetcher prefetcher;
    std::mutex mutex;
    std::condition_variable arrived;
    bool told = false;
    prefetcher.setOnDecoded([&](const std::filesystem::path&) {
        std::lock_guard lock(mutex);
        told = true;
        arrived.notify_all();
    });
    for (auto _ : state) {
        state.PauseTiming();
        prefetcher.request({file}, 1920, 1080);
        prefetcher.waitIdle();
        {
            std::lock_guard lock(mutex);
            told = false;
        }
        state.ResumeTiming();
        if (freeAside)
            prefetcher.release(std::move(shown.currentPicture));
        beginPendingReload(currentPath(list), shown);
        PreparedPicture taken = takeChecked(prefetcher, file, mutex, arrived, told);
        if (render)
            finishPendingReload(currentPath(list), shown, &surface, std::move(taken));
    }
    prefetcher.setOnDecoded({});
}

void BM_StepFromPrefetch(benchmark::State& state) {
    stepFromPrefetch(state, photo(), false, true);
}
BENCHMARK(BM_StepFromPrefetch)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_StepFromPrefetchFreedAside(benchmark::State& state) {
    stepFromPrefetch(state, photo(), true, true);
}
BENCHMARK(BM_StepFromPrefetchFreedAside)->Unit(benchmark::kMillisecond)->Iterations(10);

// What the worker's check of the file adds to a step: the round trip alone, for a small
// picture, no render.
void BM_CheckRoundTrip(benchmark::State& state) {
    const std::filesystem::path small = "/tmp/quillmere-prefetch-bench-64x48.png";
    QImage(64, 48, QImage::Format_RGB32).save(QString::fromStdString(small.string()));
    stepFromPrefetch(state, small, true, false);
}
BENCHMARK(BM_CheckRoundTrip)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_PrefetchWorkerPerPicture(benchmark::State& state) {
    for (auto _ : state) {
        PreparedPicture prepared = preparePicture(photo(), {1920, 1080});
        prepareFit(prepared, 1920, 1080);
        benchmark::DoNotOptimize(prepared.resampled.valid);
    }
}
BENCHMARK(BM_PrefetchWorkerPerPicture)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
