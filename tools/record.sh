#!/usr/bin/env bash
# Builds the Linux audiotap and records a few seconds of the microphone and
# the desktop (the default playback device, in loopback) into a WAV file,
# printing audiotap's event lines as they come.
#
#   tools/record.sh [seconds] [file.wav]        (defaults: 5, recording.wav)
#
# With a PulseAudio or PipeWire (pipewire-pulse) server running, the real
# default devices are recorded. Where none runs, a private PulseAudio server
# is started for the recording, with a 440 Hz tone as the microphone and a
# 1000 Hz tone playing on the default sink, and stopped afterwards.
# Needs: cmake, g++, libpulse-dev, sox; pulseaudio and pulseaudio-utils for
# the private server.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-5}"
output="${2:-recording.wav}"
case "$seconds" in '' | *[!0-9]*) echo "seconds must be a whole number: $seconds" >&2; exit 2 ;; esac
command -v sox >/dev/null || { echo "sox is needed to write the WAV file (apt-get install sox)" >&2; exit 2; }

echo "== building audiotap" >&2
cmake --preset linux >/dev/null
cmake --build --preset linux --target audiotap >/dev/null

server_pid=""
player_pid=""
private_dir=""
raw="$(mktemp)"
cleanup() {
  [ -n "$player_pid" ] && kill -- "-$player_pid" 2>/dev/null || true
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  [ -n "$private_dir" ] && rm -rf "$private_dir"
  rm -f "$raw"
}
trap cleanup EXIT

if pactl info >/dev/null 2>&1; then
  echo "== recording the running sound server's default devices" >&2
else
  for tool in pulseaudio pactl pacat; do
    command -v "$tool" >/dev/null || { echo "no sound server runs and $tool is missing (apt-get install pulseaudio pulseaudio-utils)" >&2; exit 2; }
  done
  echo "== no sound server runs: starting a private PulseAudio server with test tones" >&2
  private_dir="$(mktemp -d)"
  export XDG_RUNTIME_DIR="$private_dir"
  unset PULSE_SERVER
  pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
    --load=module-native-protocol-unix >/dev/null 2>&1 &
  server_pid=$!
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null
  pactl load-module module-null-sink sink_name=speakers rate=44100 \
    sink_properties=device.description=Speakers >/dev/null
  pactl load-module module-sine-source source_name=microphone frequency=440 rate=48000 >/dev/null
  pactl set-default-sink speakers
  pactl set-default-source microphone
  setsid sh -c 'exec sox -q -n -r 44100 -c 2 -t raw -e signed -b 16 - synth 3600 sine 1000 vol 0.5 |
                pacat --latency-msec=20 -d speakers --format=s16le --rate=44100 --channels=2' &
  player_pid=$!
  # A new null sink renders its first block (up to 2 s) before the player's
  # low latency takes hold; recording earlier would begin with silence.
  sleep 2.2
fi

echo "== recording ${seconds} s; audiotap's events:" >&2
build/linux/audiotap --mic default --system 1 >"$raw" &
audiotap_pid=$!
sleep "$seconds"
kill -INT "$audiotap_pid" 2>/dev/null || true
status=0
wait "$audiotap_pid" || status=$?
echo "== audiotap ended with status $status" >&2

if [ ! -s "$raw" ]; then
  echo "== nothing was recorded" >&2
  exit "$((status == 0 ? 1 : status))"
fi
sox -t raw -r 16000 -e signed-integer -b 16 -c 2 -L "$raw" "$output"
echo "== wrote $output: $(soxi -d "$output") of 16 kHz 16-bit, channel 1 the microphone, channel 2 the desktop" >&2
exit "$status"
