#pragma once

#include <cstdint>
#include <optional>

// A cursor position on the picture surface, in device pixels.
struct CursorPos {
    int32_t x = 0;
    int32_t y = 0;
};

// Zoom and pan of the fitted picture. zoomFactor exactly 1.0 means fitted; every comparison
// with 1.0 is exact, so 1.0000002 counts as zoomed.
struct ZoomState {
    float zoomFactor = 1.0f;
    float panX = 0.0f;
    float panY = 0.0f;
    int32_t zoomAnchorX = 0;
    int32_t zoomAnchorY = 0;
    int32_t isDragging = 0;
    int32_t dragLastX = 0;
    int32_t dragLastY = 0;
};

// Each operation changes the state only; the caller redraws afterwards (except after
// beginDrag and endDrag). cursor is std::nullopt when the cursor position can't be read.
void zoomIn(ZoomState& zoom, std::optional<CursorPos> cursor);
void zoomOut(ZoomState& zoom, std::optional<CursorPos> cursor);
void toggleZoom(ZoomState& zoom, std::optional<CursorPos> cursor);
void beginDrag(ZoomState& zoom, std::optional<CursorPos> cursor);
void endDrag(ZoomState& zoom);
void dragTo(ZoomState& zoom, std::optional<CursorPos> cursor);

// One zoom operation with the cursor it read, so that it can be applied again later. Turn
// stands for a turn of the picture, which puts the factor back to 1.0 only when there is a
// picture to turn; Reset for the callers that set the factor to 1.0 directly.
struct ZoomStep {
    enum class Op : uint8_t { In, Out, Toggle, BeginDrag, EndDrag, DragTo, Reset, Turn };
    Op op = Op::Reset;
    std::optional<CursorPos> cursor;
};

// Applies step; pictureShown tells whether a Turn has a picture to turn.
void applyZoomStep(ZoomState& zoom, const ZoomStep& step, bool pictureShown = true);
