#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "render/image.h"

enum class DecodeStatus {
    Ok,
    Failed,       // missing, unreadable, not a picture, corrupt, or absurd dimensions
    OutOfMemory,  // the picture is larger than Image::maxPictureBytes() or memory ran out
};

// Decodes the first frame of a picture file into out (emptied first). The format is chosen by
// the file's content, not its name: JPEG, PNG, GIF, BMP and TIFF through Qt's readers, the
// JPEG 2000 family through OpenJPEG. No EXIF orientation is applied. Pictures with an alpha
// channel (palette transparency included) come out with straight, unpremultiplied alpha.
// Never allocates more than Image::maxPictureBytes() for the pixels.
DecodeStatus decodePicture(const std::filesystem::path& file, Image& out);

// Decodes a picture held in memory by the same rules, for callers that already hold the bytes
// (tests, the fuzzer). The bytes are only read during the call.
DecodeStatus decodePictureData(std::span<const uint8_t> data, Image& out);
