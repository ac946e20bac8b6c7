"""date, time, timezone, getmtc, stall and dblk in OVMF.

The clock starts from QEMU's -rtc base; the time zone set in the first boot must still be
there in a second boot of the same variable store. dblk reads disks that sgdisk, sfdisk
and mkfs.fat made, and its decoded lines must agree with what sgdisk -p, sfdisk -d and
minfo say of the same images."""

import os
import re
import subprocess
import tempfile

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "


def _tool(*args: str) -> str:
    return subprocess.run(args, check=True, capture_output=True, text=True).stdout


def _make_disks(folder: str) -> dict[str, str]:
    """Raw images by kind: a GPT disk, an MBR disk with an active EFI partition, and FAT
    file systems of the three widths without a partition table."""
    disks = {}
    gpt = os.path.join(folder, "gpt.img")
    with open(gpt, "wb") as f:
        f.truncate(8 << 20)
    _tool("sgdisk", "-n", "1:2048:+2M", "-t", "1:ef00", gpt)
    disks["gpt"] = gpt
    mbr = os.path.join(folder, "mbr.img")
    with open(mbr, "wb") as f:
        f.truncate(8 << 20)
    subprocess.run(["sfdisk", "-q", mbr], input="label: dos\nstart=2048, size=4096, type=ef, bootable\n",
                   text=True, check=True, capture_output=True)
    disks["mbr"] = mbr
    for bits, label, kib in (("12", "TWELVE", 2048), ("16", "SIXTEEN", 16384), ("32", "THIRTYTWO", 40000)):
        path = os.path.join(folder, "fat%s.img" % bits)
        _tool("mkfs.fat", "-C", "-F", bits, "-n", label, path, str(kib))
        disks["fat" + bits] = path
    return disks


def _expected_lines(disks: dict[str, str]) -> list[str]:
    """The decoded lines dblk must print, built from the independent tools' words."""
    lines = []
    p = _tool("sgdisk", "-p", disks["gpt"])
    first, last = re.search(r"First usable sector is (\d+), last usable sector is (\d+)", p).groups()
    entries = re.search(r"Partition table holds up to (\d+) entries", p).group(1)
    lines.append("GPT header: revision 00010000, disk LBAs %s-%s, %s partition entries of 128 bytes "
                 "at LBA 2" % (first, last, entries))
    lines.append("1: type EE (GPT protective) start LBA 1,")
    d = _tool("sfdisk", "-d", disks["mbr"])
    start, size = re.search(r"start=\s*(\d+), size=\s*(\d+), type=ef, bootable", d).groups()
    lines.append("1: type EF (EFI system) start LBA %s, %s sectors, active" % (start, size))
    for bits in ("12", "16", "32"):
        info = _tool("minfo", "-i", disks["fat" + bits], "::")
        banner = re.search(r'banner:"([^"]*)"', info).group(1)
        sector = re.search(r"sector size: (\d+) bytes", info).group(1)
        cluster = re.search(r"cluster size: (\d+) sectors", info).group(1)
        label = re.search(r'disk label="([^"]*)"', info).group(1)
        kind = "FAT32" if bits == "32" else "FAT12/16"
        lines.append('FAT boot sector: OEM "%s", %s bytes/sector, %s sectors/cluster, %s, label "%s"'
                     % (banner, sector, cluster, kind, label))
    return lines


def clock_and_disks(efi_dir):
    with tempfile.TemporaryDirectory(prefix="tarn-clock-") as folder:
        disks = _make_disks(folder)
        store = os.path.join(folder, "vars.fd")
        rtc = ["-rtc", "base=2026-03-14T15:09:26,clock=vm"]
        order = ["gpt", "mbr", "fat12", "fat16", "fat32"]
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", disks=[disks[k] for k in order],
                     vars_file=store, extra_args=rtc, name="clock") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            m.send_line("date")
            m.wait_for("2026-03-14\n")
            m.send_line("time")
            hour, minute = m.wait_for(re.compile(r"\n(\d\d):(\d\d):\d\d\n")).groups()
            expect((hour, minute) in (("15", "09"), ("15", "10")), "time: %s:%s" % (hour, minute))
            checks = [
                ("time 10:20:30", PROMPT), ("time", "10:2"),
                ("date 01/31/27", PROMPT), ("date -data", "date=2027-01-31\n"),
                ("date 2027-02-31", "date: cannot set the date: invalid parameter"),
                ("timezone -s +05:45", "UTC+05:45  (Nepal)\n"),
                ("timezone -f", "TimeZone field: 345,"),
                ("stall 2000", PROMPT), ("getmtc", PROMPT),
            ]
            for line, answer in checks:
                m.send_line(line)
                m.wait_for(answer)
                if answer != PROMPT:
                    m.wait_for(PROMPT)
            # Every block device, LBA 0 and 1, into files read back on the host.
            for n in range(12):
                m.send_line("dblk blk%X 0 2 > d%d.txt" % (n, n))
                m.wait_for(PROMPT)
            m.send_line("dblk blk1 0 11")
            m.wait_for("dblk: block count must be 1 to 10 (hexadecimal)")
            m.send_line("exit")
            expect(m.exit_status() == 0, "status")
            dumps = "".join(m.read_file("\\d%d.txt" % n).decode("utf-8", "replace")
                            for n in range(12) if m.file_exists("\\d%d.txt" % n))
        for line in _expected_lines(disks):
            expect(line in dumps, "dblk did not print %r" % line)
        expect("LBA 0000000000000001  Size 00000200 bytes  BlkIo " in dumps, "no LBA 1 heading")

        # The same variable store: the time zone survived the reset.
        with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", vars_file=store, extra_args=rtc,
                     name="clock-again") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            m.send_line("timezone")
            m.wait_for("UTC+05:45  (Nepal)\n")
            m.send_line("exit")
            expect(m.exit_status() == 0, "status of the second boot")


if __name__ == "__main__":
    run_cases([clock_and_disks])
