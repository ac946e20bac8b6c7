"""The file management commands in real firmware on FAT images: a session typed over the
serial line makes, copies, moves, renames, labels and deletes files, moves a tree to a
second disk and pages a long listing; the images are then checked from the host with
mtools and fsck.vfat."""

import os
import re
import subprocess

from harness import Machine, expect, run_cases

ROOT = "fs0:\\> "
T = "fs0:\\t> "
BIG = bytes(range(256)) * 2048  # 512 KiB: more than one copy piece


def mtool(*args):
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    result = subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
    return result.returncode, result.stdout.decode("latin-1")


def only_label_note(report):
    """Whether fsck's only complaint is the label: the firmware's FAT driver writes a new
    label to the root directory entry and leaves the copy in the boot sector as it was."""
    lines = [l for l in report.splitlines()[1:] if l.strip()]
    notes = [l for l in lines if "label" in l.lower()]
    rest = [l for l in lines if l not in notes and not l.startswith("Leaving filesystem")
            and not re.search(r": \d+ files, \d+/\d+ clusters$", l)]
    return bool(notes) and not rest


def command(m, line, prompt=T):
    """Types a line and waits for the next prompt; returns what the command printed."""
    m.send(line + "\r")
    m.wait_for(line + "\n")
    out = m.wait_for(re.compile(r"([\s\S]*?)" + re.escape(prompt)))
    return out.group(1)


def writes_then_checks_with_mtools(efi_dir):
    files = {
        "\\t\\a.txt": "alpha\n",
        "\\t\\b.txt": "beta\n",
        "\\t\\sub\\c.txt": "gamma\n",
        "\\t\\big.bin": BIG,
        "\\t\\old\\x.txt": "x\n",
        "\\t\\old\\y\\z.txt": "z\n",
    }
    disks = [{"\\keep.txt": "on the second disk\n"}]
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files, disks=disks,
                 name="files-write") as m:
        m.wait_boot()
        m.wait_for(ROOT)
        listing = command(m, "map", ROOT)
        found = re.search(r"^(fs\d+) +TARNDISK1 ", listing, re.M)
        expect(found is not None, "second disk not in map:\n%s" % listing)
        other = found.group(1)
        command(m, "cd t")
        expect(command(m, "mkdir -p new\\deep") == "", "mkdir")
        expect(command(m, "cp a.txt big.bin new\\deep") == "", "cp")
        expect(command(m, "cp -r sub new") == "", "cp -r")
        expect(command(m, "mv b.txt new\\moved.txt") == "", "mv")
        expect(command(m, "touch new\\empty.txt") == "", "touch")
        expect(command(m, "setsize 3000 new\\sized.bin") == "", "setsize")
        out = command(m, "attrib +r +h a.txt")
        expect(" A HR  fs0:\\t\\a.txt\n" in out, "attrib: %r" % out)
        out = command(m, "rm a.txt old")
        expect("rm: fs0:\\t\\a.txt: access denied\n" in out, "rm of a read-only file: %r" % out)
        expect("rm: fs0:\\t\\old is a directory (use -r)\n" in out, "rm of a directory: %r" % out)
        expect(command(m, "rm -r old") == "", "rm -r")
        out = command(m, "cp a.txt A.TXT")
        expect("cp: fs0:\\t\\a.txt: source and destination are the same file\n" in out, out)
        out = command(m, "mv new new\\deep")
        expect("mv: cannot move fs0:\\t\\new into itself\n" in out, out)
        out = command(m, "rm -r fs0:\\")
        expect("rm: fs0:\\: cannot remove the root directory\n" in out, out)
        out = command(m, "vol -n TARNLABEL")
        expect("Volume fs0: TARNLABEL (rw)\n" in out, "vol: %r" % out)
        # Between two disks: copied, then deleted here.
        expect(command(m, "mv fs0:\\t\\new %s:\\" % other) == "", "mv between volumes")
        out = command(m, "stat -data %s:\\new\\deep\\big.bin" % other)
        expect("type=file\nsize=%d\n" % len(BIG) in out, "stat: %r" % out)
        out = command(m, "ls fs0:\\t")
        expect("big.bin" in out and "new" not in out, "ls: %r" % out)
        m.send("exit\r")
        expect(m.exit_status() == 0, "exit status")

        boot = m.image(0)
        expect(not m.file_exists("\\t\\b.txt"), "b.txt was not moved")
        expect(not m.file_exists("\\t\\old"), "old was not deleted")
        expect(not m.file_exists("\\t\\new"), "new was not moved away")
        expect(m.read_file("\\t\\a.txt") == b"alpha\n", "a.txt changed")
        code, attrs = mtool("mattrib", "-i", boot, "::/t/a.txt")
        flags = attrs.split("::")[0]
        expect(code == 0 and "R" in flags and "H" in flags, "mattrib: %r" % attrs)
        code, label = mtool("mlabel", "-s", "-i", boot, "::")
        expect("TARNLABEL" in label, "mlabel: %r" % label)
        on_second = {
            "\\new\\deep\\a.txt": b"alpha\n",
            "\\new\\deep\\big.bin": BIG,
            "\\new\\sub\\c.txt": b"gamma\n",
            "\\new\\moved.txt": b"beta\n",
            "\\new\\empty.txt": b"",
            "\\new\\sized.bin": bytes(3000),
            "\\keep.txt": b"on the second disk\n",
        }
        for path, content in on_second.items():
            got = m.read_file(path, disk=1)
            expect(got == content, "%s on the second disk: %d bytes" % (path, len(got)))
        for disk in (0, 1):
            clean, report = m.check_disk(disk)
            expect(clean or only_label_note(report), "fsck.vfat -n on disk %d:\n%s" % (disk, report))


def pages_a_long_listing(efi_dir):
    count = 150
    files = {"\\many\\f%03d.txt" % i: "%d\n" % i for i in range(count)}
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files, name="files-page") as m:
        m.wait_boot()
        m.wait_for(ROOT)
        m.send("dir -b many\r")
        m.wait_for("dir -b many\n")
        first = m.wait_for(re.compile(r"([\s\S]*?)-- More -- \(Enter: one line, Space: one page, q: stop\) "))
        page = re.findall(r"  (f\d{3})\.txt\n", first.group(1))
        # A page is the screen's rows less one, whatever text mode the firmware chose.
        expect(len(page) >= 20 and page == ["f%03d" % i for i in range(len(page))],
               "first page: %r" % page)
        rows = len(page)
        m.send(" ")
        second = m.wait_for(re.compile(r"([\s\S]*?)-- More --"))
        names = re.findall(r"  (f\d{3})\.txt\n", second.group(1))
        expect(names == ["f%03d" % i for i in range(rows, 2 * rows)], "second page: %r" % names)
        m.send("q")
        m.wait_for(ROOT)
        expect("f%03d.txt" % (2 * rows) not in m.output() and "%d files" % count not in m.output(),
               "the listing went on after q")
        # Without -b the pager is also on by default at the console; -data turns it off.
        out = command(m, "ls -data many\\f05*", ROOT)
        expect(out.count("type=file\n") == 10, "records: %r" % out)
        out = command(m, "rm -f nothing*", ROOT)
        expect(out == "", "rm -f: %r" % out)
        m.send("exit\r")
        expect(m.exit_status() == 0, "exit status")
        clean, report = m.check_disk(0)
        expect(clean, "fsck.vfat -n:\n%s" % report)


if __name__ == "__main__":
    run_cases([writes_then_checks_with_mtools, pages_a_long_listing])
