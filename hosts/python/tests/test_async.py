"""The asyncio form: async with / async for over a capture."""
import asyncio

import pytest

import audiotap
from audiotap import OK, SETUP_FAILED, Exit, Started, Stopped, Switched

FRAME_RATE = 16000
HOLDBACK_FRAMES = 960


def test_async_for_gives_the_exact_stream_and_the_events_on_the_loop(world):
    async def main():
        loop_thread_events = []
        capture = audiotap.start_capture_async("default", True, on_event=loop_thread_events.append,
                                               **world(stop_at_ms=1000))
        async with capture:
            data = b"".join([block async for block in capture])
        await asyncio.sleep(0)  # the events queued on the loop
        return capture, data, loop_thread_events

    capture, data, events = asyncio.run(main())
    assert len(data) == 2 * 2 * (FRAME_RATE - HOLDBACK_FRAMES)
    assert capture.exit.code == OK and capture.exit.stopped
    assert [type(e) for e in events] == [Started, Stopped, Exit]


def test_async_stop_on_the_real_clock_ends_in_order(world):
    async def main():
        async with audiotap.start_capture_async("default", **world("real")) as capture:
            received = 0
            async for block in capture:
                received += len(block)
                if received >= 2 * FRAME_RATE // 2:
                    exit = await capture.stop()
            return exit, received

    exit, received = asyncio.run(asyncio.wait_for(main(), 20))
    assert exit.code == OK and exit.stopped, exit
    assert received >= FRAME_RATE


def test_a_set_up_fault_raises_in_async_for_and_quiet_does_not(world):
    failing = world(mic_extra={"fail": {"Activate": "0x80070005"}})

    async def loud():
        async for _ in audiotap.start_capture_async("default", **failing):
            pass

    with pytest.raises(audiotap.AudiotapError, match="capture.permissionDenied") as raised:
        asyncio.run(loud())
    assert raised.value.code == SETUP_FAILED

    async def quiet():
        capture = audiotap.start_capture_async("default", quiet=True, **failing)
        async with capture:
            assert [block async for block in capture] == []
        return capture.exit

    assert asyncio.run(quiet()).code == SETUP_FAILED


def test_switched_lines_become_switched_events(script):
    started = ('{"event":"started","slots":["mic","desktop"],"mic":"M","system":"S","clock":"qpc",'
               '"deviceRate":{"mic":48000,"desktop":44100}}')
    switching = script("switching.sh", f"""echo '{started}' >&2
head -c 400 /dev/zero
echo '{{"event":"switched","slot":"desktop","name":"Headset","deviceRate":48000}}' >&2
head -c 400 /dev/zero
echo '{{"event":"switched","slot":"mic","name":"Micr\\u00f3fono USB","deviceRate":16000}}' >&2
echo '{{"event":"stopped"}}' >&2
""")
    threaded = audiotap.start_capture("default", True, binary=switching)
    assert len(b"".join(threaded)) == 800

    async def main():
        async with audiotap.start_capture_async("default", True, binary=switching) as capture:
            return len(b"".join([b async for b in capture])), capture.events

    received, async_events = asyncio.run(main())
    assert received == 800
    for events in (threaded.events, async_events):
        assert [e for e in events if isinstance(e, Switched)] == [
            Switched("desktop", "Headset", 48000), Switched("mic", "Micrófono USB", 16000)]


def test_a_new_default_playback_device_on_audiotap_sim_gives_one_switched_event(world):
    def endpoints(headset):
        return {"endpoints": [
            {"flow": "capture", "id": "mic-1", "name": "Desk Mic", "default": True,
             "signal": {"kind": "constant", "value": 0.25}},
            {"flow": "render", "id": "spk-1", "name": "Speakers", "default": True, "format": {"rate": 44100},
             "signal": {"kind": "constant", "value": -0.25}},
            {"flow": "render", "id": "headset-1", "name": "Headset", "format": {"rate": 48000},
             "signal": {"kind": "constant", "value": 0.5}, **headset},
        ]}

    async def record(headset):
        options = world(stop_at_ms=2000, extra=endpoints(headset))
        async with audiotap.start_capture_async("default", True, **options) as capture:
            pcm = b"".join([block async for block in capture])
        return pcm, [e for e in capture.events if isinstance(e, Switched)], capture.exit

    still, still_switched, _ = asyncio.run(record({}))
    moved, moved_switched, exit = asyncio.run(record({"defaultAtMs": 1000}))
    assert still_switched == []
    assert moved_switched == [Switched("desktop", "Headset", 48000)]
    assert exit.code == OK and len(moved) == len(still)
    # The desktop channel ends on the headset's level, the microphone's is untouched.
    assert moved[-2:] == (16384).to_bytes(2, "little", signed=True)
    assert moved[-4:-2] == still[-4:-2]
