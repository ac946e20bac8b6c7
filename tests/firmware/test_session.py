"""The interactive shell in real firmware, typed over the serial line as a person would:
banner and prompt, completion, line editing, history kept across boots, help, exit
statuses, the startup script's countdown, and the -h, -c and -k modes."""

import re

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "


def edits_completes_and_leaves_with_status(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="session-edit") as m:
        m.wait_boot()
        m.wait_for("TARN 0.2.1 - Tarnwick (UEFI x86_64)\n")
        m.wait_for("Type 'help' for the commands, 'help basic' for the scripting language.\n")
        m.wait_for(PROMPT)
        # Tab completes a unique command name with a blank after it.
        m.send("ec\t")
        m.wait_for("echo ")
        m.send("tab done\r")
        m.wait_for("tab done\n")
        m.wait_for(PROMPT)
        # A line edited with arrows, Home, End, Backspace and Delete runs as edited.
        m.send("xecho hello wrld")
        for _ in range(3):
            m.send_key("Left")
        m.send("o")
        m.send_key("Home")
        m.send_key("Delete")
        m.send_key("End")
        m.send("!!")
        m.send_key("Backspace")
        m.send("\r")
        m.wait_for("\nhello world!\n")
        m.wait_for(PROMPT)
        # help lists the commands in aligned columns (paging off: the list is longer
        # than the screen).
        m.send("set -v pager off\r")
        m.wait_for(PROMPT)
        m.send("help\r")
        m.wait_for("Commands (help NAME for details, 'help basic' for the scripting language):\n")
        listing = m.wait_for(re.compile(r"((?:  \S+ +\S.*\n)+)\nScripts \(\.tsb\)")).group(1)
        rows = listing.splitlines()
        expect(len(rows) >= 9, "help listed %d commands" % len(rows))
        columns = {len(re.match(r"  \S+ +", r).group(0)) for r in rows}
        expect(len(columns) == 1, "summaries not aligned: %r" % rows)
        names = [r.split()[0] for r in rows]
        expect(names == sorted(names), "not sorted: %r" % names)
        m.wait_for("Topics: help keys, help syntax, help basic, help functions.\n")
        m.wait_for(PROMPT)
        # The help topics: the keys of a serial terminal, and the -data list of the
        # commands this build has.
        m.send("help keys\r")
        m.wait_for("press Ctrl-A Ctrl-A\n")
        m.wait_for(PROMPT)
        m.send("help syntax\r")
        # The list ends where a line that is not indented begins (matching on the first
        # line alone would race the rest of the output).
        data = m.wait_for(re.compile(r"Commands that accept -data:\n((?:    .*\n)+)(?=[^ ])")).group(1)
        expect(" ls" in data and " map" in data and " echo" not in data, "-data list: %r" % data)
        m.wait_for("sleep 10 waits 10 milliseconds")
        m.wait_for(PROMPT)
        m.send("exit 3\r")
        status = m.exit_status()
        expect(status == 0x8000000000000003, "exit 3 gave %#x" % status)


def history_survives_a_reboot(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="session-hist1") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("echo remembered line\r")
        m.wait_for("remembered line\n")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")
        history = m.read_file("\\tarn_history.txt").decode("utf-8", "replace")
    expect("echo remembered line" in history, "history file: %r" % history)
    # The next boot reads the file: Up recalls the line.
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="session-hist2",
                 files={"\\tarn_history.txt": history}) as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send_key("Up")
        m.send_key("Up")
        m.send("\r")
        m.wait_for("\nremembered line\n")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")


def startup_script_countdown(efi_dir):
    script = 'PRINT "startup ran"\n'
    # Any key other than ESC starts it at once.
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi", name="session-start1",
                 files={"\\startup.tsb": script}) as m:
        m.wait_boot()
        m.wait_for("Running fs0:\\startup.tsb in 3 s (ESC to skip, any other key to start now) ")
        m.send("x")
        m.wait_for("startup ran\n")
        expect("in 2 s" not in m.output(), "the countdown went on after a key")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")
    # ESC skips it (a lone ESC reaches the firmware application after about 2 s).
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi", name="session-start2",
                 files={"\\startup.tsb": script}) as m:
        m.wait_boot()
        m.wait_for("Running fs0:\\startup.tsb in 3 s")
        m.send_key("Esc")
        m.wait_for(PROMPT)
        expect("startup ran" not in m.output(), "ESC did not skip the script")
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")


def argument_modes(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -h", name="session-h") as m:
        m.wait_boot()
        m.wait_for("usage: tarn [-n] [-c CODE] [-k SCRIPT...] [SCRIPT [ARGS...]]\n")
        m.wait_for("  -n        do not run startup.tsb\n")
        expect(m.exit_status() == 0, "-h status")
    with Machine(efi_dir, launch='\\tarn.efi tarn.efi -c "FOR i = 1 TO 3: PRINT i;: NEXT: PRINT"',
                 name="session-c") as m:
        m.wait_boot()
        m.wait_for("123\n")
        expect(m.exit_status() == 0, "-c status")
        expect("TARN 0.2.1" not in m.output(), "banner shown in -c mode")
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -k \\bad.tsb \\good.tsb", name="session-k",
                 files={"\\bad.tsb": "PRINT 1\nIF x THEN\nPRINT 2\n", "\\good.tsb": "PRINT 1\n"}) as m:
        m.wait_boot()
        m.wait_for(re.compile(r"fs0:\\bad\.tsb:\d+: syntax error: "))
        status = m.exit_status()
        expect(status == 0x8000000000000001, "-k status %#x" % status)
        expect("good.tsb" not in m.output(), "a good script was reported")


def core_commands(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="session-core") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("ver\r")
        m.wait_for("TARN 0.2.1 - Tarnwick\nPlatform: UEFI x86_64\nFirmware: EDK II (revision 0x")
        m.wait_for("UEFI:     2.7")
        m.wait_for("Secure Boot: inactive\n")
        m.send("echo -n a b\r")
        m.wait_for("a b")
        m.send("history 2\r")
        m.wait_for(re.compile(r" +\d+  echo -n a b\n +\d+  history 2\n"))
        m.send("which echo nothing_here\r")
        m.wait_for("echo: built-in command\n")
        m.wait_for("nothing_here: not found\n")
        m.send("sleep 300\r")
        m.wait_for(PROMPT)
        m.send("pause\r")
        m.wait_for("Press any key to continue...")
        m.send("k")
        m.wait_for(PROMPT)
        m.send("cls 1\r")
        m.wait_for(PROMPT)
        m.send("help cls\r")
        m.wait_for("usage: cls [BACKGROUND]\n\nClear the screen\n")
        m.send("exit /b 5\r")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")


if __name__ == "__main__":
    run_cases([edits_completes_and_leaves_with_status, history_survives_a_reboot,
               startup_script_countdown, argument_modes, core_commands])
