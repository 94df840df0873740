#pragma once

#include <QStringList>

#include <string>
#include <vector>

#include "platform/desktop_entry.h"

// Opens a new non-modal chooser, belonging to the viewer (dialogOwner), listing the installed
// applications that declare the MIME type of the file at these native path bytes; the chosen
// one is started detached with the file. The chooser deletes itself when closed and reports
// nothing. Needs a QApplication.
void showOpenWithChooser(const std::string& nativePath);

// The names the chooser lists for apps, in order: each program's name, followed by its id
// where another program has the same name, so that two "Image Viewer" can be told apart.
QStringList chooserNames(const std::vector<DesktopEntry>& apps);
