#pragma once

#include <QMargins>
#include <QRect>
#include <Qt>

#include <optional>
#include <vector>

#include "app/window_rect.h"

struct WindowState;

// Where a stored frame of positive size opens on screens with the given available areas, the
// primary screen's first. The stored numbers may be anything a file held, so the frame is made
// no larger than the largest area along each axis (a window, and its buffers, of the stored
// size could take the process past memory) and, unless its title bar can be grabbed (its top
// rows and a fair part of its width lie on one area), moved fully onto the area it overlaps
// most, or to the primary area's top-left corner when it overlaps none. Without any area the
// frame is kept.
WindowRect fitOnScreens(const WindowRect& stored, const std::vector<QRect>& areas);

class QWidget;

// Where a top-level window is as the user sees it: its frame, title bar and borders included.
// The frame is what is stored and placed, so a window closed in full screen comes back with
// its title bar on the screen. The window system only tells the frame's margins once it has
// framed the window, so a frame placed before then is placed again when they are known.
class WindowPlacement {
  public:
    // minimumFrame is the smallest frame the window may have.
    WindowPlacement(QWidget& window, QSize minimumFrame);

    WindowRect frameRect() const;
    void place(const QRect& frame);
    // Places a stored frame where the screens can show it (fitOnScreens); returns where it went.
    WindowRect restore(const WindowRect& stored);
    // Gives the window its smallest frame, where the window system places it; the client
    // area is sized again once the frame's margins are known (see settle).
    void sizeToMinimum();
    // Places a frame asked for before the window was framed again, now that its margins are
    // known; a window maximised, minimised or full screen keeps it for its first restore.
    void settle();
    bool settling() const { return placed_.has_value() || sized_.has_value(); }

    // Keeps the frame of a window in its normal placement (neither minimised, maximised nor
    // full screen) as the state's normal rectangle; returns whether it is in one.
    bool noteNormal(WindowState& state) const;

    // Full screen covers the primary screen; leaving it gives the client area back exactly,
    // its frame around it where it was. Keeps the state's record of the mode.
    void toggleFullScreen(WindowState& state);
    // The window has moved: a full screen waiting for it to reach the primary screen goes on.
    void moved();

  private:
    void noteMargins();
    void askFullScreen();

    // How long full screen waits for a maximised window to reach the primary screen.
    static constexpr int kMoveWaitMs = 500;

    QWidget& window_;
    QSize minimumFrame_;
    QMargins margins_;
    std::optional<QRect> placed_;
    std::optional<QSize> sized_;
    // The window before full screen: the one record of it.
    QRect frameBeforeFullScreen_;
    QRect clientBeforeFullScreen_;
    Qt::WindowStates stateBeforeFullScreen_;
    bool fullScreenWaits_ = false;
};
