"""The library on the Linux build, against a PulseAudio server of the test's
own with a sine source as the default microphone."""
import os
import pathlib
import shutil
import signal
import subprocess
import tempfile
import time

import pytest

import audiotap
from audiotap import OK, Started
from legs import require, wine10_unusable

LINUX = os.environ.get("AUDIOTAP_LINUX") or str(pathlib.Path(__file__).resolve().parents[3] / "build/linux/audiotap")
LINUX_MISSING = ("" if shutil.which("pulseaudio") and shutil.which("pactl") and os.path.exists(LINUX)
                 else "it needs pulseaudio, pactl and build/linux/audiotap")


@pytest.fixture(scope="module")
def server_env():
    require(LINUX_MISSING)
    runtime = tempfile.mkdtemp(prefix="audiotap-python-")
    # The runtime path too: an inherited one would put the server's socket elsewhere.
    env = {"XDG_RUNTIME_DIR": runtime, "PULSE_RUNTIME_PATH": f"{runtime}/pulse",
           "PULSE_SERVER": f"unix:{runtime}/pulse/native"}
    server = subprocess.Popen(
        ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
         "--load=module-native-protocol-unix", "--load=module-sine-source source_name=tone frequency=440"],
        env={**os.environ, **env}, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        for _ in range(100):
            answered = subprocess.run(["pactl", "set-default-source", "tone"], env={**os.environ, **env},
                                      capture_output=True).returncode == 0
            if answered or server.poll() is not None:
                break
            time.sleep(0.05)
        if not answered:
            pytest.fail("the private PulseAudio server did not start")
        yield env
    finally:
        server.send_signal(signal.SIGTERM)
        try:
            server.wait(timeout=5)
        except subprocess.TimeoutExpired:
            server.kill()
        shutil.rmtree(runtime, ignore_errors=True)


def capture_then_stop(binary, env, stop_by, start_within, stop_timeout=3.0):
    """Starts a capture, lets it run a second after "started", stops it and
    checks that it ended in order with about a second of audio."""
    received = []
    capture = audiotap.start_capture("default", binary=binary, env=env, on_data=received.append,
                                     stop_by=stop_by, stop_timeout=stop_timeout)
    deadline = time.monotonic() + start_within
    while not any(isinstance(e, Started) for e in capture.events) and time.monotonic() < deadline:
        if capture.exit is not None:
            break
        time.sleep(0.01)
    time.sleep(1)
    exit = capture.stop()
    assert exit.code == OK and exit.stopped, exit
    assert sum(map(len, received)) >= 2 * 16000 * 0.8


@pytest.mark.parametrize("stop_by", ["signal", "close_output"])
def test_stop_ends_a_linux_run_in_order(server_env, stop_by):
    capture_then_stop(LINUX, server_env, stop_by, start_within=10)


REPOSITORY = pathlib.Path(__file__).resolve().parents[3]
WINDOWS = REPOSITORY / "build/windows-mingw/audiotap.exe"


def test_stop_by_closing_output_ends_a_windows_run_in_order(server_env, tmp_path):
    """The Windows build under Wine 10, stopped as a host on Windows stops it."""
    require(wine10_unusable() if WINDOWS.exists() else f"{WINDOWS} is not built")
    launcher = tmp_path / "audiotap"  # becomes the Wine process itself, as the .exe is on Windows
    launcher.write_text(f"#!/bin/sh\nexec '{REPOSITORY}/tools/wine10' wine '{WINDOWS}' \"$@\"\n")
    launcher.chmod(0o755)
    capture_then_stop(str(launcher), server_env, "close_output", start_within=60, stop_timeout=10)
