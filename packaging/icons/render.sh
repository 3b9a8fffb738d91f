#!/usr/bin/env bash
# Renders the application icon (sonvex.svg) into the PNG sizes the desktop's icon theme asks
# for, as <size>/sonvex.png beside this script. The PNGs are committed; run this after changing
# the SVG. Needs rsvg-convert (Debian package librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")"

for size in 16 22 24 32 48 64 128 256; do
  mkdir -p "$size"
  rsvg-convert --width "$size" --height "$size" --output "$size/sonvex.png" sonvex.svg
done
