"""eficompress and efidecompress in real firmware, where OVMF's own Decompress protocol is
the judge: in one boot, each input made on the host is compressed by the shell, then
decompressed by the firmware's protocol (`efidecompress`) and by the built-in decoder
(`efidecompress -n`); both results, read back with mtools, must equal the input byte for
byte. Damaged images give the message and leave no output file.

With --save-vectors DIR the compressed files the firmware accepted are written to DIR
(tests/data/compress keeps the small ones as fixed host test vectors)."""

import os
import random
import re
import sys

from harness import Machine, expect, run_cases

PROMPT = "fs0:\\> "
DAMAGED = " is not in the UEFI compressed format or is damaged"


def text_input(n: int) -> bytes:
    rng = random.Random(11)
    words = ["firmware", "volume", "the", "shell", "of", "TARN", "handle", "protocol", "a",
             "boot", "variable", "EFI", "Tarnwick", "compression", "block", "code"]
    out = []
    size = 0
    while size < n:
        w = rng.choice(words) + (".\n" if rng.random() < 0.1 else " ")
        if rng.random() < 0.03:
            w += str(rng.randrange(10 ** 6)) + " "
        out.append(w)
        size += len(w)
    return "".join(out).encode("ascii")[:n]


def block_size_zero() -> bytes:
    """One block whose 16-bit size is 0, then single-symbol T, C ('q') and P codes. The
    firmware's decoder counts the size down from 0 (65536 symbols) and gives ten 'q';
    the built-in decoder refuses an empty block. This tells which decoder ran."""
    fields = [(16, 0), (5, 0), (5, 0), (9, 0), (9, ord("q")), (4, 0), (4, 0)]
    bits = "".join(format(v, "0%db" % n) for n, v in fields)
    bits += "0" * (-len(bits) % 8)
    stream = bytes(int(bits[i:i + 8], 2) for i in range(0, len(bits), 8))
    return len(stream).to_bytes(4, "little") + (10).to_bytes(4, "little") + stream


def inputs() -> dict[str, bytes]:
    """Short DOS names: the file name, the content."""
    rng = random.Random(18)
    half = bytes(rng.randrange(256) for _ in range(8192))
    mixed = bytes(rng.choice(b"AU") for _ in range(5000))
    return {
        "empty": b"",
        "one": b"B",
        # 5 MiB of one value: blocks after the first hold only matches of 256 at distance
        # 1 (the single-symbol forms of C and P).
        "run5m": b"\x5a" * (5 << 20),
        "random": bytes(rng.randrange(256) for _ in range(20000)),  # two blocks of literals
        "text": text_input(60000),
        "zeroruns": mixed,  # C lengths: runs of exactly 19 zeros and of 20 and more
        "window": half + half,  # matches 8192 bytes back, of length 256
        "len256": half[:300] + half[:256],
    }


SAVE_DIR = None  # --save-vectors DIR


def compress_in_one_boot(efi_dir):
    save_dir = SAVE_DIR
    data = inputs()
    files = {"\\in\\%s.dat" % name: content for name, content in data.items()}
    files["\\in\\zeroblk.z"] = block_size_zero()
    with Machine(efi_dir, launch="\\tarn.efi tarn.efi -n", name="compress", timeout=400,
                 disk_size_mb=32, files=files) as m:
        m.wait_boot()
        m.wait_for(PROMPT, timeout=90)
        m.send("md z\r")
        m.wait_for(PROMPT)
        for name, content in data.items():
            m.send("eficompress in\\%s.dat z\\%s.z\r" % (name, name))
            got = m.wait_for(re.compile(r"%s\.z: (\d+) -> (\d+) bytes\n" % name), timeout=120)
            expect(int(got.group(1)) == len(content), "%s: input size %s" % (name, got.group(1)))
            m.wait_for(PROMPT)
            m.send("efidecompress z\\%s.z z\\%s.fw\r" % (name, name))
            m.wait_for(re.compile(r"%s\.fw: \d+ -> %d bytes\n" % (name, len(content))), timeout=120)
            m.wait_for(PROMPT)
            m.send("efidecompress -n z\\%s.z z\\%s.own\r" % (name, name))
            m.wait_for(re.compile(r"%s\.own: \d+ -> %d bytes\n" % (name, len(content))), timeout=120)
            m.wait_for(PROMPT)

        # Damaged images: the firmware's decoder and the built-in one refuse them alike
        # (a header claiming more than the file holds, a file shorter than a header).
        m.send("cp z\\text.z z\\trunc.z\r")
        m.wait_for(PROMPT)
        m.send("setsize 100 z\\trunc.z\r")
        m.wait_for(PROMPT)
        bad = 0
        for source in ("z\\trunc.z", "in\\one.dat"):
            for switch in ("", "-n "):
                bad += 1
                m.send("efidecompress %s%s z\\bad%d.out\r" % (switch, source, bad))
                m.wait_for("efidecompress: %s%s" % (source, DAMAGED))
                m.wait_for(PROMPT)
        # The Decompress protocol really is the firmware's: it takes an image that the
        # built-in decoder refuses.
        m.send("efidecompress in\\zeroblk.z z\\zeroblk.fw\r")
        m.wait_for("zeroblk.fw: 15 -> 10 bytes\n")
        m.wait_for(PROMPT)
        bad += 1
        m.send("efidecompress -n in\\zeroblk.z z\\bad%d.out\r" % bad)
        m.wait_for("efidecompress: in\\zeroblk.z" + DAMAGED)
        m.wait_for(PROMPT)
        m.send("set lasterror\r")
        m.wait_for("0x1\n")
        m.wait_for(PROMPT)

        m.send("exit\r")
        expect(m.exit_status() == 0, "exit status")
        for name, content in data.items():
            fw = m.read_file("\\z\\%s.fw" % name)
            own = m.read_file("\\z\\%s.own" % name)
            expect(fw == content, "%s: the firmware's Decompress gave %d bytes, not the input"
                   % (name, len(fw)))
            expect(own == content, "%s: efidecompress -n gave %d bytes, not the input"
                   % (name, len(own)))
        for k in range(1, bad + 1):
            expect(not m.file_exists("\\z\\bad%d.out" % k), "bad%d.out was written" % k)
        expect(m.read_file("\\z\\zeroblk.fw") == b"q" * 10, "zeroblk.fw")
        images = {name: m.read_file("\\z\\%s.z" % name) for name in data}
    expect(images["empty"] == b"\0" * 8, "empty input: %r" % images["empty"])
    if save_dir:
        os.makedirs(save_dir, exist_ok=True)
        for name, image in images.items():
            with open(os.path.join(save_dir, name + ".bin"), "wb") as f:
                f.write(image)
            if name != "run5m":
                with open(os.path.join(save_dir, name + ".orig"), "wb") as f:
                    f.write(data[name])


if __name__ == "__main__":
    if "--save-vectors" in sys.argv:
        i = sys.argv.index("--save-vectors")
        SAVE_DIR = sys.argv[i + 1]
        del sys.argv[i:i + 2]
    run_cases([compress_in_one_boot])
