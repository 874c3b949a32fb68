#!/usr/bin/python3
"""CPU time, peak memory and wake-ups of audiotap against parec | sox pipelines.

On a private sound server (a remapped microphone: a null sink's monitor with a
440 Hz tone playing into it; a 1000 Hz tone playing on the default sink), one
run captures both sources for the given time (30 s by default) several ways at
once, each converting to 16 kHz mono signed 16-bit:

  audiotap --mic default --system 1                       (one process, both sources)
  the same with a second audiotap build (--baseline), to compare two builds
  parec | sox, one pipeline per source, parec's default latency
  parec --latency-msec=10 | sox, the same at audiotap's 10 ms fragments

and reports for each process its CPU seconds (user + system, from wait4's
rusage, microsecond resolution), its peak resident memory (VmHWM from /proc,
read just before the processes are stopped: rusage's ru_maxrss would carry
over this Python parent's own size through fork and exec) and its voluntary
context switches per second, all its threads counted, over the measured time
(from /proc/PID/task/*/status, after a second for the streams to settle).

Where audiotap's peak RSS goes (/proc/PID/smaps after 8 s, PulseAudio 16,
Debian 12, 5.8 MiB): the kernel maps a file's pages 64 KiB around each one
touched, and which of them a library's windows cover moves with ASLR (libc
alone 1.38-1.55 MiB between runs). libc, libm and ld.so 2.0 MiB; libpulse and
libpulsecommon 0.77 MiB; the libraries libpulse loads and a capture never calls
(sndfile and its codecs, X11/xcb, systemd, gcrypt, dbus, ...) 2.3 MiB, mostly
their headers, relocations and the code window of their initialisers; the
server's memfd pools 0.15-0.25 MiB (srbchannel 64 KiB, the blocks read, 16 KiB
of the client's own pool); rings 256 KiB and the libraries' bss 80 KiB; heap
116 KiB (libpulse's free lists and tables; libstdc++'s 71 KiB emergency pool
is never touched); stack 32 KiB; the executable 108 KiB. A C program that
does only this capture through libpulse, with the same rings, peaks at
5.6 MiB (5728 KiB, both without ASLR: audiotap 5844 KiB), which is already
above 0.3 of the pipelines' 18.5 MiB.

The server is PulseAudio, or with --server pipewire PipeWire with
pipewire-pulse and WirePlumber under a private dbus session (Debian: pipewire,
pipewire-pulse, wireplumber).

  /usr/bin/python3 bench/pulse_compare.py [--seconds 30] [--audiotap build/linux/audiotap]
                                          [--baseline OTHER_AUDIOTAP] [--server pulseaudio|pipewire]
"""
import argparse
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "pulse"))
from e2e_audiotap import Failure, PulseServer, end_with_this_process  # noqa: E402

SOX_OUT = ["-t", "raw", "-r", "16000", "-e", "signed-integer", "-b", "16", "-c", "1"]
SETTLE_SECONDS = 1.0


class PipeWireServer(PulseServer):
    """PipeWire, WirePlumber and pipewire-pulse of this run's own, under a private dbus session."""

    def __init__(self):
        for tool in ("pipewire", "pipewire-pulse", "wireplumber", "dbus-run-session"):
            if shutil.which(tool) is None:
                raise Failure(f"{tool} is not installed (Debian: pipewire, pipewire-pulse, wireplumber, dbus)")
        self.runtime = tempfile.mkdtemp(prefix="audiotap-bench-pw-")
        self.env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, LC_ALL="C", HOME=self.runtime,
                        XDG_CONFIG_HOME=os.path.join(self.runtime, "config"),
                        XDG_STATE_HOME=os.path.join(self.runtime, "state"))
        self.env.pop("PULSE_SERVER", None)
        self.env.pop("PULSE_RUNTIME_PATH", None)
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.players = []
        script = "pipewire & sleep 0.5; wireplumber & pipewire-pulse & wait"
        self.process = subprocess.Popen(["dbus-run-session", "--", "sh", "-c", script], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True, preexec_fn=end_with_this_process)
        for _ in range(200):
            if self.process.poll() is not None:
                raise Failure("the private PipeWire session did not start")
            if subprocess.run(["pactl", "info"], env=self.env, capture_output=True).returncode == 0:
                return
            time.sleep(0.05)
        raise Failure("pipewire-pulse did not answer")

    def stop(self):
        for player in self.players:
            player.kill()
            player.wait()
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        shutil.rmtree(self.runtime, ignore_errors=True)


def setup(server):
    """A remapped microphone (48 kHz float stereo) as the default source, a 44.1 kHz sink as the default sink."""
    server.load("module-null-sink", "sink_name=speakers", "rate=44100", "sink_properties=device.description=Speakers")
    server.load("module-null-sink", "sink_name=feed", "rate=48000", "format=float32le", "channels=2")
    server.load("module-remap-source", "source_name=mic", "master=feed.monitor",
                "source_properties=device.description=Microphone")
    server.pactl("set-default-sink", "speakers")
    server.pactl("set-default-source", "mic")
    server.play("feed", 440)
    server.play("speakers", 1000)
    # A new null sink renders its first block of up to two seconds before the
    # players' low latency takes hold.
    time.sleep(2.2)


def voluntary_switches(pid):
    """Voluntary context switches of every thread the process has now."""
    total = 0
    for path in glob.glob(f"/proc/{pid}/task/*/status"):
        try:
            with open(path) as status:
                for line in status:
                    if line.startswith("voluntary_ctxt_switches:"):
                        total += int(line.split()[1])
        except FileNotFoundError:
            pass  # a thread that just ended
    return total


class Measured:
    def __init__(self, label, argv, env, stdin=None, stdout=None):
        self.label = label
        self.process = subprocess.Popen(argv, env=env, stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL)
        self.cpu = None
        self.peak_kib = None
        self.status = None
        self.switches_begin = None
        self.switches_per_second = None

    def begin_window(self):
        self.switches_begin = voluntary_switches(self.process.pid)

    def end_window(self, seconds):
        self.switches_per_second = (voluntary_switches(self.process.pid) - self.switches_begin) / seconds
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    self.peak_kib = int(line.split()[1])

    def reap(self):
        _, status, usage = os.wait4(self.process.pid, 0)
        self.process.returncode = os.waitstatus_to_exitcode(status)
        self.status = self.process.returncode
        self.cpu = usage.ru_utime + usage.ru_stime


def pipeline(label, server, device, sample_format, latency, output_path):
    """parec of one device in its own format, piped into sox converting to 16 kHz mono."""
    rate, channels, parec_format, sox_in = sample_format
    parec = ["parec", "-d", device, f"--format={parec_format}", f"--rate={rate}", f"--channels={channels}"]
    if latency is not None:
        parec.append(f"--latency-msec={latency}")
    recorder = Measured(f"{label} parec", parec, server.env, stdout=subprocess.PIPE)
    with open(output_path, "wb") as output:
        converter = Measured(f"{label} sox", ["sox", "-q", "-t", "raw", "-r", str(rate), *sox_in, "-c", str(channels),
                                              "-", *SOX_OUT, "-"],
                             server.env, stdin=recorder.process.stdout, stdout=output)
    recorder.process.stdout.close()
    return [recorder, converter]


def total(processes, field):
    return sum(getattr(m, field) for m in processes)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=30.0)
    parser.add_argument("--audiotap", default=os.path.join("build", "linux", "audiotap"))
    parser.add_argument("--baseline", help="another audiotap build, run alongside for comparison")
    parser.add_argument("--server", choices=("pulseaudio", "pipewire"), default="pulseaudio")
    arguments = parser.parse_args()

    try:
        server = PipeWireServer() if arguments.server == "pipewire" else PulseServer()
    except Failure as failure:
        print(f"cannot run: {failure}")
        return 1
    work = tempfile.mkdtemp(prefix="audiotap-bench-")
    try:
        setup(server)
        mic = (48000, 2, "float32le", ["-e", "floating-point", "-b", "32"])
        desktop = (44100, 2, "s16le", ["-e", "signed-integer", "-b", "16"])
        builds = [("audiotap", arguments.audiotap)]
        if arguments.baseline:
            builds.append(("baseline audiotap", arguments.baseline))
        groups = {}
        for name, path in builds:
            tag = name.replace(" ", "-")
            with open(os.path.join(work, f"{tag}.raw"), "wb") as output:
                groups[name] = [Measured(f"{name} (both sources)", [path, "--mic", "default", "--system", "1"],
                                         server.env, stdout=output)]
        pipelines = []
        for name, latency in (("parec | sox, default latency", None), ("parec | sox, 10 ms latency", 10)):
            tag = "low" if latency else "default"
            groups[name] = (pipeline("mic", server, "mic", mic, latency, os.path.join(work, f"mic-{tag}.raw")) +
                            pipeline("desktop", server, "speakers.monitor", desktop, latency,
                                     os.path.join(work, f"desktop-{tag}.raw")))
            pipelines.append(name)
        every = [measured for processes in groups.values() for measured in processes]
        time.sleep(SETTLE_SECONDS)
        for measured in every:
            measured.begin_window()
        begin = time.monotonic()
        time.sleep(arguments.seconds)
        window = time.monotonic() - begin
        for measured in every:
            measured.end_window(window)
        for measured in every:
            if measured.label.startswith(("audiotap", "baseline")) or measured.label.endswith("parec"):
                measured.process.send_signal(signal.SIGINT)
        for measured in every:
            measured.reap()

        print(f"{arguments.seconds:.0f} s of capture, both sources, on a private {arguments.server} server "
              f"(mic: remapped null sink monitor 48 kHz float stereo; desktop: null sink monitor 44.1 kHz s16 stereo)")
        print(f"{'process':34} {'CPU s':>9} {'peak RSS MiB':>13} {'vol. switches/s':>16} {'status':>7}")
        for name, processes in groups.items():
            for measured in processes:
                print(f"{measured.label:34} {measured.cpu:9.3f} {measured.peak_kib / 1024:13.1f} "
                      f"{measured.switches_per_second:16.0f} {measured.status:7d}")
            if len(processes) > 1:
                print(f"{'  = ' + name:34} {total(processes, 'cpu'):9.3f} {total(processes, 'peak_kib') / 1024:13.1f} "
                      f"{total(processes, 'switches_per_second'):16.0f}")
        print("ratios (targets: CPU <= 0.5, peak RSS <= 0.3, audiotap <= 150 switches/s):")
        for name, _ in builds:
            ours = groups[name][0]
            for other in pipelines:
                print(f"  {name} / {other}: CPU {ours.cpu / total(groups[other], 'cpu'):.2f}, "
                      f"peak RSS {ours.peak_kib / total(groups[other], 'peak_kib'):.2f}")
        print("output bytes: " + ", ".join(f"{name[:-4]} {os.path.getsize(os.path.join(work, name))}"
                                           for name in sorted(os.listdir(work))))
    finally:
        server.stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
