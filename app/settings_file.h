#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "app/window_rect.h"
#include "render/background.h"

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
    // Black or light grey, never anything else.
    int32_t backgroundLevel = kBackgroundGrey;
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

// The settings file lives in a folder every user of the machine may write to, so whatever is
// under its name may have been put there by someone else. Neither function takes a lock or
// waits for anything another user can hold.

// Reads the first record of the file. Something that is not a settings file of its own gives
// maximise and light grey, as a missing file does: a symlink (never followed), a second hard link
// to some file, a FIFO or anything but a regular file, a file that can't be opened. A file shorter
// than a record gives no placement, no maximise and light grey. Never throws.
SettingsLoad loadSettingsFile(const std::filesystem::path& file);

// Replaces whatever is under the name by a new file of exactly one record, mode 0644 whatever
// the umask: written to a temporary file in the same folder, flushed to disk and renamed over
// the name, so the name leads at every moment to the old record or the new one. The old file is
// never opened, so nothing planted under the name is written through, and another user's file
// is replaced like one's own. Refuses, leaving the name as it was and no temporary file behind,
// when the saving user's own file there is read-only, when the folder takes no new file, or when
// any step fails. Returns true when the new record is in place. Never throws.
bool saveSettingsFile(const std::filesystem::path& file, const SettingsRecord& record);
