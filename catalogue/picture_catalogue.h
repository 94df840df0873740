#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "catalogue/picture_list.h"

class FileWorker;

// The picture list's calls to the file system, made on a worker of its own so that the thread
// that owns the list never waits for them: the listing of an open's folder, and the removal
// of a deleted file. What the worker finds waits here, under our own lock, until the owner's
// thread takes it; the worker only wakes that thread (onArrived), so the hand-off is ordered by
// a lock the thread sanitizer sees. Made before the window (main() starts the command line's
// open beside the first picture's decode); everything but onArrived runs on one thread.
class PictureCatalogue {
  public:
    PictureCatalogue();
    ~PictureCatalogue();
    PictureCatalogue(const PictureCatalogue&) = delete;
    PictureCatalogue& operator=(const PictureCatalogue&) = delete;

    // Lists the folder of an open (see openPicture) on the worker. A later open supersedes it:
    // only the latest open's folder is handed over.
    void open(std::optional<std::filesystem::path> requested, std::filesystem::path programFolder);
    // Removes the picture file (removePictureFile) on the worker.
    void remove(std::filesystem::path file);
    // How many opens were asked for; the window starts its own when main() has not.
    int opens() const { return opens_; }
    // Whether an open or a removal has not been handed over yet: the list is not final.
    bool underWay() const { return underWay_ > 0; }

    // What the worker has found, in the order it was asked for.
    struct Arrival {
        std::optional<OpenedFolder> opened;            // the latest open's folder
        std::optional<std::filesystem::path> removed;  // a file that is gone now
    };
    // Called on the worker, under the catalogue's lock, when a first arrival waits: it must only
    // wake the owner's thread. Called at once when arrivals wait already. Empty: nobody is woken.
    void setOnArrived(std::function<void()> onArrived);
    // The arrivals since the last call. Superseded opens and removals that left the file are
    // dropped, but end their part of underWay().
    std::vector<Arrival> take();

  private:
    struct Found {
        uint64_t open = 0;  // which open, for a listing
        Arrival arrival;
    };
    void leave(Found found);

    int opens_ = 0;
    int underWay_ = 0;
    std::mutex mutex_;
    std::vector<Found> found_;
    std::function<void()> onArrived_;
    std::unique_ptr<FileWorker> worker_;  // last: gone first, so no task outlives the rest
};
