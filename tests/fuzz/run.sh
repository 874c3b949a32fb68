#!/usr/bin/env bash
# Runs every fuzz target of the linux-fuzz build on its corpus for a bounded
# time; a crash, a leak, a hang or a failed check ends the script with a
# failure and leaves the input in build/linux-fuzz/findings/.
# Usage: tests/fuzz/run.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-20}"
build=build/linux-fuzz/tests/fuzz
findings=build/linux-fuzz/findings
mkdir -p "$findings"
for corpus in tests/fuzz/corpus/*/; do
  target=$(basename "$corpus")
  # New inputs go to a scratch folder first, so the kept corpus stays small.
  scratch=$(mktemp -d)
  echo "fuzz: $target for ${seconds} s"
  if ! "$build/$target" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$findings/$target-" "$scratch" "$corpus" >"$findings/$target.log" 2>&1; then
    tail -n 40 "$findings/$target.log"
    rm -rf "$scratch"
    echo "fuzz: $target found a fault; input in $findings/" >&2
    exit 1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$findings/$target.log" | tail -n 1 || true
  rm -rf "$scratch"
done
