#include "render/pixels/resampled_cache.h"

#include <string>

bool usesAlphaPath(const std::filesystem::path& file) {
    const std::string& text = file.native();
    for (const char* marker : {".png", ".PNG", ".gif", ".GIF"}) {
        if (text.find(marker) != std::string::npos)
            return true;
    }
    return false;
}

ResampledCache::Key resampleKey(const Image& picture, const PixelRect& dest, int32_t surfaceWidth,
                                int32_t surfaceHeight, bool alphaPath, int32_t alphaPremultiplied) {
    return {picture.qimage().cacheKey(), dest, surfaceWidth, surfaceHeight, alphaPath,
            alphaPremultiplied};
}
