#pragma once

#include <openjpeg.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "render/decode/decoder.h"

// OpenJPEG's plumbing for a JPEG 2000 file held in memory: its stream reads the bytes, its codec
// reads the main header, and windows of the picture are decoded on demand.
namespace jpeg2000_detail {

// Components beyond these (grey, grey and alpha, RGB, RGBA or CMYK) are never decoded.
inline constexpr int kMaxComponents = 4;

// The bytes OpenJPEG allocates while it reads the main header, from the SIZ segment alone (of
// a bare codestream, or of a JP2 file's codestream box): a structure per tile and another per
// component of every tile, whatever the picture's size, so a few hundred bytes claiming tens
// of thousands of tiles of many components would cost gigabytes. Nothing when the bytes hold
// no SIZ segment, or end before it.
std::optional<uint64_t> headerStructureBytes(std::span<const uint8_t> data);

// True when the bytes start with the JP2 signature box, or with a bare codestream's SOC and SIZ.
bool startsWithJp2Signature(std::span<const uint8_t> data);
bool startsWithJ2kSignature(std::span<const uint8_t> data);

// The bytes OpenJPEG's stream reads, and how far it has read.
struct MemorySource {
    std::span<const uint8_t> data;
    size_t pos = 0;
};

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

// A rectangle on the reference grid, ends excluded.
struct GridRect {
    uint64_t x0 = UINT64_MAX, y0 = UINT64_MAX, x1 = 0, y1 = 0;
};

// An opened codestream: the bytes, OpenJPEG's stream and codec over them, the image its main
// header describes, and the last window decoded.
class Codestream {
  public:
    explicit Codestream(std::span<const uint8_t> data) : source_{data} {}
    Codestream(const Codestream&) = delete;
    Codestream& operator=(const Codestream&) = delete;

    // Reads the main header and limits decoding to the components we use. Failed when the
    // bytes are no JPEG 2000 or the header is broken; OutOfMemory, before OpenJPEG sees the
    // stream, when the structures its header read would set up exceed Image::maxPictureBytes().
    DecodeStatus open();

    opj_codec_t* codec() const { return codec_.get(); }
    const opj_image_t& header() const { return *header_; }

    // Decodes `window` into a fresh copy of the header image, after freeing the last one. A
    // copy, because the decode rewrites its image (a JP2 palette adds components) and a
    // single-tile codec may decode again. The whole picture is decoded without a decode area,
    // so OpenJPEG takes its faster whole-tile path. Null on failure.
    const opj_image_t* decode(const GridRect& window);

    // Reads what follows the codestream; for a decode that read all of it.
    bool finish() { return opj_end_decompress(codec_.get(), stream_.get()); }
    void release() { decoded_.reset(); }

  private:
    MemorySource source_;
    StreamPtr stream_;
    CodecPtr codec_;
    ImagePtr header_;
    ImagePtr decoded_;
};

}  // namespace jpeg2000_detail
