#include "app/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdint>

#include "app/viewer_state.h"

namespace {

WindowRect toWindowRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect toQRect(const WindowRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// The frame's top rows, where its title bar is, and how much of its width must be on a screen
// for the title bar to be grabbed (all of a narrower frame).
constexpr int64_t kGrabHeight = 20;
constexpr int64_t kGrabWidth = 100;

// A frame in 64 bits: the stored corners may be anywhere in int32, and their differences need
// not fit it.
struct Frame {
    int64_t left = 0;
    int64_t top = 0;
    int64_t width = 0;
    int64_t height = 0;
};

int64_t overlap(int64_t from, int64_t length, int64_t areaFrom, int64_t areaLength) {
    return std::max<int64_t>(
        0, std::min(from + length, areaFrom + areaLength) - std::max(from, areaFrom));
}

bool grabbable(const Frame& frame, const QRect& area) {
    const int64_t strip = std::min(frame.height, kGrabHeight);
    const int64_t needed = std::min(frame.width, std::max(kGrabWidth, frame.width / 4));
    return frame.top >= area.top() && frame.top + strip <= int64_t{area.top()} + area.height() &&
           overlap(frame.left, frame.width, area.left(), area.width()) >= needed;
}

int64_t sharedArea(const Frame& frame, const QRect& area) {
    return overlap(frame.left, frame.width, area.left(), area.width()) *
           overlap(frame.top, frame.height, area.top(), area.height());
}

// The start that puts a span inside the area's, or the area's start when it is longer.
int64_t startWithin(int64_t start, int64_t length, int64_t areaFrom, int64_t areaLength) {
    return std::max(areaFrom, std::min(start, areaFrom + areaLength - length));
}

void boundSize(Frame& frame, const std::vector<QRect>& areas) {
    int64_t widest = 0;
    int64_t tallest = 0;
    for (const QRect& area : areas) {
        widest = std::max<int64_t>(widest, area.width());
        tallest = std::max<int64_t>(tallest, area.height());
    }
    frame.width = std::min(frame.width, widest);
    frame.height = std::min(frame.height, tallest);
}

// Fully onto the area the frame overlaps most (the primary one on a tie), or to the primary
// area's top-left corner when it overlaps none, as a monitor unplugged since the last run leaves
// it.
void moveOnto(Frame& frame, const std::vector<QRect>& areas) {
    const auto most =
        std::max_element(areas.begin(), areas.end(), [&](const QRect& a, const QRect& b) {
            return sharedArea(frame, a) < sharedArea(frame, b);
        });
    if (sharedArea(frame, *most) == 0) {
        frame.left = areas.front().left();
        frame.top = areas.front().top();
        return;
    }
    frame.left = startWithin(frame.left, frame.width, most->left(), most->width());
    frame.top = startWithin(frame.top, frame.height, most->top(), most->height());
}

// The available areas of the screens, the primary one's first.
std::vector<QRect> availableAreas() {
    std::vector<QRect> areas;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        areas.push_back(primary->availableGeometry());
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != primary)
            areas.push_back(screen->availableGeometry());
    }
    return areas;
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
    window_.resize(frame.size().shrunkBy(margins_));
    window_.move(frame.topLeft());  // a window's position is its frame's
    placed_ = frame;
}

WindowRect fitOnScreens(const WindowRect& stored, const std::vector<QRect>& areas) {
    if (areas.empty())
        return stored;
    Frame frame{stored.left, stored.top, int64_t{stored.right} - stored.left,
                int64_t{stored.bottom} - stored.top};
    boundSize(frame, areas);
    if (std::none_of(areas.begin(), areas.end(),
                     [&](const QRect& area) { return grabbable(frame, area); }))
        moveOnto(frame, areas);
    // Every corner now lies within a screen's size of an area, well inside int32.
    return {static_cast<int32_t>(frame.left), static_cast<int32_t>(frame.top),
            static_cast<int32_t>(frame.left + frame.width),
            static_cast<int32_t>(frame.top + frame.height)};
}

WindowRect WindowPlacement::restore(const WindowRect& stored) {
    const WindowRect fitted = fitOnScreens(stored, availableAreas());
    place(toQRect(fitted));
    return fitted;
}

void WindowPlacement::sizeToMinimum() {
    noteMargins();
    window_.resize(minimumFrame_.shrunkBy(margins_));
    sized_ = minimumFrame_;
}

void WindowPlacement::settle() {
    noteMargins();
    if (!settling() || (window_.windowState() &
                        (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
        return;
    if (placed_ && window_.frameGeometry() != *placed_)
        place(*placed_);
    else if (sized_ && window_.frameGeometry().size() != *sized_)
        window_.resize(sized_->shrunkBy(margins_));
    placed_.reset();
    sized_.reset();
}

bool WindowPlacement::noteNormal(WindowState& state) const {
    if (state.isFullScreen || (window_.windowState() &
                               (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)))
        return false;
    state.normalWindowRect = frameRect();
    return true;
}

void WindowPlacement::toggleFullScreen(WindowState& state) {
    if (state.isFullScreen) {
        fullScreenWaits_ = false;
        // A maximised window goes back to the screen it was maximised on, which need not be
        // the primary.
        if (stateBeforeFullScreen_ & Qt::WindowMaximized)
            window_.move(frameBeforeFullScreen_.topLeft());
        window_.setWindowState(stateBeforeFullScreen_);
        if (!(stateBeforeFullScreen_ & Qt::WindowMaximized))
            window_.setGeometry(clientBeforeFullScreen_);
        state.isFullScreen = 0;
        return;
    }
    // Set before the window changes, so the size and move handlers leave the normal
    // rectangle alone.
    state.isFullScreen = 1;
    frameBeforeFullScreen_ = window_.frameGeometry();
    stateBeforeFullScreen_ = window_.windowState();
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
