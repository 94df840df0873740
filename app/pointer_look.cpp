#include "app/pointer_look.h"

#include <QWidget>

PointerLook::PointerLook(QWidget* surface) : QObject(surface), surface_(surface) {
    rest_.setSingleShot(true);
    rest_.setInterval(kRestMs);
    connect(&rest_, &QTimer::timeout, this, [this] {
        resting_ = true;
        apply();
    });
}

void PointerLook::update(bool dragging, bool hideWhenResting) {
    const bool startsHiding = hideWhenResting && !hideWhenResting_;
    dragging_ = dragging;
    hideWhenResting_ = hideWhenResting;
    if (startsHiding)
        rest_.start();
    if (!hideWhenResting) {
        rest_.stop();
        resting_ = false;
    }
    apply();
}

void PointerLook::moved() {
    resting_ = false;
    if (hideWhenResting_)
        rest_.start();
    apply();
}

void PointerLook::apply() {
    if (dragging_)
        surface_->setCursor(Qt::ClosedHandCursor);
    else if (hideWhenResting_ && resting_)
        surface_->setCursor(Qt::BlankCursor);
    else
        surface_->unsetCursor();
}
