"""Starts one build as a host does, ends the run the way a case asks, and keeps
what came out: standard output, the event lines with their arrival times, the
exit status."""

import os
import signal
import subprocess
import threading
import time
from dataclasses import dataclass, field

from world import start_child

STARTED_TIMEOUT = 20.0  # Wine's first start in a fresh prefix takes a few seconds
EXIT_TIMEOUT = 10.0


@dataclass
class ControlEventAfter:
    """Ctrl+C (SIGINT) this many seconds after the "started" line arrived."""
    seconds: float


@dataclass
class CloseStdoutAfter:
    """The host reads this many bytes and then closes its end of the pipe."""
    bytes: int
    grace: float = 3.0  # after this, a run still going is stopped with SIGINT


@dataclass
class LoseSourceAfter:
    """The capture source goes away this many seconds after the "started" line
    (the build's world removes it); a run still going `grace` seconds later is
    stopped with SIGINT."""
    seconds: float
    source: str          # the world's name of the source
    grace: float = 2.0
    lose: object = None  # set by the build: removes the source


@dataclass
class Run:
    stdout: bytes = b""
    stderr: bytes = b""
    lines: list = field(default_factory=list)  # raw event lines, line ending included
    status: object = None                      # exit status; None when it had to be killed
    stream_seconds: object = None              # from the "started" line to the stop
    needed_control_event: bool = False         # a closed stdout did not end the run
    problems: list = field(default_factory=list)


def run(command, env, stop=None, timeout=EXIT_TIMEOUT):
    result = Run()
    process = start_child(command, env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    started = threading.Event()
    stdout = bytearray()
    stderr_lines = []
    limit = stop.bytes if isinstance(stop, CloseStdoutAfter) else None

    def read_stderr():
        for line in iter(process.stderr.readline, b""):
            stderr_lines.append((time.monotonic(), line))
            if b'"event":"started"' in line:
                started.set()
        started.set()  # the process is gone: nobody waits for a line that will not come

    def read_stdout():
        fd = process.stdout.fileno()
        while True:
            want = 65536 if limit is None else min(65536, limit - len(stdout))
            if want <= 0:
                process.stdout.close()  # the host stops listening
                return
            chunk = os.read(fd, want)
            if not chunk:
                return
            stdout.extend(chunk)

    readers = [threading.Thread(target=read_stderr, daemon=True),
               threading.Thread(target=read_stdout, daemon=True)]
    for reader in readers:
        reader.start()
    try:
        if isinstance(stop, ControlEventAfter):
            if not started.wait(STARTED_TIMEOUT):
                result.problems.append(f"no \"started\" line within {STARTED_TIMEOUT} s")
            else:
                started_at = next((t for t, line in stderr_lines if b'"event":"started"' in line), None)
                if started_at is not None and process.poll() is None:
                    time.sleep(max(0.0, started_at + stop.seconds - time.monotonic()))
                    signalled_at = time.monotonic()
                    process.send_signal(signal.SIGINT)
                    result.stream_seconds = signalled_at - started_at
        elif isinstance(stop, LoseSourceAfter):
            if not started.wait(STARTED_TIMEOUT):
                result.problems.append(f"no \"started\" line within {STARTED_TIMEOUT} s")
            elif process.poll() is None:
                time.sleep(stop.seconds)
                stop.lose()
                try:
                    process.wait(stop.grace)
                except subprocess.TimeoutExpired:
                    result.needed_control_event = True
                    process.send_signal(signal.SIGINT)
        elif isinstance(stop, CloseStdoutAfter):
            deadline = time.monotonic() + STARTED_TIMEOUT
            while len(stdout) < stop.bytes and process.poll() is None and time.monotonic() < deadline:
                time.sleep(0.02)
            try:
                process.wait(stop.grace)
            except subprocess.TimeoutExpired:
                result.needed_control_event = True
                process.send_signal(signal.SIGINT)
        try:
            result.status = process.wait(timeout)
        except subprocess.TimeoutExpired:
            result.problems.append(f"still running {timeout} s after the stop; killed")
            process.kill()
            process.wait()
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
        for reader in readers:
            reader.join(5)
        for stream in (process.stdout, process.stderr):
            if not stream.closed:
                stream.close()
    result.stdout = bytes(stdout)
    result.lines = [line for _, line in stderr_lines]
    result.stderr = b"".join(result.lines)
    return result
