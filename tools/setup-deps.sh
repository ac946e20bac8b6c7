#!/usr/bin/env bash
# Installs the Debian packages TARN needs to build, boot and test; does nothing when they
# are all present. Runs apt-get as root, or through sudo when that is available.
#
#   tools/setup-deps.sh          install what is missing
#   tools/setup-deps.sh --check  only report what is missing (exit 1 if anything is)
#   tools/setup-deps.sh --bench  also the benchmark's interpreters (before --check)
set -euo pipefail

PACKAGES=(cmake ninja-build clang lld g++ libgtest-dev python3
          qemu-system-x86 ovmf mtools dosfstools gdisk fdisk python3-pyte
          acpica-tools dmidecode sbsigntool openssl xxd)
# The option ROMs QEMU ships, which the loadpcirom firmware test loads.
PACKAGES+=(ipxe-qemu)
# tshark decodes the packet captures of the network firmware tests.
PACKAGES+=(tshark)

# Lua 5.4 only for the BASIC benchmark (bench/basic/run.sh); no test needs it.
BENCH_PACKAGES=(lua5.4)
if [[ ${1:-} == --bench ]]; then
    PACKAGES+=("${BENCH_PACKAGES[@]}")
    shift
fi

check_only=0
if [[ ${1:-} == --check ]]; then
    check_only=1
fi

# The packages among the arguments that are not installed, in one dpkg-query call.
missing_of() {
    local present
    present=$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "$@" 2>/dev/null |
              awk '$2 ~ /^ii/ {print $1}' || true)
    local pkg
    for pkg in "$@"; do
        grep -qx -- "$pkg" <<<"$present" || echo "$pkg"
    done
}

if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "setup-deps: this is not a Debian-based system; install by hand: ${PACKAGES[*]}" >&2
    exit 1
fi

mapfile -t missing < <(missing_of "${PACKAGES[@]}")

if ((${#missing[@]} == 0)); then
    echo "setup-deps: all packages present"
    exit 0
fi
echo "setup-deps: missing: ${missing[*]}"
if ((check_only)); then
    exit 1
fi

if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "setup-deps: not root and no sudo: install as root: apt-get install ${missing[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y "${missing[@]}"

mapfile -t still < <(missing_of "${missing[@]}")
if ((${#still[@]})); then
    echo "setup-deps: could not install: ${still[*]}" >&2
    exit 1
fi
echo "setup-deps: installed ${missing[*]}"
