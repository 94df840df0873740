#pragma once

#include <filesystem>

class QFile;

// Opens file for reading through RegularFile (never waiting on a FIFO, a device or a socket
// under the name) and hands the descriptor to file, which closes it; false when there is no
// regular file to read.
bool openRegularFile(const std::filesystem::path& path, QFile& file);
