"""Starting EFI applications from TARN in OVMF, with probe.efi reporting what it was given:
load options and Argv from a typed line, console output redirected into a file (read back
with mtools), the probe's status in lasterror; and, under the Secure Boot firmware with
the snakeoil key, a signed TARN refusing the unsigned probe and running the signed one."""

import os
import pathlib
import tempfile

from harness import Machine, expect, run_cases, sign_image

PROMPT = "fs0:\\> "


def probe_lines(command_line: str, argv: list[str]) -> list[str]:
    """The lines probe.efi prints for a command line and its arguments."""
    lines = ["probe: options [%s] size %d" % (command_line, 2 * len(command_line) + 2),
             "probe: argc %d" % len(argv)]
    lines += ["probe: argv[%d] [%s]" % (i, a) for i, a in enumerate(argv)]
    return lines + ["probe: handles in out err", "probe: console line", "probe: stdout line"]


def started_from_the_prompt(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="images",
                 files={"\\probe.efi": pathlib.Path(os.path.join(efi_dir, "probe.efi"))}) as m:
        m.wait_boot()
        m.wait_for(PROMPT)

        # Typed arguments reach the probe as load options and as Argv.
        mark = m.mark()
        m.send_line('probe.efi "a b" "" "x""y"')
        m.wait_for("probe: stdout line\n")
        m.wait_for(PROMPT)
        shown = [l for l in m.since(mark).split("\n") if l.startswith("probe: ")]
        want = probe_lines('fs0:\\probe.efi "a b" "" "x""y"', ["fs0:\\probe.efi", "a b", "", 'x"y'])
        expect(shown == want, "probe saw:\n%s\nexpected:\n%s" % ("\n".join(shown), "\n".join(want)))

        # Redirected: everything it prints lands in the file; the console is back afterwards.
        mark = m.mark()
        m.send_line("probe.efi clear > fs0:\\o.txt")
        m.wait_for(PROMPT)
        expect("probe: console line" not in m.since(mark), "probe output reached the console")
        m.send_line("echo console back")
        m.wait_for("console back\n")
        m.wait_for(PROMPT)

        # Exit data and status: both lines on the error stream, the low byte in lasterror.
        m.send_line("probe.efi status=5 data=went_wrong")
        m.wait_for("probe.efi: went_wrong\n")
        m.wait_for("probe.efi: exited with status: buffer too small\n")
        m.wait_for(PROMPT)
        m.send_line("set lasterror")
        m.wait_for("0x5\n")
        m.wait_for(PROMPT)
        m.send_line("probe.efi")
        m.wait_for(PROMPT)
        m.send_line("set lasterror")
        m.wait_for("0x0\n")
        m.wait_for(PROMPT)

        # Not an image the firmware can load.
        m.send_line("echo text > fs0:\\fake.efi")
        m.wait_for(PROMPT)
        m.send_line("fs0:\\fake.efi")
        m.wait_for(PROMPT)
        m.send_line("exit")
        expect(m.exit_status() == 0, "status")
        written = m.read_file("\\o.txt")
    expect(b"\r" not in written, "carriage returns in the redirected file: %r" % written)
    text = written.decode("utf-8")
    want = probe_lines("fs0:\\probe.efi clear", ["fs0:\\probe.efi", "clear"])
    expect(text == "".join(l + "\n" for l in want), "redirected file: %r" % text)


def secure_boot_gate(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-images-sb-") as tmp:
        tarn = sign_image(os.path.join(efi_dir, "tarn.efi"), os.path.join(tmp, "tarn.efi"))
        signed = sign_image(os.path.join(efi_dir, "probe.efi"), os.path.join(tmp, "signed.efi"))
        files = {"\\EFI\\BOOT\\BOOTX64.EFI": pathlib.Path(tarn),
                 "\\probe.efi": pathlib.Path(os.path.join(efi_dir, "probe.efi")),
                 "\\signed.efi": pathlib.Path(signed)}
        with Machine(efi_dir, boot="tarn.efi", files=files, secure_boot=True, name="images-sb") as m:
            m.wait_boot()
            m.wait_for("Secure Boot is active")
            m.wait_for(PROMPT)
            m.send_line("probe.efi")
            m.wait_for("probe.efi: not allowed by Secure Boot (the image is not signed by a trusted key)\n")
            m.wait_for(PROMPT)
            m.send_line("set lasterror")
            m.wait_for("0x1\n")
            m.wait_for(PROMPT)
            mark = m.mark()
            m.send_line("signed.efi one")
            m.wait_for("probe: argv[1] [one]\n")
            m.wait_for(PROMPT)
            expect("not allowed" not in m.since(mark), "the signed probe was refused")
            m.send_line("set lasterror")
            m.wait_for("0x0\n")
            m.wait_for(PROMPT)


if __name__ == "__main__":
    run_cases([started_from_the_prompt, secure_boot_gate])
