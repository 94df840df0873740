// A step to a 24-megapixel JPEG onto a 1920 x 1080 surface: decoded at the step, and taken
// from the prefetch with the fitted resample made ahead (what a step costs once the worker
// has had time).

#include <QImage>
#include <QImageWriter>

#include <benchmark/benchmark.h>

#include <filesystem>

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

void BM_StepDecodedAtTheStep(benchmark::State& state) {
    PictureListState list;
    list.pictureList = {photo()};
    RenderState render;
    Surface surface;
    for (auto _ : state)
        renderPicture(currentPath(list), render, &surface, 0, kRotateNone);
}
BENCHMARK(BM_StepDecodedAtTheStep)->Unit(benchmark::kMillisecond)->Iterations(10);

// A step whose picture the prefetcher has ready. freeAside: the outgoing picture is handed to
// the prefetcher to be freed, as the window steps; otherwise the step frees it in place.
void stepFromPrefetch(benchmark::State& state, bool freeAside) {
    PictureListState list;
    list.pictureList = {photo()};
    RenderState render;
    Surface surface;
    Prefetcher prefetcher;
    const DecodeSource source = [&](const std::filesystem::path& f) { return prefetcher.take(f); };
    for (auto _ : state) {
        state.PauseTiming();
        prefetcher.request({photo()}, 1920, 1080);
        prefetcher.waitIdle();
        state.ResumeTiming();
        if (freeAside)
            prefetcher.release(std::move(render.currentPicture));
        renderPicture(currentPath(list), render, &surface, 0, kRotateNone, source);
    }
}

void BM_StepFromPrefetch(benchmark::State& state) {
    stepFromPrefetch(state, false);
}
BENCHMARK(BM_StepFromPrefetch)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_StepFromPrefetchFreedAside(benchmark::State& state) {
    stepFromPrefetch(state, true);
}
BENCHMARK(BM_StepFromPrefetchFreedAside)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_PrefetchWorkerPerPicture(benchmark::State& state) {
    for (auto _ : state) {
        PreparedPicture prepared = preparePicture(photo(), {1920, 1080});
        prepareFit(prepared, 1920, 1080);
        benchmark::DoNotOptimize(prepared.resampled.valid);
    }
}
BENCHMARK(BM_PrefetchWorkerPerPicture)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
