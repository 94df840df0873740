#include "commands/shell_actions.h"

#include <string>

#include "platform/shell.h"
#include "resources/product.h"

namespace {

// The path's own bytes: no quoting, no re-encoding, so blanks and names that are not valid
// UTF-8 reach the shell exactly as the file system holds them.
void requestForCurrent(const PictureListState& list, const std::string& verb, ShellAction action) {
    const std::filesystem::path* path = currentPath(list);
    if (!path) {
        return;
    }
    const std::string target = shellPathString(*path);
    shellExecute({target, {}, verb, kSeeMaskInvokeIdList, kSwShow}, {action, target});
}

}  // namespace

void openWith(const PictureListState& list) {
    const std::filesystem::path* path = currentPath(list);
    if (!path) {
        return;
    }
    const std::string target = shellPathString(*path);
    shellExecute({kRunDll, std::string(kOpenAsRunDll) + ' ' + target, {}, 0, kSwShowMaximized},
                 {ShellAction::OpenWith, target});
}

void showProperties(const PictureListState& list) {
    requestForCurrent(list, "properties", ShellAction::ShowProperties);
}

void printPicture(const PictureListState& list) {
    requestForCurrent(list, "print", ShellAction::Print);
}

void openWebSite(const PictureListState&) {
    shellExecute({product::kWebSite, {}, "open", kSeeMaskInvokeIdList, kSwShow},
                 {ShellAction::OpenUrl, product::kWebSite});
}
