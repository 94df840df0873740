#pragma once

#include <string>

// Opens a new non-modal window, belonging to the viewer (dialogOwner), listing the facts of the
// file at these native path bytes: name, folder, size, modification time, pixel size and type. Each
// call opens its own window, once a worker has read the facts (offThread), which deletes itself
// when closed; nothing waits for it. Needs a QApplication.
void showPropertiesWindow(const std::string& nativePath);
