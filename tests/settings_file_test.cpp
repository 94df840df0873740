#include "app/settings_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/app_data.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes bytesOf(const SettingsRecord& record) {
    const SettingsBytes encoded = encodeSettings(record);
    return Bytes(encoded.begin(), encoded.end());
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SettingsFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quillmere-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        file_ = settingsFilePath(folder_);
    }
    void TearDown() override {
        std::error_code error;
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(folder_, error);
    }

    // Everything in the folder except the settings file itself: temporary files a save left.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            if (entry.path().filename() != "quillmere.settings")
                names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path folder_;
    fs::path file_;
};

const SettingsRecord kStored{100, 50, 900, 650, 0, 250};

TEST(SettingsRecordTest, EncodesSixLittleEndianInt32InFieldOrder) {
    const SettingsRecord record{1, -2, 0x12345678, INT32_MIN, 1, 250};
    const Bytes expected{0x01, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12,
                         0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00, 0xFA, 0x00, 0x00, 0x00};
    EXPECT_EQ(bytesOf(record), expected);
    EXPECT_EQ(decodeSettings(encodeSettings(record)), record);
}

TEST(SettingsPathTest, FileNameIsAppendedToTheFolderAsText) {
    EXPECT_EQ(settingsFilePath("/var/lib/quillmere"), "/var/lib/quillmere/quillmere.settings");
    // A path::operator/ would give a relative name in whatever folder the viewer started in.
    EXPECT_EQ(settingsFilePath(""), "/quillmere.settings");
}

TEST(SettingsPathTest, DefaultFolderIsMachineWideElseBesideTheExecutable) {
    const fs::path exeFolder = executableFolder();
    ASSERT_FALSE(exeFolder.empty());
    EXPECT_TRUE(fs::exists(exeFolder / "settings_tests"));
    const fs::path expected =
        fs::is_directory(kMachineDataFolder) ? fs::path(kMachineDataFolder) : exeFolder;
    EXPECT_EQ(settingsFilePath(), settingsFilePath(expected));
}

struct LoadCase {
    const char* name;
    std::function<void(const fs::path& file)> prepare;
    bool fileRead;
    std::optional<WindowRect> placement;
    bool maximise;
    int32_t background;
};

std::function<void(const fs::path&)> stored(const SettingsRecord& record, Bytes extra = {}) {
    return [record, extra](const fs::path& file) {
        Bytes bytes = bytesOf(record);
        bytes.insert(bytes.end(), extra.begin(), extra.end());
        writeFile(file, bytes);
    };
}

std::function<void(const fs::path&)> truncatedTo(std::size_t size) {
    return [size](const fs::path& file) {
        Bytes bytes = bytesOf({10, 10, 500, 400, 1, 0});
        bytes.resize(size);
        writeFile(file, bytes);
    };
}

const WindowRect kRect{100, 50, 900, 650};

// Where a planted link leads: a file holding a record of its own.
fs::path plantedTarget(const fs::path& file) {
    return file.parent_path() / "elsewhere";
}

// Plants a link (symlink or link) under the settings name to a file with a whole record.
std::function<void(const fs::path&)> planted(int (*makeLink)(const char*, const char*)) {
    return [makeLink](const fs::path& file) {
        writeFile(plantedTarget(file), bytesOf({10, 10, 500, 400, 0, 0}));
        makeLink(plantedTarget(file).c_str(), file.c_str());
    };
}

const LoadCase kLoadCases[] = {
    {"NoFileMaximisesLightGrey", [](const fs::path&) {}, false, std::nullopt, true, 250},
    {"NormalWindow", stored({100, 50, 900, 650, 0, 250}), true, kRect, false, 250},
    {"MaximisedOnePlacesThenMaximises", stored({100, 50, 900, 650, 1, 250}), true, kRect, true,
     250},
    {"MaximisedTwoDoesNotMaximise", stored({100, 50, 900, 650, 2, 250}), true, kRect, false, 250},
    {"MaximisedMinusOneDoesNotMaximise", stored({100, 50, 900, 650, -1, 0}), true, kRect, false, 0},
    {"BackgroundZeroIsBlack", stored({100, 50, 900, 650, 0, 0}), true, kRect, false, 0},
    {"BackgroundSevenBecomesGrey", stored({100, 50, 900, 650, 0, 7}), true, kRect, false, 250},
    {"EmptyRectIgnoredButBackgroundApplies", stored({300, 50, 300, 650, 1, 0}), true, std::nullopt,
     false, 0},
    {"NegativeHeightIgnored", stored({100, 650, 900, 50, 1, 0}), true, std::nullopt, false, 0},
    {"OffScreenRectKeptAsStored", stored({-5000, -5000, -4000, -4200, 0, 250}), true,
     WindowRect{-5000, -5000, -4000, -4200}, false, 250},
    // Wrapped in 32 bits, INT32_MIN - INT32_MAX is +1: a one-pixel window at the far edge.
    {"ReversedRectThatWrapsPositiveIgnored", stored({INT32_MAX, 0, INT32_MIN, 100, 0, 0}), true,
     std::nullopt, false, 0},
    {"WidthBeyondInt32Ignored", stored({INT32_MIN, 0, INT32_MAX, 100, 1, 0}), true, std::nullopt,
     false, 0},
    {"WidestFittingWidthKept", stored({-1, 0, INT32_MAX - 1, 100, 0, 250}), true,
     WindowRect{-1, 0, INT32_MAX - 1, 100}, false, 250},
    {"LongerFileOnlyFirst24Count", stored({100, 50, 900, 650, 1, 0}, Bytes(40, 0x7F)), true, kRect,
     true, 0},
    {"ShortFileIsAFailedRead", truncatedTo(23), false, std::nullopt, false, 250},
    {"EmptyFileIsAFailedRead", truncatedTo(0), false, std::nullopt, false, 250},
    {"FolderUnderTheNameFailsToOpen", [](const fs::path& file) { fs::create_directory(file); },
     false, std::nullopt, true, 250},
    // A blocking open of a FIFO would wait for a writer forever.
    {"FifoUnderTheNameDoesNotHang", [](const fs::path& file) { ::mkfifo(file.c_str(), 0600); },
     false, std::nullopt, true, 250},
    // Anyone may plant a name in the shared folder: a viewer run as root would read through it.
    {"SymlinkIsNotFollowed", planted(::symlink), false, std::nullopt, true, 250},
    {"SecondHardLinkIsNotRead", planted(::link), false, std::nullopt, true, 250},
};

class SettingsLoadTest : public SettingsFolder, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(SettingsLoadTest, GivesWhatTheWindowMustDo) {
    const LoadCase& c = GetParam();
    c.prepare(file_);
    const SettingsLoad load = loadSettingsFile(file_);
    EXPECT_EQ(load.fileRead, c.fileRead);
    EXPECT_EQ(load.placement, c.placement);
    EXPECT_EQ(load.maximise, c.maximise);
    EXPECT_EQ(load.backgroundLevel, c.background);
}

INSTANTIATE_TEST_SUITE_P(Files, SettingsLoadTest, ::testing::ValuesIn(kLoadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFolder, SaveWritesExactlyOneRecordThatLoadsBack) {
    ASSERT_TRUE(saveSettingsFile(file_, {10, 20, 810, 620, 1, 0}));
    EXPECT_EQ(readFile(file_), bytesOf({10, 20, 810, 620, 1, 0}));
    const SettingsLoad load = loadSettingsFile(file_);
    EXPECT_EQ(load.placement, (WindowRect{10, 20, 810, 620}));
    EXPECT_TRUE(load.maximise);
    EXPECT_EQ(load.backgroundLevel, 0);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(SettingsFolder, SaveCutsALongerFileTo24Bytes) {
    Bytes longer = bytesOf(kStored);
    longer.resize(100, 0x55);
    writeFile(file_, longer);
    ASSERT_TRUE(saveSettingsFile(file_, {1, 2, 3, 4, 0, 250}));
    EXPECT_EQ(readFile(file_), bytesOf({1, 2, 3, 4, 0, 250}));
    EXPECT_TRUE(leftovers().empty());
}

// Every user of the machine reads the file, whoever saved it last and whatever their umask.
TEST_F(SettingsFolder, SavedFileIsReadableByEveryUser) {
    writeFile(file_, bytesOf(kStored));
    ::chmod(file_.c_str(), 0600);
    const mode_t oldMask = ::umask(077);
    const bool saved = saveSettingsFile(file_, {1, 2, 3, 4, 0, 250});
    ::umask(oldMask);
    ASSERT_TRUE(saved);
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

// Any user who can read the file can lock it, so a lock must hold up neither a load nor a save.
TEST_F(SettingsFolder, ALockHeldOnTheFileStopsNeitherLoadNorSave) {
    writeFile(file_, bytesOf(kStored));
    const int holder = ::open(file_.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const SettingsLoad load = loadSettingsFile(file_);
    EXPECT_EQ(load.placement, kRect);
    EXPECT_FALSE(load.maximise);
    EXPECT_TRUE(saveSettingsFile(file_, {1, 2, 3, 4, 1, 0}));
    ::close(holder);

    EXPECT_EQ(readFile(file_), bytesOf({1, 2, 3, 4, 1, 0}));
    EXPECT_TRUE(leftovers().empty());
}

// The user's own file made read-only keeps its record, for root too.
TEST_F(SettingsFolder, ReadOnlyFileIsLeftAlone) {
    writeFile(file_, bytesOf(kStored));
    ::chmod(file_.c_str(), 0444);
    EXPECT_FALSE(saveSettingsFile(file_, {1, 2, 3, 4, 1, 0}));
    EXPECT_EQ(readFile(file_), bytesOf(kStored));
    EXPECT_TRUE(leftovers().empty());
}

// The old file survives any step of a save failing: here the write itself, made to fail by a
// file-size limit, which holds for root too.
TEST_F(SettingsFolder, FailedWriteKeepsTheOldRecord) {
    writeFile(file_, bytesOf(kStored));
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit tiny = saved;
    tiny.rlim_cur = 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tiny), 0);
    const bool saved24 = saveSettingsFile(file_, {1, 2, 3, 4, 1, 0});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved24);
    EXPECT_EQ(readFile(file_), bytesOf(kStored));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(SettingsFolder, SaveIntoAMissingFolderCreatesNothing) {
    const fs::path file = settingsFilePath(folder_ / "gone");
    EXPECT_FALSE(saveSettingsFile(file, kStored));
    EXPECT_FALSE(fs::exists(folder_ / "gone"));
}

struct PlantedCase {
    const char* name;
    std::function<void(const fs::path& file)> plant;
};

const PlantedCase kPlantedCases[] = {
    {"Symlink", planted(::symlink)},
    {"HardLink", planted(::link)},
    // A blocking open would wait for a reader forever.
    {"Fifo", [](const fs::path& file) { ::mkfifo(file.c_str(), 0600); }},
};

class SettingsPlantedTest : public SettingsFolder,
                            public ::testing::WithParamInterface<PlantedCase> {};

// A save replaces the name and never writes through it: what a link led to keeps its record.
TEST_P(SettingsPlantedTest, SaveReplacesTheNameOnly) {
    GetParam().plant(file_);
    const Bytes before = readFile(plantedTarget(file_));
    ASSERT_TRUE(saveSettingsFile(file_, kStored));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file_)));
    EXPECT_EQ(readFile(file_), bytesOf(kStored));
    EXPECT_EQ(loadSettingsFile(file_).placement, kRect);
    EXPECT_EQ(readFile(plantedTarget(file_)), before);
}

INSTANTIATE_TEST_SUITE_P(Names, SettingsPlantedTest, ::testing::ValuesIn(kPlantedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Another running copy that saves A and B in turn until it is killed, at the latest when the
// test ends, so a failed assertion leaves no process behind.
class SavingCopy {
  public:
    SavingCopy(const fs::path& file, const SettingsRecord& a, const SettingsRecord& b)
        : pid_(::fork()) {
        if (pid_ == 0) {
            for (unsigned i = 0;; ++i)
                saveSettingsFile(file, (i & 1) ? a : b);
        }
    }
    SavingCopy(const SavingCopy&) = delete;
    SavingCopy& operator=(const SavingCopy&) = delete;
    ~SavingCopy() { kill(); }

    bool started() const { return pid_ > 0; }
    void kill() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

  private:
    pid_t pid_;
};

TEST_F(SettingsFolder, KilledMidSaveLeavesTheOldOrTheNewRecord) {
    const SettingsRecord a{1, 1, 101, 101, 0, 250};
    const SettingsRecord b{2, 2, 202, 202, 1, 0};
    ASSERT_TRUE(saveSettingsFile(file_, a));
    for (int round = 0; round < 20; ++round) {
        SavingCopy other(file_, a, b);
        ASSERT_TRUE(other.started());
        ::usleep(static_cast<useconds_t>(200 + 370 * round));
        other.kill();
        const Bytes now = readFile(file_);
        ASSERT_TRUE(now == bytesOf(a) || now == bytesOf(b)) << "round " << round;
    }
}

}  // namespace
