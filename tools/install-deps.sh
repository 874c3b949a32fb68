#!/usr/bin/env bash
# Installs, on Debian 12, what building, running and testing audiotap need:
# compilers (native and mingw-w64), test and benchmark libraries, libpulse,
# a PulseAudio server with its tools, sox and numpy for the audio checks,
# pytest and venv for the Python host library, tsc for the Node one's types,
# clang with its sanitizer and libFuzzer runtimes and clang-format, and a
# Debian 13 root holding Wine 10, which runs the Windows build.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq \
  cmake make g++ pkg-config googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev \
  g++-mingw-w64-x86-64-posix mmdebstrap python3-pefile \
  libpulse-dev pulseaudio pulseaudio-utils sox python3-numpy python3-pytest \
  clang libclang-rt-14-dev clang-format python3-venv >/dev/null
# Node.js with npm for the Node library and its packages, where the machine
# has none of its own.
command -v npm >/dev/null || $SUDO apt-get install -y -qq nodejs npm >/dev/null
# tsc and Node's types, to compile a host against the library's types
# (Debian packages no @types/node).
$SUDO mkdir -p /var/cache/audiotap/node-tools
$SUDO npm install --prefix /var/cache/audiotap/node-tools --no-audit --no-fund --silent \
  typescript@5.6.3 @types/node@20.17.10
$SUDO "$(dirname "$0")/wine10-root.sh" >/dev/null
