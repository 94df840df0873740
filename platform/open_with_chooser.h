#pragma once

#include <QMimeType>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

#include "platform/desktop_entry.h"

// What the chooser offers for one file: its name, its MIME type (by content where it is a
// regular file that can be read, else by name alone, so a FIFO or a device never holds it up)
// and the installed applications (applicationDirs) that declare the type, an alias or a parent.
struct ChooserOffer {
    QString name;
    QMimeType type;
    std::vector<DesktopEntry> apps;
};

// The offer for the file at these native path bytes. Window-free.
ChooserOffer chooserOffer(const std::string& nativePath);

// Opens a new non-modal chooser, belonging to the viewer (dialogOwner), listing the
// applications of chooserOffer (made on a worker: offThread) for the file at these native path
// bytes; the chosen one is
// started detached with the file. The chooser deletes itself when closed and reports
// nothing. Needs a QApplication.
void showOpenWithChooser(const std::string& nativePath);

// The names the chooser lists for apps, in order: each program's name, followed by its id
// where another program has the same name, so that two "Image Viewer" can be told apart.
QStringList chooserNames(const std::vector<DesktopEntry>& apps);
