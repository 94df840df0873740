#include "corruption_corpus.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

fs::path dataFolder() {
    if (const char* data = std::getenv("QUILLMERE_TEST_DATA"))
        return data;
    return fs::path(__FILE__).parent_path() / "data";
}

std::string encode(const QImage& image, const char* format, bool progressive = false) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(80);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return buffer.data().toStdString();
}

QImage gradient(int width, int height, QImage::Format format) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgba(x * 5, y * 7, 90, (x + y) * 3 % 256));
    }
    return image.convertToFormat(format);
}

void putLe16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void putBe16(std::string& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<char>(value >> 8);
    bytes[at + 1] = static_cast<char>(value & 0xFF);
}

// ---- PNG chunks, rebuilt with their checksums so that only the trap is wrong ----

uint32_t crc32(const std::string& bytes) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (const char byte : bytes)
        c = table[(c ^ static_cast<uint8_t>(byte)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

struct PngChunk {
    std::string type;
    std::string data;
};

std::vector<PngChunk> pngChunks(const std::string& png) {
    std::vector<PngChunk> chunks;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        const auto* p = reinterpret_cast<const uint8_t*>(png.data() + at);
        const size_t length = size_t{p[0]} << 24 | size_t{p[1]} << 16 | size_t{p[2]} << 8 | p[3];
        if (at + 12 + length > png.size())
            break;
        chunks.push_back({png.substr(at + 4, 4), png.substr(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

std::string buildPng(const std::vector<PngChunk>& chunks) {
    std::string png = "\x89PNG\r\n\x1a\n";
    for (const PngChunk& chunk : chunks) {
        std::string length(4, '\0');
        putBe32(length, 0, static_cast<uint32_t>(chunk.data.size()));
        std::string crc(4, '\0');
        putBe32(crc, 0, crc32(chunk.type + chunk.data));
        png += length + chunk.type + chunk.data + crc;
    }
    return png;
}

std::string pngWithSize(const std::string& png, uint32_t width, uint32_t height) {
    std::vector<PngChunk> chunks = pngChunks(png);
    putBe32(chunks.at(0).data, 0, width);
    putBe32(chunks.at(0).data, 4, height);
    return buildPng(chunks);
}

// An indexed PNG whose palette chunk is dropped (0 entries) or grown to `entries`.
std::string pngWithPalette(const std::string& indexedPng, size_t entries) {
    std::vector<PngChunk> chunks;
    for (PngChunk& chunk : pngChunks(indexedPng)) {
        if (chunk.type == "PLTE") {
            if (entries == 0)
                continue;
            chunk.data.resize(entries * 3, '\x40');
        }
        chunks.push_back(std::move(chunk));
    }
    return buildPng(chunks);
}

// ---- JPEG: segments, EXIF blocks, frame sizes ----

// A little-endian TIFF structure for an APP1 block. The loops make a directory reachable from
// itself: IFD0 naming itself as the next one, the EXIF sub-directory pointing back at IFD0,
// and two directories naming each other.
enum class ExifLoop { None, NextIsSelf, SubDirectoryIsParent, TwoCycle };

std::string exifBlock(ExifLoop loop) {
    // IFD0 at 8: orientation 6, an EXIF sub-directory pointer; the second directory at 38.
    std::string tiff = std::string("II*\0", 4) + std::string(4, '\0');
    putLe32(tiff, 4, 8);
    tiff.resize(68, '\0');
    putLe16(tiff, 8, 2);
    putLe16(tiff, 10, 0x0112);
    putLe16(tiff, 12, 3);
    putLe32(tiff, 14, 1);
    putLe16(tiff, 18, 6);
    putLe16(tiff, 22, 0x8769);
    putLe16(tiff, 24, 4);
    putLe32(tiff, 26, 1);
    putLe32(tiff, 30, loop == ExifLoop::SubDirectoryIsParent ? 8 : 38);
    putLe32(tiff, 34, loop == ExifLoop::NextIsSelf ? 8 : (loop == ExifLoop::TwoCycle ? 38 : 0));
    // The second directory: one interoperability pointer back into the chain.
    putLe16(tiff, 38, 1);
    putLe16(tiff, 40, 0xA005);
    putLe16(tiff, 42, 4);
    putLe32(tiff, 44, 1);
    putLe32(tiff, 48, loop == ExifLoop::None ? 0 : 38);
    putLe32(tiff, 52, loop == ExifLoop::TwoCycle ? 8 : 0);
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::string segment = "\xFF\xE1";
    segment.resize(4);
    putBe16(segment, 2, static_cast<uint16_t>(payload.size() + 2));
    return segment + payload;
}

std::string withSegmentAfterSoi(const std::string& jpeg, const std::string& segment) {
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

// Offset of the first marker `second` (after 0xFF), or npos.
size_t findMarker(const std::string& bytes, uint8_t second, size_t from = 2) {
    for (size_t at = from; at + 1 < bytes.size(); ++at) {
        if (static_cast<uint8_t>(bytes[at]) == 0xFF &&
            static_cast<uint8_t>(bytes[at + 1]) == second)
            return at;
    }
    return std::string::npos;
}

std::string jpegWithSize(const std::string& jpeg, uint16_t width, uint16_t height) {
    std::string out = jpeg;
    size_t sof = findMarker(out, 0xC0);
    if (sof == std::string::npos)
        sof = findMarker(out, 0xC2);
    if (sof != std::string::npos && sof + 9 <= out.size()) {
        putBe16(out, sof + 5, height);
        putBe16(out, sof + 7, width);
    }
    return out;
}

// ---- BMP, GIF, TIFF, JPEG 2000 headers ----

std::string bmpWithSize(const std::string& bmp, int32_t width, int32_t height) {
    std::string out = bmp;
    putLe32(out, 18, static_cast<uint32_t>(width));
    putLe32(out, 22, static_cast<uint32_t>(height));
    return out;
}

std::string bmpWithColoursUsed(const std::string& bmp, uint32_t colours) {
    std::string out = bmp;
    putLe32(out, 46, colours);
    return out;
}

std::string gifWithSize(const std::string& gif, uint16_t width, uint16_t height) {
    std::string out = gif;
    putLe16(out, 6, width);
    putLe16(out, 8, height);
    // The first image descriptor follows the global colour table when there is one.
    const auto flags = static_cast<uint8_t>(out[10]);
    size_t at = 13 + (flags & 0x80 ? 3u << ((flags & 7) + 1) : 0);
    while (at < out.size() && static_cast<uint8_t>(out[at]) == 0x21) {  // extensions
        at += 2;
        while (at < out.size() && out[at] != 0)
            at += static_cast<uint8_t>(out[at]) + 1;
        ++at;
    }
    if (at + 9 <= out.size() && out[at] == 0x2C) {
        putLe16(out, at + 5, width);
        putLe16(out, at + 7, height);
    }
    return out;
}

// A GIF of one 2 x 2 frame and no colour table at all: its palette has 0 entries.
std::string gifWithoutPalette() {
    return std::string("GIF89a\x02\x00\x02\x00\x00\x00\x00", 13) +
           std::string("\x2C\x00\x00\x00\x00\x02\x00\x02\x00\x00", 10) +
           std::string("\x02\x02\x44\x01\x00\x3B", 6);
}

// A grey TIFF whose single strip is 16 bytes while its header claims width x height.
std::string tiffWithSize(uint32_t width, uint32_t height) {
    std::string tiff = std::string("II*\0", 4) + std::string(4, '\0');
    putLe32(tiff, 4, 8);
    const std::array<std::array<uint32_t, 3>, 8> entries = {{
        {256, 4, width},   // ImageWidth, LONG
        {257, 4, height},  // ImageLength
        {258, 3, 8},       // BitsPerSample
        {259, 3, 1},       // no compression
        {262, 3, 1},       // black is zero
        {273, 4, 110},     // StripOffsets
        {278, 4, height},  // RowsPerStrip
        {279, 4, 16},      // StripByteCounts
    }};
    tiff.resize(8 + 2 + entries.size() * 12 + 4 + 16, '\0');
    putLe16(tiff, 8, static_cast<uint16_t>(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
        const size_t at = 10 + i * 12;
        putLe16(tiff, at, static_cast<uint16_t>(entries[i][0]));
        putLe16(tiff, at + 2, static_cast<uint16_t>(entries[i][1]));
        putLe32(tiff, at + 4, 1);
        if (entries[i][1] == 3)
            putLe16(tiff, at + 8, static_cast<uint16_t>(entries[i][2]));
        else
            putLe32(tiff, at + 8, entries[i][2]);
    }
    return tiff;
}

// The SIZ marker of a JPEG 2000 codestream, bare or inside a JP2 file, with its picture size
// and tile size replaced.
std::string jpeg2000WithSize(const std::string& file, uint32_t width, uint32_t height,
                             uint32_t tile) {
    std::string out = file;
    const size_t siz = out.find(std::string("\xFF\x4F\xFF\x51", 4));
    if (siz == std::string::npos || siz + 32 > out.size())
        return out;
    putBe32(out, siz + 8, width);
    putBe32(out, siz + 12, height);
    putBe32(out, siz + 24, tile);
    putBe32(out, siz + 28, tile);
    return out;
}

// ---- Generic corruptions ----

std::string stemOf(const std::string& name) {
    return fs::path(name).stem().string();
}

std::string extensionOf(const std::string& name) {
    return fs::path(name).extension().string();
}

// Sampled cut points: header bytes, then fractions of the file, then one short of the end.
std::vector<size_t> cutOffsets(const std::string& bytes) {
    std::vector<size_t> cuts = {1, 3, 8, 14, 26, 60, 150, 400};
    for (const size_t eighths : {1, 3, 4, 6, 7})
        cuts.push_back(bytes.size() * eighths / 8);
    cuts.push_back(bytes.size() - 1);
    // Inside the EXIF block: just past its marker, inside the TIFF header and its directories.
    if (const size_t app1 = findMarker(bytes, 0xE1); app1 != std::string::npos && app1 < 64) {
        for (const size_t into : {3, 8, 13, 20, 30, 45})
            cuts.push_back(app1 + into);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::erase_if(cuts, [&](size_t cut) { return cut == 0 || cut >= bytes.size(); });
    return cuts;
}

// Flips `count` bytes (each XOR a nonzero value) at positions drawn from [from, to).
std::string flipped(const std::string& bytes, size_t from, size_t to, int count, unsigned seed) {
    std::string out = bytes;
    to = std::min(to, out.size());
    if (from >= to)
        return out;
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> where(from, to - 1);
    std::uniform_int_distribution<int> mask(1, 255);
    for (int i = 0; i < count; ++i)
        out[where(random)] ^= static_cast<char>(mask(random));
    return out;
}

void addCorruptionsOf(const CorruptFile& source, unsigned seed, std::vector<CorruptFile>& out) {
    const std::string stem = stemOf(source.name);
    const std::string ext = extensionOf(source.name);
    for (const size_t cut : cutOffsets(source.bytes))
        out.push_back({stem + "-cut-at-" + std::to_string(cut) + ext, source.bytes.substr(0, cut)});
    out.push_back({stem + "-flipped-header" + ext, flipped(source.bytes, 0, 64, 5, seed)});
    out.push_back({stem + "-flipped-throughout" + ext,
                   flipped(source.bytes, 64, source.bytes.size(), 16, seed + 1)});
}

const CorruptFile* sourceNamed(const std::vector<CorruptFile>& sources, const std::string& name) {
    for (const CorruptFile& source : sources) {
        if (source.name == name)
            return &source;
    }
    return nullptr;
}

void addZeroLengthFiles(std::vector<CorruptFile>& out) {
    for (const char* ext : {".jpg", ".png", ".gif", ".bmp", ".tiff", ".jp2", ".j2k"})
        out.push_back({std::string("zero-length") + ext, ""});
}

void addNameContentMismatches(const std::vector<CorruptFile>& sources,
                              std::vector<CorruptFile>& out) {
    const std::array<std::array<const char*, 2>, 6> swaps = {{
        {"made-alpha.png", ".jpg"},
        {"1-harbour.jpg", ".png"},
        {"5-beacon.gif", ".bmp"},
        {"8-nebula.jp2", ".tif"},
        {"made-indexed.bmp", ".jp2"},
        {"9-dunes.j2k", ".gif"},
    }};
    for (const auto& [name, claimed] : swaps) {
        if (const CorruptFile* source = sourceNamed(sources, name))
            out.push_back({stemOf(name) + "-named-as" + claimed, source->bytes});
    }
    out.push_back({"text-named-as.jpeg", "This is a text file, not a picture.\n"});
    out.push_back({"svg-named-as.png",
                   "<svg xmlns='http://www.w3.org/2000/svg' width='99999' height='99999'>"
                   "<rect width='99999' height='99999' fill='red'/></svg>"});
    out.push_back({"jp2-signature-then-garbage.jp2",
                   std::string("\0\0\0\x0CjP  \r\n\x87\n", 12) + std::string(300, '\x5A')});
}

void addAbsurdDimensions(const std::vector<CorruptFile>& sources, std::vector<CorruptFile>& out) {
    if (const CorruptFile* png = sourceNamed(sources, "made-alpha.png")) {
        out.push_back({"png-claims-2g-by-2g.png", pngWithSize(png->bytes, 0x7FFFFFFF, 0x7FFFFFFF)});
        out.push_back({"png-claims-50000-by-50000.png", pngWithSize(png->bytes, 50000, 50000)});
        out.push_back({"png-claims-0-by-0.png", pngWithSize(png->bytes, 0, 0)});
    }
    if (const CorruptFile* jpeg = sourceNamed(sources, "made-exif.jpg")) {
        out.push_back({"jpeg-claims-65500-by-65500.jpg", jpegWithSize(jpeg->bytes, 65500, 65500)});
        out.push_back({"jpeg-claims-0-by-0.jpg", jpegWithSize(jpeg->bytes, 0, 0)});
    }
    if (const CorruptFile* bmp = sourceNamed(sources, "6-chart.bmp")) {
        out.push_back({"bmp-claims-2^30-square.bmp", bmpWithSize(bmp->bytes, 1 << 30, 1 << 30)});
        out.push_back(
            {"bmp-claims-most-negative-height.bmp", bmpWithSize(bmp->bytes, 320, INT32_MIN)});
        out.push_back({"bmp-claims-negative-width.bmp", bmpWithSize(bmp->bytes, -320, 240)});
    }
    if (const CorruptFile* gif = sourceNamed(sources, "5-beacon.gif"))
        out.push_back({"gif-claims-65535-square.gif", gifWithSize(gif->bytes, 65535, 65535)});
    out.push_back({"tiff-claims-70000-square.tiff", tiffWithSize(70000, 70000)});
    out.push_back({"tiff-claims-4g-wide.tiff", tiffWithSize(0xFFFFFFFF, 1)});
    for (const char* name : {"9-dunes.j2k", "8-nebula.jp2"}) {
        const CorruptFile* j2k = sourceNamed(sources, name);
        if (!j2k)
            continue;
        const std::string ext = extensionOf(name);
        out.push_back({"jpeg2000-claims-2g-square" + ext,
                       jpeg2000WithSize(j2k->bytes, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF)});
        out.push_back({"jpeg2000-claims-a-billion-tiles" + ext,
                       jpeg2000WithSize(j2k->bytes, 40000, 40000, 1)});
    }
}

void addPalettes(const std::vector<CorruptFile>& sources, std::vector<CorruptFile>& out) {
    if (const CorruptFile* png = sourceNamed(sources, "made-indexed.png")) {
        out.push_back({"png-palette-of-0.png", pngWithPalette(png->bytes, 0)});
        out.push_back({"png-palette-of-257.png", pngWithPalette(png->bytes, 257)});
    }
    if (const CorruptFile* bmp = sourceNamed(sources, "made-indexed.bmp")) {
        out.push_back({"bmp-palette-of-257.bmp", bmpWithColoursUsed(bmp->bytes, 257)});
        out.push_back({"bmp-palette-of-4g.bmp", bmpWithColoursUsed(bmp->bytes, 0xFFFFFFFF)});
    }
    out.push_back({"gif-palette-of-0.gif", gifWithoutPalette()});
}

void addExifLoops(const std::vector<CorruptFile>& sources, std::vector<CorruptFile>& out) {
    const CorruptFile* jpeg = sourceNamed(sources, "made-progressive.jpg");
    if (!jpeg)
        return;
    const std::array<std::pair<ExifLoop, const char*>, 3> loops = {{
        {ExifLoop::NextIsSelf, "exif-next-directory-is-itself.jpg"},
        {ExifLoop::SubDirectoryIsParent, "exif-subdirectory-is-its-parent.jpg"},
        {ExifLoop::TwoCycle, "exif-two-directories-name-each-other.jpg"},
    }};
    for (const auto& [loop, name] : loops)
        out.push_back({name, withSegmentAfterSoi(jpeg->bytes, exifBlock(loop))});
    // A head of many EXIF blocks, each with a loop, before the frame.
    std::string many = jpeg->bytes.substr(0, 2);
    for (int i = 0; i < 200; ++i)
        many += exifBlock(ExifLoop::TwoCycle);
    out.push_back({"exif-200-looping-blocks.jpg", many + jpeg->bytes.substr(2)});
}

// A small file that makes the decoder sweep a large frame once per scan: thousands of empty
// refinement scans before the end marker, each a few bytes long. Eighty of them are still
// within what the decoder takes.
void addScanFloods(std::vector<CorruptFile>& out) {
    QImage plain(2000, 2000, QImage::Format_RGB32);
    plain.fill(qRgb(120, 80, 200));
    const std::string jpeg = encode(plain, "jpeg", true);
    const std::string emptyScan("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x10", 10);
    for (const int scans : {80, 5000}) {
        std::string flood;
        for (int i = 0; i < scans; ++i)
            flood += emptyScan;
        out.push_back({"jpeg-" + std::to_string(scans) + "-empty-scans.jpg",
                       jpeg.substr(0, jpeg.size() - 2) + flood + jpeg.substr(jpeg.size() - 2)});
    }
}

}  // namespace

void putBe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

void putLe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<CorruptFile> corpusSources() {
    std::vector<CorruptFile> sources;
    for (const fs::path& folder :
         {dataFolder().parent_path().parent_path() / "samples", dataFolder()}) {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
            if (entry.is_regular_file())
                sources.push_back(
                    {entry.path().filename().string(), readWholeFile(entry.path().string())});
        }
    }
    std::sort(sources.begin(), sources.end(),
              [](const CorruptFile& a, const CorruptFile& b) { return a.name < b.name; });
    const QImage picture = gradient(48, 32, QImage::Format_ARGB32);
    const std::string progressive =
        encode(picture.convertToFormat(QImage::Format_RGB32), "jpeg", true);
    sources.push_back({"made-alpha.png", encode(picture, "png")});
    sources.push_back(
        {"made-indexed.png", encode(gradient(40, 30, QImage::Format_Indexed8), "png")});
    sources.push_back(
        {"made-indexed.bmp", encode(gradient(40, 30, QImage::Format_Indexed8), "bmp")});
    sources.push_back(
        {"made-grey.tiff", encode(gradient(40, 30, QImage::Format_Grayscale8), "tiff")});
    sources.push_back({"made-progressive.jpg", progressive});
    sources.push_back(
        {"made-exif.jpg", withSegmentAfterSoi(encode(picture, "jpeg"), exifBlock(ExifLoop::None))});
    return sources;
}

std::vector<CorruptFile> corruptionCorpus() {
    const std::vector<CorruptFile> sources = corpusSources();
    std::vector<CorruptFile> corpus;
    unsigned seed = 1;
    for (const CorruptFile& source : sources)
        addCorruptionsOf(source, seed += 2, corpus);
    addZeroLengthFiles(corpus);
    addNameContentMismatches(sources, corpus);
    addAbsurdDimensions(sources, corpus);
    addPalettes(sources, corpus);
    addExifLoops(sources, corpus);
    addScanFloods(corpus);
    return corpus;
}
