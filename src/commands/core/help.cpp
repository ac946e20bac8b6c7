// help: the command list, a command's usage and details, and the language reference.
#include "basic/functions.h"
#include "basic/lexer.h"
#include "commands/core/core_commands.h"
#include "commands/core/reference_texts.h"
#include "runtime/format.h"
#include "runtime/memory.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

int help_command(int count, char** vector);

namespace {

constexpr CommandDescriptor kCommands[] = {
    {"help", help_command, "help [COMMAND | STATEMENT | FUNCTION | keys | syntax | basic | functions]",
     "Show help",
     "  help              list the commands\n"
     "  help NAME         usage and details of a command\n"
     "  help keys         the editing keys of the prompt, the pager and menus\n"
     "  help syntax       quotes, redirection, -b and -data, the path search, BASIC lines\n"
     "  help basic        the TARN BASIC quick reference\n"
     "  help functions    the built-in functions of TARN BASIC\n"
     "  help WORD         the reference lines that mention a statement or function\n",
     0},
};


bool is_word_char(char c) { return is_alnum(static_cast<unsigned char>(c)) || c == '_'; }

void list_commands() {
    out_text("Commands (help NAME for details, 'help basic' for the scripting language):\n\n");
    int width = 0;
    for (uint64_t i = 0; i < command_count(); i++) {
        int n = static_cast<int>(strlen(command_at(i)->name));
        if (n > width) width = n;
    }
    for (uint64_t i = 0; i < command_count(); i++) {
        const CommandDescriptor* d = command_at(i);
        out_printf("  %-*s  %s\n", width, d->name, d->summary ? d->summary : "");
    }
    out_text("\nScripts (.tsb) and EFI applications (.efi) are run by typing their name.\n");
    out_text("Topics: help keys, help syntax, help basic, help functions.\n");
}

// Prints the lines of text that mention word; returns how many.
int print_mentions(const char* text, const char* word) {
    int found = 0;
    const char* line = text;
    while (*line) {
        const char* end = strchr(line, '\n');
        uint64_t length = end ? static_cast<uint64_t>(end - line) : strlen(line);
        if (line_mentions(line, length, word)) {
            out_printf("  %.*s\n", static_cast<int>(length), line);
            found++;
        }
        if (!end) break;
        line = end + 1;
    }
    return found;
}

}  // namespace

bool line_mentions(const char* line, uint64_t length, const char* word) {
    uint64_t n = strlen(word);
    if (n == 0 || n > length) return false;
    bool word_ends_in_dollar = word[n - 1] == '$';
    for (uint64_t i = 0; i + n <= length; i++) {
        if (memcmp(line + i, word, n) != 0) continue;
        if (i > 0) {
            char before = line[i - 1];
            if (is_word_char(before) || before == '$') continue;
        }
        if (i + n < length) {
            char after = line[i + n];
            if (is_word_char(after)) continue;
            if (after == '$' && !word_ends_in_dollar) continue;
        }
        return true;
    }
    return false;
}

int help_command(int count, char** vector) {
    if (count < 2) {
        list_commands();
        return 0;
    }
    const char* arg = vector[1];
    if (equal_nocase(arg, "basic") || equal_nocase(arg, "language")) {
        out_text(kQuickReference);
        return 0;
    }
    if (equal_nocase(arg, "functions") || equal_nocase(arg, "func")) {
        out_text(kFunctionOverview);
        return 0;
    }
    if (show_help_topic(arg)) return 0;
    if (const CommandDescriptor* d = find_command(arg)) {
        out_printf("usage: %s\n\n%s\n", d->usage ? d->usage : d->name, d->summary ? d->summary : "");
        if (d->help) out_printf("\n%s", d->help);
        return 0;
    }

    // A word of the language. The "$" form is tried when the bare word is unknown, and
    // then used both for the heading and for the search.
    Owned<char> name(xstrdup(arg));
    bool is_function = find_function(name.get()) != nullptr;
    bool is_statement = is_keyword(name.get());
    if (!is_function && !is_statement) {
        name.reset(format_string("%s$", arg));
        is_function = find_function(name.get()) != nullptr;
        if (!is_function)
            return report_error(vector[0], "no help for '%s' (try 'help', 'help basic' or 'help functions')", arg);
    }
    for (char* p = name.get(); *p; p++) *p = static_cast<char>(to_upper(static_cast<unsigned char>(*p)));
    out_printf("%s is a TARN BASIC %s.\n\n", name.get(),
               is_function && !is_statement ? "built-in function" : "statement");
    int found = print_mentions(kQuickReference, name.get());
    found += print_mentions(kFunctionOverview, name.get());
    if (found == 0)
        out_text("  See 'help basic' and 'help functions'.\n");
    else
        out_text("\nMore: 'help basic' (language), 'help functions' (functions).\n");
    return 0;
}

void register_help_command() { register_commands(kCommands, array_size(kCommands)); }

}  // namespace tarn
