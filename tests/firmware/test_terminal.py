"""The session on terminals of other sizes than the firmware's text mode (100x31 under
OVMF): QEMU runs under a pseudo-terminal of 120x40 and of 80x24 whose bytes are replayed
into a terminal emulator (pyte), which also answers the shell's size query. Checked per
boot: twenty commands leave a transcript in which no line was written over another, a
long wrapped line edited in the middle with the keys a Linux terminal sends (Delete
ESC[3~, Home ESC[1~, End ESC[4~, Ctrl+Left ESC[1;5D) shows and runs as edited, the pager
stops after the lines that fit, Ctrl-C stops grep over a 1.6 MB file within a second,
and Tab completion of a name with a blank gives a line that runs."""

import re
import time

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "
SIZES = [(120, 40), (80, 24)]

LONG_TEXT = "".join("line %d\n" % i for i in range(1, 101))
BIG_TEXT = "".join("line %06d with some words to match\n" % i for i in range(46000))

DELETE = b"\x1b[3~"
HOME = b"\x1b[1~"
END = b"\x1b[4~"
CTRL_LEFT = b"\x1b[1;5D"
LEFT = b"\x1b[D"  # decoded by the firmware itself


def wrap(lines, columns):
    """Screen lines of text lines on a terminal `columns` wide."""
    out = []
    for line in lines:
        if not line:
            out.append("")
        for i in range(0, len(line), columns):
            out.append(line[i:i + columns].rstrip())
    return out


def wait_screen(m, check, what, timeout=20.0):
    """Waits until check(display rows) holds."""
    deadline = time.monotonic() + timeout
    while True:
        with m._cond:
            rows = [r.rstrip() for r in m.screen.display]
        if check(rows):
            return rows
        if time.monotonic() > deadline:
            raise AssertionError("%s; the terminal shows:\n%s" % (what, "\n".join(rows)))
        time.sleep(0.1)


def session_of_twenty_commands(m, columns):
    m.send("cls\r")
    mark = m.mark()
    commands = ["ver"] * 8 + ["echo line %d" % i for i in range(11)] + ["echo marker"]
    for c in commands:
        m.send(c + "\r")
        m.wait_for(PROMPT)
    m.wait_for("marker\n")
    m.wait_for(PROMPT)
    # Everything written since the screen was cleared, as lines, ends the terminal's
    # transcript (scrolled-off lines included) in the same order.
    written = m.since(mark)
    written = written[written.index("\n") + 1:] if written.startswith("cls") else written
    expected = wrap(written.split("\n"), columns)
    while expected and not expected[-1]:
        expected.pop()
    time.sleep(0.5)
    shown = m.screen_lines()
    expect(shown[-len(expected):] == expected,
           "the terminal's last lines differ from what was written:\n%s\n---- expected\n%s"
           % ("\n".join(shown[-len(expected):]), "\n".join(expected)))


def long_line_edited_in_the_middle(m, columns):
    body = "".join(chr(ord("a") + i % 26) for i in range(150))
    m.send("cho " + body)
    m.send(HOME)
    m.send("e")
    m.send(END)
    for _ in range(100):
        m.send(LEFT)
    m.send("XYZ")
    m.send(DELETE)
    m.send(END)
    m.send(CTRL_LEFT)
    m.send("W ")
    m.send("\r")
    edited = body[:50] + "XYZ" + body[51:]
    m.wait_for("\nW " + edited + "\n")
    m.wait_for(PROMPT)
    command_rows = wrap([PROMPT + "echo W " + edited], columns)
    output_rows = wrap(["W " + edited], columns)
    want = command_rows + output_rows + [PROMPT.rstrip()]
    rows = wait_screen(m, lambda r: [x for x in r if x][-len(want):] == want,
                       "the edited line is not shown in place")
    expect(rows is not None)


def pager_stops_after_the_lines_that_fit(m, rows):
    m.send("cls\r")
    m.wait_for(PROMPT)
    mark = m.mark()
    m.send("more long.txt\r")
    m.wait_for("-- More --")
    shown = rows - 1
    before = m.since(mark)
    expect(("line %d\n" % shown) in before and ("line %d\n" % (shown + 1)) not in before,
           "the pager did not stop after %d lines:\n%s" % (shown, before))
    display = wait_screen(m, lambda r: r[-1].startswith("-- More --"), "no prompt on the last row")
    expect(display[0] == "line 1" and display[shown - 1] == "line %d" % shown,
           "lines scrolled away before the prompt: %r" % display[:3])
    m.send("q")
    m.wait_for(PROMPT)


def ctrl_c_stops_grep(m):
    m.send("set -v pager off\r")
    m.wait_for(PROMPT)
    m.send("grep -n line big.txt\r")
    m.wait_for("\n2000:line 001999")
    sent = time.monotonic()
    m.send(b"\x03")
    m.wait_for("^C\n", timeout=10)
    took = time.monotonic() - sent
    m.wait_for(PROMPT)
    expect(took < 1.0, "grep stopped %.2f s after Ctrl-C" % took)
    m.send("set lasterror\r")
    m.wait_for("set lasterror\n0x82\n")
    m.wait_for(PROMPT)


def completion_of_a_name_with_a_blank(m):
    # The editor redraws the word in place, so the terminal's screen shows the result.
    m.send("type my\t")
    wait_screen(m, lambda r: (PROMPT + 'type "my dir\\') in r, "no quoted directory")
    m.send("\t")
    wait_screen(m, lambda r: (PROMPT + 'type "my dir\\file one.txt"') in r, "no quoted file name")
    m.send("\r")
    m.wait_for("inside the folder\n")
    m.wait_for(PROMPT)


def make_case(columns, rows):
    def case(efi_dir):
        files = {"\\long.txt": LONG_TEXT, "\\big.txt": BIG_TEXT,
                 "\\my dir\\file one.txt": "inside the folder\n"}
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files,
                     terminal=(columns, rows), name="terminal-%dx%d" % (columns, rows)) as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            session_of_twenty_commands(m, columns)
            long_line_edited_in_the_middle(m, columns)
            pager_stops_after_the_lines_that_fit(m, rows)
            ctrl_c_stops_grep(m)
            completion_of_a_name_with_a_blank(m)
            m.send("exit 0\r")
            status = m.exit_status()
            expect(status == 0, "exit status %#x" % status)
    case.__name__ = "terminal_%dx%d" % (columns, rows)
    return case


if __name__ == "__main__":
    run_cases([make_case(c, r) for c, r in SIZES])
