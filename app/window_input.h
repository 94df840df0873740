#pragma once

#include <QPoint>

#include <filesystem>
#include <functional>
#include <optional>

#include "commands/command_ids.h"
#include "commands/input_map.h"

class QEvent;
class QNativeGestureEvent;
class QMimeData;
class QWidget;

// The input an event brings, or nothing for an event the input map has no say in. A key is
// given as its binding key, so a layout of another script stands for the US letters.
std::optional<Input> inputOf(const QEvent* event);

// The zoom steps a touchpad gesture takes (signed, in first) about a point of the screen,
// when it is a pinch's; carried keeps the scale not yet spent since the pinch began.
struct PinchZoom {
    int steps = 0;
    QPointF at;
};
std::optional<PinchZoom> pinchZoomOf(const QNativeGestureEvent& gesture, double& carried);

// The first local file of a drop, as the file system's bytes: names that are not valid UTF-8
// survive, which a trip through QString would not guarantee.
std::optional<std::filesystem::path> droppedFile(const QMimeData& data);

// Shows the context menu at a point of the screen until it closes; the item chosen runs its
// command through run.
void popUpContextMenu(QWidget* parent, QPoint at, const std::function<void(CommandId)>& run);
