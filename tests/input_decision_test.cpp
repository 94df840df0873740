// The input map decides without a window: what each input does in each situation.
#include <gtest/gtest.h>

#include "commands/input_map.h"

namespace {

Input of(Input::Kind kind) {
    Input input;
    input.kind = kind;
    return input;
}

Input key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    Input input = of(Input::Kind::Key);
    input.key = code;
    input.modifiers = modifiers;
    return input;
}

Input button(Input::Kind kind, Qt::MouseButton which = Qt::LeftButton) {
    Input input = of(kind);
    input.button = which;
    return input;
}

TEST(InputMap, KeysRunTheirCommandsWhateverTheModifiers) {
    const InputDecision r =
        decideInput(key(Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier), {});
    EXPECT_TRUE(r.handled && r.stopSlideshow);
    EXPECT_EQ(r.command, ID_ROTATE_RIGHT);
    EXPECT_FALSE(r.zoom);
    // Esc leaves full screen and does nothing else; S keeps the slideshow to toggle it.
    EXPECT_EQ(decideInput(key(Qt::Key_Escape), {}).command, ID_NONE);
    EXPECT_EQ(decideInput(key(Qt::Key_Escape), {.fullScreen = true}).command,
              ID_FULL_SCREEN_TOGGLE);
    EXPECT_FALSE(decideInput(key(Qt::Key_S), {}).stopSlideshow);
    const InputDecision unbound = decideInput(key(Qt::Key_Space), {});
    EXPECT_TRUE(unbound.stopSlideshow);
    EXPECT_EQ(unbound.command, ID_NONE);
}

// Alt belongs to the window manager, alone or combined; AltGr is a key of the layout.
TEST(InputMap, AltCombinationsDoNothingAtAll) {
    for (const int code : {Qt::Key_F, Qt::Key_Delete, Qt::Key_Left, Qt::Key_Alt}) {
        const InputDecision alt = decideInput(key(code, Qt::AltModifier), {});
        EXPECT_FALSE(alt.handled || alt.stopSlideshow || alt.command != ID_NONE) << code;
    }
    EXPECT_FALSE(decideInput(key(Qt::Key_Alt), {}).stopSlideshow);
    EXPECT_EQ(decideInput(key(Qt::Key_Left, Qt::GroupSwitchModifier), {}).command, ID_PREVIOUS);
}

TEST(InputMap, TheLeftButtonDragsAndToggles) {
    const InputDecision press = decideInput(button(Input::Kind::ButtonPress), {});
    EXPECT_EQ(press.zoom, ZoomStep::Op::BeginDrag);
    EXPECT_TRUE(press.stopSlideshow);
    EXPECT_FALSE(press.redraw);
    EXPECT_FALSE(decideInput(of(Input::Kind::Move), {}).handled);
    const InputDecision drag = decideInput(of(Input::Kind::Move), {.dragging = true});
    EXPECT_EQ(drag.zoom, ZoomStep::Op::DragTo);
    EXPECT_TRUE(drag.redraw && drag.stopSlideshow);
    EXPECT_EQ(decideInput(button(Input::Kind::ButtonRelease), {.dragging = true}).zoom,
              ZoomStep::Op::EndDrag);
    const InputDecision twice = decideInput(button(Input::Kind::ButtonDoubleClick), {});
    EXPECT_EQ(twice.zoom, ZoomStep::Op::Toggle);
    EXPECT_FALSE(twice.stopSlideshow);
    for (Input::Kind kind :
         {Input::Kind::ButtonPress, Input::Kind::ButtonDoubleClick, Input::Kind::ButtonRelease})
        EXPECT_FALSE(decideInput(button(kind, Qt::RightButton), {}).handled);
}

TEST(InputMap, OnlyTheVerticalWheelZoomsOneStepPerEvent) {
    Input wheel = of(Input::Kind::Wheel);
    wheel.wheelDelta = 1;
    EXPECT_EQ(decideInput(wheel, {}).zoom, ZoomStep::Op::In);
    wheel.wheelDelta = -480;
    EXPECT_EQ(decideInput(wheel, {}).zoom, ZoomStep::Op::Out);
    wheel.wheelDelta = 0;  // sideways
    const InputDecision sideways = decideInput(wheel, {});
    EXPECT_FALSE(sideways.handled || sideways.stopSlideshow);
}

TEST(InputMap, PinchesStepByTheirScaleAndCarryTheRest) {
    double carried = 0;
    EXPECT_EQ(pinchSteps(carried, 0.15), 0);
    EXPECT_EQ(pinchSteps(carried, 0.3), 2);
    EXPECT_NEAR(carried, 0.05, 1e-9);
    EXPECT_EQ(pinchSteps(carried, -0.5), -2);
    // A driver's wild scale is bounded: at most the zoom's whole range, and no hang.
    carried = 0;
    EXPECT_EQ(pinchSteps(carried, 1e300), 100);
    EXPECT_EQ(pinchSteps(carried, -1e300), -100);
}

}  // namespace
