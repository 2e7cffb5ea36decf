#!/usr/bin/env bash
# Seeds for jpeg_dc_scan_fuzz: small files of several sizes and qualities, 4:4:4, 4:2:2,
# 4:2:0 and grey, baseline and progressive, with standard and optimised Huffman tables, some with
# restart markers (every MCU row, or every few MCUs). Needs ImageMagick (convert) and
# libjpeg-turbo's jpegtran.
set -euo pipefail
out="${1:?usage: make_seeds.sh FOLDER}"
mkdir -p "$out"
n=0
for size in 8x8 17x9 40x24 64x48 123x77; do
  for q in 10 75 95 100; do
    for pattern in gradient:red-blue plasma:fractal; do
      for sampling in 1x1 2x1 2x2 grey; do
        n=$((n + 1))
        colour=()
        [ "$sampling" = grey ] && { sampling=1x1; colour=(-colorspace Gray); }
        convert -seed "$n" -size "$size" "$pattern" "${colour[@]}" -sampling-factor "$sampling" \
          -interlace $([ $(((n + n / 4) % 2)) = 1 ] && echo JPEG || echo none) -quality "$q" \
          -define jpeg:optimize-coding=$([ $((n % 2)) = 0 ] && echo true || echo false) "$out/seed$n.jpg"
        # libjpeg's own progressive script with a Huffman table of its own for every scan.
        [ $((n % 5)) = 0 ] && jpegtran -progressive -outfile "$out/seed$n-p.jpg" "$out/seed$n.jpg"
        case $((n % 3)) in
          1) jpegtran -restart 1 -outfile "$out/seed$n-r.jpg" "$out/seed$n.jpg" ;;
          2) jpegtran -restart 3B -outfile "$out/seed$n-r.jpg" "$out/seed$n.jpg" ;;
        esac
      done
    done
  done
done
