"""Runs the contract cases against one build in its world and reports every
case that the build fails, with what was expected and what came.

  /usr/bin/python3 run_contract.py sim     --path build/linux/audiotap-sim --work DIR
  /usr/bin/python3 run_contract.py linux   --path build/linux/audiotap     --work DIR
  /usr/bin/python3 run_contract.py windows --path build/windows-mingw/audiotap.exe --work DIR

Exit status 0 when every case holds, 1 when one fails, 77 when the build or
its tools are missing (a failure instead under CI).
"""

import argparse
import json
import os
import shutil
import signal
import sys
import time

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))

from analysis import analyse_channel, expected_level_db, split_channels, tone_onset  # noqa: E402
from builds import LinuxBuild, SimBuild, WindowsBuild  # noqa: E402
from cases import CASES, MIC, AnyPcm, Empty, Listing, Pcm, differences_for  # noqa: E402
from legs import leg_cannot_run, wine10_unusable  # noqa: E402
from world import PulseWorld, WinePrefix, WorldError  # noqa: E402

HOLDBACK_FRAMES = 960
INSTANCE_PREFIX = "SWD\\MMDEVAPI\\"
FREQUENCY_TOLERANCE_HZ = 2.0
LEVEL_TOLERANCE_DB = 1.0
LENGTH_TOLERANCE = 0.02
WORST_BLOCK_MIN_DB = 20.0
# A loopback source with nothing low-latency listening starts late (a null
# sink's monitor renders in blocks of up to 2 s); its channel opens with
# silence until then.
MAX_ONSET_SECONDS = 2.5


def compact(value):
    return json.dumps(value, separators=(",", ":"), ensure_ascii=False).encode()


def check_events(run, expected, newline, problems):
    lines = run.lines
    parsed = []
    for line in lines:
        if not line.endswith(newline) or line[: -len(newline)].endswith(b"\r"):
            problems.append(f"event line does not end in {newline!r}: {line!r}")
        try:
            parsed.append(json.loads(line.rstrip(b"\r\n")))
        except ValueError:
            problems.append(f"standard error holds a line that is not JSON: {line!r}")
            return
    if parsed != expected:
        problems.append(f"events: expected {expected}, got {parsed}")
        return
    for line, event in zip(lines, expected):
        if line != compact(event) + newline:
            problems.append(f"event bytes: expected {compact(event) + newline!r}, got {line!r}")


def parse_listing(stdout, newline, problems):
    if not stdout.endswith(newline) or stdout.count(b"\n") != 1:
        problems.append(f"the listing is not one line ended by {newline!r}: {stdout[-40:]!r}")
        return None
    try:
        records = json.loads(stdout[: -len(newline)])
    except ValueError as error:
        problems.append(f"the listing is not JSON ({error}): {stdout[:200]!r}")
        return None
    if not isinstance(records, list):
        problems.append("the listing is not an array")
        return None
    if compact(records) + newline != stdout:
        problems.append("the listing has white space or escapes of its own")
    return records


def check_listing(records, view, problems):
    """Each endpoint the build should see, once, capture ones first, with its
    status and default mark, and its identifier where the world knows it."""
    keys = ["FriendlyName", "InstanceId", "Status", "IsDefault", "Flow"]
    for record in records:
        if not isinstance(record, dict) or list(record) != keys:
            problems.append(f"record without the five keys in order: {record}")
            return
        if not record["InstanceId"].startswith(INSTANCE_PREFIX):
            problems.append(f"InstanceId without the {INSTANCE_PREFIX} prefix: {record}")
    capture = sorted((e.name, "OK", e.default) for e in view.capture)
    render = sorted((e.name, "OK", e.default) for e in view.render)
    listed = [(r["FriendlyName"], r["Status"], r["IsDefault"]) for r in records]
    if sorted(listed) != sorted(capture + render):
        problems.append(f"records: expected {sorted(capture + render)}, got {sorted(listed)}")
        return
    if sorted(listed[: len(capture)]) != capture:
        problems.append(f"capture records do not all come before the render records: {listed}")
    flows = ((view.capture, records[: len(capture)]), (view.render, records[len(capture):]))
    for flow, (_, listed_records) in zip(("capture", "render"), flows):
        wrong = [r["FriendlyName"] for r in listed_records if r["Flow"] != flow]
        if wrong:
            problems.append(f"Flow is not {flow} for {wrong}")
    for endpoints, listed_records in flows:
        for endpoint in endpoints:
            if endpoint.id is not None:
                ids = [r["InstanceId"] for r in listed_records if r["FriendlyName"] == endpoint.name]
                if ids != [INSTANCE_PREFIX + endpoint.id]:
                    problems.append(f"{endpoint.name}: InstanceId {ids}, expected {INSTANCE_PREFIX + endpoint.id}")
    ids = [r["InstanceId"] for r in records]
    if len(set(ids)) != len(ids):
        problems.append(f"InstanceIds repeat: {ids}")


def check_pcm(run, expected_pcm, problems, notes):
    channels = len(expected_pcm.tones)
    frame = 2 * channels
    if len(run.stdout) % frame:
        problems.append(f"{len(run.stdout)} bytes is not a whole number of {frame}-byte frames")
    frames = len(run.stdout) // frame
    if expected_pcm.timed:
        if run.stream_seconds is None:
            problems.append("the run time is unknown")
        else:
            due = run.stream_seconds * 16000 - HOLDBACK_FRAMES
            notes.append(f"{frames} frames for {run.stream_seconds:.3f} s ({due:.0f} due, "
                         f"{100 * (frames - due) / due:+.2f} %)")
            if abs(frames - due) > LENGTH_TOLERANCE * due:
                problems.append(f"stream length: {frames} frames, {due:.0f} due after "
                                f"{run.stream_seconds:.3f} s less the holdback")
    for index, (samples, tone) in enumerate(zip(split_channels(run.stdout, channels), expected_pcm.tones)):
        frequency, peak = tone
        onset = tone_onset(samples, 16000, peak)
        if onset > MAX_ONSET_SECONDS:
            problems.append(f"channel {index}: the tone starts only after {onset:.2f} s")
        # From the block after the onset on, the tone must run without a gap.
        report = analyse_channel(samples, 16000, skip_seconds=max(0.3, onset + 0.01))
        notes.append(f"channel {index}: {report}" + (f", tone from {onset:.2f} s" if onset else ""))
        level = expected_level_db(peak)
        if not abs(report.frequency - frequency) <= FREQUENCY_TOLERANCE_HZ:
            problems.append(f"channel {index}: dominant {report.frequency:.2f} Hz, played {frequency} Hz")
        if not abs(report.level_db - level) <= LEVEL_TOLERANCE_DB:
            problems.append(f"channel {index}: level {report.level_db:.2f} dBFS, played {level:.2f} dBFS")
        if report.gaps or not report.worst_snr_db >= WORST_BLOCK_MIN_DB:
            problems.append(f"channel {index}: broken tone ({report})")


class Placeholders:
    """Values a case reads back from the build's own listing."""

    def __init__(self, build, view):
        self.values = None
        self.build, self.view = build, view

    def fill(self, text):
        if "{mic." not in text:
            return text
        if self.values is None:
            self.values = {}
            result = self.build.run(["--list"], None)
            records = parse_listing(result.stdout, self.build.newline, []) or []
            name = MIC
            match = [r for r in records if isinstance(r, dict) and r.get("FriendlyName") == name]
            if match and INSTANCE_PREFIX in match[0].get("InstanceId", ""):
                instance = match[0]["InstanceId"]
                identifier = instance[len(INSTANCE_PREFIX):]
                self.values = {"{mic.instance}": instance, "{mic.id}": identifier,
                               "{mic.id_other_case}": identifier.swapcase()}
        for key, value in self.values.items():
            text = text.replace(key, value)
        if "{mic." in text:
            raise LookupError(f"{text}: the listing names no microphone \"{MIC}\"")
        return text


def fill_events(events, placeholders):
    return [{k: placeholders.fill(v) if isinstance(v, str) else v for k, v in e.items()} for e in events]


def check_outcome(result, expected, events, build, view):
    problems, notes = list(result.problems), []
    check_events(result, events, build.newline, problems)
    if result.status != expected.status:
        problems.append(f"exit status {result.status}, expected {expected.status}")
    if result.needed_control_event == expected.ends_by_itself:
        problems.append("the run did not end by itself" if expected.ends_by_itself
                        else "the run ended by itself")
    if isinstance(expected.stdout, Empty):
        if result.stdout:
            problems.append(f"standard output holds {len(result.stdout)} bytes: {result.stdout[:80]!r}")
    elif isinstance(expected.stdout, Listing):
        records = parse_listing(result.stdout, build.newline, problems)
        if records is not None:
            check_listing(records, view, problems)
    elif isinstance(expected.stdout, Pcm):
        check_pcm(result, expected.stdout, problems, notes)
    elif isinstance(expected.stdout, AnyPcm):
        if len(result.stdout) % (2 * expected.stdout.channels):
            problems.append(f"{len(result.stdout)} bytes is not a whole number of "
                            f"{2 * expected.stdout.channels}-byte frames")
    return problems, notes


def run_case(build, case, view, placeholders):
    """Runs the case once; a known difference may allow one of several outcomes."""
    notes = []
    outcomes = [case.expect(view)]
    for difference in differences_for(build.platform, case.name):
        if difference.outcome is not None:
            found = difference.outcome(view)
            outcomes = found if isinstance(found, list) else [found]
            notes.append(f"known difference: {difference.what}")
    try:
        arguments = [placeholders.fill(a) for a in case.arguments]
        expected_events = [fill_events(outcome.events, placeholders) for outcome in outcomes]
    except LookupError as error:
        return [str(error)], notes
    result = build.run(arguments, case.stop)
    checked = [check_outcome(result, outcome, events, build, view)
               for outcome, events in zip(outcomes, expected_events)]
    problems, more_notes = next((c for c in checked if not c[0]), checked[0])
    notes += more_notes
    if problems:
        notes.append(f"arguments {arguments}")
        notes.append(f"standard error {result.stderr[:600]!r}")
    return problems, notes


def run_suite(build, only):
    for difference in differences_for(build.platform, "*"):
        if difference.line_ending:
            build.newline = difference.line_ending
        if difference.monitors_are_capture_endpoints:
            build.monitors_are_capture_endpoints = True
        if difference.default_alias:
            build.default_alias = difference.default_alias
    view = build.view()
    placeholders = Placeholders(build, view)
    failed = 0
    suite_began = time.monotonic()
    for case in CASES:
        if only and case.name not in only:
            continue
        not_run = [d for d in differences_for(build.platform, case.name) if d.not_run]
        if not_run:
            print(f"skip {build.name} {case.name}: known difference: {not_run[0].what} ({not_run[0].why})",
                  flush=True)
            continue
        began = time.monotonic()
        problems, notes = run_case(build, case, view, placeholders)
        crashes = [d for d in differences_for(build.platform, case.name)
                   if d.crash_marker and any(d.crash_marker in p for p in problems)]
        if crashes:
            # The platform itself fell over (not the build): one more run, and it says so.
            notes.append(f"run once more after a known difference: {crashes[0].what}: {'; '.join(problems)}")
            problems, more_notes = run_case(build, case, view, placeholders)
            notes += more_notes
        verdict = "FAIL" if problems else "ok  "
        print(f"{verdict} {build.name} {case.name} ({time.monotonic() - began:.1f} s)", flush=True)
        for line in problems:
            print(f"       - {line}")
        for line in notes:
            print(f"         {line}")
        failed += bool(problems)
    print(f"{build.name}: {failed} of {len(CASES) if not only else len(only)} cases failed "
          f"in {time.monotonic() - suite_began:.1f} s", flush=True)
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("platform", choices=["sim", "linux", "windows"])
    parser.add_argument("--path", required=True)
    parser.add_argument("--work", required=True, help="folder for scenarios and the Wine prefix")
    parser.add_argument("--case", action="append", default=[], help="run only these cases")
    options = parser.parse_args()
    os.makedirs(options.work, exist_ok=True)
    # A test runner's SIGTERM still tears the world down.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    if not os.path.exists(options.path):
        return leg_cannot_run(f"{options.path} is not built")
    if options.platform == "sim":
        return run_suite(SimBuild(options.path, options.work), options.case)
    prefix = None
    try:
        if options.platform == "windows":
            if wine10_unusable():
                return leg_cannot_run(wine10_unusable())
            prefix = WinePrefix(os.environ.get("WINEPREFIX") or os.path.join(options.work, "wine10prefix"))
            prefix.prepare()
        keep_monitor = any(d.keep_monitor for d in differences_for(options.platform, "*"))
        with PulseWorld(keep_monitor) as world:
            build = (WindowsBuild(options.path, world, prefix) if prefix
                     else LinuxBuild(options.path, world))
            return run_suite(build, options.case)
    except WorldError as error:
        print(f"the world could not be prepared: {error}")
        return 1
    finally:
        if prefix is not None:
            prefix.close()


if __name__ == "__main__":
    sys.exit(main())
