#pragma once

#include <QImage>
#include <QWidget>

#include <functional>

#include "render/render_pipeline.h"

class QPainter;

// The picture control: a child widget over the whole client area that owns an image of its
// size in device pixels. The render draws into that image; paint events only copy it to the
// screen, so the surface keeps the pixels drawn last.
//
// The first paint is the exception: the render draws straight into the window's own buffer
// when the surface can reach it, so that the start writes a screen of pixels once instead of
// twice (and allocates one buffer less before the first picture). The surface takes its copy
// of them once that paint is on the screen.
class PictureSurface : public QWidget, public RenderTarget {
    Q_OBJECT

  public:
    explicit PictureSurface(QWidget* parent);

    // Made when first asked for at a new size, filled with the fill level.
    QImage* surfacePixels() override;
    void present() override;
    // The surface's size in device pixels, at most twice the largest screen along each axis
    // (the image is then drawn at the top-left, the rest in the fill level).
    QSize deviceSize() const { return deviceSize_; }

    // Lays the surface over the window's client area as the dialog template lays it out: in
    // 96-DPI pixels, scaled to the screen's.
    void layOutOver(const QRect& client);

    // Called at the start of the surface's first paint, before it copies its pixels, so the
    // window can lay out and draw the first picture then.
    void setFirstPaintHook(std::function<void()> hook) { firstPaintHook_ = std::move(hook); }
    // Runs the first-paint hook after ms, once, when no paint has run it by then (a window
    // never exposed); whichever comes first, the other finds nothing to run.
    void runFirstPaintAfter(int ms);
    // Whether the surface is inside its own paint, which puts all of it on the screen.
    bool isPainting() const { return painting_; }
    // Where the surface asks for the grey level of the pixels a resize uncovers before the
    // next render: the background's owner.
    void setFillLevel(std::function<int32_t()> level) { fillLevel_ = std::move(level); }
    // A point of the screen in surface device pixels (the cursor's: QCursor::pos()).
    QPoint devicePos(QPointF global) const;
    // Where the cursor is, as the zoom takes it.
    std::optional<CursorPos> cursor() const;

    // About one refresh of a 60 Hz screen: the time the window system is given to show the
    // first paint before the work that follows it (the neighbours' decodes) takes the cores
    // it needs.
    static constexpr int kFirstFrameAllowanceMs = 17;
    // How long after the show the first paint runs without waiting for the window to be exposed.
    static constexpr int kFirstPaintFallbackMs = 400;

  signals:
    // kFirstFrameAllowanceMs after the first paint, whichever way it was painted.
    void firstFrameShown();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Input is handled by the window's pre-filter; accepting it here keeps it from reaching
    // the window a second time.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    bool event(QEvent* event) override;

  private:
    bool borrowWindowBuffer(QPainter& painter);
    void keepBorrowedPixels();
    QColor fillColour() const;

    QImage pixels_;
    QSize deviceSize_{0, 0};
    // Where pixels_ lies in the window's buffer while it is a view of it, else nullptr, and
    // that buffer's size then.
    const uchar* borrowed_ = nullptr;
    QSize borrowedBufferSize_;
    std::function<void()> firstPaintHook_;
    std::function<int32_t()> fillLevel_ = [] { return kBackgroundGrey; };
    bool painting_ = false;
    bool fallbackStarted_ = false;
    bool presented_ = false;
    // Whether deviceSize_ is smaller than the widget.
    bool capped_ = false;
};
