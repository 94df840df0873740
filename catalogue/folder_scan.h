#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/picture_list.h"

// The picture files of one folder from one read of its listing, held compactly: the names one
// after another in listing order, and the prefix that makes each a full path (prefix + name
// is the native form of folder / name).
struct FolderListing {
    std::string prefix;
    std::string names;
    // Where each name ends in names; name i starts where name i - 1 ends.
    std::vector<uint32_t> ends;

    size_t size() const { return ends.size(); }
    std::string_view name(size_t index) const;
    std::filesystem::path fullPath(size_t index) const;
};

// Lists the files of one folder (no recursion) whose full paths are picture paths, in listing
// order. Directories are skipped, and so is a symbolic link whose target is a directory; hidden
// files and broken links pass. A folder that can't be listed gives no names, and a listing
// error ends the listing with the names read so far; nothing is reported or thrown.
FolderListing listPictureFiles(const std::filesystem::path& folder);

// How one listing of a folder fills the picture list; see scanFolder.
enum class ScanMode : int32_t {
    UntilRequested = 0,
    FromRequested = 1,
};

inline constexpr ScanMode scanUntilRequested = ScanMode::UntilRequested;
inline constexpr ScanMode scanFromRequested = ScanMode::FromRequested;

// Appends the full paths of listPictureFiles(folder) to list.pictureList, in listing order.
// FromRequested empties the list first and appends nothing before the entry equal to
// list.requestedPath, then everything after it. UntilRequested appends every picture path and
// stops, without appending it, at the entry equal to list.requestedPath. Equality is exact
// byte equality of the native paths.
void scanFolder(PictureListState& list, const std::filesystem::path& folder, ScanMode mode);
