#include "render/source/picture_source.h"

#include <QMetaObject>

PictureSource::PictureSource(std::shared_ptr<Prefetcher> prefetcher, QObject* parent)
    : QObject(parent),
      prefetcher_(prefetcher ? std::move(prefetcher) : std::make_shared<Prefetcher>()),
      detail_(std::make_unique<DetailTiles>()) {
    // The worker only posts: the source, and whoever listens, live on this thread. A post
    // still queued when the source goes is dropped with it.
    prefetcher_->setOnDecoded([this](const std::filesystem::path& file) {
        QMetaObject::invokeMethod(
            this, [this, file] { emit pictureArrived(file); }, Qt::QueuedConnection);
    });
    detail_->setOnArrived([this] {
        QMetaObject::invokeMethod(
            this, [this] { emit detailArrived(); }, Qt::QueuedConnection);
    });
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
