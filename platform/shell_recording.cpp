#include "platform/shell_recording.h"

void RecordingShellBackend::execute(const ShellRequest& request) {
    requests.push_back(request);
}
