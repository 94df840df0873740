#pragma once

#include <Qt>

#include <array>

#include "commands/command_ids.h"
#include "resources/product.h"

// The operations the commands run, one each; the viewer window carries them out.
class CommandTarget {
  public:
    virtual void toggleFullScreen() = 0;
    virtual void rotateLeft() = 0;
    virtual void rotateRight() = 0;
    virtual void showNext() = 0;
    virtual void showPrevious() = 0;
    virtual void zoomIn() = 0;
    virtual void zoomOut() = 0;
    virtual void deleteCurrentPicture() = 0;
    virtual void openWith() = 0;
    virtual void toggleSlideshow() = 0;
    virtual void toggleBackground() = 0;
    virtual void showProperties() = 0;
    virtual void printPicture() = 0;
    virtual void openWebSite() = 0;
    virtual void showAbout() = 0;

  protected:
    ~CommandTarget() = default;
};

// One command of the viewer: what runs it, how the user reaches it, and what reaching it by
// its key does to a running slideshow. The key table, the context menu and the dispatch are
// all read from kCommands.
struct Command {
    CommandId id = ID_NONE;
    void (CommandTarget::*run)() = nullptr;
    // Its item in the context menu, which lists every command in the table's order.
    const char* menuText = nullptr;
    bool separatorBefore = false;
    // Its key (0 for none) and a key that runs it only in full screen: Esc leaves full screen
    // but does nothing outside it.
    int key = 0;
    int fullScreenKey = 0;
    // Whether its key stops a running slideshow before the command runs; a key with no
    // command always does. The menu's items never do: opening the menu has stopped the show.
    bool keyStopsSlideshow = true;
};

inline constexpr std::array<Command, 15> kCommands{{
    {.id = ID_FULL_SCREEN_TOGGLE,
     .run = &CommandTarget::toggleFullScreen,
     .menuText = "Full Screen Toggle  ( F )",
     .key = Qt::Key_F,
     .fullScreenKey = Qt::Key_Escape},
    {.id = ID_ROTATE_LEFT,
     .run = &CommandTarget::rotateLeft,
     .menuText = "Rotate Left  ( L )",
     .separatorBefore = true,
     .key = Qt::Key_L},
    {.id = ID_ROTATE_RIGHT,
     .run = &CommandTarget::rotateRight,
     .menuText = "Rotate Right  ( R )",
     .key = Qt::Key_R},
    {.id = ID_NEXT,
     .run = &CommandTarget::showNext,
     .menuText = "Next  ( Right )",
     .separatorBefore = true,
     .key = Qt::Key_Right},
    {.id = ID_PREVIOUS,
     .run = &CommandTarget::showPrevious,
     .menuText = "Previous  ( Left )",
     .key = Qt::Key_Left},
    {.id = ID_ZOOM_IN,
     .run = &CommandTarget::zoomIn,
     .menuText = "Zoom In  ( Up )",
     .separatorBefore = true,
     .key = Qt::Key_Up},
    {.id = ID_ZOOM_OUT,
     .run = &CommandTarget::zoomOut,
     .menuText = "Zoom Out  ( Down )",
     .key = Qt::Key_Down},
    {.id = ID_DELETE,
     .run = &CommandTarget::deleteCurrentPicture,
     .menuText = "Delete  ( del )",
     .separatorBefore = true,
     .key = Qt::Key_Delete},
    {.id = ID_OPEN_WITH,
     .run = &CommandTarget::openWith,
     .menuText = "Open With...  ( O )",
     .key = Qt::Key_O},
    // S toggles the show instead of stopping it first.
    {.id = ID_SLIDESHOW_TOGGLE,
     .run = &CommandTarget::toggleSlideshow,
     .menuText = "Slideshow Toggle ( S )",
     .separatorBefore = true,
     .key = Qt::Key_S,
     .keyStopsSlideshow = false},
    {.id = ID_BG_COLOR_TOGGLE,
     .run = &CommandTarget::toggleBackground,
     .menuText = "BG Color Toggle  ( C )",
     .key = Qt::Key_C},
    {.id = ID_PROPERTIES,
     .run = &CommandTarget::showProperties,
     .menuText = "Properties  ( P )",
     .separatorBefore = true,
     .key = Qt::Key_P},
    // Print and Website have no key.
    {.id = ID_PRINT, .run = &CommandTarget::printPicture, .menuText = "Print"},
    {.id = ID_WEBSITE,
     .run = &CommandTarget::openWebSite,
     .menuText = "Website",
     .separatorBefore = true},
    // No window system here lets a program add About to the window menu: it ends this one.
    {.id = ID_ABOUT,
     .run = &CommandTarget::showAbout,
     .menuText = product::kAboutMenuText,
     .separatorBefore = true},
}};

// The command of an identifier, or nullptr for one the table doesn't hold.
const Command* findCommand(CommandId id);

// Runs a command on the target; an identifier the table doesn't hold does nothing.
void dispatchCommand(CommandTarget& target, CommandId id);
