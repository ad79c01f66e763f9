#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders orvex.svg into the Windows icon orvex.ico (Debian: librsvg2-bin, icoutils).
# Run it after changing the SVG, and commit both.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pngs=()
for size in 16 24 32 48 64 256; do
    rsvg-convert -w "$size" -h "$size" orvex.svg -o "$work/$size.png"
    pngs+=("$work/$size.png")
done
# The large size stays PNG-compressed inside the icon, as Windows expects.
icotool -c -o orvex.ico "${pngs[@]:0:5}" -r "${pngs[5]}"
