#include "render/source/file_stamp.h"

#include <system_error>

std::optional<FileStamp> fileStampOf(const std::filesystem::path& file) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(file, error);
    if (error || !std::filesystem::is_regular_file(status))
        return std::nullopt;
    FileStamp stamp;
    stamp.size = std::filesystem::file_size(file, error);
    if (error)
        return std::nullopt;
    stamp.modified = std::filesystem::last_write_time(file, error);
    if (error)
        return std::nullopt;
    return stamp;
}
