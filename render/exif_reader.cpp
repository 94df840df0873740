// Placeholder until the reader lands: reports no EXIF data.
#include "render/exif_reader.h"

#include <cstring>

int32_t readPictureExif(const std::filesystem::path&, ExifInfo& info) {
    std::memset(&info, 0, sizeof info);
    return -1;
}
int32_t readExifFromBytes(std::span<const uint8_t>, ExifInfo& info) {
    std::memset(&info, 0, sizeof info);
    return -1;
}
int32_t rotationFromExif(int32_t, const ExifInfo&) {
    return 0;
}
