#pragma once

#include <QImage>

#include <cstdint>

#include "render/render_pipeline.h"

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
