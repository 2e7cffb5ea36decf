#!/usr/bin/env bash
# Writes small seed files for the JPEG XL fuzz target with the reference encoder
# (Debian: imagemagick, libjxl-tools).
#   fuzz/jxl/make_seeds.sh FOLDER
set -euo pipefail
out="${1:?seed folder}"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
convert -size 24x16 gradient:red-blue -depth 8 "$tmp/opaque.png"
convert -size 24x16 gradient:red-blue \( -size 24x16 gradient:white-black \) -alpha off -compose copy_opacity -composite -depth 8 "$tmp/alpha.png"
convert -size 17x9 xc:green -colorspace gray -depth 8 "$tmp/grey.png"
cjxl -q 50 "$tmp/opaque.png" "$out/lossy.jxl" >/dev/null 2>&1
cjxl -d 0 "$tmp/alpha.png" "$out/lossless-alpha.jxl" >/dev/null 2>&1
cjxl -q 50 "$tmp/alpha.png" "$out/lossy-alpha.jxl" >/dev/null 2>&1
cjxl -d 0 "$tmp/grey.png" "$out/grey.jxl" >/dev/null 2>&1
cjxl -q 50 --container=1 "$tmp/opaque.png" "$out/container.jxl" >/dev/null 2>&1 || true
ls -l "$out"
