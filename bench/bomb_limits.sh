#!/usr/bin/env bash
# How little a decompression bomb costs: a 35-byte GIF whose header claims 30000 × 30000 pixels
# (3.4 GB decoded) is refused from its header. Prints the wall time and the peak resident
# memory of the whole pellavo-cli process over RUNS runs (default 5); expected: well under a
# second and 100 MB, since nothing of the claimed size is ever allocated.
#
#   bench/bomb_limits.sh [PELLAVO_CLI]
set -euo pipefail
cli="$(realpath "${1:-build/src/pellavo-cli}")"
runs="${RUNS:-5}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/out"
# GIF89a, 30000 × 30000, a global table of two colours, one image of the same size, a tiny
# LZW stream, the trailer.
printf 'GIF89a\x30\x75\x30\x75\x80\x00\x00\x00\x00\x00\x00\xff\xff\xff,\x00\x00\x00\x00\x30\x75\x30\x75\x00\x02\x02\x4c\x01\x00;' \
  >"$work/bomb.gif"
[ "$(stat -c %s "$work/bomb.gif")" = 35 ]
echo "load: $(uptime | sed 's/.*load average: //')"
for ((i = 0; i < runs; i++)); do
  status=0
  /usr/bin/time -o "$work/t" -f "%e %M" "$cli" --dest "$work/out" "$work/bomb.gif" >/dev/null 2>"$work/err" || status=$?
  grep -q "image too large: 30000 × 30000" "$work/err" || { cat "$work/err" >&2; exit 1; }
  read -r seconds kb <"$work/t"
  echo "run $((i + 1)): exit $status, $seconds s, peak $((kb / 1024)) MB"
done
