#!/usr/bin/env python3
"""Makes the packages out of the built programs, offline, into dist/:

  audiotap-<v>.tgz                 npm: the Node.js library; the two below as
                                   exact-version optional dependencies
  audiotap-linux-x64-<v>.tgz       npm: @audiotap/linux-x64, bin/audiotap
  audiotap-win32-x64-<v>.tgz       npm: @audiotap/win32-x64, bin/audiotap.exe
  audiotap-<v>-py3-none-manylinux_<glibc>_x86_64.whl   the Python library with audiotap
  audiotap-<v>-py3-none-win_amd64.whl                  the Python library with audiotap.exe

Every version is the CMake project's. The Linux wheel's tag names the glibc
the program really needs, read from its version references.

  tools/package.py --linux build/linux/audiotap --windows build/windows-mingw/audiotap.exe --out dist
"""
import argparse
import json
import pathlib
import re
import shutil
import subprocess
import sys

REPOSITORY = pathlib.Path(__file__).resolve().parents[1]
NODE = REPOSITORY / "hosts" / "node"
PYTHON = REPOSITORY / "hosts" / "python"
# What a manylinux program may need at load time: glibc's own libraries.
GLIBC_LIBRARIES = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"}


def project_version() -> str:
    text = (REPOSITORY / "CMakeLists.txt").read_text()
    return re.search(r"project\(audiotap VERSION (\d+\.\d+\.\d+)", text).group(1)


def glibc_floor(program: pathlib.Path) -> tuple:
    """The newest GLIBC_x.y version the program references, as (x, y)."""
    versions = subprocess.run(["readelf", "-V", "--wide", str(program)], check=True, capture_output=True,
                              text=True).stdout
    found = {tuple(map(int, m)) for m in re.findall(r"Name: GLIBC_(\d+)\.(\d+)", versions)}
    if not found:
        sys.exit(f"{program}: no GLIBC version references; is it a glibc program?")
    return max(found)


def needed_libraries(program: pathlib.Path) -> set:
    dynamic = subprocess.run(["readelf", "-d", str(program)], check=True, capture_output=True, text=True).stdout
    return set(re.findall(r"\(NEEDED\)\s+Shared library: \[([^]]+)\]", dynamic))


def npm_pack(folder: pathlib.Path, out: pathlib.Path) -> pathlib.Path:
    name = subprocess.run(["npm", "pack", "--offline", "--silent", "--pack-destination", str(out)], cwd=folder,
                          check=True, capture_output=True, text=True).stdout.strip().splitlines()[-1]
    return out / name


def platform_package(stage: pathlib.Path, version: str, os_name: str, program: pathlib.Path, extra: dict):
    folder = stage / f"{os_name}-x64"
    (folder / "bin").mkdir(parents=True)
    shutil.copy2(program, folder / "bin" / program.name)
    (folder / "bin" / program.name).chmod(0o755)
    shutil.copy2(REPOSITORY / "LICENSE", folder / "LICENSE")
    name = f"@audiotap/{os_name}-x64"
    (folder / "README.md").write_text(
        f"# {name}\n\nThe audiotap program for {os_name} x64 (`bin/{program.name}`), installed by the npm package\n"
        "`audiotap` as an optional dependency and found by it at run time. Install `audiotap`, not this.\n")
    manifest = {"name": name, "version": version,
                "description": f"The audiotap program for {os_name} x64, for the audiotap package",
                "license": "MIT", "os": [os_name], "cpu": ["x64"], **extra,
                "files": ["bin/", "README.md", "LICENSE"], "preferUnplugged": True}
    (folder / "package.json").write_text(json.dumps(manifest, indent=2) + "\n")
    return name, folder


def main_package(stage: pathlib.Path, version: str, dependencies: list) -> pathlib.Path:
    folder = stage / "audiotap"
    shutil.copytree(NODE, folder, ignore=shutil.ignore_patterns("test", "test-support", "node_modules"))
    shutil.copy2(REPOSITORY / "LICENSE", folder / "LICENSE")
    manifest = json.loads((NODE / "package.json").read_text())
    manifest["version"] = version
    manifest["optionalDependencies"] = {name: version for name in dependencies}
    manifest.pop("scripts", None)
    (folder / "package.json").write_text(json.dumps(manifest, indent=2) + "\n")
    return folder


def wheel(out: pathlib.Path, version: str, program: pathlib.Path, tag: str) -> pathlib.Path:
    sys.path.insert(0, str(PYTHON / "build_backend"))
    import audiotap_build
    return out / audiotap_build.build_wheel(str(out), {"program": str(program), "platform-tag": tag, "version": version})


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--linux", type=pathlib.Path, required=True)
    parser.add_argument("--windows", type=pathlib.Path, required=True)
    parser.add_argument("--out", type=pathlib.Path, default=REPOSITORY / "dist")
    args = parser.parse_args()
    version = project_version()
    # The sources carry the version too, for an install straight from them.
    node_version = json.loads((NODE / "package.json").read_text())["version"]
    python_version = re.search(r'^version = "([^"]+)"', (PYTHON / "pyproject.toml").read_text(), re.MULTILINE).group(1)
    if {node_version, python_version} != {version}:
        sys.exit(f"versions differ: CMake {version}, hosts/node {node_version}, hosts/python {python_version}")

    extra = needed_libraries(args.linux) - GLIBC_LIBRARIES
    if extra:
        sys.exit(f"{args.linux} needs {sorted(extra)} at load time: no manylinux wheel can promise that")
    major, minor = glibc_floor(args.linux)

    out = args.out.resolve()
    shutil.rmtree(out, ignore_errors=True)
    stage = out / "stage"
    stage.mkdir(parents=True)
    # The Linux program without its debugging sections; the .exe as built.
    (stage / "program").mkdir()
    linux_program = stage / "program" / "audiotap"
    subprocess.run(["strip", "-o", str(linux_program), str(args.linux)], check=True)
    made = []
    linux_name, linux_folder = platform_package(stage, version, "linux", linux_program, {"libc": ["glibc"]})
    windows_name, windows_folder = platform_package(stage, version, "win32", args.windows, {})
    made += [npm_pack(linux_folder, out), npm_pack(windows_folder, out)]
    made.append(npm_pack(main_package(stage, version, [linux_name, windows_name]), out))
    made.append(wheel(out, version, linux_program, f"manylinux_{major}_{minor}_x86_64"))
    made.append(wheel(out, version, args.windows, "win_amd64"))
    shutil.rmtree(stage)
    for file in made:
        print(file.relative_to(out.parent) if out.parent in file.parents else file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
