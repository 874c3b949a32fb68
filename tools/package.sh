#!/usr/bin/env bash
# Builds both programs and makes, offline, the npm packages and the Python
# wheels in dist/ (see tools/package.py for what each holds).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset linux >/dev/null
cmake --build --preset linux --target audiotap >/dev/null
cmake --preset windows-mingw >/dev/null
cmake --build --preset windows-mingw --target audiotap >/dev/null
exec /usr/bin/python3 tools/package.py --linux build/linux/audiotap --windows build/windows-mingw/audiotap.exe \
  --out "${1:-dist}"
