#pragma once

#include <cstdint>
#include <vector>

// Lossless JPEG 2000 codestreams made by OpenJPEG's encoder, for tests.
using Bytes = std::vector<uint8_t>;

// A three-component picture: RGB, or YCbCr with chroma at half resolution both ways.
struct Picture {
    const char* name;
    int32_t width, height;
    uint32_t x0, y0;  // image origin on the reference grid
    uint32_t chromaStep;
    int resolutions;
    int tileWidth, tileHeight;  // 0: one tile
};

// Samples vary both ways, so a shifted, mirrored or misplaced window shows.
int32_t sampleAt(uint32_t c, uint32_t i, uint32_t j);

// The codestream (J2K) of the picture.
Bytes encode(const Picture& p);
