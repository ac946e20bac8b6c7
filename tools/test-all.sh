#!/usr/bin/env bash
# Builds both targets and runs every test tier, ending with one PASS or FAIL line.
#
#   tools/test-all.sh
#
# Steps: install missing packages (tools/setup-deps.sh); build tarn.efi, the launcher and
# fwcheck.efi (preset efi, build/efi); build the host library, simulated firmware and
# tests (preset host, build/host); run `ctest --preset host`, which holds the unit tests,
# the whole-command tests over the simulated firmware, the fuzz replays and the firmware
# tests that boot build/efi in QEMU with OVMF. When the firmware build fails, the firmware
# tests are left out (they would test stale images) and the run fails.
#
# TARN_TEST_JOBS sets how many tests run at once (default: the number of processors).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

failed=()
step() { printf '\n==> %s\n' "$*"; }
fail() {
    failed+=("$1")
    printf '==> FAILED: %s\n' "$1"
}

step "dependencies"
if ! tools/setup-deps.sh; then
    fail "dependencies"
    printf '\nFAIL: missing packages could not be installed\n'
    exit 1
fi

step "firmware build (cmake --preset efi)"
efi_ok=1
if ! { cmake --preset efi && cmake --build --preset efi; }; then
    fail "firmware build"
    efi_ok=0
fi

step "host build (cmake --preset host)"
host_ok=1
if ! { cmake --preset host && cmake --build --preset host; }; then
    fail "host build"
    host_ok=0
fi

if ((host_ok)); then
    jobs=${TARN_TEST_JOBS:-$(nproc 2>/dev/null || echo 2)}
    args=(--preset host -j "$jobs")
    if ((efi_ok)); then
        step "tests: unit, shell, fuzz and firmware (ctest --preset host -j $jobs)"
    else
        step "tests without the firmware tier (ctest --preset host -j $jobs -LE firmware)"
        args+=(-LE firmware)
    fi
    if ! ctest "${args[@]}"; then
        fail "tests"
    fi
fi

echo
if ((${#failed[@]})); then
    list=$(printf '%s, ' "${failed[@]}")
    printf 'FAIL: %s\n' "${list%, }"
    exit 1
fi
echo "PASS: both builds and all test tiers"
