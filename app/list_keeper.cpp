#include "app/list_keeper.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <utility>

#include "app/picture_view.h"
#include "app/step_hold.h"
#include "app/viewer_state.h"
#include "catalogue/picture_catalogue.h"
#include "render/source/picture_source.h"

namespace {

const QEvent::Type kArrived = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

bool waitsForList(CommandId command, bool slideshowRunning) {
    return command == ID_OPEN_WITH || command == ID_PROPERTIES || command == ID_PRINT ||
           (command == ID_SLIDESHOW_TOGGLE && !slideshowRunning);
}

ListKeeper::ListKeeper(std::shared_ptr<PictureCatalogue> catalogue, PictureView* view,
                       QObject* parent)
    : QObject(parent),
      catalogue_(catalogue ? std::move(catalogue) : std::make_shared<PictureCatalogue>()),
      view_(view) {
    // The event carries nothing and is posted under our lock, which event() takes before it
    // reads the event; the arrivals themselves cross under the catalogue's lock.
    catalogue_->setOnArrived([this] {
        std::lock_guard lock(wakeMutex_);
        QCoreApplication::postEvent(this, new QEvent(kArrived));
    });
}

ListKeeper::~ListKeeper() {
    catalogue_->setOnArrived({});
}

bool ListKeeper::event(QEvent* event) {
    std::unique_lock lock(wakeMutex_);
    const bool arrived = event->type() == kArrived;
    lock.unlock();
    if (!arrived)
        return QObject::event(event);
    takeArrived();
    return true;
}

void ListKeeper::open(const std::optional<std::filesystem::path>& requested,
                      const std::filesystem::path& programFolder) {
    if (catalogue_->opens() == asked_)
        catalogue_->open(requested, programFolder);
    asked_ = catalogue_->opens();
    // A drop: what the user does next is for the folder dropped. The first picture meanwhile
    // takes input at once.
    if (asked_ > 1)
        holdInput();
    // Opens wait for the one under way (see defer), so this is the index of a final list.
    indexBefore_ = viewer.list.currentIndex;
    likely_ = likelyCurrent(requested);
    viewer.list.pictureList.clear();
    if (likely_)
        viewer.list.pictureList.push_back(*likely_);
    viewer.list.currentIndex = 0;
}

void ListKeeper::remove(const std::filesystem::path& file) {
    // The confirmation ran events, a drop among them: its folder may still be coming.
    if (defer([this, file] { remove(file); }))
        return;
    const auto& entries = viewer.list.pictureList;
    if (std::any_of(entries.begin(), entries.end(),
                    [&](const auto& entry) { return entry.native() == file.native(); })) {
        catalogue_->remove(file);
        holdInput();
    }
}

void ListKeeper::holdInput() {
    heldForList_ = view_->hold().holdFor([] {}, kListWaitMs) || heldForList_;
}

bool ListKeeper::defer(std::function<void()> action) {
    if (!catalogue_->underWay() && (waiting_.empty() || running_))
        return false;
    // The first to wait holds the input behind it for a while; past that it waits alone here.
    if (waiting_.empty() && view_->hold().holdFor(action, kListWaitMs)) {
        heldForList_ = true;
        return true;
    }
    waiting_.push_back(std::move(action));
    return true;
}

bool ListKeeper::waiting() const {
    return catalogue_->underWay() || !waiting_.empty();
}

void ListKeeper::takeArrived() {
    for (PictureCatalogue::Arrival& arrival : catalogue_->take()) {
        if (arrival.opened) {
            viewer.list.currentIndex = indexBefore_;
            adoptOpenedFolder(viewer.list, std::move(*arrival.opened));
            // An index the new list doesn't hold goes to its first picture.
            if (!currentPath(viewer.list))
                viewer.list.currentIndex = 0;
            const std::filesystem::path* current = currentPath(viewer.list);
            const bool same = likely_ && current && *current == *likely_;
            likely_.reset();
            if (same)
                view_->neighboursKnown();
            else if (view_->rendered())
                emit currentChanged(true);
        }
        if (arrival.removed && removeEntry(viewer.list, *arrival.removed)) {
            view_->source().forget(*arrival.removed);
            emit currentChanged(false);
        }
    }
    if (catalogue_->underWay())
        return;
    // Only one of the two holds anything: the hold while it has time, then this queue.
    if (std::exchange(heldForList_, false))
        view_->hold().release();
    runWaiting();
}

// Runs what waited, in order, until the list is under way again (a drop). An action that comes
// while a step waits for its picture goes behind it, as input does.
void ListKeeper::runWaiting() {
    if (running_)
        return;
    running_ = true;
    bool ran = false;
    while (!catalogue_->underWay() && !waiting_.empty()) {
        std::function<void()> action = std::move(waiting_.front());
        waiting_.pop_front();
        ran = true;
        if (!view_->hold().holding() || !view_->hold().holdStep(action))
            action();
    }
    running_ = false;
    // A slideshow's step that waited here may have drawn nothing (an empty list).
    if (ran && !view_->busy())
        emit view_->settled();
}
