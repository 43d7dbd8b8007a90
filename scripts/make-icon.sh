#!/usr/bin/env bash
# Renders data/quorvel.svg into data/quorvel.ico, the Windows program's icon (committed; run
# this again after changing the SVG). Needs librsvg2-bin and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
pngs=()
for size in 16 24 32 48 64 256; do
  rsvg-convert -w "$size" -h "$size" data/quorvel.svg -o "$work/$size.png"
  pngs+=("$work/$size.png")
done
convert "${pngs[@]}" data/quorvel.ico
