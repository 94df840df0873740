#pragma once

#include <QObject>
#include <QTimer>

#include <filesystem>
#include <memory>
#include <optional>

class PictureSource;
class PictureSurface;
class Prefetcher;
class StepHold;

// The current picture on the surface, without ever waiting for a decode. A reload takes the
// picture at once when a worker has it ready; else it stays pending (nothing is drawn, turns
// wait), the background shows after a moment, and the picture is drawn when it arrives. Steps
// wait for the picture before them in the hold. Works on the process-wide viewer state.
class PictureView : public QObject {
    Q_OBJECT

  public:
    PictureView(PictureSurface* surface, std::shared_ptr<Prefetcher> prefetcher,
                QObject* parent = nullptr);

    // Reload and turn as the render takes them; returns what the render returns, -1 while
    // the picture is still coming.
    int render(int reload, int rotation);
    // Draws the current state again: no decode, no turn.
    void redraw();
    // The surface changed size: the picture still coming and those decoded ahead are fitted
    // again for it.
    void surfaceResized();
    // The list around the shown picture is known now: its neighbours decode ahead.
    void neighboursKnown();
    // The direction of the last step, +1 or -1: its neighbour is decoded ahead first.
    void setTravel(int travel) { travel_ = travel; }

    // Whether anything was rendered yet (the window's first paint renders first).
    bool rendered() const { return rendered_; }
    // Whether a picture is still coming or input waits behind a step.
    bool busy() const;
    StepHold& hold() const { return *hold_; }
    PictureSource& source() const { return *source_; }

    // How long a step waits for the picture before it, and after how long a picture still
    // coming gives way to the background. A held key repeats every 25 to 40 ms, so a wait
    // of 250 ms still shows every picture that decodes within 290 ms of its own step, and
    // the step's title comes well within 300 ms of its press.
    static constexpr int kStepWaitMs = 250;
    static constexpr int kBlankAfterMs = 100;

  signals:
    // The current picture is drawn or failed.
    void settled();

  private:
    void onPictureArrived(const std::filesystem::path& file);
    void showCurrent();
    std::optional<int> takeIfArrived();
    QSize surfaceSize() const;

    PictureSurface* surface_;
    PictureSource* source_;
    StepHold* hold_;
    QTimer blankTimer_;
    int travel_ = 1;
    bool rendered_ = false;
    // The first picture's neighbours wait for it to be on the screen.
    bool neighboursAfterFirstFrame_ = false;
};
