#pragma once

#include <cstdint>
#include <filesystem>
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
