#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>

#include "render/decoder.h"
#include "render/image.h"

// Decodes level `level` (1..kMaxLevel; 0 gives the whole picture) of a PNG, BMP or TIFF held in
// memory as a stream: rows are converted as they come out of the file and reduced at once
// (RowReducer), so nothing larger than the level and a few rows is ever held, whatever the
// picture's size. Each converted row is exactly the row the whole-picture decode gives
// (decodePictureData), so the level equals reducePicture() of the whole picture. out is created
// at levelExtent() of the full size and marked with it (Image::setFullSize). Returns
// std::nullopt (out untouched) for bytes of another format or of a kind it doesn't stream
// (interlaced PNGs, compressed or 1-, 4- and 16-bit BMPs, TIFFs with 16-bit alpha, floating
// point samples or strips too large to hold, and the odd files whose handling Qt's readers
// decide); Cancelled when stop is requested (checked every few rows); OutOfMemory when the level
// itself exceeds Image::maxPictureBytes(); Failed for damaged data. out is emptied on any
// status but Ok.
std::optional<DecodeStatus> decodeStreamedLevel(std::span<const uint8_t> data, int32_t level,
                                                Image& out, std::stop_token stop = {});
