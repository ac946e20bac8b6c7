"""The harness itself, without booting: output cleaning, detection of a fall-through to
other boot options, key codes and FAT images (made with mkfs.vfat and mtools)."""

import os
import pathlib
import tempfile

import harness
from harness import KEYS, Machine, expect, run_cases


def _feed(chunks):
    m = Machine(os.getcwd(), name="selftest", keep=False)
    try:
        for c in chunks:
            m._take(c)
        return m
    finally:
        m.close()


def output_is_cleaned_across_reads(efi_dir):
    # An escape sequence and a CRLF split over reads must vanish; text stays in order.
    m = _feed([b"\x1b[2J\x1b[01;0", b"1HTARN\r", b"\n\x1b[", b"=3hfs0:\\> \x1b[1", b"0;4", b"0mx\r\n"])
    expect(m.text == "TARN\nfs0:\\> x\n", repr(m.text))
    expect(m.raw.startswith(b"\x1b[2J"), "raw output kept")
    expect(m.other_boot is None, "no fall-through")


def wait_for_moves_the_cursor(efi_dir):
    m = _feed([b"one two one three\r\n"])
    m.proc = None
    expect(m.wait_for("one", timeout=0) == "one", "first")
    expect(m.wait_for("one", timeout=0) == "one", "second")
    match = m.wait_for(harness.re.compile(r"t(\w+)e"), timeout=0)
    expect(match.group(1) == "hre", match.group(0))


def fall_through_is_detected(efi_dir):
    start = b'BdsDxe: loading Boot0001 "UEFI Misc Device" from PciRoot(0x0)\r\n' \
            b'BdsDxe: starting Boot0001 "UEFI Misc Device" from PciRoot(0x0)\r\n'
    # The image under test started once: no fall-through.
    m = _feed([start, b"TARN\r\n"])
    expect(m.other_boot is None, m.other_boot or "")
    # It returned and the boot manager went on, marker split across reads.
    m = _feed([start, b"TARN\r\nBdsDxe: load", b'ing Boot0000 "UiApp" from Fv(1)\r\n'])
    expect(m.other_boot is not None and "UiApp" in m.other_boot, str(m.other_boot))
    # A second boot option from a disk.
    m = _feed([start, b'BdsDxe: loading Boot0002 "UEFI Misc Device 2" from X\r\n'])
    expect(m.other_boot is not None and "Boot0002" in m.other_boot, str(m.other_boot))
    # The firmware's own applications count even before anything started.
    m = _feed([b'BdsDxe: failed to load Boot0001 "x": Access Denied\r\n'
               b'BdsDxe: loading Boot0000 "UiApp" from Fv(1)\r\n'])
    expect(m.other_boot is not None, "UiApp after a failed boot")
    # Text printed by the image itself that merely mentions a boot option is fine.
    m = _feed([start, b"Boot0001 is the current boot option\r\n"])
    expect(m.other_boot is None, m.other_boot or "")


def key_codes(efi_dir):
    expect(KEYS["Backspace"] == b"\x08", "Backspace is BS")
    expect(KEYS["Ctrl-C"] == b"\x03" and KEYS["Ctrl-Z"] == b"\x1a", "Ctrl keys")
    expect(KEYS["F1"] == b"\x1b[M" and KEYS["F10"] == b"\x1b[V", "function keys")
    expect(KEYS["Delete"] == b"\x1b[X" and KEYS["Insert"] == b"\x1b[@", "editing keys")
    expect(KEYS["Home"] == b"\x1b[H" and KEYS["End"] == b"\x1b[F", "Home, End")


def fat_images(efi_dir):
    with tempfile.TemporaryDirectory() as tmp:
        host_file = pathlib.Path(tmp, "host.bin")
        host_file.write_bytes(bytes(range(256)) * 40)
        image = os.path.join(tmp, "d.img")
        harness.make_fat_image(image, {
            "\\a.txt": "caf\u00e9\r\n",
            "deep/er/b.bin": host_file,
            "\\Mixed Case Name.TXT": b"x",
            "\\empty\\": None,
        }, size_mb=4)
        expect(harness.read_image_file(image, "\\a.txt") == "caf\u00e9\r\n".encode(), "a.txt")
        expect(harness.read_image_file(image, "\\DEEP\\ER\\B.BIN") == host_file.read_bytes(),
               "b.bin, found without regard to case")
        expect(harness.image_file_exists(image, "\\mixed case name.txt"), "long name")
        expect(not harness.image_file_exists(image, "\\nothere.txt"), "missing file")
        expect("empty" in harness.list_image_dir(image, "\\").lower(), "empty folder")
        clean, report = harness.check_image(image)
        expect(clean, report)
        try:
            harness.read_image_file(image, "\\nothere.txt")
        except harness.FirmwareError:
            pass
        else:
            expect(False, "reading a missing file did not fail")


if __name__ == "__main__":
    run_cases([output_is_cleaned_across_reads, wait_for_moves_the_cursor,
               fall_through_is_detected, key_codes, fat_images])
