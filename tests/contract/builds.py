"""The three builds, what each should see of its world, and how a case's stop
reaches it (a real signal, or the simulated platform's scenario)."""

import dataclasses
import json
import os
import tempfile
from dataclasses import dataclass

import runner
from world import WINE10, WORLD, sim_scenario, sink_tone, source_tone


@dataclass
class Endpoint:
    name: str
    id: object      # the identifier the build should print; None when the platform makes its own
    default: bool
    rate: int
    tone: object    # (frequency, peak) or None


@dataclass
class View:
    capture: list
    render: list

    def default(self, flow):
        return next(e for e in getattr(self, flow) if e.default)

    def capture_named(self, name):
        return next(e for e in self.capture if e.name == name)


def sim_view():
    capture, render = [], []
    for endpoint in sim_scenario()["endpoints"]:
        signal = endpoint["signal"]
        tone = (signal["frequency"], signal["amplitude"]) if signal["kind"] == "sine" else None
        (capture if endpoint["flow"] == "capture" else render).append(
            Endpoint(endpoint["name"], endpoint["id"], endpoint["default"], endpoint["format"]["rate"], tone))
    return View(capture, render)


def pulse_view(world, monitors_are_capture_endpoints, platform_ids, default_alias=None):
    """What a build over this PulseAudio server should list, read from pactl."""
    info = world.info()
    sinks = {s["name"]: s for s in WORLD["sinks"]}
    sources = {s["name"]: s for s in WORLD["sources"]}
    capture = []
    for source in world.sources():
        monitor = world.is_monitor(source)
        if monitor and not monitors_are_capture_endpoints:
            continue
        if monitor:
            tone = sink_tone(sinks[source["monitor_source"]]) if source["monitor_source"] in sinks else None
        else:
            tone = source_tone(sources[source["name"]]) if source["name"] in sources else None
        capture.append(Endpoint(source["description"], None if platform_ids else source["name"],
                                source["name"] == info["default_source_name"], world.rate(source), tone))
    render = [Endpoint(sink["description"], None if platform_ids else sink["name"],
                       sink["name"] == info["default_sink_name"], world.rate(sink),
                       sink_tone(sinks[sink["name"]]) if sink["name"] in sinks else None)
              for sink in world.sinks()]
    if default_alias:
        for flow, name in ((capture, default_alias["capture"]), (render, default_alias["render"])):
            real = next(e for e in flow if e.default)
            real.default = False
            flow.insert(0, Endpoint(name, None, True, real.rate, real.tone))
    return View(capture, render)


class Build:
    name = ""
    platform = ""   # the key of the known-differences table
    newline = b"\n"

    def __init__(self, path):
        self.path = path

    def command(self, arguments):
        return [self.path, *arguments]

    def run(self, arguments, stop):
        raise NotImplementedError


class SimBuild(Build):
    name = "audiotap-sim"
    platform = "sim"

    def __init__(self, path, work_dir):
        super().__init__(path)
        self.work_dir = work_dir

    def view(self):
        return sim_view()

    def run(self, arguments, stop):
        # The simulated platform stops itself at a virtual time; nothing waits on the wall clock.
        scenario_stop, lost = None, None
        if isinstance(stop, runner.ControlEventAfter):
            scenario_stop = {"controlEventAtMs": int(round(stop.seconds * 1000))}
        elif isinstance(stop, runner.LoseSourceAfter):
            lost = (stop.source, int(round(stop.seconds * 1000)))
            scenario_stop = {"controlEventAtMs": int(round((stop.seconds + stop.grace) * 1000))}
        elif isinstance(stop, runner.CloseStdoutAfter):
            scenario_stop = {"stdoutAcceptsBytes": stop.bytes}
        handle, path = tempfile.mkstemp(prefix="scenario-", suffix=".json", dir=self.work_dir)
        with os.fdopen(handle, "w") as scenario:
            json.dump(sim_scenario(scenario_stop, lost), scenario)
        try:
            env = dict(os.environ, AUDIOTAP_SIM_SCENARIO=path)
            result = runner.run(self.command(arguments), env, None, timeout=30)
        finally:
            os.unlink(path)
        if isinstance(stop, runner.ControlEventAfter):
            result.stream_seconds = stop.seconds
        return result


class PulseBuild(Build):
    """A build that runs against the private PulseAudio server."""
    monitors_are_capture_endpoints = False
    default_alias = None
    platform_ids = False

    def __init__(self, path, world):
        super().__init__(path)
        self.world = world

    def environment(self):
        return self.world.env

    def view(self):
        return pulse_view(self.world, self.monitors_are_capture_endpoints, self.platform_ids,
                          self.default_alias)

    def run(self, arguments, stop):
        if not isinstance(stop, runner.LoseSourceAfter):
            return runner.run(self.command(arguments), self.environment(), stop)
        stop = dataclasses.replace(stop, lose=lambda: self.world.unload_source(stop.source))
        try:
            return runner.run(self.command(arguments), self.environment(), stop)
        finally:
            self.world.restore_source(stop.source)


class LinuxBuild(PulseBuild):
    name = "audiotap"
    platform = "linux"


class WindowsBuild(PulseBuild):
    name = "audiotap.exe"
    platform = "windows"
    platform_ids = True  # Wine makes up its own endpoint identifiers

    def __init__(self, path, world, prefix):
        super().__init__(path, world)
        self.prefix = prefix

    def command(self, arguments):
        return [WINE10, "wine", self.path, *arguments]

    def environment(self):
        return dict(self.world.env, **self.prefix.variables)
