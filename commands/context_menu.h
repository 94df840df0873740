#pragma once

#include <span>

#include "commands/command_ids.h"

// One row of the context menu; a row with command ID_NONE is a separator.
struct MenuItem {
    CommandId command;
    const char* text;
};

// The context menu, top to bottom. The About item comes last after a separator, since no
// window system here lets a program add it to the window menu.
std::span<const MenuItem> contextMenuItems();

// Title of the popup; it never shows.
inline constexpr char kContextMenuTitle[] = "Menu";
