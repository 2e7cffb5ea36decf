#!/usr/bin/env bash
# Seeds for jpeg_dc_scan_fuzz: small baseline 4:4:4 files of several sizes and qualities, with
# standard and optimised Huffman tables. Needs ImageMagick (convert).
set -euo pipefail
out="${1:?usage: make_seeds.sh FOLDER}"
mkdir -p "$out"
n=0
for size in 8x8 17x9 40x24 64x48 123x77; do
  for q in 10 75 95 100; do
    for pattern in gradient:red-blue plasma:fractal; do
      n=$((n + 1))
      convert -seed "$n" -size "$size" "$pattern" -sampling-factor 1x1 -interlace none -quality "$q" \
        -define jpeg:optimize-coding=$([ $((n % 2)) = 0 ] && echo true || echo false) "$out/seed$n.jpg"
    done
  done
done
