#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Timing of the slideshow: the first step comes one interval after start(), each next one an
// interval after the previous step's picture was drawn (or failed), and none after stop().
// A step returns whether its picture is settled already; when it is not, the pause begins at
// stepSettled(). Steps run on the thread that owns the object, the window's, so a step never
// overlaps another handler or render.
class Slideshow : public QObject {
    Q_OBJECT

  public:
    static constexpr int kIntervalMs = 3000;

    explicit Slideshow(std::function<bool()> step, QObject* parent = nullptr);

    void start();
    void stop();
    // The picture of the last step is drawn, or failed: the pause before the next step begins.
    void stepSettled();
    bool isRunning() const { return running_; }

    // Tests shorten the pause; the viewer always uses kIntervalMs.
    void setIntervalMs(int intervalMs) { intervalMs_ = intervalMs; }
    int intervalMs() const { return intervalMs_; }

  private:
    void onTimeout();

    std::function<bool()> step_;
    QTimer timer_;
    int intervalMs_ = kIntervalMs;
    bool running_ = false;
    bool awaitingPicture_ = false;
};
