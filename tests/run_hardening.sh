#!/usr/bin/env bash
# The runs that look for faults the ordinary tests cannot see: the unit and
# black-box tests under AddressSanitizer and UndefinedBehaviorSanitizer, the
# libpulse platform's own tests under ThreadSanitizer, every fuzz target for
# a bounded time, and the format check. Any finding fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

stage() { echo "== $1 ($(date +%T))"; }

stage "ASan+UBSan: unit and black-box tests"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan --target unit_tests blackbox_tests
ctest --preset linux-asan -L 'unit|blackbox' -j2

stage "TSan: the libpulse platform's tests"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan
# ThreadSanitizer needs a low-entropy address layout; setarch -R gives it one.
setarch "$(uname -m)" -R ctest --preset linux-tsan

stage "fuzz targets"
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz
tests/fuzz/run.sh "${AUDIOTAP_FUZZ_SECONDS:-20}"

stage "format"
tools/check-format.sh
stage "done"
