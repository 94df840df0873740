#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>

#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/geometry/fit_geometry.h"
#include "render/pixels/image.h"

// What the header of a PNG, BMP or TIFF that decodeStreamedLevel streams says: its size,
// nativeLevels 0, regions true, sequential true (a region costs reading the file up to its
// last row). std::nullopt for other bytes or kinds it doesn't stream; Failed for a damaged
// header. Nothing is decoded.
std::optional<DecodeStatus> readStreamedHeader(std::span<const uint8_t> data,
                                               PictureHeader& header);

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

// Decodes the part `region` (in level `level`'s pixels, clipped to the level; level 0..kMaxLevel)
// of a PNG, BMP or TIFF as a stream into out, exactly the clipped region's size: rows above the
// region are read and dropped (a BMP's are not even read, its rows being addressable; a TIFF's
// strips above and below it and tiles outside it are skipped), columns outside it are never kept,
// and reading ends after its last row (a PNG's zlib stream is checked to its end only when that row
// is the picture's last). The pixels equal exactly the same part of decodeStreamedLevel's result at
// that level: the region's source rows and columns start on the level's box blocks. Statuses as
// decodeStreamedLevel's, the limit counting the region alone; Failed also when nothing of the
// region is left after clipping.
std::optional<DecodeStatus> decodeStreamedRegion(std::span<const uint8_t> data, int32_t level,
                                                 const PixelRect& region, Image& out,
                                                 std::stop_token stop = {});
