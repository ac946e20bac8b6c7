"""Boot configuration in OVMF, with the firmware's own boot manager as the judge.

Boot 1: bootmgr lists OVMF's own entries; `bootmgr add` makes an entry for a copy of
tarn.efi on a FAT disk without partitions (full device path) and `bcfg boot addp` one on
a GPT disk (short form from the hard-drive node), `bcfg -opt` gives it its arguments,
`bootmgr next` picks the first, `bootmgr backup` saves everything. The Boot#### bytes are
decoded by the EFI_LOAD_OPTION reader below, from the backup text and from the firmware's
store file, and must be what was asked.
Boot 2 (same store): the firmware starts BootNext (the copy prints MARKER-FULL through its
script argument), then the GPT entry first in BootOrder (MARKER-GPT and its BootCurrent),
whose script disables its own entry so that later boots pass it over.
Boot 3: the file of the first entry was deleted with mtools: `bootmgr check` says MISSING;
after deleting the entry and changing the order, `bootmgr restore` brings both back."""

import os
import pathlib
import re
import struct
import subprocess
import tempfile
import uuid
import zlib

from harness import Machine, expect, make_fat_image, run_cases
from test_var import read_store

PROMPT = "fs0:\\> "
GLOBAL = uuid.UUID("8be4df61-93ca-11d2-aa0d-00e098032b8c")
ESP_TYPE = uuid.UUID("c12a7328-f81f-11d2-ba4b-00a0c93ec93b")
PART_GUID = uuid.UUID("5a2b9c1e-0d3f-4b6a-8e7d-112233445566")
SECTOR = 512
GPT_SCRIPT = ('print "MARKER-" + "GPT BootCurrent=" + hex$(bootcurrent())\n'
              'run "bootmgr disable " + hex$(bootcurrent()) + " -y -B"\n'
              "end 1\n")
PART_START = 2048


def make_gpt_image(path: str, files: dict, part_mb: int = 16) -> None:
    """A disk with a GPT (protective MBR, both headers, one EFI system partition at LBA
    2048) whose partition is a FAT file system holding `files`."""
    part = path + ".part"
    make_fat_image(part, files, size_mb=part_mb, label="GPTDISK")
    part_sectors = part_mb * 1024 * 1024 // SECTOR
    total = PART_START + part_sectors + 2048
    last = total - 1
    entry = (ESP_TYPE.bytes_le + PART_GUID.bytes_le +
             struct.pack("<QQQ", PART_START, PART_START + part_sectors - 1, 0) +
             "TARN".encode("utf-16-le").ljust(72, b"\0"))
    entries = entry.ljust(128 * 128, b"\0")

    def header(current: int, backup: int, entries_lba: int) -> bytes:
        fields = [b"EFI PART", 0x00010000, 92, 0, 0, current, backup, 34, last - 33,
                  uuid.UUID("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0").bytes_le, entries_lba,
                  128, 128, zlib.crc32(entries)]
        fmt = "<8sIIIIQQQQ16sQIII"
        crc = zlib.crc32(struct.pack(fmt, *fields))
        fields[3] = crc
        return struct.pack(fmt, *fields).ljust(SECTOR, b"\0")

    mbr = bytearray(SECTOR)
    mbr[446:462] = struct.pack("<BBBBBBBBII", 0, 0, 2, 0, 0xEE, 0xFF, 0xFF, 0xFF, 1,
                               min(total - 1, 0xFFFFFFFF))
    mbr[510:512] = b"\x55\xaa"
    with open(path, "wb") as f:
        f.truncate(total * SECTOR)
        f.seek(0)
        f.write(bytes(mbr))
        f.write(header(1, last, 2))
        f.write(entries)
        f.seek(PART_START * SECTOR)
        f.write(open(part, "rb").read())
        f.seek((last - 32) * SECTOR)
        f.write(entries)
        f.write(header(last, 1, last - 32))
    os.unlink(part)


def decode_load_option(data: bytes) -> dict:
    """EFI_LOAD_OPTION: attributes, description, device path nodes, optional data."""
    attributes, list_length = struct.unpack_from("<IH", data, 0)
    end = 6
    while data[end:end + 2] != b"\0\0":
        end += 2
    description = data[6:end].decode("utf-16-le")
    at = end + 2
    path = data[at:at + list_length]
    nodes = []
    i = 0
    while i < len(path):
        kind, sub, length = struct.unpack_from("<BBH", path, i)
        expect(length >= 4 and i + length <= len(path), "bad node in %r" % path)
        nodes.append((kind, sub, path[i + 4:i + length]))
        i += length
    expect(nodes and nodes[-1][:2] == (0x7F, 0xFF), "no end node: %r" % nodes)
    return {"attributes": attributes, "description": description, "nodes": nodes,
            "optional": data[at + list_length:]}


def file_node_name(option: dict) -> str:
    files = [body for kind, sub, body in option["nodes"] if (kind, sub) == (4, 4)]
    expect(len(files) == 1, "file nodes: %r" % option["nodes"])
    return files[0].decode("utf-16-le").rstrip("\0")


def backup_values(text: str) -> dict:
    """NAME -> bytes of the global variables in a backup text."""
    values = {}
    for line in text.splitlines()[1:]:
        parts = line.split(" ")
        if len(parts) == 4 and uuid.UUID(parts[0]) == GLOBAL:
            values[parts[2]] = bytes.fromhex(parts[3])
    return values


class Session:
    """Command lines at the shell's prompt; each returns the text it printed."""

    def __init__(self, m: Machine):
        self.m = m

    def run(self, line: str, expect_text: str | None = None) -> str:
        start = self.m.mark()
        self.m.send_line(line)
        if expect_text:
            self.m.wait_for(expect_text)
        self.m.wait_for(PROMPT)
        return self.m.since(start)


def volume_of(map_text: str, label: str) -> str:
    found = re.search(r"^(fs\d+)\s+%s\b" % label, map_text, re.M)
    expect(found is not None, "no volume labelled %s in:\n%s" % (label, map_text))
    return found.group(1)


def boot_config(efi_dir):
    tarn = pathlib.Path(os.path.join(efi_dir, "tarn.efi"))
    with tempfile.TemporaryDirectory(prefix="tarn-boot-") as folder:
        store = os.path.join(folder, "vars.fd")
        plain = make_fat_image(os.path.join(folder, "plain.img"),
                               {"\\efi\\mark.efi": tarn,
                                "\\mark.tsb": 'print "MARKER-" + "FULL"\nend 1\n'},
                               label="PLAINDISK")
        gpt = os.path.join(folder, "gpt.img")
        make_gpt_image(gpt, {"\\efi\\mark.efi": tarn, "\\mark.tsb": GPT_SCRIPT})
        launch = "\\tarn.efi tarn.efi -n"

        # ---- boot 1: create the entries
        with Machine(efi_dir, launch=launch, vars_file=store, disks=[plain, gpt],
                     name="boot-create") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            s = Session(m)
            volumes = s.run("map")
            fs_plain, fs_gpt = volume_of(volumes, "PLAINDISK"), volume_of(volumes, "GPTDISK")
            listing = s.run("bootmgr", "Flags: A active")
            expect("UiApp" in listing, "OVMF's own entries:\n%s" % listing)
            expect(re.search(r"^\s{17}\S*Fv\(", listing, re.M) is not None,
                   "device paths of OVMF's entries:\n%s" % listing)
            out = s.run('bootmgr add %s:\\efi\\mark.efi "TARN full" mark.efi mark.tsb -y' % fs_plain,
                        "Done.")
            full = re.search(r"create Boot([0-9A-F]{4}) \"TARN full\"", out).group(1)
            expect("Backup saved to fs0:\\tarn\\backup\\boot-" in out, out)
            out = s.run('bcfg boot addp 0 %s:\\efi\\mark.efi "TARN gpt"' % fs_gpt, "Target = ")
            short = re.search(r"Target = ([0-9A-F]{4})\.", out).group(1)
            s.run('bcfg boot -opt 0 "mark.efi mark.tsb"')
            s.run("bootmgr next %s -B" % full, "Done.")
            s.run("bootmgr backup saved.txt", "Boot variables saved to")
            dump = s.run("bcfg boot dump")
            expect("Option: 00. Variable: Boot%s\n  Desc    - TARN gpt" % short in dump, dump)
            m.send_line("exit")
            expect(m.exit_status() == 0, "status of the first boot")
            saved = m.read_file("\\saved.txt").decode()
            expect("boot-" in m.list_dir("\\tarn\\backup"), "dated backups")

        values = backup_values(saved)
        variables = read_store(store)
        for number in (full, short):
            name = "Boot" + number
            expect(variables.get((name, GLOBAL), (0, b""))[1] == values.get(name),
                   "%s differs between the backup and the firmware's store" % name)
        a = decode_load_option(values["Boot" + full])
        expect(a["attributes"] == 1 and a["description"] == "TARN full", "full: %r" % a)
        expect(a["optional"] == "mark.efi mark.tsb\0".encode("utf-16-le"), "args: %r" % a)
        expect(a["nodes"][0][:2] == (2, 1), "full path starts at PciRoot: %r" % a["nodes"])
        expect(all((k, t) != (4, 1) for k, t, _ in a["nodes"]), "no partition on the plain disk")
        expect(file_node_name(a) == "\\efi\\mark.efi", "file: %r" % a)
        b = decode_load_option(values["Boot" + short])
        expect(b["attributes"] == 1 and b["description"] == "TARN gpt", "gpt: %r" % b)
        expect(b["optional"] == "mark.efi mark.tsb\0".encode("utf-16-le"), "gpt args: %r" % b)
        kind, sub, hd = b["nodes"][0]
        expect((kind, sub) == (4, 1), "short form starts at HD: %r" % b["nodes"])
        number, start, size = struct.unpack_from("<IQQ", hd, 0)
        expect(number == 1 and start == PART_START, "HD node: %d %d" % (number, start))
        expect(hd[20:36] == PART_GUID.bytes_le and hd[36:38] == b"\x02\x02",
               "HD signature: %r" % hd[20:38])
        expect(len(b["nodes"]) == 3 and file_node_name(b) == "\\efi\\mark.efi", "gpt nodes")
        order = values["BootOrder"]
        expect(struct.unpack_from("<H", order)[0] == int(short, 16), "gpt entry first")
        expect(values["BootNext"] == struct.pack("<H", int(full, 16)), "BootNext")

        # ---- boot 2: the firmware boots what was made. Each copy ends with status 1, so
        # that the firmware goes on with BootOrder rather than to its menu; the GPT copy
        # disables its own entry (BootCurrent) so that later boots pass it over.
        with Machine(efi_dir, launch=launch, vars_file=store, disks=[plain, gpt],
                     stop_on_other_boot=False, name="boot-judge") as m:
            m.wait_for("MARKER-FULL", timeout=60)
            m.wait_for("MARKER-GPT BootCurrent=%s" % "%X" % int(short, 16), timeout=60)
            m.wait_for("Done.", timeout=30)
            text = m.output()
            expect(text.index('starting Boot%s "TARN full"' % full) <
                   text.index('starting Boot%s "TARN gpt"' % short), "BootNext came first")

        # ---- boot 3: a deleted file, then a restore
        subprocess.run(["mdel", "-i", plain, "::/efi/mark.efi"], check=True,
                       env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        with Machine(efi_dir, launch=launch, vars_file=store, disks=[plain, gpt],
                     files={"\\saved.txt": saved}, name="boot-check") as m:
            m.wait_boot()
            m.wait_for(PROMPT)
            s = Session(m)
            listing = s.run("bootmgr", "Flags: A active")
            expect("BootNext: -" in listing, "the firmware used BootNext up:\n%s" % listing)
            expect(re.search(r"^\s+\d+  %s  -    TARN gpt$" % short, listing, re.M), listing)
            check = s.run("bootmgr check", "found.")
            expect(re.search(r"^%s  TARN full\s+MISSING: file not found$" % full, check, re.M),
                   check)
            expect(re.search(r"^%s  TARN gpt\s+unverified \(short-form path\)$" % short, check,
                             re.M), check)
            s.run("bootmgr del %s -y -B" % full, "Done.")
            s.run("bootmgr order %s -y -B" % short, "Done.")
            s.run("bootmgr restore saved.txt -y -B", "Done.")
            restored = s.run("bootmgr order")
            m.send_line("exit")
            expect(m.exit_status() == 0, "status of the third boot")
        numbers = struct.unpack("<%dH" % (len(order) // 2), order)
        expect("BootOrder: %s" % ",".join("%04X" % n for n in numbers) in restored,
               "restored order: %s" % restored)
        variables = read_store(store)
        expect(variables.get(("Boot" + full, GLOBAL), (0, b""))[1] == values["Boot" + full],
               "the deleted entry came back byte for byte")


if __name__ == "__main__":
    run_cases([boot_config])
