#include "app/window_title.h"

#include "catalogue/picture_list.h"

namespace {

constexpr char kTitlePrefix[] = "Quillmere - ";
constexpr char kSlideshowTitle[] = "Quillmere - Running Slideshow";

}  // namespace

QString pictureTitle(const std::filesystem::path& path) {
    // Qt shows "[*][*]" as a literal "[*]".
    const QString name = QString::fromStdString(titleFileName(path));
    return QString::fromUtf8(kTitlePrefix) + QString(name).replace("[*]", "[*][*]");
}

QString slideshowTitle() {
    return QString::fromUtf8(kSlideshowTitle);
}
