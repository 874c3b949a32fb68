"""What every build must do (CASES), and the few ways a platform is known to
differ (DIFFERENCES). A build that differs in any other way fails."""

from dataclasses import dataclass

from runner import CloseStdoutAfter, ControlEventAfter, LoseSourceAfter
from world import WORLD

CAPTURE_SECONDS = 2.5
# With the desktop: its data may start up to two seconds late (see world.py),
# and the tone after that must still be long enough to judge.
DESKTOP_CAPTURE_SECONDS = 5.0
# The microphone that the selector cases name; "{mic.*}" placeholders are its
# identifier forms as the build's own listing gives them.
MIC = next(s["description"] for s in WORLD["sources"] if s.get("default"))


@dataclass
class Empty:
    """Nothing on standard output."""


@dataclass
class Listing:
    """One JSON array of the endpoints the build should see."""


@dataclass
class AnyPcm:
    """Whole 16-bit frames of this many channels; what they hold is not looked at."""
    channels: int


@dataclass
class Pcm:
    """16 kHz 16-bit PCM, one channel per tone, in this order."""
    tones: list          # (frequency, peak) per channel
    timed: bool = True   # the length must match the time the stream ran


@dataclass
class Outcome:
    events: list
    stdout: object
    status: int
    ends_by_itself: bool = True  # for a closed stdout: no control event needed


@dataclass
class Case:
    name: str
    arguments: list      # "{mic.id}", "{mic.instance}", "{mic.id_other_case}": MIC's, read back from --list
    expect: object       # View -> Outcome
    stop: object = None


def fault(reason, detail, slot=None):
    event = {"event": "fault", "reason": reason, "detail": detail}
    if slot is not None:
        event["slot"] = slot
    return event


def started(mic=None, desktop=None):
    """The "started" line for the given endpoints, microphone first."""
    slots = [(label, endpoint) for label, endpoint in (("mic", mic), ("desktop", desktop)) if endpoint]
    return {"event": "started", "slots": [label for label, _ in slots],
            "mic": mic.name if mic else "", "system": desktop.name if desktop else "",
            "clock": "qpc", "deviceRate": {label: endpoint.rate for label, endpoint in slots}}


STOPPED = {"event": "stopped"}


def capture_of(mic=None, desktop=None):
    return Outcome([started(mic, desktop), STOPPED],
                   Pcm([endpoint.tone for endpoint in (mic, desktop) if endpoint]), 0)


def listing(view):
    return Outcome([], Listing(), 0)


UNKNOWN_MIC = 'No "Such" Mic\\1'
# A name with letters outside ASCII; only ASCII letters match in either case.
WIDE_MIC = "Micrófono USB マイク"


def swap_ascii_case(text):
    return "".join(c.swapcase() if c.isascii() else c for c in text)


CASES = [
    Case("no-target", [],
         lambda v: Outcome([fault("capture.targetMissing", "no-target")], Empty(), 3)),
    Case("list", ["--list"], listing),
    Case("list-ends-the-scan", ["--mic", "nothing", "--list", "--system", "1"], listing),
    Case("unknown-mic", ["--mic", UNKNOWN_MIC, "--system", "1"],
         lambda v: Outcome([fault("capture.targetMissing", UNKNOWN_MIC, "mic")], Empty(), 3)),
    Case("instance-prefix-in-lower-case", ["--mic", "swd\\mmdevapi\\{mic.id}"],
         lambda v: Outcome([fault("capture.targetMissing", "swd\\mmdevapi\\{mic.id}", "mic")], Empty(), 3)),
    Case("mic-default", ["--mic", "default"],
         lambda v: capture_of(mic=v.default("capture")), ControlEventAfter(CAPTURE_SECONDS)),
    Case("mic-by-identifier", ["--mic", "{mic.id}"],
         lambda v: capture_of(mic=v.capture_named(MIC)), ControlEventAfter(CAPTURE_SECONDS)),
    Case("mic-by-identifier-in-other-case", ["--mic", "{mic.id_other_case}"],
         lambda v: capture_of(mic=v.capture_named(MIC)), ControlEventAfter(CAPTURE_SECONDS)),
    Case("mic-by-instance-id", ["--mic", "{mic.instance}"],
         lambda v: capture_of(mic=v.capture_named(MIC)), ControlEventAfter(CAPTURE_SECONDS)),
    Case("mic-by-name-in-other-case", ["--mic", MIC.swapcase()],
         lambda v: capture_of(mic=v.capture_named(MIC)), ControlEventAfter(CAPTURE_SECONDS)),
    Case("other-mic-by-name", ["--mic", "LINE IN"],
         lambda v: capture_of(mic=v.capture_named("Line In")), ControlEventAfter(CAPTURE_SECONDS)),
    Case("non-ascii-mic-by-name", ["--mic", WIDE_MIC],
         lambda v: capture_of(mic=v.capture_named(WIDE_MIC)), ControlEventAfter(CAPTURE_SECONDS)),
    Case("non-ascii-mic-by-name-in-other-case", ["--mic", swap_ascii_case(WIDE_MIC)],
         lambda v: capture_of(mic=v.capture_named(WIDE_MIC)), ControlEventAfter(CAPTURE_SECONDS)),
    Case("non-ascii-letter-case-is-not-folded", ["--mic", WIDE_MIC.upper()],
         lambda v: Outcome([fault("capture.targetMissing", WIDE_MIC.upper(), "mic")], Empty(), 3)),
    Case("mic-and-desktop", ["--system", "1", "--exclude-pid", "7", "--mic", "default"],
         lambda v: capture_of(mic=v.default("capture"), desktop=v.default("render")),
         ControlEventAfter(DESKTOP_CAPTURE_SECONDS)),
    Case("desktop-only", ["--system", "0"],
         lambda v: capture_of(desktop=v.default("render")), ControlEventAfter(DESKTOP_CAPTURE_SECONDS)),
    Case("mic-lost-while-running", ["--mic", WIDE_MIC, "--system", "1"],
         lambda v: Outcome([started(mic=v.capture_named(WIDE_MIC), desktop=v.default("render")),
                            fault("capture.stopped", "GetNextPacketSize:0x88890004", "mic")],
                           Pcm([v.capture_named(WIDE_MIC).tone, v.default("render").tone], timed=False), 4),
         LoseSourceAfter(3.5, "usb_mic")),
    Case("stdout-closed", ["--mic", "default"],
         lambda v: Outcome([started(mic=v.default("capture")), STOPPED],
                           Pcm([v.default("capture").tone], timed=False), 0),
         CloseStdoutAfter(32000)),
]


@dataclass
class Difference:
    platform: str
    cases: object        # "*" or a tuple of case names
    what: str
    line_ending: bytes = None
    monitors_are_capture_endpoints: bool = False
    default_alias: dict = None  # flow -> name of the platform's own endpoint, the default one
    outcome: object = None   # View -> Outcome, replacing the case's own
    not_run: bool = False    # the case cannot show anything on this platform
    keep_monitor: bool = False  # the world holds the default sink's monitor at pace
    crash_marker: str = None    # a line of the platform's own crash: the case runs once more
    why: str = ""


def _lost_is_not_reported(v):
    begun = started(mic=v.capture_named(WIDE_MIC), desktop=v.default("render"))
    return [Outcome([begun, STOPPED], AnyPcm(2), 0, ends_by_itself=False),
            Outcome([begun, fault("capture.stopped", "GetBuffer", "mic")], AnyPcm(2), 4)]


DIFFERENCES = [
    Difference("windows", "*", "event lines and the listing end in \\r\\n", line_ending=b"\r\n",
               why="standard error, and standard output in list mode, are in text mode on Windows"),
    Difference("windows", "*", "sink monitors are capture endpoints",
               monitors_are_capture_endpoints=True,
               why="Wine lists every PulseAudio source, the sinks' monitors included"),
    Difference("windows", "*", "each flow has Wine's own endpoint, and it is the default",
               default_alias={"capture": "PulseAudio Input", "render": "PulseAudio Output"},
               why="Wine 10 adds a device per flow that follows the server's default; the real "
                   "default is not marked"),
    Difference("windows", "*", "the default sink's monitor is held at pace by a recorder of the world's",
               keep_monitor=True,
               why="a null sink renders in blocks of up to 2 s while nothing low-latency listens, and Wine's "
                   "200 ms loopback buffer loses most of such a block (measured: a broken tone after the "
                   "late start in 4 of 4 runs), which a real render endpoint never hands out"),
    Difference("windows", "*", "Wine itself now and then dies in glibc as the run ends: such a case runs once more",
               crash_marker="Fatal glibc error",
               why="seen once in about 40 Wine 10 capture runs of the suite: \"Fatal glibc error: "
                   "pthread_mutex_lock.c:460 (__pthread_mutex_cond_lock_full): assertion failed\" and status 1 "
                   "after the capture, a fault of Wine's process teardown that no Windows run can show"),
    Difference("windows", ("mic-lost-while-running",),
               "a lost source goes silent until Ctrl+C, or its GetBuffer fails",
               outcome=_lost_is_not_reported,
               why="Wine's GetNextPacketSize answers S_OK after its PulseAudio source is gone, where "
                   "Windows answers AUDCLNT_E_DEVICE_INVALIDATED; measured under Wine 10 in 12 runs: "
                   "6 silent, 6 ended by a failing GetBuffer"),
]


def differences_for(platform, case_name):
    return [d for d in DIFFERENCES
            if d.platform == platform and (d.cases == "*" or case_name in d.cases)]
