#!/usr/bin/env bash
# What --max-kb costs: one run of the jpg corpus to 800 pixels at quality 90 without a limit and
# with each limit given, timed by hyperfine; then, per limit, how many files the quality search
# lowered and how many had to be made smaller as well, from the JSON lines.
#
#   bench/max_kb_cost.sh [BUILD_DIR] [KB ...]     (default: build 100 40)
# Quote the ratios with the load average it prints: the machines are shared.
set -euo pipefail
build="${1:-build}"
shift || true
limits=("$@")
[ "$#" -gt 0 ] || limits=(100 40)
cli="$(realpath "$build/src/pellavo-cli")"
corpus="$(../shared/bench/corpus.sh jpg 2>/dev/null | tail -1 || echo "$HOME/.cache/pellavo-bench/jpg")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
uptime
base="$cli --quiet --overwrite --format jpg --size 800 --dest $work $corpus"
commands=("$base")
for kb in "${limits[@]}"; do commands+=("$base --max-kb $kb"); done
hyperfine --warmup 1 --runs "${RUNS:-3}" "${commands[@]}"
for kb in "${limits[@]}"; do
  "$cli" --json --overwrite --format jpg --size 800 --max-kb "$kb" --dest "$work" "$corpus" >"$work/$kb.jsonl" || true
  python3 - "$work/$kb.jsonl" "$kb" <<'PY'
import json, sys
files = [o for o in map(json.loads, open(sys.argv[1])) if o["type"] == "file" and o["status"] == "written"]
lowered = sum(o["quality"] < 90 for o in files)
smaller = sum(max(o["width"], o["height"]) < 800 for o in files)
print(f"--max-kb {sys.argv[2]}: {len(files)} files, {lowered} below quality 90, {smaller} also made smaller, "
      f"largest {max(o['bytes'] for o in files)} bytes")
PY
done
