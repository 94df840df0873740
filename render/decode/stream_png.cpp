#include "render/decode/stream_png.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <vector>

#include "render/decode/png_decoder.h"
#include "render/decode/render_log.h"

namespace stream_detail {

namespace {

using namespace png::colour;

uint32_t bigEndian16(const uint8_t* p) {
    return uint32_t{p[0]} << 8 | p[1];
}

// One row of unfiltered samples to pixel words, as Qt's reader and the holder's conversion
// give them: palettes and low-depth grey through the colour table Qt builds, 16-bit samples
// through Qt's 64-bit formats, tRNS as libpng applies it for Qt.
class PngPixels {
  public:
    // False for the kinds Qt's reader and ours might read differently: a tRNS key beyond the
    // depth, 16-bit RGB with a key, and a 1-bit palette of one entry (whose missing second
    // colour Qt makes up).
    bool setUp(const png::Chunks& chunks) {
        header_ = chunks.header;
        const std::span<const uint8_t> trns = chunks.transparency;
        keyed_ = !trns.empty() && header_.colourType != kPalette;
        if (keyed_) {
            for (size_t i = 0; i + 1 < trns.size(); i += 2)
                key_[i / 2] = bigEndian16(&trns[i]);
        }
        const uint8_t depth = header_.bitDepth;
        switch (header_.colourType) {
            case kPalette:
                if (depth == 1 && chunks.palette.size() < 6)
                    return false;
                way_ = Way::Table;
                paletteTable(chunks.palette, trns);
                return true;
            case kGrey:
                if (depth == 16) {
                    way_ = Way::Wide;
                    alpha_ = keyed_;
                } else if (depth == 8 && !keyed_) {
                    way_ = Way::Common;
                } else {
                    way_ = Way::Table;
                    greyTable();
                }
                return true;
            case kRgb:
                alpha_ = keyed_;
                // Qt reads 16-bit RGB with a key as 64-bit pixels that libpng fills with
                // 48-bit ones, askew; that picture is left to it.
                if (depth == 16) {
                    way_ = Way::Wide;
                    return !keyed_;
                }
                way_ = keyed_ ? Way::RgbKey : Way::Common;
                // libpng compares 8-bit samples with the key's low byte alone.
                return std::all_of(key_.begin(), key_.end(), [](uint32_t k) { return k < 256; });
            default:
                alpha_ = true;
                way_ = depth == 16 ? Way::Wide : Way::Common;
                return true;
        }
    }

    bool alpha() const { return alpha_; }

    // Converts count pixels from column first on.
    void convert(const uint8_t* samples, size_t first, size_t count, uint32_t* out) const {
        if (header_.bitDepth >= 8) {
            samples += first * header_.bytesPerPixel;
            first = 0;
        }
        const size_t width = count;
        switch (way_) {
            case Way::Common:
                return png::convertRow(header_.colourType, samples, out, width);
            case Way::Table:
                return unpack(samples, first, out, width);
            case Way::RgbKey:
                for (size_t x = 0; x < width; ++x, samples += 3) {
                    const bool clear =
                        samples[0] == key_[0] && samples[1] == key_[1] && samples[2] == key_[2];
                    out[x] = argb(clear ? 0 : 255, samples[0], samples[1], samples[2]);
                }
                return;
            case Way::Wide:
                return wide(samples, out, width);
        }
    }

  private:
    enum class Way { Common, Table, RgbKey, Wide };

    // Qt reads a palette picture as indexed pixels whose colour table carries tRNS's alphas,
    // and sets an index past the palette to 0.
    void paletteTable(std::span<const uint8_t> palette, std::span<const uint8_t> trns) {
        const size_t entries = std::min<size_t>(palette.size() / 3, size_t{1} << header_.bitDepth);
        alpha_ = std::any_of(trns.begin(), trns.end(), [](uint8_t a) { return a != 255; });
        for (size_t i = 0; i < entries; ++i) {
            const uint32_t a = i < trns.size() ? trns[i] : 255;
            table_[i] = argb(a, palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
        }
        std::fill(table_.begin() + static_cast<ptrdiff_t>(entries), table_.end(), table_[0]);
    }

    // Qt reads low-depth grey, and 8-bit grey with a key, as indexed pixels of evenly spaced
    // greys; the key's entry becomes transparent (white at 1 bit, black otherwise).
    void greyTable() {
        const uint32_t count = 1u << header_.bitDepth;
        for (uint32_t i = 0; i < count; ++i)
            table_[i] = 0xFF000000u | (i * 255 / (count - 1)) * 0x010101u;
        if (keyed_ && key_[0] < count) {
            alpha_ = true;
            table_[key_[0]] = header_.bitDepth == 1 && key_[0] == 1 ? 0x00FFFFFFu : 0;
        }
    }

    void unpack(const uint8_t* samples, size_t first, uint32_t* out, size_t count) const {
        const uint32_t depth = header_.bitDepth;
        if (depth == 8) {
            for (size_t x = 0; x < count; ++x)
                out[x] = table_[samples[x]];
            return;
        }
        const uint32_t mask = (1u << depth) - 1;
        const size_t perByte = 8 / depth;
        for (size_t x = first; x < first + count; ++x) {
            const uint32_t shift = 8 - depth * static_cast<uint32_t>(x % perByte + 1);
            *out++ = table_[samples[x / perByte] >> shift & mask];
        }
    }

    // Grey, grey+alpha, RGB and RGBA at 16 bits; a grey sample equal to the key is
    // transparent, its colour kept, as libpng expands it.
    void wide(const uint8_t* samples, uint32_t* out, size_t width) const {
        const uint8_t type = header_.colourType;
        const size_t channels = type == kGrey ? 1 : type == kGreyAlpha ? 2 : type == kRgb ? 3 : 4;
        const size_t alphaAt = channels % 2 == 0 ? 2 * (channels - 1) : 0;
        const size_t greenAt = channels >= 3 ? 2 : 0, blueAt = channels >= 3 ? 4 : 0;
        for (size_t x = 0; x < width; ++x, samples += 2 * channels) {
            const uint32_t first = bigEndian16(samples);
            uint32_t a = alphaAt ? bigEndian16(samples + alphaAt) : 0xFFFF;
            if (keyed_ && first == key_[0])
                a = 0;
            out[x] = argb(narrow(a), narrow(first), narrow(bigEndian16(samples + greenAt)),
                          narrow(bigEndian16(samples + blueAt)));
        }
    }

    png::Header header_;
    Way way_ = Way::Common;
    bool alpha_ = false;
    bool keyed_ = false;
    std::array<uint32_t, 3> key_{};
    std::array<uint32_t, 256> table_{};
};

// The IDAT payloads inflated a row at a time.
class Inflater {
  public:
    explicit Inflater(const std::vector<std::span<const uint8_t>>& pieces) : pieces_(pieces) {}
    ~Inflater() {
        if (open_)
            inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    DecodeStatus open() {
        const int result = inflateInit(&stream_);
        if (result != Z_OK)
            return result == Z_MEM_ERROR ? DecodeStatus::OutOfMemory : DecodeStatus::Failed;
        open_ = true;
        return DecodeStatus::Ok;
    }

    // Fills size bytes; Failed when the stream is broken or ends first.
    DecodeStatus read(uint8_t* to, size_t size) {
        stream_.next_out = to;
        stream_.avail_out = static_cast<uInt>(size);
        while (stream_.avail_out > 0) {
            if (ended_ || (stream_.avail_in == 0 && !feed()))
                return DecodeStatus::Failed;
            if (const DecodeStatus status = step(); status != DecodeStatus::Ok)
                return status;
        }
        return DecodeStatus::Ok;
    }

    // After the last row: the stream's end and checksum must follow. Data past the rows is
    // ignored, as libpng only warns about it.
    DecodeStatus finish() {
        uint8_t spare[64];
        while (!ended_) {
            stream_.next_out = spare;
            stream_.avail_out = sizeof spare;
            if (stream_.avail_in == 0 && !feed())
                return DecodeStatus::Failed;
            if (const DecodeStatus status = step(); status != DecodeStatus::Ok)
                return status;
            if (stream_.avail_out != sizeof spare)
                return DecodeStatus::Ok;
        }
        return DecodeStatus::Ok;
    }

  private:
    bool feed() {
        while (next_ < pieces_.size()) {
            const std::span<const uint8_t> piece = pieces_[next_++];
            if (piece.empty())
                continue;
            stream_.next_in = const_cast<Bytef*>(piece.data());
            stream_.avail_in = static_cast<uInt>(piece.size());
            return true;
        }
        return false;
    }

    DecodeStatus step() {
        const int result = inflate(&stream_, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            ended_ = true;
        else if (result == Z_MEM_ERROR)
            return DecodeStatus::OutOfMemory;
        else if (result != Z_OK && !(result == Z_BUF_ERROR && stream_.avail_in == 0))
            return DecodeStatus::Failed;
        return DecodeStatus::Ok;
    }

    const std::vector<std::span<const uint8_t>>& pieces_;
    z_stream stream_{};
    size_t next_ = 0;
    bool open_ = false;
    bool ended_ = false;
};

// The zlib stream's first two bytes, wherever the IDATs split them.
std::array<uint8_t, 2> streamHeader(const png::Chunks& chunks) {
    std::array<uint8_t, 2> bytes{};
    size_t got = 0;
    for (const auto& piece : chunks.data)
        for (size_t i = 0; i < piece.size() && got < 2; ++i)
            bytes[got++] = piece[i];
    return bytes;
}

class PngSource final : public StreamSource {
  public:
    std::optional<DecodeStatus> open(std::span<const uint8_t> data) override {
        chunks_ = png::walkChunks(data, true);
        if (chunks_.walk == png::Walk::LeaveToQt)
            return std::nullopt;
        if (chunks_.walk == png::Walk::Broken && chunks_.beforeData)
            return DecodeStatus::Failed;
        if (!pixels_.setUp(chunks_))
            return std::nullopt;
        const png::Header& header = chunks_.header;
        rowBytes_ = 1 + (size_t{header.width} * header.bitsPerPixel + 7) / 8;
        if (!png::withinLibpngDataLimit(chunks_, rowBytes_, rowBytes_ * header.height) ||
            png::windowTooSmall(streamHeader(chunks_), rowBytes_ * header.height))
            return std::nullopt;
        width_ = static_cast<int32_t>(header.width);
        height_ = static_cast<int32_t>(header.height);
        alpha_ = pixels_.alpha();
        return DecodeStatus::Ok;
    }

    // Every row above the part is inflated and unfiltered, as the rows below it depend on it;
    // only the part's columns are converted.
    DecodeStatus read(LevelWriter& writer, const std::stop_token& stop) override {
        if (chunks_.walk == png::Walk::Broken)
            return DecodeStatus::Failed;
        Inflater inflater(chunks_.data);
        if (const DecodeStatus status = inflater.open(); status != DecodeStatus::Ok)
            return status;
        std::vector<uint8_t> rows(2 * rowBytes_);  // this row and the one above, zeros at first
        uint8_t* row = rows.data();
        uint8_t* above = row + rowBytes_;
        std::vector<uint32_t> words(static_cast<size_t>(writer.columns()));
        for (int32_t y = 0; y < writer.bottom(); ++y) {
            if (y % kBatchRows == 0 && stop.stop_requested())
                return DecodeStatus::Cancelled;
            if (const DecodeStatus status = inflater.read(row, rowBytes_);
                status != DecodeStatus::Ok)
                return status;
            if (row[0] > 4) {
                qCDebug(lcRender) << "png row with an unknown filter";
                return DecodeStatus::Failed;
            }
            png::unfilterRow(row[0], row + 1, above + 1, rowBytes_ - 1,
                             chunks_.header.bytesPerPixel);
            if (y >= writer.top()) {
                pixels_.convert(row + 1, static_cast<size_t>(writer.left()), words.size(),
                                words.data());
                writer.add(words.data());
            }
            std::swap(row, above);
        }
        // The stream's end is checked when the last row was read, as the whole decode does.
        return writer.bottom() == height_ ? inflater.finish() : DecodeStatus::Ok;
    }

  private:
    png::Chunks chunks_;
    PngPixels pixels_;
    size_t rowBytes_ = 0;
};

}  // namespace

std::unique_ptr<StreamSource> pngStreamSource(std::span<const uint8_t> data) {
    return isPng(data) ? std::make_unique<PngSource>() : nullptr;
}

}  // namespace stream_detail
