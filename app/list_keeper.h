#pragma once

#include <QObject>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "commands/command_ids.h"

class PictureCatalogue;

// Whether the command waits for the list like a step: the shell's actions, which act on the
// current picture's file, and a slideshow's start (its stop never waits). What waits is decided
// again when it runs: two presses of S before the list comes start and stop the show.
bool waitsForList(CommandId command, bool slideshowRunning);
class PictureView;

// The picture list while the catalogue's worker lists its folder or removes a file. Until an
// open's folder arrives the list holds only the picture the open will most likely show (the
// requested one), so that it is decoded and named at once; whatever needs the real list (a
// step, a delete, a drop, the slideshow, the shell actions) waits here and runs, in order, on
// the list as the listing leaves it, as it would have on a list made on the window's thread.
// Works on the process-wide viewer state, on the window's thread.
class ListKeeper : public QObject {
    Q_OBJECT

  public:
    ListKeeper(std::shared_ptr<PictureCatalogue> catalogue, PictureView* view,
               QObject* parent = nullptr);
    ~ListKeeper() override;

    // An open: the list holds the likely picture until the folder comes. The catalogue's first
    // open may have been asked for already (main() starts the command line's).
    void open(const std::optional<std::filesystem::path>& requested,
              const std::filesystem::path& programFolder);
    // Deletes the file once the list is final, if it still holds it; its entry leaves the list
    // only once the file is gone.
    void remove(const std::filesystem::path& file);
    // Returns true when action was kept, to run once the list is final.
    bool defer(std::function<void()> action);
    // Takes what the worker has found, now, instead of when it wakes the window.
    void takeArrived();

    // Whether the list is not final yet or something waits for it.
    bool waiting() const;
    PictureCatalogue& catalogue() const { return *catalogue_; }

    // How long the input behind what waits for the list waits too, in order, as it waits behind
    // a step for its picture: a listing or a removal that ends by then acts as if it had been
    // made on the window's thread. Past it, input is answered and only what needs the list waits.
    static constexpr int kListWaitMs = 100;

  signals:
    // The list is final and its current picture is not the one drawn: name and draw it. Not
    // before the first picture is drawn, which draws what is current then. nameEmptyList: an
    // open's empty list gets the product's title.
    void currentChanged(bool nameEmptyList);

  protected:
    bool event(QEvent* event) override;

  private:
    void adopt();
    void runWaiting();
    void holdInput();

    std::shared_ptr<PictureCatalogue> catalogue_;
    PictureView* view_;
    std::optional<std::filesystem::path> likely_;
    int asked_ = 0;            // the catalogue's opens this keeper knows of
    int32_t indexBefore_ = 0;  // an open that doesn't find its request keeps the index
    std::deque<std::function<void()>> waiting_;
    bool running_ = false;
    bool heldForList_ = false;  // the step hold holds input for the list
    std::mutex wakeMutex_;
};
