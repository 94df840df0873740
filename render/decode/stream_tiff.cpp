#include "render/decode/stream_tiff.h"

#include <QImage>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "render/decode/render_log.h"

namespace stream_detail {

namespace {

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
    QImage line(reinterpret_cast<uchar*>(row), width, 1, qsizetype{width} * 4,
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

}  // namespace

std::unique_ptr<StreamSource> tiffStreamSource(std::span<const uint8_t> data) {
    return isTiff(data) ? std::make_unique<TiffSource>() : nullptr;
}

}  // namespace stream_detail
