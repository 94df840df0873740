#pragma once

#include <QImage>

#include <cstdint>

#include "catalogue/picture_list.h"
#include "render/render_state.h"

// Where the render draws: the picture surface's own image, in device pixels.
class RenderTarget {
  public:
    virtual ~RenderTarget() = default;
    // The surface's pixels (Format_RGB32, the surface's size in device pixels), or nullptr
    // when there is no surface to draw on.
    virtual QImage* surfacePixels() = 0;
    // Puts what was drawn on the screen at once (a synchronous repaint).
    virtual void present() = 0;
};

// Puts the current picture on the surface. reload 0 decodes the current file anew and turns
// it by its EXIF orientation (rotation is then ignored); any other value redraws the decoded
// picture after turning it by rotation (RotationCode). Returns 0 when a picture was drawn,
// -1 otherwise: empty list (only the background is painted), failed decode or a redraw after
// one (nothing is painted), or no surface.
int32_t renderPicture(const PictureListState& list, RenderState& state, RenderTarget* target,
                      int32_t reload, int32_t rotation);

// Paints the whole surface in the background grey and presents it.
void fillBackground(const RenderState& state, RenderTarget* target);
