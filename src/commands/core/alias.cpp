// alias: show or define command aliases.
#include "commands/core/core_commands.h"
#include "commands/core/env_switches.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "shell/environment.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int alias_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"alias", alias_command, "alias [-v] [NAME [COMMAND...]] | alias -d NAME",
     "Show or define command aliases",
     "  With no NAME, lists the aliases (V marks the temporary ones).\n"
     "  alias NAME              prints what NAME stands for\n"
     "  alias NAME COMMAND...   defines NAME (kept in the firmware; -v: this session only)\n"
     "  alias -d NAME           deletes the alias\n"
     "  Words typed after an alias are appended to its command.\n",
     kCommandStructuredOutput},
};

int list_aliases() {
    NameList names = alias_names();
    for (uint64_t i = 0; i < names.count; i++) {
        bool permanent = false;
        const char* value = find_alias(names[i], &permanent);
        if (!value) value = "";
        if (data_mode()) {
            record_begin();
            record_field("name", "%s", names[i]);
            record_field("value", "%s", value);
            record_field("kind", "%s", permanent ? "permanent" : "temporary");
        } else {
            out_printf("%s %-12s = %s\n", permanent ? " " : "V", names[i], value);
        }
    }
    return 0;
}

// A word is written so that splitting the value gives it back: words holding a blank or
// a double quote, and empty words, are quoted, with inner quotes doubled.
void append_word(StringBuffer& value, const char* word) {
    if (*word && !strpbrk(word, " \t\"")) {
        append_text(value, word);
        return;
    }
    append_char(value, '"');
    for (const char* p = word; *p; p++) {
        if (*p == '"') append_char(value, '"');
        append_char(value, *p);
    }
    append_char(value, '"');
}

int alias_command(int count, char** vector) {
    const char* command = "alias";
    bool temporary = false;
    bool remove = false;
    const int i = read_env_switches(command, count, vector, &temporary, &remove);
    if (i < 0) return 2;
    const int words = count - i;
    if (remove) {
        if (words == 0) return report_usage(command);
        const char* name = vector[i];
        if (words > 1) return report_error(command, "%s: %s", name, "usage");
        if (const char* message = set_alias(name, nullptr, false, true))
            return report_error(command, "%s: %s", name, message);
        return 0;
    }
    if (words == 0) return list_aliases();
    const char* name = vector[i];
    if (words == 1) {
        const char* value = find_alias(name, nullptr);
        if (!value) return report_error(command, "%s: no such alias", name);
        out_printf("%s\n", value);
        return 0;
    }
    StringBuffer value;
    init(value);
    for (int k = i + 1; k < count; k++) {
        if (k > i + 1) append_char(value, ' ');
        append_word(value, vector[k]);
    }
    if (const char* message = set_alias(name, value.c_str(), !temporary, true))
        return report_error(command, "%s: %s", name, message);
    return 0;
}

}  // namespace

void register_alias_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
