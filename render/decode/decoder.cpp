#include "render/decode/decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QSysInfo>

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/page_warmer.h"
#include "render/decode/jpeg2000_codestream.h"
#include "render/decode/jpeg2000_decoder.h"
#include "render/decode/jpeg_decoder.h"
#include "render/decode/png_decoder.h"
#include "render/decode/render_log.h"
#include "render/decode/stream_decoder.h"
#include "render/geometry/fit_geometry.h"

namespace {

// The formats Qt may decode for us. Qt's plugins read more (SVG, ICO, TGA, ...), but the
// picture list admits only these, and a file named .jpg must not reach, say, the SVG renderer.
constexpr std::array<const char*, 5> kQtFormats = {"jpeg", "png", "gif", "bmp", "tiff"};

// Header dimensions: nonsense fails, a real picture too large for us is out of memory.
DecodeStatus checkDimensions(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0)
        return DecodeStatus::Failed;
    const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4;
    return bytes <= Image::maxPictureBytes() ? DecodeStatus::Ok : DecodeStatus::OutOfMemory;
}

// A JPEG 2000 level larger than this is shown a level coarser first.
constexpr int64_t kCoarseFirstPixels = int64_t{4} << 20;

// DCT scaling reduces a JPEG by up to 8, levels 0 to 3.
constexpr int32_t kJpegDctLevels = 3;

bool isJpeg(std::span<const uint8_t> data) {
    return data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// Real progressive pictures have about ten scans. The JPEG libraries sweep the whole frame
// once per scan, even an empty one, so a small file of thousands of empty scans would keep
// the decoder busy for minutes; such a file is refused before decoding.
constexpr size_t kMaxJpegScans = 100;

bool isRestartOrStuffing(uint8_t second) {
    return second == 0x00 || (second >= 0xD0 && second <= 0xD7);
}

bool isProgressiveFrame(uint8_t marker) {
    return marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
}

// Counts the start-of-scan markers by walking the marker segments and skipping each scan's
// entropy-coded data, up to the end marker; linear in the size, never reads past the span.
// A progressive frame counts as scanned more than once however many scans it holds: libjpeg
// keeps its whole coefficient buffer all the same.
size_t countJpegScans(std::span<const uint8_t> data) {
    size_t scans = 0;
    size_t at = 2;
    bool progressive = false;
    while (at + 1 < data.size() && scans <= kMaxJpegScans) {
        const uint8_t marker = data[at + 1];
        if (data[at] != 0xFF || marker == 0xFF || marker == 0x01 || isRestartOrStuffing(marker)) {
            ++at;  // a fill byte, a stray byte or a marker without a length
            continue;
        }
        if (marker == 0xD9 || at + 3 >= data.size())
            break;
        progressive = progressive || isProgressiveFrame(marker);
        at += 2 + (size_t{data[at + 2]} << 8 | data[at + 3]);
        if (marker != 0xDA)
            continue;
        ++scans;
        // The scan's data ends at the first 0xFF that starts neither a restart marker nor a
        // stuffed byte; memchr finds the candidates far faster than a loop over every byte.
        while (at + 1 < data.size()) {
            const auto* mark = static_cast<const uint8_t*>(
                std::memchr(data.data() + at, 0xFF, data.size() - 1 - at));
            if (mark == nullptr) {
                at = data.size() - 1;
                break;
            }
            at = static_cast<size_t>(mark - data.data());
            if (!isRestartOrStuffing(data[at + 1]))
                break;
            ++at;
        }
    }
    return progressive ? std::max<size_t>(scans, 2) : scans;
}

// Qt refuses images over 128 MB by default. Its check counts its own intermediate format,
// which for 16-bit-per-channel pictures is 8 bytes a pixel, so it gets twice our own bound;
// our bound on the final 32-bit picture is checked separately before reading.
void raiseQtAllocationLimit() {
    static std::once_flag once;
    std::call_once(once, [] {
        const uint64_t mib = 2 * uint64_t{Image::maxPictureBytes()} >> 20;
        QImageReader::setAllocationLimit(
            static_cast<int>(std::min<uint64_t>(mib, std::numeric_limits<int>::max())));
    });
}

// Brings any decoded QImage to the holder's two formats: straight ARGB32 when the picture
// has alpha (palette transparency included), RGB32 otherwise. RGB32 and straight ARGB32
// pass without a copy.
DecodeStatus adoptDecoded(QImage&& image, Image& out) {
    const QImage::Format target =
        image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if (image.format() != target)
        image.convertTo(target);
    if (image.isNull() || image.format() != target)
        return DecodeStatus::OutOfMemory;
    return out.adopt(std::move(image)) ? DecodeStatus::Ok : DecodeStatus::Failed;
}

DecodeStatus decodeWithQt(std::span<const uint8_t> data, Image& out) {
    raiseQtAllocationLimit();
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                               static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return DecodeStatus::Failed;
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(false);
    const QByteArray format = reader.format();
    if (std::none_of(kQtFormats.begin(), kQtFormats.end(),
                     [&](const char* known) { return format == known; })) {
        qCDebug(lcRender) << "not a picture format we decode:" << format;
        return DecodeStatus::Failed;
    }
    // The header's claim is checked before Qt allocates anything for the pixels: its own
    // picture, in the format the header names (a 16-bit PNG's is 8 bytes a pixel), and ours,
    // converted from it, are held at once.
    const QSize size = reader.size();
    if (size.isValid()) {
        if (const DecodeStatus status = checkDimensions(size.width(), size.height());
            status != DecodeStatus::Ok)
            return status;
        const QImage::Format qtFormat = reader.imageFormat();
        const uint64_t pixels = uint64_t(size.width()) * uint64_t(size.height());
        const uint64_t qtBytes = qtFormat == QImage::Format_Invalid ||
                                         qtFormat == QImage::Format_RGB32 ||
                                         qtFormat == QImage::Format_ARGB32
                                     ? 0
                                     : pixels * QImage::toPixelFormat(qtFormat).bitsPerPixel() / 8;
        if (pixels * 4 + qtBytes > Image::maxPictureBytes())
            return DecodeStatus::OutOfMemory;
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        qCDebug(lcRender) << "decoding failed:" << reader.errorString();
        return DecodeStatus::Failed;
    }
    return adoptDecoded(std::move(image), out);
}

struct TurboDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// The area for a picture of width x height, kept in known; false when the decode is no longer
// wanted.
bool askArea(const FitAreaSource& area, int32_t width, int32_t height,
             std::optional<FitArea>& known) {
    known = area(width, height);
    if (!known)
        qCDebug(lcRender) << "decode no longer wanted";
    return known.has_value();
}

// TurboJPEG's whole-frame call can't be stopped and checks no memory of its own, so it takes
// only what it decodes in a few tens of milliseconds: one scan of at most this many pixels. A
// picture scanned more than once is read whole before its first row, into a coefficient buffer
// of the whole picture at any scale; it and larger ones go through libjpeg's scanlines, which
// honour the stop token and count that buffer against the budget.
constexpr int64_t kTurboJpegMaxPixels = int64_t{8} << 20;

// Decodes a JPEG straight into the holder's pixels, asking for the area once its header gives
// its size. Returns nothing when TurboJPEG can't be had; Qt decodes it then.
std::optional<DecodeStatus> decodeWithTurboJpeg(std::span<const uint8_t> data, size_t scans,
                                                Image& out, const FitAreaSource& area,
                                                std::optional<FitArea>& known,
                                                const std::stop_token& stop) {
    std::unique_ptr<void, TurboDeleter> handle(tjInitDecompress());
    if (!handle)
        return std::nullopt;
    const auto* jpeg = data.data();
    const auto jpegSize = static_cast<unsigned long>(data.size());
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg, jpegSize, &width, &height, &subsampling,
                            &colourspace) != 0) {
        // TurboJPEG refuses samplings it has no name for (a K sampled unlike Y); libjpeg
        // decodes them, and says whether the header is really broken.
        PictureHeader header;
        if (readJpegHeader(data, header) != DecodeStatus::Ok ||
            !askArea(area, header.width, header.height, known))
            return DecodeStatus::Failed;
        return decodeJpegLevel(data, levelWithinBudget(header.width, header.height, *known), out,
                               stop);
    }
    if (!askArea(area, width, height, known))
        return DecodeStatus::Failed;
    const int32_t level = levelWithinBudget(width, height, *known);
    // Deeper than DCT scaling goes, the rows are reduced as they are decoded. TurboJPEG gives
    // CMYK and YCCK only as raw CMYK; the scanlines convert them as Qt's reader would.
    if (level > kJpegDctLevels || scans > 1 || colourspace == TJCS_CMYK ||
        colourspace == TJCS_YCCK || int64_t{width} * height > kTurboJpegMaxPixels)
        return decodeJpegLevel(data, level, out, stop);
    // TurboJPEG rounds a scaled size up, as the level's size does.
    const int scaledWidth = levelExtent(width, level);
    const int scaledHeight = levelExtent(height, level);
    if (const DecodeStatus status = checkDimensions(scaledWidth, scaledHeight);
        status != DecodeStatus::Ok)
        return status;
    if (!out.create(scaledWidth, scaledHeight, false))
        return DecodeStatus::OutOfMemory;
    out.setFullSize(width, height);
    // RGB32 is a native 0xFFRRGGBB word, so its byte order follows the machine's.
    const int pixelFormat = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? TJPF_BGRX : TJPF_XRGB;
    // A warning (a truncated scan, stray bytes) still leaves every row written, as Qt's
    // reader does for the same file; only a hard error fails.
    const PageWarmer warmer(out.row(0), static_cast<size_t>(out.pitch()) * scaledHeight);
    if (tjDecompress2(handle.get(), jpeg, jpegSize, out.row(0), scaledWidth, out.pitch(),
                      scaledHeight, pixelFormat, 0) != 0 &&
        tjGetErrorCode(handle.get()) != TJERR_WARNING) {
        qCDebug(lcRender) << "jpeg decoding failed:" << tjGetErrorStr2(handle.get());
        out.destroy();
        return DecodeStatus::Failed;
    }
    return DecodeStatus::Ok;
}

bool startsWith(std::span<const uint8_t> data, std::string_view prefix) {
    return data.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), data.begin(),
                      [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
}

// Whether the head of a file opens a format one of our decoders reads: what the content says,
// not the name, so a film or an archive named like a picture is never read further.
bool claimedByADecoder(std::span<const uint8_t> head) {
    using namespace std::string_view_literals;
    return isJpeg(head) || isPng(head) || isJpeg2000(head) || startsWith(head, "GIF8"sv) ||
           startsWith(head, "BM"sv) || startsWith(head, "II*\0"sv) || startsWith(head, "MM\0*"sv) ||
           startsWith(head, "II+\0"sv) || startsWith(head, "MM\0+"sv);
}

// Failed for a head no decoder claims; OutOfMemory when its header shows the decoder's own
// buffers alone would exceed the budget at any level.
DecodeStatus claimHead(std::span<const uint8_t> head) {
    if (!claimedByADecoder(head))
        return DecodeStatus::Failed;
    std::optional<uint64_t> decoderBytes;
    if (isJpeg(head))
        decoderBytes = jpegCoefficientBytes(head);
    else if (isJpeg2000(head))
        decoderBytes = jpeg2000_detail::headerStructureBytes(head);
    if (decoderBytes && *decoderBytes > Image::maxPictureBytes()) {
        qCDebug(lcRender) << "its decoder would take" << *decoderBytes << "bytes";
        return DecodeStatus::OutOfMemory;
    }
    return DecodeStatus::Ok;
}

}  // namespace

DecodeStatus readPictureFile(const std::filesystem::path& file, FileBytes& bytes,
                             FileVersion* version) {
    std::optional<RegularFile> opened = RegularFile::open(file);
    if (!opened)
        return DecodeStatus::Failed;
    if (version)
        *version = opened->version();
    // The head alone first: a file no decoder claims costs one small read and no more memory.
    const uint64_t length = opened->size();
    std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(length, kPictureHeadBytes)));
    head.resize(opened->readAt(0, head));
    if (const DecodeStatus claim = claimHead(head); claim != DecodeStatus::Ok)
        return claim;
    // Read whole, a file may be larger than the budget of pictures held: a picture too large
    // to hold is read as a stream from it.
    if (length > Image::maxFileBytes())
        return DecodeStatus::OutOfMemory;
    bytes.data.reset(new (std::nothrow) uint8_t[std::max<uint64_t>(length, 1)]);
    if (!bytes.data)
        return DecodeStatus::OutOfMemory;
    std::memcpy(bytes.data.get(), head.data(), head.size());
    bytes.size = head.size();
    // The file may have shrunk since it was measured; what was read is what we have.
    if (head.size() < length)
        bytes.size += opened->readAt(head.size(), {bytes.data.get() + head.size(),
                                                   static_cast<size_t>(length) - head.size()});
    return DecodeStatus::Ok;
}

int32_t levelFor(int32_t width, int32_t height, FitArea area) {
    if (width <= 0 || height <= 0 || area.width <= 0 || area.height <= 0)
        return 0;
    // The fitted picture in both orientations, measured along the picture's own axes.
    const PixelRect upright =
        destinationRect(fitPicture(width, height, area.width, area.height), 1.0f, 0.0f, 0.0f);
    const PixelRect turned =
        destinationRect(fitPicture(height, width, area.width, area.height), 1.0f, 0.0f, 0.0f);
    const int64_t needWidth = std::max(upright.width, turned.height);
    const int64_t needHeight = std::max(upright.height, turned.width);
    int32_t level = 0;
    while (level < kMaxLevel && levelExtent(width, level + 1) >= needWidth &&
           levelExtent(height, level + 1) >= needHeight)
        ++level;
    return level;
}

int32_t levelWithinBudget(int32_t width, int32_t height, FitArea area) {
    int32_t level = levelFor(width, height, area);
    if (area.width <= 0 || area.height <= 0)
        return level;
    while (level < kMaxLevel && uint64_t{4} * static_cast<uint64_t>(levelExtent(width, level)) *
                                        static_cast<uint64_t>(levelExtent(height, level)) >
                                    Image::maxPictureBytes())
        ++level;
    return level;
}

int32_t reductionFor(int32_t width, int32_t height, FitArea area) {
    return 1 << std::min(levelFor(width, height, area), kJpegDctLevels);
}

namespace {

DecodeStatus decodeOverBudget(std::span<const uint8_t> data, FitArea area, Image& out,
                              const std::stop_token& stop) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data.data()),
                                               static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    if (area.width <= 0 || area.height <= 0 || !buffer.open(QIODevice::ReadOnly))
        return DecodeStatus::OutOfMemory;
    const QSize size = QImageReader(&buffer).size();
    const int32_t level = levelWithinBudget(size.width(), size.height(), area);
    if (!size.isValid() || level == 0)
        return DecodeStatus::OutOfMemory;
    return decodeStreamedLevel(data, level, out, stop).value_or(DecodeStatus::OutOfMemory);
}

// The level of a JPEG 2000 picture for area; 0 when its header can't be read, so that the
// decode says why.
int32_t jpeg2000Level(std::span<const uint8_t> data, FitArea area) {
    PictureHeader header;
    if (area.width <= 0 || readJpeg2000Header(data, header) != DecodeStatus::Ok)
        return 0;
    const int32_t level = levelWithinBudget(header.width, header.height, area);
    // Each level down halves a JPEG 2000 decode about twice over: a photo's fit comes a level
    // coarser first, in a fraction of the time, and its tiles sharpen it (DetailTiles).
    const int64_t pixels =
        int64_t{levelExtent(header.width, level)} * int64_t{levelExtent(header.height, level)};
    return pixels > kCoarseFirstPixels && level < header.nativeLevels ? level + 1 : level;
}

// Our PNG path inflates the whole image data in one call, and Qt's readers decode in one call:
// neither sees the stop token meanwhile, so each takes only what it decodes in a few tens of
// milliseconds. A larger PNG, BMP or TIFF is read as a stream, whole, the stop token seen every
// few rows; kinds the stream doesn't read go the usual way.
constexpr int64_t kFastPngMaxPixels = int64_t{12} << 20;
constexpr int64_t kQtMaxPixels = int64_t{8} << 20;

std::optional<DecodeStatus> decodeLargeAsStream(std::span<const uint8_t> data, Image& out,
                                                const std::stop_token& stop) {
    PictureHeader header;
    if (isJpeg(data) || isJpeg2000(data) ||
        readStreamedHeader(data, header) != std::optional(DecodeStatus::Ok) ||
        int64_t{header.width} * header.height <= (isPng(data) ? kFastPngMaxPixels : kQtMaxPixels))
        return std::nullopt;
    return decodeStreamedLevel(data, 0, out, stop);
}

// Our PNG path comes first: it needs neither the area nor the application, so it never waits
// for them; a JPEG asks for the area once its header gives its size. The signatures tested are
// disjoint, so the order changes no result.
DecodeStatus decodeData(std::span<const uint8_t> data, Image& out, const FitAreaSource& area,
                        const std::stop_token& stop) {
    out.destroy();
    DecodeStatus status = DecodeStatus::Failed;
    std::optional<FitArea> known;
    if (std::optional<DecodeStatus> streamed = decodeLargeAsStream(data, out, stop)) {
        status = *streamed;
    } else if (std::optional<DecodeStatus> fast;
               isPng(data) && (fast = decodePngFast(data, out, stop))) {
        status = *fast;
    } else if (const size_t scans = isJpeg(data) ? countJpegScans(data) : 0;
               scans > kMaxJpegScans) {
        qCDebug(lcRender) << "jpeg with more than" << kMaxJpegScans << "scans refused";
    } else if (std::optional<DecodeStatus> turbo;
               isJpeg(data) && (turbo = decodeWithTurboJpeg(data, scans, out, area, known, stop))) {
        status = *turbo;
    } else if (known || askArea(area, 0, 0, known)) {
        status = isJpeg2000(data)
                     ? decodeJpeg2000Level(data, jpeg2000Level(data, *known), out, stop)
                     : decodeWithQt(data, out);
    }
    // Too large to hold whole: a PNG, BMP or TIFF is read as a stream, its rows reduced to the
    // level for the area as they arrive.
    if (status == DecodeStatus::OutOfMemory && (known || askArea(area, 0, 0, known)))
        status = decodeOverBudget(data, *known, out, stop);
    if (status != DecodeStatus::Ok)
        out.destroy();
    return status;
}

}  // namespace

FitAreaSource fixedArea(FitArea area) {
    return [area](int32_t, int32_t) { return std::optional<FitArea>(area); };
}

DecodeStatus decodePictureData(std::span<const uint8_t> data, Image& out, FitArea area) {
    return decodeData(data, out, fixedArea(area), {});
}

DecodeStatus decodePictureData(std::span<const uint8_t> data, Image& out, const FitAreaSource& area,
                               std::stop_token stop) {
    return decodeData(data, out, area, stop);
}

DecodeStatus decodePicture(const std::filesystem::path& file, Image& out, FitArea area) {
    return decodePicture(file, out, fixedArea(area));
}

DecodeStatus decodePicture(const std::filesystem::path& file, Image& out, const FitAreaSource& area,
                           std::stop_token stop) {
    out.destroy();
    FileBytes bytes;
    if (const DecodeStatus status = readPictureFile(file, bytes); status != DecodeStatus::Ok) {
        qCDebug(lcRender) << "cannot read" << file.c_str();
        return status;
    }
    if (stop.stop_requested())
        return DecodeStatus::Cancelled;
    return decodeData(bytes.span(), out, area, stop);
}

DecodeStatus readPictureHeader(std::span<const uint8_t> data, PictureHeader& header) {
    if (isJpeg2000(data))
        return readJpeg2000Header(data, header);
    if (isJpeg(data)) {
        const DecodeStatus status = readJpegHeader(data, header);
        header.sequential = true;
        return status;
    }
    return readStreamedHeader(data, header).value_or(DecodeStatus::Failed);
}

DecodeStatus decodePictureRegion(std::span<const uint8_t> data, int32_t level,
                                 const PixelRect& region, Image& out, std::stop_token stop) {
    out.destroy();
    if (isJpeg2000(data))
        return decodeJpeg2000Region(data, level, region, out, std::move(stop));
    if (isJpeg(data) && countJpegScans(data) <= kMaxJpegScans)
        return decodeJpegRegion(data, level, region, out, std::move(stop));
    return decodeStreamedRegion(data, level, region, out, std::move(stop))
        .value_or(DecodeStatus::Failed);
}

DecodeStatus decodePictureLevel(std::span<const uint8_t> data, int32_t level, Image& out,
                                std::stop_token stop) {
    out.destroy();
    if (isJpeg2000(data))
        return decodeJpeg2000Level(data, level, out, std::move(stop));
    if (isJpeg(data) && countJpegScans(data) <= kMaxJpegScans)
        return decodeJpegLevel(data, level, out, std::move(stop));
    return decodeStreamedLevel(data, level, out, std::move(stop)).value_or(DecodeStatus::Failed);
}
