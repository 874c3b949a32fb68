"""Records the default microphone and the desktop into a WAV file until the
time is up or Ctrl+C:  python3 examples/record_wav.py out.wav [seconds]
The program is the one the wheel holds (or AUDIOTAP_BINARY)."""
import pathlib
import sys
import threading
import wave

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1]))
import audiotap  # noqa: E402


def main(path="capture.wav", seconds="5"):
    capture = audiotap.start_capture("default", True, on_event=lambda event: print(event, file=sys.stderr))
    timer = threading.Timer(float(seconds), capture.stop)
    timer.start()
    with wave.open(path, "wb") as out:
        out.setnchannels(len(capture.slots))
        out.setsampwidth(2)
        out.setframerate(16000)
        try:
            for block in capture:
                out.writeframes(block)
        except KeyboardInterrupt:
            capture.stop()
            for block in capture:  # what came before the stop
                out.writeframes(block)
        except audiotap.AudiotapError as failure:  # a set-up fault, or a lost source not recovered
            print(failure, file=sys.stderr)
    timer.cancel()
    return 0 if capture.exit.code == audiotap.OK else 1


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
