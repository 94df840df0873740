#include "render/jpeg2000_decoder.h"

#include <openjpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "render/render_log.h"

namespace {

constexpr std::array<uint8_t, 12> kJp2Signature = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                   0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::array<uint8_t, 4> kJ2kSignature = {0xFF, 0x4F, 0xFF, 0x51};
constexpr int kMaxComponents = 4;

bool startsWith(std::span<const uint8_t> data, std::span<const uint8_t> prefix) {
    return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

// OpenJPEG pulls its input through these callbacks; every read is clamped to the span.
struct MemorySource {
    std::span<const uint8_t> data;
    size_t pos = 0;
};

OPJ_SIZE_T readSource(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* source = static_cast<MemorySource*>(user);
    const size_t left = source->data.size() - source->pos;
    if (left == 0)
        return static_cast<OPJ_SIZE_T>(-1);  // end of stream as OpenJPEG expects it
    const size_t count = std::min<size_t>(bytes, left);
    std::memcpy(buffer, source->data.data() + source->pos, count);
    source->pos += count;
    return count;
}

OPJ_OFF_T skipSource(OPJ_OFF_T bytes, void* user) {
    auto* source = static_cast<MemorySource*>(user);
    const auto size = static_cast<OPJ_OFF_T>(source->data.size());
    const auto pos = static_cast<OPJ_OFF_T>(source->pos);
    const OPJ_OFF_T target = std::clamp<OPJ_OFF_T>(bytes > size ? size : pos + bytes, 0, size);
    source->pos = static_cast<size_t>(target);
    return target - pos;
}

OPJ_BOOL seekSource(OPJ_OFF_T offset, void* user) {
    auto* source = static_cast<MemorySource*>(user);
    if (offset < 0 || static_cast<uint64_t>(offset) > source->data.size())
        return OPJ_FALSE;
    source->pos = static_cast<size_t>(offset);
    return OPJ_TRUE;
}

void logError(const char* message, void*) {
    qCDebug(lcRender, "openjpeg: %s", message);
}

struct CodecDeleter {
    void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
    void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;

StreamPtr openStream(MemorySource& source) {
    StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
    if (!stream)
        return nullptr;
    opj_stream_set_user_data(stream.get(), &source, nullptr);
    opj_stream_set_user_data_length(stream.get(), source.data.size());
    opj_stream_set_read_function(stream.get(), readSource);
    opj_stream_set_skip_function(stream.get(), skipSource);
    opj_stream_set_seek_function(stream.get(), seekSource);
    return stream;
}

CodecPtr openCodec(std::span<const uint8_t> data) {
    CodecPtr codec(
        opj_create_decompress(startsWith(data, kJp2Signature) ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
    if (!codec)
        return nullptr;
    opj_set_error_handler(codec.get(), logError, nullptr);
    opj_set_warning_handler(codec.get(), logError, nullptr);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    if (!opj_setup_decoder(codec.get(), &parameters))
        return nullptr;
    const unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    opj_codec_set_threads(codec.get(), static_cast<int>(threads));
    return codec;
}

// The header alone decides whether the picture may be decoded at all: the output and the
// decoder's own 32-bit samples of the components we use must both stay bounded.
DecodeStatus checkHeader(const opj_image_t& header) {
    if (header.x1 <= header.x0 || header.y1 <= header.y0 || header.numcomps == 0 ||
        header.comps == nullptr)
        return DecodeStatus::Failed;
    const uint64_t width = header.x1 - header.x0;
    const uint64_t height = header.y1 - header.y0;
    const uint64_t bound = Image::maxPictureBytes();
    if (width > INT32_MAX || height > INT32_MAX || width * height * 4 > bound)
        return DecodeStatus::OutOfMemory;
    uint64_t sampleBytes = 0;
    const uint32_t used = std::min<uint32_t>(header.numcomps, kMaxComponents);
    for (uint32_t c = 0; c < used; ++c) {
        const opj_image_comp_t& comp = header.comps[c];
        if (comp.dx == 0 || comp.dy == 0 || comp.prec == 0 || comp.prec > 31)
            return DecodeStatus::Failed;
        sampleBytes += (width / comp.dx + 1) * (height / comp.dy + 1) * 4;
    }
    return sampleBytes > 2 * bound ? DecodeStatus::OutOfMemory : DecodeStatus::Ok;
}

// Maps each output column (or row) to the nearest component sample at or before it on the
// reference grid, clamped into the component, so odd offsets and sizes never read outside.
std::vector<uint32_t> sampleIndex(uint32_t origin, uint32_t count, uint32_t step,
                                  uint32_t compOrigin, uint32_t compCount) {
    std::vector<uint32_t> index(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t k = (uint64_t{origin} + i) / step;
        index[i] = static_cast<uint32_t>(
            std::clamp<int64_t>(static_cast<int64_t>(k) - compOrigin, 0, compCount - 1));
    }
    return index;
}

// Brings one component's samples to 0..255 through a lookup-free shift or stretch.
struct Scale {
    int32_t offset = 0;  // added first: makes signed samples unsigned
    int32_t shift = 0;   // for precisions above 8 bits
    int32_t maxValue = 255;

    explicit Scale(const opj_image_comp_t& comp)
        : offset(comp.sgnd ? 1 << (comp.prec - 1) : 0),
          shift(comp.prec > 8 ? static_cast<int32_t>(comp.prec) - 8 : 0),
          maxValue(comp.prec < 8 ? (1 << comp.prec) - 1 : 255) {}

    uint8_t operator()(int32_t sample) const {
        int64_t v = (int64_t{sample} + offset) >> shift;
        v = std::clamp<int64_t>(v, 0, maxValue);
        return static_cast<uint8_t>(maxValue == 255 ? v : (v * 255 + maxValue / 2) / maxValue);
    }
};

struct Plane {
    const int32_t* data = nullptr;
    uint32_t stride = 0;
    std::vector<uint32_t> columns;
    std::vector<uint32_t> rows;
    Scale scale;

    Plane(const opj_image_t& image, const opj_image_comp_t& comp)
        : data(comp.data),
          stride(comp.w),
          columns(sampleIndex(image.x0, image.x1 - image.x0, comp.dx, comp.x0, comp.w)),
          rows(sampleIndex(image.y0, image.y1 - image.y0, comp.dy, comp.y0, comp.h)),
          scale(comp) {}

    uint8_t at(uint32_t x, uint32_t y) const {
        return scale(data[size_t{rows[y]} * stride + columns[x]]);
    }
};

uint8_t clampByte(float v) {
    return static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
}

void yccToRgb(uint8_t& c0, uint8_t& c1, uint8_t& c2) {
    const float y = c0, cb = c1 - 128.0f, cr = c2 - 128.0f;
    c0 = clampByte(y + 1.402f * cr);
    c1 = clampByte(y - 0.344136f * cb - 0.714136f * cr);
    c2 = clampByte(y + 1.772f * cb);
}

// Chroma stored at a coarser grid than luma is YCbCr even when the file does not say so.
bool isYcc(const opj_image_t& image) {
    if (image.numcomps < 3)
        return false;
    if (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC)
        return true;
    const opj_image_comp_t* c = image.comps;
    return image.color_space == OPJ_CLRSPC_UNSPECIFIED &&
           (c[1].dx > c[0].dx || c[1].dy > c[0].dy || c[2].dx > c[0].dx || c[2].dy > c[0].dy);
}

bool convertToImage(const opj_image_t& image, Image& out) {
    const uint32_t count = std::min<uint32_t>(image.numcomps, kMaxComponents);
    std::vector<Plane> planes;
    for (uint32_t c = 0; c < count; ++c) {
        const opj_image_comp_t& comp = image.comps[c];
        if (comp.data == nullptr || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0 ||
            comp.prec == 0 || comp.prec > 31)
            return false;
        planes.emplace_back(image, comp);
    }
    const bool cmyk = image.color_space == OPJ_CLRSPC_CMYK && count == 4;
    const bool alpha = (count == 2 || count == 4) && !cmyk;
    const bool ycc = isYcc(image);
    const auto width = static_cast<int32_t>(image.x1 - image.x0);
    const auto height = static_cast<int32_t>(image.y1 - image.y0);
    if (!out.create(width, height, alpha))
        return false;
    for (int32_t y = 0; y < height; ++y) {
        auto* pixel = reinterpret_cast<uint32_t*>(out.row(y));
        for (int32_t x = 0; x < width; ++x) {
            uint8_t r = planes[0].at(x, y), g = r, b = r, a = 255;
            if (count >= 3) {
                g = planes[1].at(x, y);
                b = planes[2].at(x, y);
                if (ycc)
                    yccToRgb(r, g, b);
            }
            if (cmyk) {
                const int k = 255 - planes[3].at(x, y);
                r = static_cast<uint8_t>((255 - r) * k / 255);
                g = static_cast<uint8_t>((255 - g) * k / 255);
                b = static_cast<uint8_t>((255 - b) * k / 255);
            } else if (alpha) {
                a = planes[count - 1].at(x, y);
            }
            // QImage's 32-bit formats hold a native 0xAARRGGBB word per pixel.
            pixel[x] = uint32_t{a} << 24 | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
        }
    }
    return true;
}

}  // namespace

bool isJpeg2000(std::span<const uint8_t> data) {
    return startsWith(data, kJp2Signature) || startsWith(data, kJ2kSignature);
}

DecodeStatus decodeJpeg2000(std::span<const uint8_t> data, Image& out) {
    out.destroy();
    if (!isJpeg2000(data))
        return DecodeStatus::Failed;
    MemorySource source{data};
    StreamPtr stream = openStream(source);
    CodecPtr codec = openCodec(data);
    if (!stream || !codec)
        return DecodeStatus::Failed;
    opj_image_t* rawHeader = nullptr;
    if (!opj_read_header(stream.get(), codec.get(), &rawHeader) || rawHeader == nullptr)
        return DecodeStatus::Failed;
    ImagePtr image(rawHeader);
    if (const DecodeStatus status = checkHeader(*image); status != DecodeStatus::Ok)
        return status;
    if (image->numcomps > kMaxComponents) {
        std::array<OPJ_UINT32, kMaxComponents> first = {0, 1, 2, 3};
        if (!opj_set_decoded_components(codec.get(), kMaxComponents, first.data(), OPJ_FALSE))
            return DecodeStatus::Failed;
    }
    if (!opj_decode(codec.get(), stream.get(), image.get()) ||
        !opj_end_decompress(codec.get(), stream.get()))
        return DecodeStatus::Failed;
    if (!convertToImage(*image, out)) {
        out.destroy();
        return DecodeStatus::Failed;
    }
    return DecodeStatus::Ok;
}

DecodeStatus readJpeg2000Header(std::span<const uint8_t>, PictureHeader&) {
    return DecodeStatus::Failed;
}

DecodeStatus decodeJpeg2000Level(std::span<const uint8_t>, int32_t, Image&, std::stop_token) {
    return DecodeStatus::Failed;
}

DecodeStatus decodeJpeg2000Region(std::span<const uint8_t>, int32_t, const PixelRect&, Image&,
                                  std::stop_token) {
    return DecodeStatus::Failed;
}
