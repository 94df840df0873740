#pragma once

#include <QImage>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <thread>
#include <utility>

#include "render/render_pipeline.h"
#include "render/source/prefetcher.h"

// The surface image of the window for render tests, counting how often it is put on the
// screen. It starts in a colour no render paints, so stale pixels show.
class FakeSurface : public RenderTarget {
  public:
    static constexpr uint32_t kStale = 0xFF00FF00u;

    FakeSurface(int width, int height) : pixels(width, height, QImage::Format_RGB32) {
        pixels.fill(kStale);
    }
    QImage* surfacePixels() override { return hasSurface ? &pixels : nullptr; }
    void present() override { ++presents; }

    QImage pixels;
    bool hasSurface = true;
    int presents = 0;
};

// A reload as the window makes one: file decoded for the target's surface on this thread, as a
// worker decodes it (turned by its EXIF orientation when turn is set, by the render
// otherwise), then taken through the pending reload.
inline int32_t reloadPicture(const std::filesystem::path* file, RenderState& state,
                             RenderTarget* target, DetailTiles* detail = nullptr,
                             bool turn = true) {
    beginPendingReload(file, state);
    if (file == nullptr)
        return renderPicture(nullptr, state, target, kRotateNone);
    const QImage* surface = target->surfacePixels();
    const FitArea area = surface ? FitArea{surface->width(), surface->height()} : FitArea{};
    PreparedPicture prepared = preparePicture(*file, fixedArea(area), {}, turn);
    return finishPendingReload(file, state, target, std::move(prepared), detail);
}

// The picture of file as the window gets it: awaited, then taken once decoded (or found
// unchanged by a worker), or nothing after 10 s.
inline std::optional<PreparedPicture> awaitPicture(Prefetcher& prefetcher,
                                                   const std::filesystem::path& file) {
    prefetcher.await(file);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < until) {
        if (std::optional<PreparedPicture> taken = prefetcher.takeResult(file))
            return taken;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}
