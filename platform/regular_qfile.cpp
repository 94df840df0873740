#include "platform/regular_qfile.h"

#include <QFile>

#include <unistd.h>

#include "platform/regular_file.h"

bool openRegularFile(const std::filesystem::path& path, QFile& file) {
    std::optional<RegularFile> opened = RegularFile::open(path);
    if (!opened)
        return false;
    const int fd = opened->release();
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}
