#pragma once

#include <QDialog>
#include <QMargins>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <optional>

#include "app/window_rect.h"
#include "commands/command_ids.h"
#include "render/geometry/zoom.h"

class PictureSource;
class PointerLook;
class QNativeGestureEvent;
class PictureSurface;
class Prefetcher;
class Slideshow;
class StepHold;

// How the window was started: what the command line asked for and where things live.
struct ViewerOptions {
    // The first argument after the program name, when there is one.
    std::optional<std::filesystem::path> commandLinePath;
    // The executable's folder: listed when there is no argument.
    std::filesystem::path programFolder;
    // The settings file read at start and written at close.
    std::filesystem::path settingsFile;
    // Decodes ahead of the window, possibly already at work on the command line's picture;
    // the window makes its own when none is given.
    std::shared_ptr<Prefetcher> prefetcher;
};

// The viewer window: one dialog whose client area is the picture surface. It owns no picture
// logic; its handlers call the operations of the picture list, the render and the commands
// on the process-wide viewer state.
class ViewerWindow : public QDialog {
    Q_OBJECT

  public:
    explicit ViewerWindow(ViewerOptions options, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    PictureSurface* surface() const { return surface_; }
    PointerLook* pointer() const { return pointer_; }
    Slideshow* slideshow() const { return slideshow_; }

    // Operations the input map calls; each ends in a render where the picture changes.
    int renderPicture(int reload, int rotation);
    int showNext();
    int showPrevious();
    void setTitleForCurrent();
    void toggleBackground();
    void toggleFullScreen();
    void startSlideshow();
    void stopSlideshow();
    void toggleSlideshow();
    void deleteCurrentPicture();
    void openDroppedFile(const std::filesystem::path& file);
    void runCommand(CommandId command);

    bool firstPaintDone() const { return firstPaintDone_ != 0; }
    Prefetcher& prefetcher() const;
    // Whether a picture is still coming or input waits behind a step (tests wait for this).
    bool busy() const;

    // How long a step waits for the picture before it, and after how long a picture still
    // coming gives way to the background. A held key repeats every 25 to 40 ms, so a wait
    // of 250 ms still shows every picture that decodes within 290 ms of its own step, and
    // the step's title comes well within 300 ms of its press.
    static constexpr int kStepWaitMs = 250;
    static constexpr int kBlankAfterMs = 100;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Esc and the default button never end the window; only a close request does.
    void reject() override {}

  private:
    void OnInitDialog();
    void onFirstPaint();
    void layoutPictureControl(int left, int top, int right, int bottom);
    void layoutToClientArea();
    void loadSettings();
    void saveSettings(const WindowRect& rect, int maximised, int background);
    void onSizeChanged();
    bool handleInput(QEvent* event);
    bool pinch(QNativeGestureEvent* gesture);
    std::optional<CursorPos> cursor() const;
    WindowRect windowRect() const;
    void noteFrameMargins();
    void placeFrame(const QRect& frame);
    void settlePlacedFrame();
    bool isNormalPlacement() const;
    QSize surfaceSize() const;
    void onPictureArrived(const std::filesystem::path& file);
    void takeIfArrived();
    void pictureSettled();
    void zoomBy(ZoomStep::Op op);
    void updatePointer();
    ViewerOptions options_;
    PictureSource* source_ = nullptr;
    PictureSurface* surface_ = nullptr;
    Slideshow* slideshow_ = nullptr;
    QTimer blankTimer_;
    StepHold* hold_ = nullptr;
    QMargins frameMargins_;
    std::optional<QRect> placedFrame_;
    QRect clientBeforeFullScreen_;
    PointerLook* pointer_ = nullptr;
    qreal pinchScale_ = 0.0;  // scale pinched since the last zoom step
    static constexpr qreal kPinchStep = 0.2;
    int firstPaintDone_ = 0;
    bool firstPaintQueued_ = false;
    // The direction of the last step, +1 or -1: its neighbour is decoded ahead first.
    int travel_ = 1;
};
