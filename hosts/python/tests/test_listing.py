import re

import pytest

import audiotap
from audiotap import Endpoint, Fault, SETUP_FAILED


def test_list_endpoints_gives_the_records_of_the_listing(world):
    assert audiotap.list_endpoints(**world()) == [
        Endpoint("Desk Mic", "SWD\\MMDEVAPI\\mic-1", "OK", True, "capture"),
        Endpoint("Speakers", "SWD\\MMDEVAPI\\spk-1", "OK", True, "render"),
    ]


def test_list_endpoints_raises_with_the_fault_when_the_audio_system_is_missing(world):
    with pytest.raises(audiotap.AudiotapError) as raised:
        audiotap.list_endpoints(**world(extra={"fail": {"CoCreateInstance": "0x80040154"}}))
    assert raised.value.code == SETUP_FAILED
    assert raised.value.fault == Fault("capture.separateUnavailable", "MMDeviceEnumerator:0x80040154", None)


def test_version_reads_the_version_line(world):
    assert re.fullmatch(r"\d+\.\d+\.\d+", audiotap.version(**world()))
