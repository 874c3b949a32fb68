#!/usr/bin/env bash
# Installs, on Debian 12, what building, running and testing audiotap need:
# compilers (native and mingw-w64), test and benchmark libraries, libpulse,
# a PulseAudio server with its tools, sox and numpy for the audio checks,
# pytest for the Python host library, clang with its sanitizer and libFuzzer
# runtimes and clang-format, and a Debian 13 root holding Wine 10, which runs
# the Windows build.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq \
  cmake make g++ pkg-config googletest libgtest-dev libbenchmark-dev nlohmann-json3-dev \
  g++-mingw-w64-x86-64-posix mmdebstrap python3-pefile \
  libpulse-dev pulseaudio pulseaudio-utils sox python3-numpy python3-pytest \
  clang libclang-rt-14-dev clang-format >/dev/null
$SUDO "$(dirname "$0")/wine10-root.sh" >/dev/null
