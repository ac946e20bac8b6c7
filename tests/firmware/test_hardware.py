"""The hardware commands in real firmware, one boot typed at the prompt: `pci -data` lists
exactly the functions QEMU's monitor reports (`info pci`), including a device behind a
PCIe root port; `dmem` bytes equal the monitor's `xp`; `acpiview -d` tables
decoded by iasl agree with the summaries; `smbiosview` and `dmidecode --from-dump` on the
same bytes agree with values given with QEMU's -smbios type=1 and type=17, under the 64-bit
and the 32-bit entry point; `mm` reads equal `xp`; `mm 0xf4 0x10 -IO -w 1` reaches
isa-debug-exit. A device behind a pxb-pcie host bridge on bus 0x80 is listed. Under Secure
Boot every mm write is refused and the debug-exit port sees nothing."""

import os
import pathlib
import re
import shutil
import subprocess
import tempfile

from harness import Machine, expect, records, run_cases, sign_image

PROMPT = "fs0:\\> "
# (width, address) of mm reads compared with the monitor's xp: the BIOS area's first bytes.
MM_READS = [(1, 0xf0003), (2, 0xf0006), (4, 0xf0008), (8, 0xf0010)]
ACPI = ["APIC", "FACP", "MCFG", "HPET"]
SMBIOS = {"manufacturer": "TarnCo", "product": "Widget9", "serial": "SN-4711",
          "uuid": "8a1f4e2c-1234-4567-89ab-0123456789ab"}
MEMORY = {"loc_pfx": "SLOT", "bank": "BANK7", "manufacturer": "TarnMem", "serial": "MS-99",
          "part": "TM-256", "speed": "2400"}
# smbiosview -data keys and dmidecode labels of the type 17 fields QEMU fills in.
MEMORY_FIELDS = [("bank", "Bank Locator"), ("manufacturer", "Manufacturer"),
                 ("serial", "Serial Number"), ("part_number", "Part Number"),
                 ("locator", "Locator")]


def dump_bytes(text: str) -> list[int]:
    out = []
    for line in text.replace("\r", "").splitlines()[1:]:
        if ": " not in line:
            continue
        body = line.split(": ", 1)[1].split(" *", 1)[0]
        out += [int(v, 16) for v in body.replace("-", " ").split()]
    return out


def dump_bytes_live(m: Machine, address: int, size: int) -> bytes:
    """The bytes of a range as dmem prints them on the console."""
    m.send_line("dmem %x %x" % (address, size))
    # Up to the next prompt, so that no line of the dump is still on its way.
    got = m.wait_for(re.compile(r"Memory address [0-9A-F]+ [0-9A-F]+ bytes\n((?:  [0-9A-F]{16}: .*\n)+)"
                                + re.escape(PROMPT)))
    return bytes(dump_bytes("x\n" + got.group(1)))


def dmidecode_type(entry: bytes, table: bytes, bits: int, kind: int = 1) -> str:
    """dmidecode --from-dump on a dump file: the entry point at 0 with the table address
    moved to 0x20, the table at 0x20."""
    entry = bytearray(entry[:0x20])
    if bits == 64:
        entry[16:24] = (0x20).to_bytes(8, "little")
        entry[5] = 0
        entry[5] = (-sum(entry[:entry[6]])) & 0xff
    else:
        entry[24:28] = (0x20).to_bytes(4, "little")
        entry[0x15] = 0
        entry[0x15] = (-sum(entry[0x10:0x1f])) & 0xff
    folder = tempfile.mkdtemp(prefix="tarn-dmi-")
    try:
        path = os.path.join(folder, "dump.bin")
        with open(path, "wb") as f:
            f.write(bytes(entry) + bytes(table))
        done = subprocess.run(["dmidecode", "--from-dump", path, "-t", str(kind)], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, check=True)
        return done.stdout.decode("latin-1")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def check_hardware(efi_dir: str) -> None:
    extra = ["-smbios", "type=1," + ",".join("%s=%s" % kv for kv in SMBIOS.items()),
             "-smbios", "type=17," + ",".join("%s=%s" % kv for kv in MEMORY.items()),
             "-device", "pcie-root-port,id=rp1,bus=pcie.0,chassis=1,slot=1",
             "-device", "virtio-rng-pci,bus=rp1",
             "-device", "pxb-pcie,id=pxb1,bus_nr=0x80,bus=pcie.0",
             "-device", "pcie-root-port,id=rp2,bus=pxb1,chassis=2,slot=0",
             "-device", "virtio-rng-pci,bus=rp2"]
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="hardware", monitor=True,
                 extra_args=extra, timeout=150) as m:
        m.wait_for(PROMPT, timeout=90)
        m.send_line("set -v pager off")
        m.wait_for(PROMPT)
        m.send_line("pci -data > pci.txt")
        m.wait_for(PROMPT, timeout=60)
        m.send_line("smbiosview -t 1 -data > smbios.txt")
        m.wait_for(PROMPT)
        m.send_line("smbiosview -t 17 -data > memory.txt")
        m.wait_for(PROMPT)
        m.send_line("dmem f0000 40 > dmem.txt")
        m.wait_for(PROMPT)
        m.send_line("dmem > systab.txt")
        m.wait_for(PROMPT)
        for width, address in MM_READS:
            m.send_line("mm %x -w %d -n" % (address, width))
            m.wait_for(PROMPT)
        for sig in ACPI:
            m.send_line("acpiview -s %s > %s.txt" % (sig, sig))
            m.wait_for(PROMPT)
            m.send_line("acpiview -s %s -d" % sig)
            m.wait_for(PROMPT)
        # The SMBIOS entry point and structure table as dmem shows them, for dmidecode.
        m.send_line("smbiosview -t 200")
        head = m.wait_for(re.compile(r"SMBIOS \d+\.\d+ \((\d+)-bit entry point at 0x([0-9a-fA-F]+)\)"))
        m.wait_for(PROMPT)
        entry_bits, entry_at = int(head.group(1)), int(head.group(2), 16)
        info = m.monitor("info pci")
        xp = m.monitor("xp /64xb 0xf0000")
        xp_words = {(w, a): m.monitor("xp /1%sx 0x%x" % ({1: "b", 2: "h", 4: "w", 8: "g"}[w], a))
                    for w, a in MM_READS}
        entry = dump_bytes_live(m, entry_at, 0x20)
        if entry_bits == 64:
            table_at, table_len = int.from_bytes(entry[16:24], "little"), int.from_bytes(entry[12:16], "little")
        else:
            table_at, table_len = int.from_bytes(entry[24:28], "little"), int.from_bytes(entry[22:24], "little")
        table = dump_bytes_live(m, table_at, table_len)
        m.send_line("mm 0xf4 0x10 -IO -w 1")
        code = m.wait_exit(timeout=30)
        expect(m.debug_exit_value() == 0x10, "isa-debug-exit saw %r (QEMU status %r)" % (m.debug_exit_value(), code))

        # pci -data against info pci
        want = {(int(b), int(d), int(f)) for b, d, f in
                re.findall(r"Bus\s+(\d+), device\s+(\d+), function (\d+):", info)}
        got = {(int(r["bus"], 16), int(r["device"], 16), int(r["function"], 16))
               for r in records(m.read_file("\\pci.txt").decode("latin-1"))}
        expect(want, "no functions in info pci:\n" + info)
        expect(got == want, "pci lists %s, the monitor %s" % (sorted(got - want), sorted(want - got)))
        expect(any(b >= 1 for b, _, _ in got), "nothing behind the root port: %s" % sorted(got))
        expect(any(b >= 0x80 for b, _, _ in got), "nothing behind the bus 0x80 bridge: %s" % sorted(got))

        # mm reads against xp
        text = m.output()
        for (width, address), shown in xp_words.items():
            theirs = re.search(r"^[0-9a-f]+:\s+0x([0-9a-f]+)", shown.strip(), re.M)
            ours = re.search(r"MEM  0x%016X : 0x([0-9A-F]{%d})" % (address, 2 * width), text)
            expect(theirs is not None and ours is not None, "mm %x: %r / monitor %r" % (address, ours, shown))
            expect(int(theirs.group(1), 16) == int(ours.group(1), 16),
                   "mm %x -w %d shows %s, xp %s" % (address, width, ours.group(1), theirs.group(1)))

        # dmem names the configuration tables OVMF installs
        systab = m.read_file("\\systab.txt").decode("latin-1")
        for name in ("AcpiTable20", "AcpiTable10", "SmbiosTable"):
            expect(re.search(r"^  %s +0x[0-9a-f]+\r?$" % name, systab, re.M), "dmem: no %s in\n%s" % (name, systab))

        # dmem against xp
        monitor_bytes = [int(v, 16) for v in
                         re.findall(r"0x([0-9a-f]{2})\b", re.sub(r"^[0-9a-f]+:", "", xp, flags=re.M))]
        dump = m.read_file("\\dmem.txt").decode("latin-1")
        shell_bytes = []
        for line in dump.splitlines()[1:]:
            body = line.split(": ", 1)[1].split(" *", 1)[0]
            shell_bytes += [int(v, 16) for v in body.replace("-", " ").split()]
        expect(len(shell_bytes) == 64, "dmem gave %d bytes:\n%s" % (len(shell_bytes), dump))
        expect(shell_bytes == monitor_bytes, "dmem %s\nxp   %s" % (shell_bytes, monitor_bytes))

        # smbiosview against the values given to QEMU
        sys = records(m.read_file("\\smbios.txt").decode("latin-1"))
        expect(len(sys) == 1, "type 1 records: %r" % sys)
        for key, value in SMBIOS.items():
            expect(sys[0].get(key) == value, "%s: %r, want %r" % (key, sys[0].get(key), value))
        decoded = dmidecode_type(entry, table, entry_bits)
        for label, key in (("Manufacturer", "manufacturer"), ("Product Name", "product"),
                           ("Serial Number", "serial"), ("UUID", "uuid")):
            found = re.search(r"\n\t%s: (.*)\n" % label, decoded)
            expect(found is not None, "dmidecode has no %s:\n%s" % (label, decoded))
            expect(found.group(1).lower() == sys[0].get(key, "").lower(),
                   "%s: dmidecode %r, smbiosview %r" % (label, found.group(1), sys[0].get(key)))
        memory = records(m.read_file("\\memory.txt").decode("latin-1"))
        expect(len(memory) >= 1, "type 17 records: %r" % memory)
        decoded = dmidecode_type(entry, table, entry_bits, 17)
        for key, label in MEMORY_FIELDS:
            found = re.search(r"\n\t%s: (.*)\n" % label, decoded)
            expect(found is not None, "dmidecode has no %s:\n%s" % (label, decoded))
            expect(found.group(1) == memory[0].get(key), "type 17 %s: dmidecode %r, smbiosview %r"
                   % (label, found.group(1), memory[0].get(key)))
        size = re.search(r"\n\tSize: (\d+) MB\n", decoded)
        expect(size is not None and memory[0].get("size") == size.group(1) + " MiB",
               "type 17 size: dmidecode %r, smbiosview %r" % (size and size.group(0), memory[0].get("size")))
        expect(memory[0].get("manufacturer") == MEMORY["manufacturer"], "type 17 manufacturer %r" % memory[0])

        # acpiview summaries against iasl's disassembly of the tables it saved
        if shutil.which("iasl") is None:
            raise AssertionError("iasl missing (acpica-tools; run tools/setup-deps.sh)")
        folder = tempfile.mkdtemp(prefix="tarn-acpi-")
        try:
            dis = {}
            for sig in ACPI:
                path = os.path.join(folder, sig + ".bin")
                with open(path, "wb") as f:
                    f.write(m.read_file("\\%s.bin" % sig))
                subprocess.run(["iasl", "-d", path], cwd=folder, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, check=True)
                with open(os.path.join(folder, sig + ".dsl"), encoding="latin-1") as f:
                    dis[sig] = f.read()
            summary = {sig: m.read_file("\\%s.txt" % sig).decode("latin-1") for sig in ACPI}
        finally:
            shutil.rmtree(folder, ignore_errors=True)

        def field(sig: str, label: str) -> int:
            found = re.search(r"\]\s+%s\s*:\s*([0-9A-F]+)" % re.escape(label), dis[sig])
            expect(found is not None, "%s: no %r in the disassembly" % (sig, label))
            return int(found.group(1), 16)

        apic = re.search(r"Local APIC address 0x([0-9A-F]+), flags ([0-9A-F]+)", summary["APIC"])
        expect(apic is not None, summary["APIC"])
        expect(int(apic.group(1), 16) == field("APIC", "Local Apic Address"), "local APIC address")
        for kind, name in ((0, "Processor local APIC"), (1, "I/O APIC"), (2, "Interrupt override"),
                           (4, "Local APIC NMI")):
            theirs = len(re.findall(r"Subtable Type : %02X" % kind, dis["APIC"]))
            ours = summary["APIC"].count("  %s:" % name)
            expect(theirs == ours, "MADT type %d: iasl %d, acpiview %d" % (kind, theirs, ours))
        ecam = re.search(r"ECAM: base 0x([0-9A-F]+)", summary["MCFG"])
        expect(ecam is not None and int(ecam.group(1), 16) == field("MCFG", "Base Address"), summary["MCFG"])
        hpet = re.search(r"HPET base address 0x([0-9A-F]+)", summary["HPET"])
        expect(hpet is not None and int(hpet.group(1), 16) == field("HPET", "Address"), summary["HPET"])
        fadt = re.search(r"FACS 0x([0-9A-F]+), DSDT 0x([0-9A-F]+), SCI interrupt (\d+), "
                         r"PM1a event block 0x([0-9A-F]+), profile (\d+)", summary["FACP"])
        expect(fadt is not None, summary["FACP"])
        expect(int(fadt.group(1), 16) == field("FACP", "FACS Address"), "FACS")
        expect(int(fadt.group(2), 16) == field("FACP", "DSDT Address"), "DSDT")
        expect(int(fadt.group(3)) == field("FACP", "SCI Interrupt"), "SCI")
        expect(int(fadt.group(4), 16) == field("FACP", "PM1A Event Block Address"), "PM1a")
        expect(int(fadt.group(5)) == field("FACP", "PM Profile"), "profile")


def check_smbios_32(efi_dir: str) -> None:
    """The 32-bit entry point alone: smbiosview and dmidecode agree on the same bytes."""
    extra = ["-machine", "smbios-entry-point-type=32",
             "-smbios", "type=1," + ",".join("%s=%s" % kv for kv in SMBIOS.items())]
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="smbios32", extra_args=extra,
                 timeout=120) as m:
        m.wait_for(PROMPT, timeout=90)
        m.send_line("smbiosview -t 1 -data")
        m.wait_for(PROMPT)
        m.send_line("smbiosview -t 1")
        head = m.wait_for(re.compile(r"SMBIOS \d+\.\d+ \((\d+)-bit entry point at 0x([0-9a-fA-F]+)\), "
                                     r"(\d+) structures"))
        m.wait_for(PROMPT)
        expect(head.group(1) == "32", head.group(0))
        entry_at = int(head.group(2), 16)
        entry = dump_bytes_live(m, entry_at, 0x20)
        table = dump_bytes_live(m, int.from_bytes(entry[24:28], "little"), int.from_bytes(entry[22:24], "little"))
        mark = m.mark()
        m.send_line("smbiosview -t 1 -data")
        m.wait_for(PROMPT)
        sys = records(m.since(mark).split("\n", 1)[1].replace(PROMPT, ""))
        m.send_line("mm 0xf4 0x10 -IO -w 1")
        m.wait_exit(timeout=30)
        expect(len(sys) == 1, "type 1 records: %r" % sys)
        decoded = dmidecode_type(entry, table, 32)
        for label, key in (("Manufacturer", "manufacturer"), ("Product Name", "product"),
                           ("Serial Number", "serial"), ("UUID", "uuid")):
            found = re.search(r"\n\t%s: (.*)\n" % label, decoded)
            expect(found is not None, "dmidecode has no %s:\n%s" % (label, decoded))
            expect(found.group(1).lower() == sys[0].get(key, "").lower() == SMBIOS[key].lower(),
                   "%s: dmidecode %r, smbiosview %r" % (label, found.group(1), sys[0].get(key)))


SECURE_REFUSAL = "mm: writing to hardware is disabled while Secure Boot is active"


def check_secure_boot_refuses_writes(efi_dir: str) -> None:
    """A signed tarn.efi under Secure Boot: every mm write form is refused before it reaches
    the device (the debug-exit port would end QEMU), reads still work."""
    with tempfile.TemporaryDirectory(prefix="tarn-sb-") as tmp:
        signed = sign_image(os.path.join(efi_dir, "tarn.efi"), os.path.join(tmp, "tarn.efi"))
        with Machine(efi_dir, name="hardware-secure", secure_boot=True, timeout=120,
                     files={"\\EFI\\BOOT\\BOOTX64.EFI": pathlib.Path(signed)}) as m:
            m.wait_for(PROMPT, timeout=90)
            # (command line, value typed at the interactive prompt or None)
            for line, typed in (("mm 0xf4 0x10 -IO -w 1", None), ("mm f0000 5a", None),
                                ("mm 0xf4 -IO -w 1", "10"), ("mm 0 0x10 -PCI -w 1", None)):
                mark = m.mark()
                m.send_line(line)
                if typed is not None:
                    m.wait_for(re.compile(r" : 0x[0-9A-F]+ "))
                    m.send_line(typed)
                m.wait_for(SECURE_REFUSAL)
                m.wait_for(PROMPT)
                expect(m.since(mark).count(SECURE_REFUSAL) == 1, "%s: %r" % (line, m.since(mark)))
            m.send_line("mm f0000 -w 4 -n")
            m.wait_for(re.compile(r"MEM  0x00000000000F0000 : 0x[0-9A-F]{8}\n"))
            m.wait_for(PROMPT)
            expect(m.running() and m.debug_exit_value() is None,
                   "the debug-exit port saw a write: %r" % m.debug_exit_value())


if __name__ == "__main__":
    run_cases([check_hardware, check_smbios_32, check_secure_boot_refuses_writes])
