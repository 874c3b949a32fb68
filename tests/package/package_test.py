#!/usr/bin/env python3
"""The packages of dist/ (tools/package.sh) as a new user meets them, offline:

  node     npm install of the main and the Linux tarballs into an empty
           project; a short script lists the endpoints and records 2 s on a
           private PulseAudio server without naming the program; then the
           errors for a wrong AUDIOTAP_BINARY and for no shipped program
  python   the same with the Linux wheel in a fresh virtual environment
           (pip install --no-index)
  windows  the program in the win32 tarball and in the win_amd64 wheel is
           byte for byte build/windows-mingw/audiotap.exe, and answers
           --version under Wine 10
  types    tsc --strict compiles a host that uses the types, and rejects a
           misspelt fault reason and a misspelt event name

A case that cannot run here is skipped (77), or fails under CI
(tests/support/legs.py)."""
import argparse
import array
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile

REPOSITORY = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPOSITORY / "tests" / "support"))
import legs  # noqa: E402

NODE_TOOLS = pathlib.Path(os.environ.get("AUDIOTAP_NODE_TOOLS", "/var/cache/audiotap/node-tools/node_modules"))
SECONDS = 2.0
FRAME_BYTES = 4  # two channels of 16-bit samples


class Unavailable(Exception):
    pass


def require(condition, what):
    if not condition:
        raise Unavailable(what)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def clean_env(**extra):
    """The environment of a new user: no program named anywhere, and none on
    the PATH."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("AUDIOTAP_")}
    env["PATH"] = "/usr/local/bin:/usr/bin:/bin"
    env.update(extra)
    return env


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **kwargs)


def one(dist, pattern):
    found = sorted(dist.glob(pattern))
    require(len(found) == 1, f"exactly one {pattern} in {dist} (run tools/package.sh)")
    return found[0]


class PulseServer:
    """A private PulseAudio server: a 440 Hz source as the default
    microphone, a null sink as the default playback device."""

    def __init__(self):
        require(shutil.which("pulseaudio") and shutil.which("pactl"), "pulseaudio and pactl")
        self.runtime = tempfile.mkdtemp(prefix="audiotap-package-pulse-")
        self.env = {"XDG_RUNTIME_DIR": self.runtime, "PULSE_RUNTIME_PATH": f"{self.runtime}/pulse",
                    "PULSE_SERVER": f"unix:{self.runtime}/pulse/native"}
        self.process = subprocess.Popen(
            ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "--use-pid-file=no",
             "--load=module-native-protocol-unix",
             "--load=module-sine-source source_name=tone frequency=440",
             "--load=module-null-sink sink_name=speakers sink_properties=device.description=Speakers"],
            env={**os.environ, **self.env}, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        for _ in range(100):
            done = all(run(["pactl", *command], env={**os.environ, **self.env}).returncode == 0
                       for command in (["set-default-source", "tone"], ["set-default-sink", "speakers"]))
            if done:
                return
            time.sleep(0.05)
        self.close()
        raise AssertionError("the private PulseAudio server did not start")

    def close(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.process.kill()
        shutil.rmtree(self.runtime, ignore_errors=True)


def check_recording(report, pcm_file, program_inside):
    """What the user's script printed and wrote: both flows listed, the
    shipped program used, about 2 s of two channels, the tone on the first."""
    flows = {(e["name"], e["flow"]) for e in report["endpoints"]}
    check(("Sine source at 440 Hz", "capture") in flows and ("Speakers", "render") in flows, f"listing: {flows}")
    check(pathlib.Path(report["binary"]).resolve() == program_inside.resolve(),
          f"ran {report['binary']}, not the shipped {program_inside}")
    check(report["code"] == 0 and report["stopped"], f"exit: {report}")
    data = pcm_file.read_bytes()
    seconds = len(data) / (FRAME_BYTES * 16000)
    check(len(data) % FRAME_BYTES == 0 and 0.75 * SECONDS <= seconds <= SECONDS + 0.2, f"{seconds:.2f} s recorded")
    samples = array.array("h", data)
    check(max(abs(s) for s in samples[0::2]) > 3000, "the microphone channel carries no tone")


NODE_SCRIPT = """\
const { listEndpoints, startCapture, binaryPath } = require('audiotap');
const fs = require('node:fs');
(async () => {
  const endpoints = (await listEndpoints()).map((e) => ({ name: e.FriendlyName, flow: e.Flow }));
  const capture = startCapture({ mic: 'default', system: true, signal: AbortSignal.timeout(%d) });
  const out = fs.createWriteStream(process.argv[2]);
  for await (const frames of capture) out.write(frames);
  const { code, stopped } = await capture.exited;
  out.end(() => console.log(JSON.stringify({ endpoints, code, stopped, binary: binaryPath() })));
})();
""" % (SECONDS * 1000)

PYTHON_SCRIPT = """\
import json, sys, threading
import audiotap

endpoints = [{"name": e.friendly_name, "flow": e.flow} for e in audiotap.list_endpoints()]
capture = audiotap.start_capture("default", True)
threading.Timer(%r, capture.stop).start()
with capture, open(sys.argv[1], "wb") as out:
    for block in capture:
        out.write(block)
print(json.dumps({"endpoints": endpoints, "code": capture.exit.code, "stopped": capture.exit.stopped,
                  "binary": audiotap.binary_of(None)}))
""" % SECONDS


def start_error(command, env, cwd=None):
    """The message a start fails with."""
    result = run(command, env=env, cwd=cwd)
    check(result.returncode != 0, f"{command} started without a program: {result.stdout}")
    return result.stderr


def expect_names(text, names, what):
    for name in names:
        check(name in text, f"{what}: the error does not name {name!r}:\n{text}")


def case_node(dist, work):
    require(shutil.which("npm") and shutil.which("node"), "node and npm")
    main, linux = one(dist, "audiotap-[0-9]*.tgz"), one(dist, "audiotap-linux-x64-*.tgz")
    project = work / "project"
    project.mkdir()
    (project / "package.json").write_text('{"private": true}\n')
    # Offline for certain: no cache, and a registry nobody answers on.
    installed = run(["npm", "install", "--offline", "--no-audit", "--no-fund", "--cache", str(work / "npm-cache"),
                     "--registry", "http://127.0.0.1:9/", str(main), str(linux)], cwd=project, env=clean_env())
    check(installed.returncode == 0, f"npm install failed:\n{installed.stderr}")
    shipped = project / "node_modules/@audiotap/linux-x64/bin/audiotap"
    check(os.access(shipped, os.X_OK), f"{shipped} is not an executable")
    manifest = json.loads((project / "node_modules/audiotap/package.json").read_text())
    check(manifest["license"] == "MIT" and (project / "node_modules/audiotap/LICENSE").exists(), "no MIT license")
    check((project / "node_modules/audiotap/examples/record-wav.js").exists(), "the examples are missing")
    check(set(manifest["optionalDependencies"]) == {"@audiotap/linux-x64", "@audiotap/win32-x64"},
          f"optionalDependencies: {manifest.get('optionalDependencies')}")
    (project / "record.js").write_text(NODE_SCRIPT)

    server = PulseServer()
    try:
        result = run(["node", "record.js", "capture.pcm"], cwd=project, env=clean_env(**server.env))
        check(result.returncode == 0, f"the script failed:\n{result.stderr}")
        check_recording(json.loads(result.stdout), project / "capture.pcm", shipped)
    finally:
        server.close()

    starting = ["node", "-e", "require('audiotap').startCapture({ mic: 'default' })"]
    message = start_error(starting, clean_env(AUDIOTAP_BINARY="/nonexistent/audiotap"), cwd=project)
    expect_names(message, ["AUDIOTAP_BINARY", "/nonexistent/audiotap"], "a wrong AUDIOTAP_BINARY")
    shutil.rmtree(project / "node_modules/@audiotap/linux-x64")
    message = start_error(starting, clean_env(), cwd=project)
    expect_names(message, ["binary option", "AUDIOTAP_BINARY", "@audiotap/linux-x64"], "no shipped program")


def case_python(dist, work):
    wheel = one(dist, "audiotap-*-py3-none-manylinux_*_x86_64.whl")
    floor = re.search(r"manylinux_(\d+)_(\d+)_", wheel.name).groups()
    check(f"{floor[0]}.{floor[1]}" in (REPOSITORY / "README.md").read_text(),
          f"the README does not state the glibc floor {floor[0]}.{floor[1]} of {wheel.name}")
    venv = work / "venv"
    made = run(["/usr/bin/python3", "-m", "venv", str(venv)])
    require(made.returncode == 0, f"python3 -m venv (python3-venv): {made.stderr.strip()}")
    python = venv / "bin" / "python"
    installed = run([str(python), "-m", "pip", "install", "--no-index", "--disable-pip-version-check", str(wheel)],
                    env=clean_env())
    check(installed.returncode == 0, f"pip install failed:\n{installed.stdout}{installed.stderr}")
    package = pathlib.Path(run([str(python), "-c", "import audiotap, os; print(os.path.dirname(audiotap.__file__))"],
                               cwd=work, env=clean_env()).stdout.strip())
    shipped = package / "bin" / "audiotap"
    check(os.access(shipped, os.X_OK), f"{shipped} is not an executable")
    check((package / "py.typed").exists(), "no py.typed")
    (work / "record.py").write_text(PYTHON_SCRIPT)

    server = PulseServer()
    try:
        result = run([str(python), "record.py", "capture.pcm"], cwd=work, env=clean_env(**server.env))
        check(result.returncode == 0, f"the script failed:\n{result.stderr}")
        check_recording(json.loads(result.stdout), work / "capture.pcm", shipped)
    finally:
        server.close()

    starting = [str(python), "-c", "import audiotap; audiotap.start_capture('default')"]
    message = start_error(starting, clean_env(AUDIOTAP_BINARY="/nonexistent/audiotap"), cwd=work)
    expect_names(message, ["AUDIOTAP_BINARY", "/nonexistent/audiotap"], "a wrong AUDIOTAP_BINARY")
    shipped.unlink()
    message = start_error(starting, clean_env(), cwd=work)
    expect_names(message, ["binary=", "AUDIOTAP_BINARY", "wheel"], "no shipped program")

    # From the source folder, offline: the library alone, built by its own backend.
    source_venv = work / "source-venv"
    run(["/usr/bin/python3", "-m", "venv", str(source_venv)])
    installed = run([str(source_venv / "bin/python"), "-m", "pip", "install", "--no-index",
                     "--disable-pip-version-check", str(REPOSITORY / "hosts/python")], env=clean_env())
    check(installed.returncode == 0, f"pip install hosts/python failed:\n{installed.stdout}{installed.stderr}")
    message = start_error([str(source_venv / "bin/python"), *starting[1:]], clean_env(), cwd=work)
    expect_names(message, ["binary=", "AUDIOTAP_BINARY", "wheel"], "a source install")


def case_windows(dist, work):
    exe = REPOSITORY / "build/windows-mingw/audiotap.exe"
    require(exe.exists(), f"{exe}")
    built = exe.read_bytes()
    with tarfile.open(one(dist, "audiotap-win32-x64-*.tgz")) as tar:
        manifest = json.load(tar.extractfile("package/package.json"))
        in_tarball = tar.extractfile("package/bin/audiotap.exe").read()
    check((manifest["os"], manifest["cpu"]) == (["win32"], ["x64"]), f"os/cpu: {manifest}")
    with zipfile.ZipFile(one(dist, "audiotap-*-py3-none-win_amd64.whl")) as wheel:
        in_wheel = wheel.read("audiotap/bin/audiotap.exe")
    check(in_tarball == built, "the win32 package's audiotap.exe differs from the built one")
    check(in_wheel == built, "the win_amd64 wheel's audiotap.exe differs from the built one")

    unusable = legs.wine10_unusable()
    require(not unusable, unusable)
    version = re.search(r'VERSION (\d+\.\d+\.\d+)', (REPOSITORY / "CMakeLists.txt").read_text()).group(1)
    for name, data in (("from-tarball", in_tarball), ("from-wheel", in_wheel)):
        program = work / name / "audiotap.exe"
        program.parent.mkdir()
        program.write_bytes(data)
        env = {**os.environ, "WINEDEBUG": "-all",
               "WINEPREFIX": os.environ.get("WINEPREFIX", str(REPOSITORY / "build/wine10prefix"))}
        answer = run([str(REPOSITORY / "tools/wine10"), "wine", str(program), "--version"], env=env)
        check(answer.stdout.replace("\r\n", "\n") == f"audiotap {version}\n",
              f"{name}: --version under Wine 10 answered {answer.stdout!r}, status {answer.returncode}")


def case_types(dist, work):
    tsc = NODE_TOOLS / ".bin" / "tsc"
    require(tsc.exists() and (NODE_TOOLS / "@types/node").exists(),
            f"tsc and @types/node under {NODE_TOOLS} (tools/install-deps.sh)")
    folder = REPOSITORY / "hosts/node/test-types"
    common = [str(tsc), "--strict", "--noEmit", "--target", "es2022", "--module", "commonjs",
              "--moduleResolution", "node10", "--types", "node", "--typeRoots", str(NODE_TOOLS / "@types")]
    compiled = run([*common, "uses-types.ts"], cwd=folder)
    check(compiled.returncode == 0, f"uses-types.ts does not compile:\n{compiled.stdout}")
    for file, wanted in (("misspelt-reason.ts", "'\"capture.permisionDenied\"'"), ("misspelt-event.ts", "'\"stoped\"'")):
        rejected = run([*common, file], cwd=folder)
        check(rejected.returncode != 0 and wanted in rejected.stdout,
              f"{file} should be rejected for {wanted}:\n{rejected.stdout}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--case", required=True, choices=["node", "python", "windows", "types"])
    parser.add_argument("--dist", type=pathlib.Path, default=REPOSITORY / "dist")
    args = parser.parse_args()
    work = pathlib.Path(tempfile.mkdtemp(prefix=f"audiotap-package-{args.case}-"))
    try:
        globals()[f"case_{args.case}"](args.dist, work)
    except Unavailable as missing:
        return legs.leg_cannot_run(f"it needs {missing}")
    except AssertionError as failure:
        print(f"FAILED: {failure}")
        return 1
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"{args.case}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
