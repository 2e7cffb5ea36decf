#!/usr/bin/env bash
# Writes small seed files for the WebP, AVIF or HEIF fuzz target with the reference encoders
# (Debian: imagemagick, webp, libavif-bin, libheif-examples, libimage-exiftool-perl).
#   fuzz/make_modern_seeds.sh webp|avif|heif FOLDER
set -euo pipefail
format="${1:?webp, avif or heif}" out="${2:?seed folder}"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
convert -size 24x16 gradient:red-blue "$tmp/opaque.png"
convert -size 24x16 gradient:red-blue \( -size 24x16 gradient:white-black \) -alpha off -compose copy_opacity -composite "$tmp/alpha.png"
convert -size 17x9 xc:green "$tmp/odd.png"
# A sideways photo with EXIF, XMP and a colour profile, for the metadata paths.
convert -size 16x12 xc:orange -set profile "$(ls /usr/share/color/icc/*/*.ic[cm] 2>/dev/null | head -1)" "$tmp/meta.jpg" 2>/dev/null ||
  convert -size 16x12 xc:orange "$tmp/meta.jpg"
exiftool -q -overwrite_original -Orientation#=6 -DateTimeOriginal='2020:01:01 00:00:00' -XMP-dc:Title=T "$tmp/meta.jpg"
case "$format" in
  webp)
    cwebp -quiet -q 50 "$tmp/opaque.png" -o "$out/lossy.webp"
    cwebp -quiet -q 50 "$tmp/alpha.png" -o "$out/lossy-alpha.webp"
    cwebp -quiet -lossless "$tmp/alpha.png" -o "$out/lossless-alpha.webp"
    cwebp -quiet -lossless "$tmp/odd.png" -o "$out/odd.webp"
    img2webp -lossy "$tmp/opaque.png" "$tmp/alpha.png" -o "$out/animated.webp" >/dev/null 2>&1
    cwebp -quiet -q 50 -metadata all "$tmp/meta.jpg" -o "$out/meta.webp" ;;
  avif)
    avifenc -s 10 -q 30 "$tmp/opaque.png" "$out/opaque.avif" >/dev/null 2>&1 || avifenc -s 10 "$tmp/opaque.png" "$out/opaque.avif" >/dev/null
    avifenc -s 10 "$tmp/alpha.png" "$out/alpha.avif" >/dev/null
    avifenc -s 10 --irot 1 --imir 0 "$tmp/odd.png" "$out/turned.avif" >/dev/null
    avifenc -s 10 -d 10 -y 444 "$tmp/odd.png" "$out/deep-444.avif" >/dev/null
    avifenc -s 10 "$tmp/meta.jpg" "$out/meta.avif" >/dev/null ;;
  heif)
    heif-enc -q 30 "$tmp/opaque.png" -o "$out/opaque.heic" >/dev/null
    heif-enc -q 30 "$tmp/alpha.png" -o "$out/alpha.heic" >/dev/null
    heif-enc -q 30 "$tmp/odd.png" -o "$out/odd.heic" >/dev/null
    heif-enc -q 30 "$tmp/meta.jpg" -o "$out/meta.heic" >/dev/null ;;
  *) echo "unknown format $format" >&2; exit 2 ;;
esac
ls -l "$out"
