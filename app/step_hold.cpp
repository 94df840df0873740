#include "app/step_hold.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>

#include <memory>

StepHold::StepHold(int waitMs, std::function<bool()> pictureComing, QObject* parent)
    : QObject(parent), waitMs_(waitMs), pictureComing_(std::move(pictureComing)) {
    clock_.start();
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &StepHold::release);
}

bool StepHold::holdStep(std::function<void()> step) {
    return (holding_ || pictureComing_()) && holdFor(std::move(step), waitMs_);
}

bool StepHold::holdFor(std::function<void()> step, int waitMs) {
    const qint64 pressedAt = replayPressedAtMs_.value_or(clock_.elapsed());
    if (holding_) {
        held_.push_back({std::move(step), pressedAt, 0});
        return true;
    }
    const qint64 leftMs = pressedAt + waitMs - clock_.elapsed();
    if (leftMs <= 0)
        return false;
    holding_ = true;
    held_.push_front({std::move(step), pressedAt, 0});
    deadline_.start(static_cast<int>(leftMs));
    return true;
}

bool StepHold::holdInput(QObject* target, QEvent* event) {
    if (!holding_)
        return false;
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::NativeGesture:
            break;
        default:
            return false;  // not input: painting, resizing and the like go on
    }
    int repeatKey = 0;
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->isAutoRepeat()) {
            repeatKey = key->key();
            if (!held_.empty() && held_.back().autoRepeatKey == repeatKey)
                return true;
        }
    }
    std::shared_ptr<QEvent> copy(event->clone());
    QPointer<QObject> to(target);
    held_.push_back({[to, copy] {
                         if (to)
                             QCoreApplication::sendEvent(to, copy.get());
                     },
                     clock_.elapsed(), repeatKey});
    return true;
}

void StepHold::release() {
    if (!holding_)
        return;
    holding_ = false;
    deadline_.stop();
    while (!holding_ && !held_.empty()) {
        Held next = std::move(held_.front());
        held_.pop_front();
        replayPressedAtMs_ = next.pressedAtMs;
        next.run();
        replayPressedAtMs_.reset();
    }
}
