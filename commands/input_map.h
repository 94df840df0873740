#pragma once

#include <Qt>

#include <optional>

#include "commands/command_ids.h"
#include "render/geometry/zoom.h"

// One input as the window received it. key is the binding key (see bindingKey), so a layout
// of another script has already been mapped to the US letters.
struct Input {
    enum class Kind : uint8_t {
        Key,
        ButtonPress,
        ButtonDoubleClick,
        ButtonRelease,
        Move,
        Wheel,
    };
    Kind kind = Kind::Key;
    int key = 0;
    Qt::KeyboardModifiers modifiers;
    Qt::MouseButton button = Qt::NoButton;
    int wheelDelta = 0;  // vertical angle delta; a sideways scroll has none
};

// What the viewer is doing when an input comes.
struct InputSituation {
    bool fullScreen = false;
    bool dragging = false;
};

// What an input does, in the order the window carries it out: stop the slideshow, run the
// command, take the zoom step (drawing when it changes the view).
struct InputDecision {
    bool handled = false;
    bool stopSlideshow = false;
    CommandId command = ID_NONE;
    std::optional<ZoomStep::Op> zoom;
    // A drag beginning or ending changes the pointer's look but not the view.
    bool redraw = false;
};

// Alt, alone or with another key, does nothing at all: its combinations are the window
// manager's. Any other modifier leaves a key's binding as it is.
InputDecision decideInput(const Input& input, const InputSituation& situation);

// A touchpad pinch zooms one step for each kPinchStep of scale the fingers add or take away.
// carried keeps the scale not yet spent; the result is the signed number of steps, in first.
inline constexpr double kPinchStep = 0.2;
int pinchSteps(double& carried, double scaleChange);
