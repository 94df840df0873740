#include "commands/context_menu.h"

#include <array>
#include <cstddef>

#include "commands/command_table.h"

namespace {

constexpr std::size_t kRowCount = [] {
    std::size_t count = 0;
    for (const Command& command : kCommands)
        count += 1 + (command.separatorBefore ? 1 : 0);
    return count;
}();

// The command table's items, each group after a separator.
constexpr std::array<MenuItem, kRowCount> kContextMenu = [] {
    std::array<MenuItem, kRowCount> rows{};
    std::size_t next = 0;
    for (const Command& command : kCommands) {
        if (command.separatorBefore)
            rows[next++] = {ID_NONE, nullptr};
        rows[next++] = {command.id, command.menuText};
    }
    return rows;
}();

}  // namespace

std::span<const MenuItem> contextMenuItems() {
    return kContextMenu;
}
