// Reading the Exif block of a camera-like JPEG head whose APP1 section has the largest possible
// length (65535): a realistic IFD0, Exif and thumbnail directory, and an embedded thumbnail
// filling the rest, as cameras write them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "render/exif/exif_reader.h"

namespace {

using namespace std::string_literals;

using Bytes = std::vector<uint8_t>;

struct LittleEndianBlock {
    Bytes bytes;
    void u16(uint16_t v) {
        bytes.push_back(v & 0xFF);
        bytes.push_back(v >> 8);
    }
    void u32(uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    }
    void entry(uint16_t tag, uint16_t format, uint32_t count, uint32_t field) {
        u16(tag);
        u16(format);
        u32(count);
        u32(field);
    }
};

Bytes cameraHead() {
    constexpr size_t kSectionLength = 65535;
    constexpr size_t kBlockSize = kSectionLength - 8;
    // Values that don't fit in an entry live at the end of the block, before the thumbnail.
    constexpr uint32_t kData = 1024;
    constexpr uint32_t kThumb = 2048;

    LittleEndianBlock t;
    t.bytes = {'I', 'I'};
    t.u16(42);
    t.u32(8);
    t.u16(8);  // IFD0
    t.entry(0x010F, 2, 16, kData);
    t.entry(0x0110, 2, 24, kData + 16);
    t.entry(0x0112, 3, 1, 6);
    t.entry(0x011A, 5, 1, kData + 40);
    t.entry(0x011B, 5, 1, kData + 40);
    t.entry(0x0128, 3, 1, 2);
    t.entry(0x0132, 2, 20, kData + 48);
    const size_t exifPointer = t.bytes.size() + 8;
    t.entry(0x8769, 4, 1, 0);
    const size_t nextLink = t.bytes.size();
    t.u32(0);

    const auto exifIfd = static_cast<uint32_t>(t.bytes.size());
    const uint16_t rationalTags[] = {0x829A, 0x829D, 0x9201, 0x9202, 0x9204,
                                     0x9205, 0x920A, 0xA20E, 0xA20F};
    const uint16_t shortTags[] = {0x8822, 0x8827, 0x9207, 0x9208, 0x9209, 0xA210,
                                  0xA001, 0xA401, 0xA402, 0xA403, 0xA406};
    t.u16(static_cast<uint16_t>(std::size(rationalTags) + std::size(shortTags) + 6));
    t.entry(0x9000, 7, 4, 0x30333230);
    t.entry(0x9003, 2, 20, kData + 48);
    t.entry(0x9004, 2, 20, kData + 48);
    t.entry(0x9286, 7, 64, kData + 128);
    t.entry(0xA002, 4, 1, 6000);
    t.entry(0xA003, 4, 1, 4000);
    for (uint16_t tag : rationalTags) {
        t.entry(tag, 5, 1, kData + 40);
    }
    for (uint16_t tag : shortTags) {
        t.entry(tag, 3, 1, 1);
    }
    t.u32(0);

    const auto thumbIfd = static_cast<uint32_t>(t.bytes.size());
    t.u16(4);
    t.entry(0x0103, 3, 1, 6);
    t.entry(0x0112, 3, 1, 6);
    t.entry(0x0201, 4, 1, kThumb);
    t.entry(0x0202, 4, 1, static_cast<uint32_t>(kBlockSize - kThumb));
    t.u32(0);

    t.bytes.resize(kBlockSize, 0);
    auto put32 = [&t](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            t.bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
        }
    };
    put32(exifPointer, exifIfd);
    put32(nextLink, thumbIfd);
    // The literals keep their NULs: the make and the model are two texts of one block.
    const std::string texts = "SomeCamera Inc.\0Model X-1000 Mark II\0\0\0\0"s;
    std::copy(texts.begin(), texts.end(), t.bytes.begin() + kData);
    put32(kData + 40, 72);
    put32(kData + 44, 1);
    const std::string date = "2023:06:01 12:00:00";
    std::copy(date.begin(), date.end(), t.bytes.begin() + kData + 48);
    const std::string comment = "ASCII\0\0\0A comment written by the camera owner"s;
    std::copy(comment.begin(), comment.end(), t.bytes.begin() + kData + 128);
    for (size_t i = kThumb; i < kBlockSize; ++i) {
        t.bytes[i] = static_cast<uint8_t>(i * 31);
    }

    Bytes head = {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0};
    head.insert(head.end(), t.bytes.begin(), t.bytes.end());
    // A quantisation table, the frame and the scan header, then the compressed data.
    Bytes tail = {0xFF, 0xDB, 0x00, 0x43, 0};
    tail.resize(tail.size() + 64, 1);
    const Bytes frameAndScan = {0xFF, 0xC0, 0x00, 0x11, 8, 0x0F, 0xA0, 0x17, 0x70, 3,    1,
                                0x22, 0,    2,    0x11, 1, 3,    0x11, 1,    0xFF, 0xDA, 0x00,
                                0x0C, 3,    1,    0,    2, 0x11, 3,    0x11, 0,    0x3F, 0};
    tail.insert(tail.end(), frameAndScan.begin(), frameAndScan.end());
    head.insert(head.end(), tail.begin(), tail.end());
    head.resize(head.size() + size_t{256} * 1024,
                0x55);  // compressed data the reader must not touch
    return head;
}

void checkRead(benchmark::State& state, int32_t result, const ExifInfo& info) {
    if (result != 0 || info.orientation != 6 || info.thumbnailSize == 0) {
        state.SkipWithError("the head did not read as expected");
    }
}

void BM_ReadExifFromMemory(benchmark::State& state) {
    const Bytes head = cameraHead();
    ExifInfo info;
    for (auto _ : state) {
        const int32_t result = readExifFromBytes(head, info);
        benchmark::DoNotOptimize(result);
        checkRead(state, result, info);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 65537);
}
BENCHMARK(BM_ReadExifFromMemory);

void BM_ReadExifFromFile(benchmark::State& state) {
    const Bytes head = cameraHead();
    const auto path = std::filesystem::temp_directory_path() / "quillmere_exif_bench.jpg";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(head.data()),
               static_cast<std::streamsize>(head.size()));
    ExifInfo info;
    for (auto _ : state) {
        const int32_t result = readPictureExif(path, info);
        benchmark::DoNotOptimize(result);
        checkRead(state, result, info);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 65537);
    std::filesystem::remove(path);
}
BENCHMARK(BM_ReadExifFromFile);

}  // namespace
