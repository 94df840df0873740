#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <QImage>

#include <algorithm>
#include <vector>

#include "render/decode/jpeg_decoder.h"
#include "render/decode/row_reducer.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Jpeg {
    const char* name;
    int width, height;
    J_COLOR_SPACE space = JCS_YCbCr;  // or JCS_GRAYSCALE, JCS_CMYK (Adobe), JCS_YCCK
    int sampling = 2;                 // the first component's factor: 2 is 4:2:0, 1 is 4:4:4
    bool progressive = false;
    int restartRows = 0;
    int fourthSampling = 0;  // the fourth component's factor, when it differs
};

// Encodes ramps with noise through libjpeg: Qt writes neither CMYK nor restart markers.
Bytes encode(const Jpeg& picture) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = picture.space == JCS_GRAYSCALE ? 1 : picture.space == JCS_YCbCr ? 3 : 4;
    info.in_color_space = picture.space == JCS_YCbCr  ? JCS_RGB
                          : picture.space == JCS_YCCK ? JCS_CMYK
                                                      : picture.space;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, picture.space);
    jpeg_set_quality(&info, 90, TRUE);
    info.comp_info[0].h_samp_factor = info.comp_info[0].v_samp_factor = picture.sampling;
    if (picture.fourthSampling != 0)
        info.comp_info[3].h_samp_factor = info.comp_info[3].v_samp_factor = picture.fourthSampling;
    info.restart_in_rows = picture.restartRows;
    if (picture.progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    Bytes row(static_cast<size_t>(picture.width * info.input_components));
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x)
            for (int c = 0; c < info.input_components; ++c)
                row[static_cast<size_t>(x) * static_cast<size_t>(info.input_components) +
                    static_cast<size_t>(c)] =
                    static_cast<uint8_t>((x * (c + 2) + y * (5 - c)) / 3 +
                                         ((x * 7919 + y * 104729 + c) % 23));
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// The same file claiming another size in its frame header, with far too little data for it.
Bytes resized(Bytes bytes, int width, int height) {
    for (size_t at = 2; at + 8 < bytes.size(); ++at) {
        if (bytes[at] == 0xFF && (bytes[at + 1] == 0xC0 || bytes[at + 1] == 0xC2)) {
            bytes[at + 5] = static_cast<uint8_t>(height >> 8);
            bytes[at + 6] = static_cast<uint8_t>(height);
            bytes[at + 7] = static_cast<uint8_t>(width >> 8);
            bytes[at + 8] = static_cast<uint8_t>(width);
            break;
        }
    }
    return bytes;
}

// An area for which decodePicture decodes level `level` of a width x height picture.
FitArea areaFor(int32_t width, int32_t height, int32_t level) {
    for (int32_t side = 1; level > 0 && side < std::max(width, height); ++side)
        if (levelFor(width, height, {side, side}) == level)
            return {side, side};
    return {};
}

const Jpeg kPictures[] = {
    {"yuv420_odd_size", 203, 149},
    {"yuv444", 160, 96, JCS_YCbCr, 1},
    {"grey", 77, 61, JCS_GRAYSCALE, 1},
    {"progressive_420", 203, 149, JCS_YCbCr, 2, true},
    {"restart_markers_420", 203, 149, JCS_YCbCr, 2, false, 1},
    {"tall_420_skipped_in_chunks", 80, 1300},
};

TEST(JpegLevels, UpToAnEighthEqualTurboJpegExactlyTruncatedFilesToo) {
    for (const Jpeg& picture : kPictures) {
        const Bytes whole = encode(picture);
        const Bytes truncated(whole.begin(), whole.begin() + whole.size() * 3 / 5);
        for (const Bytes& data : {whole, truncated})
            for (int32_t level = 0; level <= 3; ++level) {
                Image ours, turbo;
                ASSERT_EQ(decodeJpegLevel(data, level, ours), DecodeStatus::Ok) << picture.name;
                ASSERT_EQ(
                    decodePictureData(data, turbo, areaFor(picture.width, picture.height, level)),
                    DecodeStatus::Ok);
                EXPECT_TRUE(ours.qimage() == turbo.qimage()) << picture.name << " level " << level;
                EXPECT_EQ(ours.fullWidth(), picture.width);
                EXPECT_EQ(ours.fullHeight(), picture.height);
            }
    }
}

TEST(JpegLevels, DeeperLevelsReduceTheEighthExactly) {
    const Bytes data = encode({"big_enough", 1000, 700});
    Image eighth;
    ASSERT_EQ(decodeJpegLevel(data, 3, eighth), DecodeStatus::Ok);
    for (const int32_t level : {4, 6, kMaxLevel}) {
        Image ours, reduced;
        ASSERT_EQ(decodeJpegLevel(data, level, ours), DecodeStatus::Ok);
        ASSERT_TRUE(reducePicture(eighth, level - 3, reduced));
        EXPECT_TRUE(ours.qimage() == reduced.qimage()) << level;
        EXPECT_EQ(ours.fullWidth(), 1000);
    }
}

TEST(JpegLevels, InksConvertAsQtConvertsThem) {
    for (const J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
        const Bytes data = encode({"inks", 67, 45, space, 2});
        Image ours, qt;
        ASSERT_EQ(decodeJpegLevel(data, 0, ours), DecodeStatus::Ok);
        ASSERT_TRUE(qt.adopt(
            QImage::fromData(data.data(), int(data.size())).convertToFormat(QImage::Format_RGB32)));
        EXPECT_TRUE(ours.qimage() == qt.qimage()) << space;
    }
}

// TurboJPEG names no subsampling for a K sampled unlike Y; the picture still decodes.
TEST(JpegLevels, InksSampledUnlikeTheirLuminanceStillDecode) {
    const Bytes data = encode({"odd_k", 67, 45, JCS_YCCK, 1, false, 0, 2});
    Image whole, level;
    ASSERT_EQ(decodePictureData(data, whole), DecodeStatus::Ok);
    ASSERT_EQ(decodeJpegLevel(data, 0, level), DecodeStatus::Ok);
    EXPECT_TRUE(whole.qimage() == level.qimage());
}

TEST(JpegLevels, RefusalsComeBeforeDecodingAndLeaveNothing) {
    const Bytes small = encode(kPictures[0]);
    const Bytes progressive = encode(kPictures[3]);
    const Bytes huge = resized(small, 65000, 65000);
    const Bytes hugeProgressive = resized(progressive, 65000, 64000);
    // Empty refinement scans before the end marker, each a sweep of the frame.
    Bytes flood(progressive.begin(), progressive.end() - 2);
    for (int i = 0; i < 101; ++i)
        flood.insert(flood.end(), {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x00, 0x10});
    flood.insert(flood.end(), {0xFF, 0xD9});
    std::stop_source stopped;
    stopped.request_stop();
    struct Row {
        const char* trap;
        const Bytes& data;
        int32_t level;
        bool stop;
        DecodeStatus expected;
    };
    const Bytes garbage(500, 0x42);
    const Row rows[] = {
        {"not_a_jpeg", garbage, 0, false, DecodeStatus::Failed},
        {"level_beyond_the_deepest", small, kMaxLevel + 1, false, DecodeStatus::Failed},
        {"output_too_large", huge, 0, false, DecodeStatus::OutOfMemory},
        // Only the stop token ends this one: an eighth of it is small enough.
        {"sequential_eighth_fits", huge, 3, true, DecodeStatus::Cancelled},
        {"progressive_coefficients_too_large", hugeProgressive, 3, false,
         DecodeStatus::OutOfMemory},
        {"stopped_progressive", progressive, 0, true, DecodeStatus::Cancelled},
        {"too_many_scans", flood, 0, false, DecodeStatus::Failed},
    };
    for (const Row& row : rows) {
        Image out;
        out.create(4, 4, false);
        EXPECT_EQ(decodeJpegLevel(row.data, row.level, out,
                                  row.stop ? stopped.get_token() : std::stop_token{}),
                  row.expected)
            << row.trap;
        EXPECT_TRUE(out.empty()) << row.trap;
    }
    // The header alone is read whatever the size.
    PictureHeader header;
    ASSERT_EQ(readJpegHeader(hugeProgressive, header), DecodeStatus::Ok);
    EXPECT_EQ(header.width, 65000);
    EXPECT_EQ(header.height, 64000);
    EXPECT_EQ(header.nativeLevels, 3);
    EXPECT_TRUE(header.regions);
    EXPECT_EQ(readJpegHeader(Bytes(small.begin(), small.begin() + 100), header),
              DecodeStatus::Failed);
}

// Regions at the corners, overhanging the level, at odd offsets, of one pixel and of the whole
// level equal the same part of it exactly: the decoded margin hides the library's edge
// handling of the crop and the skip.
TEST(JpegRegions, EqualTheSamePartOfTheirLevelExactly) {
    for (const Jpeg& picture : kPictures) {
        const Bytes data = encode(picture);
        for (const int32_t level : {0, 1, 3}) {
            Image whole;
            ASSERT_EQ(decodeJpegLevel(data, level, whole), DecodeStatus::Ok);
            const int32_t w = whole.width(), h = whole.height();
            const PixelRect parts[] = {{0, 0, w / 3, h / 4},
                                       {w - w / 3, h - 7, w, 40},
                                       {w / 3 + 1, h / 2 + 3, w / 5 + 1, h / 5},
                                       {w / 2 + 1, h / 3 + 1, 1, 1},
                                       {0, 0, w, h}};
            for (const PixelRect& part : parts) {
                Image region;
                ASSERT_EQ(decodeJpegRegion(data, level, part, region), DecodeStatus::Ok);
                const QRect inside =
                    QRect(part.x, part.y, part.width, part.height) & whole.qimage().rect();
                EXPECT_TRUE(region.qimage() == whole.qimage().copy(inside))
                    << picture.name << " level " << level << " at " << part.x << "," << part.y;
            }
        }
    }
    Image out;
    const Bytes data = encode(kPictures[0]);
    EXPECT_EQ(decodeJpegRegion(data, 0, {300, 0, 10, 10}, out), DecodeStatus::Failed);
    EXPECT_EQ(decodeJpegRegion(data, 4, {0, 0, 10, 10}, out), DecodeStatus::Failed);
}

}  // namespace
