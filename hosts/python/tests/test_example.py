import os
import pathlib
import subprocess
import sys
import wave

EXAMPLE = pathlib.Path(__file__).resolve().parents[1] / "examples" / "record_wav.py"


def test_the_example_writes_a_wav_file_of_what_was_captured(world, tmp_path):
    options = world(stop_at_ms=1000)
    out = tmp_path / "out.wav"
    env = {**os.environ, **options["env"], "AUDIOTAP_BINARY": options["binary"]}
    subprocess.run([sys.executable, str(EXAMPLE), str(out), "30"], env=env, check=True, capture_output=True, timeout=20)
    with wave.open(str(out)) as wav:
        assert (wav.getnchannels(), wav.getsampwidth(), wav.getframerate()) == (2, 2, 16000)
        assert wav.getnframes() == 16000 - 960
