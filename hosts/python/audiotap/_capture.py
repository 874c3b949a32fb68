"""One capture, over one run of audiotap or, after a lost source, several."""
from __future__ import annotations

import dataclasses
import queue
import signal
import threading
from dataclasses import dataclass
from typing import Callable, Iterator, Mapping, Optional

from . import _events as ev
from ._frames import FrameAligner, split_channels
from ._listing import AudiotapError
from ._process import WINDOWS, popen

# A run that delivered this much audio (10 s) worked: a later loss starts the
# count of restarts in a row afresh.
WORKING_RUN_FRAMES = 10 * 16000
READ_BYTES = 65536


@dataclass(frozen=True)
class Restart:
    """New runs after "capture.stopped": at most attempts in a row, delay
    seconds apart. A run that delivered 10 s of audio counts as working: a
    loss after it starts the count afresh. Set-up faults are never restarted."""

    attempts: int = 3
    delay: float = 0.25


class _Run:
    def __init__(self, process) -> None:
        self.process = process
        self.started = False
        self.stopped = False
        self.fault: Optional[ev.Fault] = None
        self.messages: list = []
        self.frames = 0


class Capture:
    """Iterate it for blocks of whole interleaved frames (16 kHz, s16le, the
    microphone first), or pass on_data; on_event receives the typed events.
    Both are called on the library's reader threads.

    A failure (a set-up fault, or a final status other than 0 that stop() did
    not ask for) raises AudiotapError at the end of the iteration, or when
    the with block is left; quiet=True leaves it in capture.exit only."""

    def __init__(
        self,
        mic: Optional[str] = None,
        system: bool = False,
        *,
        binary: Optional[str] = None,
        env: Optional[Mapping[str, str]] = None,
        on_data: Optional[Callable[[bytes], None]] = None,
        on_event: Optional[Callable[[ev.Event], None]] = None,
        stop_by: Optional[str] = None,
        stop_timeout: float = 3.0,
        restart: Optional[Restart] = Restart(),
        quiet: bool = False,
    ) -> None:
        if mic is None and not system:
            raise ValueError('a capture needs mic (a selector such as "default") or system=True')
        self._arguments: list = []
        slots = []
        # The channel order is known before audiotap says so: data can
        # arrive before the "started" line.
        if mic is not None:
            self._arguments += ["--mic", mic]
            slots.append("mic")
        if system:
            self._arguments += ["--system", "1"]
            slots.append("desktop")
        self.slots = tuple(slots)
        # Closing standard output is the one stop that reaches audiotap.exe
        # from a host without a console; elsewhere SIGINT does.
        self._stop_by = stop_by or ("close_output" if WINDOWS else "signal")
        if self._stop_by not in ("close_output", "signal"):
            raise ValueError('stop_by must be "close_output" or "signal"')
        self._binary = binary
        self._env = env
        self._on_data = on_data
        self._on_event = on_event
        self._stop_timeout = stop_timeout
        self._restart = restart or Restart(attempts=0)
        self._quiet = quiet
        self._failure: Optional[AudiotapError] = None
        self._failure_raised = False
        self._blocks: queue.Queue = queue.Queue()
        self._aligner = FrameAligner(2 * len(self.slots))
        self._lock = threading.Lock()
        self._stop_requested = threading.Event()
        self._done = threading.Event()
        self._restarts_in_row = 0
        self._run: Optional[_Run] = None
        self._kill_timer: Optional[threading.Timer] = None
        self.events: list = []
        self.runs = 0
        self.exit: Optional[ev.Exit] = None
        # The first start happens here, so that a missing binary raises at once.
        self._spawn()
        self._readers: set = set()
        self._supervisor = threading.Thread(target=self._supervise, name="audiotap", daemon=True)
        self._readers.add(self._supervisor)
        self._supervisor.start()

    # --- what the host calls

    def __iter__(self) -> Iterator[bytes]:
        """Blocks of whole frames until the capture has ended; then raises
        the failure, if it failed."""
        while True:
            block = self._blocks.get()
            if block is None:
                self._blocks.put(None)  # a second loop ends at once too
                self.raise_failure()
                return
            yield block

    @property
    def failure(self) -> Optional[AudiotapError]:
        """Why the capture failed, once it has ended; None when it did not."""
        return self._failure

    def raise_failure(self) -> None:
        """Raises the failure once, unless quiet; later calls do nothing."""
        if self._failure is not None and not self._quiet and not self._failure_raised:
            self._failure_raised = True
            raise self._failure

    def channel_blocks(self) -> Iterator[dict]:
        """The same blocks split by slot: {"mic": bytes, "desktop": bytes}."""
        for block in self:
            yield dict(zip(self.slots, split_channels(block, len(self.slots))))

    def stop(self, timeout: Optional[float] = None) -> ev.Exit:
        """Ends the capture in order ("stopped", status 0); kills audiotap when
        it has not ended after the stop timeout. Returns the exit record;
        called from on_data or on_event it only asks, and returns None (the
        Exit then comes as the last event)."""
        with self._lock:
            first = not self._stop_requested.is_set()
            self._stop_requested.set()
            run = self._run
            if first and run is not None and run.process.poll() is None:
                # SIGINT before "started" could come before audiotap's handler
                # is in, and kill it: the events reader sends it then instead.
                if self._stop_by == "signal" and run.started:
                    run.process.send_signal(signal.SIGINT)
                # With close_output the stdout reader closes the pipe after its next read.
                self._kill_timer = threading.Timer(self._stop_timeout, run.process.kill)
                self._kill_timer.daemon = True
                self._kill_timer.start()
        # The reader threads cannot wait for their own end.
        if threading.current_thread() in self._readers:
            return self.exit
        self._done.wait(timeout)
        return self.exit

    def wait(self, timeout: Optional[float] = None) -> Optional[ev.Exit]:
        self._done.wait(timeout)
        return self.exit

    def __enter__(self) -> "Capture":
        return self

    def __exit__(self, exc_type, *exc) -> None:
        self.stop()
        if exc_type is None:
            self.raise_failure()

    # --- the reader threads

    def _emit(self, event: ev.Event) -> None:
        self.events.append(event)
        if self._on_event is not None:
            self._on_event(event)

    @property
    def pid(self) -> int:
        return self._run.process.pid

    def _spawn(self) -> Optional[_Run]:
        with self._lock:
            # A stop that came while no run was going: no new one.
            if self.runs > 0 and self._stop_requested.is_set():
                return None
            self.runs += 1
            self._run = _Run(popen(self._binary, self._arguments, self._env))
            return self._run

    def _supervise(self) -> None:
        run = self._run
        while True:
            process = run.process
            events = threading.Thread(target=self._read_events, args=(run,), name="audiotap events", daemon=True)
            self._readers.add(events)
            events.start()
            self._read_pcm(run)
            events.join()
            self._readers.discard(events)
            status = process.wait()
            if self._kill_timer is not None:
                self._kill_timer.cancel()
            self._aligner.reset()
            last = ev.Exit(
                code=status if status >= 0 else None,
                signal=-status if status < 0 else None,
                stopped=run.stopped,
                fault=run.fault,
                messages=tuple(run.messages),
                runs=self.runs,
            )
            if not (run.fault and run.fault.will_restart and status == ev.CAPTURE_FAILED):
                break
            self._restarts_in_row = 1 if run.frames >= WORKING_RUN_FRAMES else self._restarts_in_row + 1
            # A stop during the pause ends the capture there: no restart
            # follows, so the fault is final after all.
            if self._stop_requested.wait(self._restart.delay):
                last = dataclasses.replace(last, fault=dataclasses.replace(run.fault, will_restart=False))
                break
            self._emit(ev.Restarted(self._restarts_in_row, run.fault))
            try:
                run = self._spawn()
            except OSError as error:
                last = ev.Exit(None, None, False, None, error=error, runs=self.runs)
                break
            if run is None:
                break
        self.exit = last
        self._failure = self._failure_of(last)
        self._blocks.put(None)
        self._emit(last)
        self._done.set()

    def _failure_of(self, last: ev.Exit) -> Optional[AudiotapError]:
        """A set-up fault is a failure even after a stop; any other end that
        stop() asked for is not."""
        if last.error is not None:
            return AudiotapError(f"audiotap could not be started: {last.error}", None, None, last)
        fault = last.fault
        if fault is not None and last.code == ev.SETUP_FAILED:
            return AudiotapError(f"audiotap could not start the capture: {_describe(fault)}", last.code, fault, last)
        if self._stop_requested.is_set() or last.code == ev.OK:
            return None
        how = f"ended with status {last.code}" if last.code is not None else f"was ended by signal {last.signal}"
        after = f" after {last.runs} runs" if last.runs > 1 else ""
        why = f": {_describe(fault)}" if fault else (": " + " ".join(last.messages) if last.messages else "")
        return AudiotapError(f"audiotap {how}{after}{why}", last.code, fault, last)

    def _read_pcm(self, run: _Run) -> None:
        # Read to the end whoever consumes the blocks: a full pipe would block
        # audiotap's loop, and with it the stop.
        stdout = run.process.stdout
        frame_bytes = 2 * len(self.slots)
        while True:
            if self._stop_requested.is_set() and self._stop_by == "close_output":
                stdout.close()  # audiotap's next write fails; it ends the run in order
                return
            chunk = stdout.read(READ_BYTES)
            if not chunk:
                stdout.close()
                return
            block = self._aligner.push(chunk)
            if not block:
                continue
            run.frames += len(block) // frame_bytes
            if self._on_data is not None:
                self._on_data(block)
            else:
                self._blocks.put(block)

    def _read_events(self, run: _Run) -> None:
        for raw in run.process.stderr:
            line = raw.decode("utf-8", errors="replace").rstrip("\r\n")
            event = ev.parse_event(line)
            if event is None:
                run.messages.append(line)
            elif event["event"] == "started":
                with self._lock:
                    run.started = True
                    if self._stop_requested.is_set() and self._stop_by == "signal":
                        run.process.send_signal(signal.SIGINT)
                self._emit(
                    ev.Started(
                        slots=tuple(event.get("slots", ())),
                        mic=event.get("mic", ""),
                        system=event.get("system", ""),
                        clock=event.get("clock", ""),
                        device_rate=dict(event.get("deviceRate", {})),
                        run=self.runs,
                    )
                )
            elif event["event"] == "switched":
                self._emit(ev.Switched(event.get("slot"), event.get("name", ""), event.get("deviceRate", 0)))
            elif event["event"] == "stopped":
                run.stopped = True
                self._emit(ev.Stopped())
            elif event["event"] == "fault":
                # Only a source lost while running is worth a new run; every
                # set-up fault would come back the same.
                in_row = 0 if run.frames >= WORKING_RUN_FRAMES else self._restarts_in_row
                will_restart = (
                    event.get("reason") == "capture.stopped"
                    and not self._stop_requested.is_set()
                    and in_row < self._restart.attempts
                )
                run.fault = ev.Fault(event.get("reason", ""), event.get("detail", ""), event.get("slot"), will_restart)
                self._emit(run.fault)
        run.process.stderr.close()


def _describe(fault: ev.Fault) -> str:
    return f"{fault.reason} {fault.detail}" + (f" ({fault.slot})" if fault.slot else "")


def start_capture(mic: Optional[str] = None, system: bool = False, **options) -> Capture:
    """Starts audiotap on the microphone selector and/or the desktop."""
    return Capture(mic, system, **options)
