#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Timing of the slideshow: the first step comes one interval after start(), each next one an
// interval after the previous step has returned (so after it has drawn), and none after
// stop(). Steps run on the thread that owns the object, the window's, so a step never
// overlaps another handler or render.
class Slideshow : public QObject {
    Q_OBJECT

  public:
    static constexpr int kIntervalMs = 3000;

    explicit Slideshow(std::function<void()> step, QObject* parent = nullptr);

    void start();
    void stop();
    bool isRunning() const { return running_; }

    // Tests shorten the pause; the viewer always uses kIntervalMs.
    void setIntervalMs(int intervalMs) { intervalMs_ = intervalMs; }
    int intervalMs() const { return intervalMs_; }

  private:
    void onTimeout();

    std::function<void()> step_;
    QTimer timer_;
    int intervalMs_ = kIntervalMs;
    bool running_ = false;
};
