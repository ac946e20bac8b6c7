"""loadpcirom in OVMF with the option ROMs QEMU ships (Debian's ipxe-qemu), in one boot.
The UEFI image of efi-e1000.rom (image 1, after the legacy BIOS image) is started and
`drivers` lists one driver more than before. A ROM made here around the x64 driver of
efi-rtl8139.rom, compressed in the firmware by `eficompress` and assembled by a BASIC line,
is expanded by the firmware's Decompress protocol and started with -nc: one driver more
again. A copy cut in the middle of its UEFI image gives the damaged-header message, a
copy of 20 bytes the not-a-ROM message, a copy whose UEFI image claims another machine
is skipped; lasterror shows each exit code. Under Secure Boot (the snakeoil OVMF) the firmware runs
the unsigned driver from the ROM, as it runs option ROM images, while `load` of the same
driver as a file is refused."""

import os
import pathlib
import re
import struct
import tempfile

from harness import FirmwareError, Machine, expect, run_cases, sign_image

PROMPT = "fs0:\\> "
ROM_DIR = "/usr/lib/ipxe/qemu/"


def run(m: Machine, line: str, timeout: float = 30) -> str:
    """The output of one command line, up to the next prompt."""
    mark = m.mark()
    m.send_line(line)
    m.wait_for(PROMPT, timeout=timeout)
    out = m.since(mark)
    out = out.split("\n", 1)[1] if "\n" in out else ""
    return out[: out.rfind(PROMPT)] if PROMPT in out else out


def uefi_image(rom: bytes) -> tuple[int, bytes]:
    """The start of the ROM's first UEFI image and its driver bytes, by the PCI data
    structures (walked here independently of the shell)."""
    at = 0
    while at + 26 <= len(rom):
        assert rom[at:at + 2] == b"\x55\xaa", "no image header at %d" % at
        pcir = at + struct.unpack_from("<H", rom, at + 0x18)[0]
        assert rom[pcir:pcir + 4] == b"PCIR"
        length = struct.unpack_from("<H", rom, pcir + 0x10)[0] * 512
        if rom[pcir + 0x14] == 3 and struct.unpack_from("<I", rom, at + 4)[0] == 0x0EF1:
            offset = struct.unpack_from("<H", rom, at + 0x16)[0]
            end = struct.unpack_from("<H", rom, at + 2)[0] * 512
            assert struct.unpack_from("<H", rom, at + 0x0C)[0] == 0, "already compressed"
            return at, rom[at + offset:at + end]
        at += length
    raise AssertionError("no UEFI image")


def rom_header(blocks: int, compression: int) -> bytes:
    """The first block of a ROM holding one x64 UEFI driver image of that many blocks,
    whose driver bytes start at 0x200 and run to the end of the image."""
    head = bytearray(512)
    head[0:2] = b"\x55\xaa"
    struct.pack_into("<HIHHH", head, 2, blocks, 0x0EF1, 11, 0x8664, compression)
    struct.pack_into("<HH", head, 0x16, 0x200, 0x1C)
    head[0x1C:0x20] = b"PCIR"
    struct.pack_into("<HHHH", head, 0x20, 0x10EC, 0x8139, 0, 24)
    struct.pack_into("<H", head, 0x1C + 0x10, blocks)
    head[0x1C + 0x14] = 3
    head[0x1C + 0x15] = 0x80
    return bytes(head)


def compressed_rom_parts(driver: bytes) -> tuple[bytes, bytes]:
    """The header block and the padding around a compressed copy of driver: the
    initialization size stops inside the padding, so the stream (shorter than the driver)
    and some zeros after it lie within the image."""
    return rom_header((512 + len(driver)) // 512, 1), bytes(len(driver))


def driver_lines(text: str) -> set[str]:
    return {line for line in text.splitlines() if re.match(r"^ *[0-9A-F]+ [0-9A-F]{7} ", line)}


def read_rom(name: str) -> bytes:
    if not os.path.isfile(ROM_DIR + name):
        raise FirmwareError("no %s%s (run tools/setup-deps.sh: ipxe-qemu)" % (ROM_DIR, name))
    with open(ROM_DIR + name, "rb") as f:
        return f.read()


def check_option_roms(efi_dir: str) -> None:
    e1000 = read_rom("efi-e1000.rom")
    rtl = read_rom("efi-rtl8139.rom")
    start, _ = uefi_image(e1000)
    _, rtl_driver = uefi_image(rtl)
    head, pad = compressed_rom_parts(rtl_driver)
    arm = bytearray(e1000)
    struct.pack_into("<H", arm, start + 0x0A, 0xAA64)
    files = {
        "\\rom\\e1000.rom": e1000,
        "\\rom\\cut.rom": e1000[: start + 4096],
        "\\rom\\short.rom": e1000[:20],
        "\\rom\\arm.rom": bytes(arm),
        "\\rom\\drv.efi": rtl_driver,
        "\\rom\\head.bin": head,
        "\\rom\\pad.bin": pad,
    }
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="option-rom", files=files, timeout=120) as m:
        m.wait_boot()
        m.wait_for(PROMPT, timeout=60)
        run(m, "set -v pager off")
        before = driver_lines(run(m, "drivers"))
        expect(len(before) > 10, "drivers lists %d drivers" % len(before))

        out = run(m, "loadpcirom rom\\e1000.rom", timeout=60)
        expect(out == "Image 1 (subsystem 11) from rom\\e1000.rom - loaded\n", repr(out))
        expect(run(m, "set lasterror").strip().endswith("0x0"), "lasterror after a loaded ROM")
        after = driver_lines(run(m, "drivers"))
        added = after - before
        expect(len(added) == 1 and before <= after, "drivers added by efi-e1000.rom: %r" % sorted(added))

        for line, message in [("loadpcirom rom\\cut.rom", "loadpcirom: image 1: damaged header\n"),
                              ("loadpcirom rom\\short.rom",
                               "loadpcirom: rom\\short.rom is not a PCI option ROM image\n")]:
            out = run(m, line)
            expect(out == message, "%s: %r" % (line, out))
            expect(run(m, "set lasterror").strip().endswith("0x1"), "lasterror after " + line)
        out = run(m, "loadpcirom -nc rom\\arm.rom")
        expect(out == "Image 1: machine AA64, not for x86_64: skipped\n", repr(out))

        # The compressed ROM: our encoder in the firmware, the firmware's decoder.
        out = run(m, "eficompress rom\\drv.efi rom\\drv.z", timeout=60)
        sizes = re.search(r"drv\.z: (\d+) -> (\d+) bytes", out)
        expect(sizes and int(sizes.group(1)) == len(rtl_driver), out)
        packed = int(sizes.group(2))
        out = run(m, 'r = writefile("rom\\crtl.rom", readfile$("rom\\head.bin") + readfile$("rom\\drv.z") + '
                     'readfile$("rom\\pad.bin")) : print r')
        expect(out.strip() == "0", "writefile: %r" % out)
        out = run(m, "loadpcirom -nc rom\\crtl.rom", timeout=60)
        expect(out == "Image 0 (subsystem 11, compressed) from rom\\crtl.rom - loaded\n", repr(out))
        expect(run(m, "set lasterror").strip().endswith("0x0"), "lasterror after the compressed ROM")
        more = driver_lines(run(m, "drivers")) - after
        expect(len(more) == 1, "drivers added by the compressed ROM: %r" % sorted(more))

        m.send_line("exit")
        expect(m.exit_status() == 0, "exit status")
        made = m.read_file("\\rom\\crtl.rom")
        expect(len(made) == len(head) + packed + len(pad) and made[:512] == head,
               "crtl.rom is %d bytes, not %d" % (len(made), len(head) + packed + len(pad)))
    print("new drivers: %s | %s" % (sorted(added), sorted(more)))


def check_secure_boot(efi_dir: str) -> None:
    """Under Secure Boot OVMF refuses the unsigned driver loaded as a file, while it runs it
    from the ROM, as its policy for option ROM images allows (QEMU's ROMs are not signed);
    the shell's part is the message for the first and the loaded line for the second."""
    e1000 = read_rom("efi-e1000.rom")
    _, driver = uefi_image(e1000)
    with tempfile.TemporaryDirectory(prefix="tarn-rom-sign-") as tmp:
        shell = sign_image(os.path.join(efi_dir, "tarn.efi"), os.path.join(tmp, "tarn.efi"))
        files = {"\\EFI\\BOOT\\BOOTX64.EFI": pathlib.Path(shell), "\\rom\\e1000.rom": e1000,
                 "\\rom\\drv.efi": driver}
        with Machine(efi_dir, files=files, secure_boot=True, name="option-rom-sb", timeout=120) as m:
            m.wait_for(PROMPT, timeout=90)
            run(m, "set -v pager off")
            out = run(m, "load -nc rom\\drv.efi", timeout=60)
            expect("not allowed by Secure Boot (the driver is not signed by a trusted key)" in out, repr(out))
            out = run(m, "loadpcirom -nc rom\\e1000.rom", timeout=60)
            expect(out == "Image 1 (subsystem 11) from rom\\e1000.rom - loaded\n", repr(out))
            expect("82540em" in run(m, "drivers"), "the option ROM's driver is not listed")


if __name__ == "__main__":
    run_cases([check_option_roms, check_secure_boot])
