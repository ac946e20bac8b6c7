#!/usr/bin/env bash
# Writes a disk image that boots TARN on a real machine: a GPT disk with one FAT32 EFI
# system partition holding tarn.efi as \EFI\BOOT\BOOTX64.EFI and a sample startup.tsb.
# Made with sgdisk, mkfs.vfat and mtools in ordinary files: no root, no loop devices.
#
#   tools/make-image.sh [-o IMAGE] [-s SIZE_MB] [--efi FILE] [--startup FILE]
#
#   -o IMAGE        the image to write (default: build/tarn-usb.img)
#   -s SIZE_MB      size of the whole disk in MiB, at least 64 (default: 64)
#   --efi FILE      the application to boot (default: build/efi/tarn.efi; a signed copy
#                   from tools/sign.sh works the same)
#   --startup FILE  the startup script (default: a small sample)
#
# Copy it to a USB stick with dd (this overwrites the whole stick):
#   sudo dd if=build/tarn-usb.img of=/dev/sdX bs=4M conv=fsync status=progress
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
image="$root/build/tarn-usb.img"
size_mb=64
efi="$root/build/efi/tarn.efi"
startup=""
while (($#)); do
    case $1 in
        -o) image=$2; shift ;;
        -s) size_mb=$2; shift ;;
        --efi) efi=$2; shift ;;
        --startup) startup=$2; shift ;;
        -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "make-image: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done

for tool in sgdisk mkfs.vfat mcopy mmd; do
    command -v "$tool" >/dev/null || { echo "make-image: $tool not found (tools/setup-deps.sh installs it)" >&2; exit 1; }
done
[[ -f $efi ]] || { echo "make-image: $efi not found (build it: cmake --preset efi && cmake --build --preset efi)" >&2; exit 1; }
if ! [[ $size_mb =~ ^[0-9]+$ ]] || ((size_mb < 64)); then
    echo "make-image: the size must be a number of MiB, at least 64 (FAT32 needs the room)" >&2
    exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The partition: from sector 2048 (1 MiB, aligned) to 1 MiB before the end, which leaves
# room for the backup GPT.
sectors=$((size_mb * 2048))
first=2048
last=$((sectors - 2048 - 1))
part_sectors=$((last - first + 1))

mkdir -p "$(dirname "$image")"
rm -f "$image"
truncate -s $((sectors * 512)) "$image"
sgdisk --clear --new=1:$first:$last --typecode=1:ef00 --change-name=1:"EFI system partition" \
    "$image" >/dev/null

part="$work/esp.img"
mkfs.vfat -F 32 -n TARN -C "$part" $((part_sectors / 2)) >/dev/null
if [[ -z $startup ]]; then
    startup="$work/startup.tsb"
    cat >"$startup" <<'TSB'
' startup.tsb: run by TARN at start-up, after a short countdown (ESC skips it).
PRINT "TARN started from its own disk. Type 'help' for the commands."
TSB
fi
export MTOOLS_SKIP_CHECK=1
mmd -i "$part" ::/EFI ::/EFI/BOOT
mcopy -i "$part" "$efi" ::/EFI/BOOT/BOOTX64.EFI
mcopy -i "$part" "$startup" ::/startup.tsb
dd if="$part" of="$image" bs=512 seek=$first conv=notrunc status=none
echo "make-image: wrote $image ($size_mb MiB, GPT, FAT32 EFI system partition)"
