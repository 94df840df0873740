#include "platform/file_system_probe.h"

#include <atomic>

namespace {

std::atomic<FileSystemProbe> installedProbe{nullptr};

}  // namespace

void setFileSystemProbe(FileSystemProbe probe) {
    installedProbe.store(probe, std::memory_order_release);
}

void noteFileSystemCall(FileSystemCall call, const char* path) {
    if (const FileSystemProbe probe = installedProbe.load(std::memory_order_acquire))
        probe(call, path);
}
