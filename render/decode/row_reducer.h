#pragma once

#include <cstdint>
#include <vector>

#include "render/pixels/image.h"

// Reduces a picture by 2^shift along each axis as its rows arrive, top to bottom, holding one
// row of sums and never the picture itself: the way to a level a format cannot make by itself.
// Each output pixel is the box average of the source pixels it covers (fewer at the right and
// bottom edges). Pictures with alpha are averaged by alpha weight, so a transparent pixel's
// colour never bleeds into its neighbours; alpha itself is the plain average.
class RowReducer {
  public:
    // out must already hold levelExtent(sourceWidth, shift) x levelExtent(sourceHeight, shift)
    // pixels; its alpha flag decides the averaging. Rows are written to out as they complete.
    RowReducer(Image& out, int32_t sourceWidth, int32_t sourceHeight, int32_t shift);

    // Adds the next source row: sourceWidth pixels as native 0xAARRGGBB words (straight alpha).
    // Rows past sourceHeight are ignored.
    void addRow(const uint32_t* row);
    int32_t rowsAdded() const { return rowsAdded_; }

  private:
    void emitRow();

    Image& out_;
    int32_t sourceWidth_;
    int32_t sourceHeight_;
    int32_t shift_;
    bool alpha_;
    int32_t rowsAdded_ = 0;
    int32_t rowsInBlock_ = 0;
    std::vector<uint64_t> sums_;  // four per output column: blue, green, red, alpha
};

// Reduces a whole picture by 2^shift into out (created here). Returns false without memory.
bool reducePicture(const Image& in, int32_t shift, Image& out);
