import struct

from audiotap import split_channels
from audiotap._events import parse_event
from audiotap._frames import FrameAligner


def test_frames_cut_anywhere_come_out_whole_and_a_run_end_drops_the_cut_off_part():
    aligner = FrameAligner(4)
    stream = bytes(range(1, 11))
    out = b"".join(aligner.push(stream[a:b]) for a, b in [(0, 1), (1, 3), (3, 6), (6, 10)])
    assert out == stream[:8]
    assert aligner.reset() == 2
    assert aligner.push(b"\x0b\x0c\x0d\x0e") == b"\x0b\x0c\x0d\x0e"


def test_split_channels_gives_each_slot_its_own_samples():
    mic, desktop = split_channels(struct.pack("<6h", 1, -1, 2, -2, 3, -3), 2)
    assert struct.unpack("<3h", mic) == (1, 2, 3)
    assert struct.unpack("<3h", desktop) == (-1, -2, -3)


def test_only_json_objects_with_an_event_are_events():
    assert parse_event('{"event":"stopped"}') == {"event": "stopped"}
    for line in ["audiotap-sim: scenario x: bad", '{"event":', "[1]", '{"no":"event"}']:
        assert parse_event(line) is None
