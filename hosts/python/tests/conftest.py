"""audiotap-sim and its scenarios for the tests: AUDIOTAP_SIM names the
binary, else the Linux build tree of this repository."""
import json
import os
import pathlib
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

SIM = os.environ.get("AUDIOTAP_SIM") or str(HERE.parents[2] / "build" / "linux" / "audiotap-sim")


@pytest.fixture
def world(tmp_path):
    """Options for a microphone at 0.25 and a speaker at -0.25, both defaults,
    on the given clock; extra merges over the top level, mic_extra over the
    microphone."""
    count = [0]

    def make(clock="virtual", stop_at_ms=None, mic_extra=None, extra=None):
        scenario = {
            "clock": clock,
            "endpoints": [
                {"flow": "capture", "id": "mic-1", "name": "Desk Mic", "default": True,
                 "signal": {"kind": "constant", "value": 0.25}, **(mic_extra or {})},
                {"flow": "render", "id": "spk-1", "name": "Speakers", "default": True, "format": {"rate": 44100},
                 "signal": {"kind": "constant", "value": -0.25}},
            ],
            **(extra or {}),
        }
        if stop_at_ms is not None:
            scenario["stop"] = {"controlEventAtMs": stop_at_ms}
        count[0] += 1
        path = tmp_path / f"scenario-{count[0]}.json"
        path.write_text(json.dumps(scenario))
        return {"binary": SIM, "env": {"AUDIOTAP_SIM_SCENARIO": str(path)}}

    return make


@pytest.fixture
def script(tmp_path):
    """A fake audiotap written as a shell script."""

    def make(name, body):
        path = tmp_path / name
        path.write_text("#!/bin/sh\n" + body)
        path.chmod(0o755)
        return str(path)

    return make


STARTED = ('{"event":"started","slots":["mic","desktop"],"mic":"M","system":"S","clock":"qpc",'
           '"deviceRate":{"mic":48000,"desktop":48000}}')
LOST = '{"event":"fault","reason":"capture.stopped","detail":"GetNextPacketSize:0x88890004","slot":"mic"}'


@pytest.fixture
def losing_binary(script):
    """Every run loses its microphone after 800 frames and half a frame: the
    library's side of a restart, whatever the simulator offers."""
    return script("losing.sh", f"echo '{STARTED}' >&2\nhead -c 3202 /dev/zero\necho '{LOST}' >&2\nexit 4\n")
