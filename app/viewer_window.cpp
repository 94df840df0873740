#include "app/viewer_window.h"

#include <QContextMenuEvent>
#include <QDropEvent>
#include <QIcon>
#include <QMimeData>
#include <QNativeGestureEvent>
#include <QTimer>

#include <chrono>

#include "app/delete_confirmation.h"
#include "app/dpi.h"
#include "app/list_keeper.h"
#include "app/picture_surface.h"
#include "app/picture_view.h"
#include "app/pointer_look.h"
#include "app/settings_file.h"
#include "app/step_hold.h"
#include "app/viewer_state.h"
#include "app/window_input.h"
#include "app/window_title.h"
#include "catalogue/picture_list.h"
#include "commands/input_map.h"
#include "commands/slideshow.h"
#include "render/render_pipeline.h"
#include "render/source/picture_source.h"
#include "resources/product.h"

namespace {

// The smallest frame, which a window the settings don't place also starts with.
constexpr int kMinimumWidth = 768;
constexpr int kMinimumHeight = 536;
// How long the first paint waits for the picture still decoding: a screen-sized JPEG's decode
// ends within it when it started with the process; a larger picture shows the background first.
constexpr int kFirstPictureWaitMs = 15;

}  // namespace

ViewerWindow::ViewerWindow(ViewerOptions options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
    setWindowTitle(QString::fromUtf8(product::kName));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    // First: every handler asks it whether a show runs.
    slideshow_ = new Slideshow(
        [this] {
            step(1, true);
            return !busy();
        },
        this);
    placement_ = std::make_unique<WindowPlacement>(
        *this, QSize(ScaleX(kMinimumWidth), ScaleY(kMinimumHeight)));

    surface_ = new PictureSurface(this);
    view_ = new PictureView(surface_, options_.prefetcher, this);
    lists_ = new ListKeeper(options_.catalogue, view_, this);
    connect(lists_, &ListKeeper::currentChanged, this, [this](bool nameEmptyList) {
        updateTitle(nameEmptyList);
        reloadCurrent();
    });
    surface_->setGeometry(rect());
    // Shown once the window is mapped (see setVisible).
    surface_->hide();
    surface_->installEventFilter(this);
    surface_->setMouseTracking(true);
    pointer_ = new PointerLook(surface_);
    installEventFilter(this);
    connect(view_, &PictureView::settled, slideshow_, &Slideshow::stepSettled);
    surface_->setFirstPaintHook([this] { onFirstPaint(); });

    OnInitDialog();
}

void ViewerWindow::OnInitDialog() {
    // One window per process: a new one starts from the state a fresh process has.
    viewer = ViewerState{};
    firstPaintDone_ = 0;
    lists_->open(options_.commandLinePath, options_.programFolder);
    loadSettings();
}

void ViewerWindow::setVisible(bool visible) {
    // Every widget shown sends an accessibility event, and the first one makes Qt start its
    // accessibility bridge: it connects to the session bus and waits for replies (1-5 ms at
    // start-up). The window sends its event after asking to be mapped, a child shown with it
    // before. So the surface follows the window: the bridge then starts while the window
    // manager places the window, and the surface is visible long before the first expose.
    QDialog::setVisible(visible);
    if (visible && surface_ && surface_->isHidden())
        surface_->show();
}

void ViewerWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The first picture is decoded and named in the surface's first paint: by then the
    // window system has placed the window (a maximise included), so the picture is fitted
    // once, to the size the user sees. A window that gets no paint (started minimised, or a
    // window system that never exposes it) still has its first paint a little later.
    surface_->runFirstPaintAfter(PictureSurface::kFirstPaintFallbackMs);
}

void ViewerWindow::onFirstPaint() {
    if (firstPaintDone_)
        return;
    firstPaintDone_ = 1;
    // By now the window system has framed the window: its frame goes where it was asked to.
    placement_->settle();
    surface_->layOutOver(rect());
    lists_->takeArrived();
    // A decode about to end is better waited for than painted over: the paint would write
    // the window's fresh buffer with the background, and the picture would need a render and
    // a copy of its own a few milliseconds later. A long decode shows the background first.
    if (const std::filesystem::path* file = currentPath(viewer.list))
        view_->source().awaitDecode(*file, std::chrono::milliseconds(kFirstPictureWaitMs));
    reloadCurrent();
    // Named after the render, still before this paint is shown: the window manager redraws
    // its title bar on the change, and that work then doesn't take a core from the render.
    updateTitle();
    // Rendering the icon for the window system takes as long as drawing the picture: it
    // follows the first paint instead of holding it up.
    QTimer::singleShot(0, this,
                       [this] { setWindowIcon(QIcon(QString::fromUtf8(product::kIconResource))); });
}

Prefetcher& ViewerWindow::prefetcher() const {
    return view_->source().prefetcher();
}

int ViewerWindow::reloadCurrent() {
    return view_->render(0, kRotateNone);
}

void ViewerWindow::redraw() {
    view_->redraw();
}

bool ViewerWindow::busy() const {
    return view_->busy() || lists_->waiting();
}

void ViewerWindow::updatePointer() {
    pointer_->update(viewer.render.zoom.isDragging != 0,
                     viewer.window.isFullScreen || slideshow_->isRunning());
}

void ViewerWindow::refit() {
    zoomStep(viewer.render, {ZoomStep::Op::Reset, std::nullopt});
    redraw();
}

void ViewerWindow::zoomBy(ZoomStep::Op op, std::optional<CursorPos> at) {
    zoomStep(viewer.render, {op, at});
    redraw();
}

// The title names the current picture, except while the slideshow's title stands.
void ViewerWindow::updateTitle(bool emptyListToo) {
    if (slideshow_->isRunning())
        return;
    if (const std::filesystem::path* path = currentPath(viewer.list))
        setWindowTitle(pictureTitle(*path));
    else if (emptyListToo)
        setWindowTitle(QString::fromUtf8(product::kName));
}

int ViewerWindow::step(int travel, bool ofSlideshow) {
    // A show's step kept behind a picture or the list is dropped when the show stops meanwhile.
    const auto again = [this, travel, ofSlideshow] {
        if (!ofSlideshow || slideshow_->isRunning())
            step(travel, ofSlideshow);
    };
    if (lists_->defer(again) || view_->hold().holdStep(again))
        return -1;
    view_->setTravel(travel);
    viewer.render.zoom.zoomFactor = 1.0f;
    if (travel > 0)
        stepNext(viewer.list);
    else
        stepPrevious(viewer.list);
    updateTitle();
    return reloadCurrent();
}

void ViewerWindow::toggleFullScreen() {
    placement_->toggleFullScreen(viewer.window);
    viewer.render.backgroundLevel = viewer.window.isFullScreen ? kBackgroundBlack : kBackgroundGrey;
    updatePointer();
    refit();
}

void ViewerWindow::startSlideshow() {
    if (lists_->defer([this] { startSlideshow(); }) || viewer.list.pictureList.empty())
        return;
    slideshow_->start();
    updatePointer();
    setWindowTitle(slideshowTitle());
}

void ViewerWindow::stopSlideshow() {
    // A show that runs on a list a drop has emptied must still stop; only the title needs
    // a picture to name.
    if (!slideshow_->isRunning())
        return;
    slideshow_->stop();
    updatePointer();
    // A list a drop emptied meanwhile gets the title the drop would have given it.
    updateTitle(true);
}

void ViewerWindow::deleteCurrentPicture() {
    const std::filesystem::path* current = currentPath(viewer.list);
    if (lists_->defer([this] { deleteCurrentPicture(); }) || !current)
        return;
    // The box runs events (a drop, a held step) that may change the list: what is deleted is
    // the file the box asked about, looked up again, and only while the list still holds it.
    const std::filesystem::path file = *current;
    if (confirmDeletion(this))
        lists_->remove(file);
}

void ViewerWindow::openDroppedFile(const std::filesystem::path& file) {
    // The dropped picture is shown while its folder is listed (see ListKeeper).
    if (lists_->defer([this, file] { openDroppedFile(file); }))
        return;
    view_->source().clear();
    lists_->open(file, options_.programFolder);
    viewer.render.zoom.zoomFactor = 1.0f;
    updateTitle();
    reloadCurrent();
}

// Keys and menu items alike reach their handlers through the command table.
void ViewerWindow::runCommand(CommandId command) {
    if (waitsForList(command, slideshow_->isRunning()) &&
        lists_->defer([this, command] { runCommand(command); }))
        return;
    dispatchCommand(*this, command);
}

// Keeps the rectangle of a window in its normal placement; returns whether it is. Until the
// first paint the window is still being placed by the settings and shown by the window
// system, which may pass through a normal state on its way to maximised; the settings record
// their own rectangle.
bool ViewerWindow::noteNormalPlacement() {
    return firstPaintDone_ && placement_->noteNormal(viewer.window);
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == this || watched == surface_) && !view_->hold().holdInput(watched, event))
        handleInput(event);
    // The pre-filter never consumes: every event goes on to its normal handler.
    return false;
}

// Asks the input map what an input does and carries it out.
void ViewerWindow::handleInput(QEvent* event) {
    if (event->type() == QEvent::NativeGesture)
        return pinch(static_cast<QNativeGestureEvent*>(event));
    if (event->type() == QEvent::MouseMove)
        pointer_->moved();
    const std::optional<Input> input = inputOf(event);
    if (!input)
        return;
    const InputDecision decision =
        decideInput(*input, {viewer.window.isFullScreen != 0, viewer.render.zoom.isDragging != 0});
    if (decision.stopSlideshow)
        stopSlideshow();
    if (decision.command != ID_NONE)
        runCommand(decision.command);
    if (!decision.zoom)
        return;
    if (decision.redraw)
        return zoomBy(*decision.zoom, surface_->cursor());
    zoomStep(viewer.render, {*decision.zoom, surface_->cursor()});
    updatePointer();
}

// A touchpad pinch zooms in the wheel's steps about the point between the fingers.
void ViewerWindow::pinch(QNativeGestureEvent* gesture) {
    const std::optional<PinchZoom> zoom = pinchZoomOf(*gesture, pinchScale_);
    if (!zoom)
        return;
    stopSlideshow();
    const QPoint at = surface_->devicePos(zoom->at);
    for (int i = 0; i < std::abs(zoom->steps); ++i)
        zoomBy(zoom->steps > 0 ? ZoomStep::Op::In : ZoomStep::Op::Out, CursorPos{at.x(), at.y()});
}

void ViewerWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    // Minimising and restoring change no widget size here, but they are size changes all the
    // same: the show stops and the picture is fitted anew.
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if ((change->oldState() ^ windowState()) & Qt::WindowMinimized) {
        stopSlideshow();
        if (firstPaintDone_)
            refit();
    }
    // The restored geometry comes after the change of state.
    if (placement_->settling() && firstPaintDone_)
        QTimer::singleShot(0, this, [this] { placement_->settle(); });
}

void ViewerWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    stopSlideshow();
    noteNormalPlacement();
    if (!firstPaintDone_) {
        // Before the first paint nothing is drawn, but the surface still covers the window.
        surface_->setGeometry(rect());
        return;
    }
    surface_->layOutOver(rect());
    refit();
    view_->surfaceResized();
}

void ViewerWindow::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    placement_->moved();
    if (noteNormalPlacement())
        redraw();
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
    const WindowRect rect = placement_->frameRect();
    stopSlideshow();
    if (!isMinimized())
        saveSettingsFile(options_.settingsFile,
                         closingRecord(isMaximized(), rect, viewer.window.normalWindowRect,
                                       viewer.render.backgroundLevel));
    event->accept();
    done(QDialog::Rejected);
}

void ViewerWindow::contextMenuEvent(QContextMenuEvent* event) {
    stopSlideshow();
    popUpContextMenu(this, event->globalPos(), [this](CommandId command) { runCommand(command); });
}

void ViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ViewerWindow::dropEvent(QDropEvent* event) {
    if (const std::optional<std::filesystem::path> file = droppedFile(*event->mimeData())) {
        event->acceptProposedAction();
        openDroppedFile(*file);
    }
}

void ViewerWindow::loadSettings() {
    const SettingsLoad loaded = loadSettingsFile(options_.settingsFile);
    if (loaded.placement)
        viewer.window.normalWindowRect = placement_->restore(*loaded.placement);
    else
        placement_->sizeToMinimum();
    if (loaded.maximise)
        setWindowState(windowState() | Qt::WindowMaximized);
    viewer.render.backgroundLevel = loaded.backgroundLevel;
}
