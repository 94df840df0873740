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
#include "render/source/prefetch_policy.h"
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
        EXPECT_EQ(prefetcher.cachedCount(), 0u);
        EXPECT_FALSE(prefetcher.coming(big));
    }
    prefetcher.await(big);
    prefetcher.request({big});
    prefetcher.waitIdle();
    EXPECT_EQ(pictures.decodes(big), 2);
    const std::optional<PreparedPicture> current = prefetcher.takeResult(big);
    ASSERT_TRUE(current.has_value());
    EXPECT_EQ(current->status, DecodeStatus::Ok);
}

// A user's walk through folders: steps both ways, reversals, deletes of the current picture,
// window resizes and drops of new folders of pictures of random sizes.
struct Walk {
    std::mt19937 random{24};
    std::vector<fs::path> list;
    size_t index = 0;
    int direction = 1;
    int32_t width = 1920;
    int32_t height = 1080;
    enum class Event { NewFolder, Delete, Resize, Step };

    // Moves on; add makes a picture of a given size.
    Event next(const std::function<fs::path(size_t bytes)>& add, size_t cap) {
        const unsigned kind = random() % 10;
        if (list.empty() || kind == 0) {
            list.clear();
            const size_t count = 1 + random() % 6;
            for (size_t i = 0; i < count; ++i)
                list.push_back(add((4 + random() % (2 * cap / kKiB)) * kKiB));
            index = random() % count;
            return Event::NewFolder;
        }
        if (kind == 1 && list.size() > 1) {
            list.erase(list.begin() + static_cast<ptrdiff_t>(index));
            index %= list.size();
            return Event::Delete;
        }
        if (kind == 2) {
            width = 640 + static_cast<int32_t>(random() % 1280);
            height = 480 + static_cast<int32_t>(random() % 720);
            return Event::Resize;
        }
        if (kind == 3)
            direction = -direction;  // a reversal
        index = (index + list.size() + static_cast<size_t>(direction)) % list.size();
        return Event::Step;
    }
    const fs::path& at(int offset) const {
        return list[(index + 2 * list.size() + static_cast<size_t>(offset)) % list.size()];
    }
    // Two files as the prefetcher keeps them: once.
    std::vector<fs::path> pair(int first, int second) const {
        if (at(first) == at(second))
            return {at(first)};
        return {at(first), at(second)};
    }
};

// Over random walks across caps, the whole prefetcher as PictureSource drives it: the current
// picture is asked for with the one after it, taken, shown, and its neighbours wanted. The
// current picture always arrives and the pictures ahead never hold more than the cap. The
// policy's own walks below cover the cases; under the thread sanitizer, which looks at the
// threads' hand-offs and runs each walk a hundred times slower, a quarter of the walks will do.
#if defined(__SANITIZE_THREAD__)
constexpr int kThreadedWalks = 15;
#else
constexpr int kThreadedWalks = 60;
#endif

TEST(DecodeAhead, CurrentAlwaysArrivesAndAheadKeepsToTheCap) {
    QTemporaryDir dir;
    SizedPictures pictures(dir.path().toStdString());
    Walk walk;
    int sequences = 0, steps = 0, names = 0;
    const auto add = [&](size_t bytes) {
        return pictures.add(std::to_string(names++) + ".png", bytes);
    };
    for (; sequences < kThreadedWalks; ++sequences) {
        const size_t cap = (16 + walk.random() % 112) * kKiB;
        Prefetcher prefetcher(cap, pictures.prepare());
        walk.list.clear();
        for (int step = 0; step < 40; ++step, ++steps) {
            const fs::path before = walk.list.empty() ? fs::path() : walk.at(0);
            const Walk::Event event = walk.next(add, cap);
            if (event == Walk::Event::NewFolder)
                prefetcher.clear();
            if (event == Walk::Event::Delete)
                prefetcher.forget(before);
            const fs::path& current = walk.at(0);
            prefetcher.await(current);
            if (!prefetcher.takeResult(current)) {
                prefetcher.request({current, walk.at(walk.direction)}, walk.width, walk.height);
                prefetcher.waitIdle();
                ASSERT_TRUE(prefetcher.takeResult(current).has_value())
                    << "sequence " << sequences << " step " << step << ": the picture never came";
            }
            prefetcher.await({});
            prefetcher.request({walk.at(walk.direction), walk.at(-walk.direction)}, walk.width,
                               walk.height);
            prefetcher.waitIdle();
            ASSERT_LE(prefetcher.aheadBytes(), cap) << "sequence " << sequences;
            ASSERT_LE(prefetcher.cachedCount(), Prefetcher::kMaxPictures);
        }
    }
    RecordProperty("sequences", sequences);
    RecordProperty("steps", steps);
}

// The policy alone, in a world without threads or files: two decoders and a checker, each job
// taking 0 to 2 rounds, the policy asked again every round, as the prefetcher asks it after
// every change. The walk goes on while pictures are still coming, or waits for them. At every
// round the awaited picture is held, coming or first in the plan, and what is kept ahead keeps
// to the cap and the count; a picture waited for always comes.
TEST(PrefetchPolicy, AwaitedIsAlwaysHeldComingOrFirstAndTheCapHolds) {
    using Work = PrefetchPlan::Work;
    Walk walk;
    std::map<fs::path, size_t> sizes;
    int sequences = 0, steps = 0, names = 0;
    const auto add = [&](size_t bytes) {
        fs::path file = std::to_string(names++);
        sizes[file] = bytes;
        return file;
    };
    struct Running {
        PrefetchPlan::Job job;
        int rounds;
        bool ahead;
    };
    for (; sequences < 3000 && !HasFailure(); ++sequences) {
        const size_t cap = (16 + walk.random() % 112) * kKiB;
        PrefetchState state;
        state.capBytes = cap;
        std::vector<Running> running;
        const auto held = [&](const fs::path& file) {
            return std::find_if(state.held.begin(), state.held.end(),
                                [&](const auto& h) { return h.file == file; });
        };
        // One round; false once there is nothing left to do.
        const auto round = [&] {
            const PrefetchPlan plan = planPrefetch(state);
            for (const fs::path& file : plan.drop)
                state.held.erase(held(file));
            state.deferred.insert(state.deferred.end(), plan.defer.begin(), plan.defer.end());
            std::erase_if(running, [&](const Running& r) {
                return std::count(plan.stop.begin(), plan.stop.end(), r.job.file) != 0;
            });
            const bool coming = std::any_of(running.begin(), running.end(), [&](const auto& r) {
                return r.job.file == state.awaited;
            });
            EXPECT_TRUE(state.awaited.empty() || held(state.awaited) != state.held.end() ||
                        coming || (!plan.ask.empty() && plan.ask.front().file == state.awaited))
                << "sequence " << sequences << ": the current picture is nowhere";
            size_t ahead = 0, pictures = 0;
            for (const auto& h : state.held) {
                pictures += h.failed ? 0 : 1;
                ahead += h.file == state.awaited ? 0 : h.bytes;
            }
            EXPECT_LE(ahead, cap) << "sequence " << sequences;
            EXPECT_LE(pictures, Prefetcher::kMaxPictures) << "sequence " << sequences;
            for (const PrefetchPlan::Job& job : plan.ask) {
                const bool check = job.work == Work::Check;
                if (std::count_if(running.begin(), running.end(), [&](const auto& r) {
                        return (r.job.work == Work::Check) == check;
                    }) >= (check ? 1 : 2))
                    continue;
                if (check)
                    held(job.file)->checking = true;
                if (job.work == Work::Refit)
                    state.held.erase(held(job.file));
                running.push_back(
                    {job, static_cast<int>(walk.random() % 3), job.file != state.awaited});
            }
            state.decoding.clear();
            bool ended = false;
            for (Running& r : running) {
                const bool check = r.job.work == Work::Check;
                ended = ended || r.rounds == 0;
                if (r.rounds-- > 0) {
                    if (!check)
                        state.decoding.push_back({r.job.file, r.ahead});
                } else if (check) {
                    if (const auto h = held(r.job.file); h != state.held.end())
                        *h = {h->file, h->bytes, h->failed, h->fitStale, true, false};
                } else {
                    const size_t bytes = sizes[r.job.file];
                    state.lastBytes = bytes;
                    if (r.ahead && bytes > cap)
                        state.deferred.push_back(r.job.file);
                    else
                        state.held.push_back({r.job.file, bytes, false, false, !r.ahead});
                }
            }
            std::erase_if(running, [](const Running& r) { return r.rounds < 0; });
            return ended || !running.empty() || !plan.ask.empty();
        };
        walk.list.clear();
        for (int step = 0; step < 40 && !HasFailure(); ++step, ++steps) {
            const fs::path before = walk.list.empty() ? fs::path() : walk.at(0);
            const Walk::Event event = walk.next(add, cap);
            if (event == Walk::Event::NewFolder) {
                state.wanted.clear();
                state.held.clear();
                state.deferred.clear();
                running.clear();
            } else if (event == Walk::Event::Delete) {
                std::erase(state.deferred, before);
                std::erase_if(state.held, [&](const auto& h) { return h.file == before; });
                std::erase_if(running, [&](const auto& r) { return r.job.file == before; });
            } else if (event == Walk::Event::Resize) {
                for (auto& h : state.held)
                    h.fitStale = true;
            }
            // The window waits for the current picture: what was read before is checked again.
            state.awaited = walk.at(0);
            for (auto& h : state.held)
                h.checked = false;
            state.wanted = walk.pair(0, walk.direction);
            const bool waits = walk.random() % 2 == 0;
            for (int rounds = waits ? 50 : static_cast<int>(walk.random() % 3);
                 rounds > 0 && round(); --rounds) {
            }
            const auto current = held(state.awaited);
            if (current == state.held.end() || !current->checked) {
                EXPECT_FALSE(waits)
                    << "sequence " << sequences << " step " << step << ": the picture never came";
                continue;  // the user moves on while it is still coming
            }
            state.held.erase(current);
            state.awaited.clear();
            state.wanted = walk.pair(walk.direction, -walk.direction);
            for (int rounds = static_cast<int>(walk.random() % 3); rounds > 0 && round();
                 --rounds) {
            }
        }
    }
    RecordProperty("sequences", sequences);
    RecordProperty("steps", steps);
}

}  // namespace
