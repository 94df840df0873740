#pragma once

#include <QString>

#include <filesystem>

// The title that names a picture: "Quillmere - <file name>". A "[*]" in the name is shown as
// written: Qt would take it for its unsaved-changes marker and leave it out.
QString pictureTitle(const std::filesystem::path& path);

// The title while the slideshow runs.
QString slideshowTitle();
