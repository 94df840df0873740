#include "app/settings_file.h"

#include <QLoggingCategory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <string>

#include "platform/app_data.h"

namespace {

Q_LOGGING_CATEGORY(lcSettings, "quillmere.settings", QtInfoMsg)

constexpr int32_t kDefaultBackground = 250;
constexpr int32_t kBlackBackground = 0;
constexpr const char* kFileName = "quillmere.settings";

// Owns a file descriptor; closing it also releases any flock taken on it.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
};

void putLe32(uint8_t* out, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

int32_t getLe32(const uint8_t* in) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<uint32_t>(in[i]) << (8 * i);
    return static_cast<int32_t>(bits);  // modular since C++20
}

// A side of the rectangle is usable when it is positive and still fits the int32 the window
// system takes; wrapping in 32 bits would turn some reversed rectangles into tiny positive ones.
bool usableExtent(int32_t from, int32_t to) {
    const int64_t extent = static_cast<int64_t>(to) - static_cast<int64_t>(from);
    return extent > 0 && extent <= INT32_MAX;
}

enum class OpenStatus { Locked, Missing, Refused };

struct LockedFile {
    OpenStatus status = OpenStatus::Refused;
    FileHandle handle;
    struct stat info {};
};

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens a regular file and takes an exclusive non-blocking lock, the way a second running copy
// is kept out. O_NONBLOCK keeps a FIFO planted under the name from hanging the open. A lock
// only counts while the name still leads to the locked file: a copy that saved between our open
// and our lock has renamed a new file over it, and the old one is then an orphan, so retry.
LockedFile openLocked(const std::filesystem::path& file, int accessFlags) {
    LockedFile result;
    for (int attempt = 0; attempt < 4; ++attempt) {
        FileHandle handle(::open(file.c_str(), accessFlags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!handle) {
            result.status = errno == ENOENT ? OpenStatus::Missing : OpenStatus::Refused;
            return result;
        }
        struct stat info {};
        if (::fstat(handle.get(), &info) != 0 || !S_ISREG(info.st_mode))
            return result;
        if (::flock(handle.get(), LOCK_EX | LOCK_NB) != 0)
            return result;
        struct stat named {};
        if (::stat(file.c_str(), &named) == 0 && sameFile(info, named)) {
            result.status = OpenStatus::Locked;
            result.handle = std::move(handle);
            result.info = info;
            return result;
        }
    }
    return result;
}

// Reads up to size bytes; fewer only at end of file or on an error.
std::size_t readFully(int fd, uint8_t* out, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, out + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool writeFully(int fd, const uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = ::write(fd, data + done, size - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string randomSuffix() {
    static std::minstd_rand generator(
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (static_cast<unsigned>(::getpid()) << 16));
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix(8, 'x');
    for (char& c : suffix)
        c = kAlphabet[generator() % (sizeof(kAlphabet) - 1)];
    return suffix;
}

struct TempFile {
    FileHandle handle;
    std::string path;
};

// The folder holding file, "." for a bare name.
std::string folderOf(const std::filesystem::path& file) {
    const std::string parent = file.parent_path().native();
    return parent.empty() ? std::string(".") : parent;
}

// A new file beside the settings file. O_EXCL and O_NOFOLLOW matter in a folder every user
// may write to: a name planted there in advance (a link elsewhere) is never opened.
TempFile createTemp(const std::filesystem::path& file) {
    const std::string prefix = folderOf(file) + "/." + file.filename().native() + ".";
    TempFile temp;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string path = prefix + randomSuffix();
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0) {
            temp.handle = FileHandle(fd);
            temp.path = std::move(path);
            return temp;
        }
        if (errno != EEXIST)
            break;
    }
    return temp;
}

// The new file keeps the old one's permissions and, where we may, its owner, as writing the
// old file in place would have.
void copyOwnership(int fd, const struct stat& old) {
    ::fchmod(fd, old.st_mode & 07777);
    if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0)
            qCDebug(lcSettings) << "settings file keeps the saving user as owner";
    }
}

void syncFolder(const std::filesystem::path& file) {
    FileHandle dir(::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        ::fsync(dir.get());
}

bool replaceLocked(const std::filesystem::path& file, const LockedFile& target,
                   const SettingsRecord& record) {
    TempFile temp = createTemp(file);
    if (!temp.handle) {
        qCDebug(lcSettings) << "no temporary file beside" << file.c_str();
        return false;
    }
    // Locked before it takes the name, so a second copy finds a locked file at every moment
    // until this save is over.
    ::flock(temp.handle.get(), LOCK_EX | LOCK_NB);
    if (target.status == OpenStatus::Locked)
        copyOwnership(temp.handle.get(), target.info);
    const SettingsBytes bytes = encodeSettings(record);
    if (!writeFully(temp.handle.get(), bytes.data(), bytes.size()) ||
        ::fsync(temp.handle.get()) != 0 || ::rename(temp.path.c_str(), file.c_str()) != 0) {
        qCDebug(lcSettings) << "settings not saved:" << file.c_str() << errno;
        ::unlink(temp.path.c_str());
        return false;
    }
    syncFolder(file);
    return true;
}

}  // namespace

SettingsBytes encodeSettings(const SettingsRecord& record) {
    SettingsBytes bytes{};
    const int32_t fields[] = {record.left,   record.top,       record.right,
                              record.bottom, record.maximised, record.background};
    for (std::size_t i = 0; i < 6; ++i)
        putLe32(bytes.data() + 4 * i, fields[i]);
    return bytes;
}

SettingsRecord decodeSettings(const SettingsBytes& bytes) {
    const uint8_t* p = bytes.data();
    return {getLe32(p),      getLe32(p + 4),  getLe32(p + 8),
            getLe32(p + 12), getLe32(p + 16), getLe32(p + 20)};
}

std::filesystem::path settingsFilePath(const std::filesystem::path& folder) {
    return std::filesystem::path(folder.native() + "/" + kFileName);
}

std::filesystem::path settingsFilePath() {
    std::filesystem::path folder = machineDataFolder();
    if (folder.empty())
        folder = executableFolder();
    return settingsFilePath(folder);
}

SettingsLoad loadSettingsFile(const std::filesystem::path& file) {
    SettingsLoad load;
    try {
        const LockedFile opened = openLocked(file, O_RDONLY);
        if (opened.status != OpenStatus::Locked) {
            load.maximise = true;
            return load;
        }
        SettingsBytes bytes{};
        // A short file holds no record at all: fields past its end mean nothing.
        if (readFully(opened.handle.get(), bytes.data(), bytes.size()) != bytes.size())
            return load;
        const SettingsRecord record = decodeSettings(bytes);
        load.fileRead = true;
        if (usableExtent(record.left, record.right) && usableExtent(record.top, record.bottom)) {
            load.placement = WindowRect{record.left, record.top, record.right, record.bottom};
            load.maximise = record.maximised == 1;
        }
        if (record.background == kBlackBackground)
            load.backgroundLevel = kBlackBackground;
    } catch (...) {
        // Settings are never worth a failed start.
        load = SettingsLoad{};
    }
    return load;
}

bool saveSettingsFile(const std::filesystem::path& file, const SettingsRecord& record) {
    try {
        // Opening the old file for writing is the permission check: a read-only file or one
        // that belongs to someone else is left alone. No O_CREAT: a missing file is created
        // only by the rename, so it never exists half-written.
        const LockedFile target = openLocked(file, O_RDWR);
        if (target.status == OpenStatus::Refused)
            return false;
        return replaceLocked(file, target, record);
    } catch (...) {
        return false;
    }
}

SettingsRecord closingRecord(bool maximised, const WindowRect& frame, const WindowRect& normal,
                             int32_t background) {
    const WindowRect& kept = maximised ? normal : frame;
    return {kept.left, kept.top, kept.right, kept.bottom, maximised ? 1 : 0, background};
}
