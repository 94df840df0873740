#include "commands/shell_actions.h"

#include <string>

#include "platform/shell.h"
#include "resources/product.h"

namespace {

// The path's own bytes: no quoting, no re-encoding, so blanks and names that are not valid
// UTF-8 reach the shell exactly as the file system holds them.
void requestForCurrent(const PictureListState& list, const std::string& verb) {
    const std::filesystem::path* path = currentPath(list);
    if (!path) {
        return;
    }
    shellExecute({shellPathString(*path), {}, verb, kSeeMaskInvokeIdList, kSwShow});
}

}  // namespace

void openWith(const PictureListState& list) {
    const std::filesystem::path* path = currentPath(list);
    if (!path) {
        return;
    }
    shellExecute({kRunDll,
                  std::string(kOpenAsRunDll) + ' ' + shellPathString(*path),
                  {},
                  0,
                  kSwShowMaximized});
}

void showProperties(const PictureListState& list) {
    requestForCurrent(list, "properties");
}

void printPicture(const PictureListState& list) {
    requestForCurrent(list, "print");
}

void openWebSite(const PictureListState&) {
    shellExecute({product::kWebSite, {}, "open", kSeeMaskInvokeIdList, kSwShow});
}
