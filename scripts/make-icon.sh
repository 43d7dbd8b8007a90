#!/usr/bin/env bash
# Renders data/quorvel.svg into data/quorvel.ico, the Windows program's icon (committed; run
# this again after changing the SVG). Needs librsvg2-bin and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=(16 24 32 48 64 256)
for size in "${sizes[@]}"; do
  rsvg-convert -w "$size" -h "$size" data/quorvel.svg -o "$work/$size.png"
done
convert "${sizes[@]/#/$work/}" data/quorvel.ico 2>/dev/null ||
  convert $(for s in "${sizes[@]}"; do echo "$work/$s.png"; done) data/quorvel.ico
