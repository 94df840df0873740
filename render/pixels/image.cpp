#include "render/pixels/image.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <limits>

bool Image::create(int32_t width, int32_t height, bool withAlpha) {
    if (width <= 0 || height <= 0)
        return false;
    if (static_cast<size_t>(width) * static_cast<size_t>(height) * 4 > maxPictureBytes())
        return false;
    QImage image(width, height, withAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return false;
    image_ = std::move(image);
    fullWidth_ = width;
    fullHeight_ = height;
    return true;
}

bool Image::adopt(QImage&& decoded) {
    if (decoded.format() != QImage::Format_RGB32 && decoded.format() != QImage::Format_ARGB32)
        return false;
    image_ = std::move(decoded);
    fullWidth_ = image_.width();
    fullHeight_ = image_.height();
    return true;
}

void Image::setFullSize(int32_t width, int32_t height) {
    if (empty())
        return;
    fullWidth_ = std::max(width, this->width());
    fullHeight_ = std::max(height, this->height());
}

namespace {

// 0 until a test sets a bound of its own.
std::atomic<size_t> boundForTests{0};

thread_local size_t scopeBytes = SIZE_MAX;

}  // namespace

size_t Image::maxPictureBytes() {
    const size_t forTests = boundForTests.load(std::memory_order_relaxed);
    return std::min(forTests != 0 ? forTests : machinePictureBytes(), scopeBytes);
}

size_t Image::maxFileBytes() {
    return std::min(machinePictureBytes(), scopeBytes);
}

size_t Image::machinePictureBytes() {
    // A quarter of the physical memory: several pictures of that size (the decoded one, the
    // decoder's own buffers, a turned copy) still fit. Never below 1 GiB, so a 100-megapixel
    // photo opens on small machines, and never above what a QImage can address.
    static const size_t bound = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long pageSize = sysconf(_SC_PAGESIZE);
        size_t memory = pages > 0 && pageSize > 0
                            ? static_cast<size_t>(pages) * static_cast<size_t>(pageSize)
                            : size_t{4} << 30;
        const size_t quarter = memory / 4;
        const size_t qimageLimit = static_cast<size_t>(std::numeric_limits<int>::max());
        return std::clamp(quarter, size_t{1} << 30, qimageLimit);
    }();
    return bound;
}

void Image::setMaxPictureBytesForTests(size_t bytes) {
    boundForTests.store(bytes, std::memory_order_relaxed);
}

PictureBudgetScope::PictureBudgetScope(size_t bytes) : outer_(scopeBytes) {
    scopeBytes = std::min(outer_, bytes);
}

PictureBudgetScope::~PictureBudgetScope() {
    scopeBytes = outer_;
}

size_t PictureBudgetScope::current() {
    return scopeBytes;
}
