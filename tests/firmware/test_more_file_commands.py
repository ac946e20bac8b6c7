"""The file and text commands not covered by the other firmware cases, in one boot:
pwd, md, del, type, head, tail, hexdump, comp, cmp, parse and mv of a directory renamed
only in letter case, with results written to files and read back from the FAT image on
the host."""

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "

LINES = "".join("line %d\n" % i for i in range(1, 8))
CSV = ('ShellCommand,"ver"\n'
       'Table,"a, b",x\n'
       'Other,1\n'
       'Table,second,y\n')


def more_file_commands(efi_dir):
    files = {"\\lines.txt": LINES, "\\b.txt": "hi\n", "\\same1.txt": "same\n",
             "\\same2.txt": "same\n", "\\diff.txt": "sane\n", "\\gone.txt": "x\n",
             "\\out.csv": CSV, "\\tree\\b\\inner.txt": "inner\n",
             "\\tree\\b\\deep\\leaf.txt": "leaf\n"}
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files, name="more-files") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        commands = [
            "pwd > pwd.txt",
            "md newdir",
            "del gone.txt",
            "type b.txt > type.txt",
            "head -n 2 lines.txt > head.txt",
            "tail -n 2 lines.txt > tail.txt",
            "hexdump b.txt > hex.txt",
            "comp same1.txt same2.txt > comp.txt",
            "cmp same1.txt diff.txt > cmp.txt",
            "parse out.csv table 1 > parse.txt",
            "parse out.csv table 1 -i 2 > parse2.txt",
            "mv \\tree\\b \\tree\\B",
        ]
        for line in commands:
            m.send(line + "\r")
            m.wait_for(PROMPT)
        m.send("set lasterror\r")
        m.wait_for("0x0\n")
        m.send("cmp same1.txt diff.txt\r")
        m.wait_for(PROMPT)
        m.send("set lasterror\r")
        code = m.wait_for(__import__("re").compile(r"(0x[0-9a-f]+)\n")).group(1)
        expect(code != "0x0", "cmp of different files succeeded")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")

        def text(name):
            return m.read_file("\\" + name).decode("utf-8", "replace")

        expect(text("pwd.txt") == "fs0:\\\n", "pwd: %r" % text("pwd.txt"))
        expect(m.file_exists("\\newdir"), "md made nothing")
        expect(not m.file_exists("\\gone.txt"), "del left the file")
        expect(text("type.txt") == "hi\n", "type: %r" % text("type.txt"))
        expect(text("head.txt") == "line 1\nline 2\n", "head: %r" % text("head.txt"))
        expect(text("tail.txt") == "line 6\nline 7\n", "tail: %r" % text("tail.txt"))
        hexdump = text("hex.txt").lower()
        expect("68 69 0a" in hexdump, "hexdump: %r" % hexdump)
        expect("no differences" in text("comp.txt"), "comp: %r" % text("comp.txt"))
        expect(text("cmp.txt").strip() != "", "cmp printed nothing for different files")
        expect(text("parse.txt") == "a, b\nsecond\n", "parse: %r" % text("parse.txt"))
        expect(text("parse2.txt") == "second\n", "parse -i 2: %r" % text("parse2.txt"))
        # mdir shows the name as the directory entry now stores it.
        names = [line.split()[0] for line in m.list_dir("\\tree").splitlines()
                 if "<DIR>" in line and not line.startswith(".")]
        expect(names == ["B"], "mv of b to B left %r" % names)
        expect(text("tree\\B\\inner.txt") == "inner\n", "mv lost inner.txt")
        expect(text("tree\\B\\deep\\leaf.txt") == "leaf\n", "mv lost deep\\leaf.txt")
        ok, report = m.check_disk()
        expect(ok, "fsck.vfat: " + report)


if __name__ == "__main__":
    run_cases([more_file_commands])
