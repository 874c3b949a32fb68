#!/usr/bin/python3
"""A microphone whose clock really runs fast or slow against the system clock:
a private PulseAudio server's module-pipe-source, fed from the moment audiotap
has started by a writer paced at 48000 x (1 + ppm / 10^6) frames a second of
the system clock, carrying a 1 kHz tone sampled at those instants.

Checks that no silence is put into the tone after the first minute (holes
right after the writer itself was held up by a busy machine are counted
apart: their data came late for every build), and
prints the holes of the first minute, the latency at the end (from the last
frame written to the clock time its sample falls due) and the tone's
frequency over the last ten seconds. Exit 0: passed, 1: failed, 77: skipped.

Usage: e2e_drift.py --audiotap PATH --ppm P [--seconds S] [--max-end-latency-ms M]
"""
import argparse
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_audiotap import RATE, HOLDBACK_FRAMES, Failure, PulseServer, Run, check, dominant_frequency  # noqa: E402

DEVICE_RATE = 48000
TONE = 1000.0
CHUNK = 480  # frames per write: 10 ms
STALL = 0.05  # the writer woke this much later than it asked: the machine held it up
HELD_UP_REACH = 1.0  # a hole up to this long after such a stall is put down to it


def write_paced(path, ppm):
    """Writes a 1 kHz tone into the FIFO at the drifted rate until SIGTERM;
    frame k is the tone at k / (48000 (1 + ppm)) s after the start. Then
    prints the monotonic time of its last write and the frames written."""
    rate = DEVICE_RATE * (1 + ppm / 1e6)
    stopping = []
    signal.signal(signal.SIGTERM, lambda *_: stopping.append(True))
    fifo = os.open(path, os.O_WRONLY)
    written = 0
    last_write_at = started_at = awake_at = time.monotonic()
    stalls = []
    while not stopping:
        now = time.monotonic()
        if now - awake_at > STALL:
            stalls.append([awake_at, now])
        awake_at = now
        due = int((now - started_at) * rate)
        while written + CHUNK <= due:
            k = np.arange(written, written + CHUNK)
            tone = (0.5 * 32767 * np.sin(2 * math.pi * TONE * k / rate)).astype("<i2")
            os.write(fifo, tone.tobytes())
            written += CHUNK
            last_write_at = time.monotonic()
        time.sleep(0.002)
    os.close(fifo)
    print(json.dumps({"lastWriteAt": last_write_at, "written": written, "stalls": stalls}), flush=True)


class PacedWriter:
    """The writer in a process of its own, so that nothing of this script's
    (reading audiotap's output) holds it up."""

    def __init__(self, path, ppm):
        self.process = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--write-fifo", path, "--ppm",
                                         str(ppm)], stdout=subprocess.PIPE, text=True)

    def stop(self):
        """Monotonic time of the last write, frames written, and the spans
        in which the writer itself was held up."""
        self.process.send_signal(signal.SIGTERM)
        out, _ = self.process.communicate(timeout=10)
        report = json.loads(out)
        return report["lastWriteAt"], report["written"], report["stalls"]


def holes(samples, offset):
    """(start second, length) of every zero sample that is not the tone
    crossing zero: its neighbours would then stand on either side, mirrored."""
    x = samples.astype(np.int64)
    prev = np.concatenate(([0], x[:-1]))
    nxt = np.concatenate((x[1:], [0]))
    inserted = (x == 0) & ~((prev * nxt < 0) & (np.abs(prev + nxt) < 300))
    edges = np.flatnonzero(np.diff(np.concatenate(([0], inserted.astype(np.int8), [0]))))
    return [((offset + int(a)) / RATE, int(b - a)) for a, b in zip(edges[::2], edges[1::2])]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--audiotap")
    parser.add_argument("--ppm", type=float, required=True)
    parser.add_argument("--seconds", type=float, default=150)
    parser.add_argument("--max-end-latency-ms", type=float, default=0, help="0: not checked")
    parser.add_argument("--write-fifo", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.write_fifo:
        write_paced(arguments.write_fifo, arguments.ppm)
        return 0
    if not arguments.audiotap:
        parser.error("--audiotap is needed")
    if shutil.which("pulseaudio") is None or shutil.which("pactl") is None:
        print("SKIP: pulseaudio is not installed")
        return 77
    server = PulseServer()
    fifo_dir = tempfile.mkdtemp(prefix="audiotap-drift-")
    fifo = os.path.join(fifo_dir, "mic.fifo")
    try:
        server.load("module-pipe-source", "source_name=drifting", f"file={fifo}", "format=s16le",
                    f"rate={DEVICE_RATE}", "channels=1", "source_properties=device.description=Drifting")
        server.pactl("set-default-source", "drifting")
        run = Run(arguments.audiotap, server, ["--mic", "default"])
        run.wait_for_started()
        writer = PacedWriter(fifo, arguments.ppm)
        time.sleep(arguments.seconds)
        stopped_at, last_frame, stalls = writer.stop()
        time.sleep(0.5)
        run.process.send_signal(signal.SIGINT)
        out, err, status = run.finish()
        check(status == 0, f"status {status}, {err!r}")
        mic = np.frombuffer(out, dtype="<i2").astype(np.int32)
        loud = np.flatnonzero(np.abs(mic) > 1000)
        check(len(loud) > 0, "no tone at all")
        start, end = int(loud[0]), int(loud[-1])
        found = holes(mic[start:end], start)
        settle = start + 60 * RATE
        early = [h for h in found if h[0] * RATE < settle]
        # A hole whose data was due while the machine held the writer itself
        # up says nothing of audiotap: it is counted apart.
        def held_up(hole):
            due = run.started_at + hole[0] + HOLDBACK_FRAMES / RATE
            return any(a < due and b > due - HELD_UP_REACH for a, b in stalls)
        late = [h for h in found if h[0] * RATE >= settle and not held_up(h)]
        excused = [h for h in found if h[0] * RATE >= settle and held_up(h)]
        # The last frame written is due when the clock shows its sample + 960 frames.
        end_latency_ms = ((end + HOLDBACK_FRAMES) / RATE + run.started_at - stopped_at) * 1000
        last = mic[max(start, end - 10 * RATE):end]
        print(f"{arguments.ppm:+.0f} ppm for {arguments.seconds:.0f} s ({last_frame} frames written): "
              f"tone from {start / RATE:.3f} s; first minute {len(early)} holes ({sum(n for _, n in early)} "
              f"samples), after it {len(late)} holes ({sum(n for _, n in late)} samples) "
              f"{late[:10]}; {len(excused)} more after the writer was held up ({len(stalls)} times, longest "
              f"{max([b - a for a, b in stalls], default=0) * 1000:.0f} ms); latency at the end {end_latency_ms:.1f} ms; "
              f"last 10 s at {dominant_frequency(last.astype(np.float64)):.2f} Hz")
        check(not late, f"{len(late)} holes after the first minute")
        if arguments.max_end_latency_ms > 0:
            check(abs(end_latency_ms - 60) <= arguments.max_end_latency_ms,
                  f"latency at the end {end_latency_ms:.1f} ms, not within 60 ± {arguments.max_end_latency_ms} ms")
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        server.stop()
        shutil.rmtree(fifo_dir, ignore_errors=True)
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
