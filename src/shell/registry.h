// The command registry: every built-in command is a row of a module's static table.
#pragma once
#include "runtime/util.h"

namespace tarn {

// Runs a command: count words, vector[0] is the command name as typed, vector[count] is
// null. Returns the exit code.
using CommandHandler = int (*)(int count, char** vector);

// Command flags (each command uses at most one).
constexpr uint32_t kCommandRawArguments = 1;     // split again keeping double quotes
constexpr uint32_t kCommandStructuredOutput = 2; // accepts -data and emits records
constexpr uint32_t kCommandOwnB = 4;             // -b is an argument, not the paging switch

struct CommandDescriptor {
    const char* name;        // lower case ASCII
    CommandHandler handler;
    const char* usage;       // one line of syntax, or null
    const char* summary;     // one line for the help listing
    const char* help;        // detail text for "help NAME", or null
    uint32_t flags;
};

// Appends a pointer to each row (the rows must live for the whole run), then keeps the
// registry sorted by name in byte order.
void register_commands(const CommandDescriptor* table, uint64_t count);
// The descriptor whose name equals name ignoring ASCII case, or null.
const CommandDescriptor* find_command(const char* name);
uint64_t command_count();
// Null outside 0..command_count()-1.
const CommandDescriptor* command_at(uint64_t index);
// The usage line of the named command, or null (the output channel's usage lookup).
const char* usage_of(const char* name);

// Host tests: an empty registry.
void reset_registry();

}  // namespace tarn
