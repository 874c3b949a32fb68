#!/usr/bin/python3
"""Runs audiotap-sim for a stretch of virtual time with a microphone and a
desktop whose clocks drift, both playing a 10 Hz tone, and prints what the
stream made of it, per channel:

- latency: from the moment of the world's sound (the tone's phase) to the
  clock time at which its frame falls due ((n + 960) / 16000 s for frame n),
  over the first and the last ten minutes; the tone's 100 ms period tells
  steps of up to 50 ms apart, so dropped and inserted stretches are counted
  right (a 1 kHz tone would hide any step of a whole millisecond);
- inserted silence: zero samples that are not the tone's own zero crossings;
- trimmed samples: steps down in latency that no silence explains;
- how far a 1 kHz tone in the world comes out off 1 kHz, per ten-second
  stretch: a tone of f comes out at f (1 - dL/dt) for latency L;
- the channels' misalignment (microphone latency less desktop latency);
- a SHA-256 of the whole stream, to compare builds byte for byte.

Usage: bench/drift_run.py [--sim PATH] [--minutes M] [--mic-ppm P] [--desktop-ppm P]
                          [--desktop-ppm-after P --change-at-minute M] [--settle-minutes M]
"""
import argparse
import hashlib
import json
import math
import os
import subprocess
import sys
import tempfile

import numpy as np

RATE = 16000
TONE = 10.0
REFERENCE_TONE = 1000.0  # the tone whose frequency is reported
HOLDBACK = 960
BLOCK = 1600  # 100 ms
AMPLITUDE = 0.5 * 32767


def scenario(minutes, mic_ppm, desktop_ppm):
    fmt = {"tag": "float", "channels": 2, "bits": 32, "rate": 48000}
    tone = {"kind": "sine", "frequency": TONE, "amplitude": 0.5}
    return {
        "endpoints": [
            {"flow": "capture", "id": "mic", "name": "Mic", "default": True, "format": fmt, "signal": tone,
             "driftPpm": mic_ppm},
            {"flow": "render", "id": "speakers", "name": "Speakers", "default": True, "format": fmt,
             "signal": tone, "driftPpm": desktop_ppm},
        ],
        "stop": {"controlEventAtMs": int(minutes * 60_000)},
    }


class Channel:
    """Follows one channel block by block: its latency, unwrapped from the
    tone's phase, and the silence and trimming it shows."""

    def __init__(self):
        self.latency = []  # (time of block start, latency in s), blocks with a clean tone only
        self.silence = []  # (time, samples)
        self.trimmed = []  # (time, samples)
        self.previous = None  # last latency
        self.previous_time = 0.0
        self.slope = 0.0
        self.pending_silence = 0
        self.last_sample = None

    def block(self, start, samples):
        n = start + np.arange(len(samples))
        x = samples.astype(np.float64)
        # Zero samples that are not the tone crossing zero: its neighbours
        # would then stand on either side of zero, nearly mirrored.
        prev = np.concatenate(([self.last_sample if self.last_sample is not None else 0.0], x[:-1]))
        nxt = np.concatenate((x[1:], [x[-1]]))
        crossing = (prev * nxt < 0) & (np.abs(prev + nxt) < 300)
        inserted = int(np.count_nonzero((x == 0) & ~crossing))
        self.last_sample = x[-1]
        t = start / RATE
        if inserted:
            self.silence.append((t, inserted))
            self.pending_silence += inserted
        # The tone's phase against the stream's own frame times.
        w = 2 * math.pi * TONE * n / RATE
        design = np.stack([np.sin(w), np.cos(w)], axis=1)
        (a, b), *_ = np.linalg.lstsq(design, x, rcond=None)
        if inserted or math.hypot(a, b) < 0.9 * AMPLITUDE:
            return
        # value = A sin(2 pi f (n/RATE + 0.060 - L))  =>  phase = 2 pi f (0.060 - L)
        phase = math.atan2(b, a)
        period = 1.0 / TONE
        base = HOLDBACK / RATE - phase / (2 * math.pi * TONE)
        # Expected: where the latency was heading (a drift moves it smoothly),
        # plus whatever silence was put in since.
        if self.previous is None:
            expected = 0.060
        else:
            expected = self.previous + self.slope * (t - self.previous_time) + self.pending_silence / RATE
        latency = base + round((expected - base) / period) * period
        step = latency - expected
        if self.previous is not None:
            # The first second only learns where the latency is heading.
            if step < -0.5 / RATE and t >= 1.0:
                self.trimmed.append((t, int(round(-step * RATE))))
            elif self.pending_silence == 0 and t - self.previous_time < 0.15:
                self.slope = (latency - self.previous) / (t - self.previous_time)
        self.pending_silence = 0
        self.previous = latency
        self.previous_time = t
        self.latency.append((t, latency))


def summary(channel, label, seconds, settle):
    lat = np.array(channel.latency) if channel.latency else np.zeros((0, 2))
    out = {"channel": label}
    for name, lo, hi in (("first10", 0, 600), ("last10", seconds - 600, seconds)):
        sel = lat[(lat[:, 0] >= lo) & (lat[:, 0] < hi), 1] * 1000 if len(lat) else np.array([])
        out[name] = [round(float(sel.min()), 2), round(float(sel.mean()), 2), round(float(sel.max()), 2)] if len(
            sel) else None
    after = lat[lat[:, 0] >= settle, 1] * 1000 if len(lat) else np.array([])
    out["latencyAfterSettle"] = [round(float(after.min()), 2), round(float(after.max()), 2)] if len(after) else None
    out["silence"] = sum(s for _, s in channel.silence)
    out["silenceRuns"] = len(channel.silence)
    out["silenceAfterSettle"] = sum(s for t, s in channel.silence if t >= settle)
    out["trimmed"] = sum(s for _, s in channel.trimmed)
    out["trimmedAfterSettle"] = sum(s for t, s in channel.trimmed if t >= settle)
    # Frequency per 10 s: the tone comes out at f (1 - dL/dt).
    worst_all, worst_settled = 0.0, 0.0
    if len(lat):
        for lo in np.arange(0, seconds, 10.0):
            sel = lat[(lat[:, 0] >= lo) & (lat[:, 0] < lo + 10)]
            if len(sel) < 20:
                continue
            slope = np.polyfit(sel[:, 0], sel[:, 1], 1)[0]
            dev = abs(REFERENCE_TONE * slope)
            worst_all = max(worst_all, dev)
            if lo >= settle:
                worst_settled = max(worst_settled, dev)
    out["toneOffHz"] = round(worst_all, 3)
    out["toneOffHzAfterSettle"] = round(worst_settled, 3)
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", default=os.path.join(os.path.dirname(__file__), "..", "build", "linux",
                                                       "audiotap-sim"))
    parser.add_argument("--minutes", type=float, default=120)
    parser.add_argument("--mic-ppm", type=float, default=0)
    parser.add_argument("--desktop-ppm", type=float, default=0)
    parser.add_argument("--desktop-ppm-after", type=float)
    parser.add_argument("--change-at-minute", type=float)
    parser.add_argument("--settle-minutes", type=float, default=5)
    args = parser.parse_args()
    seconds = args.minutes * 60
    world = scenario(args.minutes, args.mic_ppm, args.desktop_ppm)
    if args.desktop_ppm_after is not None:
        # The desktop's drift changes once, at a time counted from its start.
        world["endpoints"][1]["driftChanges"] = [[int(args.change_at_minute * 60_000), args.desktop_ppm_after]]
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump(world, f)
        path = f.name
    env = dict(os.environ, AUDIOTAP_SIM_SCENARIO=path)
    proc = subprocess.Popen([args.sim, "--mic", "mic", "--system", "1"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env)
    digest = hashlib.sha256()
    channels = [Channel(), Channel()]
    frame_bytes = 4
    chunk_frames = BLOCK * 100
    pending = b""
    start = 0
    while True:
        data = proc.stdout.read(chunk_frames * frame_bytes)
        if not data:
            break
        digest.update(data)
        pending += data
        whole = len(pending) // (BLOCK * frame_bytes) * BLOCK
        if whole == 0:
            continue
        frames = np.frombuffer(pending[:whole * frame_bytes], dtype="<i2").reshape(-1, 2)
        pending = pending[whole * frame_bytes:]
        for b in range(0, whole, BLOCK):
            for c in range(2):
                channels[c].block(start + b, frames[b:b + BLOCK, c])
        start += whole
    proc.wait()
    os.unlink(path)
    mic = np.array(channels[0].latency)
    desk = np.array(channels[1].latency)
    mis = None
    if len(mic) and len(desk):
        common = np.intersect1d(mic[:, 0], desk[:, 0])
        m = dict(map(tuple, mic))
        d = dict(map(tuple, desk))
        diffs = np.array([m[t] - d[t] for t in common if t >= args.settle_minutes * 60]) * 1000
        mis = round(float(np.abs(diffs).max()), 3) if len(diffs) else None
    result = {
        "micPpm": args.mic_ppm, "desktopPpm": args.desktop_ppm, "minutes": args.minutes,
        "frames": start, "sha256": digest.hexdigest(), "exit": proc.returncode,
        "misalignmentMsAfterSettle": mis,
        "mic": summary(channels[0], "mic", seconds, args.settle_minutes * 60),
        "desktop": summary(channels[1], "desktop", seconds, args.settle_minutes * 60),
    }
    if args.desktop_ppm_after is not None:
        result["desktopPpmAfter"] = args.desktop_ppm_after
        result["changeAtMinute"] = args.change_at_minute
    print(json.dumps(result))


if __name__ == "__main__":
    sys.exit(main())
