#include "render/jpeg_decoder.h"

DecodeStatus readJpegHeader(std::span<const uint8_t>, PictureHeader&) {
    return DecodeStatus::Failed;
}

DecodeStatus decodeJpegLevel(std::span<const uint8_t>, int32_t, Image&, std::stop_token) {
    return DecodeStatus::Failed;
}

DecodeStatus decodeJpegRegion(std::span<const uint8_t>, int32_t, const PixelRect&, Image&,
                              std::stop_token) {
    return DecodeStatus::Failed;
}
