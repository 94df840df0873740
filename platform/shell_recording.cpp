#include "platform/shell_recording.h"

void RecordingShellBackend::execute(const ShellRequest& request, const ShellIntent& intent) {
    requests.push_back(request);
    intents.push_back(intent);
}
