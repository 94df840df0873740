#pragma once

#include <cstdint>

// Identifiers of the viewer's commands. The values are those of the context menu's items, so
// that the same identifier reaches the same handler from a key or a menu item.
enum CommandId : int32_t {
    ID_NONE = 0,
    ID_ABOUT = 16,
    ID_FULL_SCREEN_TOGGLE = 32776,
    ID_DELETE = 32777,
    ID_NEXT = 32778,
    ID_PREVIOUS = 32779,
    ID_ZOOM_IN = 32780,
    ID_ZOOM_OUT = 32781,
    ID_ROTATE_LEFT = 32782,
    ID_ROTATE_RIGHT = 32783,
    ID_OPEN_WITH = 32784,
    ID_SLIDESHOW_TOGGLE = 32785,
    ID_BG_COLOR_TOGGLE = 32786,
    ID_PROPERTIES = 32792,
    ID_WEBSITE = 32795,
    ID_PRINT = 32796,
};

// Resource number of the context menu.
inline constexpr int32_t IDR_CONTEXT_MENU = 130;
