#include "catalogue/folder_scan.h"

#include <system_error>

#include "catalogue/picture_extensions.h"

void scanFolder(PictureListState& list, const std::filesystem::path& folder, ScanMode mode) {
    if (mode == ScanMode::FromRequested)
        list.pictureList.clear();
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    const std::filesystem::directory_iterator end;
    for (; !error && entries != end; entries.increment(error)) {
        const std::filesystem::directory_entry& entry = *entries;
        const std::filesystem::path& fullPath = entry.path();
        // The name test first: it needs no system call, while the type of a symbolic link does.
        if (!isPicturePath(fullPath))
            continue;
        // An entry whose type can't be read (a broken link) counts as a file.
        std::error_code typeError;
        if (entry.is_directory(typeError))
            continue;
        const bool isRequested = fullPath.native() == list.requestedPath.native();
        if (mode == ScanMode::FromRequested) {
            if (!isRequested)
                continue;
            mode = ScanMode::UntilRequested;
        } else if (isRequested) {
            return;
        }
        list.pictureList.push_back(fullPath);
    }
}
