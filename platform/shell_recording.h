#pragma once

#include <vector>

#include "platform/shell.h"

// Keeps every request and its intent instead of carrying it out, for tests.
class RecordingShellBackend final : public ShellBackend {
  public:
    void execute(const ShellRequest& request, const ShellIntent& intent) override;

    std::vector<ShellRequest> requests;
    // The intent that came with each request, in the same order.
    std::vector<ShellIntent> intents;
};
