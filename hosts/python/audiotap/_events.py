"""What audiotap reports on standard error, as typed records."""
from __future__ import annotations

import json
from dataclasses import dataclass, field
from typing import Literal, Optional, Union

OK = 0
SCENARIO_UNUSABLE = 2  # audiotap-sim only
SETUP_FAILED = 3
CAPTURE_FAILED = 4


Slot = Literal["mic", "desktop"]
FaultReason = Literal[
    "capture.targetMissing",
    "capture.separateUnavailable",
    "capture.permissionDenied",
    "capture.linkFailed",
    "capture.stopped",
]


@dataclass(frozen=True)
class Started:
    slots: tuple
    mic: str
    system: str
    clock: str
    device_rate: dict
    run: int


@dataclass(frozen=True)
class Switched:
    """A source moved to another device while capturing (a new default)."""

    slot: Slot
    name: str  # the friendly name of the new device
    device_rate: int


@dataclass(frozen=True)
class Fault:
    reason: FaultReason
    detail: str
    slot: Optional[Slot]
    will_restart: bool = False  # a new run follows, unless stop() comes first


@dataclass(frozen=True)
class Stopped:
    pass


@dataclass(frozen=True)
class Restarted:
    attempt: int
    fault: Fault


@dataclass(frozen=True)
class Exit:
    code: Optional[int]  # None: ended by a signal, or never started (see error)
    signal: Optional[int]
    stopped: bool  # the last run wrote "stopped"
    fault: Optional[Fault]  # the last run's; will_restart is False here
    messages: tuple = field(default=())  # standard-error lines that were not events
    error: Optional[BaseException] = None
    runs: int = 1


Event = Union[Started, Switched, Fault, Stopped, Restarted, Exit]


def parse_event(line: str) -> Optional[dict]:
    """The event object of a line, or None for anything else (audiotap-sim's
    message about a scenario it cannot use, for instance)."""
    if not line.startswith("{"):
        return None
    try:
        event = json.loads(line)
    except ValueError:
        return None
    return event if isinstance(event, dict) and isinstance(event.get("event"), str) else None
