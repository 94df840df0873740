#include "commands/command_table.h"

const Command* findCommand(CommandId id) {
    for (const Command& command : kCommands) {
        if (command.id == id)
            return &command;
    }
    return nullptr;
}

void dispatchCommand(CommandTarget& target, CommandId id) {
    if (const Command* command = findCommand(id))
        (target.*command->run)();
}
