#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What the EXIF reader finds in the head of a JPEG file. The viewer uses only orientation and
// hasExif; the other fields are decoded because the block carries them. Texts are NUL-
// terminated 8-bit strings. The record is cleared to zeros by every read.
struct ExifInfo {
    char exifVersion[5];
    char cameraMake[32];
    char cameraModel[40];
    char dateTimeOriginal[20];
    int32_t imageHeight;
    int32_t imageWidth;
    int32_t orientation;  // 1 to 8, or 0 when absent or invalid
    int32_t isColour;
    int32_t jpegProcess;
    int32_t flashUsed;
    float focalLength;
    float exposureTime;
    float fNumber;
    float subjectDistance;
    float sensorWidth;
    float exposureBias;
    int32_t lightSource;
    int32_t meteringMode;
    int32_t exposureProgram;
    int32_t isoSpeed;
    int32_t compressedBitsPerPixel;
    float focalPlaneXResolution;
    float focalPlaneYResolution;
    float focalPlaneUnit;
    float xResolution;
    float yResolution;
    float resolutionUnit;
    float brightness;
    char comment[1000];
    // Points into a section buffer that is freed when the read ends: never dereference it
    // after readPictureExif returns.
    const uint8_t* thumbnail;
    int32_t thumbnailSize;
    bool hasExif;
};

// Reads the head of the file into info (cleared first once the file is open). Returns 0 when
// an Exif block was read successfully (info.hasExif set), -1 otherwise, also when the file
// can't be opened or doesn't begin with 0xFF. Only the head up to the start of scan is read.
int32_t readPictureExif(const std::filesystem::path& file, ExifInfo& info);

// The same over bytes already in memory (tests, fuzzing).
int32_t readExifFromBytes(std::span<const uint8_t> bytes, ExifInfo& info);

// The render's rotation code for a read: 0 none, 1 a quarter turn clockwise, 2 a quarter turn
// counter-clockwise, 3 a half turn. Mirrored orientations get the turn of their pair only.
int32_t rotationFromExif(int32_t readResult, const ExifInfo& info);

// Where the reader takes its bytes from: a file stream or memory. readByte returns 0..255, or -1
// at the end; read fills as much of dst as there are bytes and returns how many it filled.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual int readByte() = 0;
    virtual size_t read(std::span<uint8_t> dst) = 0;
};

class MemoryByteSource final : public ByteSource {
  public:
    explicit MemoryByteSource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    int readByte() override;
    size_t read(std::span<uint8_t> dst) override;

  private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

// One reader per read: walks the JPEG marker sections of a head up to the start of scan and
// decodes the Exif block into the record it was made on. The section buffers live as long as
// the reader, and info.thumbnail points into one of them.
class ExifReader {
  public:
    static constexpr int kMaxSections = 20;

    explicit ExifReader(ExifInfo& info) : info_(info) {}

    // Clears the record, reads one byte and walks the sections only when it is 0xFF. Returns 0
    // when the last Exif block met was read successfully (info.hasExif), -1 otherwise.
    int32_t readHead(ByteSource& source);

    // The marker walk after the first 0xFF: true when the start of scan was reached.
    bool readJpegSections(ByteSource& source);

    // An APP1 section from its "Exif" identifier on, up to the section's end.
    bool processExifBlock(std::span<const uint8_t> payload);

    // The text of the last failure met, empty when there was none.
    const std::string& lastError() const { return lastError_; }
    int sectionCount() const { return sectionCount_; }

  private:
    struct JpegSection {
        std::unique_ptr<uint8_t[]> data;  // the whole section, its two length bytes first
        int32_t marker = 0;
        int32_t size = 0;
    };
    struct Entry;
    struct DirectoryState;
    struct TagRule;
    static const TagRule* findTagRule(uint16_t tag);

    bool readSection(ByteSource& source, int marker);
    bool actOnSection(int marker);
    void discardLastSection();
    void processComment(std::span<const uint8_t> section);
    bool processIfd(uint32_t offset, int depth);
    bool processEntry(uint32_t entryOffset, DirectoryState& dir, int depth);
    bool followSubdirectory(const Entry& entry);
    void applyUserComment(std::span<const uint8_t> value);
    uint16_t read16(size_t offset) const;
    uint32_t read32(size_t offset) const;
    bool fail(const char* text);

    ExifInfo& info_;
    std::string lastError_;
    int32_t pixelDimensionMax_ = 0;
    int32_t bigEndian_ = 0;
    std::array<JpegSection, kMaxSections> sections_;
    int32_t sectionCount_ = 0;
    bool commentSeen_ = false;
    std::span<const uint8_t> block_;     // the TIFF block being decoded
    std::vector<uint32_t> visitedIfds_;  // directories already walked in this block
};

// Turns a number of the block into a value for an int32 field: cut toward zero, NaN gives 0 and
// values outside the range are clamped, so hostile numbers never reach an undefined conversion.
int32_t exifCutToInt(double value);

// A value of the given TIFF format code read from the front of bytes in the given byte order;
// nothing when the code is unknown or bytes is too short for one value.
std::optional<double> convertValue(int format, std::span<const uint8_t> bytes, bool bigEndian);
