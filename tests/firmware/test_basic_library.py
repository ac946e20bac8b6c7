"""BASIC's built-in library in real firmware: a script lists its folder with DIR$, writes
and reads back a file, reads `set -data` through RUN$, RECORDS and FIELD$, and offers a
MENU answered by a key typed over the serial line. One boot."""

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "

SCRIPT = "\n".join([
    'n$ = DIR$("fs0:\\libdir")',
    'WHILE n$ <> ""',
    'PRINT "entry=" + n$',
    'n$ = DIR$',
    'WEND',
    'r = WRITEFILE("fs0:\\libdir\\out.txt", "written")',
    'APPENDFILE "fs0:\\libdir\\out.txt", "+more"',
    'PRINT "read=" + READFILE$("fs0:\\libdir\\out.txt"); ERR; r',
    'PRINT "size="; FILESIZE("fs0:\\libdir\\out.txt")',
    't$ = RUN$("set -data")',
    'n = RECORDS(t$, rec$())',
    'FOR i = 0 TO n - 1',
    'IF FIELD$(rec$(i), "name") = "libvar" THEN PRINT "libvar=" + FIELD$(rec$(i), "value")',
    'NEXT',
    'c = MENU("Choose one", "alpha|beta|gamma")',
    'PRINT "chose="; c',
    '',
])


def script_uses_files_records_and_menu(efi_dir):
    files = {"\\lib.tsb": SCRIPT, "\\libdir\\b.txt": "bb", "\\libdir\\a.txt": "a"}
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", files=files, name="basic-lib") as m:
        m.wait_boot()
        m.wait_for(PROMPT)
        m.send("set libvar hello\r")
        m.wait_for(PROMPT)
        m.send("lib.tsb\r")
        m.wait_for("entry=a.txt\n")
        m.wait_for("entry=b.txt\n")
        m.wait_for("read=written+more00\n")
        m.wait_for("size=12\n")
        m.wait_for("libvar=hello\n")
        m.wait_for("Choose one")
        m.wait_for("gamma")
        m.send_key("Down")
        m.send("\r")
        m.wait_for("chose=2\n")
        m.wait_for(PROMPT)
        m.send("exit\r")
        expect(m.exit_status() == 0, "status")
        content = m.read_file("\\libdir\\out.txt")
    expect(content == b"written+more", "out.txt holds %r" % content)


if __name__ == "__main__":
    run_cases([script_uses_files_records_and_menu])
