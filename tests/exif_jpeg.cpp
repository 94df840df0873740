#include "exif_jpeg.h"

#include <QBuffer>
#include <QImage>

QByteArray jpegWithOrientation(uint16_t orientation) {
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    const uint8_t app1[] = {0xFF,
                            0xE1,
                            0,
                            34,
                            'E',
                            'x',
                            'i',
                            'f',
                            0,
                            0,  // marker, length
                            'M',
                            'M',
                            0,
                            42,
                            0,
                            0,
                            0,
                            8,  // TIFF header
                            0,
                            1,
                            0x01,
                            0x12,
                            0,
                            3,
                            0,
                            0,
                            0,
                            1,  // one entry: Orientation
                            static_cast<uint8_t>(orientation >> 8),
                            static_cast<uint8_t>(orientation),
                            0,
                            0,  // SHORT value
                            0,
                            0,
                            0,
                            0};  // no next directory
    return jpeg.insert(2, QByteArray(reinterpret_cast<const char*>(app1), sizeof app1));
}
