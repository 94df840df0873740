#pragma once

#include <string>

class QFile;

// Opens the file at these native path bytes for reading when it is a regular file, and never
// waits: a FIFO, device or socket under the name is refused at once, where a plain open of a
// FIFO without a writer would block for good. The descriptor is close-on-exec and its reads
// block as usual. -1 when the file is missing, unreadable or not a regular file.
int openRegularFile(const std::string& nativePath);

// The same descriptor handed to file, which closes it; false when there is nothing to read.
bool openRegularFile(const std::string& nativePath, QFile& file);
