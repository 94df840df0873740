// The viewer window's operations of the command table that are one call each.
#include "app/about_dialog.h"
#include "app/picture_surface.h"
#include "app/picture_view.h"
#include "app/viewer_state.h"
#include "app/viewer_window.h"
#include "commands/shell_actions.h"
#include "commands/slideshow.h"
#include "render/render_pipeline.h"

void ViewerWindow::rotateLeft() {
    view_->render(1, kRotateLeft);
}

void ViewerWindow::rotateRight() {
    view_->render(1, kRotateRight);
}

void ViewerWindow::showNext() {
    step(1);
}

void ViewerWindow::showPrevious() {
    step(-1);
}

void ViewerWindow::zoomIn() {
    zoomBy(ZoomStep::Op::In, surface_->cursor());
}

void ViewerWindow::zoomOut() {
    zoomBy(ZoomStep::Op::Out, surface_->cursor());
}

void ViewerWindow::openWith() {
    ::openWith(viewer.list);
}

void ViewerWindow::toggleSlideshow() {
    slideshow_->isRunning() ? stopSlideshow() : startSlideshow();
}

void ViewerWindow::toggleBackground() {
    viewer.render.backgroundLevel = toggledBackground(viewer.render.backgroundLevel);
    redraw();
}

void ViewerWindow::showProperties() {
    ::showProperties(viewer.list);
}

void ViewerWindow::printPicture() {
    ::printPicture(viewer.list);
}

void ViewerWindow::openWebSite() {
    ::openWebSite(viewer.list);
}

void ViewerWindow::showAbout() {
    AboutDialog(this).exec();
}
