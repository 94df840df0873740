#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

// What identifies one version of a file: a picture decoded from it stays valid while both
// stay the same.
struct FileStamp {
    uintmax_t size = 0;
    std::filesystem::file_time_type modified{};
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of a regular file, or nothing when it is missing or not a regular file.
std::optional<FileStamp> fileStampOf(const std::filesystem::path& file);
