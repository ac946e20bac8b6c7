#!/usr/bin/env bash
# Builds tarn.efi and boots it in QEMU with the OVMF firmware on a small demo disk; this
# terminal becomes the firmware console (serial), so you land at the TARN prompt.
#
#   tools/run-qemu.sh [--no-build] [--fresh] [--efi-dir DIR] [-- QEMU-ARGS...]
#
#   --no-build     use the tarn.efi already built (default: build/efi)
#   --fresh        start over with a new demo disk and new firmware variables
#   --efi-dir DIR  take tarn.efi from DIR
#
# The demo disk (build/qemu/disk.img) and the firmware variables (build/qemu/vars.fd) are
# kept between runs, so files written and variables set in TARN survive; each run puts the
# newly built tarn.efi on the disk. Quit QEMU with Ctrl-A X (Ctrl-A C toggles the QEMU
# monitor). Ctrl-C goes to TARN.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=1
fresh=0
efi_dir="$root/build/efi"
qemu_extra=()
while (($#)); do
    case $1 in
        --no-build) build=0 ;;
        --fresh) fresh=1 ;;
        --efi-dir) efi_dir=$(cd "$2" && pwd); build=0; shift ;;
        --) shift; qemu_extra=("$@"); break ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run-qemu: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done

"$root/tools/setup-deps.sh"

if ((build)); then
    (cd "$root" && cmake --preset efi && cmake --build --preset efi)
fi
tarn="$efi_dir/tarn.efi"
if [[ ! -f $tarn ]]; then
    echo "run-qemu: $tarn not found" >&2
    exit 1
fi

ovmf_code=""
ovmf_vars=""
for d in /usr/share/OVMF /usr/share/ovmf /usr/share/qemu; do
    if [[ -f $d/OVMF_CODE_4M.fd && -f $d/OVMF_VARS_4M.fd ]]; then
        ovmf_code=$d/OVMF_CODE_4M.fd
        ovmf_vars=$d/OVMF_VARS_4M.fd
        break
    fi
done
if [[ -z $ovmf_code ]]; then
    echo "run-qemu: OVMF_CODE_4M.fd not found (package ovmf)" >&2
    exit 1
fi

work="$root/build/qemu"
disk="$work/disk.img"
vars="$work/vars.fd"
mkdir -p "$work"
export MTOOLS_SKIP_CHECK=1

if ((fresh)); then
    rm -f "$disk" "$vars"
fi
[[ -f $vars ]] || cp "$ovmf_vars" "$vars"

if [[ ! -f $disk ]]; then
    echo "run-qemu: making the demo disk $disk"
    demo=$(mktemp -d)
    cat >"$demo/readme.txt" <<'TEXT'
This is the TARN demo disk.

TARN is a command shell that runs on the UEFI firmware, before any operating
system. Things to try at the prompt:

  help                 the list of commands
  ls                   the files on this disk
  type readme.txt      this file
  hello.tsb Ada        run the demo TARN BASIC script with an argument
  PRINT 6 * 7          a line of TARN BASIC
  exit                 leave TARN (the firmware then shows its boot menu)

Files you write here stay on build/qemu/disk.img between runs of
tools/run-qemu.sh; run it with --fresh to start over.
Quit QEMU with Ctrl-A X.
TEXT
    cat >"$demo/hello.tsb" <<'TEXT'
' hello.tsb: a first TARN BASIC script.
' Run it at the prompt as "hello.tsb" or "hello.tsb Ada".
name$ = "world"
IF ARGC >= 1 THEN name$ = ARG$(1)
PRINT "Hello, "; name$; "!"
FOR i = 1 TO 3
    PRINT "  counting "; i
NEXT i
PRINT "Running on TARN "; VERSION$; " ("; PLATFORM$; ")"
PRINT "Files on this disk:"
RUN "ls"
TEXT
    sed -i 's/$/\r/' "$demo/readme.txt" "$demo/hello.tsb"
    mkfs.vfat -C -n TARNDEMO "$disk.tmp" 32768 >/dev/null
    mmd -i "$disk.tmp" ::/EFI ::/EFI/BOOT
    mcopy -i "$disk.tmp" "$demo/readme.txt" "$demo/hello.tsb" ::/
    mv "$disk.tmp" "$disk"
    rm -rf "$demo"
fi
mcopy -o -i "$disk" "$tarn" ::/EFI/BOOT/BOOTX64.EFI
mcopy -o -i "$disk" "$tarn" ::/tarn.efi

if [[ ! -t 0 ]]; then
    echo "run-qemu: standard input is not a terminal; keys may not reach the firmware" >&2
fi
cat <<TEXT
run-qemu: booting $tarn in QEMU (OVMF, software emulation: about 5 s to the prompt).
run-qemu: this terminal is the firmware console; a window of at least 100x31 works best.
run-qemu: quit with Ctrl-A X.
TEXT

# mux=on gives QEMU's Ctrl-A escapes (X quits, C monitor); signal=off passes Ctrl-C on
# to the firmware instead of stopping QEMU.
exec qemu-system-x86_64 -machine q35 -m 256 -nodefaults -display none \
    -chardev stdio,id=s0,mux=on,signal=off -serial chardev:s0 -mon chardev=s0,mode=readline \
    -drive if=pflash,format=raw,readonly=on,file="$ovmf_code" \
    -drive if=pflash,format=raw,file="$vars" \
    -drive file="$disk",format=raw,if=virtio \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    "${qemu_extra[@]}"
