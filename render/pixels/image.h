#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <utility>

// The decoded picture: 32-bit pixels, rows top-down, each pixel the bytes blue, green, red,
// alpha in memory. The fourth byte is alpha only when hasAlpha() is set; otherwise it is 0xFF
// and means nothing. Every decoded format is held at 32 bits per pixel, the depth that draws
// fastest; palette and grey pictures are expanded on decode, so no colour table is needed to
// draw or turn them. The pixels live in a QImage so that a decoder can fill them in place.
class Image {
  public:
    // Allocates a width x height picture. Returns false, leaving the image as it was, when a
    // dimension is not positive, the picture exceeds maxPictureBytes() or memory runs out.
    bool create(int32_t width, int32_t height, bool withAlpha);
    // Takes the pixels of a decoded QImage, which must be Format_RGB32 or Format_ARGB32;
    // hasAlpha follows the format. Returns false and stays empty for any other format.
    bool adopt(QImage&& decoded);
    // Empties the image and frees its pixels.
    void destroy() {
        image_ = QImage();
        fullWidth_ = fullHeight_ = 0;
    }
    void swap(Image& other) noexcept {
        image_.swap(other.image_);
        std::swap(fullWidth_, other.fullWidth_);
        std::swap(fullHeight_, other.fullHeight_);
    }

    bool empty() const { return image_.isNull(); }
    int32_t width() const { return image_.width(); }
    int32_t height() const { return image_.height(); }
    // Bytes from one row to the next.
    int32_t pitch() const { return static_cast<int32_t>(image_.bytesPerLine()); }
    int32_t bitsPerPixel() const { return empty() ? 0 : 32; }

    // The picture's size at full scale. A photo much larger than the window may be decoded
    // reduced (a JPEG's DCT scaling): it then has fewer pixels than this, and is fitted and
    // zoomed as the full picture would be. Equal to width() x height() otherwise; turns keep
    // it in step with the pixels.
    int32_t fullWidth() const { return fullWidth_; }
    int32_t fullHeight() const { return fullHeight_; }
    bool reduced() const { return fullWidth_ != width() || fullHeight_ != height(); }
    // Marks the pixels as a reduction of a picture of this size (never smaller than them).
    void setFullSize(int32_t width, int32_t height);
    bool hasAlpha() const { return image_.format() == QImage::Format_ARGB32; }

    uint8_t* row(int32_t y) { return image_.scanLine(y); }
    const uint8_t* row(int32_t y) const { return image_.constScanLine(y); }

    // Read-only view for tests and drawing; the bytes are exactly the pixels above (after
    // premultiplying, the colour bytes are premultiplied whatever the QImage format says).
    const QImage& qimage() const { return image_; }

    // The largest picture, in bytes of 32-bit pixels, that the viewer will hold, and the budget
    // its caches share (the levels, tiles and pictures decoded ahead): derived from the
    // machine's memory so that a 100-megapixel photo opens whole and an absurd header cannot
    // make the viewer allocate without bound. A larger picture is shown from a level of it.
    static size_t maxPictureBytes();
    // The same bound as the machine gives it, whatever a test has set.
    static size_t machinePictureBytes();
    // Sets a smaller bound, so that tests can try pictures larger than it without allocating
    // gigabytes; 0 gives back the machine's own.
    static void setMaxPictureBytesForTests(size_t bytes);
    // The machine's bound, or the innermost PictureBudgetScope's on this thread when smaller:
    // the most a file read whole may take.
    static size_t maxFileBytes();

  private:
    QImage image_;
    int32_t fullWidth_ = 0;
    int32_t fullHeight_ = 0;
};

// While it lives, decodes on the thread that made it may spend at most bytes: maxPictureBytes()
// is no larger, so every decoder's own estimates and checks, and Image::create, keep to it. A
// picture decoded ahead of its showing so takes only the cap of the pictures ahead. Scopes nest;
// an inner one never raises the cap of one around it.
class PictureBudgetScope {
  public:
    explicit PictureBudgetScope(size_t bytes);
    ~PictureBudgetScope();
    PictureBudgetScope(const PictureBudgetScope&) = delete;
    PictureBudgetScope& operator=(const PictureBudgetScope&) = delete;

    // The innermost scope's bytes on this thread; SIZE_MAX outside any.
    static size_t current();

  private:
    size_t outer_;
};
