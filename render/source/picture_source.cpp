#include "render/source/picture_source.h"

#include <QMetaObject>

PictureSource::PictureSource(std::shared_ptr<Prefetcher> prefetcher, QObject* parent)
    : QObject(parent),
      prefetcher_(prefetcher ? std::move(prefetcher) : std::make_shared<Prefetcher>()),
      detail_(std::make_unique<DetailTiles>()) {
    // The worker only leaves the file in arrived_ and wakes this thread: the source, and
    // whoever listens, live here. The wake-up carries no data, so what crosses the threads
    // passes through our own lock alone; one still queued when the source goes is dropped
    // with it.
    prefetcher_->setOnDecoded([this](const std::filesystem::path& file) {
        bool wake = false;
        {
            std::lock_guard lock(arrivedMutex_);
            wake = arrived_.empty();
            arrived_.push_back(file);
        }
        if (wake)
            QMetaObject::invokeMethod(this, &PictureSource::deliverArrived, Qt::QueuedConnection);
    });
    detail_->setOnArrived([this] {
        QMetaObject::invokeMethod(this, &PictureSource::detailArrived, Qt::QueuedConnection);
    });
}

void PictureSource::deliverArrived() {
    std::vector<std::filesystem::path> arrived;
    {
        std::lock_guard lock(arrivedMutex_);
        arrived.swap(arrived_);
    }
    for (const std::filesystem::path& file : arrived)
        emit pictureArrived(file);
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
    if (std::optional<PreparedPicture> ready = prefetcher_->takeResult(*file))
        return ready;
    // With the picture after it, so that steps in a row find their pictures decoding; not
    // the one behind, nor the picture just left (a folder of two), whose decode would only
    // take a core from this one.
    std::vector<std::filesystem::path> files{*file};
    if (!neighbours.empty() && neighbours.front() != lastShown_)
        files.push_back(neighbours.front());
    prefetcher_->await(*file);
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
