#include <gtest/gtest.h>
#include <openjpeg.h>

#include <cstring>
#include <string>
#include <vector>

#include "jpeg2000_writer.h"
#include "render/decode/jpeg2000_decoder.h"
#include "render/decode/row_reducer.h"

namespace {

// Sets the band budget for one scope; small budgets force many bands and pieces.
struct BandBytes {
    explicit BandBytes(size_t bytes) { setJpeg2000BandBytes(bytes); }
    ~BandBytes() { setJpeg2000BandBytes(0); }
};

// Empty when `part` equals `whole` from (x, y) on, else where they first differ.
std::string difference(const Image& part, const Image& whole, int32_t x = 0, int32_t y = 0) {
    if (part.empty() || part.hasAlpha() != whole.hasAlpha() || x + part.width() > whole.width() ||
        y + part.height() > whole.height())
        return "sizes or formats differ";
    for (int32_t row = 0; row < part.height(); ++row) {
        const auto* a = reinterpret_cast<const uint32_t*>(part.row(row));
        const auto* b = reinterpret_cast<const uint32_t*>(whole.row(y + row)) + x;
        for (int32_t col = 0; col < part.width(); ++col)
            if (a[col] != b[col])
                return "first at " + std::to_string(col) + "," + std::to_string(row);
    }
    return {};
}

// Single-tile; tiled, with an origin and tiles wide enough to be cut at; subsampled chroma on
// an odd origin and size.
const Picture kPictures[] = {
    {"single_tile", 97, 61, 0, 0, 1, 4, 0, 0},
    {"tiled_with_origin", 520, 140, 5, 3, 1, 3, 256, 64},
    {"chroma_420_odd_origin", 101, 67, 3, 1, 2, 3, 0, 0},
};

// Bands of a few rows, and bands that hold a tile row of the tiled picture but not all of it.
constexpr size_t kBandBudgets[] = {size_t{24} << 10, size_t{96} << 10};

class Jpeg2000Picture : public testing::TestWithParam<Picture> {};

TEST_P(Jpeg2000Picture, BandsPiecesAndDeepLevelsMatchOneDecode) {
    const Bytes bytes = encode(GetParam());
    PictureHeader header;
    ASSERT_EQ(readJpeg2000Header(bytes, header), DecodeStatus::Ok);
    EXPECT_EQ(header.width, GetParam().width);
    EXPECT_EQ(header.height, GetParam().height);
    EXPECT_EQ(header.nativeLevels, GetParam().resolutions - 1);
    Image full, deepest;
    ASSERT_EQ(decodeJpeg2000(bytes, full), DecodeStatus::Ok);
    for (int32_t level = 0; level <= header.nativeLevels + 2; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        Image whole;
        ASSERT_EQ(decodeJpeg2000Level(bytes, level, whole), DecodeStatus::Ok);
        EXPECT_EQ(whole.width(), levelExtent(header.width, level));
        EXPECT_EQ(whole.height(), levelExtent(header.height, level));
        EXPECT_EQ(whole.fullWidth(), header.width);
        Image reduced = full;
        if (level > header.nativeLevels) {
            ASSERT_TRUE(reducePicture(deepest, level - header.nativeLevels, reduced));
        }
        if (level == 0 || level > header.nativeLevels) {
            EXPECT_EQ(difference(whole, reduced), "");
        }
        for (size_t budget : kBandBudgets) {
            const BandBytes bands(budget);
            Image banded;
            ASSERT_EQ(decodeJpeg2000Level(bytes, level, banded), DecodeStatus::Ok);
            EXPECT_EQ(difference(banded, whole), "") << budget << " bytes a band";
        }
        if (level == header.nativeLevels)
            deepest = whole;
    }
}

// Exact for these reversible pictures; OpenJPEG's irreversible windows may differ by one.
TEST_P(Jpeg2000Picture, RegionsMatchTheWholeLevel) {
    const Bytes bytes = encode(GetParam());
    for (int32_t level : {0, 1}) {
        Image whole;
        ASSERT_EQ(decodeJpeg2000Level(bytes, level, whole), DecodeStatus::Ok);
        const int32_t w = whole.width(), h = whole.height();
        const PixelRect regions[] = {
            {0, 0, w, h},              // all of it
            {0, 0, 1, 1},              // the top-left pixel
            {w - 7, h - 5, 7, 5},      // the bottom-right corner
            {3, 1, w / 2 + 1, h / 3},  // odd offsets inside
            {w / 3, h - 1, w / 2, 1},  // one row on the bottom edge
            {w - 1, 0, 1, h},          // one column on the right edge
            {-9, h / 2, w + 20, h},    // beyond three edges: clipped
        };
        for (const PixelRect& r : regions) {
            for (size_t budget : {size_t{0}, kBandBudgets[0]}) {
                const BandBytes bands(budget);
                const int32_t x = std::max(r.x, 0), y = std::max(r.y, 0);
                Image part;
                ASSERT_EQ(decodeJpeg2000Region(bytes, level, r, part), DecodeStatus::Ok);
                EXPECT_EQ(part.width(), std::min(r.x + r.width, w) - x);
                EXPECT_EQ(part.height(), std::min(r.y + r.height, h) - y);
                EXPECT_EQ(difference(part, whole, x, y), "")
                    << "level " << level << " region " << r.x << "," << r.y << " " << r.width << "x"
                    << r.height << ", " << budget << " bytes a band";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, Jpeg2000Picture, testing::ValuesIn(kPictures),
                         [](const auto& info) { return std::string(info.param.name); });

// Level L, up to the native levels, of a picture on the grid's origin shows at (x, y) the
// samples OpenJPEG decodes by itself at reduce factor L.
TEST(Jpeg2000Levels, NativeLevelsAreOpenJpegsOwnDecode) {
    Bytes bytes = encode(kPictures[0]);
    for (uint32_t level = 0; level <= 3; ++level) {
        std::span<const uint8_t> left(bytes);
        opj_stream_t* stream = opj_stream_create(1 << 16, OPJ_TRUE);
        opj_stream_set_user_data(stream, &left, nullptr);
        opj_stream_set_user_data_length(stream, bytes.size());
        opj_stream_set_read_function(stream, [](void* out, OPJ_SIZE_T size, void* user) {
            auto& rest = *static_cast<std::span<const uint8_t>*>(user);
            const size_t count = std::min(size, rest.size());
            std::memcpy(out, rest.data(), count);
            rest = rest.subspan(count);
            return count == 0 ? static_cast<OPJ_SIZE_T>(-1) : count;
        });
        opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);
        parameters.cp_reduce = level;
        opj_image_t* own = nullptr;
        Image image;
        ASSERT_TRUE(opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &own) &&
                    opj_decode(codec, stream, own));
        ASSERT_EQ(decodeJpeg2000Level(bytes, static_cast<int32_t>(level), image), DecodeStatus::Ok);
        ASSERT_EQ(image.width(), static_cast<int32_t>(own->comps[0].w));
        ASSERT_EQ(image.height(), static_cast<int32_t>(own->comps[0].h));
        int mismatches = 0;
        for (int32_t y = 0; y < image.height(); ++y)
            for (int32_t x = 0; x < image.width(); ++x)
                for (uint32_t c = 0; c < 3; ++c)
                    mismatches +=
                        image.row(y)[4 * x + 2 - c] != own->comps[c].data[y * image.width() + x];
        EXPECT_EQ(mismatches, 0) << "level " << level;
        opj_image_destroy(own);
        opj_destroy_codec(codec);
        opj_stream_destroy(stream);
    }
}

TEST(Jpeg2000Levels, StoppedBeforeStartingIsCancelledAndEmpty) {
    const Bytes bytes = encode(kPictures[0]);
    std::stop_source source;
    source.request_stop();
    Image image;
    ASSERT_EQ(decodeJpeg2000(bytes, image), DecodeStatus::Ok);
    EXPECT_EQ(decodeJpeg2000Level(bytes, 0, image, source.get_token()), DecodeStatus::Cancelled);
    EXPECT_TRUE(image.empty());
    ASSERT_EQ(decodeJpeg2000(bytes, image), DecodeStatus::Ok);
    EXPECT_EQ(decodeJpeg2000Region(bytes, 1, {10, 10, 20, 20}, image, source.get_token()),
              DecodeStatus::Cancelled);
    EXPECT_TRUE(image.empty());
}

TEST(Jpeg2000Levels, BrokenOrAbsurdHeadersAreRefusedUpFront) {
    const Bytes good = encode(kPictures[0]);
    // The size marker segment: Xsiz at 8, Ysiz at 12, the tile size at 24 and 28, the first
    // component's steps at 43 and 44.
    auto patched = [&](std::initializer_list<size_t> at, uint32_t value, size_t bytes = 4) {
        Bytes out = good;
        for (size_t a : at)
            for (size_t i = 0; i < bytes; ++i)
                out[a + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
        return out;
    };
    PictureHeader header;
    Image image;
    const Bytes huge = patched({8, 12, 24, 28}, 100000);
    ASSERT_EQ(readJpeg2000Header(huge, header), DecodeStatus::Ok);
    EXPECT_EQ(header.width, 100000);
    EXPECT_EQ(decodeJpeg2000Level(huge, 0, image), DecodeStatus::OutOfMemory);
    EXPECT_EQ(decodeJpeg2000Region(huge, 0, {0, 0, 100000, 100000}, image),
              DecodeStatus::OutOfMemory);
    // Small levels and regions of it still need OpenJPEG to set up its one huge tile.
    EXPECT_EQ(decodeJpeg2000Level(huge, 8, image), DecodeStatus::OutOfMemory);
    EXPECT_EQ(decodeJpeg2000Region(huge, 3, {0, 0, 64, 64}, image), DecodeStatus::OutOfMemory);

    const Bytes broken[] = {Bytes(good.begin(), good.begin() + 30), patched({43}, 0, 1),
                            patched({8}, 0), Bytes(good.size(), 0x5A)};
    for (const Bytes& bytes : broken) {
        EXPECT_EQ(readJpeg2000Header(bytes, header), DecodeStatus::Failed);
        EXPECT_EQ(decodeJpeg2000Level(bytes, 0, image), DecodeStatus::Failed);
        EXPECT_TRUE(image.empty());
    }
    // Levels and regions the picture does not have.
    EXPECT_EQ(decodeJpeg2000Level(good, kMaxLevel + 1, image), DecodeStatus::Failed);
    EXPECT_EQ(decodeJpeg2000Region(good, 4, {0, 0, 8, 8}, image), DecodeStatus::Failed);
    EXPECT_EQ(decodeJpeg2000Region(good, 0, {97, 0, 8, 8}, image), DecodeStatus::Failed);
}

}  // namespace
