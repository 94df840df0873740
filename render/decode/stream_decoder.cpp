#include "render/decode/stream_decoder.h"

#include <QImage>

#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/page_warmer.h"
#include "render/decode/levels.h"
#include "render/decode/png_decoder.h"
#include "render/decode/render_log.h"
#include "render/decode/row_reducer.h"

namespace {

// Rows converted between two looks at the stop token.
constexpr int32_t kBatchRows = 16;

// The part of a level being made from rows that arrive top to bottom. A part's edges fall on
// the level's box blocks, so reducing only the picture's rows and columns under it gives
// exactly the same part of the whole level.
class LevelWriter {
  public:
    // Clips part (in the level's pixels; none: the whole level, marked with the picture's size)
    // to the level of a width x height picture and creates it: Failed when nothing is left,
    // OutOfMemory when it is too large.
    DecodeStatus start(int32_t width, int32_t height, int32_t level, const PixelRect* part,
                       bool alpha) {
        const int32_t levelWidth = levelExtent(width, level);
        const int32_t levelHeight = levelExtent(height, level);
        const PixelRect clipped =
            part ? clip(*part, levelWidth, levelHeight) : PixelRect{0, 0, levelWidth, levelHeight};
        if (clipped.width == 0 || clipped.height == 0)
            return DecodeStatus::Failed;
        const uint64_t bytes = uint64_t{static_cast<uint32_t>(clipped.width)} *
                               static_cast<uint32_t>(clipped.height) * 4;
        if (bytes > Image::maxPictureBytes() ||
            !image_.create(clipped.width, clipped.height, alpha))
            return DecodeStatus::OutOfMemory;
        if (!part)
            image_.setFullSize(width, height);
        left_ = clipped.x << level;
        top_ = clipped.y << level;
        right_ = static_cast<int32_t>(
            std::min(int64_t{clipped.x + clipped.width} << level, int64_t{width}));
        bottom_ = static_cast<int32_t>(
            std::min(int64_t{clipped.y + clipped.height} << level, int64_t{height}));
        reducer_.emplace(image_, right_ - left_, bottom_ - top_, level);
        warmer_.emplace(image_.row(0), static_cast<size_t>(image_.pitch()) * clipped.height);
        return DecodeStatus::Ok;
    }

    // The picture's rows [top, bottom) and columns [left, right) the part covers.
    int32_t top() const { return top_; }
    int32_t bottom() const { return bottom_; }
    int32_t left() const { return left_; }
    int32_t right() const { return right_; }
    int32_t columns() const { return right_ - left_; }

    // The next row from top() on, its pixels from left() to right() alone.
    void add(const uint32_t* row) { reducer_->addRow(row); }
    void finish(Image& out) {
        warmer_.reset();
        out.swap(image_);
    }

  private:
    static PixelRect clip(const PixelRect& part, int32_t levelWidth, int32_t levelHeight) {
        const int32_t x = std::clamp(part.x, 0, levelWidth);
        const int32_t y = std::clamp(part.y, 0, levelHeight);
        const auto right =
            std::clamp(int64_t{part.x} + std::max(part.width, 0), int64_t{x}, int64_t{levelWidth});
        const auto bottom = std::clamp(int64_t{part.y} + std::max(part.height, 0), int64_t{y},
                                       int64_t{levelHeight});
        return {x, y, static_cast<int32_t>(right - x), static_cast<int32_t>(bottom - y)};
    }

    Image image_;
    int32_t left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    std::optional<RowReducer> reducer_;
    std::optional<PageWarmer> warmer_;  // declared last: it ends before the pixels go
};

// A format read as a stream. open() reads the header and tells whether the picture is
// streamed; read() then sends the writer the rows and columns it wants, top to bottom.
class StreamSource {
  public:
    virtual ~StreamSource() = default;
    // nullopt for a kind not streamed, Failed for a damaged header, Ok with the size known.
    virtual std::optional<DecodeStatus> open(std::span<const uint8_t> data) = 0;
    virtual DecodeStatus read(LevelWriter& writer, const std::stop_token& stop) = 0;

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool alpha() const { return alpha_; }

  protected:
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool alpha_ = false;
};

uint32_t argb(uint32_t alpha, uint32_t red, uint32_t green, uint32_t blue) {
    return alpha << 24 | red << 16 | green << 8 | blue;
}

// ---- PNG --------------------------------------------------------------------------------------

using namespace png::colour;

uint32_t bigEndian16(const uint8_t* p) {
    return uint32_t{p[0]} << 8 | p[1];
}

// 16-bit samples to 8 bits as Qt narrows its 16-bit formats: x / 257 rounded.
uint32_t narrow(uint32_t sample) {
    return (sample + 128) / 257;
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

// ---- BMP --------------------------------------------------------------------------------------

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
                const auto x = static_cast<size_t>(writer.left() + i);
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

// ---- TIFF -------------------------------------------------------------------------------------

// The largest band of rows (a strip or a row of tiles, as 32-bit pixels) read at once, and the
// largest single allocation libtiff may make: a picture stored in larger pieces can't be
// streamed with bounded memory.
constexpr uint64_t kMaxBandBytes = uint64_t{32} << 20;
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{256} << 20;

struct MemoryFile {
    std::span<const uint8_t> data;
    uint64_t at = 0;
};

MemoryFile& fileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

tmsize_t readMemory(thandle_t handle, void* to, tmsize_t size) {
    MemoryFile& file = fileOf(handle);
    if (size <= 0 || file.at >= file.data.size())
        return 0;
    const auto count = static_cast<size_t>(
        std::min<uint64_t>(static_cast<uint64_t>(size), file.data.size() - file.at));
    std::memcpy(to, file.data.data() + file.at, count);
    file.at += count;
    return static_cast<tmsize_t>(count);
}

tmsize_t writeMemory(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = fileOf(handle);
    const uint64_t base = whence == SEEK_CUR ? file.at : whence == SEEK_END ? file.data.size() : 0;
    if (offset > std::numeric_limits<uint64_t>::max() - base)
        return static_cast<toff_t>(-1);
    file.at = base + offset;
    return file.at;
}

int closeMemory(thandle_t) {
    return 0;
}

toff_t sizeOfMemory(thandle_t handle) {
    return fileOf(handle).data.size();
}

// libtiff reads strips and tiles straight from the bytes instead of copying them.
int mapMemory(thandle_t handle, void** base, toff_t* size) {
    const MemoryFile& file = fileOf(handle);
    *base = const_cast<uint8_t*>(file.data.data());
    *size = file.data.size();
    return 1;
}

void unmapMemory(thandle_t, void*, toff_t) {}

int quietHandler(TIFF*, void*, const char* module, const char* format, va_list args) {
    char message[256];
    std::vsnprintf(message, sizeof message, format, args);
    qCDebug(lcRender) << "libtiff:" << module << message;
    return 1;
}

bool isTiff(std::span<const uint8_t> data) {
    if (data.size() < 4)
        return false;
    const bool little =
        data[0] == 'I' && data[1] == 'I' && (data[2] == 42 || data[2] == 43) && data[3] == 0;
    const bool big =
        data[0] == 'M' && data[1] == 'M' && data[2] == 0 && (data[3] == 42 || data[3] == 43);
    return little || big;
}

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// libtiff's RGBA words (red in the low byte) to the holder's; pictures whose alpha libtiff
// gives premultiplied are brought back to straight alpha by Qt's own conversion, as Qt's reader
// and the holder's conversion do for the whole picture.
void toPixelWords(uint32_t* row, int32_t width, bool premultiplied) {
    for (int32_t x = 0; x < width; ++x) {
        const uint32_t p = row[x];
        row[x] = (p & 0xFF00FF00u) | (p & 0xFF) << 16 | (p >> 16 & 0xFF);
    }
    if (!premultiplied)
        return;
    QImage line(reinterpret_cast<uchar*>(row), width, 1, width * 4,
                QImage::Format_ARGB32_Premultiplied);
    line.convertTo(QImage::Format_ARGB32);
    if (line.constBits() != reinterpret_cast<const uchar*>(row))
        std::memcpy(row, line.constBits(), static_cast<size_t>(width) * 4);
}

// The kinds Qt's reader reads as raw samples (16-bit grey, 8-bit palette) and narrows
// otherwise than libtiff's RGBA interface: read a scanline at a time and converted as Qt does.
// Fills table for a palette; false for other kinds.
bool readsDirectly(TIFF* tiff, uint16_t photometric, uint16_t bits, uint16_t samples,
                   std::array<uint32_t, 256>& table) {
    if (samples != 1)
        return false;
    if (photometric == PHOTOMETRIC_MINISBLACK && bits == 16)
        return true;
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (photometric != PHOTOMETRIC_PALETTE || bits != 8 ||
        !TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
        return false;
    // Qt keeps the high byte of each 16-bit entry.
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = argb(255, red[i] >> 8, green[i] >> 8, blue[i] >> 8);
    return true;
}

// Streams through libtiff's RGBA interface, which Qt's reader uses for most kinds and which
// gives the same pixels for 8-bit grey and 16-bit RGB, read by Qt directly; 16-bit grey and
// 8-bit palettes are read as Qt reads them (above). 16-bit RGB with alpha and floating point,
// whose raw samples Qt keeps, are left to it, and so are tiled pictures of the direct kinds.
class TiffSource final : public StreamSource {
  public:
    std::optional<DecodeStatus> open(std::span<const uint8_t> data) override {
        options_.reset(TIFFOpenOptionsAlloc());
        if (!options_)
            return DecodeStatus::OutOfMemory;
        TIFFOpenOptionsSetMaxSingleMemAlloc(options_.get(), kMaxTiffAllocation);
        TIFFOpenOptionsSetErrorHandlerExtR(options_.get(), quietHandler, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options_.get(), quietHandler, nullptr);
        file_.data = data;
        tiff_.reset(TIFFClientOpenExt("memory", "r", &file_, readMemory, writeMemory, seekMemory,
                                      closeMemory, sizeOfMemory, mapMemory, unmapMemory,
                                      options_.get()));
        if (!tiff_)
            return DecodeStatus::Failed;
        TIFF* const t = tiff_.get();
        uint32_t width = 0, height = 0;
        uint16_t photometric = 0;
        if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height) ||
            !TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) || width == 0 || height == 0 ||
            width > uint32_t{std::numeric_limits<int32_t>::max()} ||
            height > uint32_t{std::numeric_limits<int32_t>::max()})
            return DecodeStatus::Failed;
        uint16_t samples = 1, sampleFormat = SAMPLEFORMAT_UINT;
        TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits_);
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(t, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation_);
        if (sampleFormat == SAMPLEFORMAT_IEEEFP ||
            (bits_ == 16 && samples >= 4 && photometric == PHOTOMETRIC_RGB))
            return std::nullopt;
        direct_ = readsDirectly(t, photometric, bits_, samples, table_);
        char message[1024] = {};
        if ((direct_ && TIFFIsTiled(t)) || (!direct_ && !TIFFRGBAImageOK(t, message)))
            return std::nullopt;

        if (TIFFIsTiled(t)) {
            TIFFGetField(t, TIFFTAG_TILELENGTH, &band_);
            TIFFGetField(t, TIFFTAG_TILEWIDTH, &tileWidth_);
            if (tileWidth_ == 0)
                return DecodeStatus::Failed;
        } else {
            TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &band_);
        }
        band_ = std::clamp<uint32_t>(band_, 1, height);
        // A direct read holds one row of pixels, the RGBA interface a band of them.
        if (uint64_t{width} * (direct_ ? 1 : band_) * 4 > kMaxBandBytes)
            return std::nullopt;
        // As Qt's reader: four samples or more have alpha, premultiplied when the file says
        // what its extra sample is.
        alpha_ = samples >= 4;
        uint16_t extraCount = 0;
        uint16_t* extra = nullptr;
        premultiplied_ = alpha_ && TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) &&
                         extraCount > 0 && extra[0] != EXTRASAMPLE_UNSPECIFIED;
        width_ = static_cast<int32_t>(width);
        height_ = static_cast<int32_t>(height);
        return DecodeStatus::Ok;
    }

    DecodeStatus read(LevelWriter& writer, const std::stop_token& stop) override {
        return direct_ ? readScanlines(writer, stop) : readBands(writer, stop);
    }

  private:
    // Strips above the part are skipped: reading starts at the strip holding its first row.
    DecodeStatus readScanlines(LevelWriter& writer, const std::stop_token& stop) {
        TIFF* const t = tiff_.get();
        const tmsize_t lineBytes = TIFFScanlineSize(t);
        if (lineBytes < static_cast<tmsize_t>(width_) * (bits_ / 8))
            return DecodeStatus::Failed;
        std::vector<uint8_t> line(static_cast<size_t>(lineBytes));
        std::vector<uint32_t> words(static_cast<size_t>(writer.columns()));
        const auto first = static_cast<uint32_t>(writer.top()) / band_ * band_;
        for (auto y = first; y < static_cast<uint32_t>(writer.bottom()); ++y) {
            if ((y - first) % kBatchRows == 0 && stop.stop_requested())
                return DecodeStatus::Cancelled;
            if (TIFFReadScanline(t, line.data(), y, 0) < 0)
                return DecodeStatus::Failed;
            if (y < static_cast<uint32_t>(writer.top()))
                continue;
            for (size_t i = 0; i < words.size(); ++i) {
                const size_t x = static_cast<size_t>(writer.left()) + i;
                if (bits_ == 8) {
                    words[i] = table_[line[x]];
                } else {
                    uint16_t sample = 0;
                    std::memcpy(&sample, &line[2 * x], 2);  // libtiff gives native order
                    words[i] = 0xFF000000u | narrow(sample) * 0x010101u;
                }
            }
            writer.add(words.data());
        }
        return DecodeStatus::Ok;
    }

    // Whole bands, as the whole picture is read, so libtiff converts each strip or tile
    // alike; bands outside the part are skipped, and so are tiles left and right of it.
    DecodeStatus readBands(LevelWriter& writer, const std::stop_token& stop) {
        uint32_t from = 0, to = static_cast<uint32_t>(width_);
        if (tileWidth_ != 0) {
            from = static_cast<uint32_t>(writer.left()) / tileWidth_ * tileWidth_;
            to = static_cast<uint32_t>(std::min<uint64_t>(
                (uint64_t{static_cast<uint32_t>(writer.right())} + tileWidth_ - 1) / tileWidth_ *
                    tileWidth_,
                to));
        }
        const uint32_t rasterWidth = to - from;
        char message[1024] = {};
        TIFFRGBAImage image{};
        if (!TIFFRGBAImageBegin(&image, tiff_.get(), 1, message)) {
            qCDebug(lcRender) << "tiff:" << message;
            return DecodeStatus::Failed;
        }
        // The stored orientation asked for, so that rows come in file order, as Qt reads them.
        image.req_orientation = orientation_;
        std::vector<uint32_t> raster(size_t{rasterWidth} * band_);
        const auto top = static_cast<uint32_t>(writer.top());
        const auto bottom = static_cast<uint32_t>(writer.bottom());
        DecodeStatus status = DecodeStatus::Ok;
        for (uint32_t y = top / band_ * band_; y < bottom; y += band_) {
            if (stop.stop_requested()) {
                status = DecodeStatus::Cancelled;
                break;
            }
            const uint32_t rows = std::min(band_, static_cast<uint32_t>(height_) - y);
            image.row_offset = static_cast<int>(y);
            image.col_offset = static_cast<int>(from);
            if (!TIFFRGBAImageGet(&image, raster.data(), rasterWidth, rows)) {
                status = DecodeStatus::Failed;
                break;
            }
            for (uint32_t i = std::max(y, top) - y; i < std::min(rows, bottom - y); ++i) {
                uint32_t* row = raster.data() + size_t{i} * rasterWidth +
                                (static_cast<uint32_t>(writer.left()) - from);
                toPixelWords(row, writer.columns(), premultiplied_);
                writer.add(row);
            }
        }
        TIFFRGBAImageEnd(&image);
        return status;
    }

    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options_;
    MemoryFile file_;
    std::unique_ptr<TIFF, TiffCloser> tiff_;  // after the file it reads
    uint16_t bits_ = 1;
    uint16_t orientation_ = 0;
    bool direct_ = false;
    bool premultiplied_ = false;
    uint32_t band_ = 0;       // rows read at once: a strip or a row of tiles
    uint32_t tileWidth_ = 0;  // 0 for strips
    std::array<uint32_t, 256> table_{};
};

bool isBmp(std::span<const uint8_t> data) {
    return data.size() >= 2 && data[0] == 'B' && data[1] == 'M';
}

std::unique_ptr<StreamSource> sourceFor(std::span<const uint8_t> data) {
    if (isPng(data))
        return std::make_unique<PngSource>();
    if (isBmp(data))
        return std::make_unique<BmpSource>();
    if (isTiff(data))
        return std::make_unique<TiffSource>();
    return nullptr;
}

// The pipeline both entry points share: the whole level is the part that covers it.
std::optional<DecodeStatus> stream(std::span<const uint8_t> data, int32_t level,
                                   const PixelRect* part, Image& out, const std::stop_token& stop) {
    std::unique_ptr<StreamSource> source = sourceFor(data);
    if (!source)
        return std::nullopt;
    Image image;
    std::optional<DecodeStatus> status =
        level < 0 || level > kMaxLevel ? DecodeStatus::Failed : source->open(data);
    if (status == DecodeStatus::Ok) {
        LevelWriter writer;
        status = writer.start(source->width(), source->height(), level, part, source->alpha());
        if (status == DecodeStatus::Ok)
            status = source->read(writer, stop);
        if (status == DecodeStatus::Ok)
            writer.finish(image);
    }
    if (!status)
        return std::nullopt;
    out.destroy();
    if (*status == DecodeStatus::Ok)
        out.swap(image);
    return status;
}

}  // namespace

std::optional<DecodeStatus> readStreamedHeader(std::span<const uint8_t> data,
                                               PictureHeader& header) {
    const std::unique_ptr<StreamSource> source = sourceFor(data);
    if (!source)
        return std::nullopt;
    const std::optional<DecodeStatus> status = source->open(data);
    if (status == DecodeStatus::Ok)
        header = {source->width(), source->height(), 0, true, true};
    return status;
}

std::optional<DecodeStatus> decodeStreamedLevel(std::span<const uint8_t> data, int32_t level,
                                                Image& out, std::stop_token stop) {
    return stream(data, level, nullptr, out, stop);
}

std::optional<DecodeStatus> decodeStreamedRegion(std::span<const uint8_t> data, int32_t level,
                                                 const PixelRect& region, Image& out,
                                                 std::stop_token stop) {
    return stream(data, level, &region, out, stop);
}
