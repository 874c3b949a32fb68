#!/usr/bin/python3
"""CPU time and peak memory of audiotap against parec | sox pipelines.

On a private PulseAudio server (a 440 Hz sine source as the microphone, a
1000 Hz tone playing on the default sink), one run captures both sources for
the given time (30 s by default) three ways at once, each converting to
16 kHz mono signed 16-bit:

  audiotap --mic default --system 1                       (one process, both sources)
  parec | sox, one pipeline per source, parec's default latency
  parec --latency-msec=10 | sox, the same at audiotap's 10 ms fragments

and reports each process's CPU seconds (user + system, from wait4's rusage,
microsecond resolution) and peak resident memory, side by side. The peak is
VmHWM from /proc, read just before the processes are stopped: rusage's
ru_maxrss would carry over this Python parent's own size through fork and exec.

  /usr/bin/python3 bench/pulse_compare.py [--seconds 30] [--audiotap build/linux/audiotap]
"""
import argparse
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "pulse"))
from e2e_audiotap import PulseServer, standard_setup  # noqa: E402

SOX_OUT = ["-t", "raw", "-r", "16000", "-e", "signed-integer", "-b", "16", "-c", "1"]


class Measured:
    def __init__(self, label, argv, env, stdin=None, stdout=None):
        self.label = label
        self.process = subprocess.Popen(argv, env=env, stdin=stdin, stdout=stdout, stderr=subprocess.DEVNULL)
        self.cpu = None
        self.peak_kib = None
        self.status = None

    def read_peak_memory(self):
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=30.0)
    parser.add_argument("--audiotap", default=os.path.join("build", "linux", "audiotap"))
    arguments = parser.parse_args()

    server = PulseServer()
    work = tempfile.mkdtemp(prefix="audiotap-bench-")
    try:
        standard_setup(server)
        mic = (48000, 1, "float32le", ["-e", "floating-point", "-b", "32"])
        desktop = (44100, 2, "s16le", ["-e", "signed-integer", "-b", "16"])
        with open(os.path.join(work, "audiotap.raw"), "wb") as output:
            audiotap = Measured("audiotap (both sources)", [arguments.audiotap, "--mic", "default", "--system", "1"],
                                server.env, stdout=output)
        groups = {"audiotap": [audiotap]}
        for name, latency in (("parec | sox, default latency", None), ("parec | sox, 10 ms latency", 10)):
            tag = "low" if latency else "default"
            groups[name] = (pipeline("mic", server, "tone", mic, latency, os.path.join(work, f"mic-{tag}.raw")) +
                            pipeline("desktop", server, "speakers.monitor", desktop, latency,
                                     os.path.join(work, f"desktop-{tag}.raw")))
        time.sleep(arguments.seconds)
        for processes in groups.values():
            for measured in processes:
                measured.read_peak_memory()
        audiotap.process.send_signal(signal.SIGINT)
        for processes in groups.values():
            for measured in processes:
                if measured.label.endswith("parec"):
                    measured.process.send_signal(signal.SIGINT)
        for processes in groups.values():
            for measured in processes:
                measured.reap()

        print(f"{arguments.seconds:.0f} s of capture, both sources, on a private PulseAudio server "
              f"(mic: sine source 48 kHz float mono; desktop: null sink monitor 44.1 kHz s16 stereo)")
        print(f"{'process':34} {'CPU s':>9} {'peak RSS MiB':>13} {'status':>7}")
        for name, processes in groups.items():
            for measured in processes:
                print(f"{measured.label:34} {measured.cpu:9.3f} {measured.peak_kib / 1024:13.1f} {measured.status:7d}")
            if len(processes) > 1:
                cpu = sum(m.cpu for m in processes)
                memory = sum(m.peak_kib for m in processes) / 1024
                print(f"{'  = ' + name:34} {cpu:9.3f} {memory:13.1f}")
        print("output bytes: " + ", ".join(f"{name[:-4]} {os.path.getsize(os.path.join(work, name))}"
                                           for name in sorted(os.listdir(work))))
    finally:
        server.stop()
        for name in os.listdir(work):
            os.remove(os.path.join(work, name))
        os.rmdir(work)


if __name__ == "__main__":
    main()
