#include "platform/regular_file.h"

#include "platform/file_system_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

FileVersion versionOf(const struct stat& info) {
    return {static_cast<uint64_t>(info.st_size),
            static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
            static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

}  // namespace

std::optional<FileVersion> regularFileVersion(const std::filesystem::path& path) {
    noteFileSystemCall(FileSystemCall::Stat, path.c_str());
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return versionOf(info);
}

std::optional<RegularFile> RegularFile::open(const std::filesystem::path& path) {
    if (!regularFileVersion(path))
        return std::nullopt;
    // The name may lead elsewhere by now. O_NONBLOCK: opening a FIFO for reading would wait
    // for a writer, for ever; the descriptor's own status decides.
    noteFileSystemCall(FileSystemCall::Open, path.c_str());
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags == -1 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return RegularFile(fd, versionOf(info));
}

int RegularFile::release() {
    return std::exchange(fd_, -1);
}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        version_ = other.version_;
    }
    return *this;
}

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

size_t RegularFile::readAt(uint64_t offset, std::span<uint8_t> into) const {
    noteFileSystemCall(FileSystemCall::Read, nullptr);
    size_t done = 0;
    while (done < into.size()) {
        const ssize_t got =
            ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    return done;
}
