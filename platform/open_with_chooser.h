#pragma once

#include <string>

// Opens a new non-modal chooser listing the installed applications that declare the MIME type
// of the file at these native path bytes; the chosen one is started detached with the file.
// The chooser deletes itself when closed and reports nothing. Needs a QApplication.
void showOpenWithChooser(const std::string& nativePath);
