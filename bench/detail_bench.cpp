// Zooming into a picture much larger than the screen: the first level for the screen, full
// resolution at 20x about a point (decoded by region into tiles), and drag steps at 20x once
// the tiles are there.
//
// QUILLMERE_HUGE_PICTURE names the picture (a 30000 x 20000 JPEG, a 20000 x 20000 JPEG 2000);
// the benchmarks skip without it. Run one at a time under /usr/bin/time -v for its peak memory.

#include <QImage>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "catalogue/picture_list.h"
#include "render/render_pipeline.h"
#include "render/source/detail_tiles.h"
#include "render/source/prepared_picture.h"

namespace {

constexpr int32_t kSurfaceWidth = 1920;
constexpr int32_t kSurfaceHeight = 1057;  // a maximised window on a 1920 x 1080 screen

class Surface : public RenderTarget {
  public:
    Surface() : pixels_(kSurfaceWidth, kSurfaceHeight, QImage::Format_RGB32) {}
    QImage* surfacePixels() override { return &pixels_; }
    void present() override {}

  private:
    QImage pixels_;
};

const char* hugePicture() {
    return std::getenv("QUILLMERE_HUGE_PICTURE");
}

// The picture as the window shows it first, fitted to the surface.
bool showFitted(PictureListState& list, RenderState& state, Surface& surface) {
    const char* file = hugePicture();
    if (file == nullptr)
        return false;
    list.pictureList = {std::filesystem::path(file)};
    PreparedPicture prepared =
        preparePicture(list.pictureList[0], FitArea{kSurfaceWidth, kSurfaceHeight});
    if (!adoptPicture(state, std::move(prepared), true))
        return false;
    return renderPicture(currentPath(list), state, &surface, 0) == 0;
}

// 20x about the surface point (x, y), as 95 wheel steps there would leave it.
void zoomTwentyAbout(RenderState& state, int32_t x, int32_t y) {
    for (int step = 0; step < 95; ++step)
        zoomIn(state.zoom, CursorPos{x, y});
}

void BM_FirstLevelForTheScreen(benchmark::State& bench) {
    if (hugePicture() == nullptr) {
        bench.SkipWithError("QUILLMERE_HUGE_PICTURE is not set");
        return;
    }
    for (auto _ : bench) {
        PreparedPicture prepared =
            preparePicture(hugePicture(), FitArea{kSurfaceWidth, kSurfaceHeight});
        benchmark::DoNotOptimize(prepared.picture.width());
    }
}
BENCHMARK(BM_FirstLevelForTheScreen)->Unit(benchmark::kMillisecond)->Iterations(3);

// From the zoom to the full-resolution pixels on the surface.
void BM_ZoomTo20xFullResolution(benchmark::State& bench) {
    PictureListState list;
    RenderState state;
    Surface surface;
    if (!showFitted(list, state, surface)) {
        bench.SkipWithError("QUILLMERE_HUGE_PICTURE is not set or doesn't decode");
        return;
    }
    // The point lies at the given percentages of the fitted picture.
    const Fit fit = fitPicture(state.currentPicture.fullWidth(), state.currentPicture.fullHeight(),
                               kSurfaceWidth, kSurfaceHeight);
    const int32_t x = fit.fx + static_cast<int32_t>(bench.range(0)) * (fit.fw - 1) / 100;
    const int32_t y = fit.fy + static_cast<int32_t>(bench.range(1)) * (fit.fh - 1) / 100;
    zoomTwentyAbout(state, x, y);
    for (auto _ : bench) {
        DetailTiles tiles;
        renderPicture(currentPath(list), state, &surface, 0, &tiles);
        tiles.waitIdle();
        renderPicture(currentPath(list), state, &surface, 0, &tiles);
    }
}
BENCHMARK(BM_ZoomTo20xFullResolution)
    ->Args({50, 50})
    ->Args({95, 95})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// Drag steps of a few pixels at 20x over tiles already decoded.
void BM_DragAt20xOnCachedTiles(benchmark::State& bench) {
    PictureListState list;
    RenderState state;
    Surface surface;
    if (!showFitted(list, state, surface)) {
        bench.SkipWithError("QUILLMERE_HUGE_PICTURE is not set or doesn't decode");
        return;
    }
    zoomTwentyAbout(state, kSurfaceWidth / 2, kSurfaceHeight / 2);
    DetailTiles tiles;
    renderPicture(currentPath(list), state, &surface, 0, &tiles);
    tiles.waitIdle();
    int32_t step = 0;
    for (auto _ : bench) {
        // Back and forth over 64 pixels, within the tiles around the view.
        const int32_t dx = (step++ / 8) % 2 == 0 ? 8 : -8;
        state.zoom.panX += static_cast<float>(dx);
        renderPicture(currentPath(list), state, &surface, 0, &tiles);
    }
}
BENCHMARK(BM_DragAt20xOnCachedTiles)->Unit(benchmark::kMillisecond);

}  // namespace
