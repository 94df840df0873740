#include "app/viewer_window.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QNativeGestureEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cmath>
#include <system_error>

#include "app/about_dialog.h"
#include "app/dpi.h"
#include "app/picture_surface.h"
#include "app/pointer_look.h"
#include "app/settings_file.h"
#include "app/step_hold.h"
#include "app/viewer_state.h"
#include "catalogue/folder_scan.h"
#include "catalogue/picture_list.h"
#include "commands/context_menu.h"
#include "commands/key_table.h"
#include "commands/shell_actions.h"
#include "commands/slideshow.h"
#include "platform/keyboard_layout.h"
#include "platform/print_job.h"
#include "render/picture_source.h"
#include "render/prefetcher.h"
#include "render/render_pipeline.h"
#include "resources/product.h"

namespace {

// The dialog template's 467 x 266 dialog units at 96 DPI.
constexpr int kTemplateWidth = 700;
constexpr int kTemplateHeight = 432;
constexpr int kMinimumWidth = 768;
constexpr int kMinimumHeight = 536;
// A picture is printed from the deepest level that holds this: about 340 dots an inch on A4.
constexpr FitArea kPrintArea{4096, 4096};
// How long after the show the first paint runs without waiting for the window to be exposed.
constexpr int kFirstPaintFallbackMs = 400;

constexpr char kTitlePrefix[] = "Quillmere - ";
constexpr char kSlideshowTitle[] = "Quillmere - Running Slideshow";
constexpr char kConfirmCaption[] = "Please Confirm";
constexpr char kConfirmText[] = "This will permanently delete current image. Are you sure?";

WindowRect toWindowRect(const QRect& r) {
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

QRect toQRect(const WindowRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// The path of a dropped URL as the file system's bytes: names that are not valid UTF-8
// survive, which a trip through QString would not guarantee.
std::filesystem::path localFileOf(const QUrl& url) {
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    return std::filesystem::path(QByteArray::fromPercentEncoding(encoded).toStdString());
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

ViewerWindow::ViewerWindow(ViewerOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
    source_ = new PictureSource(options_.prefetcher, this);
    // Printed as the screen shows it after a reload, through the viewer's own decoders.
    setPrintPictureSource([](const std::string& path) {
        return uprightPicture(std::filesystem::path(path), kPrintArea);
    });
    connect(source_, &PictureSource::pictureArrived, this, &ViewerWindow::onPictureArrived);
    connect(source_, &PictureSource::detailArrived, this, [this] {
        if (!viewer.pending.active)
            renderPicture(1, kRotateNone);
    });
    // One window per process: a new one starts from the state a fresh process has.
    viewer = ViewerState{};
    blankTimer_.setSingleShot(true);
    connect(&blankTimer_, &QTimer::timeout, this, [this] {
        // Nothing of the new picture yet: never the old one under the new title any longer.
        if (viewer.pending.active)
            fillBackground(viewer, surface_);
    });
    hold_ = new StepHold(
        kStepWaitMs, [] { return viewer.pending.active; }, this);

    setWindowTitle(QString::fromUtf8(product::kName));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setWindowIcon(QIcon(QString::fromUtf8(product::kIconResource)));
    setMinimumSize(ScaleX(kMinimumWidth), ScaleY(kMinimumHeight));
    resize(kTemplateWidth, kTemplateHeight);

    surface_ = new PictureSurface(this);
    surface_->setGeometry(rect());
    surface_->installEventFilter(this);
    surface_->setMouseTracking(true);
    pointer_ = new PointerLook(surface_);
    installEventFilter(this);
    slideshow_ = new Slideshow(
        [this] {
            showNext();
            return !busy();
        },
        this);
    surface_->setFirstPaintHook([this] { onFirstPaint(); });

    OnInitDialog();
}

ViewerWindow::~ViewerWindow() = default;

void ViewerWindow::OnInitDialog() {
    firstPaintDone_ = 0;
    viewer.normalWindowRect = {200, 200, 768, 536};
    viewer.currentIndex = 0;
    openPicture(viewer, options_.commandLinePath, options_.programFolder);
    viewer.backgroundLevel = kBackgroundGrey;
    viewer.isFullScreen = 0;
    viewer.loadFailed = 0;
    viewer.zoomFactor = 1.0f;
    viewer.panX = 0.0f;
    viewer.panY = 0.0f;
    viewer.isDragging = 0;
    viewer.zoomAnchorX = 0;
    viewer.zoomAnchorY = 0;
    viewer.slideshowRunning = 0;
    loadSettings();
}

void ViewerWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The first picture is decoded and named in the surface's first paint: by then the
    // window system has placed the window (a maximise included), so the picture is fitted
    // once, to the size the user sees. A window that gets no paint (started minimised, or a
    // window system that never exposes it) still has its first paint a little later.
    if (!firstPaintQueued_) {
        firstPaintQueued_ = true;
        QTimer::singleShot(kFirstPaintFallbackMs, this, &ViewerWindow::onFirstPaint);
    }
}

void ViewerWindow::onFirstPaint() {
    if (firstPaintDone_)
        return;
    firstPaintDone_ = 1;
    // By now the window system has framed the window: its frame goes where it was asked to.
    settlePlacedFrame();
    layoutToClientArea();
    if (!viewer.slideshowRunning && !viewer.pictureList.empty())
        setTitleForCurrent();
    renderPicture(0, kRotateNone);
}

void ViewerWindow::layoutPictureControl(int left, int top, int right, int bottom) {
    if (!surface_)
        return;
    surface_->setGeometry(ScaleX(left), ScaleY(top), ScaleX(right), ScaleY(bottom));
    // Laid out from within the surface's first paint, the whole surface is being painted.
    if (!surface_->isPainting())
        surface_->update();
}

void ViewerWindow::layoutToClientArea() {
    const QRect client = rect();
    layoutPictureControl(UnscaleX(client.left()), UnscaleY(client.top()),
                         UnscaleX(client.right() + 1), UnscaleY(client.bottom() + 1));
}

Prefetcher& ViewerWindow::prefetcher() const {
    return source_->prefetcher();
}

QSize ViewerWindow::surfaceSize() const {
    const QImage* pixels = surface_->surfacePixels();
    return pixels ? pixels->size() : QSize();
}

// A reload never waits for a decode: the picture is taken at once when a worker has it
// ready, else the reload stays pending (nothing is drawn, turns wait) until it arrives.
int ViewerWindow::renderPicture(int reload, int rotation) {
    surface_->setFillLevel(viewer.backgroundLevel & 0xFF);
    if (reload != 0 || currentPath(viewer) == nullptr)
        return ::renderPicture(viewer, viewer, surface_, reload, rotation, {}, &source_->detail());
    // The shown picture is freed by a worker, so the step doesn't wait for its memory.
    source_->release(std::move(viewer.currentPicture));
    source_->detail().clear();
    beginPendingReload(viewer, viewer);
    const QSize size = surfaceSize();
    std::optional<PreparedPicture> ready =
        source_->current(viewer, travel_, size.width(), size.height());
    if (!ready) {
        blankTimer_.start(kBlankAfterMs);
        return -1;
    }
    const int result =
        finishPendingReload(viewer, viewer, surface_, std::move(*ready), &source_->detail());
    pictureSettled();
    return result;
}

void ViewerWindow::onPictureArrived(const std::filesystem::path& file) {
    if (viewer.pending.active && viewer.pending.file == file)
        takeIfArrived();
}

// Asks again for the pending picture, for the surface as it is now.
void ViewerWindow::takeIfArrived() {
    const QSize size = surfaceSize();
    std::optional<PreparedPicture> result =
        source_->current(viewer, travel_, size.width(), size.height());
    // Nothing means the file changed since it was read: it is being decoded again.
    if (!result)
        return;
    finishPendingReload(viewer, viewer, surface_, std::move(*result), &source_->detail());
    pictureSettled();
}

// The current picture is drawn or failed: its neighbours decode next, the step waiting for it
// goes on, and the slideshow's pause begins.
void ViewerWindow::pictureSettled() {
    blankTimer_.stop();
    const QSize size = surfaceSize();
    source_->shown(viewer, travel_, size.width(), size.height());
    hold_->release();
    slideshow_->stepSettled();
}

bool ViewerWindow::busy() const {
    return viewer.pending.active || hold_->holding();
}

void ViewerWindow::updatePointer() {
    pointer_->update(viewer.isDragging != 0, viewer.isFullScreen || viewer.slideshowRunning);
}

void ViewerWindow::zoomBy(ZoomStep::Op op) {
    zoomStep(viewer, {op, cursor()});
    renderPicture(1, kRotateNone);
}

void ViewerWindow::setTitleForCurrent() {
    const std::filesystem::path* path = currentPath(viewer);
    if (!path)
        return;
    setWindowTitle(QString::fromUtf8(kTitlePrefix) + QString::fromStdString(titleFileName(*path)));
}

int ViewerWindow::showNext() {
    if (hold_->holdStep([this] { showNext(); }))
        return -1;
    travel_ = 1;
    viewer.zoomFactor = 1.0f;
    stepNext(viewer);
    if (!viewer.slideshowRunning && !viewer.pictureList.empty())
        setTitleForCurrent();
    return renderPicture(0, kRotateNone);
}

int ViewerWindow::showPrevious() {
    if (hold_->holdStep([this] { showPrevious(); }))
        return -1;
    travel_ = -1;
    viewer.zoomFactor = 1.0f;
    stepPrevious(viewer);
    if (!viewer.slideshowRunning && !viewer.pictureList.empty())
        setTitleForCurrent();
    return renderPicture(0, kRotateNone);
}

void ViewerWindow::toggleBackground() {
    viewer.backgroundLevel =
        viewer.backgroundLevel == kBackgroundBlack ? kBackgroundGrey : kBackgroundBlack;
    renderPicture(1, kRotateNone);
}

void ViewerWindow::toggleFullScreen() {
    zoomStep(viewer, {ZoomStep::Op::Reset, std::nullopt});
    if (!viewer.isFullScreen) {
        // Set before the window changes, so the size and move handlers leave the normal
        // rectangle alone.
        viewer.isFullScreen = 1;
        viewer.rectBeforeFullScreen = windowRect();
        clientBeforeFullScreen_ = geometry();
        viewer.styleBeforeFullScreen = windowState();
        // Full screen always covers the primary screen, whichever screen the window is on.
        // Where screens are monitors of one desktop (X11) setScreen moves nothing and the
        // window manager fills the monitor holding the window, so it is moved there first.
        QScreen* primary = QGuiApplication::primaryScreen();
        if (QWindow* handle = windowHandle())
            handle->setScreen(primary);
        if (primary && !primary->geometry().contains(frameGeometry()))
            move(primary->availableGeometry().topLeft());
        setWindowState((windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized)) |
                       Qt::WindowFullScreen);
        viewer.backgroundLevel = kBackgroundBlack;
    } else {
        // A maximised window goes back to the screen it was maximised on, which need not be
        // the primary.
        if (viewer.styleBeforeFullScreen & Qt::WindowMaximized)
            move(viewer.rectBeforeFullScreen.left, viewer.rectBeforeFullScreen.top);
        setWindowState(viewer.styleBeforeFullScreen);
        // The client area it had: its frame comes back around it, where it was.
        if (!(viewer.styleBeforeFullScreen & Qt::WindowMaximized))
            setGeometry(clientBeforeFullScreen_);
        viewer.backgroundLevel = kBackgroundGrey;
        viewer.isFullScreen = 0;
    }
    updatePointer();
    renderPicture(1, kRotateNone);
}

void ViewerWindow::startSlideshow() {
    if (viewer.pictureList.empty())
        return;
    viewer.slideshowRunning = 1;
    slideshow_->start();
    updatePointer();
    setWindowTitle(QString::fromUtf8(kSlideshowTitle));
}

void ViewerWindow::stopSlideshow() {
    // A show that runs on a list a drop has emptied must still stop; only the title needs
    // a picture to name.
    if (!viewer.slideshowRunning)
        return;
    viewer.slideshowRunning = 0;
    slideshow_->stop();
    updatePointer();
    if (!viewer.pictureList.empty())
        setTitleForCurrent();
}

void ViewerWindow::toggleSlideshow() {
    if (viewer.slideshowRunning)
        stopSlideshow();
    else
        startSlideshow();
}

void ViewerWindow::deleteCurrentPicture() {
    const std::filesystem::path* path = currentPath(viewer);
    if (!path)
        return;
    QMessageBox box(QMessageBox::Question, QString::fromUtf8(kConfirmCaption),
                    QString::fromUtf8(kConfirmText), QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes)
        return;
    // Only a file is ever removed: an empty folder that took the file's name since the
    // listing stays where it is.
    source_->forget(*path);
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(*path, error)))
        std::filesystem::remove(*path, error);
    removeCurrentEntry(viewer);
    if (!viewer.slideshowRunning && !viewer.pictureList.empty())
        setTitleForCurrent();
    renderPicture(0, kRotateNone);
}

void ViewerWindow::openDroppedFile(const std::filesystem::path& file) {
    // A dropped file that is not among its folder's pictures leaves the index as it was; only
    // an index outside the new list goes to the first picture, so it always lies in the list.
    source_->clear();
    openPicture(viewer, file, options_.programFolder);
    if (currentPath(viewer) == nullptr)
        viewer.currentIndex = 0;
    viewer.zoomFactor = 1.0f;
    if (!viewer.slideshowRunning) {
        if (viewer.pictureList.empty())
            setWindowTitle(QString::fromUtf8(product::kName));
        else
            setTitleForCurrent();
    }
    renderPicture(0, kRotateNone);
}

void ViewerWindow::runCommand(CommandId command) {
    switch (command) {
        case ID_FULL_SCREEN_TOGGLE:
            toggleFullScreen();
            break;
        case ID_ROTATE_LEFT:
            renderPicture(1, kRotateLeft);
            break;
        case ID_ROTATE_RIGHT:
            renderPicture(1, kRotateRight);
            break;
        case ID_NEXT:
            showNext();
            break;
        case ID_PREVIOUS:
            showPrevious();
            break;
        case ID_ZOOM_IN:
            zoomBy(ZoomStep::Op::In);
            break;
        case ID_ZOOM_OUT:
            zoomBy(ZoomStep::Op::Out);
            break;
        case ID_DELETE:
            deleteCurrentPicture();
            break;
        case ID_OPEN_WITH:
            openWith(viewer);
            break;
        case ID_SLIDESHOW_TOGGLE:
            toggleSlideshow();
            break;
        case ID_BG_COLOR_TOGGLE:
            toggleBackground();
            break;
        case ID_PROPERTIES:
            showProperties(viewer);
            break;
        case ID_PRINT:
            printPicture(viewer);
            break;
        case ID_WEBSITE:
            openWebSite(viewer);
            break;
        case ID_ABOUT: {
            AboutDialog about(this);
            about.exec();
            break;
        }
        case ID_NONE:
            break;
    }
}

std::optional<CursorPos> ViewerWindow::cursor() const {
    const QPoint p = surface_->cursorDevicePos();
    return CursorPos{p.x(), p.y()};
}

// The window rectangle is the frame's, title bar and borders included, in screen pixels:
// what the user sees and grabs, so a window closed in full screen comes back with its title
// bar on the screen.
WindowRect ViewerWindow::windowRect() const {
    return toWindowRect(frameGeometry());
}

// Notes the frame's margins while the window system shows them: a window in full screen, or
// not framed yet, has none, and a frame placed then takes the last ones seen.
void ViewerWindow::noteFrameMargins() {
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (frame == client || isFullScreen())
        return;
    frameMargins_ = QMargins(client.left() - frame.left(), client.top() - frame.top(),
                             frame.right() - client.right(), frame.bottom() - client.bottom());
    // The smallest window is the smallest frame.
    setMinimumSize(
        std::max(0, ScaleX(kMinimumWidth) - frameMargins_.left() - frameMargins_.right()),
        std::max(0, ScaleY(kMinimumHeight) - frameMargins_.top() - frameMargins_.bottom()));
}

// Places the window so that its frame covers frame. Before the window system has framed the
// window its margins are not known: the frame is placed again once they are (placedFrame_).
void ViewerWindow::placeFrame(const QRect& frame) {
    noteFrameMargins();
    const QMargins& m = frameMargins_;
    resize(frame.width() - m.left() - m.right(), frame.height() - m.top() - m.bottom());
    move(frame.topLeft());  // a window's position is its frame's
    placedFrame_ = frame;
}

// A window started maximised is settled when it is first restored.
void ViewerWindow::settlePlacedFrame() {
    noteFrameMargins();
    if (!placedFrame_ ||
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)))
        return;
    const QRect frame = *placedFrame_;
    placedFrame_.reset();
    if (frameGeometry() != frame)
        placeFrame(frame);
    placedFrame_.reset();
}

bool ViewerWindow::isNormalPlacement() const {
    // Until the first paint the window is still being placed by the settings and shown by the
    // window system, which may pass through a normal state on its way to maximised; the
    // settings record their own rectangle.
    if (!firstPaintDone_ || viewer.isFullScreen)
        return false;
    return !(windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen));
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == this || watched == surface_) && !hold_->holdInput(watched, event))
        handleInput(event);
    // The pre-filter never consumes: every event goes on to its normal handler.
    return false;
}

bool ViewerWindow::handleInput(QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress: {
            const auto* press = static_cast<QKeyEvent*>(event);
            const int key = bindingKey(press->key(), usLetterAtScanCode(press->nativeScanCode()));
            if (keyStopsSlideshow(key))
                stopSlideshow();
            const KeyBinding* binding = findKeyBinding(key);
            if (binding && (!binding->onlyInFullScreen || viewer.isFullScreen))
                runCommand(binding->command);
            return true;
        }
        case QEvent::MouseButtonPress:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
                return false;
            stopSlideshow();
            zoomStep(viewer, {ZoomStep::Op::BeginDrag, cursor()});
            updatePointer();
            return true;
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
                return false;
            zoomBy(ZoomStep::Op::Toggle);
            return true;
        case QEvent::MouseButtonRelease:
            // Released anywhere, the drag ends: the grab delivers the release here even when
            // the cursor has left the window.
            if (static_cast<QMouseEvent*>(event)->button() != Qt::LeftButton)
                return false;
            zoomStep(viewer, {ZoomStep::Op::EndDrag, std::nullopt});
            updatePointer();
            return true;
        case QEvent::MouseMove:
            pointer_->moved();
            if (!viewer.isDragging)
                return false;
            stopSlideshow();
            zoomBy(ZoomStep::Op::DragTo);
            return true;
        case QEvent::Wheel: {
            // Only the vertical wheel zooms: a sideways scroll, a tilted wheel or a touchpad's
            // sideways swipe does nothing at all.
            const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
            if (delta == 0)
                return false;
            stopSlideshow();
            // One step per event whatever its size, forward zooming in.
            zoomBy(delta > 0 ? ZoomStep::Op::In : ZoomStep::Op::Out);
            return true;
        }
        case QEvent::NativeGesture:
            return pinch(static_cast<QNativeGestureEvent*>(event));
        default:
            return false;
    }
}

// A touchpad pinch zooms in the wheel's steps, one for each kPinchStep of scale the fingers
// have added or taken away, about the point between them.
bool ViewerWindow::pinch(QNativeGestureEvent* gesture) {
    if (gesture->gestureType() == Qt::BeginNativeGesture ||
        gesture->gestureType() == Qt::EndNativeGesture) {
        pinchScale_ = 0.0;
        return false;
    }
    if (gesture->gestureType() != Qt::ZoomNativeGesture)
        return false;
    stopSlideshow();
    pinchScale_ += gesture->value();
    const QPointF at = surface_->mapFrom(this, mapFromGlobal(gesture->globalPosition()));
    const qreal ratio = surface_->devicePixelRatioF();
    const CursorPos centre{static_cast<int32_t>(std::floor(at.x() * ratio)),
                           static_cast<int32_t>(std::floor(at.y() * ratio))};
    while (std::abs(pinchScale_) >= kPinchStep) {
        const bool in = pinchScale_ > 0;
        pinchScale_ -= in ? kPinchStep : -kPinchStep;
        zoomStep(viewer, {in ? ZoomStep::Op::In : ZoomStep::Op::Out, centre});
        renderPicture(1, kRotateNone);
    }
    return true;
}

void ViewerWindow::keyPressEvent(QKeyEvent* event) {
    // Keys were acted on by the pre-filter; the dialog's own Enter and Esc handling must
    // not end the window.
    event->accept();
}

void ViewerWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    onSizeChanged();
}

void ViewerWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    // Minimising changes no widget size here, but it is a size change all the same.
    if (event->type() == QEvent::WindowStateChange && isMinimized())
        stopSlideshow();
    // The restored geometry comes after the change of state.
    if (event->type() == QEvent::WindowStateChange && placedFrame_ && firstPaintDone_)
        QTimer::singleShot(0, this, &ViewerWindow::settlePlacedFrame);
}

void ViewerWindow::onSizeChanged() {
    stopSlideshow();
    if (isNormalPlacement())
        viewer.normalWindowRect = windowRect();
    if (firstPaintDone_) {
        layoutToClientArea();
        zoomStep(viewer, {ZoomStep::Op::Reset, std::nullopt});
        renderPicture(1, kRotateNone);
        // Pictures fitted ahead for the old size are fitted again for the new one.
        if (viewer.pending.active)
            takeIfArrived();
        else
            source_->shown(viewer, travel_, surfaceSize().width(), surfaceSize().height());
    } else {
        // Before the first paint nothing is drawn, but the surface still covers the window.
        surface_->setGeometry(rect());
    }
}

void ViewerWindow::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (!isNormalPlacement())
        return;
    viewer.normalWindowRect = windowRect();
    if (firstPaintDone_)
        renderPicture(1, kRotateNone);
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
    const WindowRect rect = windowRect();
    stopSlideshow();
    const Qt::WindowStates state = windowState();
    if (!(state & Qt::WindowMinimized)) {
        if (state & Qt::WindowMaximized)
            saveSettings(viewer.normalWindowRect, 1, viewer.backgroundLevel);
        else
            saveSettings(rect, 0, viewer.backgroundLevel);
    }
    event->accept();
    done(QDialog::Rejected);
}

void ViewerWindow::contextMenuEvent(QContextMenuEvent* event) {
    stopSlideshow();
    QMenu menu(this);
    menu.setTitle(QString::fromUtf8(kContextMenuTitle));
    for (const MenuItem& item : contextMenuItems()) {
        if (item.command == ID_NONE) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(QString::fromUtf8(item.text));
        const CommandId command = item.command;
        connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
    }
    menu.exec(event->globalPos());
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            openDroppedFile(localFileOf(url));
            return;
        }
    }
}

void ViewerWindow::loadSettings() {
    const SettingsLoad loaded = loadSettingsFile(options_.settingsFile);
    if (loaded.placement) {
        const QRect frame = onSomeScreen(toQRect(*loaded.placement));
        placeFrame(frame);
        viewer.normalWindowRect = toWindowRect(frame);
    }
    if (loaded.maximise)
        setWindowState(windowState() | Qt::WindowMaximized);
    viewer.backgroundLevel = loaded.backgroundLevel;
}

void ViewerWindow::saveSettings(const WindowRect& rect, int maximised, int background) {
    saveSettingsFile(options_.settingsFile, SettingsRecord{rect.left, rect.top, rect.right,
                                                           rect.bottom, maximised, background});
}
