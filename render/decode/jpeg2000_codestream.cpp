#include "render/decode/jpeg2000_codestream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "render/decode/jpeg2000_decoder.h"
#include "render/decode/render_log.h"
#include "render/pixels/image.h"

namespace jpeg2000_detail {

namespace {

constexpr std::array<uint8_t, 12> kJp2Signature = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                                   0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
constexpr std::array<uint8_t, 4> kJ2kSignature = {0xFF, 0x4F, 0xFF, 0x51};

bool startsWith(std::span<const uint8_t> data, std::span<const uint8_t> prefix) {
    return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

// OpenJPEG pulls its input through these callbacks; every read is clamped to the span.
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

uint64_t bigEndian(std::span<const uint8_t> data, size_t at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value = value << 8 | data[at + i];
    return value;
}

// Where a JP2 file's codestream box begins, walking the top-level boxes; nothing when the bytes
// end before it or a box is malformed.
std::optional<size_t> codestreamBoxStart(std::span<const uint8_t> data) {
    constexpr uint32_t kCodestreamBox = 0x6A703263;  // 'jp2c'
    size_t at = 0;
    while (at + 8 <= data.size()) {
        uint64_t length = bigEndian(data, at, 4);
        const auto type = static_cast<uint32_t>(bigEndian(data, at + 4, 4));
        size_t header = 8;
        if (length == 1) {
            if (at + 16 > data.size())
                return std::nullopt;
            length = bigEndian(data, at + 8, 8);
            header = 16;
        }
        if (type == kCodestreamBox)
            return at + header;
        if (length == 0 || length < header || length > data.size() - at)
            return std::nullopt;  // the last box, a malformed one, or one past these bytes
        at += static_cast<size_t>(length);
    }
    return std::nullopt;
}

// OpenJPEG's header read, measured: about 9 KB a tile and 1.1 KB a component of each tile,
// and a megabyte besides; rounded up.
constexpr uint64_t kBytesPerTile = 10 << 10;
constexpr uint64_t kBytesPerTileComponent = 1280;
constexpr uint64_t kHeaderFixedBytes = 2 << 20;

void logError(const char* message, void*) {
    qCDebug(lcRender, "openjpeg: %s", message);
}

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

}  // namespace

std::optional<uint64_t> headerStructureBytes(std::span<const uint8_t> data) {
    size_t at = 0;
    if (startsWith(data, kJp2Signature)) {
        const std::optional<size_t> box = codestreamBoxStart(data);
        if (!box)
            return std::nullopt;
        at = *box;
    }
    // SOC, then SIZ: its length, capabilities, the grid and tile sizes and offsets, the
    // component count.
    constexpr size_t kSizFields = 4 + 2 + 2 + 8 * 4 + 2;
    if (at + kSizFields > data.size() || !startsWith(data.subspan(at), kJ2kSignature))
        return std::nullopt;
    const auto field = [&](size_t index) { return bigEndian(data, at + 8 + 4 * index, 4); };
    const uint64_t width = field(0), height = field(1), originX = field(2), originY = field(3);
    const uint64_t tileWidth = field(4), tileHeight = field(5);
    const uint64_t tileOriginX = field(6), tileOriginY = field(7);
    const uint64_t components = bigEndian(data, at + 40, 2);
    // What OpenJPEG refuses itself costs nothing; a tiling it accepts counts in full.
    if (tileWidth == 0 || tileHeight == 0 || width <= tileOriginX || height <= tileOriginY ||
        width <= originX || height <= originY)
        return kHeaderFixedBytes;
    const uint64_t tiles = ((width - tileOriginX + tileWidth - 1) / tileWidth) *
                           ((height - tileOriginY + tileHeight - 1) / tileHeight);
    return kHeaderFixedBytes + tiles * (kBytesPerTile + components * kBytesPerTileComponent);
}

bool startsWithJp2Signature(std::span<const uint8_t> data) {
    return startsWith(data, kJp2Signature);
}

bool startsWithJ2kSignature(std::span<const uint8_t> data) {
    return startsWith(data, kJ2kSignature);
}

DecodeStatus Codestream::open() {
    if (!isJpeg2000(source_.data))
        return DecodeStatus::Failed;
    const std::optional<uint64_t> headerBytes = headerStructureBytes(source_.data);
    if (!headerBytes)
        return DecodeStatus::Failed;
    if (*headerBytes > Image::maxPictureBytes()) {
        qCDebug(lcRender) << "jpeg 2000 header would take" << *headerBytes << "bytes";
        return DecodeStatus::OutOfMemory;
    }
    stream_ = openStream(source_);
    codec_ = openCodec(source_.data);
    if (!stream_ || !codec_)
        return DecodeStatus::Failed;
    opj_image_t* header = nullptr;
    if (!opj_read_header(stream_.get(), codec_.get(), &header) || header == nullptr)
        return DecodeStatus::Failed;
    header_.reset(header);
    if (header_->numcomps > kMaxComponents) {
        std::array<OPJ_UINT32, kMaxComponents> first = {0, 1, 2, 3};
        if (!opj_set_decoded_components(codec_.get(), kMaxComponents, first.data(), OPJ_FALSE))
            return DecodeStatus::Failed;
    }
    return DecodeStatus::Ok;
}

const opj_image_t* Codestream::decode(const GridRect& window) {
    decoded_.reset();
    const opj_image_t& h = *header_;
    std::vector<opj_image_cmptparm_t> params(h.numcomps);
    for (uint32_t c = 0; c < h.numcomps; ++c) {
        const opj_image_comp_t& comp = h.comps[c];
        params[c] = {};
        params[c].dx = comp.dx;
        params[c].dy = comp.dy;
        params[c].w = comp.w;
        params[c].h = comp.h;
        params[c].x0 = comp.x0;
        params[c].y0 = comp.y0;
        params[c].prec = comp.prec;
        params[c].sgnd = comp.sgnd;
    }
    ImagePtr image(opj_image_tile_create(h.numcomps, params.data(), h.color_space));
    if (!image)
        return nullptr;
    image->x0 = h.x0;
    image->y0 = h.y0;
    image->x1 = h.x1;
    image->y1 = h.y1;
    const bool whole =
        window.x0 == h.x0 && window.y0 == h.y0 && window.x1 == h.x1 && window.y1 == h.y1;
    if (!whole) {
        if (window.x1 > INT32_MAX || window.y1 > INT32_MAX)
            return nullptr;  // the decode area takes signed coordinates
        if (!opj_set_decode_area(codec_.get(), image.get(), static_cast<OPJ_INT32>(window.x0),
                                 static_cast<OPJ_INT32>(window.y0),
                                 static_cast<OPJ_INT32>(window.x1),
                                 static_cast<OPJ_INT32>(window.y1)))
            return nullptr;
    }
    if (!opj_decode(codec_.get(), stream_.get(), image.get()))
        return nullptr;
    decoded_ = std::move(image);
    return decoded_.get();
}

}  // namespace jpeg2000_detail
