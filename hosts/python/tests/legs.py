"""Whether a leg of the tests that cannot run here (no PulseAudio, no Wine 10
root, a build missing) is skipped or fails: a developer running the tests by
hand is told why it was skipped; under CI every leg must run."""
import functools
import os
import pathlib
import subprocess

import pytest

WINE10 = pathlib.Path(__file__).resolve().parents[3] / "tools" / "wine10"


def every_leg_must_run():
    """True under CI (CI set to anything but "", "0" or "false"; .ci/run sets it)."""
    return os.environ.get("CI", "") not in ("", "0", "false")


def require(reason):
    """Skips the running test for reason (empty: it can run), or fails it under CI."""
    if not reason:
        return
    if every_leg_must_run():
        pytest.fail(f"cannot run, and under CI every leg must: {reason}")
    pytest.skip(f"skipped, because {reason}")


@functools.lru_cache(maxsize=None)
def wine10_unusable():
    """Empty when the Wine 10 root is there and Wine runs in it, else the line
    that `tools/wine10 --check` says about it (the one place that judges it)."""
    check = subprocess.run([str(WINE10), "--check"], capture_output=True, text=True, stdin=subprocess.DEVNULL)
    return "" if check.returncode == 0 else (check.stderr.strip() or f"{WINE10} --check failed")
