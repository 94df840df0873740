#include "render/exif/exif_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kShort = 3, kLong = 4, kRational = 5, kAscii = 2, kUndefined = 7, kDouble = 12;

// A TIFF block written byte by byte in either byte order. Offsets are block offsets.
class Tiff {
  public:
    explicit Tiff(bool bigEndian, uint32_t firstIfd = 8, uint16_t magic = 42) : be_(bigEndian) {
        bytes_ = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
        u16(magic);
        u32(firstIfd);
    }
    size_t pos() const { return bytes_.size(); }
    Tiff& u8(uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    Tiff& u16(uint16_t v) { return be_ ? u8(v >> 8).u8(v & 0xFF) : u8(v & 0xFF).u8(v >> 8); }
    Tiff& u32(uint32_t v) {
        return be_ ? u16(v >> 16).u16(v & 0xFFFF) : u16(v & 0xFFFF).u16(v >> 16);
    }
    Tiff& text(const std::string& s) {
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        return *this;
    }
    Tiff& padTo(size_t offset, uint8_t fill = 0) {
        bytes_.resize(std::max(offset, bytes_.size()), fill);
        return *this;
    }
    // Directory header and entries: a SHORT entry keeps its value in the field's first half.
    Tiff& count(uint16_t n) { return u16(n); }
    Tiff& shortEntry(uint16_t tag, uint16_t v) { return u16(tag).u16(kShort).u32(1).u16(v).u16(0); }
    Tiff& longEntry(uint16_t tag, uint32_t v) { return u16(tag).u16(kLong).u32(1).u32(v); }
    Tiff& entry(uint16_t tag, uint16_t format, uint32_t components, uint32_t field) {
        return u16(tag).u16(format).u32(components).u32(field);
    }
    Tiff& inlineText(uint16_t tag, const char (&s)[5]) {
        u16(tag).u16(kAscii).u32(4);
        return text(std::string(s, 4));
    }
    Tiff& next(uint32_t offset) { return u32(offset); }
    void patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes_[at + i] = static_cast<uint8_t>(v >> (be_ ? 24 - 8 * i : 8 * i));
        }
    }
    const Bytes& bytes() const { return bytes_; }

  private:
    bool be_;
    Bytes bytes_;
};

// Block offset of entry i's value field in a directory at dir.
size_t valueField(size_t dir, size_t i) {
    return dir + 2 + 12 * i + 8;
}

Tiff orientationBlock(bool bigEndian, uint16_t orientation) {
    Tiff t(bigEndian);
    t.count(1).shortEntry(0x0112, orientation).next(0);
    return t;
}

// A JPEG head: markers and sections in the order they are added.
class Jpeg {
  public:
    Jpeg() { raw({0xFF, 0xD8}); }
    Jpeg& raw(const Bytes& b) {
        bytes_.insert(bytes_.end(), b.begin(), b.end());
        return *this;
    }
    Jpeg& section(uint8_t marker, const Bytes& body, int fill = 1) {
        bytes_.insert(bytes_.end(), static_cast<size_t>(fill), 0xFF);
        const size_t length = body.size() + 2;
        raw({marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)});
        return raw(body);
    }
    Jpeg& exif(const Tiff& tiff, int fill = 1) { return exif(tiff.bytes(), fill); }
    Jpeg& exif(const Bytes& tiff, int fill = 1) {
        Bytes body = {'E', 'x', 'i', 'f', 0, 0};
        body.insert(body.end(), tiff.begin(), tiff.end());
        return section(0xE1, body, fill);
    }
    Jpeg& comment(const std::string& s) { return section(0xFE, Bytes(s.begin(), s.end())); }
    Jpeg& sof() { return section(0xC0, {8, 0x01, 0xE0, 0x02, 0x80, 3, 1, 0x22, 0, 2, 0x11, 1}); }
    Jpeg& sos() { return section(0xDA, {1, 1, 0, 0, 0x3F, 0}).raw({0x12, 0x34, 0xFF, 0xD9}); }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

struct Read {
    int32_t result;
    ExifInfo info;
    std::string lastError;
};

Read readBytes(const Bytes& bytes) {
    Read r{};
    MemoryByteSource source(bytes);
    ExifReader reader(r.info);
    r.result = reader.readHead(source);
    r.lastError = reader.lastError();
    r.info.thumbnail = nullptr;  // its buffer is gone with the reader
    return r;
}

Read readTiff(const Tiff& tiff) {
    return readBytes(Jpeg().exif(tiff).sof().sos().bytes());
}

// ---------------------------------------------------------------------------------------------

struct OrientationRow {
    const char* name;
    uint16_t orientation;
    int32_t expectedOrientation;
    int32_t expectedRotation;
};

class OrientationTest : public testing::TestWithParam<OrientationRow> {};

TEST_P(OrientationTest, BothByteOrdersGiveTheSameRecordAndTurn) {
    const OrientationRow& row = GetParam();
    for (bool bigEndian : {false, true}) {
        const Read r = readTiff(orientationBlock(bigEndian, row.orientation));
        EXPECT_EQ(r.result, 0) << "big-endian " << bigEndian;
        EXPECT_TRUE(r.info.hasExif);
        EXPECT_EQ(r.info.orientation, row.expectedOrientation) << "big-endian " << bigEndian;
        EXPECT_EQ(rotationFromExif(r.result, r.info), row.expectedRotation);
    }
}

INSTANTIATE_TEST_SUITE_P(Exif, OrientationTest,
                         testing::Values(OrientationRow{"Upright", 1, 1, 0},
                                         OrientationRow{"MirroredNotTurned", 2, 2, 0},
                                         OrientationRow{"HalfTurn", 3, 3, 3},
                                         OrientationRow{"MirroredHalfTurn", 4, 4, 3},
                                         OrientationRow{"MirroredClockwise", 5, 5, 1},
                                         OrientationRow{"Clockwise", 6, 6, 1},
                                         OrientationRow{"MirroredCounterClockwise", 7, 7, 2},
                                         OrientationRow{"CounterClockwise", 8, 8, 2},
                                         OrientationRow{"NineIsUndefinedButBlockReads", 9, 0, 0},
                                         OrientationRow{"ZeroIsUndefined", 0, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExifRotation, TableIncludingFailedReadsAndValuesOutOfRange) {
    ExifInfo info{};
    struct {
        int32_t result, orientation, rotation;
    } rows[] = {{-1, 6, 0}, {-1, 3, 0}, {0, 0, 0}, {0, -4, 0}, {0, 2, 0},
                {0, 4, 3},  {0, 5, 1},  {0, 7, 2}, {0, 9, 0},  {0, 1000, 0}};
    for (const auto& row : rows) {
        info.orientation = row.orientation;
        EXPECT_EQ(rotationFromExif(row.result, info), row.rotation)
            << row.result << " " << row.orientation;
    }
}

TEST(ExifRecord, RealisticBlockDecodesAlikeInBothByteOrders) {
    ExifInfo records[2];
    for (bool bigEndian : {false, true}) {
        Tiff t(bigEndian);
        // IFD0 at 8 with 6 entries ends at 8 + 2 + 72 + 4 = 86; Exif IFD there, then data.
        t.count(6)
            .entry(0x010F, kAscii, 6, 0)  // Make, patched below
            .inlineText(0x0110, "X100")
            .entry(0x011A, kRational, 1, 0)
            .shortEntry(0x0128, 3)
            .shortEntry(0x0112, 6)
            .longEntry(0x8769, 86)
            .next(0);
        const size_t ifd0 = 8;
        EXPECT_EQ(t.pos(), 86u);
        t.count(11)
            .entry(0x829A, kRational, 1, 0)
            .entry(0x829D, kRational, 1, 0)
            .shortEntry(0x8827, 2)  // stored divided by 200
            .entry(0x9000, kUndefined, 4, 0x30333230 /* patched below */)
            .entry(0x9003, kAscii, 20, 0)
            .shortEntry(0x9209, 0x19)
            .entry(0x920A, kRational, 1, 0)
            .longEntry(0xA002, 4000)
            .longEntry(0xA003, 3000)
            .entry(0xA20E, kRational, 1, 0)
            .shortEntry(0xA210, 4)
            .next(0);
        const size_t exifIfd = 86;
        auto rational = [&t](size_t field, uint32_t num, uint32_t den) {
            t.patch32(field, static_cast<uint32_t>(t.pos()));
            t.u32(num).u32(den);
        };
        t.patch32(valueField(ifd0, 0), static_cast<uint32_t>(t.pos()));
        t.text(std::string("Fuji\0\0", 6));
        rational(valueField(ifd0, 2), 72, 1);
        rational(valueField(exifIfd, 0), 1, 125);
        rational(valueField(exifIfd, 1), 28, 10);
        t.patch32(valueField(exifIfd, 4), static_cast<uint32_t>(t.pos()));
        t.text(std::string("2021:05:04 10:11:12\0", 20));
        rational(valueField(exifIfd, 6), 23, 1);
        rational(valueField(exifIfd, 9), 1000, 1);  // 1000 per mm
        Bytes block = t.bytes();
        std::memcpy(block.data() + valueField(exifIfd, 3), "0230", 4);

        const Read r = readBytes(Jpeg().exif(block).sof().sos().bytes());
        ASSERT_EQ(r.result, 0) << r.lastError;
        records[bigEndian] = r.info;
    }
    const ExifInfo& info = records[0];
    EXPECT_STREQ(info.cameraMake, "Fuji");
    EXPECT_STREQ(info.cameraModel, "X100");
    EXPECT_STREQ(info.exifVersion, "0230");
    EXPECT_STREQ(info.dateTimeOriginal, "2021:05:04 10:11:12");
    EXPECT_EQ(info.orientation, 6);
    EXPECT_FLOAT_EQ(info.xResolution, 72.0f);
    EXPECT_FLOAT_EQ(info.resolutionUnit, 0.39370078f);
    EXPECT_FLOAT_EQ(info.exposureTime, 1.0f / 125);
    EXPECT_FLOAT_EQ(info.fNumber, 2.8f);
    EXPECT_EQ(info.isoSpeed, 400);
    EXPECT_EQ(info.flashUsed, 1);
    EXPECT_FLOAT_EQ(info.focalLength, 23.0f);
    EXPECT_FLOAT_EQ(info.focalPlaneXResolution, 1000.0f);
    EXPECT_FLOAT_EQ(info.focalPlaneUnit, 0.039370079f);
    EXPECT_FLOAT_EQ(info.sensorWidth, 4000 * 0.039370079f / 1000.0f);
    EXPECT_EQ(info.imageHeight, 480);
    EXPECT_EQ(info.imageWidth, 640);
    EXPECT_EQ(info.isColour, 1);
    EXPECT_EQ(info.jpegProcess, 0xC0);
    // Every read zeroes the whole record first, padding included, so its bytes compare.
    // NOLINTNEXTLINE(bugprone-suspicious-memory-comparison)
    EXPECT_EQ(std::memcmp(&records[0], &records[1], sizeof(ExifInfo)), 0);
}

TEST(ExifRecord, ShutterAndApertureOnlyFillWhatIsStillZero) {
    Tiff t(false);
    t.count(3)
        .entry(0x9201, kRational, 1, 0)
        .entry(0x9202, kRational, 1, 0)
        .entry(0x829D, kRational, 1, 0)
        .next(0);
    t.patch32(valueField(8, 0), static_cast<uint32_t>(t.pos()));
    t.u32(7).u32(1);  // 2^-7
    t.patch32(valueField(8, 1), static_cast<uint32_t>(t.pos()));
    t.u32(4).u32(1);  // 2^(4/2)
    t.patch32(valueField(8, 2), static_cast<uint32_t>(t.pos()));
    t.u32(56).u32(10);  // an explicit FNumber met later still wins
    const Read r = readTiff(t);
    ASSERT_EQ(r.result, 0);
    EXPECT_FLOAT_EQ(r.info.exposureTime, 1.0f / 128);
    EXPECT_FLOAT_EQ(r.info.fNumber, 5.6f);
}

// ---------------------------------------------------------------------------------------------

struct FailureRow {
    const char* name;
    Bytes jpeg;
    int32_t result;
    const char* lastError;
};

class FailureTest : public testing::TestWithParam<FailureRow> {};

TEST_P(FailureTest, ResultAndLastError) {
    const Read r = readBytes(GetParam().jpeg);
    EXPECT_EQ(r.result, GetParam().result);
    EXPECT_EQ(r.info.hasExif, GetParam().result == 0);
    EXPECT_EQ(r.lastError, GetParam().lastError);
}

Bytes withTiff(const Tiff& t) {
    return Jpeg().exif(t).sof().sos().bytes();
}

Bytes withIfd0(bool bigEndian, void (*fill)(Tiff&)) {
    Tiff t(bigEndian);
    fill(t);
    return withTiff(t);
}

Bytes manySections(int count, bool thenScan) {
    Jpeg j;
    for (int i = 0; i < count; ++i) {
        j.section(0xDB, {0, 1, 2});
    }
    if (thenScan) {
        j.sos();
    }
    return j.bytes();
}

FailureRow failureRows[] = {
    {"ExifNotFollowedByTwoZeroBytes",
     Jpeg().section(0xE1, {'E', 'x', 'i', 'f', 0, 1, 'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}).sos().bytes(),
     -1, "Incorrect Exif header"},
    {"ExifSectionTooShortForItsHeader",
     Jpeg().section(0xE1, {'E', 'x', 'i', 'f'}).sos().bytes(), -1, "Incorrect Exif header"},
    {"NeitherIINorMM", Jpeg().exif(Bytes{'I', 'M', 42, 0, 8, 0, 0, 0}).sos().bytes(), -1,
     "Invalid Exif alignment marker."},
    {"BlockEndsInsideTheHeader", Jpeg().exif(Bytes{'I', 'I', 42}).sos().bytes(), -1,
     "Invalid Exif start (1)"},
    {"MagicNot42", withIfd0(false, [](Tiff& t) { t.patch32(2, 43 | 8 << 16); }), -1,
     "Invalid Exif start (1)"},
    {"FirstIfdAt7", withTiff(Tiff(false, 7)), -1, "Suspicious offset of first IFD value"},
    {"FirstIfdAt17", withTiff(Tiff(true, 17)), -1, "Suspicious offset of first IFD value"},
    {"FirstIfdAt8ButBlockEnds", withTiff(Tiff(false, 8)), -1, "Illegally sized directory"},
    {"EntryCountRunsPastBlock",
     withIfd0(false, [](Tiff& t) { t.count(3).shortEntry(0x0112, 6).next(0); }), -1,
     "Illegally sized directory"},
    {"FormatCode13",
     withIfd0(false, [](Tiff& t) { t.count(1).entry(0x0112, 13, 1, 6).next(0); }), -1,
     "Illegal format code in EXIF dir"},
    {"ValueOffsetPastBlock",
     withIfd0(false, [](Tiff& t) { t.count(1).entry(0x010F, kAscii, 10, 20).next(0); }), -1,
     "Illegal pointer offset value in EXIF."},
    {"ValueOffsetWrapsIn32Bits",
     withIfd0(false, [](Tiff& t) { t.count(1).entry(0x010F, kAscii, 0x20, 0xFFFFFFF0).next(0); }),
     -1, "Illegal pointer offset value in EXIF."},
    {"ByteCountWrapsIn32Bits",  // 0x20000000 doubles times 8 is 0 in 32 bits: not inline
     withIfd0(false, [](Tiff& t) { t.count(1).entry(0x920A, kDouble, 0x20000000, 0).next(0); }),
     -1, "Illegal pointer offset value in EXIF."},
    {"NextLinkPastBlock",
     withIfd0(true, [](Tiff& t) { t.count(1).shortEntry(0x0112, 6).next(5000); }), -1,
     "Illegal subdirectory link"},
    {"ExifPointerPastBlock",
     withIfd0(false, [](Tiff& t) { t.count(1).longEntry(0x8769, 5000).next(0); }), -1,
     "Illegal subdirectory link"},
    {"BrokenThumbnailDirectoryKeepsBlock",
     withIfd0(false, [](Tiff& t) { t.count(1).shortEntry(0x0112, 6).next(26).count(40); }), 0,
     "Illegally sized directory"},
    {"BrokenSubDirectoryKeepsBlock",
     withIfd0(false,
              [](Tiff& t) { t.count(1).longEntry(0x8769, 26).next(0).count(1).entry(1, 99, 1, 0); }),
     0, "Illegal format code in EXIF dir"},
    {"OrientationNineLeavesItsText", withTiff(orientationBlock(false, 9)), 0,
     "Undefined rotation value"},
    {"LengthCutOffByEnd", Jpeg().raw({0xFF, 0xE1, 0x00}).bytes(), -1, "invalid marker"},
    {"LengthBelowTwo", Jpeg().raw({0xFF, 0xFE, 0x00, 0x01}).bytes(), -1, "invalid marker"},
    {"BodyCutOffByEnd", Jpeg().raw({0xFF, 0xE1, 0x00, 0x40, 'E', 'x'}).bytes(), -1,
     "Premature end of file?"},
    {"TwentySectionsAreTooMany", manySections(20, true), -1, "Too many sections in jpg file"},
    {"NineteenSectionsAndTheScan", manySections(19, true), -1, ""},
    {"DiscardedSectionsDontCount",
     [] {
         Jpeg j;
         for (int i = 0; i < 30; ++i) {
             j.section(0xE0, {'J', 'F', 'I', 'F', 0});
         }
         return j.exif(orientationBlock(false, 3)).sos().bytes();
     }(),
     0, ""},
    {"EndOfFileRightAfterExifSection", Jpeg().exif(orientationBlock(false, 6)).bytes(), 0,
     "invalid marker"},
    {"LaterSectionFailureKeepsExif",
     Jpeg().exif(orientationBlock(false, 6)).raw({0xFF, 0xDB, 0x00, 0x40, 1}).bytes(), 0,
     "Premature end of file?"},
    {"SecondExifFailsAfterGoodOne",
     Jpeg().exif(orientationBlock(false, 6)).exif(Tiff(false, 17)).sos().bytes(), -1,
     "Suspicious offset of first IFD value"},
    {"GoodExifAfterBrokenOne",
     Jpeg().exif(Tiff(false, 17)).exif(orientationBlock(true, 6)).sos().bytes(), 0,
     "Suspicious offset of first IFD value"},
    {"MarkerWithoutFillByte",
     [] {
         Bytes exifBody = Jpeg().exif(orientationBlock(false, 6)).bytes();
         exifBody.erase(exifBody.begin(), exifBody.begin() + 3);  // SOI and the 0xFF
         return Jpeg().section(0xE0, {'J', 'F', 'I', 'F', 0}).raw(exifBody).sos().bytes();
     }(),
     0, ""},
    {"ExifBehindSixFillBytes", Jpeg().exif(orientationBlock(false, 6), 6).sos().bytes(), 0, ""},
    {"PngSignature", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, -1, ""},
    {"Empty", {}, -1, ""},
    {"FFWithoutStartOfImage", {0xFF, 0xE1, 0x00, 0x10}, -1, ""},
};

INSTANTIATE_TEST_SUITE_P(Exif, FailureTest, testing::ValuesIn(failureRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExifMarkers, SevenFillBytesEndTheWalkOnStandardOutput) {
    testing::internal::CaptureStdout();
    const Read r = readBytes(Jpeg().exif(orientationBlock(false, 6), 7).sos().bytes());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "too many padding unsigned chars\n");
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.info.orientation, 0);
    EXPECT_EQ(r.lastError, "");
}

TEST(ExifMarkers, EndOfImageBeforeScanIsReportedOnStandardOutput) {
    testing::internal::CaptureStdout();
    const Read r = readBytes(Jpeg().exif(orientationBlock(false, 8)).section(0xD9, {}).bytes());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No image in jpeg!\n");
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.info.orientation, 8);
}

TEST(ExifMarkers, NothingAfterTheScanIsRead) {
    const Bytes jpeg = Jpeg().sos().exif(orientationBlock(false, 6)).bytes();
    EXPECT_EQ(readBytes(jpeg).result, -1);
}

TEST(ExifMarkers, ShortStartOfFrameSetsOnlyTheProcess) {
    const Read r = readBytes(Jpeg().section(0xC2, {8, 1}).sos().bytes());
    EXPECT_EQ(r.info.jpegProcess, 0xC2);
    EXPECT_EQ(r.info.imageHeight, 0);
}

// ---------------------------------------------------------------------------------------------

TEST(ExifDirectories, FirstIfdIsReadWhereTheHeaderPutsIt) {
    for (bool bigEndian : {false, true}) {
        Tiff t(bigEndian, 16);
        t.padTo(16, 0xFF);  // read from 8, these would be a count of 65535
        t.count(1).shortEntry(0x0112, 3).next(0);
        const Read r = readTiff(t);
        EXPECT_EQ(r.result, 0) << r.lastError;
        EXPECT_EQ(r.info.orientation, 3);
    }
}

TEST(ExifDirectories, ThumbnailDirectoryIsWalkedLastAndItsOrientationWins) {
    Tiff t(false);
    t.count(1).shortEntry(0x0112, 6).next(26);
    t.count(3).shortEntry(0x0112, 8).longEntry(0x0201, 0).longEntry(0x0202, 4).next(0);
    const uint32_t thumbAt = static_cast<uint32_t>(t.pos());
    t.patch32(valueField(26, 1), thumbAt);
    t.text("\xFF\xD8\xFF\xD9");

    const Bytes jpeg = Jpeg().exif(t).sos().bytes();
    ExifInfo info;
    MemoryByteSource source(jpeg);
    ExifReader reader(info);
    ASSERT_EQ(reader.readHead(source), 0);
    EXPECT_EQ(info.orientation, 8);
    ASSERT_EQ(info.thumbnailSize, 4);
    ASSERT_NE(info.thumbnail, nullptr);
    EXPECT_EQ(std::memcmp(info.thumbnail, "\xFF\xD8\xFF\xD9", 4), 0);
}

TEST(ExifDirectories, ThumbnailOutsideTheBlockIsNotSet) {
    Tiff t(false);
    t.count(2).longEntry(0x0201, 20).longEntry(0x0202, 0xFFFFFFF0).next(0);
    const Read r = readTiff(t);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.info.thumbnailSize, 0);
}

TEST(ExifDirectories, ExifSubDirectoryIsWalkedWhereItsPointerIsMet) {
    // The sub-directory holds Orientation 6, IFD0 holds 3: the one walked last decides.
    for (bool pointerFirst : {true, false}) {
        Tiff t(true);
        t.count(2);
        if (pointerFirst) {
            t.longEntry(0x8769, 38).shortEntry(0x0112, 3);
        } else {
            t.shortEntry(0x0112, 3).longEntry(0x8769, 38);
        }
        t.next(0).count(1).shortEntry(0x0112, 6).next(0);
        EXPECT_EQ(readTiff(t).info.orientation, pointerFirst ? 3 : 6);
    }
}

struct LoopRow {
    const char* name;
    void (*build)(Tiff&);
};

class LoopTest : public testing::TestWithParam<LoopRow> {};

TEST_P(LoopTest, WalkEndsAndBlockStillReads) {
    Tiff t(false);
    GetParam().build(t);
    const Read r = readTiff(t);
    EXPECT_EQ(r.result, 0) << r.lastError;
    EXPECT_EQ(r.info.orientation, 6);
}

INSTANTIATE_TEST_SUITE_P(
    Exif, LoopTest,
    testing::Values(
        LoopRow{"NextLinkToItself", [](Tiff& t) { t.count(1).shortEntry(0x0112, 6).next(8); }},
        LoopRow{"MutualNextLinks",
                [](Tiff& t) {
                    t.count(1).shortEntry(0x0112, 6).next(26);
                    t.count(0).next(8);
                }},
        LoopRow{"ExifPointerToItsOwnDirectory",
                [](Tiff& t) { t.count(2).longEntry(0x8769, 8).shortEntry(0x0112, 6).next(0); }},
        LoopRow{"SubDirectoryPointingBackToParent",
                [](Tiff& t) {
                    t.count(2).longEntry(0xA005, 38).shortEntry(0x0112, 6).next(0);
                    t.count(1).longEntry(0x8769, 8).next(0);
                }},
        LoopRow{"ChainOfThousandsOfDirectories",
                [](Tiff& t) {
                    t.count(1).shortEntry(0x0112, 6).next(26);
                    for (uint32_t at = 26; at < 26 + 6 * 5000; at += 6) {
                        t.count(0).next(at + 6);
                    }
                    t.count(0).next(0);
                }}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------

struct TextRow {
    const char* name;
    Bytes jpeg;
    std::string comment;
};

class CommentTest : public testing::TestWithParam<TextRow> {};

TEST_P(CommentTest, CommentField) {
    EXPECT_EQ(std::string(readBytes(GetParam().jpeg).info.comment), GetParam().comment);
}

Bytes userComment(const std::string& value) {
    Tiff t(false);
    t.count(1).entry(0x9286, kUndefined, static_cast<uint32_t>(value.size()), 26).next(0);
    t.text(value);
    return Jpeg().exif(t).sos().bytes();
}

Bytes textTag(uint16_t tag, uint32_t count, const std::string& field) {
    Tiff t(false);
    t.count(2).u16(tag).u16(kAscii).u32(count).text(field).longEntry(0x0112, 1).next(0);
    return Jpeg().exif(t).sos().bytes();
}

TextRow commentRows[] = {
    {"CrLfKeepsOnlyTheLf", Jpeg().comment("a\r\nb").sos().bytes(), "a\nb"},
    {"LoneCrAndControlsBecomeQuestionMarks",
     Jpeg()
         .comment("a\rb\x01"
                  "c\td\x1f")
         .sos()
         .bytes(),
     "a?b?c\td?"},
    {"CrAtTheEndHasNoLfToPair", Jpeg().comment("ab\r").sos().bytes(), "ab?"},
    {"OnlyTheFirstCommentSectionCounts", Jpeg().comment("one").comment("two").sos().bytes(), "one"},
    {"LongCommentCutAt998", Jpeg().comment(std::string(3000, 'x')).sos().bytes(),
     std::string(998, 'x')},
    {"ExifBlockClearsAnEarlierComment",
     Jpeg().comment("hi").exif(orientationBlock(false, 1)).sos().bytes(), ""},
    {"UserCommentAsciiPrefixAndTrailingBlanks", userComment(std::string("ASCII\0\0\0Hello   ", 16)),
     "Hello"},
    {"UserCommentAsciiOnlyBlanks", userComment(std::string("ASCII\0\0\0      ", 14)), ""},
    {"UserCommentTextPastPositionNine", userComment(std::string("ASCII\0\0\0\0\0late", 14)), ""},
    {"UserCommentOtherCharacterSet", userComment(std::string("UNICODE\0h\0i", 11)), "UNICODE"},
    {"UserCommentCutAt199", userComment("plain " + std::string(300, 'y')),
     "plain " + std::string(193, 'y')},
};

INSTANTIATE_TEST_SUITE_P(Exif, CommentTest, testing::ValuesIn(commentRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExifText, InlineTextStopsAtItsOwnBytes) {
    // "Cano" has no NUL: the copy must not run on into the next entry's bytes.
    EXPECT_STREQ(readBytes(textTag(0x010F, 4, "Cano")).info.cameraMake, "Cano");
    EXPECT_STREQ(readBytes(textTag(0x010F, 2, "Cano")).info.cameraMake, "Ca");
    EXPECT_STREQ(readBytes(textTag(0x9000, 4, "0230")).info.exifVersion, "0230");
}

TEST(ExifText, MakeLongerThanItsFieldIsCut) {
    Tiff t(false);
    t.count(1).entry(0x010F, kAscii, 60, 26).next(0).text(std::string(60, 'm'));
    EXPECT_EQ(std::string(readTiff(t).info.cameraMake), std::string(31, 'm'));
}

TEST(ExifValues, NumberWiderThanItsFieldYieldsNothing) {
    // A DOUBLE with no components sits "inline" in four bytes: eight can't be read there.
    Tiff t(false);
    t.count(1).entry(0x920A, kDouble, 0, 0x40000000).next(0);
    const Read r = readTiff(t);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.info.focalLength, 0.0f);
}

TEST(ExifValues, ConvertValueFormats) {
    const uint8_t le[] = {0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x00, 0x00, 0x00};
    const uint8_t zeroDen[] = {5, 0, 0, 0, 0, 0, 0, 0};
    const uint8_t oneF[] = {0x3F, 0x80, 0x00, 0x00};
    const uint8_t twoD[] = {0x40, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(convertValue(1, le, false), 254.0);
    EXPECT_EQ(convertValue(6, le, false), -2.0);
    EXPECT_EQ(convertValue(3, le, false), 65534.0);
    EXPECT_EQ(convertValue(3, le, true), 65279.0);
    EXPECT_EQ(convertValue(8, le, false), -2.0);
    EXPECT_EQ(convertValue(4, le, false), 4294967294.0);
    EXPECT_EQ(convertValue(9, le, false), -2.0);
    EXPECT_EQ(convertValue(5, le, false), -0.5);  // numerator taken as signed
    EXPECT_EQ(convertValue(10, le, false), -0.5);
    EXPECT_EQ(convertValue(5, zeroDen, false), 0.0);
    EXPECT_EQ(convertValue(11, oneF, true), 1.0);
    EXPECT_EQ(convertValue(12, twoD, true), 2.0);
    EXPECT_EQ(convertValue(2, le, false), 0.0);
    EXPECT_EQ(convertValue(0, {}, false), 0.0);
    EXPECT_EQ(convertValue(13, le, false), std::nullopt);
    EXPECT_EQ(convertValue(12, std::span(le).first(7), false), std::nullopt);
}

TEST(ExifValues, HostileNumbersAreClampedNotUndefined) {
    EXPECT_EQ(exifCutToInt(1e300), INT32_MAX);
    EXPECT_EQ(exifCutToInt(-1e300), INT32_MIN);
    EXPECT_EQ(exifCutToInt(std::nan("")), 0);
    EXPECT_EQ(exifCutToInt(-7.9), -7);
    // ISO stored as SLONG -2^31 would overflow when multiplied by 200.
    Tiff t(false);
    t.count(1).entry(0x8827, 9, 1, 0x80000000).next(0);
    EXPECT_EQ(readTiff(t).info.isoSpeed, INT32_MIN);
}

// ---------------------------------------------------------------------------------------------

TEST(ExifFile, ReadsARealFileAndReportsAMissingOne) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("quillmere_exif_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(dir);
    const auto path = dir / "turned.jpg";
    const Bytes jpeg = Jpeg().exif(orientationBlock(true, 6)).sof().sos().bytes();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));

    ExifInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(readPictureExif(path, info), 0);
    EXPECT_EQ(info.orientation, 6);
    EXPECT_EQ(info.imageWidth, 640);
    EXPECT_EQ(info.focalLength, 0.0f);  // cleared, not left from before
    EXPECT_EQ(rotationFromExif(0, info), 1);

    EXPECT_EQ(readPictureExif(dir / "missing.jpg", info), -1);
    // A path that became a folder between the decode and this read opens but can't be read.
    std::filesystem::create_directory(dir / "folder.jpg");
    EXPECT_EQ(readPictureExif(dir / "folder.jpg", info), -1);
    EXPECT_EQ(info.orientation, 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
