#!/bin/sh
# Draws the start-up picture (400 × 260 JPEG): an evening gradient with a block of
# 4 × 4 texture tiles and the program's name. Needs ImageMagick; the JPEG is kept
# in the tree so a build does not.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

tiles=""
colours="#f4d35e #ee964b #f95738 #c4314b #9bd15b #f4d35e #ee964b #f95738 #3fb8af #9bd15b #f4d35e #ee964b #2d7dd2 #3fb8af #9bd15b #f4d35e"
i=0
for c in $colours; do
  x=$((36 + (i % 4) * 26)); y=$((78 + (i / 4) * 26))
  tiles="$tiles fill $c roundrectangle $x,$y $((x + 22)),$((y + 22)) 3,3"
  i=$((i + 1))
done

convert -size 260x400 gradient:'#1f2a5c-#6b3d7a' -rotate -90 +repage \
  -fill '#0e1230' -draw "roundrectangle 28,70 146,188 8,8" \
  -draw "$tiles" \
  -font DejaVu-Sans-Bold -pointsize 40 -fill white -annotate +170+132 'tplforge' \
  -font DejaVu-Sans -pointsize 15 -fill '#d8dcf0' -annotate +172+160 'Texturas TPL' \
  -annotate +172+180 'GameCube / Wii' \
  -font DejaVu-Sans -pointsize 11 -fill '#aab0d0' -annotate +172+236 'versión 0.2' \
  -quality 90 -sampling-factor 4:2:0 "$here/startup.jpg"
