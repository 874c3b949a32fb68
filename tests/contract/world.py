"""The audio world the contract cases run in.

One description (WORLD) drives both worlds: a private PulseAudio server for
the real builds, and a scenario file for audiotap-sim that mirrors it. Every
process this module starts is a child of the test run and is ended by it,
also when a check fails; PR_SET_PDEATHSIG ends them should the run itself be
killed.
"""

import ctypes
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time

from legs import WINE10, wine10_unusable  # tests/support, put on the path by run_contract.py

# module-sine plays at half of full scale.
PULSE_TONE_PEAK = 0.5

# Null sinks render in blocks of up to two seconds while no client asks for
# less, so a stream that joins a monitor or a remapped source of theirs waits
# that long for its first data. A real microphone delivers at once: keepers
# (recorders at 10 ms latency, thrown away) hold the world's microphones at that
# pace. The default sink's monitor is left alone: its data starts late, as
# loopback's does on Windows while nothing is playing.
KEEPER_LATENCY_MS = 10
FIRST_DATA_WITHIN = 0.15  # seconds, for a fresh recorder once the world is up

WORLD = {
    "sinks": [
        {"name": "speakers", "description": "Speakers", "default": True,
         "tone": {"frequency": 1000, "gain_db": -6.0}},
        {"name": "mic_feed", "description": "Mic Feed",
         "tone": {"frequency": 440, "gain_db": 0.0}},
        {"name": "line_feed", "description": "Line Feed",
         "tone": {"frequency": 660, "gain_db": -3.0}},
        {"name": "headphones", "description": "Headphones"},
    ],
    # Real capture sources (not monitors), each carrying what plays into its sink.
    "sources": [
        {"name": "studio_mic", "description": "Studio Mic", "default": True, "remap_of": "mic_feed"},
        # Another rate than the server's: the "started" line must report the device's own.
        {"name": "line_in", "description": "Line In", "remap_of": "line_feed", "rate": 48000},
        # Letters outside ASCII, in two and three bytes of UTF-8: chosen by name on every build.
        {"name": "usb_mic", "description": "Micrófono USB マイク", "remap_of": "line_feed"},
    ],
}


def tone_peak(gain_db):
    return PULSE_TONE_PEAK * 10.0 ** (gain_db / 20.0)


def source_tone(source):
    """(frequency, peak) of the tone a world source carries."""
    sink = next(s for s in WORLD["sinks"] if s["name"] == source["remap_of"])
    return sink_tone(sink)


def sink_tone(sink):
    tone = sink.get("tone")
    return (tone["frequency"], tone_peak(tone["gain_db"])) if tone else None


def _die_with_parent():
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def start_child(command, env, **kwargs):
    return subprocess.Popen(command, env=env, preexec_fn=_die_with_parent, **kwargs)


class WorldError(Exception):
    pass


class PulseWorld:
    """A private PulseAudio server holding WORLD, with its tones playing."""

    def __init__(self, keep_monitor=False):
        self.keep_monitor = keep_monitor  # hold the default sink's monitor at pace too
        self.dir = None
        self.server = None
        self.env = None
        self.keepers = []
        self.source_modules = {}  # source name -> module index

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _start(self):
        for tool in ("pulseaudio", "pactl", "parec"):
            if shutil.which(tool) is None:
                raise WorldError(f"{tool} is not installed (Debian: pulseaudio, pulseaudio-utils)")
        self.dir = tempfile.mkdtemp(prefix="audiotap-pulse-")
        socket = os.path.join(self.dir, "native")
        self.env = dict(os.environ, LANG="C.UTF-8", XDG_RUNTIME_DIR=self.dir, PULSE_SERVER=f"unix:{socket}",
                        PULSE_RUNTIME_PATH=self.dir, PULSE_STATE_PATH=self.dir)
        self.env.pop("PULSE_SINK", None)
        self.env.pop("PULSE_SOURCE", None)
        log = open(os.path.join(self.dir, "server.log"), "wb")
        self.server = start_child(
            ["pulseaudio", "--daemonize=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
             "--disable-shm=yes", "--log-target=stderr",
             f"--load=module-native-protocol-unix auth-anonymous=1 socket={socket}"],
            self.env, stdin=subprocess.DEVNULL, stdout=log, stderr=log)
        log.close()
        deadline = time.monotonic() + 10
        while subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode != 0:
            if self.server.poll() is not None or time.monotonic() > deadline:
                raise WorldError("the private PulseAudio server did not come up:\n" + self.server_log())
            time.sleep(0.05)
        for sink in WORLD["sinks"]:
            self.pactl("load-module", "module-null-sink",
                       f"sink_name={sink['name']} "
                       f"sink_properties='device.description=\"{sink['description']}\"'")
        for source in WORLD["sources"]:
            self._load_source(source)
        for sink in WORLD["sinks"]:
            tone = sink.get("tone")
            if tone:
                module = self.pactl("load-module", "module-sine", f"sink={sink['name']}",
                                    f"frequency={tone['frequency']}").strip()
                for stream in self.pactl_json("list", "sink-inputs"):
                    if str(stream.get("owner_module")) == module:
                        self.pactl("set-sink-input-volume", str(stream["index"]), f"{tone['gain_db']}dB")
        self.pactl("set-default-sink", next(s["name"] for s in WORLD["sinks"] if s.get("default")))
        self.pactl("set-default-source", next(s["name"] for s in WORLD["sources"] if s.get("default")))
        for source in self.captured_sources()[: None if self.keep_monitor else -1]:
            self._keep(source)
        self._check()

    def _load_source(self, source):
        rate = f"rate={source['rate']} " if "rate" in source else ""
        self.source_modules[source["name"]] = self.pactl(
            "load-module", "module-remap-source",
            f"master={source['remap_of']}.monitor source_name={source['name']} {rate}"
            f"source_properties='device.description=\"{source['description']}\"'").strip()

    def _keep(self, source):
        self.keepers.append(start_child(
            ["parec", "-d", source, f"--latency-msec={KEEPER_LATENCY_MS}", "--raw"], self.env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

    def unload_source(self, name):
        """The source goes away, as an unplugged microphone does."""
        self.pactl("unload-module", self.source_modules.pop(name))

    def restore_source(self, name):
        """Brings a removed source back, kept at pace like the others."""
        if name in self.source_modules:
            return
        self._load_source(next(s for s in WORLD["sources"] if s["name"] == name))
        self._keep(name)

    @staticmethod
    def captured_sources():
        """The kept sources (the microphones), then the default sink's monitor."""
        default_sink = next(s["name"] for s in WORLD["sinks"] if s.get("default"))
        return [s["name"] for s in WORLD["sources"]] + [default_sink + ".monitor"]

    def _check(self):
        """The server holds exactly the world, every microphone delivers its tone at
        once, and the monitor of the default sink delivers its tone."""
        sinks = {s["name"]: s["description"] for s in self.sinks()}
        sources = {s["name"]: s["description"] for s in self.sources() if not self.is_monitor(s)}
        want_sinks = {s["name"]: s["description"] for s in WORLD["sinks"]}
        want_sources = {s["name"]: s["description"] for s in WORLD["sources"]}
        if sinks != want_sinks or sources != want_sources:
            raise WorldError(f"pactl shows sinks {sinks} and sources {sources}")
        from analysis import analyse_channel, expected_level_db  # needs numpy: imported late
        import numpy
        tones = {s["name"]: source_tone(s) for s in WORLD["sources"]}
        tones.update({s["name"] + ".monitor": sink_tone(s) for s in WORLD["sinks"] if s.get("tone")})
        deadline = time.monotonic() + 15
        monitor = self.captured_sources()[-1]
        for source in self.captured_sources():
            while True:  # keepers take a moment to bring a source up to pace
                first_data, data = self.record(source, 0.6)
                if first_data <= FIRST_DATA_WITHIN or (source == monitor and not self.keep_monitor):
                    break
                if time.monotonic() > deadline:
                    raise WorldError(f"{source} delivers its first data only after {first_data:.2f} s")
            frequency, peak = tones[source]
            found = analyse_channel(numpy.frombuffer(data, dtype="<i2"), 16000, skip_seconds=0.1)
            if abs(found.frequency - frequency) > 1 or abs(found.level_db - expected_level_db(peak)) > 0.5:
                raise WorldError(f"{source} does not carry its tone: {found}")

    def record(self, source, seconds):
        """Time to the first data, and seconds of 16 kHz mono s16 from a source."""
        wanted = int(seconds * 16000) * 2
        began = time.monotonic()
        recorder = start_child(["parec", "-d", source, "--format=s16le", "--rate=16000", "--channels=1",
                                f"--latency-msec={KEEPER_LATENCY_MS}", "--raw"], self.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        data = bytearray()
        first_data = None
        deadline = began + 10
        try:
            while len(data) < wanted and time.monotonic() < deadline:
                chunk = os.read(recorder.stdout.fileno(), wanted - len(data))
                if not chunk:
                    break
                if first_data is None:
                    first_data = time.monotonic() - began
                data += chunk
        finally:
            recorder.kill()
            recorder.wait()
            recorder.stdout.close()
        if len(data) < wanted:
            raise WorldError(f"parec delivered {len(data)} of {wanted} bytes from {source}")
        return first_data, bytes(data)

    def pactl(self, *arguments):
        done = subprocess.run(["pactl", *arguments], env=self.env, capture_output=True, encoding="utf-8")
        if done.returncode != 0:
            raise WorldError(f"pactl {' '.join(arguments)}: {done.stderr.strip()}")
        return done.stdout

    def pactl_json(self, *arguments):
        return json.loads(self.pactl("-f", "json", *arguments))

    def sinks(self):
        return self._with_descriptions("sinks")

    def sources(self):
        return self._with_descriptions("sources")

    def _with_descriptions(self, kind):
        # pactl's JSON output gives "(null)" for a description outside ASCII;
        # its text output carries the UTF-8 bytes.
        devices = self.pactl_json("list", kind)
        described, name = {}, None
        for line in self.pactl("list", kind).splitlines():
            field, _, value = line.strip().partition(": ")
            if field == "Name":
                name = value
            elif field == "Description" and name is not None:
                described[name] = value
        for device in devices:
            device["description"] = described.get(device["name"], device["description"])
        return devices

    def info(self):
        return self.pactl_json("info")

    @staticmethod
    def is_monitor(source):
        return bool(source.get("monitor_source")) or \
            source.get("properties", {}).get("device.class") == "monitor"

    @staticmethod
    def rate(device):
        # "s16le 2ch 44100Hz"
        return int(device["sample_specification"].split()[-1].rstrip("Hz"))

    def server_log(self):
        try:
            with open(os.path.join(self.dir, "server.log"), errors="replace") as log:
                return log.read()[-2000:]
        except OSError:
            return ""

    def close(self):
        for keeper in self.keepers:
            keeper.kill()
            keeper.wait()
        self.keepers = []
        if self.server is not None:
            if self.server.poll() is None:
                subprocess.run(["pactl", "exit"], env=self.env, capture_output=True, timeout=5)
                try:
                    self.server.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    self.server.kill()
                    self.server.wait()
            self.server = None
        if self.dir is not None:
            shutil.rmtree(self.dir, ignore_errors=True)
            self.dir = None


# Runs a command inside the Debian 13 root that holds Wine 10 (tools/wine10);
# whether that root is usable, tools/wine10 --check says (legs.wine10_unusable).


class WinePrefix:
    """A Wine 10 prefix of the test run's own, made once and reused across runs."""

    def __init__(self, path):
        self.path = os.path.abspath(path)  # wine takes absolute prefixes only
        # No Mono or Gecko: the prefix never stops to offer their download.
        self.variables = {"WINEPREFIX": self.path, "WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}
        self.env = dict(os.environ, **self.variables)

    def wine(self, *command, timeout):
        subprocess.run([WINE10, *command], env=self.env, timeout=timeout, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def prepare(self):
        if wine10_unusable():
            raise WorldError(wine10_unusable())
        if not os.path.exists(os.path.join(self.path, "system.reg")):
            os.makedirs(self.path, exist_ok=True)
            self.wine("wineboot", "-i", timeout=180)
            self.wine("wineserver", "-w", timeout=120)
            if not os.path.exists(os.path.join(self.path, "system.reg")):
                raise WorldError(f"wineboot -i did not prepare {self.path}")
        # The server and Wine's own services start here, away from the pipes of the
        # runs: started by a run, they would inherit its standard output and error
        # and hold them open after the program has ended. They outlive each run by
        # a minute, and no more should this test run itself be killed.
        self.wine("wineserver", "-p60", timeout=30)
        self.wine("wine", "cmd", "/c", "exit", timeout=60)

    def close(self):
        """Ends the server and every Wine process of the prefix, and waits until
        they are gone: a next run must not meet a dying server."""
        if not wine10_unusable():
            for argument in ("-k", "-w"):
                self.wine("wineserver", argument, timeout=30)


def sim_scenario(stop=None, lost=None):
    """The scenario that shows audiotap-sim the same world as the PulseAudio server;
    lost: (source name, ms) when a source goes away at that virtual time."""
    endpoints = []
    for index, source in enumerate(WORLD["sources"]):
        frequency, peak = source_tone(source)
        endpoints.append({
            "flow": "capture", "id": f"{{0.0.1.00000000}}.{{5d0a7c{index:02d}-1b2c-4d3e-8f40-a1b2c3d4e5f6}}",
            "name": source["description"], "state": "active", "default": bool(source.get("default")),
            "format": {"tag": "extensible-float", "channels": 2, "bits": 32, "rate": source.get("rate", 44100)},
            "signal": {"kind": "sine", "frequency": frequency, "amplitude": peak}})
        if lost and lost[0] == source["name"]:
            endpoints[-1]["lostAtMs"] = lost[1]
    for index, sink in enumerate(WORLD["sinks"]):
        tone = sink_tone(sink)
        endpoints.append({
            "flow": "render", "id": f"{{0.0.0.00000000}}.{{7e1b8d{index:02d}-2c3d-4e5f-9a01-b2c3d4e5f6a7}}",
            "name": sink["description"], "state": "active", "default": bool(sink.get("default")),
            "format": {"tag": "extensible-float", "channels": 2, "bits": 32, "rate": 44100},
            "signal": ({"kind": "sine", "frequency": tone[0], "amplitude": tone[1]} if tone
                       else {"kind": "none"})})
    scenario = {"endpoints": endpoints}
    if stop is not None:
        scenario["stop"] = stop
    return scenario
