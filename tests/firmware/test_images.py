"""Starting EFI applications from TARN in OVMF, with probe.efi reporting what it was given:
load options and Argv from a typed line, console output redirected into a file (read back
with mtools), the probe's status in lasterror; and, under the Secure Boot firmware with
the snakeoil key, a signed TARN refusing the unsigned probe and running the signed one."""

import os
import pathlib
import re
import subprocess
import tempfile

from harness import Machine, expect, run_cases, sign_image, SNAKEOIL_CERT, SNAKEOIL_KEY

PROMPT = "fs0:\\> "
TOOLS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools")


def probe_lines(command_line: str, argv: list[str]) -> list[str]:
    """The lines probe.efi prints for a command line and its arguments."""
    lines = ["probe: options [%s] size %d" % (command_line, 2 * len(command_line) + 2),
             "probe: argc %d" % len(argv)]
    lines += ["probe: argv[%d] [%s]" % (i, a) for i, a in enumerate(argv)]
    return lines + ["probe: handles in out err", "probe: console line", "probe: stdout line"]


def started_from_the_prompt(efi_dir):
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="images",
                 files={"\\probe.efi": pathlib.Path(os.path.join(efi_dir, "probe.efi")),
                        "\\nested.tsb": 'RUN "probe.efi shell"\n'}) as m:
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

        # The Shell protocol from the probe: root shell, current directory, Execute.
        m.send_line("probe.efi shell")
        m.wait_for("probe: shell root 1 cwd [fs0:\\] major 2 minor 2\n")
        m.wait_for("from the probe\n")
        m.wait_for("probe: execute 0\n")
        # Names come from the shell's registry: the Shell protocol's own, a device's.
        m.wait_for(re.compile(r"probe: names \[Shell\] \[[^\]\n]+\]\n"))
        m.wait_for(PROMPT)

        # Ctrl-C typed over the serial line while an application runs reaches it as the
        # Shell protocol's ExecutionBreak event; typing a c does not.
        m.send_line("probe.efi break")
        m.wait_for("probe: waiting for break\n")
        m.send("c")
        m.expect_absent("probe: break seen", within=1.0)
        m.send("\x03")
        m.wait_for("probe: break seen\n", timeout=30)
        m.wait_for(PROMPT)

        # A second TARN started from this one replaces the Shell protocol while it runs
        # (the probe it starts sees no root shell) and puts this one's back at its exit.
        m.send_line("tarn.efi fs0:\\nested.tsb")
        m.wait_for("probe: shell root 0 cwd [fs0:\\] major 2 minor 2\n", timeout=60)
        m.wait_for(PROMPT)
        m.send_line("probe.efi shell")
        m.wait_for("probe: shell root 1 cwd [fs0:\\]")
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
        # TARN signed by tools/sign.sh (the key decrypted first), the probe by the harness.
        key = os.path.join(tmp, "key.pem")
        subprocess.run(["openssl", "rsa", "-in", SNAKEOIL_KEY, "-passin", "pass:snakeoil", "-out", key],
                       check=True, capture_output=True)
        tarn = os.path.join(tmp, "tarn.efi")
        subprocess.run([os.path.join(TOOLS, "sign.sh"), key, SNAKEOIL_CERT,
                        os.path.join(efi_dir, "tarn.efi"), tarn], check=True, capture_output=True)
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


def made_disk_image_boots(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-images-usb-") as tmp:
        image = os.path.join(tmp, "usb.img")
        subprocess.run([os.path.join(TOOLS, "make-image.sh"), "-o", image, "--efi",
                        os.path.join(efi_dir, "tarn.efi")], check=True, capture_output=True)
        verify = subprocess.run(["sgdisk", "-v", image], capture_output=True, text=True)
        expect(verify.returncode == 0 and "No problems found" in verify.stdout, "sgdisk -v: %s" % verify.stdout)
        info = subprocess.run(["sgdisk", "-i", "1", image], capture_output=True, text=True).stdout
        expect("C12A7328-F81F-11D2-BA4B-00A0C93EC93B" in info, "not an EFI system partition: %s" % info)
        first = int(info.split("First sector: ")[1].split()[0])
        last = int(info.split("Last sector: ")[1].split()[0])
        part = os.path.join(tmp, "esp.img")
        with open(image, "rb") as f, open(part, "wb") as out:
            f.seek(first * 512)
            out.write(f.read((last - first + 1) * 512))
        fsck = subprocess.run(["fsck.vfat", "-n", part], capture_output=True, text=True)
        expect(fsck.returncode == 0, "fsck.vfat -n: %s%s" % (fsck.stdout, fsck.stderr))
        # The firmware finds \EFI\BOOT\BOOTX64.EFI on it by itself (the harness's own disk
        # is empty), and the sample startup script runs after its countdown.
        with Machine(efi_dir, boot="", disks=[image], stop_on_other_boot=False, name="images-usb") as m:
            m.wait_boot()
            m.wait_for("TARN 0.2.1")
            m.wait_for("TARN started from its own disk.", timeout=30)
            m.wait_for(":\\> ")


if __name__ == "__main__":
    run_cases([started_from_the_prompt, secure_boot_gate, made_disk_image_boots])
