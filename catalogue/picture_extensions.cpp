#include "catalogue/picture_extensions.h"

bool isPicturePath(const std::filesystem::path& path) {
    return isPicturePath(std::string_view(path.native()));
}

bool isPicturePath(std::string_view nativePath) {
    // Every extension starts with '.', so only the dots need a closer look; this keeps a
    // folder of thousands of names from running 32 full searches per name.
    for (size_t dot = nativePath.find('.'); dot != std::string_view::npos;
         dot = nativePath.find('.', dot + 1)) {
        const std::string_view rest = nativePath.substr(dot);
        for (std::string_view extension : pictureExtensions) {
            if (rest.starts_with(extension))
                return true;
        }
    }
    return false;
}
