"""The asyncio form: the same capture, its blocks and events handed to the
event loop instead of to threads of the host's own.

    async with audiotap.start_capture_async("default", True) as capture:
        async for block in capture:
            ...
"""
from __future__ import annotations

import asyncio
from typing import AsyncIterator, Callable, Optional

from . import _events as ev
from ._capture import Capture
from ._listing import AudiotapError, Endpoint, list_endpoints, version

_END = object()


class AsyncCapture:
    """Iterate it with async for; on_event is called on the event loop. A
    failure raises at the end of the iteration or when the async with block
    is left, as with Capture (quiet=True: only in exit)."""

    def __init__(self, mic: Optional[str] = None, system: bool = False, *,
                 on_event: Optional[Callable[[ev.Event], None]] = None, **options) -> None:
        if "on_data" in options:
            raise TypeError("AsyncCapture hands its blocks to async for; on_data is for Capture")
        self._loop = asyncio.get_running_loop()
        self._blocks: asyncio.Queue = asyncio.Queue()
        self._on_event = on_event
        self._capture = Capture(mic, system, on_data=self._from_thread, on_event=self._event_from_thread, **options)
        self.slots = self._capture.slots

    # The reader threads hand over in order through the loop, so the end
    # marker comes after the last block.
    def _from_thread(self, block: bytes) -> None:
        self._loop.call_soon_threadsafe(self._blocks.put_nowait, block)

    def _event_from_thread(self, event: ev.Event) -> None:
        if self._on_event is not None:
            self._loop.call_soon_threadsafe(self._on_event, event)
        if isinstance(event, ev.Exit):
            self._loop.call_soon_threadsafe(self._blocks.put_nowait, _END)

    @property
    def events(self) -> list:
        return self._capture.events

    @property
    def exit(self) -> Optional[ev.Exit]:
        return self._capture.exit

    @property
    def failure(self) -> Optional[AudiotapError]:
        return self._capture.failure

    @property
    def runs(self) -> int:
        return self._capture.runs

    async def __aiter__(self) -> AsyncIterator[bytes]:
        while True:
            block = await self._blocks.get()
            if block is _END:
                self._blocks.put_nowait(_END)
                self._capture.raise_failure()
                return
            yield block

    async def stop(self) -> ev.Exit:
        """Ends the capture in order (see Capture.stop) without blocking the loop."""
        return await asyncio.to_thread(self._capture.stop)

    async def wait(self) -> ev.Exit:
        return await asyncio.to_thread(self._capture.wait)

    async def __aenter__(self) -> "AsyncCapture":
        return self

    async def __aexit__(self, exc_type, *exc) -> None:
        await self.stop()
        if exc_type is None:
            self._capture.raise_failure()


def start_capture_async(mic: Optional[str] = None, system: bool = False, **options) -> AsyncCapture:
    """Starts audiotap from a coroutine; the options are those of start_capture."""
    return AsyncCapture(mic, system, **options)


async def list_endpoints_async(**options) -> list[Endpoint]:
    return await asyncio.to_thread(list_endpoints, **options)


async def version_async(**options) -> str:
    return await asyncio.to_thread(version, **options)
