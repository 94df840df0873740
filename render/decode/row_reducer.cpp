#include "render/decode/row_reducer.h"

#include <algorithm>

#include "render/decode/levels.h"

RowReducer::RowReducer(Image& out, int32_t sourceWidth, int32_t sourceHeight, int32_t shift)
    : out_(out),
      sourceWidth_(sourceWidth),
      sourceHeight_(sourceHeight),
      shift_(shift),
      alpha_(out.hasAlpha()),
      sums_(static_cast<size_t>(levelExtent(sourceWidth, shift)) * 4) {}

void RowReducer::addRow(const uint32_t* row) {
    if (rowsAdded_ >= sourceHeight_)
        return;
    const auto outWidth = static_cast<int32_t>(sums_.size() / 4);
    if (shift_ == 0) {
        std::copy(row, row + sourceWidth_, reinterpret_cast<uint32_t*>(out_.row(rowsAdded_)));
        ++rowsAdded_;
        return;
    }
    uint64_t* sum = sums_.data();
    const int32_t block = 1 << shift_;
    for (int32_t ox = 0; ox < outWidth; ++ox, sum += 4) {
        const int32_t end = std::min(sourceWidth_, (ox + 1) * block);
        for (int32_t x = ox * block; x < end; ++x) {
            const uint32_t p = row[x];
            const uint64_t a = alpha_ ? p >> 24 : 1;
            sum[0] += (p & 0xFF) * a;
            sum[1] += (p >> 8 & 0xFF) * a;
            sum[2] += (p >> 16 & 0xFF) * a;
            sum[3] += p >> 24;
        }
    }
    ++rowsAdded_;
    ++rowsInBlock_;
    if (rowsInBlock_ == block || rowsAdded_ == sourceHeight_)
        emitRow();
}

void RowReducer::emitRow() {
    const int32_t outY = (rowsAdded_ - 1) >> shift_;
    auto* out = reinterpret_cast<uint32_t*>(out_.row(outY));
    const auto outWidth = static_cast<int32_t>(sums_.size() / 4);
    const int32_t block = 1 << shift_;
    uint64_t* sum = sums_.data();
    for (int32_t ox = 0; ox < outWidth; ++ox, sum += 4) {
        const uint64_t columns = std::min(sourceWidth_, (ox + 1) * block) - ox * block;
        const uint64_t count = columns * static_cast<uint64_t>(rowsInBlock_);
        const uint64_t alpha = (sum[3] + count / 2) / count;
        // By alpha weight the colour divides by the summed alpha; a fully transparent block
        // keeps black, as premultiplying would leave it.
        const uint64_t weight = alpha_ ? sum[3] : count;
        uint32_t pixel = static_cast<uint32_t>(std::min<uint64_t>(alpha, 255)) << 24;
        if (weight != 0) {
            for (int ch = 0; ch < 3; ++ch)
                pixel |= static_cast<uint32_t>((sum[ch] + weight / 2) / weight) << (8 * ch);
        }
        out[ox] = pixel;
        sum[0] = sum[1] = sum[2] = sum[3] = 0;
    }
    rowsInBlock_ = 0;
}

bool reducePicture(const Image& in, int32_t shift, Image& out) {
    if (in.empty())
        return false;
    Image reduced;
    if (!reduced.create(levelExtent(in.width(), shift), levelExtent(in.height(), shift),
                        in.hasAlpha()))
        return false;
    RowReducer reducer(reduced, in.width(), in.height(), shift);
    for (int32_t y = 0; y < in.height(); ++y)
        reducer.addRow(reinterpret_cast<const uint32_t*>(in.row(y)));
    out.swap(reduced);
    return true;
}
