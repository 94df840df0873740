#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The picture list: the pictures of one folder in natural order and which one is shown.
// Plain data; the viewer keeps one of these as part of its process-wide state.
struct PictureListState {
    // Full native paths (any bytes the file system allows), ascending by pathLessNatural.
    std::vector<std::filesystem::path> pictureList;
    // Position of the shown picture; -1 once deletion has emptied the list. Readers index
    // pictureList with it only after checking it lies inside the list.
    int32_t currentIndex = 0;
    // The path the running open asks for, as given (made absolute); " " when none was given.
    std::filesystem::path requestedPath;
};

// The current path, or nullptr when currentIndex lies outside the list (empty list, or a drop
// that left a stale index).
const std::filesystem::path* currentPath(const PictureListState& list);

// Sorts pictureList ascending by pathLessNatural. The order is total, so the result does not
// depend on the order the folder was listed in.
void sortPictureList(PictureListState& list);

// Sets currentIndex to the first entry whose native bytes equal requestedPath; leaves it
// unchanged when no entry does.
void locateRequested(PictureListState& list);

// The requested path in the form the folder's listing gives it: absolute against the current
// directory (no link resolution), joined to its folder with a single separator. An empty
// argument names the current directory itself, which is listed and matches no entry.
std::filesystem::path absoluteRequest(const std::filesystem::path& requested);

// The picture an open with this request will most likely make current, known without asking
// the file system: the requested path, when it is a picture path that names a file. Only the
// listing tells whether the folder holds it.
std::optional<std::filesystem::path> likelyCurrent(
    const std::optional<std::filesystem::path>& requested);

// What one open finds, before it becomes the list: the folder's pictures in natural order, the
// request as openPicture keeps it, and the requested entry's index when the folder holds it.
struct OpenedFolder {
    std::vector<std::filesystem::path> pictureList;
    std::filesystem::path requestedPath;
    std::optional<int32_t> requestedIndex;
};

// Lists and sorts the folder of one open (see openPicture). Runs on any thread: it touches
// nothing but the file system.
OpenedFolder listOpenedFolder(const std::optional<std::filesystem::path>& requested,
                              const std::filesystem::path& programFolder);

// Makes the opened folder the list: the requested entry becomes current, else currentIndex
// keeps its value.
void adoptOpenedFolder(PictureListState& list, OpenedFolder&& opened);

// Rebuilds the list for one open. With a requested path (the command line's first argument or
// a dropped file): the path is made absolute against the current directory (no link
// resolution), becomes requestedPath, and its parent folder is listed, the requested picture
// becoming current when it is one of the folder's pictures. An empty argument lists the
// current directory. Without one: programFolder is listed and requestedPath stays " ".
// currentIndex keeps its value when nothing is located. Draws nothing, sets no title.
void openPicture(PictureListState& list, std::optional<std::filesystem::path> requested,
                 const std::filesystem::path& programFolder);

// Index arithmetic of the Next and Previous steps, wrapping at both ends. With an empty list
// stepPrevious sets -1 and stepNext adds one (saturating). An index left outside a non-empty
// list (by a drop) steps to the first entry (next) or the last one (previous).
void stepNext(PictureListState& list);
void stepPrevious(PictureListState& list);

// The entries worth decoding ahead of a step, most likely first: the one a step in the
// direction of travel (+1 or -1) shows, then the one behind. Wraps as stepping does; empty
// while the index lies outside the list, never the current entry, never one entry twice.
std::vector<int32_t> neighbourIndices(const PictureListState& list, int32_t travel);
// The paths of those entries, in the same order.
std::vector<std::filesystem::path> neighbourPaths(const PictureListState& list, int32_t travel);

// Deletes the file at path. Only a file is ever removed: an empty folder that took the file's
// name since the listing stays where it is. Returns whether no file is left under the name
// (a file already gone, or a folder in its place, counts as removed).
bool removePictureFile(const std::filesystem::path& path);

// Removes the entry for path, wherever the list now holds it, as removeCurrentEntry does;
// returns whether the list held one.
bool removeEntry(PictureListState& list, const std::filesystem::path& path);

// Removes the current entry; the index then names the entry that followed it, 0 when the
// removed one was last, or -1 when the list is empty. Does nothing while currentIndex lies
// outside the list.
void removeCurrentEntry(PictureListState& list);

// The text after the last '/' of the path (the whole path without one), as UTF-8 for the
// window title: every byte that is not part of valid UTF-8 becomes U+FFFD.
std::string titleFileName(const std::filesystem::path& path);
