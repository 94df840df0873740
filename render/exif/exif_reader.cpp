#include "render/exif/exif_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>

namespace {

// Directory links come from the file: a chain or tree of them is cut off here instead of
// recursing without end. Real blocks nest three deep (IFD0, Exif, Interoperability) and hold
// about six directories, so neither limit is met by a camera's file.
constexpr int kMaxIfdDepth = 16;
constexpr size_t kMaxIfdsPerBlock = 64;

constexpr size_t kTiffBlockStart = 6;  // after "Exif" and its two zero bytes
constexpr size_t kCommentLimit = 1000;
constexpr size_t kUserCommentChars = 199;

// Bytes per component of the TIFF field types; codes above 12 are not formats.
constexpr std::array<uint8_t, 13> kFormatSize = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};

bool isStartOfFrame(int marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

uint16_t load16(std::span<const uint8_t> bytes, bool bigEndian) {
    return bigEndian ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                     : static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

uint32_t load32(std::span<const uint8_t> bytes, bool bigEndian) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value = value << 8 | bytes[bigEndian ? i : 3 - i];
    }
    return value;
}

float toFloat(double value) {
    if (std::isnan(value)) {
        return 0.0f;
    }
    constexpr double kMax = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -kMax, kMax));
}

// Units per inch: 1 and 2 mean inches (2 is the TIFF default), 3 cm, 4 mm, 5 micrometres.
void applyUnit(float& field, double value) {
    switch (exifCutToInt(value)) {
        case 1:
        case 2:
            field = 1.0f;
            break;
        case 3:
            field = 0.39370078f;
            break;
        case 4:
            field = 0.039370079f;
            break;
        case 5:
            field = 0.000039370079f;
            break;
        default:
            break;
    }
}

// Copies text up to a NUL, the field's limit or the end of the value's own bytes, so a value
// without a NUL never pulls in the bytes of the next entry.
template <size_t N>
void copyText(char (&dst)[N], std::span<const uint8_t> src, size_t limit) {
    std::memset(dst, 0, N);
    const size_t count = std::min({limit, N - 1, src.size()});
    for (size_t i = 0; i < count && src[i] != 0; ++i) {
        dst[i] = static_cast<char>(src[i]);
    }
}

}  // namespace

int32_t exifCutToInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kMin = std::numeric_limits<int32_t>::min();
    constexpr double kMax = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(std::trunc(value), kMin, kMax));
}

std::optional<double> convertValue(int format, std::span<const uint8_t> bytes, bool bigEndian) {
    if (format < 0 || format > 12 || bytes.size() < kFormatSize[format]) {
        return std::nullopt;
    }
    switch (format) {
        case 1:
            return bytes[0];
        case 3:
            return load16(bytes, bigEndian);
        case 4:
            return load32(bytes, bigEndian);
        case 5:
        case 10: {
            const auto num = static_cast<int32_t>(load32(bytes, bigEndian));
            const auto den = static_cast<int32_t>(load32(bytes.subspan(4), bigEndian));
            return den == 0 ? 0.0 : static_cast<double>(num) / den;
        }
        case 6:
            return static_cast<int8_t>(bytes[0]);
        case 8:
            return static_cast<int16_t>(load16(bytes, bigEndian));
        case 9:
            return static_cast<int32_t>(load32(bytes, bigEndian));
        case 11:
            return std::bit_cast<float>(load32(bytes, bigEndian));
        case 12: {
            const uint64_t high = load32(bytes.subspan(bigEndian ? 0 : 4), bigEndian);
            const uint64_t low = load32(bytes.subspan(bigEndian ? 4 : 0), bigEndian);
            return std::bit_cast<double>(high << 32 | low);
        }
        default:
            return 0.0;  // no format, ASCII and UNDEFINED carry no number
    }
}

int MemoryByteSource::readByte() {
    return pos_ < bytes_.size() ? bytes_[pos_++] : -1;
}

size_t MemoryByteSource::read(std::span<uint8_t> dst) {
    const size_t count = std::min(dst.size(), bytes_.size() - pos_);
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_), count, dst.begin());
    pos_ += count;
    return count;
}

namespace {

// A read error (the path became a folder, a failing disk) ends the data like the end of the
// file does; libstdc++'s file buffer reports it by throwing from inside the buffer.
class StreamByteSource final : public ByteSource {
  public:
    explicit StreamByteSource(std::streambuf& buffer) : buffer_(buffer) {}
    int readByte() override {
        if (failed_)
            return -1;
        try {
            const auto c = buffer_.sbumpc();
            return c == std::char_traits<char>::eof() ? -1 : static_cast<uint8_t>(c);
        } catch (const std::ios_base::failure&) {
            failed_ = true;
            return -1;
        }
    }
    size_t read(std::span<uint8_t> dst) override {
        if (failed_)
            return 0;
        try {
            const auto got = buffer_.sgetn(reinterpret_cast<char*>(dst.data()),
                                           static_cast<std::streamsize>(dst.size()));
            return got > 0 ? static_cast<size_t>(got) : 0;
        } catch (const std::ios_base::failure&) {
            failed_ = true;
            return 0;
        }
    }

  private:
    std::streambuf& buffer_;
    bool failed_ = false;
};

}  // namespace

// One directory entry as the tag rules see it. numberBytes is where a number is read: the
// four-byte value field, or the value's bytes at its offset. textBytes holds the value's own
// bytes only.
struct ExifReader::Entry {
    uint16_t tag;
    int format;
    std::span<const uint8_t> numberBytes;
    std::span<const uint8_t> textBytes;
    int depth;
    std::optional<double> number() const { return convertValue(format, numberBytes, bigEndian); }
    bool bigEndian;
};

struct ExifReader::DirectoryState {
    double thumbnailOffset = 0;
    double thumbnailLength = 0;
};

// One row of the tag table: a number copied into a float or an int field, or a rule of its
// own. A rule returns false only when it fails the directory it was met in.
struct ExifReader::TagRule {
    uint16_t tag;
    float ExifInfo::*floatField = nullptr;
    int32_t ExifInfo::*intField = nullptr;
    bool (*apply)(ExifReader& reader, const Entry& entry, DirectoryState& dir) = nullptr;
};

const ExifReader::TagRule* ExifReader::findTagRule(uint16_t tag) {
    using R = ExifReader;
    using E = Entry;
    using D = DirectoryState;
    static constexpr auto kAperture = [](R& r, const E& e, D&) {
        auto v = e.number();
        if (v && r.info_.fNumber == 0) {
            r.info_.fNumber = toFloat(std::exp(*v * std::log(2.0) * 0.5));
        }
        return true;
    };
    static constexpr auto kPixelDimension = [](R& r, const E& e, D&) {
        if (auto v = e.number()) {
            r.pixelDimensionMax_ = std::max(r.pixelDimensionMax_, exifCutToInt(*v));
        }
        return true;
    };
    static constexpr auto kSubdirectory = [](R& r, const E& e, D&) {
        return r.followSubdirectory(e);
    };
    static constexpr TagRule kRules[] = {
        {.tag = 0x010F,
         .apply =
             [](R& r, const E& e, D&) {
                 copyText(r.info_.cameraMake, e.textBytes, 31);
                 return true;
             }},
        {.tag = 0x0110,
         .apply =
             [](R& r, const E& e, D&) {
                 copyText(r.info_.cameraModel, e.textBytes, 39);
                 return true;
             }},
        {.tag = 0x0112,
         .apply =
             [](R& r, const E& e, D&) {
                 const int32_t value = exifCutToInt(e.number().value_or(0));
                 r.info_.orientation = value;
                 if (value < 1 || value > 8) {
                     r.lastError_ = "Undefined rotation value";
                     r.info_.orientation = 0;
                 }
                 return true;
             }},
        {.tag = 0x011A, .floatField = &ExifInfo::xResolution},
        {.tag = 0x011B, .floatField = &ExifInfo::yResolution},
        {.tag = 0x0128,
         .apply =
             [](R& r, const E& e, D&) {
                 if (auto v = e.number())
                     applyUnit(r.info_.resolutionUnit, *v);
                 return true;
             }},
        {.tag = 0x0201,
         .apply =
             [](R&, const E& e, D& d) {
                 d.thumbnailOffset = e.number().value_or(0);
                 return true;
             }},
        {.tag = 0x0202,
         .apply =
             [](R&, const E& e, D& d) {
                 d.thumbnailLength = e.number().value_or(0);
                 return true;
             }},
        {.tag = 0x829A, .floatField = &ExifInfo::exposureTime},
        {.tag = 0x829D, .floatField = &ExifInfo::fNumber},
        {.tag = 0x8769, .apply = kSubdirectory},
        {.tag = 0x8822, .intField = &ExifInfo::exposureProgram},
        {.tag = 0x8827,
         .apply =
             [](R& r, const E& e, D&) {
                 if (auto v = e.number()) {
                     // Some cameras store the ISO divided by 200; the product is clamped like any
                     // other number so a hostile value can't overflow.
                     const int32_t iso = exifCutToInt(*v);
                     r.info_.isoSpeed = iso < 50 ? exifCutToInt(iso * 200.0) : iso;
                 }
                 return true;
             }},
        {.tag = 0x9000,
         .apply =
             [](R& r, const E& e, D&) {
                 copyText(r.info_.exifVersion, e.textBytes, 4);
                 return true;
             }},
        {.tag = 0x9003,
         .apply =
             [](R& r, const E& e, D&) {
                 copyText(r.info_.dateTimeOriginal, e.textBytes, 19);
                 return true;
             }},
        {.tag = 0x9102, .intField = &ExifInfo::compressedBitsPerPixel},
        {.tag = 0x9201,
         .apply =
             [](R& r, const E& e, D&) {
                 auto v = e.number();
                 if (v && r.info_.exposureTime == 0) {
                     r.info_.exposureTime = toFloat(1.0 / std::exp(*v * std::log(2.0)));
                 }
                 return true;
             }},
        {.tag = 0x9202, .apply = kAperture},
        {.tag = 0x9203, .floatField = &ExifInfo::brightness},
        {.tag = 0x9204, .floatField = &ExifInfo::exposureBias},
        {.tag = 0x9205, .apply = kAperture},
        {.tag = 0x9206, .floatField = &ExifInfo::subjectDistance},
        {.tag = 0x9207, .intField = &ExifInfo::meteringMode},
        {.tag = 0x9208, .intField = &ExifInfo::lightSource},
        {.tag = 0x9209,
         .apply =
             [](R& r, const E& e, D&) {
                 if (auto v = e.number())
                     r.info_.flashUsed = (exifCutToInt(*v) & 7) != 0 ? 1 : 0;
                 return true;
             }},
        {.tag = 0x920A, .floatField = &ExifInfo::focalLength},
        {.tag = 0x9286,
         .apply =
             [](R& r, const E& e, D&) {
                 r.applyUserComment(e.textBytes);
                 return true;
             }},
        {.tag = 0xA002, .apply = kPixelDimension},
        {.tag = 0xA003, .apply = kPixelDimension},
        {.tag = 0xA005, .apply = kSubdirectory},
        {.tag = 0xA20E, .floatField = &ExifInfo::focalPlaneXResolution},
        {.tag = 0xA20F, .floatField = &ExifInfo::focalPlaneYResolution},
        {.tag = 0xA210,
         .apply =
             [](R& r, const E& e, D&) {
                 if (auto v = e.number())
                     applyUnit(r.info_.focalPlaneUnit, *v);
                 return true;
             }},
    };
    for (const TagRule& rule : kRules) {
        if (rule.tag == tag) {
            return &rule;
        }
    }
    return nullptr;
}

bool ExifReader::fail(const char* text) {
    lastError_ = text;
    return false;
}

uint16_t ExifReader::read16(size_t offset) const {
    return load16(block_.subspan(offset, 2), bigEndian_ != 0);
}

uint32_t ExifReader::read32(size_t offset) const {
    return load32(block_.subspan(offset, 4), bigEndian_ != 0);
}

int32_t ExifReader::readHead(ByteSource& source) {
    std::memset(&info_, 0, sizeof info_);
    if (source.readByte() == 0xFF) {
        readJpegSections(source);  // a block read before a later failure still counts
    }
    return info_.hasExif ? 0 : -1;
}

bool ExifReader::readJpegSections(ByteSource& source) {
    if (source.readByte() != 0xD8) {
        return false;
    }
    for (;;) {
        int marker = 0;
        for (int fill = 0;; ++fill) {
            marker = source.readByte();
            if (marker != 0xFF) {
                break;
            }
            if (fill >= 6) {
                std::fputs("too many padding unsigned chars\n", stdout);
                return false;
            }
        }
        if (!readSection(source, marker)) {
            return false;
        }
        if (marker == 0xD9) {
            std::fputs("No image in jpeg!\n", stdout);
            return false;
        }
        if (marker == 0xDA) {
            return true;
        }
        if (!actOnSection(marker)) {
            discardLastSection();
        }
        if (sectionCount_ >= kMaxSections) {
            return fail("Too many sections in jpg file");
        }
    }
}

// Reads one section whole, its two length bytes first, into the next entry.
bool ExifReader::readSection(ByteSource& source, int marker) {
    JpegSection& section = sections_[static_cast<size_t>(sectionCount_)];
    section.marker = marker;
    const int high = source.readByte();
    const int low = source.readByte();
    // The end of the file reads as -1, so a section cut off in its length is caught here.
    const int length = high < 0 || low < 0 ? -1 : high << 8 | low;
    if (length < 2) {
        return fail("invalid marker");
    }
    section.size = length;
    section.data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(length)]);
    if (!section.data) {
        return fail("Could not allocate memory");
    }
    section.data[0] = static_cast<uint8_t>(high);
    section.data[1] = static_cast<uint8_t>(low);
    const size_t bodySize = static_cast<size_t>(length) - 2;
    if (source.read({section.data.get() + 2, bodySize}) != bodySize) {
        return fail("Premature end of file?");
    }
    ++sectionCount_;
    return true;
}

// Decodes the section just read; returns false when it is not to be kept.
bool ExifReader::actOnSection(int marker) {
    const JpegSection& section = sections_[static_cast<size_t>(sectionCount_ - 1)];
    const std::span<const uint8_t> bytes(section.data.get(), static_cast<size_t>(section.size));
    if (isStartOfFrame(marker)) {
        if (bytes.size() >= 8) {
            info_.imageHeight = bytes[3] << 8 | bytes[4];
            info_.imageWidth = bytes[5] << 8 | bytes[6];
            info_.isColour = bytes[7] == 3 ? 1 : 0;
        }
        info_.jpegProcess = marker;
        return true;
    }
    switch (marker) {
        case 0xE0:
            return false;
        case 0xE1:
            if (bytes.size() >= 6 && std::memcmp(bytes.data() + 2, "Exif", 4) == 0) {
                info_.hasExif = processExifBlock(bytes.subspan(2));
                return true;
            }
            return false;
        case 0xFE:
            if (commentSeen_) {
                return false;
            }
            commentSeen_ = true;
            processComment(bytes);
            return true;
        default:
            return true;
    }
}

void ExifReader::discardLastSection() {
    --sectionCount_;
    sections_[static_cast<size_t>(sectionCount_)] = JpegSection{};
}

void ExifReader::processComment(std::span<const uint8_t> section) {
    const size_t end = std::min(section.size(), kCommentLimit);
    size_t out = 0;
    for (size_t i = 2; i < end; ++i) {
        const uint8_t c = section[i];
        // The look-ahead stays inside the copied range; a CR at its end has no LF after it.
        if (c == '\r' && i + 1 < end && section[i + 1] == '\n') {
            continue;
        }
        const bool control = c < 0x20 && c != '\t' && c != '\n';
        info_.comment[out++] = control ? '?' : static_cast<char>(c);
    }
    info_.comment[out] = '\0';
}

bool ExifReader::processExifBlock(std::span<const uint8_t> payload) {
    info_.flashUsed = 0;
    info_.comment[0] = '\0';
    pixelDimensionMax_ = 0;
    visitedIfds_.clear();
    if (payload.size() < kTiffBlockStart || std::memcmp(payload.data(), "Exif\0\0", 6) != 0) {
        return fail("Incorrect Exif header");
    }
    block_ = payload.subspan(kTiffBlockStart);
    if (block_.size() >= 2 && block_[0] == 'I' && block_[1] == 'I') {
        bigEndian_ = 0;
    } else if (block_.size() >= 2 && block_[0] == 'M' && block_[1] == 'M') {
        bigEndian_ = 1;
    } else {
        return fail("Invalid Exif alignment marker.");
    }
    if (block_.size() < 4 || read16(2) != 0x2A) {
        return fail("Invalid Exif start (1)");
    }
    const uint32_t firstIfd = block_.size() >= 8 ? read32(4) : 0;
    if (firstIfd < 8 || firstIfd > 16) {
        return fail("Suspicious offset of first IFD value");
    }
    if (!processIfd(firstIfd, 0)) {
        return false;
    }
    if (info_.focalPlaneXResolution != 0) {
        info_.sensorWidth = static_cast<float>(pixelDimensionMax_) * info_.focalPlaneUnit /
                            info_.focalPlaneXResolution;
    }
    return true;
}

bool ExifReader::processIfd(uint32_t offset, int depth) {
    // A directory met again through a loop, or past the nesting limit, is not walked; that is
    // no failure of the directory that links to it.
    if (depth > kMaxIfdDepth || visitedIfds_.size() >= kMaxIfdsPerBlock ||
        std::find(visitedIfds_.begin(), visitedIfds_.end(), offset) != visitedIfds_.end()) {
        return true;
    }
    visitedIfds_.push_back(offset);
    const uint64_t blockSize = block_.size();
    if (uint64_t{offset} + 2 > blockSize) {
        return fail("Illegally sized directory");
    }
    const uint64_t entryCount = read16(offset);
    const uint64_t linkOffset = uint64_t{offset} + 2 + 12 * entryCount;
    if (linkOffset > blockSize) {
        return fail("Illegally sized directory");
    }
    DirectoryState dir;
    for (uint64_t i = 0; i < entryCount; ++i) {
        if (!processEntry(static_cast<uint32_t>(offset + 2 + 12 * i), dir, depth)) {
            return false;
        }
    }
    if (linkOffset + 4 <= blockSize) {
        const uint32_t next = read32(static_cast<size_t>(linkOffset));
        if (next != 0) {
            if (next > blockSize) {
                return fail("Illegal subdirectory link");
            }
            processIfd(next, depth + 1);
        }
    }
    // Negative values would point before the block, so only positive ones are taken.
    if (dir.thumbnailOffset > 0 && dir.thumbnailLength > 0 &&
        dir.thumbnailOffset + dir.thumbnailLength <= static_cast<double>(blockSize)) {
        info_.thumbnail = block_.data() + static_cast<size_t>(dir.thumbnailOffset);
        info_.thumbnailSize = exifCutToInt(dir.thumbnailLength);
    }
    return true;
}

bool ExifReader::processEntry(uint32_t entryOffset, DirectoryState& dir, int depth) {
    const uint16_t tag = read16(entryOffset);
    const uint16_t format = read16(entryOffset + 2);
    const uint64_t components = read32(entryOffset + 4);
    if (format > 12) {
        return fail("Illegal format code in EXIF dir");
    }
    // At most 2^32 components of 8 bytes: the product fits in 64 bits.
    const uint64_t byteCount = components * kFormatSize[format];
    std::span<const uint8_t> numberBytes = block_.subspan(entryOffset + 8, 4);
    std::span<const uint8_t> textBytes = numberBytes.first(std::min<uint64_t>(byteCount, 4));
    if (byteCount > 4) {
        const uint64_t valueOffset = read32(entryOffset + 8);
        if (valueOffset + byteCount > block_.size()) {
            return fail("Illegal pointer offset value in EXIF.");
        }
        numberBytes = block_.subspan(static_cast<size_t>(valueOffset), byteCount);
        textBytes = numberBytes;
    }
    const TagRule* rule = findTagRule(tag);
    if (rule == nullptr) {
        return true;
    }
    const Entry entry{tag, format, numberBytes, textBytes, depth, bigEndian_ != 0};
    if (rule->apply != nullptr) {
        return rule->apply(*this, entry, dir);
    }
    // A number that can't be read leaves its field alone.
    if (const auto value = entry.number()) {
        if (rule->floatField != nullptr) {
            info_.*rule->floatField = toFloat(*value);
        } else {
            info_.*rule->intField = exifCutToInt(*value);
        }
    }
    return true;
}

bool ExifReader::followSubdirectory(const Entry& entry) {
    const uint32_t offset = load32(entry.numberBytes, bigEndian_ != 0);
    if (offset > block_.size()) {
        return fail("Illegal subdirectory link");
    }
    processIfd(offset, entry.depth + 1);
    return true;
}

void ExifReader::applyUserComment(std::span<const uint8_t> value) {
    // Trailing blanks count as the end of the text, as if they were NULs.
    size_t length = value.size();
    while (length > 0 && value[length - 1] == ' ') {
        --length;
    }
    const std::span<const uint8_t> text = value.first(length);
    if (text.size() >= 5 && std::memcmp(text.data(), "ASCII", 5) == 0) {
        for (size_t start = 5; start <= 9 && start < text.size(); ++start) {
            if (text[start] != 0 && text[start] != ' ') {
                copyText(info_.comment, text.subspan(start), kUserCommentChars);
                return;
            }
        }
        return;
    }
    copyText(info_.comment, text, kUserCommentChars);
}

int32_t readPictureExif(const std::filesystem::path& file, ExifInfo& info) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream.is_open()) {
        return -1;
    }
    StreamByteSource source(*stream.rdbuf());
    ExifReader reader(info);
    return reader.readHead(source);
}

int32_t readExifFromBytes(std::span<const uint8_t> bytes, ExifInfo& info) {
    MemoryByteSource source(bytes);
    ExifReader reader(info);
    return reader.readHead(source);
}

int32_t rotationFromExif(int32_t readResult, const ExifInfo& info) {
    if (readResult != 0) {
        return 0;
    }
    switch (info.orientation) {
        case 3:
        case 4:
            return 3;
        case 5:
        case 6:
            return 1;
        case 7:
        case 8:
            return 2;
        default:
            return 0;  // 2 or less, or above 8
    }
}
