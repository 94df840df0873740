#include "render/decode/stream_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryFile>

#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "render/decode/decoder.h"
#include "render/decode/levels.h"
#include "render/decode/row_reducer.h"

namespace {

std::span<const uint8_t> asSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
}

// The streamed level must be the whole decode reduced, pixel for pixel, alpha flag included.
testing::AssertionResult streamsAsWholeDecode(const QByteArray& bytes, int32_t level) {
    Image whole, expected, streamed;
    if (decodePictureData(asSpan(bytes), whole) != DecodeStatus::Ok ||
        !reducePicture(whole, level, expected))
        return testing::AssertionFailure() << "the whole decode fails";
    const std::optional<DecodeStatus> status = decodeStreamedLevel(asSpan(bytes), level, streamed);
    if (status != DecodeStatus::Ok)
        return testing::AssertionFailure() << "not streamed: " << (status ? int(*status) : -1);
    if (streamed.width() != expected.width() || streamed.height() != expected.height() ||
        streamed.fullWidth() != whole.width() || streamed.fullHeight() != whole.height() ||
        streamed.hasAlpha() != expected.hasAlpha())
        return testing::AssertionFailure() << "size or alpha differs";
    for (int32_t y = 0; y < expected.height(); ++y) {
        const auto* ours = reinterpret_cast<const uint32_t*>(streamed.row(y));
        const auto* theirs = reinterpret_cast<const uint32_t*>(expected.row(y));
        for (int32_t x = 0; x < expected.width(); ++x) {
            if (ours[x] != theirs[x])
                return testing::AssertionFailure()
                       << "pixel " << x << "," << y << ": " << ours[x] << " not " << theirs[x];
        }
    }
    return testing::AssertionSuccess();
}

// ---- PNGs of every colour type and depth, written by hand -------------------------------------

void putBigEndian32(QByteArray& out, uint32_t v) {
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

void appendChunk(QByteArray& png, const QByteArray& type, const QByteArray& payload) {
    putBigEndian32(png, uint32_t(payload.size()));
    const QByteArray body = type + payload;
    uint32_t crc = 0xFFFFFFFFu;
    for (const char byte : body) {
        crc ^= uint8_t(byte);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    png += body;
    putBigEndian32(png, ~crc);
}

struct Png {
    int colourType;
    int depth;
    QByteArray trns = {};    // tRNS's payload
    int paletteEntries = 0;  // PLTE's entries
    int width = 37, height = 23;
    int interlace = 0;
};

int channelsOf(int colourType) {
    return colourType == 0 || colourType == 3 ? 1 : colourType == 4 ? 2 : colourType == 2 ? 3 : 4;
}

// Random filtered bytes, each row with the next filter type (both decoders unfilter them
// alike); in the unfiltered rows every fourth pixel is the tRNS key, so it is met.
QByteArray rawRows(const Png& p) {
    const int bits = channelsOf(p.colourType) * p.depth;
    const int stride = (p.width * bits + 7) / 8;
    std::mt19937 random(uint32_t(p.colourType * 100 + p.depth));
    QByteArray rows;
    for (int y = 0; y < p.height; ++y) {
        rows.append(char(y % 5));
        for (int i = 0; i < stride; ++i)
            rows.append(char(random()));
        const bool keyed = !p.trns.isEmpty() && p.colourType != 3 && p.depth >= 8;
        for (int x = 0; keyed && y % 5 == 0 && x < p.width; x += 4) {
            for (int c = 0; c < channelsOf(p.colourType); ++c) {
                const qsizetype at = qsizetype{y} * (stride + 1) + 1 + qsizetype{x} * bits / 8 +
                                     qsizetype{c} * p.depth / 8;
                if (p.depth == 16)
                    rows[at] = p.trns[qsizetype{2} * c];
                rows[at + p.depth / 8 - 1] = p.trns[qsizetype{2} * c + 1];
            }
        }
    }
    return rows;
}

// The zlib stream split over three IDATs, so rows straddle chunks.
QByteArray writePng(const Png& p, const QByteArray& raw) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8), header;
    putBigEndian32(header, uint32_t(p.width));
    putBigEndian32(header, uint32_t(p.height));
    header.append(char(p.depth)).append(char(p.colourType)).append(QByteArray(2, '\0'));
    appendChunk(png, "IHDR", header.append(char(p.interlace)));
    QByteArray palette;
    for (int i = 0; i < p.paletteEntries; ++i)
        palette.append(char(i * 7)).append(char(255 - i)).append(char(i * 13 + 5));
    if (!palette.isEmpty())
        appendChunk(png, "PLTE", palette);
    if (!p.trns.isEmpty())
        appendChunk(png, "tRNS", p.trns);
    const QByteArray stream = qCompress(raw, 6).mid(4);  // less Qt's 4-byte length
    const qsizetype third = stream.size() / 3 + 1;
    for (int i = 0; i < 3; ++i)
        appendChunk(png, "IDAT", stream.mid(i * third, third));
    appendChunk(png, "IEND", {});
    return png;
}

QByteArray writePng(const Png& p) {
    return writePng(p, rawRows(p));
}

QByteArray key16(std::initializer_list<int> samples) {
    QByteArray key;
    for (const int s : samples)
        key.append(char(s >> 8)).append(char(s));
    return key;
}

QByteArray alphas(int count) {
    QByteArray a;
    for (int i = 0; i < count; ++i)
        a.append(char(i * 37 % 256));
    return a;
}

// ---- BMPs written by hand and by Qt ---------------------------------------------------------

void putLittle(QByteArray& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(char(v >> (8 * i)));
}

struct Bmp {
    int bits;
    int infoSize = 40;
    bool topDown = false;
    int compression = 0;
    std::array<uint32_t, 4> masks = {0xFF0000, 0xFF00, 0xFF, 0};  // red, green, blue, alpha
    int colours = 0;                                              // 0: 256 for 8 bits
    int width = 29, height = 13;
};

QByteArray writeBmp(const Bmp& b) {
    const int stride = (b.width * b.bits + 31) / 32 * 4;
    const bool inlineMasks = b.compression == 3 && b.infoSize == 40;
    const int paletteBytes = b.bits == 8 ? 4 * (b.colours ? b.colours : 256) : 0;
    const int offset = 14 + b.infoSize + (inlineMasks ? 12 : 0) + paletteBytes;
    QByteArray bmp("BM");
    for (const uint32_t v :
         {uint32_t(offset + stride * b.height), 0u, uint32_t(offset), uint32_t(b.infoSize),
          uint32_t(b.width), uint32_t(b.topDown ? -b.height : b.height)})
        putLittle(bmp, v, 4);
    putLittle(bmp, 1, 2);
    putLittle(bmp, uint32_t(b.bits), 2);
    for (const uint32_t v : {uint32_t(b.compression), uint32_t(stride * b.height), 2835u, 2835u,
                             uint32_t(b.colours), 0u})
        putLittle(bmp, v, 4);
    for (int i = 0; i < (b.infoSize > 40 ? 4 : inlineMasks ? 3 : 0); ++i)
        putLittle(bmp, b.masks[size_t(i)], 4);
    if (b.infoSize > 40)
        bmp.append("BGRs").append(QByteArray(b.infoSize - 60, '\0'));
    std::mt19937 random(uint32_t(b.bits * 1000 + b.infoSize + b.compression));
    for (int i = 0; i < paletteBytes + stride * b.height; ++i)
        bmp.append(char(random()));
    return bmp;
}

// A random picture of the format written by Qt: a valid one for premultiplied formats.
QByteArray qtWritten(const char* format, QImage::Format pixels, int compression = 0) {
    QImage image(33, 21, pixels);
    image.setColorCount(pixels == QImage::Format_Mono       ? 2
                        : pixels == QImage::Format_Indexed8 ? 200
                                                            : 0);
    for (int i = 0; i < image.colorCount(); ++i)
        image.setColor(i, image.colorCount() == 2 ? qRgb(i * 255, i * 255, i * 255)
                                                  : qRgb(i, 255 - i, i * 3 % 256));
    std::mt19937 random{uint32_t(pixels)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.bytesPerLine(); ++x)
            image.scanLine(y)[x] = uint8_t(random() % (image.colorCount() == 200 ? 200 : 256));
    if (pixels == QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32).convertToFormat(pixels);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setCompression(compression);
    writer.write(image);
    return bytes;
}

// ---- TIFFs Qt never writes: tiles, small strips, planes, a 16-bit palette ----------------------

struct Tiff {
    int samples = 3;
    int tile = 0;  // tile side; strips of 3 rows without
    bool planar = false;
    bool palette = false;
};

QByteArray libtiffWritten(const Tiff& t) {
    QTemporaryFile file;
    if (!file.open())
        return {};
    const uint32_t width = 45, height = 37;
    TIFF* tiff = TIFFOpen(file.fileName().toLocal8Bit().constData(), "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, t.samples);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
                 t.palette        ? PHOTOMETRIC_PALETTE
                 : t.samples >= 3 ? PHOTOMETRIC_RGB
                                  : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG,
                 t.planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    if (t.samples % 2 == 0)
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    std::vector<uint16_t> map(size_t{3} * 256);  // entries that are not multiples of 257
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = uint16_t(i * 7919);
    if (t.palette)
        TIFFSetField(tiff, TIFFTAG_COLORMAP, &map[0], &map[256], &map[512]);
    std::mt19937 random(7);
    const int planes = t.planar ? t.samples : 1;
    std::vector<uint8_t> piece(size_t(std::max(t.tile * t.tile, int(width)) * t.samples + 64));
    for (auto& byte : piece)
        byte = uint8_t(random());
    TIFFSetField(tiff, t.tile ? TIFFTAG_TILEWIDTH : TIFFTAG_ROWSPERSTRIP, t.tile ? t.tile : 3);
    if (t.tile)
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, t.tile);
    for (int s = 0; s < planes; ++s) {
        for (uint32_t y = 0; y < height; y += t.tile ? uint32_t(t.tile) : 1) {
            for (uint32_t x = 0; t.tile && x < width; x += uint32_t(t.tile))
                TIFFWriteTile(tiff, &piece[(x + y) % 64], x, y, 0, uint16_t(s));
            if (!t.tile)
                TIFFWriteScanline(tiff, &piece[y % 64], y, uint16_t(s));
        }
    }
    TIFFClose(tiff);
    return file.readAll();
}

struct Made {
    const char* name;
    std::function<QByteArray()> make;
};

std::function<QByteArray()> png(Png p) {
    return [p] { return writePng(p); };
}

std::function<QByteArray()> bmp(Bmp b) {
    return [b] { return writeBmp(b); };
}

const Made kPictures[] = {
    {"png_grey1", png({0, 1})},
    {"png_grey2", png({0, 2})},
    {"png_grey4", png({0, 4})},
    {"png_grey8", png({0, 8})},
    {"png_grey16", png({0, 16})},
    {"png_grey1_black_clear", png({0, 1, key16({0})})},
    {"png_grey1_white_clear", png({0, 1, key16({1})})},
    {"png_grey2_key", png({0, 2, key16({2})})},
    {"png_grey4_key_out_of_range", png({0, 4, key16({300})})},
    {"png_grey8_key", png({0, 8, key16({0x5A})})},
    {"png_grey16_key", png({0, 16, key16({0x1234})})},
    {"png_rgb8", png({2, 8})},
    {"png_rgb16", png({2, 16})},
    {"png_rgb8_key", png({2, 8, key16({10, 20, 30})})},
    {"png_palette1", png({3, 1, {}, 2})},
    {"png_palette2", png({3, 2, {}, 4})},
    {"png_palette4", png({3, 4, {}, 16})},
    {"png_palette8", png({3, 8, {}, 256})},
    {"png_palette8_alphas", png({3, 8, alphas(100), 256})},
    {"png_palette4_opaque_trns", png({3, 4, QByteArray(5, char(255)), 16})},
    {"png_palette8_indexes_past_it", png({3, 8, {}, 100})},
    {"png_palette8_indexes_past_it_alphas", png({3, 8, alphas(50), 100})},
    {"png_palette2_indexes_past_it", png({3, 2, {}, 3})},
    {"png_palette2_longer_than_the_depth", png({3, 2, {}, 9})},
    {"png_grey_alpha8", png({4, 8})},
    {"png_grey_alpha16", png({4, 16})},
    {"png_rgba8", png({6, 8})},
    {"png_rgba16", png({6, 16})},
    {"png_one_column", png({6, 16, {}, 0, 1, 40})},
    {"png_one_row", png({0, 1, {}, 0, 67, 1})},
    {"bmp_qt_rgb32", [] { return qtWritten("bmp", QImage::Format_RGB32); }},
    {"bmp_qt_argb32", [] { return qtWritten("bmp", QImage::Format_ARGB32); }},
    {"bmp_qt_indexed8", [] { return qtWritten("bmp", QImage::Format_Indexed8); }},
    {"bmp_bgr24_bottom_up", bmp({24})},
    {"bmp_bgr24_top_down", bmp({24, 40, true})},
    {"bmp_bgr24_v5_header", bmp({24, 124})},
    {"bmp_xrgb32_padding_ignored", bmp({32})},
    {"bmp_xrgb32_v4_without_fields", bmp({32, 108, true})},
    {"bmp_fields32_inline_masks", bmp({32, 40, false, 3, {0xFF, 0xFF00, 0xFF0000}})},
    {"bmp_fields32_alpha_v4", bmp({32, 108, false, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}})},
    {"bmp_fields32_alpha_low_v5", bmp({32, 124, true, 3, {0xFF000000, 0xFF0000, 0xFF00, 0xFF}})},
    {"bmp_palette8", bmp({8})},
    {"bmp_palette8_indexes_past_it", bmp({.bits = 8, .topDown = true, .colours = 40})},
    {"tiff_qt_rgb32", [] { return qtWritten("tiff", QImage::Format_RGB32); }},
    {"tiff_qt_rgb32_lzw", [] { return qtWritten("tiff", QImage::Format_RGB32, 1); }},
    {"tiff_qt_argb32_unassociated", [] { return qtWritten("tiff", QImage::Format_ARGB32); }},
    {"tiff_qt_argb32_premultiplied",
     [] { return qtWritten("tiff", QImage::Format_ARGB32_Premultiplied); }},
    {"tiff_qt_grey8", [] { return qtWritten("tiff", QImage::Format_Grayscale8); }},
    {"tiff_qt_grey16", [] { return qtWritten("tiff", QImage::Format_Grayscale16); }},
    {"tiff_qt_mono", [] { return qtWritten("tiff", QImage::Format_Mono); }},
    {"tiff_qt_indexed8", [] { return qtWritten("tiff", QImage::Format_Indexed8); }},
    {"tiff_qt_rgbx64", [] { return qtWritten("tiff", QImage::Format_RGBX64); }},
    {"tiff_palette_16_bit_entries", [] { return libtiffWritten({.samples = 1, .palette = true}); }},
    {"tiff_tiled_rgb", [] { return libtiffWritten({.tile = 16}); }},
    {"tiff_tiled_rgba", [] { return libtiffWritten({.samples = 4, .tile = 32}); }},
    {"tiff_strips_grey_alpha", [] { return libtiffWritten({.samples = 2}); }},
    {"tiff_planar_rgb", [] { return libtiffWritten({.planar = true}); }},
};

class StreamedKind : public testing::TestWithParam<Made> {};

// Level 0 compares each converted row with the whole decode's, level 2 the reduction with
// edge blocks.
TEST_P(StreamedKind, EqualsTheWholeDecodeReduced) {
    const QByteArray bytes = GetParam().make();
    ASSERT_FALSE(bytes.isEmpty());
    for (const int32_t level : {0, 2})
        EXPECT_TRUE(streamsAsWholeDecode(bytes, level)) << "level " << level;
}

// A region of the level must be exactly that part of the whole level, for regions on and off
// the box blocks' and tiles' edges, past the level's edges and of a single pixel.
testing::AssertionResult regionsAsLevel(const QByteArray& bytes, int32_t level) {
    Image whole;
    if (decodeStreamedLevel(asSpan(bytes), level, whole) != DecodeStatus::Ok)
        return testing::AssertionFailure() << "the level fails";
    const int32_t w = whole.width(), h = whole.height();
    const PixelRect regions[] = {
        {0, 0, w, h},           {0, 0, 3, 2},
        {w - 3, h - 2, 10, 10}, {w / 2 | 1, h / 3 | 1, w / 3, h / 3},
        {-4, 1, 7, 2},          {0, h / 2, w, 1},
        {w - 1, 0, 1, h + 5},   {w / 3, h - 1, 1, 1},
    };
    for (const PixelRect& region : regions) {
        const int32_t x = std::max(region.x, 0), y = std::max(region.y, 0);
        const int32_t width = std::min(region.x + region.width, w) - x;
        const int32_t height = std::min(region.y + region.height, h) - y;
        Image part;
        // Nothing left of it in a picture of one row or column fails.
        if (decodeStreamedRegion(asSpan(bytes), level, region, part) !=
            (width > 0 && height > 0 ? DecodeStatus::Ok : DecodeStatus::Failed))
            return testing::AssertionFailure() << "region " << region.x << "," << region.y;
        if (width <= 0 || height <= 0)
            continue;
        const QImage expected = whole.qimage().copy(x, y, width, height);
        if (part.qimage() != expected || part.hasAlpha() != whole.hasAlpha() || part.reduced())
            return testing::AssertionFailure()
                   << "region " << region.x << "," << region.y << " " << region.width << "x"
                   << region.height << " differs";
    }
    return testing::AssertionSuccess();
}

TEST_P(StreamedKind, RegionsEqualTheLevelCropped) {
    const QByteArray bytes = GetParam().make();
    for (const int32_t level : {0, 2})
        EXPECT_TRUE(regionsAsLevel(bytes, level)) << "level " << level;
    PictureHeader header;
    ASSERT_EQ(readStreamedHeader(asSpan(bytes), header), DecodeStatus::Ok);
    Image whole;
    ASSERT_EQ(decodeStreamedLevel(asSpan(bytes), 0, whole), DecodeStatus::Ok);
    EXPECT_EQ(header.width, whole.width());
    EXPECT_EQ(header.height, whole.height());
    EXPECT_TRUE(header.regions && header.sequential && header.nativeLevels == 0);
}

INSTANTIATE_TEST_SUITE_P(Stream, StreamedKind, testing::ValuesIn(kPictures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- what isn't streamed, damage, bounds and stopping ----------------------------------------

QByteArray withByte(QByteArray bytes, qsizetype at, char value) {
    bytes[at] = value;
    return bytes;
}

// A PNG whose header claims another size than its rows hold.
QByteArray pngClaiming(int width, int height) {
    return writePng({.colourType = 2, .depth = 8, .width = width, .height = height},
                    rawRows({2, 8}));
}

struct Outcome {
    const char* name;
    std::function<QByteArray()> make;
    int32_t level;
    std::optional<DecodeStatus> expected;
};

const Outcome kOutcomes[] = {
    {"jpeg", [] { return QByteArray("\xFF\xD8\xFF\xE0", 4); }, 1, std::nullopt},
    {"png_interlaced", png({2, 8, {}, 0, 37, 23, 1}), 1, std::nullopt},
    {"png_palette1_of_one_entry", png({3, 1, {}, 1}), 1, std::nullopt},
    {"png_rgb16_key", png({2, 16, key16({1000, 2000, 3000})}), 1, std::nullopt},
    {"bmp_rle8", bmp({.bits = 8, .compression = 1}), 1, std::nullopt},
    {"bmp_16_bit", bmp({16}), 1, std::nullopt},
    {"bmp_4_bit", bmp({4}), 1, std::nullopt},
    {"bmp_5_bit_fields", bmp({32, 40, false, 3, {0x7C00, 0x3E0, 0x1F}}), 1, std::nullopt},
    {"tiff_rgba64", [] { return qtWritten("tiff", QImage::Format_RGBA64); }, 1, std::nullopt},
    {"png_too_large", [] { return pngClaiming(1000000, 1000000); }, 0, DecodeStatus::OutOfMemory},
    // Deep enough to hold, it fails on the missing rows having allocated only the level.
    {"png_huge_claim_deep_level", [] { return pngClaiming(1000000, 1000000); }, 10,
     DecodeStatus::Failed},
    {"level_out_of_range", png({2, 8}), kMaxLevel + 1, DecodeStatus::Failed},
    {"png_unknown_filter",
     [] {
         return writePng({0, 8, {}, 0, 8, 8}, withByte(rawRows({0, 8, {}, 0, 8, 8}), 45, 5));
     },
     1, DecodeStatus::Failed},
    {"png_missing_rows", [] { return pngClaiming(37, 24); }, 1, DecodeStatus::Failed},
    {"bmp_truncated", [] { return writeBmp({24}).chopped(1); }, 1, DecodeStatus::Failed},
    {"bmp_palette_too_long", bmp({.bits = 8, .colours = 257}), 1, DecodeStatus::Failed},
    {"bmp_absurd_height", [] { return withByte(writeBmp({24}), 25, char(0x7F)); }, 1,
     DecodeStatus::Failed},
    {"tiff_truncated", [] { return qtWritten("tiff", QImage::Format_RGB32).left(400); }, 1,
     DecodeStatus::Failed},
};

class StreamOutcome : public testing::TestWithParam<Outcome> {};

// Anything but nullopt empties out first; nullopt leaves it alone.
TEST_P(StreamOutcome, AsExpected) {
    Image image;
    ASSERT_TRUE(image.create(2, 2, false));
    const QByteArray bytes = GetParam().make();
    EXPECT_EQ(decodeStreamedLevel(asSpan(bytes), GetParam().level, image), GetParam().expected);
    EXPECT_EQ(image.empty(), GetParam().expected.has_value());
}

INSTANTIATE_TEST_SUITE_P(Stream, StreamOutcome, testing::ValuesIn(kOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

struct RegionOutcome {
    const char* name;
    std::function<QByteArray()> make;
    int32_t level;
    PixelRect region;
    std::optional<DecodeStatus> expected;
};

QByteArray pngMissingRows() {
    return pngClaiming(37, 40);
}

QByteArray pngHugeClaim() {
    return pngClaiming(1000000, 1000000);
}

const RegionOutcome kRegionOutcomes[] = {
    {"jpeg", [] { return QByteArray("\xFF\xD8\xFF\xE0", 4); }, 0, {0, 0, 4, 4}, std::nullopt},
    {"png_interlaced", png({2, 8, {}, 0, 37, 23, 1}), 0, {0, 0, 4, 4}, std::nullopt},
    {"right_of_the_level", png({2, 8}), 2, {10, 0, 4, 4}, DecodeStatus::Failed},
    // Rows below the region are never read, so a picture missing them still gives it.
    {"png_missing_rows_below", pngMissingRows, 0, {3, 2, 9, 20}, DecodeStatus::Ok},
    {"png_missing_rows_in_it", pngMissingRows, 0, {3, 2, 9, 30}, DecodeStatus::Failed},
    // The bound counts the region, not the level.
    {"png_huge_claim", pngHugeClaim, 0, {5, 0, 100, 100}, DecodeStatus::Failed},
    {"png_huge_region", pngHugeClaim, 0, {0, 0, 1000000, 1000000}, DecodeStatus::OutOfMemory},
    {"bmp_truncated",
     [] { return writeBmp({24}).chopped(1); },
     0,
     {0, 0, 4, 4},
     DecodeStatus::Failed},
};

class StreamRegionOutcome : public testing::TestWithParam<RegionOutcome> {};

TEST_P(StreamRegionOutcome, AsExpected) {
    Image image;
    ASSERT_TRUE(image.create(2, 2, false));
    const QByteArray bytes = GetParam().make();
    EXPECT_EQ(decodeStreamedRegion(asSpan(bytes), GetParam().level, GetParam().region, image),
              GetParam().expected);
    EXPECT_EQ(image.empty(),
              GetParam().expected != DecodeStatus::Ok && GetParam().expected.has_value());
    PictureHeader header;
    EXPECT_EQ(readStreamedHeader(asSpan(bytes), header).has_value(),
              GetParam().expected.has_value());
}

INSTANTIATE_TEST_SUITE_P(Stream, StreamRegionOutcome, testing::ValuesIn(kRegionOutcomes),
                         [](const auto& info) { return std::string(info.param.name); });

// Every cut of a file of each format and every flipped byte: a status or nullopt, never a
// crash, a read past the data or a picture of the wrong size.
TEST(StreamDamage, EveryCutAndFlipEndsCleanly) {
    for (const QByteArray& file :
         {writePng({3, 4, alphas(9), 16, 13, 9}), writeBmp({.bits = 24, .width = 7, .height = 5}),
          qtWritten("tiff", QImage::Format_ARGB32, 1)}) {
        std::vector<QByteArray> damaged;
        for (qsizetype cut = 0; cut < file.size(); ++cut)
            damaged.push_back(file.left(cut));
        std::mt19937 random(5);
        for (int i = 0; i < 300; ++i)
            damaged.push_back(
                withByte(file, qsizetype(random() % uint32_t(file.size())), char(random())));
        for (const QByteArray& bytes : damaged) {
            Image image;
            const std::optional<DecodeStatus> status = decodeStreamedLevel(asSpan(bytes), 1, image);
            EXPECT_EQ(image.empty(), status != DecodeStatus::Ok);
            EXPECT_EQ(image.width(), levelExtent(image.fullWidth(), 1));
            const std::optional<DecodeStatus> part =
                decodeStreamedRegion(asSpan(bytes), 1, {1, 1, 3, 2}, image);
            EXPECT_EQ(image.empty(), part != DecodeStatus::Ok);
        }
    }
}

TEST(StreamStop, ARequestedStopCancels) {
    std::stop_source source;
    source.request_stop();
    for (const QByteArray& file :
         {writePng({2, 8}), writeBmp({24}), qtWritten("tiff", QImage::Format_RGB32),
          qtWritten("tiff", QImage::Format_Grayscale16)}) {
        Image image;
        EXPECT_EQ(decodeStreamedLevel(asSpan(file), 1, image, source.get_token()),
                  DecodeStatus::Cancelled);
        EXPECT_TRUE(image.empty());
        EXPECT_EQ(decodeStreamedRegion(asSpan(file), 0, {3, 4, 5, 6}, image, source.get_token()),
                  DecodeStatus::Cancelled);
    }
}

}  // namespace
