#pragma once

#include <Qt>

#include <optional>

#include "commands/command_ids.h"

// What a key press does, looked up by key alone: modifiers never change a binding, so Ctrl+R
// and Shift+R turn like R, and an auto-repeated press acts like a fresh one.
// The bindings are those of the command table (commands/command_table.h).
struct KeyBinding {
    int key = 0;
    CommandId command = ID_NONE;
    // Esc leaves full screen but does nothing outside it.
    bool onlyInFullScreen = false;
};

// The key a press is bound by. Latin layouts (QWERTY, AZERTY, Dvorak, ...) keep their letters
// where they are printed: the key itself. A letter of another script (Cyrillic, Greek,
// Hebrew, Arabic, ...) stands for the US letter at the same place, usLetter, so that the key
// where a US keyboard has F is full screen under every layout.
int bindingKey(int key, std::optional<char> usLetter);

// The binding of a key, or nullptr for a key with no binding.
const KeyBinding* findKeyBinding(int key);

// Every key but S stops a running slideshow before its own action; S toggles it instead.
// A key with no binding stops it too.
bool keyStopsSlideshow(int key);
