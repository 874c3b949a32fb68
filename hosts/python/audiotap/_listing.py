"""The one-shot commands: the endpoint listing and the version."""
from __future__ import annotations

import json
import subprocess
from dataclasses import dataclass
from typing import Literal, Mapping, Optional

from . import _events as ev
from ._process import popen


class AudiotapError(Exception):
    """audiotap failed: a set-up fault, a status other than 0, or a program
    that would not start. fault is its fault line; exit the capture's exit
    record (None for list_endpoints and version)."""

    def __init__(self, message: str, code: Optional[int], fault: Optional[ev.Fault],
                 exit: Optional[ev.Exit] = None) -> None:
        super().__init__(message)
        self.code = code
        self.fault = fault
        self.exit = exit


@dataclass(frozen=True)
class Endpoint:
    friendly_name: str
    instance_id: str  # what --mic takes
    status: str  # "OK", or "Unknown" when unplugged
    is_default: bool
    flow: Literal["capture", "render"]  # capture: a microphone, what --mic takes


def _run_to_end(arguments: list, binary: Optional[str], env: Optional[Mapping[str, str]], timeout: float) -> str:
    process = popen(binary, arguments, env)
    try:
        output, errors = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.communicate()
        raise
    if process.returncode == 0:
        return output.decode("utf-8")
    lines = errors.decode("utf-8", errors="replace").splitlines()
    faults = [e for e in map(ev.parse_event, lines) if e is not None and e["event"] == "fault"]
    fault = ev.Fault(faults[0]["reason"], faults[0]["detail"], faults[0].get("slot")) if faults else None
    why = f"{fault.reason} {fault.detail}" if fault else " ".join(lines)
    raise AudiotapError(f"audiotap {' '.join(arguments)} ended with status {process.returncode}: {why}",
                        process.returncode, fault)


def list_endpoints(binary: Optional[str] = None, env: Optional[Mapping[str, str]] = None,
                   timeout: float = 10.0) -> list:
    """Every capture endpoint, then every playback endpoint."""
    records = json.loads(_run_to_end(["--list"], binary, env, timeout))
    return [Endpoint(r["FriendlyName"], r["InstanceId"], r["Status"], r["IsDefault"], r["Flow"]) for r in records]


def version(binary: Optional[str] = None, env: Optional[Mapping[str, str]] = None, timeout: float = 10.0) -> str:
    """"0.1.0" from "audiotap 0.1.0"."""
    return _run_to_end(["--version"], binary, env, timeout).strip().removeprefix("audiotap ")
