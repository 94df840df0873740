#include "platform/app_data.h"

#include <unistd.h>

#include <string>
#include <system_error>

namespace {

bool isFolder(const std::filesystem::path& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

}  // namespace

std::filesystem::path machineDataFolder() {
    return isFolder(kMachineDataFolder) ? std::filesystem::path(kMachineDataFolder)
                                        : std::filesystem::path();
}

std::filesystem::path executableFolder() {
    // readlink does not terminate the text and truncates silently, so a result that fills the
    // buffer is taken as unreadable rather than as a cut path.
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return {};
    buffer.resize(static_cast<std::size_t>(length));
    const std::size_t slash = buffer.rfind('/');
    if (slash == std::string::npos)
        return {};
    // The executable in the root folder keeps "/" rather than becoming empty.
    return std::filesystem::path(buffer.substr(0, slash == 0 ? 1 : slash));
}
