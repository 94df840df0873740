#include "platform/shell.h"

#include <string_view>

namespace {

ShellBackend* installedBackend = nullptr;

}  // namespace

void shellExecute(const ShellRequest& request, const ShellIntent& intent) {
    ShellBackend& backend = installedBackend ? *installedBackend : systemShellBackend();
    backend.execute(request, intent);
}

void setShellBackend(ShellBackend* backend) {
    installedBackend = backend;
}

ShellIntent interpretShellRequest(const ShellRequest& request) {
    ShellIntent intent;
    if (request.file == kRunDll) {
        const std::string prefix = std::string(kOpenAsRunDll) + ' ';
        const std::string_view parameters = request.parameters;
        if (parameters.starts_with(prefix) && parameters.size() > prefix.size()) {
            intent = {ShellAction::OpenWith, std::string(parameters.substr(prefix.size()))};
        }
        return intent;
    }
    if (request.file.empty()) {
        return intent;
    }
    if (request.verb == "open") {
        intent = {ShellAction::OpenUrl, request.file};
    } else if (request.verb == "properties") {
        intent = {ShellAction::ShowProperties, request.file};
    } else if (request.verb == "print") {
        intent = {ShellAction::Print, request.file};
    }
    return intent;
}
