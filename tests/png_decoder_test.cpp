#include "render/decode/png_decoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// Bytes of a literal, zeros included.
template <size_t N>
QByteArray bytesOf(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

std::span<const uint8_t> asSpan(const QByteArray& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
}

// What the viewer got from Qt before: its reader, then the holder's two formats.
std::optional<QImage> decodeThroughQt(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    reader.setAutoTransform(false);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    return image;
}

// A file left to Qt is Qt's business; any other answer must be Qt's, byte for byte, or a
// failure where Qt fails too.
testing::AssertionResult agreesWithQt(const QByteArray& bytes) {
    Image ours;
    const std::optional<DecodeStatus> status = decodePngFast(asSpan(bytes), ours);
    if (!status)
        return testing::AssertionSuccess();
    const std::optional<QImage> qt = decodeThroughQt(bytes);
    if (!qt) {
        if (*status == DecodeStatus::Ok)
            return testing::AssertionFailure() << "Qt fails, decodePngFast gives a picture";
        return ours.empty() ? testing::AssertionSuccess()
                            : testing::AssertionFailure() << "failed but left pixels";
    }
    if (*status != DecodeStatus::Ok)
        return testing::AssertionFailure() << "Qt decodes, decodePngFast fails";
    if (ours.width() != qt->width() || ours.height() != qt->height())
        return testing::AssertionFailure() << "size differs";
    if (ours.hasAlpha() != qt->hasAlphaChannel())
        return testing::AssertionFailure() << "alpha differs: ours " << ours.hasAlpha();
    for (int y = 0; y < ours.height(); ++y) {
        if (std::memcmp(ours.row(y), qt->constScanLine(y), size_t(ours.width()) * 4) != 0)
            return testing::AssertionFailure() << "row " << y << " differs";
    }
    return testing::AssertionSuccess();
}

// --- a PNG writer that chooses each row's filter ------------------------------------------

void putBigEndian32(QByteArray& out, uint32_t v) {
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

uint32_t readBigEndian32(const QByteArray& png, qsizetype at) {
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 |
           uint32_t(uint8_t(png[at + 2])) << 8 | uint8_t(png[at + 3]);
}

uint32_t crcOf(const char* bytes, size_t size) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        c ^= uint8_t(bytes[i]);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

void appendChunk(QByteArray& png, const QByteArray& type, const QByteArray& payload) {
    putBigEndian32(png, uint32_t(payload.size()));
    const QByteArray body = type + payload;
    png += body;
    putBigEndian32(png, crcOf(body.constData(), size_t(body.size())));
}

int channelsOf(int colourType) {
    return colourType == 0 ? 1 : colourType == 4 ? 2 : colourType == 2 ? 3 : 4;
}

struct Recipe {
    int width = 9;
    int height = 7;
    int colourType = 6;
    int bitDepth = 8;
    int interlace = 0;
    std::vector<int> filters = {0, 1, 2, 3, 4};  // row y uses filters[y % size]
    int dataChunks = 1;                          // the zlib stream split over this many IDATs
    bool opaque = false;
    std::vector<std::pair<QByteArray, QByteArray>> before{}, after{};  // chunks around the IDATs
};

int predictor(int filter, int left, int above, int corner) {
    switch (filter) {
        case 1:
            return left;
        case 2:
            return above;
        case 3:
            return (left + above) / 2;
        case 4: {
            const int p = left + above - corner;
            const int pa = std::abs(p - left), pb = std::abs(p - above), pc = std::abs(p - corner);
            return pa <= pb && pa <= pc ? left : pb <= pc ? above : corner;
        }
        default:
            return 0;
    }
}

// Random samples (a fixed seed, so a failure repeats), each row filtered as the recipe says.
QByteArray filteredRows(const Recipe& r) {
    const int bpp = channelsOf(r.colourType);
    const int stride = r.width * bpp;
    std::mt19937 random(uint32_t(r.width * 31 + r.height * 7 + r.colourType));
    std::vector<uint8_t> rows(size_t(stride) * size_t(r.height));
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = r.opaque && i % 4 == 3 ? 255 : uint8_t(random());
    QByteArray out;
    for (int y = 0; y < r.height; ++y) {
        const int filter = r.filters[size_t(y) % r.filters.size()];
        out.append(char(filter));
        const uint8_t* row = &rows[size_t(y) * size_t(stride)];
        const uint8_t* above = y > 0 ? row - stride : nullptr;
        for (int i = 0; i < stride; ++i) {
            const int left = i >= bpp ? row[i - bpp] : 0;
            const int up = above ? above[i] : 0;
            const int corner = above && i >= bpp ? above[i - bpp] : 0;
            out.append(char(row[i] - predictor(filter, left, up, corner)));
        }
    }
    return out;
}

// qCompress gives a zlib stream behind a 4-byte length.
QByteArray zlibOf(const QByteArray& raw) {
    return qCompress(raw, 6).mid(4);
}

QByteArray header(int width, int height, int bitDepth, int colourType, int interlace = 0) {
    QByteArray h;
    putBigEndian32(h, uint32_t(width));
    putBigEndian32(h, uint32_t(height));
    h.append(char(bitDepth)).append(char(colourType)).append('\0').append('\0');
    return h.append(char(interlace));
}

QByteArray pngAround(const Recipe& r, const QByteArray& stream) {
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header(r.width, r.height, r.bitDepth, r.colourType, r.interlace));
    for (const auto& [type, payload] : r.before)
        appendChunk(png, type, payload);
    const qsizetype piece = stream.size() / r.dataChunks + 1;
    for (int i = 0; i < r.dataChunks; ++i)
        appendChunk(png, "IDAT", stream.mid(i * piece, piece));
    for (const auto& [type, payload] : r.after)
        appendChunk(png, type, payload);
    appendChunk(png, "IEND", {});
    return png;
}

QByteArray write(const Recipe& r) {
    return pngAround(r, zlibOf(filteredRows(r)));
}

// --- fixtures ------------------------------------------------------------------------------

Recipe kind(int colourType, int width = 9, int height = 7) {
    Recipe r;
    r.colourType = colourType;
    r.width = width;
    r.height = height;
    return r;
}

// A picture whose rows all use one filter, wider than a vector register.
QByteArray oneFilter(int colourType, int filter, int width = 33) {
    return write({.width = width, .height = 9, .colourType = colourType, .filters = {filter}});
}

Recipe with(Recipe r, const char* type, QByteArray payload, bool afterData = false) {
    (afterData ? r.after : r.before).emplace_back(type, std::move(payload));
    return r;
}

QByteArray qtWritten(QImage::Format format) {
    QImage image(31, 17, format);
    std::mt19937 random{uint32_t(format)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.bytesPerLine(); ++x)
            image.scanLine(y)[x] = uint8_t(random() % 64);  // smooth enough for varied filters
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

qsizetype chunkAt(const QByteArray& png, const char* type, int nth = 0) {
    qsizetype found = -1;
    for (int i = 0; i <= nth; ++i)
        found = png.indexOf(type, found + 1);
    return found - 4;
}

// The chunk's checksum alone is wrong, so nothing but the check itself can catch it.
QByteArray badCrc(QByteArray png, const char* type, int nth = 0) {
    const qsizetype at = chunkAt(png, type, nth);
    const qsizetype last = at + 11 + readBigEndian32(png, at);
    png[last] = char(png[last] ^ 1);
    return png;
}

QByteArray base() {
    return write(with(kind(6, 40, 30), "tEXt", bytesOf("Title\0x")));
}

// The zlib stream of a 40 x 30 RGBA picture, damaged before it is wrapped.
QByteArray withStream(const std::function<void(QByteArray&)>& damage, int dataChunks = 1) {
    const Recipe r{.width = 40, .height = 30, .dataChunks = dataChunks};
    QByteArray stream = zlibOf(filteredRows(r));
    damage(stream);
    return pngAround(r, stream);
}

QByteArray absurd(int width, int height) {
    return pngAround(kind(6, width, height), zlibOf(QByteArray(64, '\0')));
}

QByteArray withRows(Recipe header, const Recipe& rows,
                    const std::function<void(QByteArray&)>& edit) {
    QByteArray raw = filteredRows(rows);
    edit(raw);
    return pngAround(header, zlibOf(raw));
}

// A stream that asks for a 512-byte window, which zlib holds it to and libdeflate does not.
QByteArray smallWindow() {
    QByteArray stream = zlibOf(filteredRows(kind(2, 200, 20)));
    stream[0] = 0x28;
    stream[1] = char(31 - (0x28 * 256) % 31);
    return pngAround(kind(2, 200, 20), stream);
}

QByteArray dataSplitByText() {
    QByteArray png = write(kind(6, 40, 30));
    const qsizetype at = chunkAt(png, "IDAT");
    const uint32_t length = readBigEndian32(png, at);
    QByteArray chunks;
    appendChunk(chunks, "IDAT", png.mid(at + 8, 20));
    appendChunk(chunks, "tEXt", bytesOf("a\0b"));
    appendChunk(chunks, "IDAT", png.mid(at + 28, length - 20));
    return png.replace(at, length + 12, chunks);
}

QByteArray withIend(QByteArray payload) {
    QByteArray png = write(kind(2)).chopped(12);
    appendChunk(png, "IEND", payload);
    return png;
}

const std::optional<DecodeStatus> kOk = DecodeStatus::Ok;
const std::optional<DecodeStatus> kFailed = DecodeStatus::Failed;
const std::optional<DecodeStatus> kLeftToQt = std::nullopt;

struct Case {
    const char* name;
    std::function<QByteArray()> make;
    std::optional<DecodeStatus> expected;
};

const Case kCases[] = {
    // Kinds decoded here, every filter through the plain and the vector passes.
    {"rgba_every_filter", [] { return write(kind(6)); }, kOk},
    {"rgb_every_filter", [] { return write(kind(2)); }, kOk},
    {"grey_every_filter", [] { return write(kind(0)); }, kOk},
    {"grey_alpha_every_filter", [] { return write(kind(4)); }, kOk},
    {"rgba_sub", [] { return oneFilter(6, 1); }, kOk},
    {"rgba_up", [] { return oneFilter(6, 2); }, kOk},
    {"rgba_average_rounds_down", [] { return oneFilter(6, 3); }, kOk},
    {"rgba_paeth", [] { return oneFilter(6, 4); }, kOk},
    {"rgb_sub", [] { return oneFilter(2, 1); }, kOk},
    {"rgb_up", [] { return oneFilter(2, 2); }, kOk},
    {"rgb_average_rounds_down", [] { return oneFilter(2, 3); }, kOk},
    {"rgb_paeth", [] { return oneFilter(2, 4); }, kOk},
    {"grey_alpha_paeth", [] { return oneFilter(4, 4); }, kOk},
    {"grey_up_past_a_register", [] { return oneFilter(0, 2, 37); }, kOk},
    {"rgba_opaque_still_has_alpha", [] { return write({.opaque = true}); }, kOk},
    {"one_pixel", [] { return write(kind(6, 1, 1)); }, kOk},
    {"odd_width_rgb", [] { return write(kind(2, 5, 3)); }, kOk},
    {"wide_rgb_last_row_packed_tight", [] { return write(kind(2, 5001, 2)); }, kOk},
    {"tall_rgba", [] { return write(kind(6, 2, 3000)); }, kOk},
    {"tall_grey_one_column", [] { return write(kind(0, 1, 2000)); }, kOk},
    {"qt_written_argb32", [] { return qtWritten(QImage::Format_ARGB32); }, kOk},
    {"qt_written_rgb32", [] { return qtWritten(QImage::Format_RGB32); }, kOk},
    {"qt_written_grey8", [] { return qtWritten(QImage::Format_Grayscale8); }, kOk},
    {"stream_over_many_idats", [] { return write({.width = 40, .height = 30, .dataChunks = 9}); },
     kOk},
    {"gama_not_applied", [] { return write(with(kind(2), "gAMA", bytesOf("\0\0\x4e\x20"))); }, kOk},
    {"grey_gama_not_applied", [] { return write(with(kind(0), "gAMA", bytesOf("\0\0\x4e\x20"))); },
     kOk},
    {"grey_alpha_gama_not_applied",
     [] { return write(with(kind(4), "gAMA", bytesOf("\0\0\x4e\x20"))); }, kOk},
    {"grey_chrm_and_gama",
     [] {
         return write(
             with(with(kind(0), "gAMA", bytesOf("\0\0\x4e\x20")), "cHRM", QByteArray(32, 1)));
     },
     kOk},
    {"iccp_garbage_ignored", [] { return write(with(kind(6), "iCCP", bytesOf("p\0\0junk"))); },
     kOk},
    {"large_text_chunk_skipped",
     [] { return write(with(kind(2), "tEXt", "Comment" + QByteArray(3 << 20, 'x'))); }, kOk},
    {"text_after_data", [] { return write(with(kind(6), "tEXt", bytesOf("a\0b"), true)); }, kOk},
    {"iend_without_its_checksum", [] { return base().chopped(4); }, kOk},
    {"iend_with_half_a_checksum", [] { return base().chopped(2); }, kOk},
    {"data_after_iend_ignored", [] { return base() + "trailing bytes"; }, kOk},
    {"bad_ancillary_crc_ignored", [] { return badCrc(base(), "tEXt"); }, kOk},

    // Files whose handling Qt decides.
    {"not_a_png", [] { return QByteArray("\xFF\xD8\xFF\xE0", 4); }, kLeftToQt},
    {"palette", [] { return write(with(kind(3), "PLTE", QByteArray(768, 'p'))); }, kLeftToQt},
    {"rgb_suggested_palette", [] { return write(with(kind(2), "PLTE", QByteArray(9, 'p'))); },
     kLeftToQt},
    {"rgb_colour_key", [] { return write(with(kind(2), "tRNS", QByteArray(6, 1))); }, kLeftToQt},
    {"grey_key_after_data", [] { return write(with(kind(0), "tRNS", QByteArray(2, 1), true)); },
     kLeftToQt},
    {"rgba16", [] { return write({.bitDepth = 16}); }, kLeftToQt},
    {"grey4", [] { return write({.colourType = 0, .bitDepth = 4}); }, kLeftToQt},
    {"interlaced", [] { return write({.colourType = 2, .interlace = 1}); }, kLeftToQt},
    {"unknown_critical_chunk", [] { return write(with(kind(2), "ABCD", "x")); }, kLeftToQt},
    {"ancillary_before_ihdr",
     [] { return write(kind(2)).insert(8, base().mid(chunkAt(base(), "tEXt"), 24)); }, kLeftToQt},
    {"data_split_by_ancillary", dataSplitByText, kLeftToQt},
    {"small_zlib_window", smallWindow, kLeftToQt},
    {"bytes_after_zlib_stream", [] { return withStream([](QByteArray& s) { s += "junk"; }); },
     kLeftToQt},
    {"more_rows_than_the_header_says",
     [] { return withRows(kind(2), kind(2, 9, 8), [](QByteArray&) {}); }, kLeftToQt},
    {"idat_past_libpng_limit",
     [] {
         return withStream(
             [](QByteArray& s) { s.insert(2, bytesOf("\0\0\0\xff\xff").repeated(2000)); });
     },
     kLeftToQt},
    {"iend_with_payload", [] { return withIend("x"); }, kLeftToQt},
    {"no_image_data",
     [] { return withIend({}).remove(33, 12 + readBigEndian32(withIend({}), 33)); }, kLeftToQt},
    {"huge_ancillary_chunk", [] { return write(with(kind(2), "zTXt", QByteArray(5 << 20, 'z'))); },
     kLeftToQt},

    // Damaged and absurd files.
    {"truncated_inside_idat", [] { return base().left(chunkAt(base(), "IDAT") + 40); }, kFailed},
    {"truncated_before_iend", [] { return base().chopped(12); }, kFailed},
    {"iend_cut_inside_its_type", [] { return base().chopped(5); }, kFailed},
    {"signature_only", [] { return base().left(8); }, kFailed},
    {"bad_ihdr_crc", [] { return badCrc(base(), "IHDR"); }, kFailed},
    {"bad_idat_crc", [] { return badCrc(base(), "IDAT"); }, kFailed},
    {"bad_crc_of_a_later_idat", [] { return badCrc(withStream([](QByteArray&) {}, 3), "IDAT", 2); },
     kFailed},
    {"bad_iend_crc", [] { return badCrc(base(), "IEND"); }, kFailed},
    {"chunk_type_not_letters", [] { return write(with(kind(2), "pH\x96s", QByteArray(9, 0))); },
     kFailed},
    {"bad_adler32", [] { return withStream([](QByteArray& s) { s.back() ^= 1; }); }, kFailed},
    {"adler32_missing", [] { return withStream([](QByteArray& s) { s.chop(4); }); }, kFailed},
    {"zlib_stream_unfinished", [] { return withStream([](QByteArray& s) { s.truncate(2000); }); },
     kFailed},
    {"corrupt_zlib_stream", [] { return withStream([](QByteArray& s) { s[30] = char(~s[30]); }); },
     kFailed},
    {"bad_zlib_header", [] { return withStream([](QByteArray& s) { s[0] = 0x79; }); }, kFailed},
    {"fewer_rows_than_the_header_says",
     [] { return withRows(kind(6, 40, 30), kind(6, 40, 29), [](QByteArray&) {}); }, kFailed},
    {"unknown_filter_type",
     [] { return withRows(kind(2), kind(2), [](QByteArray& raw) { raw[qsizetype{3} * 28] = 5; }); },
     kFailed},
    {"zero_width", [] { return absurd(0, 10); }, kFailed},
    {"zero_height", [] { return absurd(10, 0); }, kFailed},
    {"width_past_libpng_limit", [] { return absurd(1000001, 1); }, kFailed},
    {"width_over_31_bits", [] { return absurd(-1, 1); }, kFailed},
    {"too_large_for_memory", [] { return absurd(60000, 60000); }, DecodeStatus::OutOfMemory},
};

class PngCase : public testing::TestWithParam<Case> {};

// Decoded equal to Qt, failed whole where Qt fails, or left to Qt with the image untouched.
TEST_P(PngCase, AsExpectedAndAgreesWithQt) {
    const QByteArray png = GetParam().make();
    const std::optional<DecodeStatus> expected = GetParam().expected;
    if (expected == kOk) {
        ASSERT_TRUE(decodeThroughQt(png)) << "the fixture itself is broken";
    }
    Image image;
    ASSERT_TRUE(image.create(2, 2, false));
    EXPECT_EQ(decodePngFast(asSpan(png), image), expected);
    if (!expected) {
        EXPECT_EQ(image.width(), 2);
    } else if (expected != kOk) {
        EXPECT_TRUE(image.empty());
    }
    EXPECT_TRUE(agreesWithQt(png));
}

INSTANTIATE_TEST_SUITE_P(Png, PngCase, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Whatever the cut or the flipped byte: Qt's picture, a clean failure where Qt fails, or the
// file left to Qt; never half a picture, never a read past the data.
TEST(PngDamage, EveryCutAndFlipAgreesWithQt) {
    Recipe split = kind(6, 11, 9);
    split.dataChunks = 3;
    for (const QByteArray& png :
         {write(with(kind(2, 12, 10), "tEXt", bytesOf("a\0b"), true)), write(split)}) {
        for (qsizetype cut = 0; cut < png.size(); ++cut)
            EXPECT_TRUE(agreesWithQt(png.left(cut))) << cut;
        std::mt19937 random(11);
        for (int i = 0; i < 400; ++i) {
            QByteArray damaged = png;
            damaged[qsizetype(random() % uint32_t(png.size()))] = char(random());
            EXPECT_TRUE(agreesWithQt(damaged)) << i;
        }
    }
}

// The decoded buffer is the picture's own: writing a row must not copy all of it.
TEST(PngPixels, WritingARowDoesNotCopyThePicture) {
    Image image;
    ASSERT_EQ(decodePngFast(asSpan(write(kind(6, 64, 64))), image), DecodeStatus::Ok);
    const uchar* decoded = image.qimage().constBits();
    EXPECT_EQ(image.row(0), decoded);
}

TEST(PngSignature, OnlyTheFullSignatureCounts) {
    const QByteArray png = base();
    EXPECT_TRUE(isPng(asSpan(png)));
    EXPECT_FALSE(isPng(asSpan(png.left(7))));
    QByteArray wrong = png;
    wrong[4] = '\n';
    EXPECT_FALSE(isPng(asSpan(wrong)));
}

}  // namespace
