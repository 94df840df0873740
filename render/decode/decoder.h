#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>

#include "platform/regular_file.h"
#include "render/decode/levels.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

enum class DecodeStatus {
    Ok,
    Failed,       // missing, unreadable, not a picture, corrupt, or absurd dimensions
    OutOfMemory,  // the picture is larger than Image::maxPictureBytes() or memory ran out
    Cancelled,    // the caller's stop token asked the decode to end before it was done
};

// The area a picture will be fitted into, in device pixels; 0 x 0 for none. A JPEG much
// larger than it is decoded reduced (DCT scaling, the fast way to a smaller picture): to the
// smallest of 1/2, 1/4 and 1/8 of its size that still holds the picture fitted into the area
// in either orientation, so neither the fit nor a quarter turn ever enlarges the pixels.
// Image::fullWidth() and fullHeight() then tell the size at full scale.
struct FitArea {
    int32_t width = 0;
    int32_t height = 0;
};

// The deepest level (see levels.h) of a picture of width x height that still holds it fitted
// into area in either orientation, so that neither the fit nor a quarter turn enlarges its
// pixels; 0 without an area.
int32_t levelFor(int32_t width, int32_t height, FitArea area);
// levelFor, or a deeper level when that one would not fit Image::maxPictureBytes(): with an
// area, a picture is shown from a level of it rather than refused.
int32_t levelWithinBudget(int32_t width, int32_t height, FitArea area);
// The scale, 1/denominator, a JPEG of width x height is decoded at for area by DCT scaling
// alone: 1, 2, 4 or 8.
int32_t reductionFor(int32_t width, int32_t height, FitArea area);

// Decodes the first frame of a picture file into out (emptied first). The format is chosen by
// the file's content, not its name: JPEG through TurboJPEG (CMYK through Qt), the common
// 8-bit PNGs through our own fast path, other PNGs, GIF, BMP and TIFF through Qt's readers,
// the JPEG 2000 family through OpenJPEG. No EXIF orientation is applied. A JPEG may come out
// reduced for area (above); the size limit always counts the full picture. Pictures with an alpha
// channel (palette transparency included) come out with straight, unpremultiplied alpha.
// Never allocates more than Image::maxPictureBytes() for the pixels.
DecodeStatus decodePicture(const std::filesystem::path& file, Image& out, FitArea area = {});

// The area, asked for once the file has been read and only by a decode that needs it (a JPEG's
// scale, or Qt's readers, which need the application): a decode may so begin before the
// screen is known. It is told a JPEG's full size from its header (0 x 0 for other formats),
// so that a source still waiting for the screen can answer at once for a picture no screen
// would reduce. Nothing means the decode is no longer wanted; it then fails.
using FitAreaSource =
    std::function<std::optional<FitArea>(int32_t pictureWidth, int32_t pictureHeight)>;
// The source of an area known from the start.
FitAreaSource fixedArea(FitArea area);
// stop ends a decode that is no longer wanted (Cancelled) where the decoder can stop.
DecodeStatus decodePicture(const std::filesystem::path& file, Image& out, const FitAreaSource& area,
                           std::stop_token stop = {});

// Decodes a picture held in memory by the same rules, for callers that already hold the bytes
// (readPictureFile's, tests, the fuzzer). The bytes are only read during the call.
DecodeStatus decodePictureData(std::span<const uint8_t> data, Image& out, FitArea area = {});
DecodeStatus decodePictureData(std::span<const uint8_t> data, Image& out, const FitAreaSource& area,
                               std::stop_token stop = {});

// A whole picture file in memory.
struct FileBytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
    std::span<const uint8_t> span() const { return {data.get(), size}; }
};
// How much of a file is read before a decoder has claimed it.
inline constexpr size_t kPictureHeadBytes = size_t{64} << 10;

// Reads a picture file whole through one descriptor (RegularFile: a FIFO or a device under the
// name is refused at once, never waited on), its head first. Bytes that open no format we
// decode are Failed after that one read of at most kPictureHeadBytes. A file larger than
// Image::maxFileBytes(), or whose head shows that its decoder would allocate more than
// Image::maxPictureBytes() at any level (a multi-scan JPEG's coefficient buffer, OpenJPEG's
// header structures), is OutOfMemory before the rest is read. version, when given, gets the
// file's version as the descriptor tells it.
DecodeStatus readPictureFile(const std::filesystem::path& file, FileBytes& bytes,
                             FileVersion* version = nullptr);

// What a picture's header says (see PictureHeader): JPEG and JPEG 2000 have levels and
// regions; PNG, BMP and TIFF that can be read as a stream have regions that cost the rows
// before them. Failed for other bytes.
DecodeStatus readPictureHeader(std::span<const uint8_t> data, PictureHeader& header);
// The part region (in that level's pixels) of level `level`, at most the header's nativeLevels
// for JPEG and JPEG 2000; Failed for pictures without regions.
DecodeStatus decodePictureRegion(std::span<const uint8_t> data, int32_t level,
                                 const PixelRect& region, Image& out, std::stop_token stop = {});
// The whole of level `level`, which may be deeper than a format makes by itself.
DecodeStatus decodePictureLevel(std::span<const uint8_t> data, int32_t level, Image& out,
                                std::stop_token stop = {});
