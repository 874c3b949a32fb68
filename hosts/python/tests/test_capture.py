import struct
import subprocess
import threading
import time

import pytest

import audiotap
from legs import require
from audiotap import CAPTURE_FAILED, OK, SETUP_FAILED, Exit, Fault, Restart, Restarted, Started, Stopped

FRAME_RATE = 16000
HOLDBACK_FRAMES = 960


def test_virtual_clock_gives_the_exact_stream_and_the_events_in_order(world):
    capture = audiotap.start_capture("default", True, **world(stop_at_ms=1000))
    blocks = list(capture.channel_blocks())
    assert capture.exit.code == OK and capture.exit.stopped and capture.exit.fault is None
    kinds = [type(e) for e in capture.events]
    assert kinds == [Started, Stopped, Exit]
    started = capture.events[0]
    assert started.slots == ("mic", "desktop")
    assert started.device_rate == {"mic": 48000, "desktop": 44100}
    assert started.mic == "Desk Mic" and started.run == 1
    mic = b"".join(b["mic"] for b in blocks)
    desktop = b"".join(b["desktop"] for b in blocks)
    assert len(mic) == len(desktop) == 2 * (FRAME_RATE - HOLDBACK_FRAMES)
    assert struct.unpack("<h", mic[-2:])[0] == 8192
    assert struct.unpack("<h", desktop[-2:])[0] == -8192


@pytest.mark.parametrize("stop_by", ["signal", "close_output"])
def test_real_clock_stop_after_three_seconds_ends_in_order_with_three_seconds_of_audio(world, stop_by):
    received = []
    capture = audiotap.start_capture("default", True, on_data=received.append, stop_by=stop_by, **world("real"))
    deadline = time.monotonic() + 5
    while not any(isinstance(e, Started) for e in capture.events) and time.monotonic() < deadline:
        time.sleep(0.005)
    time.sleep(3)
    exit = capture.stop()
    assert exit.code == OK, exit
    assert exit.stopped
    seconds = sum(map(len, received)) / (2 * 2 * FRAME_RATE)
    # The stream trails the clock by 60 ms; within 5 % of the time it ran.
    assert abs(seconds - 3) < 0.15, seconds


def test_a_stream_nobody_reads_does_not_keep_the_stop_from_being_seen(world):
    # A virtual day would fill any pipe at once: the library keeps reading.
    capture = audiotap.start_capture(system=True, on_data=lambda block: None, **world(stop_at_ms=86_400_000))
    time.sleep(0.2)
    exit = capture.stop(timeout=10)
    assert exit is not None and exit.code == OK and exit.stopped


@pytest.mark.parametrize(
    "mic, system, mic_extra, extra, fault",
    [
        ("Nowhere", False, None, None, Fault("capture.targetMissing", "Nowhere", "mic")),
        ("default", False, {"fail": {"Activate": "0x80070005"}}, None,
         Fault("capture.permissionDenied", "Activate:0x80070005", "mic")),
        (None, True, None, {"fail": {"CoCreateInstance": "0x80040154"}},
         Fault("capture.separateUnavailable", "MMDeviceEnumerator:0x80040154", None)),
    ],
    ids=["unknown microphone", "access denied", "no audio system"],
)
def test_set_up_faults_raise_with_their_status_and_are_not_retried(world, mic, system, mic_extra, extra, fault):
    capture = audiotap.start_capture(mic, system, **world(mic_extra=mic_extra, extra=extra))
    blocks = []
    with pytest.raises(audiotap.AudiotapError, match=fault.reason) as raised:
        for block in capture:
            blocks.append(block)
    assert blocks == []
    assert capture.exit == Exit(SETUP_FAILED, None, False, fault, runs=1)
    assert (raised.value.code, raised.value.fault, raised.value.exit) == (SETUP_FAILED, fault, capture.exit)
    assert not any(isinstance(e, Started) for e in capture.events)
    assert list(capture) == [], "raised once; a second loop just ends"


def test_a_set_up_fault_raises_when_the_with_block_is_left_and_quiet_keeps_it_in_the_exit(world):
    failing = world(mic_extra={"fail": {"Activate": "0x80070005"}})
    with pytest.raises(audiotap.AudiotapError, match="capture.permissionDenied Activate:0x80070005 \\(mic\\)"):
        with audiotap.start_capture("default", on_data=lambda block: None, **failing) as capture:
            capture.wait(10)
    quiet = audiotap.start_capture("default", quiet=True, **failing)
    assert list(quiet) == []
    assert quiet.exit.code == SETUP_FAILED and quiet.failure is not None


LOST_MIC = {"lostAtMs": 300, "lostStatus": "0x88890004"}


def sim_loses_sources(options):
    run = subprocess.run([options["binary"], "--mic", "default"], env=options["env"], capture_output=True, text=True)
    return run.returncode == CAPTURE_FAILED and '"capture.stopped"' in run.stderr


def test_a_source_lost_while_running_is_restarted_a_bounded_number_of_times_in_a_row(world):
    options = world(mic_extra=LOST_MIC)
    require("" if sim_loses_sources(options) else "this audiotap-sim cannot lose a source yet")
    capture = audiotap.start_capture("default", True, restart=Restart(attempts=2, delay=0.01), quiet=True, **options)
    data = b"".join(capture)
    faults = [e for e in capture.events if isinstance(e, Fault)]
    assert [e.run for e in capture.events if isinstance(e, Started)] == [1, 2, 3]
    assert [e.attempt for e in capture.events if isinstance(e, Restarted)] == [1, 2]
    assert [f.will_restart for f in faults] == [True, True, False]
    assert {(f.reason, f.detail, f.slot) for f in faults} == {("capture.stopped", "GetNextPacketSize:0x88890004", "mic")}
    assert capture.exit.code == CAPTURE_FAILED and capture.exit.runs == 3
    assert len(data) > 0 and len(data) % 4 == 0


def test_restarts_keep_the_stream_on_frame_boundaries_and_end_raising_the_last_fault(losing_binary):
    capture = audiotap.start_capture("default", True, binary=losing_binary, restart=Restart(attempts=2, delay=0))
    blocks = []
    with pytest.raises(audiotap.AudiotapError, match=r"status 4 after 3 runs: capture\.stopped"):
        for block in capture:
            blocks.append(block)
    data = b"".join(blocks)
    assert [f.will_restart for f in capture.events if isinstance(f, Fault)] == [True, True, False]
    assert capture.exit.runs == 3 and capture.exit.code == CAPTURE_FAILED
    assert capture.exit.fault.reason == "capture.stopped"
    assert len(data) == 3 * 3200  # each run's half frame dropped


def test_stop_while_a_restart_is_pending_ends_the_capture_there(losing_binary):
    capture = audiotap.start_capture("default", True, binary=losing_binary, restart=Restart(delay=60))
    deadline = time.monotonic() + 5
    while not any(isinstance(e, Fault) for e in capture.events) and time.monotonic() < deadline:
        time.sleep(0.005)
    time.sleep(0.3)  # well after the run has exited, well before the restart is due
    exit = capture.stop(timeout=5)
    assert exit.runs == 1 and exit.code == CAPTURE_FAILED
    assert [f.will_restart for f in capture.events if isinstance(f, Fault)] == [True]
    assert exit.fault.will_restart is False, "no restart follows"
    assert capture.failure is None, "the host ended it"
    assert not any(isinstance(e, Restarted) for e in capture.events)


def test_no_restart_leaves_a_lost_source_to_the_host(losing_binary):
    capture = audiotap.start_capture("default", True, binary=losing_binary, restart=None)
    assert capture.wait(5).runs == 1
    assert capture.exit.fault.will_restart is False


def test_stop_kills_an_audiotap_that_does_not_stop_in_time(script):
    stubborn = script("stubborn.sh", "trap '' INT\nexec sleep 30\n")
    capture = audiotap.start_capture("default", binary=stubborn, stop_timeout=0.3)
    time.sleep(0.2)
    begun = time.monotonic()
    exit = capture.stop()
    assert exit.signal == 9 and exit.code is None and not exit.stopped
    assert time.monotonic() - begun >= 0.29


def test_a_binary_that_cannot_be_started_raises_at_once(tmp_path):
    with pytest.raises(FileNotFoundError, match="binary argument names /nonexistent/audiotap"):
        audiotap.start_capture("default", binary="/nonexistent/audiotap")
    not_executable = tmp_path / "audiotap"
    not_executable.write_text("not a program")
    with pytest.raises(PermissionError):
        audiotap.start_capture("default", binary=str(not_executable))


def test_a_capture_needs_a_source():
    with pytest.raises(ValueError):
        audiotap.start_capture()
    with pytest.raises(ValueError):
        audiotap.start_capture("default", stop_by="kill")


def test_leaving_the_with_block_stops_the_capture(world):
    with audiotap.start_capture("default", **world("real")) as capture:
        next(iter(capture))
    assert capture.exit.code == OK and capture.exit.stopped


@pytest.mark.parametrize("stop_by", ["signal", "close_output"])
def test_stop_right_after_the_start_still_ends_the_run_in_order(world, stop_by):
    capture = audiotap.start_capture("default", stop_by=stop_by, **world("real"))
    exit = capture.stop()
    assert exit.code == OK and exit.stopped, exit


def test_stop_from_the_callbacks_asks_without_waiting_for_itself(world):
    for callback in ("on_event", "on_data"):
        ready = threading.Event()
        holder = []

        def stop_once(*_):
            ready.wait(5)
            if len(holder) == 1:
                holder.append("stopped")
                holder[0].stop()

        capture = audiotap.start_capture("default", **{callback: stop_once}, **world("real"))
        holder.append(capture)
        ready.set()
        exit = capture.wait(10)
        assert exit is not None and exit.code == OK and exit.stopped, callback
