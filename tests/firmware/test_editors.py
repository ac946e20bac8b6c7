"""edit and hexedit in OVMF, typed over the serial line with control keys as a user would:
a UTF-8 file and a UCS-2 CR LF file made by iconv are edited and saved, a file and a block
range of a scratch second disk (never the boot disk) are changed in hexedit. The results
are read on the host with mtools, dd and xxd and compared byte for byte."""

import os
import pathlib
import subprocess
import tempfile
import time

from harness import Machine, expect, run_cases, sign_image

PROMPT = "fs0:\\> "
CTRL_S, CTRL_Q = "\x13", "\x11"
SCRATCH_LBA = 0x7000  # far past the FAT structures of the scratch disk


def iconv_ucs2(text: str) -> bytes:
    """The text as little-endian UCS-2 with its mark, converted by iconv."""
    body = subprocess.run(["iconv", "-f", "UTF-8", "-t", "UTF-16LE"], input=text.encode(),
                          capture_output=True, check=True).stdout
    return b"\xff\xfe" + body


def disk_bytes(image: str, offset: int, count: int) -> bytes:
    """count bytes at offset of a disk image, read with dd and shown by xxd."""
    raw = subprocess.run(["dd", "if=" + image, "bs=1", "skip=%d" % offset, "count=%d" % count,
                          "status=none"], capture_output=True, check=True).stdout
    hex_text = subprocess.run(["xxd", "-p"], input=raw, capture_output=True, check=True).stdout
    return bytes.fromhex(hex_text.decode().replace("\n", ""))


def type_slowly(m: Machine, keys: str) -> None:
    for k in keys:
        m.send(k)
        time.sleep(0.05)


def editors(efi_dir):
    ucs2_before = iconv_ucs2("alpha\r\nbeta\r\ngamma\r\n")
    files = {
        "\\a.txt": b"one\ntwo",
        "\\u.txt": ucs2_before,
        "\\h.bin": bytes(range(32)),
    }
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files,
                 disks=[{"\\SCRATCH.TXT": b"scratch disk\n"}], name="editors") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        scratch_before = disk_bytes(m.image(1), SCRATCH_LBA * 512, 512)
        # Which volume is the scratch disk: the firmware's handle order decides.
        mark = m.mark()
        m.send_line("ls fs1:\\SCRATCH.TXT")
        m.wait_for(PROMPT)
        scratch = "fs1:" if "SCRATCH.TXT" in m.since(mark).upper() else "fs0:"
        expect(scratch == "fs1:", "the scratch disk should be fs1:")

        m.send_line("edit a.txt")
        m.wait_for("2 lines read")
        type_slowly(m, "X")
        m.send_key("Down")
        m.send_key("End")
        type_slowly(m, "!" + CTRL_S)
        m.wait_for("2 lines written")
        m.send(CTRL_Q)
        m.wait_for(PROMPT)

        m.send_line("edit u.txt")
        m.wait_for("UCS-2 CRLF")
        m.send_key("Down")
        type_slowly(m, "Z" + CTRL_S)
        m.wait_for("3 lines written")
        m.send(CTRL_Q)
        m.wait_for(PROMPT)

        # Unsaved changes: the question, answered with n, leaves the file alone.
        m.send_line("edit a.txt")
        m.wait_for("2 lines read")
        type_slowly(m, "junk" + CTRL_Q)
        m.wait_for("File modified. Save it?")
        m.send("n")
        m.wait_for(PROMPT)

        m.send_line("hexedit h.bin")
        m.wait_for("TARN hexedit")
        type_slowly(m, "A5")
        m.send_key("Tab")
        type_slowly(m, "ok" + CTRL_S)
        m.wait_for("Saved")
        m.send(CTRL_Q)
        m.wait_for(PROMPT)

        m.send_line("hexedit -d %s %X 1" % (scratch, SCRATCH_LBA))
        m.wait_for("LBA %X" % SCRATCH_LBA)
        type_slowly(m, "5a")
        m.send_key("Tab")
        type_slowly(m, "hi" + CTRL_Q)
        m.wait_for("Data modified. Save it?")
        m.send("y")
        m.wait_for("Write the blocks back to the disk? (y/n)")
        m.send("y")
        m.wait_for(PROMPT)
        m.send_line("hexedit -d %s 0 101" % scratch)
        m.wait_for("COUNT up to 100")
        m.wait_for(PROMPT)
        m.send_line("exit")
        expect(m.exit_status() == 0, "status")

        a = m.read_file("\\a.txt")
        expect(a == b"Xone\ntwo!", "a.txt: %r" % a)
        u = m.read_file("\\u.txt")
        expect(u == iconv_ucs2("alpha\r\nZbeta\r\ngamma\r\n"), "u.txt: %r" % u)
        h = m.read_file("\\h.bin")
        expect(h == b"\xa5ok" + bytes(range(3, 32)), "h.bin: %r" % h)
        expect("TARN-SAVE" not in m.list_dir("\\").upper(), "a temporary file was left")
        ok, report = m.check_disk(0)
        expect(ok, "fsck of the boot disk: %s" % report)
        after = disk_bytes(m.image(1), SCRATCH_LBA * 512, 512)
        expect(after == b"\x5ahi" + scratch_before[3:], "scratch LBA: %r" % after[:8])


def memory_under_secure_boot(efi_dir):
    """With Secure Boot active, saving memory in hexedit writes nothing and says why."""
    with tempfile.TemporaryDirectory(prefix="tarn-editors-sb-") as tmp:
        launcher = sign_image(os.path.join(efi_dir, "launcher.efi"), os.path.join(tmp, "launcher.efi"))
        tarn = sign_image(os.path.join(efi_dir, "tarn.efi"), os.path.join(tmp, "tarn.efi"))
        files = {"\\EFI\\BOOT\\BOOTX64.EFI": pathlib.Path(launcher), "\\tarn.efi": pathlib.Path(tarn)}
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files, secure_boot=True,
                     name="editors-sb") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            m.send_line("hexedit -m 1000 10")
            m.wait_for("TARN hexedit")
            type_slowly(m, "00" + CTRL_S)
            m.wait_for("Memory writes are disabled (Secure Boot)")
            m.send(CTRL_Q)
            m.wait_for("Data modified. Save it?")
            m.send("n")
            m.wait_for(PROMPT)
            expect("writing to hardware is disabled while Secure Boot is active" in m.output(),
                   "the gate's own refusal")
            m.send_line("exit")
            expect(m.exit_status() == 0, "status")


if __name__ == "__main__":
    run_cases([editors, memory_under_secure_boot])
