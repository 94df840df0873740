#pragma once

#include <span>

#include "commands/command_ids.h"

// One row of the context menu; a row with command ID_NONE is a separator.
struct MenuItem {
    CommandId command = ID_NONE;
    const char* text = nullptr;
};

// The context menu, top to bottom: the command table's items and separators.
std::span<const MenuItem> contextMenuItems();

// Title of the popup; it never shows.
inline constexpr char kContextMenuTitle[] = "Menu";
