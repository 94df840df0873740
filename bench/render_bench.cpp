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

#include "catalogue/picture_list.h"
#include "render/decode/decoder.h"
#include "render/geometry/zoom.h"
#include "render/render_pipeline.h"

#ifdef QUILLMERE_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

// Written once into /tmp: a smooth landscape-like gradient with sensor-like noise, so the
// file compresses like a photo (about 1.5 bits a pixel at quality 90).
const std::filesystem::path& benchJpeg() {
    static const std::filesystem::path file = [] {
        std::filesystem::path path = "/tmp/quillmere-bench-6000x4000.jpg";
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

// The same photo decoded for a maximised 1920 x 1080 window: reduced to 3000 x 2000.
void BM_DecodePictureJpeg6000x4000ForWindow(benchmark::State& state) {
    const auto& file = benchJpeg();
    for (auto _ : state) {
        Image image;
        if (decodePicture(file, image, {1920, 1057}) != DecodeStatus::Ok || !image.reduced())
            state.SkipWithError("no reduced decode");
        benchmark::DoNotOptimize(image.row(0));
    }
}
BENCHMARK(BM_DecodePictureJpeg6000x4000ForWindow)->Unit(benchmark::kMillisecond)->MinTime(3);

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

namespace render_bench {

// A 6000 x 4000 picture with detail everywhere, so no resample can take a shortcut.
Image& bigPicture() {
    static Image picture = [] {
        Image image;
        image.create(6000, 4000, false);
        for (int32_t y = 0; y < image.height(); ++y) {
            auto* row = reinterpret_cast<uint32_t*>(image.row(y));
            for (int32_t x = 0; x < image.width(); ++x)
                row[x] = 0xFF000000u | uint32_t((x * 7) & 0xFF) << 16 |
                         uint32_t((y * 5) & 0xFF) << 8 | uint32_t((x ^ y) & 0xFF);
        }
        return image;
    }();
    return picture;
}

class SurfaceTarget : public RenderTarget {
  public:
    QImage pixels{1920, 1080, QImage::Format_RGB32};
    QImage* surfacePixels() override { return &pixels; }
    void present() override {}
};

// The render state of a freshly decoded big picture (shared pixels, no copy).
struct Scene {
    PictureListState list;
    RenderState state;
    SurfaceTarget surface;
    Scene() {
        list.pictureList = {"/pictures/big.jpg"};
        QImage shared = bigPicture().qimage();
        state.currentPicture.adopt(std::move(shared));
    }
};

// The top-left width x height of the big picture, as a picture of its own.
Image cornerOfBigPicture(int32_t width, int32_t height) {
    Image corner;
    corner.create(width, height, false);
    for (int32_t y = 0; y < height; ++y)
        std::copy_n(reinterpret_cast<const uint32_t*>(bigPicture().row(y)), width,
                    reinterpret_cast<uint32_t*>(corner.row(y)));
    return corner;
}

// Each iteration fits the scene's picture afresh, as the first render after a decode does.
void renderFreshFits(benchmark::State& state, Scene& scene) {
    for (auto _ : state) {
        scene.state.resampled.invalidate();
        renderPicture(currentPath(scene.list), scene.state, &scene.surface, kRotateNone);
    }
}

void BM_FirstRenderAfterDecode(benchmark::State& state) {
    Scene scene;
    renderFreshFits(state, scene);
}
BENCHMARK(BM_FirstRenderAfterDecode)->Unit(benchmark::kMillisecond);

// The first render of the photo as the window decodes it: 3000 x 2000 pixels fitted.
void BM_FirstRenderOfReducedDecode(benchmark::State& state) {
    Scene scene;
    Image reduced = cornerOfBigPicture(3000, 2000);
    reduced.setFullSize(6000, 4000);
    scene.state.currentPicture = reduced;
    renderFreshFits(state, scene);
}
BENCHMARK(BM_FirstRenderOfReducedDecode)->Unit(benchmark::kMillisecond);

// A screen-sized photo in the maximised window (1920 x 1057 under a title bar): the fit
// reduces it only slightly, so every output pixel has about two taps each way.
void BM_FirstRenderOfScreenSizedPicture(benchmark::State& state) {
    Scene scene;
    scene.surface.pixels = QImage(1920, 1057, QImage::Format_RGB32);
    scene.state.currentPicture = cornerOfBigPicture(1920, 1080);
    renderFreshFits(state, scene);
}
BENCHMARK(BM_FirstRenderOfScreenSizedPicture)->Unit(benchmark::kMillisecond);

void BM_RedrawSameSize(benchmark::State& state) {
    Scene scene;
    renderPicture(currentPath(scene.list), scene.state, &scene.surface, kRotateNone);
    for (auto _ : state)
        renderPicture(currentPath(scene.list), scene.state, &scene.surface, kRotateNone);
}
BENCHMARK(BM_RedrawSameSize)->Unit(benchmark::kMillisecond);

void BM_ZoomedRedrawPanning20x(benchmark::State& state) {
    Scene scene;
    scene.state.zoom.zoomFactor = 20.0f;
    float pan = -10000.0f;
    for (auto _ : state) {
        scene.state.zoom.panX = pan;
        scene.state.zoom.panY = pan * 0.5f;
        pan -= 7.0f;
        renderPicture(currentPath(scene.list), scene.state, &scene.surface, kRotateNone);
    }
}
BENCHMARK(BM_ZoomedRedrawPanning20x)->Unit(benchmark::kMillisecond);

// One hundred drag steps at 20x as the window performs them: the pan moves with the cursor,
// then the picture is redrawn. Reported per step.
void BM_DragSteps20x(benchmark::State& state) {
    Scene scene;
    for (auto _ : state) {
        scene.state.zoom.zoomFactor = 1.0f;
        while (scene.state.zoom.zoomFactor < 20.0f)
            zoomIn(scene.state.zoom, CursorPos{960, 540});
        beginDrag(scene.state.zoom, CursorPos{960, 540});
        for (int step = 1; step <= 100; ++step) {
            dragTo(scene.state.zoom, CursorPos{960 + 3 * step, 540 + 2 * step});
            renderPicture(currentPath(scene.list), scene.state, &scene.surface, kRotateNone);
        }
        endDrag(scene.state.zoom);
    }
    state.SetItemsProcessed(state.iterations() * 100);
}
BENCHMARK(BM_DragSteps20x)->Unit(benchmark::kMillisecond);

}  // namespace render_bench
