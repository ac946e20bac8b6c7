#!/bin/sh
# Builds the compression benchmark (optimised, no sanitizers) and runs it beside gzip -6
# and gunzip on the same files: a text corpus (the project's own sources, concatenated)
# and a firmware binary (OVMF_CODE_4M.fd from the ovmf package). Extra arguments go to
# the runner: --runs N (best of N, default 5) and more files to measure.
set -e
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build="$root/build/bench-compress"

if ! command -v gzip >/dev/null 2>&1; then
    echo "run.sh: gzip is missing (Debian: apt-get install gzip)" >&2
    exit 2
fi
mkdir -p "$build"
corpus="$build/corpus.txt"
find "$root/src" "$root/sim" "$root/tests" -name '*.cpp' -o -name '*.h' -o -name '*.py' |
    sort | xargs cat > "$corpus"
set -- "$corpus" "$@"
for fd in /usr/share/OVMF/OVMF_CODE_4M.fd /usr/share/ovmf/OVMF.fd; do
    if [ -f "$fd" ]; then set -- "$@" "$fd"; break; fi
done

generator=""
if command -v ninja >/dev/null 2>&1; then generator="-G Ninja"; fi
cmake -S "$here" -B "$build" $generator -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target compress_bench -j2 >/dev/null
exec "$build/compress_bench" "$@"
