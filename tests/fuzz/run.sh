#!/usr/bin/env bash
# Runs every fuzz target of the linux-fuzz build on its corpus for a bounded
# time, two at a time; a crash, a leak, a hang or a failed check ends the
# script with a failure and leaves the input in build/linux-fuzz/findings/.
# Usage: tests/fuzz/run.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-20}"
build=build/linux-fuzz/tests/fuzz
findings=build/linux-fuzz/findings
mkdir -p "$findings"

fuzzOne() {
  local target=$1 corpus=$2 scratch status=0
  # New inputs go to a scratch folder first, so the kept corpus stays small.
  scratch=$(mktemp -d)
  "$build/$target" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$scratch" "$corpus" >"$findings/$target.log" 2>&1 || status=$?
  rm -rf "$scratch"
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$findings/$target.log"
    echo "fuzz: $target found a fault; input in $findings/" >&2
    return 1
  fi
  echo "fuzz: $target, $seconds s: $(grep -E '^stat::number_of_executed_units' "$findings/$target.log" | grep -oE '[0-9]+$') runs"
}

failed=0
running=0
for corpus in tests/fuzz/corpus/*/; do
  fuzzOne "$(basename "$corpus")" "$corpus" &
  running=$((running + 1))
  if [ "$running" -eq 2 ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
