"""Whether a leg of the tests that cannot run here (no Wine 10 root, no
PulseAudio, a build missing) is skipped or fails: a developer running one
test by hand is told "skipped, because ..."; under CI every leg must run."""
import os
import subprocess

SKIPPED = 77
WINE10 = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "tools", "wine10")


def every_leg_must_run():
    """True under CI (CI set to anything but "", "0" or "false"; .ci/run sets it)."""
    return os.environ.get("CI", "") not in ("", "0", "false")


def leg_cannot_run(reason):
    """Prints why and returns the exit status for the CTest entry: 77, or 1 under CI."""
    if every_leg_must_run():
        print(f"cannot run, and under CI every leg must: {reason}", flush=True)
        return 1
    print(f"skipped, because {reason}", flush=True)
    return SKIPPED


_wine10_answer = None


def wine10_unusable():
    """Empty when the Wine 10 root is there and Wine runs in it, else the line
    that `tools/wine10 --check` says about it (the one place that judges it)."""
    global _wine10_answer
    if _wine10_answer is None:
        check = subprocess.run([WINE10, "--check"], capture_output=True, text=True, stdin=subprocess.DEVNULL)
        _wine10_answer = "" if check.returncode == 0 else (check.stderr.strip() or f"{WINE10} --check failed")
    return _wine10_answer
