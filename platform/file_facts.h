#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <QDateTime>
#include <QSize>
#include <QString>

// What the viewer's own properties window tells about a file. Window-free.
struct FileFacts {
    QString name;
    QString folder;
    // Empty when the file cannot be examined (it may have disappeared meanwhile).
    std::optional<uint64_t> sizeBytes;
    QDateTime modified;  // invalid when unknown
    QSize pixelSize;     // invalid when the picture's header cannot be read
    QString typeName;    // the MIME type's description, empty when unknown
};

// Gathers the facts of the file at these native path bytes. Reads only the picture's header
// for its size, never decodes it. A missing or unreadable file, or one that is not a regular
// file (a FIFO, a device, a socket), gives name and folder only, at once.
FileFacts readFileFacts(const std::string& nativePath);

// "1,234,567 bytes (1.2 MB)" in the locale's digit grouping; "0 bytes" for an empty file.
QString describeSize(uint64_t bytes);
