#!/usr/bin/env bash
# Builds both targets and runs every test: unit tests, black-box runs of
# audiotap-sim and audiotap, and audiotap.exe under Wine; then the sanitizer
# builds, the fuzz targets and the format check (tests/run_hardening.sh).
#
# Under CI (CI=true, as .ci/run sets it) every leg must run: without a usable
# Wine 10 root it fails at once, saying so; by hand it goes on and the Windows
# legs report themselves skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! wine10=$(tools/wine10 --check 2>&1); then
  case "${CI:-}" in
    "" | 0 | false) echo "The Windows legs will be skipped: $wine10" >&2 ;;
    *) echo "Cannot test the Windows build: $wine10" >&2; exit 1 ;;
  esac
fi

cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset windows-mingw >/dev/null
cmake --build --preset windows-mingw
# The npm packages and the wheels, for the package.* tests.
tools/package.sh >/dev/null

# A private Wine 10 prefix, made once per build tree (tools/wine10 runs Wine
# inside the Debian 13 root that tools/install-deps.sh makes).
export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/wine10prefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  tools/wine10 wineboot -i >/dev/null 2>&1 || true
  tools/wine10 wineserver -w >/dev/null 2>&1 || true
fi

status=0
ctest --preset linux "$@" || status=$?

# The host libraries' test runners count their own cases: show those counts.
log=build/linux/Testing/Temporary/LastTest.log
if [ -f "$log" ]; then
  awk '/^[0-9]+\/[0-9]+ Test: hosts\./ { name = $3 }
       /end time:/ { name = "" }
       name != "" && (/^# (tests|pass|fail|skipped) [0-9]+$/ || /[0-9]+ (passed|failed)/) { print name ": " $0 }' "$log"
fi

# Sanitizer builds, fuzzing and the format check.
tests/run_hardening.sh || status=$?
exit "$status"
