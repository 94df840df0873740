#include "app/picture_surface.h"

#include "app/dpi.h"
#include "platform/stage_timeline.h"

#include <QBackingStore>
#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The screens' size when there are none to ask.
constexpr int kSizeWithoutScreens = 8192;

// Twice the largest screen along each axis, in device pixels: the largest image the surface
// makes. A window the window manager makes larger still shows a picture, at the top-left,
// and never asks for a buffer that would take the process past memory.
QSize largestSurface() {
    int width = 0;
    int height = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const qreal ratio = screen->devicePixelRatio();
        width = std::max(width, static_cast<int>(std::lround(screen->geometry().width() * ratio)));
        height =
            std::max(height, static_cast<int>(std::lround(screen->geometry().height() * ratio)));
    }
    if (width <= 0 || height <= 0)
        return {kSizeWithoutScreens, kSizeWithoutScreens};
    return {2 * width, 2 * height};
}

}  // namespace

PictureSurface::PictureSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

QImage* PictureSurface::surfacePixels() {
    if (pixels_.size() != deviceSize_) {
        QImage fresh(deviceSize_, QImage::Format_RGB32);
        fresh.setDevicePixelRatio(devicePixelRatioF());
        fresh.fill(fillColour());
        pixels_ = std::move(fresh);
    }
    return &pixels_;
}

QColor PictureSurface::fillColour() const {
    const int level = fillLevel_() & 0xFF;
    return {level, level, level};
}

void PictureSurface::layOutOver(const QRect& client) {
    const QRect area(QPoint(UnscaleX(client.left()), UnscaleY(client.top())),
                     QPoint(UnscaleX(client.right() + 1) - 1, UnscaleY(client.bottom() + 1) - 1));
    setGeometry(ScaleX(area.left()), ScaleY(area.top()), ScaleX(area.width()),
                ScaleY(area.height()));
    // Laid out from within the surface's first paint, the whole surface is being painted.
    if (!painting_)
        update();
}

void PictureSurface::runFirstPaintAfter(int ms) {
    if (std::exchange(fallbackStarted_, true))
        return;
    QTimer::singleShot(ms, this, [this] {
        if (std::function<void()> hook = std::exchange(firstPaintHook_, nullptr))
            hook();
    });
}

void PictureSurface::present() {
    presented_ = true;
    // A render that runs inside this surface's own paint (the first paint) is copied by
    // that paint; a repaint from within it would recurse.
    if (painting_)
        return;
    repaint();
}

QPoint PictureSurface::devicePos(QPointF global) const {
    const QPointF local = mapFromGlobal(global);
    const qreal ratio = devicePixelRatioF();
    return {static_cast<int>(std::floor(local.x() * ratio)),
            static_cast<int>(std::floor(local.y() * ratio))};
}

std::optional<CursorPos> PictureSurface::cursor() const {
    const QPoint p = devicePos(QCursor::pos());
    return CursorPos{p.x(), p.y()};
}

// Makes pixels_ a view of the surface's part of the window's buffer, when this paint writes
// into that buffer (not into a grab's pixmap) and its pixels are 32-bit RGB, as a render's are.
bool PictureSurface::borrowWindowBuffer(QPainter& painter) {
    QBackingStore* store = backingStore();
    const QPaintEngine* engine = painter.paintEngine();
    if (store == nullptr || engine == nullptr || engine->paintDevice() != store->paintDevice() ||
        store->paintDevice()->devType() != QInternal::Image)
        return false;
    auto* buffer = static_cast<QImage*>(store->paintDevice());
    const QTransform& toDevice = painter.deviceTransform();
    if (toDevice.type() > QTransform::TxScale ||
        (buffer->format() != QImage::Format_RGB32 &&
         buffer->format() != QImage::Format_ARGB32_Premultiplied))
        return false;
    const QRect area = toDevice.mapRect(QRectF(rect())).toAlignedRect();
    if (area.size() != deviceSize_ || area.isEmpty() || !buffer->rect().contains(area))
        return false;
    uchar* first = buffer->bits() + static_cast<qsizetype>(area.y()) * buffer->bytesPerLine() +
                   static_cast<qsizetype>(area.x()) * 4;
    pixels_ =
        QImage(first, area.width(), area.height(), buffer->bytesPerLine(), QImage::Format_RGB32);
    pixels_.setDevicePixelRatio(devicePixelRatioF());
    borrowed_ = first;
    borrowedBufferSize_ = buffer->size();
    return true;
}

// The window's buffer is Qt's to change: the surface takes its own copy of the first paint.
// Qt keeps a buffer of one size (a Wayland window has several) until the window's size in
// device pixels changes; a buffer of another size means the first paint's is gone (the window
// moved to a screen of another pixel ratio), and the surface is painted afresh.
void PictureSurface::keepBorrowedPixels() {
    if (borrowed_ == nullptr)
        return;
    if (pixels_.constBits() == borrowed_) {
        QBackingStore* store = backingStore();
        const QPaintDevice* device = store ? store->paintDevice() : nullptr;
        const auto* buffer = device && device->devType() == QInternal::Image
                                 ? static_cast<const QImage*>(device)
                                 : nullptr;
        if (buffer && buffer->size() == borrowedBufferSize_) {
            QImage kept = pixels_.copy();
            kept.setDevicePixelRatio(devicePixelRatioF());
            pixels_ = std::move(kept);
        } else {
            pixels_ = QImage();
            update();
        }
    }
    borrowed_ = nullptr;
}

void PictureSurface::paintEvent(QPaintEvent*) {
    // A paint before the copy was taken finds the window's buffer as the first paint left it.
    keepBorrowedPixels();
    QPainter painter(this);
    if (firstPaintHook_) {
        // The window draws its first picture now when it is decoded: the window's buffer,
        // slow to write the first time (its memory is new), is then written once, with the
        // picture, instead of with the background first.
        markStage("first paint");
        auto hook = std::move(firstPaintHook_);
        firstPaintHook_ = nullptr;
        QTimer::singleShot(kFirstFrameAllowanceMs, this, &PictureSurface::firstFrameShown);
        const bool straight = borrowWindowBuffer(painter);
        painting_ = true;
        presented_ = false;
        hook();
        painting_ = false;
        // A render that found the surface resized drew into pixels of its own: copied below.
        if (straight && pixels_.constBits() == borrowed_) {
            if (!presented_)
                pixels_.fill(fillColour());
            markStage("painted");
            // Taken as soon as this paint has gone to the window system.
            QTimer::singleShot(0, this, [this] {
                markStage("first paint flushed");
                keepBorrowedPixels();
            });
            return;
        }
    }
    const QImage& pixels = *surfacePixels();
    if (!capped_) {
        painter.drawImage(QRectF(rect()), pixels);
    } else {
        painter.fillRect(rect(), fillColour());
        painter.drawImage(QPointF(0, 0), pixels);
    }
    markStage("painted");
}

void PictureSurface::resizeEvent(QResizeEvent*) {
    markStage("resized");
    const qreal ratio = devicePixelRatioF();
    const QSize full(static_cast<int>(std::lround(width() * ratio)),
                     static_cast<int>(std::lround(height() * ratio)));
    deviceSize_ = full.boundedTo(largestSurface());
    capped_ = deviceSize_ != full;
    // A view of the window's buffer at the old size is not the surface any more.
    if (borrowed_ != nullptr && pixels_.size() != deviceSize_) {
        pixels_ = QImage();
        borrowed_ = nullptr;
    }
}

void PictureSurface::mousePressEvent(QMouseEvent* event) {
    event->accept();
}
void PictureSurface::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void PictureSurface::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void PictureSurface::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void PictureSurface::wheelEvent(QWheelEvent* event) {
    event->accept();
}

bool PictureSurface::event(QEvent* event) {
    // Pinches too were handled by the window's pre-filter; unaccepted they would reach it twice.
    if (event->type() == QEvent::Show)
        markStage("shown");
    if (event->type() == QEvent::NativeGesture) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}
