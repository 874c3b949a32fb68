#!/usr/bin/python3
"""End-to-end runs of the Linux audiotap against a private PulseAudio server.

Each case starts its own server (own XDG_RUNTIME_DIR), sets up sources, sinks
and tones, runs the real executable as a host would and checks its streams,
its exit status and the audio it wrote. Exit 0: passed, 1: failed, 77: skipped
(pulseaudio is not installed; a failure instead under CI).
"""
import argparse
import ctypes
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from legs import leg_cannot_run, wine10_unusable  # noqa: E402

RATE = 16000
TONE_PEAK = 0.5  # the players' amplitude, and module-sine-source's
HOLDBACK_FRAMES = 960


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def end_with_this_process():
    """preexec_fn: the child is killed when this script ends, even when killed itself."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class PulseServer:
    """A PulseAudio server of this test's own, ended with everything it plays."""

    def __init__(self):
        self.runtime = tempfile.mkdtemp(prefix="audiotap-e2e-")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, LC_ALL="C")
        # An inherited server address or runtime path would point past this server.
        self.env.pop("PULSE_SERVER", None)
        self.env.pop("PULSE_RUNTIME_PATH", None)
        self.players = []
        self.process = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
             "--load=module-native-protocol-unix"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
            preexec_fn=end_with_this_process)
        for _ in range(100):
            if self.process.poll() is not None:
                raise Failure("the private PulseAudio server did not start")
            if subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode == 0:
                return
            time.sleep(0.05)
        raise Failure("the private PulseAudio server did not answer")

    def pactl(self, *arguments):
        result = subprocess.run(["pactl", *arguments], env=self.env, capture_output=True, text=True)
        check(result.returncode == 0, f"pactl {' '.join(arguments)}: {result.stderr.strip()}")
        return result.stdout

    def load(self, *arguments):
        return int(self.pactl("load-module", *arguments))

    def play(self, sink, frequency, rate=44100, channels=2):
        """Plays a sine of the given frequency, or "whitenoise", into sink."""
        # Started before any thread of this script runs, so preexec_fn is safe.
        generator = subprocess.Popen(
            ["sox", "-q", "-n", "-r", str(rate), "-c", str(channels), "-t", "raw", "-e", "signed", "-b", "16", "-",
             "synth", "600", *(["whitenoise"] if frequency == "whitenoise" else ["sine", str(frequency)]),
             "vol", str(TONE_PEAK)],
            env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, preexec_fn=end_with_this_process)
        player = subprocess.Popen(
            ["pacat", "--latency-msec=20", "-d", sink, "--format=s16le", f"--rate={rate}", f"--channels={channels}"],
            env=self.env, stdin=generator.stdout, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=end_with_this_process)
        generator.stdout.close()
        self.players += [generator, player]
        for _ in range(100):
            if sink in self.playing_sinks():
                return
            time.sleep(0.05)
        raise Failure(f"the tone did not start on {sink}")

    def playing_sinks(self):
        names = {line.split("\t")[0]: line.split("\t")[1]
                 for line in self.pactl("list", "short", "sinks").splitlines()}
        return {names.get(line.split("\t")[1]) for line in self.pactl("list", "short", "sink-inputs").splitlines()}

    def devices(self, kind):
        """(name, description, monitor-of) of every source or sink, as pactl lists them."""
        devices = []
        for line in self.pactl("list", kind).splitlines():
            if line.startswith(("Sink #", "Source #")):
                devices.append({"name": "", "description": "", "monitorOf": ""})
            elif devices and line.startswith("\tName: "):
                devices[-1]["name"] = line[len("\tName: "):]
            elif devices and line.startswith("\tDescription: "):
                devices[-1]["description"] = line[len("\tDescription: "):]
            elif devices and line.startswith("\tMonitor of Sink: ") and not line.endswith("n/a"):
                devices[-1]["monitorOf"] = line[len("\tMonitor of Sink: "):]
        return devices

    def stop(self):
        for player in self.players:
            player.kill()
            player.wait()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)


def standard_setup(server):
    """A 440 Hz sine source as the default microphone and a 1000 Hz tone on the default sink."""
    server.load("module-null-sink", "sink_name=speakers", "rate=44100",
                "sink_properties=device.description=Speakers")
    server.load("module-sine-source", "source_name=tone", "frequency=440", "rate=48000")
    server.pactl("set-default-sink", "speakers")
    server.pactl("set-default-source", "tone")
    server.play("speakers", 1000)
    # A new null sink renders its first block of up to two seconds before the
    # player's low latency takes hold; its monitor delivers nothing until then.
    time.sleep(2.2)


class Run:
    """audiotap running as a host starts it: stdout and stderr read as they come."""

    def __init__(self, audiotap, server, arguments):
        self.process = subprocess.Popen([audiotap, *arguments], env=server.env, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.started_at = None
        # A host reads the PCM stream as it comes; a full pipe would hold the run up.
        self.output = bytearray()
        self.reader = threading.Thread(target=self._read_output, daemon=True)
        self.reader.start()

    def _read_output(self):
        while True:
            block = self.process.stdout.read1(65536)
            if not block:
                return
            self.output += block

    def wait_for_started(self, timeout=10):
        line = self.readline_stderr(timeout)
        self.started_at = time.monotonic()
        event = json.loads(line)
        check(event.get("event") == "started", f"first event line is not 'started': {line!r}")
        return event

    def readline_stderr(self, timeout):
        ready, _, _ = select.select([self.process.stderr], [], [], timeout)
        check(ready, "no event line in time")
        return self.process.stderr.readline().decode()

    def finish(self, timeout=10):
        """Everything written, the exit status; a run that does not end in time is a failure."""
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise Failure("audiotap did not end in time: it hung")
        self.reader.join()
        err = self.process.stderr.read().decode()
        return bytes(self.output), err, self.process.returncode


def event_lines(text):
    check(text.endswith("\n") or text == "", f"stderr does not end with a line ending: {text!r}")
    return [json.loads(line) for line in text.splitlines()]


def dominant_frequency(samples):
    window = np.hanning(len(samples))
    spectrum = np.abs(np.fft.rfft(samples * window))
    peak = int(np.argmax(spectrum[1:-1])) + 1
    # Parabolic interpolation on the log magnitude around the peak bin.
    a, b, c = np.log(spectrum[peak - 1:peak + 2] + 1e-12)
    offset = 0.5 * (a - c) / (a - 2 * b + c)
    return (peak + offset) * RATE / len(samples)


def level_db(samples):
    return 20 * np.log10(np.sqrt(np.mean(samples ** 2)) / (TONE_PEAK / np.sqrt(2)))


# ---------------------------------------------------------------------------


def case_listing(audiotap, server):
    server.load("module-null-sink", "sink_name=speakers", "sink_properties=device.description=Speakers")
    server.load("module-null-sink", "sink_name=headset", "sink_properties=\"device.description='Casque é'\"")
    server.load("module-sine-source", "source_name=tone", "frequency=440")
    server.load("module-null-sink", "sink_name=feed")
    server.load("module-remap-source", "source_name=mic", "master=feed.monitor",
                "source_properties=\"device.description='Micro \\\"USB\\\" \\\\ 2'\"")
    server.pactl("set-default-sink", "headset")
    server.pactl("set-default-source", "mic")
    result = subprocess.run([audiotap, "--list"], env=server.env, capture_output=True, timeout=20)
    check(result.returncode == 0, f"status {result.returncode}, stderr {result.stderr!r}")
    check(result.stderr == b"", f"stderr {result.stderr!r}")
    check(result.stdout.endswith(b"]\n") and result.stdout.count(b"\n") == 1, f"not one line: {result.stdout!r}")
    listed = json.loads(result.stdout)

    default_source = server.pactl("get-default-source").strip()
    default_sink = server.pactl("get-default-sink").strip()
    expected = []
    for kind, flow, default in (("sources", "capture", default_source), ("sinks", "render", default_sink)):
        for device in server.devices(kind):
            if device["monitorOf"]:
                continue
            expected.append({"FriendlyName": device["description"], "InstanceId": "SWD\\MMDEVAPI\\" + device["name"],
                             "Status": "OK", "IsDefault": device["name"] == default, "Flow": flow})
    check(listed == expected, f"listing differs from pactl:\n  {listed}\n  {expected}")
    check(sum(1 for record in listed if record["IsDefault"]) == 2, "one default per flow")

    # What the listing prints selects the microphone in a capture run.
    for selector, name in (("SWD\\MMDEVAPI\\tone", "Sine source at 440 Hz"),
                           ("micro \"usb\" \\ 2", "Micro \"USB\" \\ 2"), ("default", "Micro \"USB\" \\ 2")):
        run = Run(audiotap, server, ["--mic", selector])
        started = run.wait_for_started()
        run.process.send_signal(signal.SIGINT)
        _, err, status = run.finish()
        check(started["mic"] == name, f"--mic {selector!r} opened {started['mic']!r}")
        check(status == 0, f"--mic {selector!r}: status {status}, {err!r}")


def case_capture(audiotap, server):
    standard_setup(server)
    run = Run(audiotap, server, ["--mic", "default", "--system", "1"])
    started = run.wait_for_started()
    check(started == {"event": "started", "slots": ["mic", "desktop"], "mic": "Sine source at 440 Hz",
                      "system": "Speakers", "clock": "qpc", "deviceRate": {"mic": 48000, "desktop": 44100}},
          f"started line: {started}")
    time.sleep(6)
    stopped_at = time.monotonic()
    run.process.send_signal(signal.SIGINT)
    out, err, status = run.finish()
    check(status == 0, f"status {status}")
    check(event_lines(err) == [{"event": "stopped"}], f"after started: {err!r}")
    check(len(out) % 4 == 0, "not whole 2-channel frames")
    frames = np.frombuffer(out, dtype="<i2").reshape(-1, 2).astype(np.float64) / 32768.0
    # The clock starts just before the started line; the stream trails it by
    # 960 frames, and the stop comes at the end of the pass under way.
    expected_frames = (stopped_at - run.started_at) * RATE - HOLDBACK_FRAMES
    check(abs(len(frames) / expected_frames - 1) < 0.02,
          f"{len(frames)} frames written for {expected_frames:.0f} due by the wall clock")
    body = frames[RATE // 2:-RATE // 5]
    for channel, frequency in ((0, 440.0), (1, 1000.0)):
        measured = dominant_frequency(body[:, channel])
        level = level_db(body[:, channel])
        print(f"channel {channel}: {measured:.2f} Hz, {level:+.2f} dB against the source")
        check(abs(measured - frequency) <= 2.0, f"channel {channel}: {measured:.2f} Hz, not {frequency}")
        check(abs(level) <= 1.0, f"channel {channel}: level {level:+.2f} dB")
        # No stretch of silence in the middle: every 100 ms carries the tone.
        blocks = body[:len(body) // 1600 * 1600, channel].reshape(-1, 1600)
        check(np.all(np.abs(blocks).max(axis=1) > TONE_PEAK / 2), f"channel {channel} has silent gaps")


def case_signals(audiotap, server):
    standard_setup(server)
    for signal_number in (signal.SIGINT, signal.SIGTERM):
        run = Run(audiotap, server, ["--mic", "default", "--system", "1"])
        run.wait_for_started()
        time.sleep(1)
        run.process.send_signal(signal_number)
        out, err, status = run.finish()
        check(status == 0, f"{signal_number!r}: status {status}")
        check(event_lines(err) == [{"event": "stopped"}], f"{signal_number!r}: {err!r}")
        check(len(out) > RATE * 4 // 2, f"{signal_number!r}: only {len(out)} bytes")


def case_closed_output(audiotap, server):
    standard_setup(server)
    # audiotap ... | head -c 32000, with audiotap's own status kept.
    result = subprocess.run(
        ["/bin/bash", "-c", 'set -o pipefail; "$0" --mic default --system 1 2>"$1" | head -c 32000 >/dev/null',
         audiotap, os.path.join(server.runtime, "stderr.txt")],
        env=server.env, timeout=20)
    with open(os.path.join(server.runtime, "stderr.txt")) as stderr:
        events = event_lines(stderr.read())
    check(result.returncode == 0, f"status {result.returncode}")
    check([event["event"] for event in events] == ["started", "stopped"], f"events {events}")


# The two cases below need the capture loop to end the run when
# GetNextPacketSize reports a lost device or a stopped server; before that, the
# run goes on in silence and they fail with "no event line in time".
LOSS_NOTICE_SECONDS = 0.1


def wait_for_fault(run, since):
    """The fault line that ends the run, and how long after `since` it came."""
    try:
        line = run.readline_stderr(timeout=5)
    except Failure:
        run.process.kill()
        run.process.wait()
        raise
    noticed = time.monotonic() - since
    events = [json.loads(line)] if line else []
    out, err, status = run.finish(timeout=10)
    events += event_lines(err)
    check(status >= 0, f"ended by signal {-status}: a crash")
    return out, events, status, noticed


def check_intact(out, run, ended_at, tones):
    """Every frame due by the clock until the end was written, and each channel carries its tone."""
    channels = len(tones)
    check(len(out) % (2 * channels) == 0, f"not whole {channels}-channel frames")
    frames = np.frombuffer(out, dtype="<i2").reshape(-1, channels).astype(np.float64) / 32768.0
    expected_frames = (ended_at - run.started_at) * RATE - HOLDBACK_FRAMES
    check(abs(len(frames) / expected_frames - 1) < 0.02,
          f"{len(frames)} frames written for {expected_frames:.0f} due by the wall clock")
    # Up to 0.2 s before the end: the last passes may hold the silence of a
    # source that is already gone.
    body = frames[RATE // 2:-RATE // 5]
    for channel, frequency in enumerate(tones):
        measured = dominant_frequency(body[:, channel])
        level = level_db(body[:, channel])
        check(abs(measured - frequency) <= 2.0, f"channel {channel}: {measured:.2f} Hz, not {frequency}")
        check(abs(level) <= 1.0, f"channel {channel}: level {level:+.2f} dB")
        blocks = body[:len(body) // 1600 * 1600, channel].reshape(-1, 1600)
        check(np.all(np.abs(blocks).max(axis=1) > TONE_PEAK / 2), f"channel {channel} has silent gaps")


def case_microphone_removed(audiotap, server):
    # A remapped source stands for a USB microphone that is unplugged mid-run.
    server.load("module-null-sink", "sink_name=speakers", "rate=44100",
                "sink_properties=device.description=Speakers")
    server.load("module-null-sink", "sink_name=feed", "rate=48000", "format=float32le")
    microphone = server.load("module-remap-source", "source_name=mic", "master=feed.monitor",
                             "source_properties=device.description=Microphone")
    server.pactl("set-default-sink", "speakers")
    server.play("feed", 440)
    server.play("speakers", 1000)
    time.sleep(2.2)
    run = Run(audiotap, server, ["--mic", "mic", "--system", "1"])
    run.wait_for_started()
    time.sleep(3)
    # The server answers pactl right after the unload, so pactl's return marks
    # it to within pactl's exit; its start would add pactl's own start-up,
    # 50 ms and more on a busy machine.
    server.pactl("unload-module", str(microphone))
    unloaded_at = time.monotonic()
    out, events, status, noticed = wait_for_fault(run, unloaded_at)
    print(f"after the microphone was removed: status {status}, events {events}, noticed in {noticed * 1000:.0f} ms")
    check(events == [{"event": "fault", "reason": "capture.stopped", "detail": "GetNextPacketSize:0x88890004",
                      "slot": "mic"}], f"events {events}")
    check(status == 4, f"status {status}")
    check(noticed <= LOSS_NOTICE_SECONDS, f"the fault came {noticed * 1000:.0f} ms after the removal")
    check_intact(out, run, unloaded_at + noticed, (440.0, 1000.0))


def case_server_killed(audiotap, server):
    standard_setup(server)
    run = Run(audiotap, server, ["--mic", "default", "--system", "1"])
    run.wait_for_started()
    time.sleep(1.5)
    server.process.kill()
    killed_at = time.monotonic()
    server.process.wait()
    out, events, status, noticed = wait_for_fault(run, killed_at)
    print(f"after the server was killed: status {status}, events {events}, noticed in {noticed * 1000:.0f} ms")
    # Both streams go with the connection; the microphone is drained first.
    check(events == [{"event": "fault", "reason": "capture.stopped", "detail": "GetNextPacketSize:0x88890010",
                      "slot": "mic"}], f"events {events}")
    check(status == 4, f"status {status}")
    check(noticed <= LOSS_NOTICE_SECONDS, f"the fault came {noticed * 1000:.0f} ms after the kill")
    check_intact(out, run, killed_at + noticed, (440.0, 1000.0))


def case_server_stopped(audiotap, server):
    # A server that stops answering must not hold up the capture loop, nor the stop.
    standard_setup(server)
    run = Run(audiotap, server, ["--mic", "default", "--system", "1"])
    run.wait_for_started()
    time.sleep(1)
    server.process.send_signal(signal.SIGSTOP)
    try:
        time.sleep(2)
        stopped_at = time.monotonic()
        run.process.send_signal(signal.SIGINT)
        out, err, status = run.finish(timeout=5)
    finally:
        server.process.send_signal(signal.SIGCONT)
    check(status == 0, f"status {status}")
    check(event_lines(err) == [{"event": "stopped"}], f"events {err!r}")
    expected_frames = (stopped_at - run.started_at) * RATE - HOLDBACK_FRAMES
    check(abs(len(out) / 4 / expected_frames - 1) < 0.02, "the stream did not keep pace while the server was stopped")


def case_missing_devices(audiotap, server):
    # A server with no microphone and no sink, then no server at all.
    empty = tempfile.mkdtemp(prefix="audiotap-e2e-none-")
    try:
        rows = [
            (server.env, ["--mic", "default"], 3,
             [{"event": "fault", "reason": "capture.targetMissing", "detail": "default", "slot": "mic"}]),
            (server.env, ["--system", "1"], 3,
             [{"event": "fault", "reason": "capture.targetMissing", "detail": "no-output-endpoint:0x80070490",
               "slot": "desktop"}]),
            (dict(server.env, XDG_RUNTIME_DIR=empty), ["--list"], 3,
             [{"event": "fault", "reason": "capture.separateUnavailable", "detail": "MMDeviceEnumerator:0x88890010"}]),
            (dict(server.env, XDG_RUNTIME_DIR=empty), ["--mic", "default", "--system", "1"], 3,
             [{"event": "fault", "reason": "capture.separateUnavailable", "detail": "MMDeviceEnumerator:0x88890010"}]),
        ]
        for env, arguments, expected_status, expected_events in rows:
            result = subprocess.run([audiotap, *arguments], env=env, capture_output=True, timeout=20)
            events = event_lines(result.stderr.decode())
            check(result.returncode == expected_status, f"{arguments}: status {result.returncode}")
            check(events == expected_events, f"{arguments}: events {events}")
            check(result.stdout == b"", f"{arguments}: stdout {result.stdout!r}")
    finally:
        shutil.rmtree(empty, ignore_errors=True)


def case_late_monitor(audiotap, server, runs=10, seconds=5):
    """A null sink with no low-latency client renders in blocks of up to 2 s, so
    its monitor's data starts late; the pacer keeps its cushion all the same: no
    zeros inside the tone, and the tone's end comes out 60 ms (plus at most one
    pass) after it stopped. module-sine plays inside the server: it never underruns."""
    server.load("module-null-sink", "sink_name=speakers", "rate=44100",
                "sink_properties=device.description=Speakers")
    server.pactl("set-default-sink", "speakers")
    failures = []
    for number in range(runs):
        tone = server.load("module-sine", "sink=speakers", "frequency=1000")
        time.sleep(1)
        run = Run(audiotap, server, ["--system", "1"])
        run.wait_for_started()
        time.sleep(seconds)
        server.pactl("unload-module", str(tone))
        silenced_at = time.monotonic()
        time.sleep(0.5)
        run.process.send_signal(signal.SIGINT)
        out, err, status = run.finish()
        check(status == 0, f"run {number}: status {status}, {err!r}")
        desktop = np.frombuffer(out, dtype="<i2").astype(np.int32)
        loud = np.flatnonzero(np.abs(desktop) > 1000)
        check(len(loud) > 0, f"run {number}: no tone at all")
        start, end = int(loud[0]), int(loud[-1])
        runs_of_zeros = zero_runs(desktop[start:end])
        # Frame f goes out when the clock shows f + 960 frames, within one pass.
        latency_ms = ((end + HOLDBACK_FRAMES) / RATE + run.started_at - silenced_at) * 1000
        print(f"run {number}: tone from {start / RATE:.3f} s of the stream, {len(runs_of_zeros)} runs of zeros "
              f"inside ({sum(runs_of_zeros)} samples), tone ended {latency_ms:.1f} ms after it stopped playing")
        if runs_of_zeros or not 40 <= latency_ms <= 110:
            failures.append(number)
    check(not failures, f"runs {failures} put silence into the tone or lost the 60 ms cushion")


def zero_runs(samples):
    """Lengths of every stretch of two or more exact zeros: silence put into noise."""
    zero = np.concatenate(([0], (samples == 0).astype(np.int8), [0]))
    edges = np.flatnonzero(np.diff(zero))
    lengths = edges[1::2] - edges[::2]
    return [int(n) for n in lengths if n >= 2]


# A source that follows the default: the default changed (or its device
# unloaded) 4 s into a run moves it to the new device within 1 s, and the new
# tone goes on from there without a gap.
FOLLOW_CHANGE_SECONDS = 4
FOLLOW_NOTICE_SECONDS = 1.0


def tone_level(samples, frequency):
    """Level of one frequency in samples, in dB against a full-amplitude sine of TONE_PEAK."""
    t = np.arange(len(samples)) / RATE
    amplitude = 2 * abs(np.mean(samples * np.exp(-2j * np.pi * frequency * t)))
    return 20 * np.log10(amplitude / TONE_PEAK + 1e-12)


def follow_run(audiotap, server, arguments, change, channel, frequencies, new_name, slot, runs, start_timeout=10):
    """Runs audiotap `runs` times, calling change() 4 s in; each run must say
    it switched, within 1 s, and carry the new tone, not the old one, from
    then on, gap-free. frequencies: the old tone's and the new one's."""
    old_frequency, new_frequency = frequencies
    failures = []
    for number in range(runs):
        restore = change(number)
        run = Run(audiotap, server, arguments)
        run.wait_for_started(timeout=start_timeout)
        time.sleep(FOLLOW_CHANGE_SECONDS)
        restore()
        changed_at = time.monotonic()
        try:
            line = run.readline_stderr(timeout=FOLLOW_NOTICE_SECONDS + 2)
        except Failure:
            line = ""
        switched_at = time.monotonic()
        time.sleep(2.5)
        run.process.send_signal(signal.SIGINT)
        out, err, status = run.finish()
        events = event_lines(line + err)
        channels = len(arguments) // 2
        frames = np.frombuffer(out, dtype="<i2").reshape(-1, channels)[:, channel].astype(np.float64) / 32768.0
        # The change reaches the stream's frame f when the clock shows f + 960.
        change_frame = int((changed_at - run.started_at) * RATE) - HOLDBACK_FRAMES
        after = frames[change_frame + int(FOLLOW_NOTICE_SECONDS * RATE):]
        gaps = zero_runs(np.round(after * 32768).astype(np.int32))
        new_level = tone_level(after, new_frequency) if len(after) > RATE else -240.0
        old_level = tone_level(after, old_frequency) if len(after) > RATE else 0.0
        notice = switched_at - changed_at
        print(f"run {number}: {[event['event'] for event in events]}, switched {notice * 1000:.0f} ms after the "
              f"change; from 1 s after it {new_frequency} Hz at {new_level:+.1f} dB, {old_frequency} Hz at "
              f"{old_level:+.1f} dB, {len(gaps)} gaps")
        expected = {"event": "switched", "slot": slot, "name": new_name, "deviceRate": 48000}
        if (status != 0 or events != [expected, {"event": "stopped"}] or notice > FOLLOW_NOTICE_SECONDS
                or new_level < -3.0 or old_level > -40.0 or gaps):
            failures.append(number)
            print(f"  status {status}, stderr {line + err!r}")
    check(not failures, f"runs {failures} of {runs} did not follow the default")


def sink_with_tone(server, name, rate, frequency):
    """A null sink playing a tone from inside the server: a sine source looped
    into it, low latency, pinned to that sink. A player of our own could be
    starved of CPU, and the server would move a stream that may move to the
    new default sink, leaving the old one silent."""
    module = server.load("module-null-sink", f"sink_name={name}", f"rate={rate}",
                         f"sink_properties=device.description={name.capitalize()}")
    server.load("module-sine-source", f"source_name={name}_tone", f"frequency={frequency}", f"rate={rate}")
    server.load("module-loopback", f"source={name}_tone", f"sink={name}", "latency_msec=20", "sink_dont_move=true",
                "source_dont_move=true")
    return module


def two_sinks(server):
    """Speakers (44.1 kHz, 1000 Hz) as the default and Headset (48 kHz, 660 Hz)."""
    sink_with_tone(server, "speakers", 44100, 1000)
    sink_with_tone(server, "headset", 48000, 660)
    server.pactl("set-default-sink", "speakers")
    time.sleep(2.2)


def case_follow_default_sink(audiotap, server, runs=10):
    two_sinks(server)

    def change(number):
        server.pactl("set-default-sink", "speakers")
        return lambda: server.pactl("set-default-sink", "headset")

    follow_run(audiotap, server, ["--system", "1"], change, 0, (1000, 660), "Headset", "desktop", runs)


def case_follow_default_source(audiotap, server, runs=10):
    server.load("module-sine-source", "source_name=desk", "frequency=440", "rate=44100",
                "source_properties=device.description=Desk")
    server.load("module-sine-source", "source_name=headset_mic", "frequency=880", "rate=48000",
                "source_properties=device.description=Headset_Mic")

    def change(number):
        server.pactl("set-default-source", "desk")
        return lambda: server.pactl("set-default-source", "headset_mic")

    follow_run(audiotap, server, ["--mic", "default"], change, 0, (440, 880), "Headset_Mic", "mic", runs)


def case_follow_unloaded_sink(audiotap, server, runs=3):
    sink_with_tone(server, "headset", 48000, 660)

    def change(number):
        speakers = sink_with_tone(server, "speakers", 44100, 1000)
        server.pactl("set-default-sink", "speakers")
        time.sleep(2.2)
        return lambda: server.pactl("unload-module", str(speakers))

    follow_run(audiotap, server, ["--system", "1"], change, 0, (1000, 660), "Headset", "desktop", runs)

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_DRIVER_KEY = "HKCU\\Software\\Wine\\Drivers\\winepulse.drv"


def wine_launcher(server, exe):
    """A program that becomes audiotap.exe under Wine 10, as the .exe is on Windows."""
    launcher = os.path.join(server.runtime, "audiotap")
    prefix = os.environ.get("WINEPREFIX") or os.path.join(REPOSITORY, "build", "wine10prefix")
    with open(launcher, "w") as script:
        script.write(f"#!/bin/sh\nWINEPREFIX='{prefix}' WINEDEBUG=-all exec '{REPOSITORY}/tools/wine10' wine '{exe}' \"$@\"\n")
    os.chmod(launcher, 0o755)
    return launcher, prefix


def case_wine_follow_default(exe, server, runs=3):
    """audiotap.exe under Wine 10 follows a default changed the way Wine's own
    settings change it (the registry value winecfg writes); a default changed
    only on the sound server is not told to Windows programs by Wine."""
    two_sinks(server)
    launcher, prefix = wine_launcher(server, exe)
    wine = [os.path.join(REPOSITORY, "tools", "wine10"), "wine"]
    wine_env = dict(server.env, WINEPREFIX=prefix, WINEDEBUG="-all")

    def set_wine_default(endpoint_id):
        command = ["reg", "delete", WINE_DRIVER_KEY, "/v", "DefaultOutput", "/f"] if endpoint_id is None else [
            "reg", "add", WINE_DRIVER_KEY, "/v", "DefaultOutput", "/t", "REG_SZ", "/d", endpoint_id, "/f"]
        subprocess.run(wine + command, env=wine_env, capture_output=True, timeout=60)

    listing = json.loads(subprocess.run([launcher, "--list"], env=server.env, capture_output=True, timeout=60).stdout)
    ids = {record["FriendlyName"]: record["InstanceId"].split("\\")[-1] for record in listing}
    check("Speakers" in ids and "Headset" in ids, f"Wine does not list both sinks: {listing}")
    try:
        def change(number):
            set_wine_default(ids["Speakers"])
            return lambda: set_wine_default(ids["Headset"])

        follow_run(launcher, server, ["--system", "1"], change, 0, (1000, 660), "Headset", "desktop", runs,
                   start_timeout=60)

        # The server's own default: Wine's endpoints do not follow it.
        set_wine_default(None)
        server.pactl("set-default-sink", "speakers")
        run = Run(launcher, server, ["--system", "1"])
        run.wait_for_started(timeout=60)
        time.sleep(FOLLOW_CHANGE_SECONDS)
        server.pactl("set-default-sink", "headset")
        time.sleep(3)
        run.process.send_signal(signal.SIGINT)
        out, err, status = run.finish()
        desktop = np.frombuffer(out, dtype="<i2").astype(np.float64) / 32768.0
        after = desktop[-2 * RATE:]
        print(f"server default changed: {[e['event'] for e in event_lines(err)]}, the last 2 s at "
              f"{dominant_frequency(after):.1f} Hz (Wine's \"PulseAudio Output\" stays on the sink it opened)")
        check([e["event"] for e in event_lines(err)] == ["stopped"] and abs(dominant_frequency(after) - 1000) < 2,
              "Wine now follows the server's default sink: the table of differences is out of date")
    finally:
        set_wine_default(None)


CASES = {
    "missing-devices": case_missing_devices,
    "listing": case_listing,
    "capture": case_capture,
    "signals": case_signals,
    "closed-output": case_closed_output,
    "microphone-removed": case_microphone_removed,
    "server-killed": case_server_killed,
    "server-stopped": case_server_stopped,
    "late-monitor": case_late_monitor,
    "follow-default-sink": case_follow_default_sink,
    "follow-default-source": case_follow_default_source,
    "follow-unloaded-sink": case_follow_unloaded_sink,
}
# Cases that run audiotap.exe under Wine 10 (--audiotap names the .exe).
WINE_CASES = {
    "wine-follow-default": case_wine_follow_default,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--audiotap", required=True)
    parser.add_argument("--case", required=True, choices=sorted(CASES) + sorted(WINE_CASES))
    arguments = parser.parse_args()
    if shutil.which("pulseaudio") is None or shutil.which("pactl") is None:
        return leg_cannot_run("pulseaudio is not installed")
    for tool in ("sox", "pacat"):
        if shutil.which(tool) is None:
            print(f"FAIL: {tool} is needed to play the test tones")
            return 1
    if arguments.case in WINE_CASES:
        if not os.path.exists(arguments.audiotap):
            return leg_cannot_run(f"{arguments.audiotap} is not built")
        if wine10_unusable():
            return leg_cannot_run(wine10_unusable())
    server = PulseServer()
    try:
        {**CASES, **WINE_CASES}[arguments.case](arguments.audiotap, server)
    except Failure as failure:
        print(f"FAIL: {failure}")
        return 1
    finally:
        server.stop()
    print("PASS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
