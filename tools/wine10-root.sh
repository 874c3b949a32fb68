#!/usr/bin/env bash
# Makes, once, the Debian 13 root that holds Wine 10 (Debian 12 has only Wine 8,
# which has no loopback capture), and reuses it while its package list is the
# same and Wine runs in it (a root made halfway, or damaged, is made again).
# Prints the root's path. Needs root and Debian's mmdebstrap.
set -euo pipefail
ROOT=${AUDIOTAP_WINE10_ROOT:-/var/cache/audiotap/wine10-root}
PACKAGES="wine,wine64,pulseaudio-utils"
STAMP="$ROOT/.audiotap-packages"

# The stamp is written last, so a root that has it was made to the end.
if [ -f "$STAMP" ] && [ "$(cat "$STAMP")" = "$PACKAGES" ] &&
  AUDIOTAP_WINE10_ROOT="$ROOT" "$(dirname "$0")/wine10" --check >/dev/null 2>&1; then
  echo "$ROOT"
  exit 0
fi

# The mirror this machine already uses; no registry's name is written down here.
mirror=""
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
  mirror=$(sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources | head -n 1)
fi
if [ -z "$mirror" ] && [ -f /etc/apt/sources.list ]; then
  mirror=$(sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\).*/\2/p' /etc/apt/sources.list | head -n 1)
fi
[ -n "$mirror" ] || { echo "no Debian mirror found in the apt configuration" >&2; exit 1; }

# A root that is still mounted into (a killed wrapper) must not be deleted through.
if grep -q " $ROOT/" /proc/self/mounts; then
  echo "$ROOT has mounts in it; unmount them first" >&2
  exit 1
fi
rm -rf "$ROOT" "$ROOT.new"
mkdir -p "$(dirname "$ROOT")"
mmdebstrap --quiet --variant=apt --include="$PACKAGES" trixie "$ROOT.new" "$mirror" >&2
echo "$PACKAGES" > "$ROOT.new/.audiotap-packages"
mv "$ROOT.new" "$ROOT"
echo "$ROOT"
