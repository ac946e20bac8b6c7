"""The test launcher: starts an image from its volume with a command line, reports the
exit status on the console and in \\result.txt, and always shuts the machine down."""

import re

from harness import Machine, expect, run_cases

STATUS = re.compile(r"launcher: exit status (0x[0-9a-f]{16})\n")


def reports_exit_status(efi_dir):
    # A byte order mark, blanks, CRLF and a second line exercise the launch file reader;
    # only the first line counts.
    launch = "\ufeff\\fwcheck.efi   fwcheck.efi exit 3  \r\nignored second line"
    with Machine(efi_dir, launch=launch, name="launcher-status") as m:
        m.wait_boot()
        m.wait_for("launcher: starting \\fwcheck.efi\n")
        m.wait_for("exit: leaving with 3\n")  # fwcheck read its command line
        line = m.wait_for(STATUS)
        status = m.exit_status()  # shutdown, and \result.txt agrees with the console
        expect(status == int(line.group(1), 16), "status %#x vs %r" % (status, line.group(0)))
        # Exit code 3 leaves the program as an error status with the code in the low bits.
        expect(status == 0x8000000000000003, "fwcheck.efi exit 3 gave %#x" % status)
        expect(m.result_text().splitlines() == [line.group(1)], repr(m.result_text()))
        expect(m.debug_exit_value() is None, "ended through the debug-exit port")


def reports_missing_image(efi_dir):
    with Machine(efi_dir, launch="\\missing\\nothere.efi nothere.efi",
                 name="launcher-missing") as m:
        m.wait_boot()
        m.wait_for("launcher: error: cannot load \\missing\\nothere.efi "
                   "(status 0x800000000000000e)")
        expect(m.wait_exit() == 0, "QEMU did not end by a shutdown")
        result = m.result_text()
        expect(result.startswith("error: cannot load \\missing\\nothere.efi"), repr(result))
        expect("launcher: exit status" not in m.output(), "a status was reported for no image")


def reports_missing_launch_file(efi_dir):
    # The launcher without \launch.txt, booted directly: it must still shut down.
    with Machine(efi_dir, boot="launcher.efi", name="launcher-nofile") as m:
        m.wait_boot()
        m.wait_for("launcher: error: cannot read \\launch.txt")
        expect(m.wait_exit() == 0, "QEMU did not end by a shutdown")
        expect(m.result_text().startswith("error: cannot read \\launch.txt"), m.result_text())


if __name__ == "__main__":
    run_cases([reports_exit_status, reports_missing_image, reports_missing_launch_file])
