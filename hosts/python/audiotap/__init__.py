"""Host side of audiotap: start it, read its PCM and events, stop it in order.

    with audiotap.start_capture(mic="default", system=True) as capture:
        for block in capture:          # whole interleaved s16le frames, 16 kHz
            ...
"""
from ._capture import Capture, Restart, start_capture
from ._events import CAPTURE_FAILED, OK, SCENARIO_UNUSABLE, SETUP_FAILED, Exit, Fault, Restarted, Started, Stopped
from ._frames import split_channels
from ._listing import AudiotapError, Endpoint, list_endpoints, version

__all__ = [
    "Capture", "Restart", "start_capture", "list_endpoints", "version", "split_channels",
    "Started", "Fault", "Stopped", "Restarted", "Exit", "Endpoint", "AudiotapError",
    "OK", "SCENARIO_UNUSABLE", "SETUP_FAILED", "CAPTURE_FAILED",
]
