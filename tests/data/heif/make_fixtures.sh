#!/usr/bin/env bash
# Makes the HEIF fixtures with the reference encoder (Debian: imagemagick, libheif-examples).
#   gradient-64x48.heic  a smooth opaque gradient at quality 90, the primary image only
# Kept as found, not made here:
#   grid-larger-than-its-image.heic  from the fuzzer: a 24 x 16 image whose grid asks the
#                                    library for tens of thousands of pixels on a side
set -euo pipefail
cd "$(dirname "$0")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
convert -size 48x64 gradient:red-blue -rotate 90 "$tmp/gradient.png"
heif-enc -q 90 "$tmp/gradient.png" -o gradient-64x48.heic >/dev/null
