#!/usr/bin/env bash
# Makes the AVIF fixtures with the reference encoder (Debian: imagemagick, libavif-bin).
#   grey-8x8.avif  a small opaque grey image, the start of the size bomb in tests/support
set -euo pipefail
cd "$(dirname "$0")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
convert -size 8x8 xc:gray "$tmp/grey.png"
avifenc -s 10 "$tmp/grey.png" grey-8x8.avif >/dev/null
