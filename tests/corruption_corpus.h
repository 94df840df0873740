#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One hostile picture file: the name it is written under (the trap it sets, and the extension
// it claims) and its bytes.
struct CorruptFile {
    std::string name;
    std::string bytes;
};

// The project's own pictures (samples/, tests/data/) and pictures made here with Qt's writers,
// by file name, as the corruptions start from them.
std::vector<CorruptFile> corpusSources();

// Every corruption of every source: truncations at sampled offsets (inside headers, inside the
// EXIF block, mid-scan), flipped bytes, zero-length files, content under another format's
// name, headers claiming absurd dimensions, palettes of 0 and 257 entries, and JPEG heads whose
// EXIF directories loop. Deterministic: the same list on every run.
std::vector<CorruptFile> corruptionCorpus();

// The bytes of a file, or an empty string when it can't be read.
std::string readWholeFile(const std::string& path);

// Big-endian and little-endian writes into a byte string that is already long enough.
void putBe32(std::string& bytes, size_t at, uint32_t value);
void putLe32(std::string& bytes, size_t at, uint32_t value);
