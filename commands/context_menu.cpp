#include "commands/context_menu.h"

#include <array>

#include "resources/product.h"

namespace {

constexpr MenuItem kSeparator{ID_NONE, nullptr};

constexpr std::array<MenuItem, 23> kContextMenu{{
    {ID_FULL_SCREEN_TOGGLE, "Full Screen Toggle  ( F )"},
    kSeparator,
    {ID_ROTATE_LEFT, "Rotate Left  ( L )"},
    {ID_ROTATE_RIGHT, "Rotate Right  ( R )"},
    kSeparator,
    {ID_NEXT, "Next  ( Right )"},
    {ID_PREVIOUS, "Previous  ( Left )"},
    kSeparator,
    {ID_ZOOM_IN, "Zoom In  ( Up )"},
    {ID_ZOOM_OUT, "Zoom Out  ( Down )"},
    kSeparator,
    {ID_DELETE, "Delete  ( del )"},
    {ID_OPEN_WITH, "Open With...  ( O )"},
    kSeparator,
    {ID_SLIDESHOW_TOGGLE, "Slideshow Toggle ( S )"},
    {ID_BG_COLOR_TOGGLE, "BG Color Toggle  ( C )"},
    kSeparator,
    {ID_PROPERTIES, "Properties  ( P )"},
    {ID_PRINT, "Print"},
    kSeparator,
    {ID_WEBSITE, "Website"},
    kSeparator,
    {ID_ABOUT, product::kAboutMenuText},
}};

}  // namespace

std::span<const MenuItem> contextMenuItems() {
    return kContextMenu;
}
