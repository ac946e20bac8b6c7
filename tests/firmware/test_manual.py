"""The scripts of docs/manual.md, taken from the manual's own code blocks (every ```basic
block whose first line is "' NAME.tsb: ..."), run in OVMF in one boot exactly as printed:
the inventory agrees with what QEMU was given, the boot check finds the entry whose file
was deleted and leaves its backup, the download over QEMU's TFTP server is kept when its
checksum matches and deleted when it does not."""

import os
import random
import re
import tempfile
import zlib

from harness import Machine, expect, records, run_cases

PROMPT = "fs0:\\> "
MANUAL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "manual.md")
SMBIOS = {"manufacturer": "ManualCo", "product": "Bench7", "serial": "M-0042"}


def manual_scripts() -> dict[str, str]:
    """{name: text} of the scripts in the manual."""
    with open(MANUAL, encoding="utf-8") as f:
        text = f.read()
    scripts = {}
    for block in re.findall(r"^```basic\n(.*?)^```", text, re.S | re.M):
        head = re.match(r"' (\w+\.tsb):", block)
        if head:
            scripts[head.group(1)] = block
    return scripts


def run_and_status(m: Machine, line: str, timeout: float = 60) -> tuple[str, int]:
    """Output of a script run at the prompt, and its exit code (ERR after RUN)."""
    mark = m.mark()
    m.send_line('RUN "%s": PRINT "status="; ERR' % line.replace('"', '""'))
    code = int(m.wait_for(re.compile(r"\nstatus=(-?\d+)\n"), timeout=timeout).group(1))
    m.wait_for(PROMPT)
    return m.since(mark), code


def manual_scripts_in_firmware(efi_dir):
    scripts = manual_scripts()
    expect(set(scripts) == {"inventory.tsb", "bootcheck.tsb", "fetch.tsb"}, "scripts: %s" % sorted(scripts))
    served = tempfile.mkdtemp(prefix="tarn-manual-tftp-")
    rng = random.Random(5)
    lines = ['PRINT "update %d: %s"' % (i, "".join(rng.choice("abcdefgh ,.") for _ in range(40)))
             for i in range(60)]
    payload = ("\n".join(lines) + '\nPRINT "update applied"\n').encode("ascii")
    os.makedirs(os.path.join(served, "scripts"))
    with open(os.path.join(served, "scripts", "update.tsb"), "wb") as f:
        f.write(payload)
    adler = "%08X" % zlib.adler32(payload)
    files = {"\\" + name: text.replace("\n", "\r\n") for name, text in scripts.items()}
    files["\\gone.efi"] = open(os.path.join(efi_dir, "tarn.efi"), "rb").read()
    extra = ["-smbios", "type=1," + ",".join("%s=%s" % kv for kv in SMBIOS.items())]
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files, name="manual",
                 network="tftp=" + served, extra_args=extra, timeout=240) as m:
        m.wait_for(PROMPT, timeout=90)
        m.send_line("set -v pager off")
        m.wait_for(PROMPT)

        out, code = run_and_status(m, "inventory.tsb")
        expect(code == 0 and "written to inventory.txt" in out, out)
        m.send_line("pci -data > pci.txt")
        m.wait_for(PROMPT)

        # An entry whose file is then deleted: the check must find it.
        m.send_line('bootmgr add fs0:\\gone.efi "Manual gone" -y')
        m.wait_for(PROMPT)
        m.send_line("rm fs0:\\gone.efi")
        m.wait_for(PROMPT)
        out, code = run_and_status(m, "bootcheck.tsb")
        expect(code == 1, "bootcheck exit %d:\n%s" % (code, out))
        expect(re.search(r"cannot boot: .*Manual gone.*MISSING", out), out)
        expect(re.search(r"\b1 entries cannot boot", out), out)
        backup = re.search(r"Backup: (\\tarn\\backup\\boot-\d{8}-\d{6}\.txt) \((\d+) bytes\)", out)
        expect(backup is not None, out)

        out, code = run_and_status(m, "fetch.tsb 10.0.2.2 scripts/update.tsb %s" % adler, timeout=120)
        expect(code == 0 and "update.tsb (%d bytes) is intact" % len(payload) in out, out)
        out, code = run_and_status(m, "update.tsb")
        expect(code == 0 and "update applied" in out, out)
        out, code = run_and_status(m, "fetch.tsb 10.0.2.2 scripts/update.tsb 0BADF00D", timeout=120)
        expect(code == 1 and "is damaged" in out, out)
        m.send_line("exit 0")
        status = m.exit_status()
        expect(status == 0, "exit status %#x" % status)
        inventory = records(m.read_file("\\inventory.txt").decode("latin-1"))
        kinds = [r.get("kind") for r in inventory]
        system = [r for r in inventory if r.get("kind") == "system"]
        expect(kinds[0] == "firmware" and len(system) == 1, "inventory: %r" % inventory)
        for key, value in SMBIOS.items():
            expect(system[0].get(key) == value, "inventory %s: %r" % (key, system[0].get(key)))
        pci = records(m.read_file("\\pci.txt").decode("latin-1"))
        expect(kinds.count("pci") == len(pci) > 0, "inventory has %d PCI functions, pci -data %d" % (kinds.count("pci"), len(pci)))
        expect("volume" in kinds, "no volume in the inventory")
        saved = m.read_file(backup.group(1))
        # The entry made before the check is in the backup (its description in UCS-2 hex).
        described = "Manual gone".encode("utf-16-le").hex()
        expect(len(saved) == int(backup.group(2)) and described in saved.decode("latin-1").lower(),
               "backup %s: %d bytes\n%s" % (backup.group(1), len(saved), saved[:400]))
        expect(not m.file_exists("\\update.tsb"), "the damaged download was not deleted")


if __name__ == "__main__":
    run_cases([manual_scripts_in_firmware])
