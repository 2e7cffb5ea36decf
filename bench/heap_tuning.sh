#!/usr/bin/env bash
# What the programs' heap tuning buys: one whole run of pellavo-cli over a corpus with the
# tuned heap and with the C library's defaults (set through GLIBC_TUNABLES, which the programs
# then leave alone), printing wall time, page faults and peak resident memory of each, the
# median of RUNS runs (default 3).
#
#   bench/heap_tuning.sh CORPUS_DIR... [-- PELLAVO_CLI_OPTIONS]
# Environment: CLI= the program (default build/src/pellavo-cli), RUNS=.
# The corpora: ../shared/bench/corpus.sh small, ../shared/bench/corpus.sh jpg.
set -euo pipefail
cli="$(realpath "${CLI:-build/src/pellavo-cli}")"
runs="${RUNS:-3}"
dirs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do dirs+=("$1"); shift; done
[ $# -gt 0 ] && shift
[ ${#dirs[@]} -gt 0 ] || { echo "usage: $0 CORPUS_DIR... [-- OPTIONS]" >&2; exit 2; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The library's own defaults: 128 KB for both thresholds (the mapping one then slides).
defaults="glibc.malloc.trim_threshold=131072:glibc.malloc.mmap_threshold=131072"

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

measure() {  # label, tunables; prints "label seconds minor-faults major-faults peak-MB"
  local label="$1" tunables="$2" i
  shift 2
  : >"$work/times"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/out"; mkdir "$work/out"
    env ${tunables:+GLIBC_TUNABLES=$tunables} /usr/bin/time -o "$work/t" -f "%e %R %F %M" \
      "$cli" --quiet --overwrite --dest "$work/out" "$@" "${dirs[@]}" >/dev/null
    cat "$work/t" >>"$work/times"
  done
  printf "%-16s %8s s %10s minor %6s major %8s MB\n" "$label" \
    "$(cut -d' ' -f1 "$work/times" | median)" "$(cut -d' ' -f2 "$work/times" | median)" \
    "$(cut -d' ' -f3 "$work/times" | median)" "$(( $(cut -d' ' -f4 "$work/times" | median) / 1024 ))"
}

echo "load: $(uptime | sed 's/.*load average: //')"
measure "tuned heap" "" "$@"
measure "library heap" "$defaults" "$@"
