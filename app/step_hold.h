#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <optional>

class QEvent;

// Steps that wait for the picture before them, and the input that comes behind them. A step
// pressed while a picture is still coming waits for it, so that holding a key shows every
// picture that decodes in time; never longer than waitMs from its own press, after which it
// leaves the slow picture behind. Whatever the user does meanwhile waits behind it, in
// order, as it would behind a step that decoded on the window's thread; a key held down
// repeats into one waiting press. Lives on the window's thread.
class StepHold : public QObject {
    Q_OBJECT

  public:
    // pictureComing tells whether the current picture is still on its way.
    StepHold(int waitMs, std::function<bool()> pictureComing, QObject* parent = nullptr);

    // Returns true when step was kept to run later (release() or its time runs it).
    bool holdStep(std::function<void()> step);
    // Keeps step, and the input behind it, though no picture is coming (the list is): at most
    // waitMs from its press, then it runs. Returns true when kept.
    bool holdFor(std::function<void()> step, int waitMs);
    // Keeps a copy of the input event for target while a step waits; returns true when kept.
    // Events that are not input pass.
    bool holdInput(QObject* target, QEvent* event);
    // The picture came (or failed): the waiting step runs, then what came behind it, until
    // one of them waits again.
    void release();

    bool holding() const { return holding_; }

  private:
    struct Held {
        std::function<void()> run;
        qint64 pressedAtMs = 0;
        int autoRepeatKey = 0;
    };

    const int waitMs_;
    std::function<bool()> pictureComing_;
    QElapsedTimer clock_;
    QTimer deadline_;
    std::deque<Held> held_;  // the front one is the step that waits, while holding_
    bool holding_ = false;
    // The press time of what release() is running, so that a step replayed keeps its own.
    std::optional<qint64> replayPressedAtMs_;
};
