#!/bin/sh
# Builds the BASIC benchmark (optimised, no sanitizers) and runs it against Python 3 and
# Lua 5.4. Extra arguments go to the runner: --runs N (best of N, default 5) and the
# names of the benchmarks to run (fib loop strings sort select text records); the data
# of text and records is written to --data DIR (default /tmp/tarn-bench-basic).
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="$root/build/bench-basic"

if ! command -v lua5.4 >/dev/null 2>&1; then "$root/tools/setup-deps.sh" --bench >&2 || true; fi
for tool in python3 lua5.4; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "run.sh: $tool is missing (Debian: apt-get install python3 lua5.4)" >&2
        exit 2
    fi
done

generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
cmake -S "$here" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target basic_bench -j2 >/dev/null
exec "$build/basic_bench" "$here" "$@"
