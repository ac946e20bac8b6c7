#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz, build/fuzz: clang++, the library instrumented
# for coverage, ASan + UBSan) and runs each for a while, starting from its seed corpus.
#
#   tools/fuzz.sh [SECONDS] [TARGET...]    default 60 seconds each, every target
#
# Inputs that grow coverage collect in build/fuzz/corpus/<target>/ (the seeds in
# tests/fuzz/corpus/ are only read). A crash, leak or timeout leaves its input in
# build/fuzz/crashes/<target>/; the run reports every new one and exits 1 when there is
# any. Reproduce one with `build/fuzz/<target> FILE`; add it to the seeds once fixed.
# Each target's last coverage line (cov: edges, ft: features) is printed at the end.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: tools/fuzz.sh [SECONDS] [TARGET...]" >&2
    exit 2
fi
shift $(($# > 0 ? 1 : 0))

if ! command -v clang++ >/dev/null 2>&1; then
    echo "fuzz: clang++ is missing (tools/setup-deps.sh installs it)" >&2
    exit 1
fi

targets=("$@")
if ((${#targets[@]} == 0)); then
    for src in tests/fuzz/fuzz_*.cpp; do
        name=$(basename "$src" .cpp)
        targets+=("$name")
    done
fi

echo "==> building ${targets[*]} (cmake --preset fuzz)"
if ! { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz --target "${targets[@]}"; }; then
    echo "FAIL: the fuzz build failed" >&2
    exit 1
fi

build=build/fuzz
crashed=()
summary=()
for name in "${targets[@]}"; do
    corpus=$build/corpus/$name
    crashes=$build/crashes/$name
    mkdir -p "$corpus" "$crashes"
    before=$(find "$crashes" -type f | sort)
    log=$build/$name.log
    echo "==> $name for ${seconds} s"
    # The first folder receives new inputs; the seeds are only read.
    "$build/$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$crashes/" "$corpus" "tests/fuzz/corpus/$name" >"$log" 2>&1
    status=$?
    after=$(find "$crashes" -type f | sort)
    new=$(comm -13 <(echo "$before") <(echo "$after") | sed '/^$/d')
    cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
    summary+=("$(printf '%-22s %s' "$name" "${cov:-no coverage line}")")
    if [[ -n $new ]] || ((status != 0)); then
        crashed+=("$name")
        echo "    FOUND (exit $status), log: $log"
        [[ -n $new ]] && sed 's/^/    new: /' <<<"$new"
        grep -E '^(==[0-9]+==ERROR|SUMMARY)' "$log" | head -4 | sed 's/^/    /'
    fi
done

echo
printf '%s\n' "${summary[@]}"
if ((${#crashed[@]})); then
    echo "FAIL: new crashes in ${crashed[*]}"
    exit 1
fi
echo "PASS: ${#targets[@]} targets, ${seconds} s each, no new crashes"
