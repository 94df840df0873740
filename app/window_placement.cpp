#include "app/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#include "app/viewer_state.h"

namespace {

WindowRect toWindowRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect toQRect(const WindowRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// A stored rectangle is used as stored unless it lies on no screen at all (a monitor
// unplugged since the last run): then it moves onto the primary screen, keeping its size,
// so the window never opens where nobody can see it.
QRect onSomeScreen(const QRect& stored) {
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->geometry().intersects(stored))
            return stored;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return stored;
    QRect moved = stored;
    moved.moveTopLeft(primary->availableGeometry().topLeft());
    return moved;
}

}  // namespace

WindowPlacement::WindowPlacement(QWidget& window, QSize minimumFrame)
    : window_(window), minimumFrame_(minimumFrame) {
    window_.setMinimumSize(minimumFrame_);
}

WindowRect WindowPlacement::frameRect() const {
    return toWindowRect(window_.frameGeometry());
}

// Notes the frame's margins while the window system shows them: a window in full screen, or
// not framed yet, has none, and a frame placed then takes the last ones seen.
void WindowPlacement::noteMargins() {
    const QRect frame = window_.frameGeometry();
    const QRect client = window_.geometry();
    if (frame == client || window_.isFullScreen())
        return;
    margins_ = QMargins(client.left() - frame.left(), client.top() - frame.top(),
                        frame.right() - client.right(), frame.bottom() - client.bottom());
    window_.setMinimumSize(
        std::max(0, minimumFrame_.width() - margins_.left() - margins_.right()),
        std::max(0, minimumFrame_.height() - margins_.top() - margins_.bottom()));
}

void WindowPlacement::place(const QRect& frame) {
    noteMargins();
    window_.resize(frame.width() - margins_.left() - margins_.right(),
                   frame.height() - margins_.top() - margins_.bottom());
    window_.move(frame.topLeft());  // a window's position is its frame's
    placed_ = frame;
}

WindowRect WindowPlacement::restore(const WindowRect& stored) {
    const QRect frame = onSomeScreen(toQRect(stored));
    place(frame);
    return toWindowRect(frame);
}

void WindowPlacement::settle() {
    noteMargins();
    if (!placed_ || (window_.windowState() &
                     (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
        return;
    const QRect frame = *placed_;
    if (window_.frameGeometry() != frame)
        place(frame);
    placed_.reset();
}

void WindowPlacement::toggleFullScreen(WindowState& state) {
    if (state.isFullScreen) {
        fullScreenWaits_ = false;
        // A maximised window goes back to the screen it was maximised on, which need not be
        // the primary.
        if (state.styleBeforeFullScreen & Qt::WindowMaximized)
            window_.move(state.rectBeforeFullScreen.left, state.rectBeforeFullScreen.top);
        window_.setWindowState(state.styleBeforeFullScreen);
        if (!(state.styleBeforeFullScreen & Qt::WindowMaximized))
            window_.setGeometry(clientBeforeFullScreen_);
        state.isFullScreen = 0;
        return;
    }
    // Set before the window changes, so the size and move handlers leave the normal
    // rectangle alone.
    state.isFullScreen = 1;
    state.rectBeforeFullScreen = frameRect();
    state.styleBeforeFullScreen = window_.windowState();
    clientBeforeFullScreen_ = window_.geometry();
    // Full screen always covers the primary screen, whichever screen the window is on.
    // Where screens are monitors of one desktop (X11) setScreen moves nothing and the window
    // manager fills the monitor holding the window, so it is moved there first.
    QScreen* primary = QGuiApplication::primaryScreen();
    if (QWindow* handle = window_.windowHandle())
        handle->setScreen(primary);
    if (!primary || primary->geometry().contains(window_.frameGeometry()))
        return askFullScreen();
    const QScreen* holding = QGuiApplication::screenAt(window_.frameGeometry().center());
    const Qt::WindowStates restored =
        window_.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (holding == primary || !holding || restored == window_.windowState()) {
        window_.move(primary->availableGeometry().topLeft());
        return askFullScreen();
    }
    // A maximised window on another monitor stays there whatever it is asked: it is restored
    // first, moved once the window manager has restored it (a move asked before is lost), and
    // asks for full screen once it is on the primary screen, or after a moment whatever the
    // window manager did.
    window_.setWindowState(restored);
    fullScreenWaits_ = true;
    QTimer::singleShot(kMoveWaitMs, &window_, [this] {
        if (fullScreenWaits_)
            askFullScreen();
    });
}

void WindowPlacement::moved() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!fullScreenWaits_ || !primary)
        return;
    if (primary->geometry().contains(window_.frameGeometry()))
        askFullScreen();
    else
        window_.move(primary->availableGeometry().topLeft());
}

void WindowPlacement::askFullScreen() {
    fullScreenWaits_ = false;
    window_.setWindowState((window_.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized)) |
                           Qt::WindowFullScreen);
}
