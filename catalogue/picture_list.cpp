#include "catalogue/picture_list.h"

#include <algorithm>
#include <limits>
#include <system_error>

#include "catalogue/folder_scan.h"
#include "catalogue/natural_order.h"
#include "catalogue/picture_extensions.h"
#include "catalogue/utf8_decode.h"
#include "platform/file_system_probe.h"

namespace {

// requestedPath before an open has a path to ask for: no listed path can equal it.
const std::filesystem::path kNoRequest = " ";

bool indexInList(const PictureListState& list, int64_t index) {
    return index >= 0 && index < static_cast<int64_t>(list.pictureList.size());
}

}  // namespace

const std::filesystem::path* currentPath(const PictureListState& list) {
    if (!indexInList(list, list.currentIndex))
        return nullptr;
    return &list.pictureList[static_cast<size_t>(list.currentIndex)];
}

void sortPictureList(PictureListState& list) {
    std::vector<std::filesystem::path>& entries = list.pictureList;
    const std::vector<uint32_t> order = naturalOrder(
        entries.size(), [&](size_t i) { return std::string_view(entries[i].native()); });
    std::vector<std::filesystem::path> sorted;
    sorted.reserve(entries.size());
    for (const uint32_t position : order)
        sorted.push_back(std::move(entries[position]));
    entries = std::move(sorted);
}

void locateRequested(PictureListState& list) {
    const auto& entries = list.pictureList;
    const auto match =
        std::find_if(entries.begin(), entries.end(), [&](const std::filesystem::path& entry) {
            return entry.native() == list.requestedPath.native();
        });
    if (match != entries.end())
        list.currentIndex = static_cast<int32_t>(match - entries.begin());
}

std::filesystem::path absoluteRequest(const std::filesystem::path& requested) {
    std::error_code error;
    std::filesystem::path absolute = requested.empty()
                                         ? std::filesystem::current_path(error) / ""
                                         : std::filesystem::absolute(requested, error);
    // Without a current directory the path stays as given; its folder then lists what it can.
    if (error)
        absolute = requested;
    if (!absolute.has_filename())
        return absolute;
    return absolute.parent_path() / absolute.filename();
}

std::optional<std::filesystem::path> likelyCurrent(
    const std::optional<std::filesystem::path>& requested) {
    if (!requested || requested->empty())
        return std::nullopt;
    std::filesystem::path file = absoluteRequest(*requested);
    if (!file.has_filename() || !isPicturePath(std::string_view(file.native())))
        return std::nullopt;
    return file;
}

OpenedFolder listOpenedFolder(const std::optional<std::filesystem::path>& requested,
                              const std::filesystem::path& programFolder) {
    PictureListState list;
    list.requestedPath = kNoRequest;
    std::filesystem::path folder = programFolder;
    if (requested) {
        list.requestedPath = absoluteRequest(*requested);
        folder = list.requestedPath.parent_path();
    }
    // One read of the folder: scanning from the requested entry and then up to it lists the
    // same pictures, and the order is total, so the listing order is forgotten either way.
    // The names are sorted before they become paths, so no path is built twice or moved.
    const FolderListing listing = listPictureFiles(folder);
    const std::vector<uint32_t> order =
        naturalOrder(listing.size(), [&](size_t i) { return listing.name(i); });
    list.pictureList.reserve(order.size());
    for (const uint32_t position : order)
        list.pictureList.push_back(listing.fullPath(position));
    list.currentIndex = -1;
    locateRequested(list);
    OpenedFolder opened{std::move(list.pictureList), std::move(list.requestedPath), std::nullopt};
    if (list.currentIndex >= 0)
        opened.requestedIndex = list.currentIndex;
    return opened;
}

void adoptOpenedFolder(PictureListState& list, OpenedFolder&& opened) {
    list.pictureList = std::move(opened.pictureList);
    list.requestedPath = std::move(opened.requestedPath);
    if (opened.requestedIndex)
        list.currentIndex = *opened.requestedIndex;
}

void openPicture(PictureListState& list, std::optional<std::filesystem::path> requested,
                 const std::filesystem::path& programFolder) {
    adoptOpenedFolder(list, listOpenedFolder(requested, programFolder));
}

void stepNext(PictureListState& list) {
    if (list.pictureList.empty()) {
        if (list.currentIndex < std::numeric_limits<int32_t>::max())
            ++list.currentIndex;
        return;
    }
    const int64_t next = int64_t{list.currentIndex} + 1;
    list.currentIndex = indexInList(list, next) ? static_cast<int32_t>(next) : 0;
}

void stepPrevious(PictureListState& list) {
    const int64_t previous = int64_t{list.currentIndex} - 1;
    const int32_t last = static_cast<int32_t>(list.pictureList.size()) - 1;
    // With an empty list last is -1, which is where the step lands.
    list.currentIndex = indexInList(list, previous) ? static_cast<int32_t>(previous) : last;
}

std::vector<int32_t> neighbourIndices(const PictureListState& list, int32_t travel) {
    const auto count = static_cast<int64_t>(list.pictureList.size());
    const int64_t index = list.currentIndex;
    if (count < 2 || !indexInList(list, index))
        return {};
    const int64_t step = travel < 0 ? -1 : 1;
    const auto ahead = static_cast<int32_t>((index + step + count) % count);
    const auto behind = static_cast<int32_t>((index - step + count) % count);
    if (behind == ahead)
        return {ahead};
    return {ahead, behind};
}

std::vector<std::filesystem::path> neighbourPaths(const PictureListState& list, int32_t travel) {
    std::vector<std::filesystem::path> files;
    for (const int32_t index : neighbourIndices(list, travel))
        files.push_back(list.pictureList[static_cast<size_t>(index)]);
    return files;
}

void removeCurrentEntry(PictureListState& list) {
    if (!indexInList(list, list.currentIndex))
        return;
    list.pictureList.erase(list.pictureList.begin() + list.currentIndex);
    if (list.pictureList.empty())
        list.currentIndex = -1;
    else if (!indexInList(list, list.currentIndex))
        list.currentIndex = 0;
}

std::string titleFileName(const std::filesystem::path& path) {
    const std::string& native = path.native();
    const size_t separator = native.rfind('/');
    const std::string_view name = separator == std::string::npos
                                      ? std::string_view(native)
                                      : std::string_view(native).substr(separator + 1);
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string text;
    text.reserve(name.size());
    for (size_t pos = 0; pos < name.size();) {
        char32_t codePoint = 0;
        const size_t length = decodeUtf8(name, pos, codePoint);
        if (length == 0) {
            text += kReplacement;
            ++pos;
        } else {
            text += name.substr(pos, length);
            pos += length;
        }
    }
    return text;
}

bool removePictureFile(const std::filesystem::path& path) {
    noteFileSystemCall(FileSystemCall::Remove, path.c_str());
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error)))
        std::filesystem::remove(path, error);
    const std::filesystem::file_type left = std::filesystem::symlink_status(path, error).type();
    return left == std::filesystem::file_type::not_found ||
           left == std::filesystem::file_type::directory;
}

bool removeEntry(PictureListState& list, const std::filesystem::path& path) {
    const auto& entries = list.pictureList;
    const auto entry = std::find_if(
        entries.begin(), entries.end(),
        [&](const std::filesystem::path& listed) { return listed.native() == path.native(); });
    if (entry == entries.end())
        return false;
    list.currentIndex = static_cast<int32_t>(entry - entries.begin());
    removeCurrentEntry(list);
    return true;
}
