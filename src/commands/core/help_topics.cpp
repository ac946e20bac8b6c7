// help keys and help syntax: the editing keys and the command-line rules, for people who
// meet the shell on a serial terminal and have not read its code.
#include "commands/core/core_commands.h"
#include "runtime/output.h"
#include "runtime/strings.h"
#include "shell/registry.h"

namespace tarn {

namespace {

constexpr const char kKeysTopic[] =
    "Keys at the prompt (the line editor)\n"
    "\n"
    "  Left, Right         one character            also Ctrl-B, Ctrl-F\n"
    "  Ctrl-Left/Right     one word                 also Alt-B, Alt-F\n"
    "  Home, End           start, end of the line   also Ctrl-A, Ctrl-E\n"
    "  Backspace           delete before the cursor (Ctrl-H)\n"
    "  Delete              delete under the cursor  also Ctrl-D\n"
    "  Ctrl-K              delete to the end of the line\n"
    "  Ctrl-U              delete to the start of the line\n"
    "  Ctrl-W              delete the word before the cursor\n"
    "  Esc                 clear the line\n"
    "  Ctrl-C              give up the line (while a command runs: stop it)\n"
    "  Ctrl-L              clear the screen and draw the line again\n"
    "  Up, Down            older, newer line of the history\n"
    "  Ctrl-R              search the history backwards as you type; Ctrl-R\n"
    "                      again finds an older line; any other key keeps the\n"
    "                      line found; Esc, Ctrl-C or Ctrl-G cancel\n"
    "  Tab                 complete a command, file or folder name (quoted\n"
    "                      when it holds a blank); with several choices their\n"
    "                      common start, or the list of them\n"
    "  Enter               run the line\n"
    "\n"
    "Menus: Up, Down, Home, End move; Enter or a digit 1-9 chooses; Esc cancels.\n"
    "\n"
    "The pager ('set -v pager off' turns it off; -b pages one command anyway):\n"
    "  Enter               one more line\n"
    "  Space (any key)     one more page\n"
    "  q, Esc, Ctrl-C      stop the output\n"
    "\n"
    "On a serial terminal\n"
    "  Arrows arrive as ESC [ A/B/C/D; Home as ESC [ H, ESC [ 1 ~ or ESC O H;\n"
    "  End as ESC [ F, ESC [ 4 ~ or ESC O F; Delete as ESC [ 3 ~ or ESC [ X;\n"
    "  F1-F12 in the VT220 and xterm forms. Ctrl-B, Ctrl-F, Ctrl-A, Ctrl-E and\n"
    "  Ctrl-D do the same work on any terminal. Alt-B and Alt-F arrive as Esc\n"
    "  and the letter sent together (Esc followed within 0.1 s by a character\n"
    "  is read as Alt); Ctrl+arrow works only where the terminal's modifier\n"
    "  sequence reaches the shell. A lone Esc arrives after about 2 seconds on\n"
    "  OVMF's serial console.\n"
    "  Under QEMU in a terminal, Ctrl-A is QEMU's own key: press Ctrl-A Ctrl-A\n"
    "  for the shell's Ctrl-A (start of line); Ctrl-A X quits QEMU.\n"
    "  The shell asks the terminal for its size at the first prompt; without\n"
    "  an answer it uses the firmware's text mode (often 80x25 or 100x31).\n";

constexpr const char kSyntaxTopic[] =
    "The command line\n"
    "\n"
    "Words are separated by blanks (spaces and tabs). There are no pipes, no\n"
    "';', no wildcard expansion by the shell (commands expand their own * and\n"
    "?), no escape character and no $variables: scripts build command lines\n"
    "with BASIC strings.\n"
    "\n"
    "Quotes  \"two words\" is one word; inside quotes \"\" stands for one \":\n"
    "          echo \"a \"\"quoted\"\" word\"      prints   a \"quoted\" word\n"
    "        \"\" alone is an empty argument; ab\"c d\"e is the one word abc de.\n"
    "\n"
    "Output  > FILE writes the output to FILE (replacing it), >> FILE appends;\n"
    "        the last redirection of a line wins; it may stand anywhere:\n"
    "          ls -l > listing.txt        echo done >> \"my log.txt\"\n"
    "\n"
    "Switches every command takes\n"
    "  -b      page this command's output even where paging is off\n"
    "  -data   print records instead of text: a record is lines KEY=VALUE,\n"
    "          records are separated by an empty line. BASIC reads them with\n"
    "          RECORDS and FIELD$:\n"
    "            n = RECORDS(RUN$(\"map -data\"), v$())\n"
    "            FOR i = 0 TO n - 1: PRINT FIELD$(v$(i), \"volume\"): NEXT\n"
    "  Commands that accept -data:\n";

constexpr const char kSyntaxTail[] =
    "\n"
    "Finding a command: a built-in command first, then NAME.tsb, NAME.efi and\n"
    "NAME in each folder of the path variable ('set path' shows it; '.' is the\n"
    "current folder). A name with a folder or volume (fs0:\\tools\\x.efi) runs\n"
    "from there. fs1: alone switches to volume fs1. EFI applications get the\n"
    "rest of the line as their arguments.\n"
    "\n"
    "BASIC at the prompt: a line that begins with a statement of TARN BASIC\n"
    "(PRINT, IF, FOR, DIM, ...), an assignment (x = 5) or a call of a SUB\n"
    "defined earlier runs as BASIC; blocks (FOR ... NEXT) go on at a \"... \"\n"
    "prompt. Some words are both:\n"
    "  cls, pause, sleep  are the BASIC statements CLS, PAUSE and SLEEP at\n"
    "                     the prompt: sleep 10 waits 10 milliseconds, not\n"
    "                     seconds. In a script, RUN \"pause\" reaches the\n"
    "                     command.\n"
    "  exit               ends the shell (exit /b ends a script); EXIT FOR\n"
    "                     and the like are BASIC.\n"
    "See 'help basic' for the language and 'help functions' for its functions.\n";

}  // namespace

bool show_help_topic(const char* topic) {
    if (equal_nocase(topic, "keys")) {
        out_text(kKeysTopic);
        return true;
    }
    if (!equal_nocase(topic, "syntax")) return false;
    out_text(kSyntaxTopic);
    // Listed from the registry, so every family that comes with records is named.
    int column = 0;
    for (uint64_t i = 0; i < command_count(); i++) {
        const CommandDescriptor* d = command_at(i);
        if (!(d->flags & kCommandStructuredOutput)) continue;
        const int n = static_cast<int>(strlen(d->name));
        if (column == 0) {
            out_text("   ");
            column = 3;
        } else if (column + 1 + n > 76) {
            out_text("\n   ");
            column = 3;
        }
        out_printf(" %s", d->name);
        column += 1 + n;
    }
    if (column) out_text("\n");
    out_text(kSyntaxTail);
    return true;
}

}  // namespace tarn
