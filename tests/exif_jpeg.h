#pragma once

#include <QByteArray>

#include <cstdint>

// A 40 x 30 JPEG whose top-left quarter is red and the rest blue, so every turn and every
// mirror puts the red corner somewhere else; an EXIF block with the orientation follows SOI.
QByteArray jpegWithOrientation(uint16_t orientation);
