#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

// What identifies one version of a regular file: a picture decoded from it stays valid while
// these stay the same.
struct FileVersion {
    uint64_t size = 0;
    int64_t modifiedNs = 0;  // the last modification, in nanoseconds since the epoch
    uint64_t device = 0;
    uint64_t inode = 0;  // a file renamed over the name is another file, whatever its times
    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// The version of the regular file at path (symbolic links followed), or nothing when it is
// missing or anything but a regular file. Never opens the file.
std::optional<FileVersion> regularFileVersion(const std::filesystem::path& path);

// A file opened for reading that is known to be a regular file. Opening never waits: a FIFO,
// a device or a socket under a picture's name is refused at once, never read. Every fact comes
// from the one descriptor, so a file swapped under the name after the open is never mixed in.
class RegularFile {
  public:
    // Nothing when path can't be opened or is not a regular file. What the name already
    // shows to be something else is not opened at all: opening a device can act on it.
    static std::optional<RegularFile> open(const std::filesystem::path& path);

    RegularFile(RegularFile&& other) noexcept : fd_(other.fd_), version_(other.version_) {
        other.fd_ = -1;
    }
    RegularFile& operator=(RegularFile&& other) noexcept;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    // As the descriptor said at the open.
    const FileVersion& version() const { return version_; }
    uint64_t size() const { return version_.size; }

    // Reads up to into.size() bytes from offset; fewer only at the end of the file or on an
    // error.
    size_t readAt(uint64_t offset, std::span<uint8_t> into) const;

    // Gives up the descriptor, whose reads block as a plain open's would, to the caller, who
    // closes it (a QFile, a request to another process); -1 when given up already.
    int release();

  private:
    RegularFile(int fd, const FileVersion& version) : fd_(fd), version_(version) {}

    int fd_ = -1;
    FileVersion version_;
};
