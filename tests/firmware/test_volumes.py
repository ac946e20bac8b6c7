"""The file layer in real firmware with three FAT images: volumes numbered by device
path text (not by the firmware's handle order), the boot volume, files written, renamed,
appended and removed and directories made and removed, read back on the host with mtools
and checked with fsck.vfat; a UCS-2 file with a byte-order mark read as UTF-8 text."""

import re

from harness import Machine, expect, run_cases

PROMPT = re.compile(r"fs\d+:\\[^\n]*> $")


def records(text):
    out, current = [], {}
    for line in text.splitlines():
        if not line.strip():
            if current:
                out.append(current)
            current = {}
        elif "=" in line:
            key, _, value = line.partition("=")
            current[key] = value
    if current:
        out.append(current)
    return out


def volumes_paths_and_files(efi_dir):
    ucs2 = b"\xff\xfe" + "h\u00e9llo\r\nw\u00f6rld \u20ac\r\n".encode("utf-16-le")
    disk_a = {"\\a.txt": "on disk A\n", "\\u.txt": ucs2}
    disk_b = {"\\b.txt": "on disk B\n"}
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", disks=[disk_a, disk_b],
                 files={"\\marker.txt": "boot disk\n"}, name="volumes") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("map -data > maps.txt\r")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status of the first boot")
        vols = [r for r in records(m.read_file("\\maps.txt").decode()) if r.get("kind") == "volume"]
    expect(len(vols) >= 3, "map -data: %r" % vols)
    names = [v["volume"] for v in vols]
    expect(names == ["fs%d" % i for i in range(len(vols))], "names %r" % names)
    paths = [v["devpath"] for v in vols]
    expect(paths == sorted(paths), "volumes not in device path order: %r" % paths)
    boots = [v["volume"] for v in vols if v["boot"] == "yes"]
    expect(len(boots) == 1, "boot volume: %r" % vols)

    # Second boot: find which fsN is which disk by its files, then work on disk A.
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", disks=[disk_a, disk_b],
                 files={"\\marker.txt": "boot disk\n"}, name="volumes-files") as m:
        m.wait_boot()
        prompt = m.wait_for(PROMPT).group(0)
        expect(prompt == "%s:\\> " % boots[0], "prompt %r, boot volume %s" % (prompt, boots[0]))
        where = {}
        for v in names:
            m.send("ls %s:\\ > %s_list.txt\r" % (v, v))
            m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status of the listing boot")
        for v in names:
            listing = m.read_file("\\%s_list.txt" % v).decode(errors="replace").lower()
            for key in ("a.txt", "b.txt", "marker.txt"):
                if key in listing:
                    where[key] = v
    expect(set(where) == {"a.txt", "b.txt", "marker.txt"}, "files not found on volumes: %r" % where)
    a = where["a.txt"]
    expect(where["marker.txt"] == boots[0], "boot volume is %s, marker on %s" % (boots[0], where["marker.txt"]))

    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", disks=[disk_a, disk_b],
                 files={"\\marker.txt": "boot disk\n"}, name="volumes-write") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        for line in ["%s:" % a,
                     "echo hello > new.txt",
                     "mv new.txt renamed.txt",
                     "mkdir made",
                     "echo x > made\\x.txt",
                     "rmdir made",
                     "rm made\\x.txt",
                     "rmdir made",
                     "mkdir kept",
                     "mv renamed.txt kept\\final.txt",
                     "echo more >> kept\\final.txt",
                     "mv kept\\final.txt kept\\FINAL.TXT",
                     "cat u.txt > utf8.txt",
                     "mkdir a*b",
                     "cd fs9:"]:
            m.send(line + "\r")
            m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status of the writing boot")
        out = m.output()
        expect("rmdir: " in out and "directory not empty" in out, "rmdir of a full directory")
        # Which image is disk A: the one that holds a.txt.
        index = next(i for i in (1, 2) if m.file_exists("\\a.txt", disk=i))
        final = m.read_file("\\kept\\FINAL.TXT", disk=index)
        expect(final == b"hello\nmore\n", "final: %r" % final)
        listing = m.list_dir("\\kept", disk=index)
        expect("FINAL" in listing and "TXT" in listing, "case kept: %s" % listing)
        expect(not m.file_exists("\\made", disk=index), "made still exists")
        expect(not m.file_exists("\\new.txt", disk=index), "new.txt still exists")
        utf8 = m.read_file("\\utf8.txt", disk=index)
        expect(utf8.replace(b"\r", b"") == "h\u00e9llo\nw\u00f6rld \u20ac\n".encode(), "UCS-2 as UTF-8: %r" % utf8)
        ok, report = m.check_disk(index)
        expect(ok, "fsck.vfat: " + report)


if __name__ == "__main__":
    run_cases([volumes_paths_and_files])
