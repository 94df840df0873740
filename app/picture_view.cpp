#include "app/picture_view.h"

#include <utility>

#include "app/picture_surface.h"
#include "app/step_hold.h"
#include "app/viewer_state.h"
#include "platform/print_job.h"
#include "render/render_pipeline.h"
#include "render/source/picture_source.h"

namespace {

// A picture is printed from the deepest level that holds this: about 340 dots an inch on A4.
constexpr FitArea kPrintArea{4096, 4096};

}  // namespace

PictureView::PictureView(PictureSurface* surface, std::shared_ptr<Prefetcher> prefetcher,
                         QObject* parent)
    : QObject(parent),
      surface_(surface),
      source_(new PictureSource(std::move(prefetcher), this)),
      hold_(new StepHold(
          kStepWaitMs, [] { return viewer.render.pending.active; }, this)) {
    surface_->setFillLevel([] { return viewer.render.backgroundLevel; });
    connect(source_, &PictureSource::pictureArrived, this, &PictureView::onPictureArrived);
    connect(surface_, &PictureSurface::firstFrameShown, this, [this] {
        // A step since then has asked for its own neighbours.
        if (std::exchange(neighboursAfterFirstFrame_, false) && !viewer.render.pending.active)
            showCurrent();
    });
    connect(source_, &PictureSource::detailArrived, this, [this] {
        if (!viewer.render.pending.active)
            redraw();
    });
    // Printed as the screen shows it after a reload, through the viewer's own decoders.
    setPrintPictureSource([](const std::string& path) {
        return uprightPicture(std::filesystem::path(path), kPrintArea);
    });
    blankTimer_.setSingleShot(true);
    connect(&blankTimer_, &QTimer::timeout, this, [this] {
        // Nothing of the new picture yet: never the old one under the new title any longer.
        if (viewer.render.pending.active)
            fillBackground(viewer.render, surface_);
    });
}

int PictureView::render(int reload, int rotation) {
    rendered_ = true;
    if (reload != 0 || currentPath(viewer.list) == nullptr)
        return ::renderPicture(currentPath(viewer.list), viewer.render, surface_, rotation,
                               &source_->detail());
    // The shown picture is freed by a worker, so the step doesn't wait for its memory.
    source_->release(std::move(viewer.render.currentPicture));
    source_->detail().clear();
    beginPendingReload(currentPath(viewer.list), viewer.render);
    if (const std::optional<int> drawn = takeIfArrived())
        return *drawn;
    blankTimer_.start(kBlankAfterMs);
    return -1;
}

void PictureView::redraw() {
    render(1, kRotateNone);
}

void PictureView::surfaceResized() {
    if (viewer.render.pending.active) {
        takeIfArrived();
        return;
    }
    showCurrent();
}

void PictureView::neighboursKnown() {
    // A picture still coming, or not on the screen yet, asks for them when it is.
    if (rendered_ && !viewer.render.pending.active && !neighboursAfterFirstFrame_)
        showCurrent();
}

// Tells the source the current picture is shown, so that its neighbours decode for the surface.
void PictureView::showCurrent() {
    const QSize size = surfaceSize();
    source_->shown(currentPath(viewer.list), neighbourPaths(viewer.list, travel_), size.width(),
                   size.height());
}

bool PictureView::busy() const {
    return viewer.render.pending.active || hold_->holding();
}

void PictureView::onPictureArrived(const std::filesystem::path& file) {
    if (viewer.render.pending.active && viewer.render.pending.file == file)
        takeIfArrived();
}

// Asks again for the pending picture, for the surface as it is now, and draws it when it is
// there: then its neighbours decode next, the step waiting for it goes on, and the slideshow's
// pause begins. Nothing means it is still coming, or the file changed since it was read and
// it is being decoded again.
std::optional<int> PictureView::takeIfArrived() {
    const QSize size = surfaceSize();
    const std::filesystem::path* file = currentPath(viewer.list);
    std::vector<std::filesystem::path> neighbours = neighbourPaths(viewer.list, travel_);
    std::optional<PreparedPicture> ready =
        source_->current(file, neighbours, size.width(), size.height());
    if (!ready)
        return std::nullopt;
    const int result =
        finishPendingReload(file, viewer.render, surface_, std::move(*ready), &source_->detail());
    blankTimer_.stop();
    if (surface_->isPainting()) {
        // Drawn inside the window's first paint, which is not on the screen yet: the
        // neighbours' decodes would take a core from it. They begin once it is there.
        neighboursAfterFirstFrame_ = true;
    } else {
        neighboursAfterFirstFrame_ = false;
        source_->shown(file, std::move(neighbours), size.width(), size.height());
    }
    hold_->release();
    emit settled();
    return result;
}

QSize PictureView::surfaceSize() const {
    return surface_->deviceSize();
}
