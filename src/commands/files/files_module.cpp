// The file management command table.
#include "commands/files/file_commands.h"
#include "runtime/util.h"
#include "shell/registry.h"

namespace tarn {

namespace {

constexpr CommandDescriptor kFileCommands[] = {
    {"map", map_command, "map [-r] [-v] [-t fs|blk] | map NAME TARGET | map -d NAME",
     "List volumes and block devices; give volumes extra names",
     "  map            the volumes, then the block devices\n"
     "  map fsN        one volume\n"
     "  map -r         scan the volumes again (-u too); -v also shows device paths\n"
     "  map -t TYPE    fs: volumes only, blk: block devices only\n"
     "  map NAME TARGET  give the volume TARGET (fsN:, a path, blkN or a handle) the\n"
     "                 extra name NAME, usable as NAME: in paths\n"
     "  map -d NAME    remove an extra name\n",
     kCommandStructuredOutput},
    {"cd", cd, "cd [DIR | fsN:]", "Change the current directory",
     "  Without an argument prints the current directory. There is one current directory\n"
     "  for all volumes.\n",
     0},
    {"pwd", pwd, "pwd", "Print the current directory", nullptr, 0},
    {"ls", ls, "ls [-l] [-r] [-a[ashrd]] [PATH | PATTERN...]", "List files and directories",
     "  -l         long form: date, attributes, size and name, then a total\n"
     "  -r         every subdirectory too\n"
     "  -a         hidden and system entries too\n"
     "  -aLETTERS  only entries with all of these attributes: a archive, s system,\n"
     "             h hidden, r read-only, d directory (for example -ahs)\n"
     "  A pattern (* and ? in the last part) lists the matching entries.\n",
     kCommandStructuredOutput},
    {"dir", dir, "dir [-r] [-a[ashrd]] [PATH | PATTERN...]",
     "List files with details (same as ls -l)", nullptr, kCommandStructuredOutput},
    {"cp", cp, "cp [-r] [-q] SRC... DST", "Copy files (-r directories too)",
     "  Into DST when it is a directory, else to DST itself (one source only). Existing\n"
     "  files are overwritten; directories copied with -r are merged into existing ones.\n",
     0},
    {"mv", mv, "mv SRC... DST", "Move or rename files and directories",
     "  Into DST when it is a directory. A file at the target is replaced only when the\n"
     "  move succeeded. Between volumes the source is copied, then deleted.\n",
     0},
    {"rm", rm, "rm [-r] [-f] [-q] PATH...",
     "Delete files (-r or -q: directories too, -f ignore missing)", nullptr, 0},
    {"del", rm, "del [-r] [-f] [-q] PATH...", "Delete files (same as rm)", nullptr, 0},
    {"mkdir", mkdir, "mkdir [-p] DIR...", "Create directories (-p also the parents)", nullptr, 0},
    {"md", mkdir, "md [-p] DIR...", "Create directories (same as mkdir)", nullptr, 0},
    {"rmdir", rmdir, "rmdir DIR...", "Remove empty directories", nullptr, 0},
    {"touch", touch, "touch [-r] FILE...",
     "Set the modification time to now (creates missing files; -r recursive)", nullptr, 0},
    {"vol", vol, "vol [fsN:] [-n LABEL | -d]", "Show a volume, set (-n) or delete (-d) its label",
     "  A label has at most 11 characters and none of % ^ * + = [ ] | : ; \" < > ? / .\n",
     kCommandStructuredOutput},
    {"attrib", attrib, "attrib [+a|-a] [+s|-s] [+h|-h] [+r|-r] [FILE | DIR | PATTERN...]",
     "Show or change file attributes (archive, system, hidden, read-only)",
     "  Without a change, a directory lists the attributes of its entries; without a path,\n"
     "  the entries of the current directory.\n",
     0},
    {"setsize", setsize, "setsize SIZE FILE...",
     "Set the size of files (truncate or extend with zeros)",
     "  SIZE is decimal, or 0x.. hexadecimal; missing files are created.\n", 0},
    {"stat", stat_command, "stat PATH...", "Show file details", nullptr,
     kCommandStructuredOutput},
};

}  // namespace

void register_file_commands() { register_commands(kFileCommands, array_size(kFileCommands)); }

}  // namespace tarn
