#include "catalogue/folder_scan.h"

#include <dirent.h>
#include <sys/stat.h>

#include <limits>

#include "catalogue/picture_extensions.h"
#include "platform/file_system_probe.h"

namespace {

// The prefix folder / name gets: a separator only after a folder that ends in a name.
std::string pathPrefix(const std::filesystem::path& folder) {
    std::string prefix = folder.native();
    if (folder.has_filename())
        prefix += '/';
    return prefix;
}

// An entry whose type the listing leaves open (a link, or a file system that doesn't say) is
// looked up through its target; one whose type can't be read (a broken link) counts as a file.
bool isDirectory(DIR* folder, const dirent& entry) {
    if (entry.d_type == DT_DIR)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return false;
    struct stat target {};
    return ::fstatat(::dirfd(folder), entry.d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
}

bool isDotEntry(std::string_view name) {
    return name == "." || name == "..";
}

// Appends the entry when it is a picture file; false once the names would outgrow the offsets.
bool addEntry(FolderListing& listing, DIR* folder, const dirent& entry, bool pictureFolder) {
    const std::string_view name = entry.d_name;
    // The name test first: it needs no system call, while the type of a link does. No
    // extension holds a '/', so none spans the prefix and the name.
    if (isDotEntry(name) || !(pictureFolder || isPicturePath(name)) || isDirectory(folder, entry))
        return true;
    if (listing.names.size() + name.size() > std::numeric_limits<uint32_t>::max())
        return false;
    listing.names += name;
    listing.ends.push_back(static_cast<uint32_t>(listing.names.size()));
    return true;
}

}  // namespace

std::string_view FolderListing::name(size_t index) const {
    const uint32_t start = index == 0 ? 0 : ends[index - 1];
    return std::string_view(names).substr(start, ends[index] - start);
}

std::filesystem::path FolderListing::fullPath(size_t index) const {
    const std::string_view entry = name(index);
    std::string full;
    full.reserve(prefix.size() + entry.size());
    full += prefix;
    full += entry;
    return std::filesystem::path(std::move(full));
}

FolderListing listPictureFiles(const std::filesystem::path& folder) {
    FolderListing listing;
    listing.prefix = pathPrefix(folder);
    noteFileSystemCall(FileSystemCall::List, folder.c_str());
    DIR* entries = ::opendir(folder.c_str());
    if (entries == nullptr)
        return listing;
    const bool pictureFolder = isPicturePath(std::string_view(listing.prefix));
    while (const dirent* entry = ::readdir(entries)) {
        if (!addEntry(listing, entries, *entry, pictureFolder))
            break;
    }
    ::closedir(entries);
    return listing;
}

void scanFolder(PictureListState& list, const std::filesystem::path& folder, ScanMode mode) {
    if (mode == ScanMode::FromRequested)
        list.pictureList.clear();
    const FolderListing listing = listPictureFiles(folder);
    const std::string& requested = list.requestedPath.native();
    const auto isRequested = [&](size_t i) {
        return requested.size() == listing.prefix.size() + listing.name(i).size() &&
               requested.starts_with(listing.prefix) && requested.ends_with(listing.name(i));
    };
    size_t split = 0;
    while (split < listing.size() && !isRequested(split))
        ++split;
    const size_t first = mode == ScanMode::FromRequested ? split : 0;
    const size_t last = mode == ScanMode::FromRequested ? listing.size() : split;
    for (size_t i = first; i < last; ++i)
        list.pictureList.push_back(listing.fullPath(i));
}
