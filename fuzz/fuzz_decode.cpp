// libFuzzer entry point: any bytes as a whole picture file, through the decoder, a turn and a
// render into a small surface, as the viewer would show them.
#include <QCoreApplication>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

#include "render/decode/decoder.h"
#include "render/pixels/pixel_ops.h"
#include "render/render_pipeline.h"

namespace {

class SmallSurface : public RenderTarget {
  public:
    SmallSurface(int width, int height) : pixels_(width, height, QImage::Format_RGB32) {}
    QImage* surfacePixels() override { return &pixels_; }
    void present() override {}

  private:
    QImage pixels_;
};

// Qt's image plugins are found through the application object's library paths.
void startQt() {
    static int argc = 1;
    static char name[] = "fuzz_decode";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
}

// The budget every decode here must keep to, its decoder's own buffers included; the fuzzing
// script's memory limits sit above it and below the viewer's own budget, so a decoder that
// allocates past its estimate is a finding.
constexpr size_t kFuzzBudgetBytes = size_t{384} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    startQt();
    const PictureBudgetScope budget(kFuzzBudgetBytes);
    RenderState state;
    if (decodePictureData(std::span(data, size), state.currentPicture) != DecodeStatus::Ok)
        return 0;
    // The last byte picks the turn, the alpha path and a zoom, so every draw path is reached.
    const uint8_t choice = size > 0 ? data[size - 1] : 0;
    const std::filesystem::path file(choice & 4 ? "/fuzz/picture.png" : "/fuzz/picture.jpg");
    SmallSurface surface(choice & 8 ? 7 : 64, 48);
    renderPicture(&file, state, &surface, choice & 3);
    if (choice & 16) {
        state.zoom.zoomFactor = 3.5f;
        state.zoom.panX = 11.0f;
        state.zoom.panY = -5.0f;
        renderPicture(&file, state, &surface, kRotateNone);
    }
    return 0;
}
