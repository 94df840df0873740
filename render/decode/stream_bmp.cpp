#include "render/decode/stream_bmp.h"

#include <array>
#include <limits>
#include <vector>

namespace stream_detail {

namespace {

constexpr uint32_t kBmpRgb = 0;
constexpr uint32_t kBmpBitfields = 3;

uint32_t littleEndian16(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8;
}

uint32_t littleEndian32(const uint8_t* p) {
    return littleEndian16(p) | littleEndian16(p + 2) << 16;
}

// A channel's mask as a shift: only whole bytes are streamed, which Qt's reader takes as they
// are; other masks Qt scales by its own rules, left to it.
std::optional<uint32_t> byteMaskShift(uint32_t mask) {
    for (uint32_t shift = 0; shift <= 24; shift += 8) {
        if (mask == 0xFFu << shift)
            return shift;
    }
    return std::nullopt;
}

class BmpSource final : public StreamSource {
  public:
    std::optional<DecodeStatus> open(std::span<const uint8_t> data) override {
        constexpr size_t kFileHeader = 14;
        if (data.size() < kFileHeader + 4)
            return DecodeStatus::Failed;
        const uint8_t* bytes = data.data();
        const uint32_t infoSize = littleEndian32(bytes + kFileHeader);
        if (infoSize != 40 && infoSize != 108 && infoSize != 124)
            return std::nullopt;
        if (data.size() < kFileHeader + infoSize)
            return DecodeStatus::Failed;
        const auto width = static_cast<int32_t>(littleEndian32(bytes + 18));
        const auto signedHeight = static_cast<int32_t>(littleEndian32(bytes + 22));
        const uint32_t planes = littleEndian16(bytes + 26);
        bits_ = littleEndian16(bytes + 28);
        const uint32_t compression = littleEndian32(bytes + 30);
        const uint32_t coloursUsed = littleEndian32(bytes + 46);
        if (planes != 1 || (bits_ != 8 && bits_ != 24 && bits_ != 32) ||
            !(compression == kBmpRgb || (compression == kBmpBitfields && bits_ == 32)))
            return std::nullopt;
        if (width <= 0 || signedHeight == 0 || signedHeight == std::numeric_limits<int32_t>::min())
            return DecodeStatus::Failed;
        topDown_ = signedHeight < 0;
        const int32_t height = topDown_ ? -signedHeight : signedHeight;

        size_t at = kFileHeader + infoSize;
        if (compression == kBmpBitfields) {
            const uint8_t* masks = bytes + kFileHeader + 40;
            if (infoSize == 40) {
                if (data.size() < at + 12)
                    return DecodeStatus::Failed;
                at += 12;
            }
            const uint32_t alphaMask = infoSize == 40 ? 0 : littleEndian32(masks + 12);
            const std::array<uint32_t, 4> fields = {littleEndian32(masks + 8),
                                                    littleEndian32(masks + 4),
                                                    littleEndian32(masks), alphaMask};
            for (size_t c = 0; c < 4; ++c) {
                if (c == 3 && alphaMask == 0)
                    break;
                const std::optional<uint32_t> shift = byteMaskShift(fields[c]);
                if (!shift)
                    return std::nullopt;
                shifts_[c] = *shift;
            }
            alpha_ = alphaMask != 0;
        }
        if (bits_ == 8) {
            const uint32_t colours = coloursUsed != 0 ? coloursUsed : 256;
            if (colours > 256 || data.size() < at + 4 * size_t{colours})
                return DecodeStatus::Failed;
            // An index past the colours is opaque black, as Qt converts it.
            palette_.fill(0xFF000000u);
            for (uint32_t i = 0; i < colours; ++i, at += 4)
                palette_[i] = argb(255, bytes[at + 2], bytes[at + 1], bytes[at]);
        }
        // The pixels start at the header's offset unless it points into the headers.
        const uint32_t offset = littleEndian32(bytes + 10);
        if (offset <= uint32_t{std::numeric_limits<int32_t>::max()} && offset > at)
            at = offset;
        stride_ = (static_cast<size_t>(width) * bits_ + 31) / 32 * 4;
        if (at > data.size() || (data.size() - at) / stride_ < static_cast<size_t>(height))
            return DecodeStatus::Failed;
        pixels_ = data.data() + at;
        width_ = width;
        height_ = height;
        return DecodeStatus::Ok;
    }

    // Rows are addressable: those outside the part are never touched.
    DecodeStatus read(LevelWriter& writer, const std::stop_token& stop) override {
        std::vector<uint32_t> words(static_cast<size_t>(writer.columns()));
        for (int32_t y = writer.top(); y < writer.bottom(); ++y) {
            if ((y - writer.top()) % kBatchRows == 0 && stop.stop_requested())
                return DecodeStatus::Cancelled;
            const uint8_t* row =
                pixels_ + stride_ * static_cast<size_t>(topDown_ ? y : height_ - 1 - y);
            for (int32_t i = 0; i < writer.columns(); ++i) {
                const size_t x = static_cast<size_t>(writer.left()) + static_cast<size_t>(i);
                if (bits_ == 8) {
                    words[i] = palette_[row[x]];
                } else if (bits_ == 24) {
                    const uint8_t* p = row + 3 * x;
                    words[i] = argb(255, p[2], p[1], p[0]);
                } else {
                    const uint32_t p = littleEndian32(row + 4 * x);
                    words[i] = argb(alpha_ ? p >> shifts_[3] & 0xFF : 255, p >> shifts_[2] & 0xFF,
                                    p >> shifts_[1] & 0xFF, p >> shifts_[0] & 0xFF);
                }
            }
            writer.add(words.data());
        }
        return DecodeStatus::Ok;
    }

  private:
    const uint8_t* pixels_ = nullptr;
    size_t stride_ = 0;
    uint32_t bits_ = 0;
    bool topDown_ = false;
    // Channel shifts for 32-bit pixels: blue, green, red, alpha; alpha only from bit fields.
    std::array<uint32_t, 4> shifts_ = {0, 8, 16, 24};
    std::array<uint32_t, 256> palette_{};
};

bool isBmp(std::span<const uint8_t> data) {
    return data.size() >= 2 && data[0] == 'B' && data[1] == 'M';
}

}  // namespace

std::unique_ptr<StreamSource> bmpStreamSource(std::span<const uint8_t> data) {
    return isBmp(data) ? std::make_unique<BmpSource>() : nullptr;
}

}  // namespace stream_detail
