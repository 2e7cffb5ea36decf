#!/usr/bin/env bash
# Writes small seed files for the TIFF fuzz target, one per kind the reader handles
# (Debian: imagemagick, libtiff-tools).
#   fuzz/tiff/make_seeds.sh FOLDER
set -euo pipefail
out="${1:?seed folder}"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
convert -size 24x16 gradient:red-blue \( -size 24x16 gradient:white-black \) -alpha off -compose copy_opacity -composite "$tmp/alpha.png"
src="$tmp/alpha.png"
convert "$src" -alpha off -depth 8 -compress none "$out/plain.tif"
convert "$src" -alpha off -compress lzw "$out/lzw.tif"
convert "$src" -alpha off -compress zip -define tiff:predictor=2 "$out/deflate.tif"
convert "$src" -alpha off -compress rle "$out/packbits.tif"
convert "$src" -alpha off -compress zip -define tiff:tile-geometry=16x16 "$out/tiles.tif"
convert "$src" -alpha off -interlace plane -compress lzw "$out/planes.tif"
convert "$src" -depth 16 -compress zip "$out/rgba16.tif"
convert "$src" -compress lzw "$out/rgba.tif"
convert "$src" -colorspace gray -compress zip "$out/grey-alpha.tif"
convert "$src" -alpha off -threshold 50% -type bilevel -compress group4 "$out/g4.tif"
convert "$src" -alpha off -threshold 50% -type bilevel -compress fax "$out/g3.tif"
convert "$src" -alpha off -colors 16 -type palette -compress lzw "$out/palette.tif"
convert "$src" -alpha off -colorspace cmyk -compress lzw "$out/cmyk.tif"
convert "$src" -alpha off -orient RightTop -compress none "$out/turned.tif"
tiffcp -c jpeg:50 -r 16 "$out/plain.tif" "$out/ycbcr-jpeg.tif"
tiffcp "$out/lzw.tif" "$out/g4.tif" "$out/pages.tif"
ls -l "$out"
