#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "render/source/detail_tiles.h"
#include "render/source/prefetcher.h"
#include "render/source/prepared_picture.h"

// Where the window's pictures come from: the one owner of the decoding workers, the pictures
// decoded ahead and which ones they are, the tiles of the shown one, and the freeing of
// pictures no longer shown. It lives on the window's thread, never blocks it, and tells it
// through pictureArrived and detailArrived when a decode it waits for has ended.
class PictureSource : public QObject {
    Q_OBJECT

  public:
    // Uses prefetcher when given (one that main started on the command line's picture before
    // the window existed), else makes its own.
    explicit PictureSource(std::shared_ptr<Prefetcher> prefetcher = {}, QObject* parent = nullptr);
    ~PictureSource() override;

    // The current picture, file (none: an empty list), decoded for a surface of surfaceWidth x
    // surfaceHeight device pixels (0 x 0: fitted by the render itself). Given at once when it
    // was decoded since the window began to wait for it, failed decodes included; otherwise
    // its decode is put first, or, decoded ahead, a worker checks that its file is unchanged
    // (never this thread), and pictureArrived follows. neighbours are the pictures next to it, the
    // one in the direction of travel first: that one decodes beside it on the other core, so that a
    // step that comes as soon as it shows finds that one nearly done, unless it is the picture
    // shown before (a folder of two).
    std::optional<PreparedPicture> current(const std::filesystem::path* file,
                                           const std::vector<std::filesystem::path>& neighbours,
                                           int32_t surfaceWidth, int32_t surfaceHeight);
    // The current picture, file, is shown: its neighbours, the one in the direction of travel
    // first, are decoded ahead, fitted to the surface.
    void shown(const std::filesystem::path* file, std::vector<std::filesystem::path> neighbours,
               int32_t surfaceWidth, int32_t surfaceHeight);
    // Whether the decode or the check of file is queued or under way.
    bool coming(const std::filesystem::path& file) const;
    // Waits at most limit for a decode of file under way to end.
    void awaitDecode(const std::filesystem::path& file, std::chrono::milliseconds limit) {
        prefetcher_->waitForDecode(file, limit);
    }

    // Frees a picture on a thread of its own: giving back a large picture's memory takes
    // milliseconds that a step should not wait for.
    void release(Image&& picture) { prefetcher_->release(std::move(picture)); }
    // Drops anything for file (a deleted picture), or everything (a new folder).
    void forget(const std::filesystem::path& file) { prefetcher_->forget(file); }
    void clear() {
        prefetcher_->await({});
        prefetcher_->clear();
    }

    Prefetcher& prefetcher() const { return *prefetcher_; }
    // Sharper pixels of the current picture for zooms (and a window larger than it was
    // decoded for); detailArrived tells when more have come.
    DetailTiles& detail() const { return *detail_; }

  signals:
    // A decode of a wanted file has ended (on the source's thread): current() now gives it.
    void pictureArrived(const std::filesystem::path& file);
    void detailArrived();

  protected:
    bool event(QEvent* event) override;

  private:
    // What the workers have left for the window's thread since it last looked.
    struct Pending {
        std::vector<std::filesystem::path> arrived;  // decoded, in order
        bool detail = false;                         // tiles came
    };
    // Leaves something in pending_ and wakes the window's thread unless it is woken already.
    void wake(const std::function<void(Pending&)>& leave);

    std::shared_ptr<Prefetcher> prefetcher_;
    std::unique_ptr<DetailTiles> detail_;
    std::filesystem::path lastShown_;  // the picture shown before the one coming
    std::mutex pendingMutex_;
    Pending pending_;
};
