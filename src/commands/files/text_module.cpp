// The text command table: cat, type, more, head, tail, grep, wc, hexdump, comp, cmp,
// parse.
#include "commands/files/text_commands.h"
#include "shell/registry.h"

namespace tarn {

namespace {

constexpr CommandDescriptor kTextCommands[] = {
    {"more", more, "more FILE...", "Print files one screen at a time",
     "  As cat, with paging on: Enter shows one more line, Space one more screen,\n"
     "  q or ESC stops.\n",
     0},
    {"cat", cat, "cat [-a|-u] FILE...", "Print files (UTF-8 or UCS-2 text, detected automatically)",
     "  A file starting with FF FE is read as UCS-2; a UTF-8 byte order mark is dropped;\n"
     "  carriage returns are dropped. -a and -u are accepted and ignored. Patterns\n"
     "  (* and ?) print every matching file.\n",
     0},
    {"type", type_command, "type [-a|-u] FILE...", "Print files (same as cat)", nullptr, 0},
    {"comp", comp, "comp [-n COUNT|all] [-s BYTES] FILE1 FILE2",
     "Compare two files and show where they differ",
     "  -n COUNT   stop after COUNT differences (default 10; all: no limit)\n"
     "  -s BYTES   bytes shown for each difference (default 16)\n"
     "  Exit code 0 when the files are equal, 1 when they differ.\n",
     0},
    {"cmp", cmp, "cmp [-s BYTES] FILE1 FILE2", "Compare two files and stop at the first difference",
     "  Exit code 0 when the files are equal, 1 when they differ.\n", 0},
    {"grep", grep, "grep [-i] [-v] [-n] [-c] TEXT FILE...", "Print the lines of files that contain a text",
     "  -i  ignore the case of A-Z      -v  the lines that do not contain TEXT\n"
     "  -n  show line numbers           -c  only count the lines of each file\n"
     "  TEXT is plain text, not a pattern. With several FILE arguments each line starts\n"
     "  with its file's name. Exit code 0 when some line was selected, else 1.\n",
     0},
    {"hexdump", hexdump, "hexdump [-s OFFSET] [-n LENGTH] FILE", "Hexadecimal dump of a file",
     "  -s OFFSET  start at this byte of the file    -n LENGTH  dump at most LENGTH bytes\n", 0},
    {"head", head, "head [-n N] FILE", "First N lines of a file (default 10)", nullptr, 0},
    {"tail", tail, "tail [-n N] FILE", "Last N lines of a file (default 10)", nullptr, 0},
    {"wc", wc, "wc FILE...", "Count lines, words and bytes",
     "  Prints lines, words and bytes, then the name, for each FILE.\n", 0},
    {"parse", parse, "parse FILE TABLE COLUMN [-i INSTANCE] [-s INSTANCE]",
     "Extract a column from standard-format (comma separated) output",
     "  Prints field COLUMN of the lines whose first field is TABLE (1 is the first value).\n"
     "  -i N  only the N-th such line        -s N  only lines of the N-th ShellCommand\n"
     "  Exit code 0 when a line was found, 127 when none was.\n",
     0},
};

}  // namespace

void register_text_commands() { register_commands(kTextCommands, array_size(kTextCommands)); }

}  // namespace tarn
