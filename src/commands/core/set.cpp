// set: show or change environment variables.
#include "commands/core/core_commands.h"
#include "commands/core/env_switches.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/string_buffer.h"
#include "runtime/strings.h"
#include "shell/environment.h"
#include "shell/options.h"
#include "shell/registry.h"

namespace tarn {
namespace {

int set_command(int count, char** vector);

constexpr CommandDescriptor kCommands[] = {
    {"set", set_command, "set [-v] [NAME [VALUE...]] | set -d NAME",
     "Show or change environment variables",
     "  With no NAME, lists every variable: R marks the read-only ones, V the temporary\n"
     "  ones; the others are kept in the firmware and return after a restart.\n"
     "  set NAME            prints the value\n"
     "  set NAME VALUE...   stores the words joined by spaces (permanent)\n"
     "  set -v NAME VALUE   stores it for this session only\n"
     "  set -d NAME         deletes the variable\n"
     "  Read-only: cwd, lasterror, tarnversion, uefishellsupport, uefishellversion,\n"
     "  uefiversion. Special: path (command search), pager (off or 0 stops paging).\n",
     kCommandStructuredOutput},
};

const char* kind_of(const char* name) {
    if (is_read_only_variable(name)) return "readonly";
    return variable_is_permanent(name) ? "permanent" : "temporary";
}

int list_variables() {
    NameList names = variable_names();
    for (uint64_t i = 0; i < names.count; i++) {
        Owned<char> value(get_variable(names[i]));
        const char* text = value ? value.get() : "";
        const char* kind = kind_of(names[i]);
        if (data_mode()) {
            record_begin();
            record_field("name", "%s", names[i]);
            record_field("value", "%s", text);
            record_field("kind", "%s", kind);
        } else {
            char marker = kind[0] == 'r' ? 'R' : kind[0] == 't' ? 'V' : ' ';
            out_printf("%c %-18s = %s\n", marker, names[i], text);
        }
    }
    if (!data_mode()) out_text("(V: temporary, R: read-only, others are kept in the firmware)\n");
    return 0;
}


struct EnvSwitches {
    bool temporary = false;
    bool remove = false;
};

constexpr Option<EnvSwitches> kEnvSwitches[] = {
    switch_option("v", &EnvSwitches::temporary),
    switch_option("d", &EnvSwitches::remove),
};

}  // namespace

int read_env_switches(const char* command, int count, char** vector, bool* temporary, bool* remove) {
    EnvSwitches s;
    const int first = parse_options(count, vector, kEnvSwitches, kOptionsLeading | kOptionsLongWordsPositional, &s);
    if (first < 0) return -1;
    *temporary = s.temporary;
    *remove = s.remove;
    return first;
}

namespace {

int set_command(int count, char** vector) {
    const char* command = "set";
    bool temporary = false;
    bool remove = false;
    const int i = read_env_switches(command, count, vector, &temporary, &remove);
    if (i < 0) return 2;
    const int words = count - i;
    if (remove) {
        if (words != 1) return report_usage(command);
        const char* name = vector[i];
        if (const char* message = set_variable(name, nullptr, false))
            return report_error(command, "%s: %s", name, message);
        return 0;
    }
    if (words == 0) return list_variables();
    const char* name = vector[i];
    if (words == 1) {
        Owned<char> value(get_variable(name));
        if (!value) return report_error(command, "%s: no such variable", name);
        out_printf("%s\n", value.get());
        return 0;
    }
    StringBuffer value;
    init(value);
    for (int k = i + 1; k < count; k++) {
        if (k > i + 1) append_char(value, ' ');
        append_text(value, vector[k]);
    }
    if (const char* message = set_variable(name, value.c_str(), !temporary))
        return report_error(command, "%s: %s", name, message);
    return 0;
}

}  // namespace

void register_set_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
