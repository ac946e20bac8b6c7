#!/usr/bin/env bash
# Signs tarn.efi for machines whose Secure Boot db holds your key (sbsigntool).
#
#   tools/sign.sh KEY CERT [INPUT [OUTPUT]]
#
#   KEY     the private key, PEM, not encrypted (sbsign asks no passphrase; decrypt one
#           first: openssl rsa -in key.pem -out plain.pem)
#   CERT    the matching certificate, PEM
#   INPUT   the image to sign (default: build/efi/tarn.efi)
#   OUTPUT  where the signed image goes (default: INPUT with -signed before .efi)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [[ ${1:-} == -h || ${1:-} == --help || $# -lt 2 ]]; then
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    [[ $# -ge 2 ]] && exit 0 || exit 2
fi
key=$1
cert=$2
input=${3:-$root/build/efi/tarn.efi}
output=${4:-${input%.efi}-signed.efi}
command -v sbsign >/dev/null || { echo "sign: sbsign not found (install sbsigntool)" >&2; exit 1; }
for f in "$key" "$cert" "$input"; do
    [[ -f $f ]] || { echo "sign: $f not found" >&2; exit 1; }
done
sbsign --key "$key" --cert "$cert" --output "$output" "$input"
if command -v sbverify >/dev/null; then
    sbverify --cert "$cert" "$output" >/dev/null
fi
echo "sign: wrote $output"
