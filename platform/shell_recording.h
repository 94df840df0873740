#pragma once

#include <vector>

#include "platform/shell.h"

// Keeps every request instead of carrying it out, for tests.
class RecordingShellBackend final : public ShellBackend {
  public:
    void execute(const ShellRequest& request) override;

    std::vector<ShellRequest> requests;
};
