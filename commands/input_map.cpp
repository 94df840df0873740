#include "commands/input_map.h"

#include <algorithm>
#include <cmath>

#include "commands/key_table.h"

namespace {

InputDecision zoomDecision(ZoomStep::Op op, bool stopSlideshow) {
    const bool drawn = op != ZoomStep::Op::BeginDrag && op != ZoomStep::Op::EndDrag;
    return {true, stopSlideshow, ID_NONE, op, drawn};
}

}  // namespace

InputDecision decideInput(const Input& input, const InputSituation& situation) {
    // Only the left button drags and toggles the zoom; the right one opens the context menu
    // through its own event.
    const bool left = input.button == Qt::LeftButton;
    switch (input.kind) {
        case Input::Kind::Key: {
            // Alt and its combinations belong to the window manager; other modifiers never
            // change a binding: Ctrl+R turns like R.
            if (input.key == Qt::Key_Alt || (input.modifiers & Qt::AltModifier))
                return {};
            InputDecision decision;
            decision.handled = true;
            decision.stopSlideshow = keyStopsSlideshow(input.key);
            const KeyBinding* binding = findKeyBinding(input.key);
            if (binding && (!binding->onlyInFullScreen || situation.fullScreen))
                decision.command = binding->command;
            return decision;
        }
        case Input::Kind::ButtonPress:
            return left ? zoomDecision(ZoomStep::Op::BeginDrag, true) : InputDecision{};
        case Input::Kind::ButtonDoubleClick:
            return left ? zoomDecision(ZoomStep::Op::Toggle, false) : InputDecision{};
        case Input::Kind::ButtonRelease:
            // Released anywhere, the drag ends: the grab delivers the release even when the
            // cursor has left the window.
            return left ? zoomDecision(ZoomStep::Op::EndDrag, false) : InputDecision{};
        case Input::Kind::Move:
            return situation.dragging ? zoomDecision(ZoomStep::Op::DragTo, true) : InputDecision{};
        case Input::Kind::Wheel:
            // Only the vertical wheel zooms, one step per event whatever its size; a sideways
            // scroll, a tilted wheel or a touchpad's sideways swipe does nothing at all.
            if (input.wheelDelta == 0)
                return {};
            return zoomDecision(input.wheelDelta > 0 ? ZoomStep::Op::In : ZoomStep::Op::Out, true);
    }
    return {};
}

int pinchSteps(double& carried, double scaleChange) {
    // The zoom runs from 1 to 20 in 95 steps: a wild scale from a driver takes no more.
    constexpr double kMostSteps = 100;
    carried = std::clamp(carried + scaleChange, -kMostSteps * kPinchStep, kMostSteps * kPinchStep);
    int steps = 0;
    while (std::abs(carried) >= kPinchStep) {
        const int sign = carried > 0 ? 1 : -1;
        carried -= sign * kPinchStep;
        steps += sign;
    }
    return steps;
}
