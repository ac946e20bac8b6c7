"""The text commands in real firmware, typed at the prompt over the serial line in one
boot: `cat` of a UCS-2 file with CRLF lines made by iconv on the host (on the console and
redirected to a file read back afterwards), `more` paging answered with Enter, Space and
q, and `grep -c` and `wc` agreeing with GNU grep and wc run on the host on the same file."""

import random
import re
import subprocess

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "
MORE = "-- More -- (Enter: one line, Space: one page, q: stop) "


def ucs2_file() -> bytes:
    """UTF-16LE with a byte order mark and CRLF lines, converted by iconv."""
    text = "\ufeffZeile eins\r\nGr\u00fc\u00dfe aus UCS-2\r\n\u20ac am Ende\r\n"
    done = subprocess.run(["iconv", "-f", "UTF-8", "-t", "UTF-16LE"], input=text.encode("utf-8"),
                          stdout=subprocess.PIPE, check=True)
    expect(done.stdout[:2] == b"\xff\xfe", "iconv gave no byte order mark")
    return done.stdout


def counting_file() -> bytes:
    """Lines of words with tabs, runs of blanks, CRLF ends, empty lines and no final
    line feed: what wc and grep -c must count alike."""
    rng = random.Random(43)
    words = ["tarn", "Tarnwick", "firmware", "x", "volume", "TARN", "a-b", "fs0:\\efi"]
    lines = []
    for i in range(3000):
        kind = rng.random()
        if kind < 0.05:
            lines.append("")
            continue
        seps = [" ", "  ", "\t", " \t ", "\x0b", "\x0c"]
        line = "".join(rng.choice(words) + rng.choice(seps) for _ in range(rng.randint(1, 9)))
        if kind < 0.15:
            line = "   " + line
        lines.append(line + ("\r" if kind > 0.9 else ""))
    return ("\n".join(lines) + "\nlast line without feed tarn").encode("ascii")


def host_counts(path: str) -> tuple[int, list[int]]:
    env = {"LC_ALL": "C", "PATH": "/usr/bin:/bin"}
    grep = subprocess.run(["grep", "-c", "-F", "tarn", path], stdout=subprocess.PIPE, env=env)
    wc = subprocess.run(["wc", path], stdout=subprocess.PIPE, env=env, check=True)
    return int(grep.stdout), [int(v) for v in wc.stdout.split()[:3]]


def text_commands_in_one_boot(efi_dir):
    counting = counting_file()
    lines = "".join("line %03d\n" % i for i in range(1, 201))
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="text-commands", timeout=300,
                 files={"\\u16.txt": ucs2_file(), "\\count.txt": counting,
                        "\\lines.txt": lines}) as m:
        m.wait_boot()
        m.wait_for(PROMPT, timeout=90)
        count_path = m.workdir + "/count.txt"
        with open(count_path, "wb") as f:
            f.write(counting)
        host_grep, host_wc = host_counts(count_path)

        # cat decodes UCS-2: characters outside ASCII show as '?' on the serial terminal.
        m.send("cat u16.txt\r")
        m.wait_for("Zeile eins\nGr??e aus UCS-2\n? am Ende\n" + PROMPT)
        m.send("cat u16.txt > utf8.txt\r")
        m.wait_for(PROMPT)

        # grep -c and wc agree with GNU grep and wc.
        m.send("grep -c tarn count.txt\r")
        got = m.wait_for(re.compile(r"\n(\d+)\n" + re.escape(PROMPT)))
        expect(int(got.group(1)) == host_grep, "grep -c: %s, GNU grep: %d" % (got.group(1), host_grep))
        m.send("wc count.txt\r")
        got = m.wait_for(re.compile(r"\n *(\d+) +(\d+) +(\d+) count\.txt\n" + re.escape(PROMPT)))
        guest_wc = [int(got.group(i)) for i in (1, 2, 3)]
        expect(guest_wc == host_wc, "wc: %s, GNU wc: %s" % (guest_wc, host_wc))
        expect(re.search(r"\n{:>8} {:>8} {:>8} count\.txt\n".format(*host_wc), m.output()),
               "wc columns are not %8llu: " + m.tail())

        # more pages: the first screen, Enter one line, Space one screen, q stops.
        m.send("more lines.txt\r")
        m.wait_for(MORE)
        first = [int(n) for n in re.findall(r"^line (\d+)$", m.output(), re.M)]
        expect(first and first == list(range(1, len(first) + 1)), "first page: " + m.tail())
        page = first[-1]
        expect(page >= 20, "a page of %d lines" % page)
        m.send("\r")
        m.wait_for("line %03d\n" % (page + 1))
        m.wait_for(MORE)
        expect("line %03d" % (page + 2) not in m.output(), "Enter showed more than one line")
        m.send(" ")
        m.wait_for("line %03d\n" % (2 * page + 1))
        m.wait_for(MORE)
        expect("line %03d" % (2 * page + 2) not in m.output(), "Space showed more than a page")
        m.send("q")
        m.wait_for(PROMPT)
        expect("line %03d" % (2 * page + 2) not in m.output(), "output went on after q")
        expect("^C" not in m.output(), "leaving the pager was taken as Ctrl-C")

        m.send("exit\r")
        expect(m.exit_status() == 0, "exit status")
        utf8 = m.read_file("\\utf8.txt")
    expected = "Zeile eins\nGr\u00fc\u00dfe aus UCS-2\n\u20ac am Ende\n".encode("utf-8")
    expect(utf8 == expected, "cat > file wrote %r" % utf8)


if __name__ == "__main__":
    run_cases([text_commands_in_one_boot])
