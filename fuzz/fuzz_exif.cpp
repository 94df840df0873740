// libFuzzer entry point: any bytes as the head of a picture file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "render/exif/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ExifInfo info;
    const int32_t result = readExifFromBytes(std::span(data, size), info);
    // Touch what the viewer uses so the read can't be optimised away.
    return rotationFromExif(result, info) >= 0 ? 0 : 0;
}
