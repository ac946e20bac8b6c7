"""The runtime's output channel in real firmware, driven by the fwcheck test program:
UTF-8 and long lines on the serial console, error lines in light red, the pager's
"-- More --" prompt and its keys, Ctrl-C seen by poll_break, type-ahead, exit statuses."""

import re

from harness import Machine, expect, run_cases

LIGHT_RED = b"\x1b[1m\x1b[31m"


def writes_text_and_red_error_lines(efi_dir):
    with Machine(efi_dir, launch="\\fwcheck.efi fwcheck.efi output", name="out-text") as m:
        m.wait_boot()
        m.wait_for("fwcheck: output begins\n")
        # Characters outside ASCII arrive as '?' on the serial terminal, one per character.
        m.wait_for("utf8: gr?? ? ok\n")
        long_line = "".join("<%02d>" % i for i in range(30))
        m.wait_for("long: %s|end\n" % long_line)
        m.wait_for("format: [   42] [ab   ] [0beef] [-9000000000]\n")
        m.wait_for("fwcheck: this line is red\n")
        m.wait_for("fwcheck: done\n")
        red = m.raw.find(LIGHT_RED + b"\x1b[40mfwcheck: this line is red")
        expect(red >= 0, "the error line is not light red: %r" % m.raw[-300:])
        expect(m.exit_status() == 0, "status")


def pages_with_more_prompt(efi_dir):
    with Machine(efi_dir, launch="\\fwcheck.efi fwcheck.efi pager", name="out-pager") as m:
        m.wait_boot()
        m.wait_for("-- More -- (Enter: one line, Space: one page, q: stop) ")
        shown = m.output()
        expect("line 024\n" in shown and "line 025" not in shown, "first page: %s" % m.tail())
        m.send("\r")
        m.wait_for("line 025\n")
        m.wait_for("-- More --")
        expect("line 026" not in m.output(), "Enter gave more than one line")
        m.send(" ")
        m.wait_for("line 049\n")
        m.wait_for("-- More --")
        expect("line 050" not in m.output(), "Space gave more than a page")
        m.send("q")
        m.wait_for("pager: printed=49 stopped=yes break=yes\n")
        expect("line 050" not in m.output(), "output went on after q")
        expect(m.exit_status() == 0, "status")


def sees_ctrl_c_quickly(efi_dir):
    with Machine(efi_dir, launch="\\fwcheck.efi fwcheck.efi break", name="out-break") as m:
        m.wait_boot()
        m.wait_for("break: ready\n")
        m.send_key("Ctrl-C")
        found = m.wait_for(re.compile(r"break: seen latency_ms=(\d+) iterations=(\d+)\n"))
        latency = int(found.group(1))
        expect(latency <= 100, "Ctrl-C seen after %d ms" % latency)
        expect(m.exit_status() == 0, "status")


def keeps_type_ahead(efi_dir):
    with Machine(efi_dir, launch="\\fwcheck.efi fwcheck.efi typeahead", name="out-typeahead") as m:
        m.wait_boot()
        m.wait_for("typeahead: ready\n")
        m.send("hello")
        m.wait_for("typeahead: got=[hello] count=5\n")
        expect(m.exit_status() == 0, "status")


def exit_code_256_keeps_low_bits(efi_dir):
    with Machine(efi_dir, launch="\\fwcheck.efi fwcheck.efi exit 256", name="out-exit") as m:
        m.wait_boot()
        m.wait_for("exit: leaving with 256\n")
        status = m.exit_status()
        expect(status == 0x8000000000000000, "exit 256 gave %#x" % status)


def fatal_stop_exits_with_one(efi_dir):
    with Machine(efi_dir, launch="\\fwcheck.efi fwcheck.efi fatal", name="out-fatal") as m:
        m.wait_boot()
        m.wait_for("\ntarn: fatal: fwcheck fatal stop\n")
        status = m.exit_status()
        expect(status == 0x8000000000000001, "fatal gave %#x" % status)


if __name__ == "__main__":
    run_cases([writes_text_and_red_error_lines, pages_with_more_prompt, sees_ctrl_c_quickly,
               keeps_type_ahead, exit_code_256_keeps_low_bits, fatal_stop_exits_with_one])
