#include "commands/key_table.h"

#include <QChar>

#include <array>
#include <cstddef>

#include "commands/command_table.h"

namespace {

constexpr std::size_t kKeyCount = [] {
    std::size_t count = 0;
    for (const Command& command : kCommands)
        count += (command.key != 0) + (command.fullScreenKey != 0);
    return count;
}();

// The bindings of the command table's keys, looked up by key.
constexpr std::array<KeyBinding, kKeyCount> kKeyTable = [] {
    std::array<KeyBinding, kKeyCount> bindings{};
    std::size_t next = 0;
    for (const Command& command : kCommands) {
        if (command.key != 0)
            bindings[next++] = {command.key, command.id, false};
        if (command.fullScreenKey != 0)
            bindings[next++] = {command.fullScreenKey, command.id, true};
    }
    return bindings;
}();

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
    const KeyBinding* binding = findKeyBinding(key);
    return binding == nullptr || findCommand(binding->command)->keyStopsSlideshow;
}
