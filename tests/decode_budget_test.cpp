// Small files made to hurt: what a decode allocates, reads and waits for stays bounded by what
// the header says and the budget allows, measured in this process.
#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "render/decode/decoder.h"
#include "render/source/prefetcher.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t kMiB = size_t{1} << 20;

// The thread sanitizer keeps several bytes of its own for every byte the program touches.
#if defined(__SANITIZE_THREAD__)
constexpr size_t kShadowFactor = 8;
#else
constexpr size_t kShadowFactor = 1;
#endif

// The peak of this process's resident memory since the last reset, above what it held then.
class PeakMemory {
  public:
    PeakMemory() {
        std::ofstream("/proc/self/clear_refs") << "5";  // the high-water mark restarts here
        start_ = statusKiB("VmHWM:");
    }
    // Of the program's own, a sanitizer's shadow apart.
    size_t grownBytes() const { return (statusKiB("VmHWM:") - start_) * 1024 / kShadowFactor; }

  private:
    static size_t statusKiB(const std::string& field) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind(field, 0) == 0)
                return std::stoul(line.substr(field.size()));
        }
        return 0;
    }
    size_t start_ = 0;
};

void put16(std::string& s, unsigned v) {
    s += char(v >> 8);
    s += char(v);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v >> 16);
    put16(s, v & 0xFFFF);
}

// A progressive JPEG of a few dozen bytes claiming 28000 x 15750 pixels in three full-size
// components: libjpeg's coefficient buffer for it is 2.6 GB at any scale.
std::string progressiveJpegClaimingHugeFrame() {
    std::string j = "\xFF\xD8";
    j += "\xFF\xDB";
    put16(j, 67);
    j += '\0';
    j += std::string(64, '\1');
    j += "\xFF\xC2";
    put16(j, 17);
    j += '\x08';
    put16(j, 15750);
    put16(j, 28000);
    j += '\x03';
    for (char c = 1; c <= 3; ++c)
        j += std::string{c, '\x11', '\0'};
    j += "\xFF\xC4";
    put16(j, 20);
    j += std::string(1, '\0') + '\1' + std::string(15, '\0') + '\0';
    j += "\xFF\xDA";
    put16(j, 12);
    j += '\x03';
    j += std::string("\x01\x00\x02\x00\x03\x00", 6);
    j += std::string(3, '\0');
    j += std::string(8, '\0') + "\xFF\xD9";
    return j;
}

// A bare JPEG 2000 codestream of a couple of hundred bytes: 255 x 255 tiles of one pixel, 40
// components. Reading its main header would set up a structure for each of 2.6 million
// tile components.
std::string j2kOfManyTilesAndComponents() {
    constexpr unsigned kComponents = 40;
    std::string j = "\xFF\x4F\xFF\x51";
    put16(j, 38 + 3 * kComponents);
    put16(j, 0);
    for (uint32_t v : {255u, 255u, 0u, 0u, 1u, 1u, 0u, 0u})
        put32(j, v);
    put16(j, kComponents);
    for (unsigned c = 0; c < kComponents; ++c)
        j += std::string("\x07\x01\x01", 3);
    j += "\xFF\x52";
    put16(j, 12);
    j += std::string("\x00\x00\x00\x01\x00\x05\x04\x04\x00\x00", 10);
    j += "\xFF\x5C";
    put16(j, 19);
    j += std::string(17, '\x40');
    j += "\xFF\x90";
    put16(j, 10);
    put16(j, 0);
    put32(j, 0);
    j += std::string("\x00\x01", 2);
    return j;
}

std::span<const uint8_t> asSpan(const std::string& bytes) {
    return {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
}

void writeFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

void pngChunk(std::string& png, const char* type, const std::string& data) {
    put32(png, static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    png += typed;
    put32(png, static_cast<uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

// A black RGB PNG deflated row by row, so that the test never holds its pixels.
std::string blackPng(uint32_t width, uint32_t height) {
    std::string ihdr;
    put32(ihdr, width);
    put32(ihdr, height);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    z_stream z{};
    deflateInit(&z, 1);
    std::string idat;
    std::vector<unsigned char> row(size_t{width} * 3 + 1, 0), out(1 << 16);
    for (uint32_t y = 0; y <= height; ++y) {
        z.next_in = row.data();
        z.avail_in = y < height ? static_cast<uInt>(row.size()) : 0;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, y < height ? Z_NO_FLUSH : Z_FINISH);
            idat.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    std::string png = "\x89PNG\r\n\x1a\n";
    pngChunk(png, "IHDR", ihdr);
    pngChunk(png, "IDAT", idat);
    pngChunk(png, "IEND", "");
    return png;
}

struct HostileBytes {
    const char* name;
    std::function<std::string()> make;
};

class HostileHeader : public ::testing::TestWithParam<HostileBytes> {};

// Refused from the header, before the decoder's own structures are set up: neither file may
// cost more than a few megabytes, for the picture shown nor for one decoded ahead.
TEST_P(HostileHeader, RefusedWithoutAllocating) {
    const std::string bytes = GetParam().make();
    for (const size_t cap : {SIZE_MAX, 160 * kMiB}) {
        const PictureBudgetScope budget(cap);
        Image out;
        const PeakMemory peak;
        EXPECT_NE(decodePictureData(asSpan(bytes), out, FitArea{1920, 1080}), DecodeStatus::Ok);
        EXPECT_LT(peak.grownBytes(), 64 * kMiB);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, HostileHeader,
                         testing::Values(HostileBytes{"progressive_jpeg_2_6_GB_of_coefficients",
                                                      progressiveJpegClaimingHugeFrame},
                                         HostileBytes{"j2k_65025_tiles_of_40_components",
                                                      j2kOfManyTilesAndComponents}),
                         [](const auto& info) { return std::string(info.param.name); });

// A file no decoder claims is read only as far as its head, however large: a film named like
// a picture costs one small read.
TEST(HeaderBeforeBytes, FileNoDecoderClaimsIsReadNoFurther) {
    QTemporaryDir dir;
    const fs::path film = fs::path(dir.path().toStdString()) / "holiday.jpg.mkv";
    writeFile(film, "\x1A\x45\xDF\xA3 matroska");
    fs::resize_file(film, size_t{1} << 30);  // sparse: a gigabyte that takes no disk
    FileBytes bytes;
    const PeakMemory peak;
    EXPECT_EQ(readPictureFile(film, bytes), DecodeStatus::Failed);
    EXPECT_LT(peak.grownBytes(), 16 * kMiB);
}

// A picture decoded ahead spends only the cap of the pictures ahead: a PNG far larger than it
// comes reduced for the surface, decoded once, and kept.
TEST(DecodeAhead, LargePngIsReducedWithinTheCap) {
    QTemporaryDir dir;
    const fs::path file = fs::path(dir.path().toStdString()) / "wide.png";
    writeFile(file, blackPng(12000, 8000));  // 384 MB of pixels whole
    Prefetcher prefetcher(32 * kMiB);
    const PeakMemory peak;
    prefetcher.request({file}, 1920, 1080);
    prefetcher.waitIdle();
    EXPECT_EQ(prefetcher.cachedCount(), 1u);
    EXPECT_LT(peak.grownBytes(), 96 * kMiB);
}

// A file swapped for a FIFO while it is read never blocks a decode: whatever the name leads to
// at each moment, every decode ends at once.
TEST(OneOpenPerFile, PictureSwappedForFifoNeverBlocks) {
    QTemporaryDir dir;
    const fs::path folder = dir.path().toStdString();
    const fs::path name = folder / "x.jpg", other = folder / "other";
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(QString::fromStdString(name.native()), "JPEG"));
    ASSERT_EQ(::mkfifo(other.c_str(), 0600), 0);
    std::atomic<bool> swapping = true;
    std::atomic<int> swaps = 0;
    std::thread swapper([&] {
        while (swapping) {
            ::renameat2(AT_FDCWD, name.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
            ++swaps;
        }
    });
    // Decodes while the name keeps changing under them, for some thousands of swaps.
    auto decodes = std::async(std::launch::async, [&] {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (swaps < 20000 && std::chrono::steady_clock::now() < until)
            preparePicture(name, FitArea{320, 240});
    });
    const bool ended = decodes.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    swapping = false;
    swapper.join();
    if (!ended) {
        // Whichever name the FIFO has now, a writer lets the blocked read end.
        for (const fs::path& fifo : {name, other})
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    }
    decodes.wait();
    EXPECT_TRUE(ended);
}

std::string largeJpeg() {
    QImage picture(4000, 3000, QImage::Format_RGB32);
    picture.fill(Qt::darkYellow);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG", 80);
    return jpeg.toStdString();
}

class StopRequest : public ::testing::TestWithParam<HostileBytes> {};

// TurboJPEG's whole-frame call and our PNG path's one inflate can't be stopped: a picture that
// would keep them busy long goes where the stop token is seen.
TEST_P(StopRequest, LargePictureDecodeStops) {
    const std::string bytes = GetParam().make();
    std::stop_source stop;
    stop.request_stop();
    Image out;
    EXPECT_EQ(decodePictureData(asSpan(bytes), out, fixedArea({}), stop.get_token()),
              DecodeStatus::Cancelled);
}

INSTANTIATE_TEST_SUITE_P(Files, StopRequest,
                         testing::Values(HostileBytes{"jpeg_12_megapixels", largeJpeg},
                                         HostileBytes{"png_13_megapixels",
                                                      [] { return blackPng(4000, 3300); }}),
                         [](const auto& info) { return std::string(info.param.name); });

// Stand-in decodes of known sizes: OutOfMemory when the decode's budget is smaller.
class SizedPictures {
  public:
    explicit SizedPictures(const fs::path& folder) : folder_(folder) {}

    fs::path add(const std::string& name, size_t bytes) {
        fs::path file = folder_ / name;
        writeFile(file, name);
        std::lock_guard lock(mutex_);
        bytes_[file] = bytes;
        return file;
    }
    int decodes(const fs::path& file) {
        std::lock_guard lock(mutex_);
        return decodes_[file];
    }
    Prefetcher::Prepare prepare() {
        return [this](const fs::path& file, const FitAreaSource&, std::stop_token) {
            PreparedPicture prepared;
            prepared.file = file;
            prepared.stamp = regularFileVersion(file).value_or(FileVersion{});
            size_t bytes = 0;
            {
                std::lock_guard lock(mutex_);
                ++decodes_[file];
                bytes = bytes_[file];
            }
            if (bytes > Image::maxPictureBytes()) {
                prepared.status = DecodeStatus::OutOfMemory;
                return prepared;
            }
            prepared.status =
                prepared.picture.create(static_cast<int32_t>(bytes / 4 / 64), 64, false)
                    ? DecodeStatus::Ok
                    : DecodeStatus::Failed;
            return prepared;
        };
    }

  private:
    fs::path folder_;
    std::mutex mutex_;
    std::map<fs::path, size_t> bytes_;
    std::map<fs::path, int> decodes_;
};

constexpr size_t kKiB = 1024;

// A picture too large to decode ahead waits until the window waits for it, and is then decoded
// once, with the whole budget, and given to the window although it exceeds the cap.
TEST(DecodeAhead, PictureOverTheCapIsDecodedOnceWhenCurrent) {
    QTemporaryDir dir;
    SizedPictures pictures(dir.path().toStdString());
    const fs::path big = pictures.add("big.png", 256 * kKiB);
    Prefetcher prefetcher(64 * kKiB, pictures.prepare());
    for (int step = 0; step < 2; ++step) {
        prefetcher.request({big});
        prefetcher.waitIdle();
        EXPECT_EQ(pictures.decodes(big), 1);
        EXPECT_FALSE(prefetcher.takeResult(big).has_value());  // neither kept nor failed
    }
    prefetcher.await(big);
    prefetcher.request({big});
    prefetcher.waitIdle();
    EXPECT_EQ(pictures.decodes(big), 2);
    const std::optional<PreparedPicture> current = prefetcher.takeResult(big);
    ASSERT_TRUE(current.has_value());
    EXPECT_EQ(current->status, DecodeStatus::Ok);
}

// The picture the window waits for never waits for room: a cached neighbour and one more
// picture of the last size over the cap once left it undecoded, and the window blank.
TEST(DecodeAhead, AwaitedPictureIsDecodedWhateverTheCacheHolds) {
    QTemporaryDir dir;
    SizedPictures pictures(dir.path().toStdString());
    const fs::path left = pictures.add("a.png", 60 * kKiB);
    const fs::path middle = pictures.add("b.png", 60 * kKiB);
    Prefetcher prefetcher(100 * kKiB, pictures.prepare());
    prefetcher.request({left});
    prefetcher.waitIdle();
    prefetcher.await(middle);
    prefetcher.request({middle, left});
    prefetcher.waitIdle();
    const std::optional<PreparedPicture> current = prefetcher.takeResult(middle);
    ASSERT_TRUE(current.has_value());
    EXPECT_EQ(current->status, DecodeStatus::Ok);
}

// The window's side of the source, as PictureSource drives the prefetcher: the current picture
// is asked for with the one after it, then shown, and its neighbours wanted.
struct Viewer {
    Prefetcher& prefetcher;
    std::vector<fs::path> list;
    size_t index = 0;

    // False when the current picture never arrived.
    bool show(int direction) {
        const size_t n = list.size();
        const fs::path& current = list[index];
        const fs::path& ahead = list[(index + n + direction) % n];
        const fs::path& behind = list[(index + n - direction) % n];
        if (!prefetcher.takeResult(current)) {
            prefetcher.await(current);
            prefetcher.request({current, ahead});
            prefetcher.waitIdle();
            if (!prefetcher.takeResult(current))
                return false;
        }
        prefetcher.await({});
        prefetcher.request({ahead, behind});
        prefetcher.waitIdle();
        return true;
    }
};

// Over random folders, steps both ways, deletes, new folders and caps: the current picture is
// always decoded and given to the window, and the pictures ahead never hold more than the cap.
TEST(DecodeAhead, CurrentAlwaysArrivesAndAheadKeepsToTheCap) {
    QTemporaryDir dir;
    SizedPictures pictures(dir.path().toStdString());
    std::mt19937 random(24);
    int sequences = 0, steps = 0;
    for (; sequences < 60; ++sequences) {
        const size_t cap = (16 + random() % 112) * kKiB;
        Prefetcher prefetcher(cap, pictures.prepare());
        Viewer viewer{prefetcher, {}, 0};
        for (int step = 0; step < 40; ++step, ++steps) {
            const unsigned kind = random() % 10;
            if (viewer.list.empty() || kind == 0) {  // a new folder, as a drop opens one
                prefetcher.clear();
                viewer.list.clear();
                const size_t count = 1 + random() % 6;
                for (size_t i = 0; i < count; ++i) {
                    const size_t bytes = (4 + random() % (2 * cap / kKiB)) * kKiB;
                    viewer.list.push_back(pictures.add(std::to_string(sequences) + "-" +
                                                           std::to_string(step) + "-" +
                                                           std::to_string(i) + ".png",
                                                       bytes));
                }
                viewer.index = random() % count;
            } else if (kind == 1 && viewer.list.size() > 1) {  // the current one deleted
                prefetcher.forget(viewer.list[viewer.index]);
                viewer.list.erase(viewer.list.begin() + static_cast<ptrdiff_t>(viewer.index));
                viewer.index %= viewer.list.size();
            } else {
                const int direction = kind % 2 ? 1 : -1;
                viewer.index = (viewer.index + viewer.list.size() + direction) % viewer.list.size();
            }
            ASSERT_TRUE(viewer.show(kind % 2 ? 1 : -1))
                << "sequence " << sequences << " step " << step << ": the picture never came";
            ASSERT_LE(prefetcher.aheadBytes(), cap) << "sequence " << sequences;
            ASSERT_LE(prefetcher.cachedCount(), Prefetcher::kMaxPictures);
        }
    }
    RecordProperty("sequences", sequences);
    RecordProperty("steps", steps);
}

}  // namespace
