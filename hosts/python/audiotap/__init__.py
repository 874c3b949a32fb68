"""Host side of audiotap: start it, read its PCM and events, stop it in order.

    with audiotap.start_capture(mic="default", system=True) as capture:
        for block in capture:          # whole interleaved s16le frames, 16 kHz
            ...

    async with audiotap.start_capture_async("default", True) as capture:
        async for block in capture:
            ...
"""
from ._async import AsyncCapture, list_endpoints_async, start_capture_async, version_async
from ._capture import Capture, Restart, start_capture
from ._events import (CAPTURE_FAILED, OK, SCENARIO_UNUSABLE, SETUP_FAILED, Event, Exit, Fault, FaultReason, Restarted,
                      Slot, Started, Stopped, Switched)
from ._frames import split_channels
from ._listing import AudiotapError, Endpoint, list_endpoints, version
from ._process import BinaryNotFound, binary_of

__all__ = [
    "Capture", "Restart", "start_capture", "list_endpoints", "version", "split_channels",
    "AsyncCapture", "start_capture_async", "list_endpoints_async", "version_async",
    "Started", "Switched", "Fault", "Stopped", "Restarted", "Exit", "Event", "Endpoint", "AudiotapError",
    "BinaryNotFound", "binary_of", "FaultReason", "Slot",
    "OK", "SCENARIO_UNUSABLE", "SETUP_FAILED", "CAPTURE_FAILED",
]
