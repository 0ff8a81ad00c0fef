#!/usr/bin/env bash
# Renders the tray pictures (src/desktop/icons/*.svg) to the PNGs in src/desktop/icons/png/,
# at each panel size and at twice that size (name-SIZE@2x.png). Needs rsvg-convert
# (Debian: librsvg2-bin). Run after changing an SVG and commit the PNGs with it.
# The waiting picture is also the application icon (postvane in the hicolor theme), which adds
# the two larger sizes that launchers and menus ask for (waiting-128.png, waiting-256.png).
set -euo pipefail
dir=$(dirname "$0")/../src/desktop/icons
mkdir -p "$dir/png"
for svg in "$dir"/*.svg; do
  name=$(basename "$svg" .svg)
  for size in 16 22 24 32 48 64; do
    rsvg-convert -w "$size" -h "$size" -o "$dir/png/$name-$size.png" "$svg"
    rsvg-convert -w $((size * 2)) -h $((size * 2)) -o "$dir/png/$name-$size@2x.png" "$svg"
  done
done
for size in 128 256; do
  rsvg-convert -w "$size" -h "$size" -o "$dir/png/waiting-$size.png" "$dir/waiting.svg"
done
