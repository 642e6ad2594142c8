#!/bin/sh
# Renders the program icon from tplforge.svg: PNGs for the desktop, and the
# window icon (seven images: 16, 32, 48 px at 256 colours and 16, 32, 48, 128 px
# at 32 bits) written by pack_ico.py. Needs ImageMagick and python3; the outputs
# are kept in the tree so a build needs neither.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
ico="$here/../../../apps/tplforge/window/resources/tplforge.ico"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for size in 16 32 48 128; do
  convert -background none -density 384 "$here/tplforge.svg" -resize "${size}x${size}" \
    "PNG32:$tmp/rgba$size.png"
  convert "$tmp/rgba$size.png" -depth 8 "RGBA:$tmp/rgba$size.raw"
done
for size in 16 32 48; do
  # 256 colours with a one-bit mask: corners are either opaque or see-through.
  convert "$tmp/rgba$size.png" -background '#34458a' -alpha remove -colors 256 -depth 8 "RGB:$tmp/pal$size.raw"
done
for size in 48 128; do
  cp "$tmp/rgba$size.png" "$here/tplforge-$size.png"
done

python3 "$here/pack_ico.py" "$ico" "$tmp"
