#include "commands/slideshow.h"

Slideshow::Slideshow(std::function<bool()> step, QObject* parent)
    : QObject(parent), step_(std::move(step)) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &Slideshow::onTimeout);
}

void Slideshow::start() {
    running_ = true;
    timer_.start(intervalMs_);
}

void Slideshow::stop() {
    running_ = false;
    awaitingPicture_ = false;
    timer_.stop();
}

void Slideshow::stepSettled() {
    if (!awaitingPicture_)
        return;
    awaitingPicture_ = false;
    if (running_)
        timer_.start(intervalMs_);
}

void Slideshow::onTimeout() {
    if (!running_)
        return;
    awaitingPicture_ = true;
    const bool settled = step_();
    // The step may have stopped the show (it runs the window's own code); only a show that
    // still runs waits for its next step.
    if (settled)
        stepSettled();
}
