#pragma once

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

#include "render/pixels/pixel_ops.h"
#include "render/render_state.h"
#include "render/source/detail_tiles.h"
#include "render/source/prepared_picture.h"

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

// Draws the current picture, file, on the surface, after turning it by rotation (RotationCode).
// Returns 0 when a picture was drawn, -1 otherwise: no file (an empty list: only the background
// is painted), a failed decode (nothing is painted), a reload still pending (the turn waits for
// its picture) or no surface. Pictures become current through the pending reload
// (beginPendingReload, finishPendingReload), never here. A picture decoded reduced is drawn
// from detail's sharper pixels where a zoom or a larger surface needs them, and enlarged until
// they come (or for good, without detail).
int32_t renderPicture(const std::filesystem::path* file, RenderState& state, RenderTarget* target,
                      int32_t rotation, DetailTiles* detail = nullptr);

// The one way a decoded file becomes the current picture: the state becomes what a reload
// leaves before it draws. The shown picture is dropped first; on success the new one is
// turned by its EXIF orientation when applyExifTurn is set (which puts the zoom back to 1.0
// when it turns) and exifInfo, loadFailed, alphaPremultiplied and the file stamp follow it.
// A failed decode leaves the picture empty and loadFailed set, and returns false.
bool adoptPicture(RenderState& state, PreparedPicture&& prepared, bool applyExifTurn);

// A reload whose picture is decoded elsewhere: drops the shown picture and marks the reload
// of file, the current one, pending (RenderState::pending). Until finishPendingReload, redraws draw
// nothing and turns wait for the picture.
void beginPendingReload(const std::filesystem::path* file, RenderState& state);
// The pending reload's picture: adopted as a reload adopts it, the zoom settled, the turns
// asked for meanwhile applied, then drawn. A picture of any other file than the pending one
// changes nothing and gives -1. Returns what renderPicture returns.
int32_t finishPendingReload(const std::filesystem::path* file, RenderState& state,
                            RenderTarget* target, PreparedPicture&& prepared,
                            DetailTiles* detail = nullptr);

// Applies a zoom operation, remembered while a reload is pending (see PendingReload).
void zoomStep(RenderState& state, const ZoomStep& step);

// Paints the whole surface in the background grey and presents it.
void fillBackground(const RenderState& state, RenderTarget* target);
