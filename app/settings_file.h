#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "app/window_rect.h"

// The record kept between runs: six signed 32-bit integers, little-endian, in this order.
struct SettingsRecord {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t maximised = 0;
    int32_t background = 0;
    friend bool operator==(const SettingsRecord&, const SettingsRecord&) = default;
};

inline constexpr std::size_t kSettingsRecordSize = 24;
using SettingsBytes = std::array<uint8_t, kSettingsRecordSize>;

SettingsBytes encodeSettings(const SettingsRecord& record);
SettingsRecord decodeSettings(const SettingsBytes& bytes);

// What the window does with the settings file at start.
struct SettingsLoad {
    // True when a whole record was read.
    bool fileRead = false;
    // The stored rectangle, only when its width and height are both in 1..INT32_MAX, so the
    // caller may compute right - left and bottom - top in int32 without overflow.
    std::optional<WindowRect> placement;
    // Maximise the window (after placing it, when there is a placement).
    bool maximise = false;
    // 0 or 250, never anything else.
    int32_t backgroundLevel = 250;
};

// The record a window closing now writes: a maximised window keeps the rectangle it had
// before it was maximised, any other its frame as it is.
SettingsRecord closingRecord(bool maximised, const WindowRect& frame, const WindowRect& normal,
                             int32_t background);

// The file name inside a folder, appended as text: an empty folder gives "/quillmere.settings",
// as it did for a program path without a folder.
std::filesystem::path settingsFilePath(const std::filesystem::path& folder);

// The settings file of this machine: in the machine-wide data folder where that exists,
// else in the executable's folder.
std::filesystem::path settingsFilePath();

// Reads the file under an exclusive non-blocking lock. A file that can't be opened (missing,
// no access, not a regular file, locked by another running copy) gives maximise and 250; a file
// shorter than a record gives no placement, no maximise and 250. Never throws.
SettingsLoad loadSettingsFile(const std::filesystem::path& file);

// Replaces the file by exactly one record: written to a temporary file in the same folder,
// flushed to disk and renamed over the old one, all while the old file (and the new one once
// it is in place) is locked, so the file is at every moment either the old or the new record.
// Refuses, leaving the file as it was and no temporary file behind, when an existing file
// can't be opened for writing or is locked by another copy, or when any step fails.
// Returns true when the new record is in place. Never throws.
bool saveSettingsFile(const std::filesystem::path& file, const SettingsRecord& record);
