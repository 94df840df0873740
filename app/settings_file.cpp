#include "app/settings_file.h"

#include <QLoggingCategory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>
#include <string>

#include "platform/app_data.h"

namespace {

Q_LOGGING_CATEGORY(lcSettings, "quillmere.settings", QtInfoMsg)

constexpr const char* kFileName = "quillmere.settings";
// Every user reads the file; only the rename replaces it.
constexpr mode_t kFileMode = 0644;

// Owns a file descriptor.
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

// Opens the file for reading only when it is a settings file and nothing else. The folder is
// writable by every user, so whatever is under the name may have been planted: O_NOFOLLOW
// refuses a symlink (a viewer run as root would read anything through it), O_NONBLOCK keeps a
// FIFO or a lease from holding the open, and a hard link (a second name of someone else's
// file) is refused by its link count. No lock is taken: a save is one rename, so the name
// always leads to a whole record, and a lock is something another user could hold.
FileHandle openForLoad(const std::filesystem::path& file) {
    FileHandle handle(
        ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (handle &&
        (::fstat(handle.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1))
        handle.reset();
    return handle;
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
// may write to: a name planted there in advance (a link elsewhere) is never opened. Nobody
// else may open it for writing before it holds the record.
TempFile createTemp(const std::filesystem::path& file) {
    const std::string prefix = folderOf(file) + "/." + file.filename().native() + ".";
    TempFile temp;
    for (int attempt = 0; attempt < 16; ++attempt) {
        std::string path = prefix + randomSuffix();
        const int fd =
            ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
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

// Whether the saving user has made their own file read-only, the one way to keep settings from
// changing. Another user's file is no obstacle: every user may replace it.
bool keptReadOnly(const std::filesystem::path& file) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_uid == ::geteuid() && (info.st_mode & S_IWUSR) == 0;
}

void syncFolder(const std::filesystem::path& file) {
    FileHandle dir(::open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir)
        ::fsync(dir.get());
}

// The new record goes into a file of its own, readable by every user whatever the umask, and
// takes the name in one rename: the old file is never opened, so nothing planted under the
// name (a link elsewhere, a FIFO) is written through, and a crash leaves the old or the new.
bool replaceFile(const std::filesystem::path& file, const SettingsRecord& record) {
    TempFile temp = createTemp(file);
    if (!temp.handle) {
        qCDebug(lcSettings) << "no temporary file beside" << file.c_str();
        return false;
    }
    const SettingsBytes bytes = encodeSettings(record);
    if (::fchmod(temp.handle.get(), kFileMode) != 0 ||
        !writeFully(temp.handle.get(), bytes.data(), bytes.size()) ||
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
        const FileHandle handle = openForLoad(file);
        if (!handle) {
            load.maximise = true;
            return load;
        }
        SettingsBytes bytes{};
        // A short file holds no record at all: fields past its end mean nothing.
        if (readFully(handle.get(), bytes.data(), bytes.size()) != bytes.size())
            return load;
        const SettingsRecord record = decodeSettings(bytes);
        load.fileRead = true;
        if (usableExtent(record.left, record.right) && usableExtent(record.top, record.bottom)) {
            load.placement = WindowRect{record.left, record.top, record.right, record.bottom};
            load.maximise = record.maximised == 1;
        }
        if (record.background == kBackgroundBlack)
            load.backgroundLevel = kBackgroundBlack;
    } catch (...) {
        // Settings are never worth a failed start.
        load = SettingsLoad{};
    }
    return load;
}

bool saveSettingsFile(const std::filesystem::path& file, const SettingsRecord& record) {
    try {
        if (keptReadOnly(file)) {
            qCDebug(lcSettings) << "settings file is read-only:" << file.c_str();
            return false;
        }
        return replaceFile(file, record);
    } catch (...) {
        return false;
    }
}

SettingsRecord closingRecord(bool maximised, const WindowRect& frame, const WindowRect& normal,
                             int32_t background) {
    const WindowRect& kept = maximised ? normal : frame;
    return {kept.left, kept.top, kept.right, kept.bottom, maximised ? 1 : 0, background};
}
