#!/usr/bin/env bash
# The text command benchmark in real firmware (not a test; CI does not run it).
# Builds bench_text.efi and the launcher with the firmware toolchain, makes an 8 MiB text
# file and a 32 MiB binary file on the boot disk, boots OVMF once and prints, from the
# same boot, the best of five runs of: plain read loops through the firmware's file
# protocol (4 KiB and 256 KiB reads into one small buffer; 4 KiB reads into one buffer of
# the file's size, as a command that needs the whole text does), the file layer's
# read_whole_file, `grep -c` (a word on 1% of the lines, and one that never occurs),
# `grep -i -c` and `wc` over the text, and when `cp` exists, a plain read+write loop
# (256 KiB pieces) against `cp` of the binary.
#
#   bench/files/run.sh [BUILD_DIR]      (default build/bench-files)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/bench-files}

cmake -S "$root/bench/files" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/efi-toolchain.cmake" >/dev/null
cmake --build "$build" -j2 >/dev/null

work=$(mktemp -d /tmp/tarn-bench-files.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$root" "$build" "$work" <<'PY'
import os, pathlib, random, re, sys

root, build, work = sys.argv[1:4]
sys.path.insert(0, os.path.join(root, "tests", "firmware"))
from harness import Machine  # noqa: E402

rng = random.Random(8)
words = ["alpha", "beta", "gamma", "delta", "firmware", "volume", "shell", "needle", "x"]
lines, size = [], 0
while size < 8 * 1024 * 1024:
    line = " ".join(rng.choice(words[:-2] if rng.random() < 0.99 else words) for _ in range(rng.randint(3, 14)))
    lines.append(line + "\n")
    size += len(line) + 1
text = "".join(lines).encode()[: 8 * 1024 * 1024]
text_path = pathlib.Path(work, "text8.txt")
text_path.write_bytes(text)
big_path = pathlib.Path(work, "big32.bin")
big_path.write_bytes(rng.randbytes(32 * 1024 * 1024))
needle_lines = sum(1 for l in text.split(b"\n") if b"needle" in l)

with Machine(build, launch="\\bench_text.efi bench_text.efi", name="bench-files",
             files={"\\bench\\text8.txt": text_path, "\\bench\\big32.bin": big_path},
             disk_size_mb=200, memory_mb=512, timeout=1800) as m:
    m.wait_boot()
    m.wait_for("bench: done\n", timeout=1500)
    out = m.output()

results = {n: int(ms) for n, ms in re.findall(r"bench: (\S+) ms=(\d+)", out)}
for line in out.splitlines():
    if line.startswith("bench:") or re.match(r"^\s*\d+(\s+\d+\s+\d+ .*)?$", line):
        print(line)
print("host: lines with 'needle' = %d, bytes = %d (the counts above must agree)" % (needle_lines, len(text)))
bases = ["read-loop-4k", "read-loop-256k", "read-loop-4k-whole"]
print("%-15s %6s  %s" % ("", "ms", "  ".join("/%s" % b for b in bases)))
for name in ["read_whole_file", "grep-c", "grep-c-miss", "grep-ic", "wc"]:
    if name in results:
        print("%-15s %6d  %s" % (name, results[name], "  ".join(
            "%*.2f" % (len(b) + 1, results[name] / max(1, results.get(b, 0))) for b in bases)))
if "cp" in results and results.get("copy-loop-256k"):
    print("cp              %6d  = %.2f x copy-loop-256k (%d ms)" % (
        results["cp"], results["cp"] / results["copy-loop-256k"], results["copy-loop-256k"]))
PY
