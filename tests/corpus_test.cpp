// Hostile pictures: every corruption of the project's own pictures, decoded directly and then
// shown by the real window with every view command, must never crash, hang or allocate without
// bound, and the good picture after each bad one must be shown correctly.
#include <sys/resource.h>

#include <QLoggingCategory>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>

#include "app/picture_surface.h"
#include "app/viewer_state.h"
#include "corruption_corpus.h"
#include "render/decode/decoder.h"
#include "render/exif/exif_reader.h"
#include "window_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Aborts the run, naming the file, when one operation takes longer than the bound: a hang
// must fail the test rather than stall it until the test command's own timeout.
class HangWatch {
  public:
    HangWatch() : thread_([this] { watch(); }) {}
    ~HangWatch() {
        stop_ = true;
        thread_.join();
    }
    void begin(const std::string& what) {
        std::snprintf(what_, sizeof what_, "%s", what.c_str());
        deadline_ = (Clock::now() + kBound).time_since_epoch().count();
    }
    void end() { deadline_ = 0; }

  private:
    // Generous for the sanitizer build on a busy machine; a real decode takes milliseconds.
    static constexpr std::chrono::seconds kBound{30};

    void watch() {
        while (!stop_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const auto deadline = deadline_.load();
            if (deadline != 0 && Clock::now().time_since_epoch().count() > deadline) {
                std::fprintf(stderr, "hang: %s took longer than %lld s\n", what_,
                             static_cast<long long>(kBound.count()));
                std::abort();
            }
        }
    }

    std::atomic<bool> stop_{false};
    std::atomic<Clock::rep> deadline_{0};
    char what_[256] = {};
    std::thread thread_;
};

long peakRssKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

DecodeStatus decodeBytes(const std::string& bytes, Image& out) {
    return decodePictureData(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), out);
}

const CorruptFile& corpusFile(const std::vector<CorruptFile>& corpus, const std::string& name) {
    for (const CorruptFile& file : corpus) {
        if (file.name == name)
            return file;
    }
    ADD_FAILURE() << "no corpus file " << name;
    static const CorruptFile none;
    return none;
}

// What the decoder must say of a trap whose outcome is fixed.
struct Expected {
    const char* name;
    DecodeStatus status;
};

constexpr Expected kFixedOutcomes[] = {
    // Real dimensions beyond the memory bound are refused from the header alone.
    {"png-claims-50000-by-50000.png", DecodeStatus::OutOfMemory},
    {"jpeg-claims-65500-by-65500.jpg", DecodeStatus::OutOfMemory},
    {"tiff-claims-70000-square.tiff", DecodeStatus::OutOfMemory},
    {"jpeg2000-claims-2g-square.j2k", DecodeStatus::OutOfMemory},
    // Sizes no picture has, or that the format's own reader rejects before allocating: the
    // BMP reader refuses 2^30 square, and a JP2 header box no longer matches its codestream.
    {"bmp-claims-2^30-square.bmp", DecodeStatus::Failed},
    {"jpeg2000-claims-2g-square.jp2", DecodeStatus::Failed},
    {"png-claims-2g-by-2g.png", DecodeStatus::Failed},
    {"png-claims-0-by-0.png", DecodeStatus::Failed},
    {"jpeg-claims-0-by-0.jpg", DecodeStatus::Failed},
    {"bmp-claims-negative-width.bmp", DecodeStatus::Failed},
    // A palette must have between 1 and 256 entries.
    {"png-palette-of-0.png", DecodeStatus::Failed},
    {"png-palette-of-257.png", DecodeStatus::Failed},
    {"bmp-palette-of-257.bmp", DecodeStatus::Failed},
    {"bmp-palette-of-4g.bmp", DecodeStatus::Failed},
    {"zero-length.jpg", DecodeStatus::Failed},
    {"zero-length.jp2", DecodeStatus::Failed},
    // The content decides the decoder; the name only lists the file.
    {"made-alpha-named-as.jpg", DecodeStatus::Ok},
    {"1-harbour-named-as.png", DecodeStatus::Ok},
    {"8-nebula-named-as.tif", DecodeStatus::Ok},
    {"made-indexed-named-as.jp2", DecodeStatus::Ok},
    {"text-named-as.jpeg", DecodeStatus::Failed},
    // Formats the list doesn't admit are never decoded, whatever their name says.
    {"svg-named-as.png", DecodeStatus::Failed},
    // Looping EXIF directories spoil only the orientation, never the picture.
    {"exif-next-directory-is-itself.jpg", DecodeStatus::Ok},
    {"exif-two-directories-name-each-other.jpg", DecodeStatus::Ok},
    {"exif-200-looping-blocks.jpg", DecodeStatus::Ok},
    // No camera or editor writes thousands of scans; decoding them would take minutes.
    {"jpeg-5000-empty-scans.jpg", DecodeStatus::Failed},
    {"jpeg-80-empty-scans.jpg", DecodeStatus::Ok},
};

// Thousands of broken files would each log a line; only a failure should speak.
void quietDecoderLogs() {
    QLoggingCategory::setFilterRules(QStringLiteral("quillmere.*.debug=false\nqt.*=false"));
}

TEST(CorruptionCorpus, FixedTrapsGiveTheirOutcomeWithoutAllocatingThePicture) {
    quietDecoderLogs();
    const std::vector<CorruptFile> corpus = corruptionCorpus();
    const long rssBefore = peakRssKb();
    HangWatch watch;
    for (const Expected& expected : kFixedOutcomes) {
        watch.begin(expected.name);
        const auto start = Clock::now();
        Image picture;
        EXPECT_EQ(decodeBytes(corpusFile(corpus, expected.name).bytes, picture), expected.status)
            << expected.name;
        EXPECT_EQ(picture.empty(), expected.status != DecodeStatus::Ok) << expected.name;
        // Each is refused or decoded at once; the sanitizer build is the slow bound.
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << expected.name;
        watch.end();
    }
    // The refused pictures would each have needed gigabytes.
    EXPECT_LT(peakRssKb() - rssBefore, 256 * 1024);
}

TEST(CorruptionCorpus, LoopingExifDirectoriesEndTheRead) {
    const std::vector<CorruptFile> corpus = corruptionCorpus();
    HangWatch watch;
    for (const CorruptFile& file : corpus) {
        if (file.name.rfind("exif-", 0) != 0)
            continue;
        watch.begin(file.name);
        ExifInfo info{};
        const int32_t result = readExifFromBytes(
            std::span(reinterpret_cast<const uint8_t*>(file.bytes.data()), file.bytes.size()),
            info);
        EXPECT_GE(rotationFromExif(result, info), 0) << file.name;
        watch.end();
    }
}

// Every decoded picture must be whole: each pixel readable (the sanitizer sees any short
// buffer) and its size what a real picture has.
TEST(CorruptionCorpus, WhateverDecodesIsAWholePicture) {
    quietDecoderLogs();
    const std::vector<CorruptFile> corpus = corruptionCorpus();
    HangWatch watch;
    std::map<DecodeStatus, int> outcomes;
    for (const CorruptFile& file : corpus) {
        watch.begin(file.name);
        Image picture;
        const DecodeStatus status = decodeBytes(file.bytes, picture);
        ++outcomes[status];
        if (status == DecodeStatus::Ok) {
            ASSERT_FALSE(picture.empty()) << file.name;
            ASSERT_EQ(picture.bitsPerPixel(), 32) << file.name;
            uint32_t sum = 0;
            for (int32_t y = 0; y < picture.height(); ++y) {
                const auto* row = reinterpret_cast<const uint32_t*>(picture.row(y));
                for (int32_t x = 0; x < picture.width(); ++x)
                    sum += row[x];
            }
            EXPECT_NE(sum, 1u) << file.name;  // uses the reads
        } else {
            EXPECT_TRUE(picture.empty()) << file.name;
        }
        watch.end();
    }
    std::printf("corpus: %zu files, %d decoded, %d failed, %d refused as too large\n",
                corpus.size(), outcomes[DecodeStatus::Ok], outcomes[DecodeStatus::Failed],
                outcomes[DecodeStatus::OutOfMemory]);
    EXPECT_GT(corpus.size(), 200u);
}

// A good picture of one colour follows every bad one; the colours cycle so that a stale
// surface never passes for the next picture.
constexpr QRgb kGoodColours[] = {qRgb(200, 30, 30), qRgb(30, 160, 40), qRgb(40, 60, 210),
                                 qRgb(220, 200, 20)};

std::string numbered(size_t index, const std::string& tail) {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "%04zu", index);
    return prefix + tail;
}

// The thread sanitizer looks at the hand-offs between the window and the workers, which every
// file takes alike: a quarter of the corpus shows it as much, in a quarter of its three minutes.
#if defined(__SANITIZE_THREAD__)
constexpr size_t kCorpusStride = 4;
#else
constexpr size_t kCorpusStride = 1;
#endif

TEST(CorruptionCorpus, TheWindowSurvivesEveryFileAndShowsTheNextGoodOne) {
    quietDecoderLogs();
    const std::vector<CorruptFile> whole = corruptionCorpus();
    std::vector<CorruptFile> corpus;
    for (size_t i = 0; i < whole.size(); i += kCorpusStride)
        corpus.push_back(whole[i]);
    TempFolder folder;
    std::vector<std::string> badNames;
    for (size_t i = 0; i < corpus.size(); ++i) {
        badNames.push_back(numbered(i, "a-" + corpus[i].name));
        writeBytes(folder / badNames.back(), corpus[i].bytes);
        writePicture(folder / numbered(i, "b-good.bmp"), 30, 20,
                     QColor(kGoodColours[i % std::size(kGoodColours)]));
    }
    HangWatch watch;
    WindowFixture fixture;
    watch.begin("opening " + badNames.front());
    fixture.open(folder / badNames.front());
    watch.end();
    ASSERT_EQ(viewer.list.pictureList.size(), 2 * corpus.size());
    int operations = 0;
    const QSize size = fixture.window->surface()->surfacePixels()->size();
    for (size_t i = 0; i < corpus.size(); ++i) {
        ASSERT_EQ(fixture.title().toStdString(), "Quillmere - " + badNames[i]);
        watch.begin(badNames[i]);
        // Turn both ways, zoom in and out, flip the background there and back, step away
        // and back: each reaches the render with whatever the decode left.
        for (const int key : {Qt::Key_R, Qt::Key_Up, Qt::Key_C, Qt::Key_L, Qt::Key_Down, Qt::Key_C,
                              Qt::Key_Left, Qt::Key_Right}) {
            fixture.press(key);
            ++operations;
        }
        fixture.press(Qt::Key_Right);
        ++operations;
        watch.end();
        ASSERT_EQ(fixture.title().toStdString(), "Quillmere - " + numbered(i, "b-good.bmp"));
        EXPECT_EQ(fixture.pixel(size.width() / 2, size.height() / 2).rgb(),
                  kGoodColours[i % std::size(kGoodColours)])
            << "after " << badNames[i];
        fixture.press(Qt::Key_Right);
        ++operations;
    }
    std::printf("window: %zu hostile files, %d operations\n", corpus.size(), operations);
}

}  // namespace
