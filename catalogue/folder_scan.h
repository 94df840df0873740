#pragma once

#include <cstdint>
#include <filesystem>

#include "catalogue/picture_list.h"

// How one listing of a folder fills the picture list; see scanFolder.
enum class ScanMode : int32_t {
    UntilRequested = 0,
    FromRequested = 1,
};

inline constexpr ScanMode scanUntilRequested = ScanMode::UntilRequested;
inline constexpr ScanMode scanFromRequested = ScanMode::FromRequested;

// Lists the files of one folder (no recursion) and appends the full paths (folder / name) that
// are picture paths to list.pictureList, in listing order. Directories are skipped, and so is
// a symbolic link whose target is a directory; hidden files and broken links pass.
// FromRequested empties the list first and appends nothing before the entry equal to
// list.requestedPath, then everything after it. UntilRequested appends every picture path and
// stops, without appending it, at the entry equal to list.requestedPath. Equality is exact
// byte equality of the native paths. A folder that can't be listed contributes nothing, and a
// listing error ends the scan with what was appended so far; nothing is reported or thrown.
void scanFolder(PictureListState& list, const std::filesystem::path& folder, ScanMode mode);
