#include "catalogue/picture_catalogue.h"

#include "platform/file_worker.h"

PictureCatalogue::PictureCatalogue() : worker_(std::make_unique<FileWorker>()) {}

PictureCatalogue::~PictureCatalogue() {
    // The worker ends before the structure its tasks leave their results in.
    worker_.reset();
}

void PictureCatalogue::open(std::optional<std::filesystem::path> requested,
                            std::filesystem::path programFolder) {
    const auto open = static_cast<uint64_t>(++opens_);
    ++underWay_;
    worker_->post(
        [this, open, requested = std::move(requested), programFolder = std::move(programFolder)] {
            leave({open, {listOpenedFolder(requested, programFolder), std::nullopt}});
        });
}

void PictureCatalogue::remove(std::filesystem::path file) {
    ++underWay_;
    worker_->post([this, file = std::move(file)]() mutable {
        const bool gone = removePictureFile(file);
        leave({0, {std::nullopt, gone ? std::optional(std::move(file)) : std::nullopt}});
    });
}

void PictureCatalogue::leave(Found found) {
    std::lock_guard lock(mutex_);
    found_.push_back(std::move(found));
    if (found_.size() == 1 && onArrived_)
        onArrived_();
}

void PictureCatalogue::setOnArrived(std::function<void()> onArrived) {
    std::lock_guard lock(mutex_);
    onArrived_ = std::move(onArrived);
    if (!found_.empty() && onArrived_)
        onArrived_();
}

std::vector<PictureCatalogue::Arrival> PictureCatalogue::take() {
    std::vector<Found> found;
    {
        std::lock_guard lock(mutex_);
        std::swap(found, found_);
    }
    std::vector<Arrival> arrivals;
    for (Found& each : found) {
        --underWay_;
        const bool superseded = each.arrival.opened && each.open != static_cast<uint64_t>(opens_);
        if (!superseded && (each.arrival.opened || each.arrival.removed))
            arrivals.push_back(std::move(each.arrival));
    }
    return arrivals;
}
