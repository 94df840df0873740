#include "render/decode/decoder.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <openjpeg.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "render/decode/jpeg2000_decoder.h"

namespace {

namespace fs = std::filesystem;

// Test pictures are 16 x 8: colour A in the left half, colour B in the right half, so a
// swapped channel, a mirrored row or a wrong stride shows in two probe pixels.
constexpr int kWidth = 16;
constexpr int kHeight = 8;
constexpr QRgb kLeft = 0xFF2060C0;   // opaque
constexpr QRgb kRight = 0xFFE0A040;  // opaque

std::span<const uint8_t> asSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
}

DecodeStatus decodeBytes(const QByteArray& bytes, Image& out) {
    return decodePictureData(asSpan(bytes), out);
}

QImage halves(QImage::Format format, QRgb left, QRgb right) {
    QImage image(kWidth, kHeight, format);
    if (format == QImage::Format_Indexed8) {
        image.setColorTable({left, right});
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                image.setPixel(x, y, x < kWidth / 2 ? 0 : 1);
        return image;
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            image.setPixelColor(x, y, QColor::fromRgba(x < kWidth / 2 ? left : right));
    return image;
}

QByteArray encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

// The holder's bytes are blue, green, red, alpha; read them as such, not through QImage.
QRgb pixelAt(const Image& image, int x, int y) {
    const uint8_t* p = image.row(y) + ptrdiff_t{4} * x;
    return qRgba(p[2], p[1], p[0], p[3]);
}

bool near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance && std::abs(qAlpha(a) - qAlpha(b)) <= 1;
}

// --- hand-written GIF: 2 x 1, palette red and blue, two frames --------------------------

QByteArray twoFrameGif(bool transparentIndex1) {
    const uint8_t gce = transparentIndex1 ? 0x01 : 0x00;
    const uint8_t bytes[] = {'G',  'I',  'F',  '8',  '9', 'a',  2, 0, 1, 0,
                             0x80, 0,    0,                            // screen, 2-entry table
                             0xFF, 0,    0,    0,    0,   0xFF,        // red, blue
                             0x21, 0xF9, 4,    gce,  0,   0,    1, 0,  // control: index 1 clear?
                             0x2C, 0,    0,    0,    0,   2,    0, 1, 0, 0,  // frame 1: red, blue
                             2,    2,    0x44, 0x0A, 0,                      //
                             0x21, 0xF9, 4,    0,    0,   0,    0, 0,        //
                             0x2C, 0,    0,    0,    0,   2,    0, 1, 0, 0,  // frame 2: blue, red
                             2,    2,    0x0C, 0x0A, 0,                      //
                             0x3B};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// --- JPEG 2000 written with OpenJPEG's encoder ----------------------------------------------

struct Component {
    uint32_t prec = 8;
    bool sgnd = false;
    uint32_t dx = 1, dy = 1;
    std::function<int32_t(int x, int y)> sample;  // at full-grid coordinates
    bool alpha = false;
};

struct MemorySink {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
};

OPJ_SIZE_T writeSink(void* data, OPJ_SIZE_T size, void* user) {
    auto* sink = static_cast<MemorySink*>(user);
    if (sink->bytes.size() < sink->pos + size)
        sink->bytes.resize(sink->pos + size);
    std::memcpy(sink->bytes.data() + sink->pos, data, size);
    sink->pos += size;
    return size;
}
OPJ_OFF_T skipSink(OPJ_OFF_T size, void* user) {
    static_cast<MemorySink*>(user)->pos += size;
    return size;
}
OPJ_BOOL seekSink(OPJ_OFF_T pos, void* user) {
    static_cast<MemorySink*>(user)->pos = pos;
    return OPJ_TRUE;
}

QByteArray encodeJpeg2000(OPJ_CODEC_FORMAT format, int width, int height,
                          OPJ_COLOR_SPACE colourSpace, const std::vector<Component>& components) {
    std::vector<opj_image_cmptparm_t> params(components.size());
    for (size_t c = 0; c < components.size(); ++c) {
        params[c] = {};
        params[c].dx = components[c].dx;
        params[c].dy = components[c].dy;
        params[c].w = (width + components[c].dx - 1) / components[c].dx;
        params[c].h = (height + components[c].dy - 1) / components[c].dy;
        params[c].prec = components[c].prec;
        params[c].sgnd = components[c].sgnd;
    }
    opj_image_t* image = opj_image_create(params.size(), params.data(), colourSpace);
    image->x1 = width;
    image->y1 = height;
    for (size_t c = 0; c < components.size(); ++c) {
        opj_image_comp_t& comp = image->comps[c];
        comp.alpha = components[c].alpha;
        for (uint32_t y = 0; y < comp.h; ++y)
            for (uint32_t x = 0; x < comp.w; ++x)
                comp.data[y * comp.w + x] = components[c].sample(x * comp.dx, y * comp.dy);
    }
    opj_cparameters_t parameters;
    opj_set_default_encoder_parameters(&parameters);
    parameters.tcp_numlayers = 1;
    parameters.tcp_rates[0] = 0;  // lossless
    parameters.cp_disto_alloc = 1;
    parameters.numresolution = 2;
    parameters.tcp_mct = 0;
    opj_codec_t* codec = opj_create_compress(format);
    MemorySink sink;
    opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_FALSE);
    opj_stream_set_user_data(stream, &sink, nullptr);
    opj_stream_set_write_function(stream, writeSink);
    opj_stream_set_skip_function(stream, skipSink);
    opj_stream_set_seek_function(stream, seekSink);
    const bool ok = opj_setup_encoder(codec, &parameters, image) &&
                    opj_start_compress(codec, image, stream) && opj_encode(codec, stream) &&
                    opj_end_compress(codec, stream);
    opj_stream_destroy(stream);
    opj_destroy_codec(codec);
    opj_image_destroy(image);
    EXPECT_TRUE(ok) << "encoding JPEG 2000 failed";
    return QByteArray(reinterpret_cast<const char*>(sink.bytes.data()), sink.bytes.size());
}

// One 8-bit component taking a channel of the two halves' colours.
Component channel(int (*pick)(QRgb)) {
    return {8, false, 1, 1, [pick](int x, int) { return pick(x < kWidth / 2 ? kLeft : kRight); }};
}
Component constant(uint32_t prec, bool sgnd, int32_t left, int32_t right) {
    return {prec, sgnd, 1, 1, [=](int x, int) { return x < kWidth / 2 ? left : right; }};
}

QByteArray jp2Rgb() {
    return encodeJpeg2000(OPJ_CODEC_JP2, kWidth, kHeight, OPJ_CLRSPC_SRGB,
                          {channel(qRed), channel(qGreen), channel(qBlue)});
}

// Full-resolution luma with chroma at half resolution both ways, on an odd-sized grid so the
// last column and row of chroma cover a single luma sample.
QByteArray j2kYcc420(int width, int height) {
    auto ycc = [](QRgb c, int which) {
        const double r = qRed(c), g = qGreen(c), b = qBlue(c);
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        const double v = which == 0   ? y
                         : which == 1 ? 128 + (b - y) / 1.772
                                      : 128 + (r - y) / 1.402;
        return int32_t(std::clamp(v + 0.5, 0.0, 255.0));
    };
    std::vector<Component> components;
    for (int which = 0; which < 3; ++which) {
        const uint32_t step = which == 0 ? 1 : 2;
        components.push_back({8, false, step, step, [=](int x, int) {
                                  return ycc(x < kWidth / 2 ? kLeft : kRight, which);
                              }});
    }
    return encodeJpeg2000(OPJ_CODEC_J2K, width, height, OPJ_CLRSPC_UNSPECIFIED, components);
}

// --- byte patches -----------------------------------------------------------------------

void putBe32(QByteArray& bytes, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(v >> (24 - 8 * i));
}
void putLe32(QByteArray& bytes, int at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char(v >> (8 * i));
}

uint32_t crc32(const char* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= uint8_t(data[i]);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return ~crc;
}

QByteArray pngClaiming(uint32_t width, uint32_t height) {
    QByteArray png = encode(halves(QImage::Format_RGB32, kLeft, kRight), "png");
    putBe32(png, 16, width);  // IHDR follows the 8-byte signature and the chunk header
    putBe32(png, 20, height);
    putBe32(png, 29, crc32(png.constData() + 12, 17));
    return png;
}

QByteArray bmpClaiming(int32_t width, int32_t height) {
    QByteArray bmp = encode(halves(QImage::Format_RGB32, kLeft, kRight), "bmp");
    putLe32(bmp, 18, uint32_t(width));
    putLe32(bmp, 22, uint32_t(height));
    return bmp;
}

QByteArray j2kClaiming(uint32_t width, uint32_t height) {
    QByteArray j2k = encodeJpeg2000(OPJ_CODEC_J2K, kWidth, kHeight, OPJ_CLRSPC_GRAY,
                                    {constant(8, false, 10, 200)});
    putBe32(j2k, 8, width);    // Xsiz
    putBe32(j2k, 12, height);  // Ysiz
    putBe32(j2k, 24, width);   // one tile over the whole claimed grid
    putBe32(j2k, 28, height);
    return j2k;
}

QByteArray jpegClaiming(uint16_t width, uint16_t height) {
    QByteArray jpeg = encode(halves(QImage::Format_RGB32, kLeft, kRight), "jpeg", 90);
    const int sof = jpeg.indexOf("\xFF\xC0");
    jpeg[sof + 5] = char(height >> 8);
    jpeg[sof + 6] = char(height);
    jpeg[sof + 7] = char(width >> 8);
    jpeg[sof + 8] = char(width);
    return jpeg;
}

QByteArray gifClaiming(uint16_t width, uint16_t height) {
    QByteArray gif = twoFrameGif(false);
    for (int at : {6, 33}) {  // logical screen and first frame
        gif[at] = char(width);
        gif[at + 1] = char(width >> 8);
        gif[at + 2] = char(height);
        gif[at + 3] = char(height >> 8);
    }
    return gif;
}

// An APP1 EXIF block saying "turn a quarter clockwise to view", put right after SOI.
QByteArray withExifOrientation6(QByteArray jpeg) {
    const uint8_t app1[] = {0xFF, 0xE1, 0,    34,   'E', 'x', 'i', 'f', 0, 0,  // marker, length
                            'I',  'I',  42,   0,    8,   0,   0,   0,          // TIFF header
                            1,    0,    0x12, 0x01, 3,   0,   1,   0,   0, 0,
                            6,    0,    0,    0,   // Orientation 6
                            0,    0,    0,    0};  // no next IFD
    return jpeg.insert(2, QByteArray(reinterpret_cast<const char*>(app1), sizeof app1));
}

fs::path testData(const char* name) {
    const char* dir = std::getenv("QUILLMERE_TEST_DATA");
    return (dir ? fs::path(dir) : fs::path(__FILE__).parent_path() / "data") / name;
}

void writeFile(const fs::path& file, const QByteArray& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.constData(), bytes.size());
}

// --- every format decodes to the holder's two layouts ----------------------------------

struct FormatCase {
    const char* name;
    std::function<QByteArray()> make;
    bool alpha;
    QRgb left, right;  // expected at (0, 0) and at the bottom-right pixel
    int tolerance;
};

const QRgb kHalfWhite = qRgba(255, 255, 255, 128);
const QRgb kGreyA = qRgb(0x40, 0x40, 0x40), kGreyB = qRgb(0xC8, 0xC8, 0xC8);

const FormatCase kFormats[] = {
    {"jpeg_rgb_in_place",
     [] { return encode(halves(QImage::Format_RGB32, kLeft, kRight), "jpeg", 95); }, false, kLeft,
     kRight, 8},
    {"jpeg_grey_expands_to_rgb32",
     [] { return encode(halves(QImage::Format_Grayscale8, kGreyA, kGreyB), "jpeg", 95); }, false,
     kGreyA, kGreyB, 3},
    {"jpeg_exif_orientation_not_applied",
     [] {
         return withExifOrientation6(
             encode(halves(QImage::Format_RGB32, kLeft, kRight), "jpeg", 95));
     },
     false, kLeft, kRight, 8},
    {"png_rgb8_has_no_alpha",
     [] { return encode(halves(QImage::Format_RGB888, kLeft, kRight), "png"); }, false, kLeft,
     kRight, 0},
    {"png_half_transparent_white_is_straight",
     [] { return encode(halves(QImage::Format_ARGB32, kLeft, kHalfWhite), "png"); }, true, kLeft,
     kHalfWhite, 0},
    {"png_16bit_rgba_is_straight_argb32",
     [] { return encode(halves(QImage::Format_RGBA64, kLeft, kHalfWhite), "png"); }, true, kLeft,
     kHalfWhite, 1},
    {"png_16bit_rgb_has_no_alpha",
     [] { return encode(halves(QImage::Format_RGBX64, kLeft, kRight), "png"); }, false, kLeft,
     kRight, 1},
    {"png_grey8", [] { return encode(halves(QImage::Format_Grayscale8, kGreyA, kGreyB), "png"); },
     false, kGreyA, kGreyB, 0},
    {"png_grey16", [] { return encode(halves(QImage::Format_Grayscale16, kGreyA, kGreyB), "png"); },
     false, kGreyA, kGreyB, 1},
    {"png_palette_opaque_has_no_alpha",
     [] { return encode(halves(QImage::Format_Indexed8, kLeft, kRight), "png"); }, false, kLeft,
     kRight, 0},
    {"png_palette_trns_has_alpha",
     [] { return encode(halves(QImage::Format_Indexed8, kLeft, qRgba(0, 0, 255, 0)), "png"); },
     true, kLeft, qRgba(0, 0, 255, 0), 0},
    {"bmp_rgb", [] { return encode(halves(QImage::Format_RGB32, kLeft, kRight), "bmp"); }, false,
     kLeft, kRight, 0},
    {"tiff_rgb", [] { return encode(halves(QImage::Format_RGB32, kLeft, kRight), "tiff"); }, false,
     kLeft, kRight, 0},
    // Qt's TIFF reader hands back premultiplied pixels; they must not pass through as they are.
    {"tiff_alpha_is_unpremultiplied",
     [] { return encode(halves(QImage::Format_ARGB32, kLeft, kHalfWhite), "tiff"); }, true, kLeft,
     kHalfWhite, 1},
    {"jp2_rgb8", jp2Rgb, false, kLeft, kRight, 0},
    {"j2k_grey8",
     [] {
         return encodeJpeg2000(OPJ_CODEC_J2K, kWidth, kHeight, OPJ_CLRSPC_GRAY,
                               {constant(8, false, 0x40, 0xC8)});
     },
     false, kGreyA, kGreyB, 0},
    {"jp2_rgba_is_straight",
     [] {
         Component alpha = constant(8, false, 255, 128);
         alpha.alpha = true;
         return encodeJpeg2000(
             OPJ_CODEC_JP2, kWidth, kHeight, OPJ_CLRSPC_SRGB,
             {constant(8, false, qRed(kLeft), 255), constant(8, false, qGreen(kLeft), 255),
              constant(8, false, qBlue(kLeft), 255), alpha});
     },
     true, kLeft, kHalfWhite, 0},
    {"j2k_grey_plus_alpha",
     [] {
         return encodeJpeg2000(OPJ_CODEC_J2K, kWidth, kHeight, OPJ_CLRSPC_GRAY,
                               {constant(8, false, 0x40, 255), constant(8, false, 255, 128)});
     },
     true, kGreyA, kHalfWhite, 0},
    {"j2k_12bit_shifts_to_8",
     [] {
         return encodeJpeg2000(OPJ_CODEC_J2K, kWidth, kHeight, OPJ_CLRSPC_GRAY,
                               {constant(12, false, 0x40F, 0xFFF)});
     },
     false, qRgb(0x40, 0x40, 0x40), qRgb(255, 255, 255), 0},
    {"j2k_4bit_stretches_to_8",
     [] {
         return encodeJpeg2000(OPJ_CODEC_J2K, kWidth, kHeight, OPJ_CLRSPC_GRAY,
                               {constant(4, false, 15, 8)});
     },
     false, qRgb(255, 255, 255), qRgb(136, 136, 136), 0},
    {"j2k_signed_samples_are_offset",
     [] {
         return encodeJpeg2000(OPJ_CODEC_J2K, kWidth, kHeight, OPJ_CLRSPC_GRAY,
                               {constant(8, true, -128, 127)});
     },
     false, qRgb(0, 0, 0), qRgb(255, 255, 255), 0},
    {"j2k_subsampled_chroma_becomes_rgb", [] { return j2kYcc420(kWidth, kHeight); }, false, kLeft,
     kRight, 4},
};

class DecodeFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(DecodeFormat, GivesHolderLayoutWithExpectedPixels) {
    const FormatCase& c = GetParam();
    Image image;
    ASSERT_EQ(decodeBytes(c.make(), image), DecodeStatus::Ok);
    ASSERT_EQ(image.width(), kWidth);
    ASSERT_EQ(image.height(), kHeight);
    EXPECT_EQ(image.hasAlpha(), c.alpha);
    EXPECT_EQ(image.qimage().format(), c.alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    const QRgb first = pixelAt(image, 0, 0), last = pixelAt(image, kWidth - 1, kHeight - 1);
    EXPECT_TRUE(near(first, c.left, c.tolerance)) << std::hex << first << " vs " << c.left;
    EXPECT_TRUE(near(last, c.right, c.tolerance)) << std::hex << last << " vs " << c.right;
}

INSTANTIATE_TEST_SUITE_P(Formats, DecodeFormat, testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DecodeGif, FirstFrameOnlyAndTransparentIndexGivesAlpha) {
    Image opaque, transparent;
    ASSERT_EQ(decodeBytes(twoFrameGif(false), opaque), DecodeStatus::Ok);
    ASSERT_EQ(opaque.width(), 2);
    EXPECT_FALSE(opaque.hasAlpha());
    EXPECT_EQ(pixelAt(opaque, 0, 0), qRgb(255, 0, 0));  // the second frame starts with blue
    EXPECT_EQ(pixelAt(opaque, 1, 0), qRgb(0, 0, 255));

    ASSERT_EQ(decodeBytes(twoFrameGif(true), transparent), DecodeStatus::Ok);
    EXPECT_TRUE(transparent.hasAlpha());
    EXPECT_EQ(pixelAt(transparent, 0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(qAlpha(pixelAt(transparent, 1, 0)), 0);
}

TEST(DecodeFiles, MultiPageTiffGivesFirstPage) {
    Image image;
    ASSERT_EQ(decodePicture(testData("two-pages.tiff"), image), DecodeStatus::Ok);
    EXPECT_TRUE(near(pixelAt(image, 0, 0), qRgb(255, 0, 0), 2));
}

TEST(DecodeFiles, CmykJpegBecomesRgb) {
    Image image;
    ASSERT_EQ(decodePicture(testData("cmyk-red.jpg"), image), DecodeStatus::Ok);
    EXPECT_FALSE(image.hasAlpha());
    EXPECT_TRUE(near(pixelAt(image, 0, 0), qRgb(255, 0, 0), 24))
        << std::hex << pixelAt(image, 0, 0);
}

TEST(DecodeFiles, ContentDecidesNotTheName) {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    writeFile(folder / "really-a-png.jpg",
              encode(halves(QImage::Format_ARGB32, kLeft, kHalfWhite), "png"));
    writeFile(folder / "notes.jpg", "This is a text file, not a picture.\n");
    writeFile(folder / "empty.png", "");
    // Names are bytes on Linux; one that is not UTF-8 must still open.
    writeFile(folder / "caf\xE9.jp2", jp2Rgb());

    Image image;
    ASSERT_EQ(decodePicture(folder / "really-a-png.jpg", image), DecodeStatus::Ok);
    EXPECT_TRUE(image.hasAlpha());
    EXPECT_EQ(decodePicture(folder / "caf\xE9.jp2", image), DecodeStatus::Ok);
    EXPECT_EQ(image.width(), kWidth);

    for (const char* name : {"notes.jpg", "empty.png", "missing.jpg", "."}) {
        ASSERT_EQ(decodePicture(folder / "caf\xE9.jp2", image), DecodeStatus::Ok);
        EXPECT_EQ(decodePicture(folder / name, image), DecodeStatus::Failed) << name;
        EXPECT_TRUE(image.empty()) << name << ": the previous picture must not survive";
    }
    fs::remove(folder / "caf\xE9.jp2");  // QTemporaryDir cannot remove a non-UTF-8 name
}

// Formats Qt could read but the viewer does not admit must not be handed to their plugins.
TEST(DecodeFiles, OtherQtFormatsAreRefused) {
    Image image;
    const QByteArray svg("<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'/>");
    EXPECT_EQ(decodeBytes(svg, image), DecodeStatus::Failed);
    EXPECT_EQ(decodeBytes(encode(halves(QImage::Format_RGB32, kLeft, kRight), "ico"), image),
              DecodeStatus::Failed);
    EXPECT_TRUE(image.empty());
}

// Beyond Qt's default 128 MB limit, well within the viewer's own bound.
TEST(DecodeLimits, LargePictureOverQtDefaultLimitDecodes) {
    QImage big(6000, 6000, QImage::Format_RGB888);
    big.fill(QColor(10, 20, 30));
    Image image;
    ASSERT_EQ(decodeBytes(encode(big, "png"), image), DecodeStatus::Ok);
    EXPECT_EQ(image.width(), 6000);
    EXPECT_EQ(pixelAt(image, 5999, 5999), qRgb(10, 20, 30));
}

struct ClaimCase {
    const char* name;
    std::function<QByteArray()> make;
};

struct AbsurdCase {
    const char* name;
    std::function<QByteArray()> make;
    DecodeStatus expected;
};

// OutOfMemory shows our own check refused the claim before any decoder allocated for it;
// Qt's BMP reader already rejects such a header as invalid.
const AbsurdCase kAbsurdHeaders[] = {
    {"png_100000_square", [] { return pngClaiming(100000, 100000); }, DecodeStatus::OutOfMemory},
    {"bmp_100000_square", [] { return bmpClaiming(100000, 100000); }, DecodeStatus::Failed},
    {"j2k_100000_square", [] { return j2kClaiming(100000, 100000); }, DecodeStatus::OutOfMemory},
    {"jpeg_65500_square", [] { return jpegClaiming(65500, 65500); }, DecodeStatus::OutOfMemory},
    {"gif_65535_square", [] { return gifClaiming(65535, 65535); }, DecodeStatus::OutOfMemory},
};

class AbsurdHeader : public testing::TestWithParam<AbsurdCase> {};

TEST_P(AbsurdHeader, RefusedBeforeAllocating) {
    Image image;
    EXPECT_EQ(decodeBytes(GetParam().make(), image), GetParam().expected);
    EXPECT_TRUE(image.empty());
}

INSTANTIATE_TEST_SUITE_P(Limits, AbsurdHeader, testing::ValuesIn(kAbsurdHeaders),
                         [](const auto& info) { return std::string(info.param.name); });

// --- damaged files ------------------------------------------------------------------------

const ClaimCase kGoodFiles[] = {
    {"jpeg", [] { return encode(halves(QImage::Format_RGB32, kLeft, kRight), "jpeg", 90); }},
    {"png", [] { return encode(halves(QImage::Format_ARGB32, kLeft, kHalfWhite), "png"); }},
    {"gif", [] { return twoFrameGif(true); }},
    {"bmp", [] { return encode(halves(QImage::Format_RGB32, kLeft, kRight), "bmp"); }},
    {"tiff", [] { return encode(halves(QImage::Format_RGB32, kLeft, kRight), "tiff"); }},
    {"jp2", jp2Rgb},
    {"j2k_subsampled", [] { return j2kYcc420(15, 7); }},
};

class Damaged : public testing::TestWithParam<ClaimCase> {};

// Whatever the damage, a result is either a whole picture of the file's size or nothing.
void expectConsistent(const QByteArray& bytes, int width, int height, const std::string& what) {
    Image image;
    const DecodeStatus status = decodeBytes(bytes, image);
    if (status == DecodeStatus::Ok) {
        EXPECT_EQ(image.width(), width) << what;
        EXPECT_EQ(image.height(), height) << what;
    } else {
        EXPECT_TRUE(image.empty()) << what;
    }
}

TEST_P(Damaged, TruncatedHeaderFailsAndAnyCutIsConsistent) {
    const QByteArray good = GetParam().make();
    Image reference;
    ASSERT_EQ(decodeBytes(good, reference), DecodeStatus::Ok);
    for (int cut : {0, 1, 3, 11}) {
        Image image;
        EXPECT_EQ(decodeBytes(good.left(cut), image), DecodeStatus::Failed) << "cut at " << cut;
        EXPECT_TRUE(image.empty());
    }
    for (qsizetype cut = 12; cut < good.size(); cut += std::max<qsizetype>(1, good.size() / 40))
        expectConsistent(good.left(cut), reference.width(), reference.height(),
                         "cut at " + std::to_string(cut));
}

TEST_P(Damaged, CorruptBytesNeverCrash) {
    const QByteArray good = GetParam().make();
    Image reference;
    ASSERT_EQ(decodeBytes(good, reference), DecodeStatus::Ok);
    std::mt19937 random(1234);
    for (int round = 0; round < 60; ++round) {
        QByteArray bad = good;
        // Leave the signature so the same decoder is chosen; spoil a few bytes after it.
        std::uniform_int_distribution<qsizetype> at(12, bad.size() - 1);
        for (int k = 0; k < 1 + round % 4; ++k)
            bad[at(random)] = char(random());
        Image image;
        const DecodeStatus status = decodeBytes(bad, image);
        EXPECT_EQ(status == DecodeStatus::Ok, !image.empty()) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, Damaged, testing::ValuesIn(kGoodFiles),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
