#!/usr/bin/env bash
# Writes orbit.gif, an animated sample: a disc circling a ring, 12 frames of 80 ms, looping for
# ever. The frames are optimised into smaller ones at offsets, so showing it needs the frames'
# places and disposal. Run from this folder; needs ImageMagick.
set -euo pipefail
frames=()
for i in $(seq 0 11); do
  x=$(awk -v i="$i" 'BEGIN { printf "%d", 80 + 45 * cos(i * 3.14159265 / 6) }')
  y=$(awk -v i="$i" 'BEGIN { printf "%d", 60 + 35 * sin(i * 3.14159265 / 6) }')
  frames+=( \( -size 160x120 xc:'#1d2b3a' -fill none -stroke '#5a7a99' -strokewidth 3 -draw "ellipse 80,60 45,35 0,360"
               -stroke none -fill '#f0a030' -draw "circle $x,$y $((x + 12)),$y" \) )
done
convert -delay 8 -loop 0 "${frames[@]}" -layers Optimize orbit.gif
