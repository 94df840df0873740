#include "platform/keyboard_layout.h"

#include <array>

// X11 and Wayland report XKB key codes: the kernel's evdev codes plus 8, which name the key's
// place on the keyboard whatever the layout.
std::optional<char> usLetterAtScanCode(uint32_t nativeScanCode) {
    struct Place {
        uint32_t keycode;
        char letter;
    };
    static constexpr std::array<Place, 26> kPlaces{{
        {24, 'Q'}, {25, 'W'}, {26, 'E'}, {27, 'R'}, {28, 'T'}, {29, 'Y'}, {30, 'U'},
        {31, 'I'}, {32, 'O'}, {33, 'P'}, {38, 'A'}, {39, 'S'}, {40, 'D'}, {41, 'F'},
        {42, 'G'}, {43, 'H'}, {44, 'J'}, {45, 'K'}, {46, 'L'}, {52, 'Z'}, {53, 'X'},
        {54, 'C'}, {55, 'V'}, {56, 'B'}, {57, 'N'}, {58, 'M'},
    }};
    for (const Place& place : kPlaces) {
        if (place.keycode == nativeScanCode)
            return place.letter;
    }
    return std::nullopt;
}
