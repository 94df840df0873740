#pragma once

#include <QDialog>
#include <QKeyEvent>

#include <filesystem>
#include <memory>
#include <optional>

#include "app/window_placement.h"
#include "app/window_rect.h"
#include "commands/command_ids.h"
#include "commands/command_table.h"
#include "render/geometry/zoom.h"

class ListKeeper;
class PictureCatalogue;
class PointerLook;
class QNativeGestureEvent;
class PictureSurface;
class PictureView;
class Prefetcher;
class Slideshow;

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
    // Lists the folder, possibly already at work on the command line's open; the window makes
    // its own when none is given.
    std::shared_ptr<PictureCatalogue> catalogue;
};

// The viewer window: one dialog whose client area is the picture surface. It owns no picture
// logic; its handlers call the operations of the picture list, the render and the commands
// on the process-wide viewer state. It carries out the command table's operations (their
// bodies are in window_commands.cpp).
class ViewerWindow : public QDialog, private CommandTarget {
    Q_OBJECT

  public:
    explicit ViewerWindow(ViewerOptions options, QWidget* parent = nullptr);
    ~ViewerWindow() override = default;

    PictureSurface* surface() const { return surface_; }
    PointerLook* pointer() const { return pointer_; }
    Slideshow* slideshow() const { return slideshow_; }

    // Operations the commands call; each ends in a render where the picture changes.
    void toggleFullScreen() override;
    void startSlideshow();
    void stopSlideshow();
    void deleteCurrentPicture() override;
    void openDroppedFile(const std::filesystem::path& file);
    // Runs a command of the command table, as its key or menu item does.
    void runCommand(CommandId command);

    bool firstPaintDone() const { return firstPaintDone_ != 0; }
    Prefetcher& prefetcher() const;
    ListKeeper& lists() const { return *lists_; }
    // Whether a picture is still coming, input waits behind a step, or the list is not final
    // (tests wait for this).
    bool busy() const;

    void setVisible(bool visible) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Keys were acted on by the pre-filter; the dialog's own Enter and Esc handling must not
    // end the window.
    void keyPressEvent(QKeyEvent* event) override { event->accept(); }
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
    // The command table's other operations.
    void rotateLeft() override;
    void rotateRight() override;
    void showNext() override;
    void showPrevious() override;
    void zoomIn() override;
    void zoomOut() override;
    void openWith() override;
    void toggleSlideshow() override;
    void toggleBackground() override;
    void showProperties() override;
    void printPicture() override;
    void openWebSite() override;
    void showAbout() override;

    void OnInitDialog();
    void onFirstPaint();
    void loadSettings();
    void handleInput(QEvent* event);
    void pinch(QNativeGestureEvent* gesture);
    bool noteNormalPlacement();
    // A step of the slideshow's is dropped when the show stops while it waits.
    int step(int travel, bool ofSlideshow = false);
    int reloadCurrent();
    void redraw();
    // The title for the current picture; with emptyListToo an empty list gets the product's.
    void updateTitle(bool emptyListToo = false);
    // Back to the fit, drawn: the window's size changed.
    void refit();
    void zoomBy(ZoomStep::Op op, std::optional<CursorPos> at);
    void updatePointer();

    ViewerOptions options_;
    PictureSurface* surface_ = nullptr;
    PictureView* view_ = nullptr;
    ListKeeper* lists_ = nullptr;
    Slideshow* slideshow_ = nullptr;
    PointerLook* pointer_ = nullptr;
    std::unique_ptr<WindowPlacement> placement_;
    double pinchScale_ = 0.0;  // scale pinched since the last zoom step
    int firstPaintDone_ = 0;
};
