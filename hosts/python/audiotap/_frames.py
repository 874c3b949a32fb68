"""Whole frames out of pipe chunks, and one channel out of interleaved frames."""
from __future__ import annotations

import array
import sys


class FrameAligner:
    """A pipe hands frames over cut anywhere: keeps the cut-off bytes for the
    next chunk, and drops them when a run ends so the next run starts on a
    frame boundary."""

    def __init__(self, frame_bytes: int) -> None:
        self.frame_bytes = frame_bytes
        self._rest = b""

    def push(self, chunk: bytes) -> bytes:
        joined = self._rest + chunk if self._rest else chunk
        whole = len(joined) - len(joined) % self.frame_bytes
        self._rest = joined[whole:]
        return joined[:whole]

    def reset(self) -> int:
        dropped = len(self._rest)
        self._rest = b""
        return dropped


def split_channels(block: bytes, channel_count: int) -> list[bytes]:
    """Mono signed 16-bit little-endian samples of each channel of a block."""
    samples = array.array("h", block)
    if sys.byteorder == "big":
        samples.byteswap()
    channels = []
    for channel in range(channel_count):
        mono = samples[channel::channel_count]
        if sys.byteorder == "big":
            mono.byteswap()
        channels.append(mono.tobytes())
    return channels
