#include "render/geometry/zoom.h"

namespace {

constexpr float kMinZoom = 1.0f;
constexpr float kMaxZoom = 20.0f;
constexpr double kZoomStep = 0.2;
constexpr float kToggleZoom = 3.0f;

// The pan that keeps the picture point under the anchor in place at the current factor.
void panFromAnchor(ZoomState& zoom) {
    zoom.panX = -(static_cast<float>(zoom.zoomAnchorX) * (zoom.zoomFactor - 1.0f));
    zoom.panY = -(static_cast<float>(zoom.zoomAnchorY) * (zoom.zoomFactor - 1.0f));
}

}  // namespace

void zoomIn(ZoomState& zoom, std::optional<CursorPos> cursor) {
    if (zoom.zoomFactor == kMinZoom && cursor) {
        zoom.zoomAnchorX = cursor->x;
        zoom.zoomAnchorY = cursor->y;
    }
    // The step is added in double and rounded to float, which gives the factors users see
    // (1.2, 1.4000001, ...) and makes 95 steps land on the clamp exactly.
    zoom.zoomFactor = static_cast<float>(static_cast<double>(zoom.zoomFactor) + kZoomStep);
    if (zoom.zoomFactor > kMaxZoom)
        zoom.zoomFactor = kMaxZoom;
    if (cursor)
        panFromAnchor(zoom);
}

void zoomOut(ZoomState& zoom, std::optional<CursorPos> cursor) {
    zoom.zoomFactor = static_cast<float>(static_cast<double>(zoom.zoomFactor) - kZoomStep);
    if (zoom.zoomFactor < kMinZoom)
        zoom.zoomFactor = kMinZoom;
    if (cursor)
        panFromAnchor(zoom);
}

void toggleZoom(ZoomState& zoom, std::optional<CursorPos> cursor) {
    zoom.zoomFactor = zoom.zoomFactor == kMinZoom ? kToggleZoom : kMinZoom;
    if (cursor) {
        zoom.zoomAnchorX = cursor->x;
        zoom.zoomAnchorY = cursor->y;
        panFromAnchor(zoom);
    }
}

void beginDrag(ZoomState& zoom, std::optional<CursorPos> cursor) {
    if (zoom.zoomFactor == kMinZoom)
        return;
    zoom.isDragging = 1;
    if (cursor) {
        zoom.dragLastX = cursor->x;
        zoom.dragLastY = cursor->y;
    }
}

void endDrag(ZoomState& zoom) {
    zoom.isDragging = 0;
}

void dragTo(ZoomState& zoom, std::optional<CursorPos> cursor) {
    if (!cursor)
        return;
    const int32_t dx = cursor->x - zoom.dragLastX;
    const int32_t dy = cursor->y - zoom.dragLastY;
    zoom.dragLastX = cursor->x;
    zoom.dragLastY = cursor->y;
    zoom.panX += static_cast<float>(dx);
    zoom.panY += static_cast<float>(dy);
    // The anchor follows the picture so that the next zoom step magnifies about the point
    // the user dragged under it.
    zoom.zoomAnchorX = static_cast<int32_t>(static_cast<float>(zoom.zoomAnchorX) -
                                            static_cast<float>(dx) / zoom.zoomFactor);
    zoom.zoomAnchorY = static_cast<int32_t>(static_cast<float>(zoom.zoomAnchorY) -
                                            static_cast<float>(dy) / zoom.zoomFactor);
}

void applyZoomStep(ZoomState& zoom, const ZoomStep& step, bool pictureShown) {
    switch (step.op) {
        case ZoomStep::Op::In:
            zoomIn(zoom, step.cursor);
            break;
        case ZoomStep::Op::Out:
            zoomOut(zoom, step.cursor);
            break;
        case ZoomStep::Op::Toggle:
            toggleZoom(zoom, step.cursor);
            break;
        case ZoomStep::Op::BeginDrag:
            beginDrag(zoom, step.cursor);
            break;
        case ZoomStep::Op::EndDrag:
            endDrag(zoom);
            break;
        case ZoomStep::Op::DragTo:
            dragTo(zoom, step.cursor);
            break;
        case ZoomStep::Op::Turn:
            if (pictureShown)
                zoom.zoomFactor = kMinZoom;
            break;
        case ZoomStep::Op::Reset:
            zoom.zoomFactor = kMinZoom;
            break;
    }
}
