#include "catalogue/utf8_decode.h"

namespace {

bool inRange(unsigned char c, unsigned char low, unsigned char high) {
    return c >= low && c <= high;
}

}  // namespace

size_t decodeUtf8(std::string_view text, size_t pos, char32_t& codePoint) {
    const auto byteAt = [&](size_t offset) {
        return static_cast<unsigned char>(text[pos + offset]);
    };
    const unsigned char lead = byteAt(0);
    size_t length = 0;
    // The allowed range of the second byte excludes overlong forms, surrogates and values
    // beyond U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() - pos < length || !inRange(byteAt(1), low, high))
        return 0;
    codePoint = (codePoint << 6) | (byteAt(1) & 0x3F);
    for (size_t i = 2; i < length; ++i) {
        if (!inRange(byteAt(i), 0x80, 0xBF))
            return 0;
        codePoint = (codePoint << 6) | (byteAt(i) & 0x3F);
    }
    return length;
}
