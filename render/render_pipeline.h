#pragma once

#include <QImage>

#include <cstdint>
#include <functional>
#include <optional>

#include "catalogue/picture_list.h"
#include "render/prepared_picture.h"
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

// Whether the picture of file is drawn blended over the background: a plain case-sensitive
// search of the whole path, folders included, for ".png", ".PNG", ".gif" or ".GIF".
bool usesAlphaPath(const std::filesystem::path& file);

// Where a reload may find the current file already decoded (a prefetch): it gives the
// prepared picture of exactly that file, or nothing, and the render then decodes it itself.
using DecodeSource = std::function<std::optional<PreparedPicture>(const std::filesystem::path&)>;

// Puts the current picture on the surface. reload 0 decodes the current file anew and turns
// it by its EXIF orientation (rotation is then ignored); any other value redraws the decoded
// picture after turning it by rotation (RotationCode). Returns 0 when a picture was drawn,
// -1 otherwise: empty list (only the background is painted), failed decode or a redraw after
// one (nothing is painted), or no surface. A reload asks source first, when there is one; a
// picture from it leaves the state exactly as decoding the file here would.
int32_t renderPicture(const PictureListState& list, RenderState& state, RenderTarget* target,
                      int32_t reload, int32_t rotation, const DecodeSource& source = {});

// Paints the whole surface in the background grey and presents it.
void fillBackground(const RenderState& state, RenderTarget* target);
