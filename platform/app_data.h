#pragma once

#include <filesystem>

// The folder shared by all users of the machine for application data.
inline constexpr const char* kMachineDataFolder = "/var/lib/quillmere";

// kMachineDataFolder when it exists as a folder (the install step creates it), else empty,
// meaning this machine offers no such folder.
std::filesystem::path machineDataFolder();

// The folder of the running executable, without a trailing separator; empty when the
// executable's path can't be read.
std::filesystem::path executableFolder();
