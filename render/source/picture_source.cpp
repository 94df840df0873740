#include "render/source/picture_source.h"

#include <QCoreApplication>
#include <QEvent>

PictureSource::PictureSource(std::shared_ptr<Prefetcher> prefetcher, QObject* parent)
    : QObject(parent),
      prefetcher_(prefetcher ? std::move(prefetcher) : std::make_shared<Prefetcher>()),
      detail_(std::make_unique<DetailTiles>()) {
    prefetcher_->setOnDecoded([this](const std::filesystem::path& file) {
        wake([&](Pending& pending) { pending.arrived.push_back(file); });
    });
    detail_->setOnArrived([this] { wake([](Pending& pending) { pending.detail = true; }); });
}

namespace {

const QEvent::Type kWakeUp = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// Workers leave what they have for this thread in pending_, under our own lock, and wake it
// with an event that carries nothing: the source, and whoever listens, live here. Only the
// first of several waiting wakes it; an event still queued when the source goes is dropped
// with it. The event is made and posted under the lock, which event() takes before it looks at
// an event, so the hand-off is ordered by a lock the thread sanitizer sees (it sees none of
// Qt's).
void PictureSource::wake(const std::function<void(Pending&)>& leave) {
    std::lock_guard lock(pendingMutex_);
    const bool first = pending_.arrived.empty() && !pending_.detail;
    leave(pending_);
    if (first)
        QCoreApplication::postEvent(this, new QEvent(kWakeUp));
}

bool PictureSource::event(QEvent* event) {
    std::unique_lock lock(pendingMutex_);
    if (event->type() != kWakeUp) {
        lock.unlock();
        return QObject::event(event);
    }
    Pending pending;
    std::swap(pending, pending_);
    lock.unlock();
    for (const std::filesystem::path& file : pending.arrived)
        emit pictureArrived(file);
    if (pending.detail)
        emit detailArrived();
    return true;
}

PictureSource::~PictureSource() {
    detail_->setOnArrived({});
    prefetcher_->setOnDecoded({});
    prefetcher_->clear();
}

std::optional<PreparedPicture> PictureSource::current(
    const std::filesystem::path* file, const std::vector<std::filesystem::path>& neighbours,
    int32_t surfaceWidth, int32_t surfaceHeight) {
    if (file == nullptr)
        return std::nullopt;
    // Awaited first: a picture of it decoded before now is given once a worker has found its
    // file unchanged, which the window's thread never asks the file system itself.
    prefetcher_->setSurface(surfaceWidth, surfaceHeight);
    prefetcher_->await(*file);
    if (std::optional<PreparedPicture> ready = prefetcher_->takeResult(*file))
        return ready;
    // With the picture after it, so that steps in a row find their pictures decoding; not
    // the one behind, nor the picture just left (a folder of two), whose decode would only
    // take a core from this one.
    std::vector<std::filesystem::path> files{*file};
    if (!neighbours.empty() && neighbours.front() != lastShown_)
        files.push_back(neighbours.front());
    prefetcher_->request(std::move(files), surfaceWidth, surfaceHeight);
    return std::nullopt;
}

void PictureSource::shown(const std::filesystem::path* file,
                          std::vector<std::filesystem::path> neighbours, int32_t surfaceWidth,
                          int32_t surfaceHeight) {
    prefetcher_->await({});
    lastShown_ = file ? *file : std::filesystem::path();
    prefetcher_->request(std::move(neighbours), surfaceWidth, surfaceHeight);
}

bool PictureSource::coming(const std::filesystem::path& file) const {
    return prefetcher_->coming(file);
}
