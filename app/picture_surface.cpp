#include "app/picture_surface.h"

#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <cmath>

PictureSurface::PictureSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void PictureSurface::present() {
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

void PictureSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (firstPaintHook_) {
        // The window draws its first picture now when it is decoded: the window's buffer,
        // slow to write the first time (its memory is new), is then written once, with the
        // picture, instead of with the background first.
        auto hook = std::move(firstPaintHook_);
        firstPaintHook_ = nullptr;
        painting_ = true;
        hook();
        painting_ = false;
    }
    painter.drawImage(QRectF(rect()), pixels_);
}

void PictureSurface::resizeEvent(QResizeEvent*) {
    const qreal ratio = devicePixelRatioF();
    const QSize devicePx(static_cast<int>(std::lround(width() * ratio)),
                         static_cast<int>(std::lround(height() * ratio)));
    if (pixels_.size() == devicePx)
        return;
    QImage resized(devicePx, QImage::Format_RGB32);
    resized.setDevicePixelRatio(ratio);
    resized.fill(QColor(fillLevel_, fillLevel_, fillLevel_));
    pixels_ = std::move(resized);
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
    if (event->type() == QEvent::NativeGesture) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}
