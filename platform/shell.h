#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// One request to the desktop shell's execute service, built exactly as the Windows record
// would be. Strings are native byte strings: a picture path may hold any bytes the file system
// allows, valid UTF-8 or not, and is never quoted.
struct ShellRequest {
    std::string file;
    std::string parameters;
    std::string verb;
    uint32_t mask = 0;
    int32_t showMode = 0;

    bool operator==(const ShellRequest&) const = default;
};

// Asks the shell to resolve the verb through the item's context-menu handlers.
inline constexpr uint32_t kSeeMaskInvokeIdList = 0x0000000C;
inline constexpr int32_t kSwShow = 5;
inline constexpr int32_t kSwShowMaximized = 3;

// Prefix of the Open With request's parameters; the path follows it after one blank.
inline constexpr char kOpenAsRunDll[] = "shell32.dll,OpenAs_RunDLL";
inline constexpr char kRunDll[] = "rundll32.exe";

// What a request asks for, independent of how a system carries it out.
enum class ShellAction { None, OpenUrl, OpenWith, ShowProperties, Print };

struct ShellIntent {
    ShellAction action = ShellAction::None;
    // The URL for OpenUrl, the native path for the others; empty for None.
    std::string target;

    bool operator==(const ShellIntent&) const = default;
};

// Carries a request out. Each call brings the Windows record and the intent built beside it,
// which agree; a backend acts on whichever its system speaks, so none has to parse the
// other's strings. Implementations start the work and return without waiting for it or
// reporting its outcome.
class ShellBackend {
  public:
    virtual ~ShellBackend() = default;
    virtual void execute(const ShellRequest& request, const ShellIntent& intent) = 0;
};

// Hands the request and its intent to the current backend: the one installed with
// setShellBackend, else the system's own. The system backend on Linux shows windows, so it
// needs a QApplication.
void shellExecute(const ShellRequest& request, const ShellIntent& intent);

// Installs a backend that is not owned and must outlive its use; nullptr restores the
// system's own. Not thread-safe: call from the user-interface thread.
void setShellBackend(ShellBackend* backend);

// The system's backend, defined once per operating system.
ShellBackend& systemShellBackend();

// A path as the request's byte string: its native bytes where the system's paths are bytes,
// UTF-8 where they are UTF-16. Defined once per operating system.
std::string shellPathString(const std::filesystem::path& path);

// Reads a request the way the Windows shell would; the intent built beside a request must say
// the same. Open With is recognised by its program and parameter prefix; the path is
// everything after the prefix and its one blank, taken whole. Anything else, or an empty
// target, is None.
ShellIntent interpretShellRequest(const ShellRequest& request);
