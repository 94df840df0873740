#pragma once

#include <cstdint>

#include "app/window_rect.h"
#include "catalogue/picture_list.h"
#include "render/render_state.h"

// DPI of the screen as the DPI helpers use it, read once per run.
struct DpiCache {
    uint8_t initialised = 0;
    int32_t dpiX = 96;
    int32_t dpiY = 96;
};

// The window's own part of the viewer state.
struct WindowState {
    // The geometry before full screen is the window placement's (WindowPlacement).
    int32_t isFullScreen = 0;
    // Last rectangle while neither minimised, maximised nor full screen.
    WindowRect normalWindowRect{200, 200, 768, 536};
};

// The process-wide state the subsystems share: plain data, no accessors, no lock. Everything
// runs on the window's thread, so no two handlers or renders ever touch it at once.
struct ViewerState {
    PictureListState list;
    RenderState render;
    WindowState window;
};

// The one viewer state of the process.
extern ViewerState viewer;
// Screen DPI; survives the window, as it is read once per run.
extern DpiCache dpiCache;
