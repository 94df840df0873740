#include "commands/key_table.h"

#include <QChar>

#include <array>

namespace {

constexpr std::array<KeyBinding, 13> kKeyTable{{
    {Qt::Key_Left, ID_PREVIOUS, false},
    {Qt::Key_Right, ID_NEXT, false},
    {Qt::Key_Up, ID_ZOOM_IN, false},
    {Qt::Key_Down, ID_ZOOM_OUT, false},
    {Qt::Key_F, ID_FULL_SCREEN_TOGGLE, false},
    {Qt::Key_Escape, ID_FULL_SCREEN_TOGGLE, true},
    {Qt::Key_L, ID_ROTATE_LEFT, false},
    {Qt::Key_R, ID_ROTATE_RIGHT, false},
    {Qt::Key_Delete, ID_DELETE, false},
    {Qt::Key_C, ID_BG_COLOR_TOGGLE, false},
    {Qt::Key_O, ID_OPEN_WITH, false},
    {Qt::Key_P, ID_PROPERTIES, false},
    {Qt::Key_S, ID_SLIDESHOW_TOGGLE, false},
}};

}  // namespace

int bindingKey(int key, std::optional<char> usLetter) {
    // Qt gives a letter key the code of its upper-case character.
    const auto character = static_cast<char32_t>(key);
    if (!usLetter || character < 0x80 || character > 0x10FFFF || !QChar::isLetter(character) ||
        QChar::script(character) == QChar::Script_Latin)
        return key;
    return Qt::Key_A + (*usLetter - 'A');
}

const KeyBinding* findKeyBinding(int key) {
    for (const KeyBinding& binding : kKeyTable) {
        if (binding.key == key)
            return &binding;
    }
    return nullptr;
}

bool keyStopsSlideshow(int key) {
    return key != Qt::Key_S;
}
