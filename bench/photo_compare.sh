#!/usr/bin/env bash
# Compares pellavo-cli with vipsthumbnail on phone-style photos: each photo of the benchmark
# folder is stored with an EXIF orientation from 2 to 8 and tagged with an Adobe RGB profile,
# then both programs make 800-pixel versions; the script prints the PSNR of ours against
# theirs, both keeping the profile (PNG) and both converting to sRGB (our BMP, their -e srgb).
#
#   bench/photo_compare.sh [PHOTO_DIR] [BUILD_DIR]
# Needs exiftool, vipsthumbnail and ImageMagick's compare (scripts/setup-deps installs them).
set -euo pipefail
photos="${1:-$HOME/.cache/pellavo-bench/jpg}"
build="${2:-build}"
cli="$(realpath "$build/src/pellavo-cli")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/ours" "$work/vips"

# An Adobe RGB (1998) profile from its published primaries, white point and gamma.
python3 - "$work/adobe.icc" <<'PY'
import ctypes, sys
lcms = ctypes.CDLL("liblcms2.so.2")
class xyY(ctypes.Structure):
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double), ("Y", ctypes.c_double)]
lcms.cmsBuildGamma.restype = ctypes.c_void_p
lcms.cmsBuildGamma.argtypes = [ctypes.c_void_p, ctypes.c_double]
lcms.cmsCreateRGBProfile.restype = ctypes.c_void_p
lcms.cmsCreateRGBProfile.argtypes = [ctypes.POINTER(xyY), ctypes.POINTER(xyY * 3), ctypes.POINTER(ctypes.c_void_p * 3)]
lcms.cmsSaveProfileToFile.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
white = xyY(0.3127, 0.3290, 1.0)
primaries = (xyY * 3)(xyY(0.64, 0.33, 1.0), xyY(0.21, 0.71, 1.0), xyY(0.15, 0.06, 1.0))
gamma = lcms.cmsBuildGamma(None, 563.0 / 256.0)
curves = (ctypes.c_void_p * 3)(gamma, gamma, gamma)
lcms.cmsSaveProfileToFile(lcms.cmsCreateRGBProfile(ctypes.byref(white), ctypes.byref(primaries), ctypes.byref(curves)),
                          sys.argv[1].encode())
PY

orientation=2
for photo in $(ls "$photos"/*.jpg | head -7); do
  name="photo$orientation.jpg"
  convert "$photo" -resize '3000x3000>' -quality 92 "$work/in/$name"
  exiftool -q -overwrite_original -n -Orientation=$orientation "-ICC_Profile<=$work/adobe.icc" "$work/in/$name"
  orientation=$((orientation + 1))
done

"$cli" --quiet --size 800 --filter lanczos --no-frame --format png --dest "$work/ours" "$work"/in/*.jpg >/dev/null
"$cli" --quiet --size 800 --filter lanczos --no-frame --format bmp --dest "$work/ours" "$work"/in/*.jpg >/dev/null
for f in "$work"/in/*.jpg; do
  base="$(basename "$f" .jpg)"
  vipsthumbnail "$f" -s 800 -o "$work/vips/$base.png"
  vipsthumbnail "$f" -s 800 -e srgb -o "$work/vips/$base-srgb.png"
done

printf '%-12s %-7s %-10s %-10s %-14s %-14s\n' photo turn stored ours "PSNR profile" "PSNR sRGB"
for f in "$work"/in/*.jpg; do
  base="$(basename "$f" .jpg)"
  stored="$(identify -format '%wx%h' "$f")"
  size="$(identify -format '%wx%h' "$work/ours/$base.png")"
  psnr_png="$(compare -metric PSNR "$work/ours/$base.png" "$work/vips/$base.png" null: 2>&1 || true)"
  psnr_bmp="$(compare -metric PSNR "$work/ours/$base.bmp" "$work/vips/$base-srgb.png" null: 2>&1 || true)"
  printf '%-12s %-7s %-10s %-10s %-14s %-14s\n' "$base" "$(exiftool -s3 -n -Orientation "$f")" "$stored" "$size" \
    "$psnr_png" "$psnr_bmp"
done
