"""Builds the audiotap wheel with the standard library alone, so that
`pip install hosts/python` works offline (no setuptools or wheel to fetch).
tools/package.py calls build_wheel with config settings to put the program
inside: "program" (its path), "platform-tag" (the wheel's platform tag) and
"version" (the project's version)."""
from __future__ import annotations

import base64
import hashlib
import io
import os
import pathlib
import re
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
# Zip entries carry this date, so the same inputs give the same wheel.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)


def _project() -> dict:
    text = (ROOT / "pyproject.toml").read_text(encoding="utf-8")
    fields = {}
    for key in ("name", "version", "description", "requires-python"):
        found = re.search(rf'^{re.escape(key)}\s*=\s*"([^"]*)"', text, re.MULTILINE)
        fields[key] = found.group(1) if found else ""
    return fields


def _license() -> bytes:
    for place in (ROOT / "LICENSE", ROOT.parents[1] / "LICENSE"):
        if place.exists():
            return place.read_bytes()
    raise FileNotFoundError("LICENSE: neither beside pyproject.toml nor at the repository's root")


def _metadata(project: dict, version: str) -> str:
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    return (
        "Metadata-Version: 2.1\n"
        f"Name: {project['name']}\n"
        f"Version: {version}\n"
        f"Summary: {project['description']}\n"
        "License: MIT\n"
        "Classifier: License :: OSI Approved :: MIT License\n"
        "Classifier: Typing :: Typed\n"
        f"Requires-Python: {project['requires-python']}\n"
        "Description-Content-Type: text/markdown\n"
        "\n" + readme
    )


class _Wheel:
    def __init__(self, path: pathlib.Path) -> None:
        self._zip = zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED)
        self._record: list = []

    def add(self, name: str, data: bytes, executable: bool = False) -> None:
        info = zipfile.ZipInfo(name, FIXED_TIME)
        info.compress_type = zipfile.ZIP_DEFLATED
        # pip keeps the executable bit of an entry that has one.
        info.external_attr = (0o100755 if executable else 0o100644) << 16
        self._zip.writestr(info, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        self._record.append(f"{name},sha256={digest},{len(data)}")

    def close(self, record_name: str) -> None:
        self._record.append(f"{record_name},,")
        info = zipfile.ZipInfo(record_name, FIXED_TIME)
        info.external_attr = 0o100644 << 16
        self._zip.writestr(info, "\n".join(self._record) + "\n")
        self._zip.close()


def get_requires_for_build_wheel(config_settings=None) -> list:
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None) -> str:
    settings = config_settings or {}
    project = _project()
    version = settings.get("version") or project["version"]
    program = settings.get("program")
    tag = settings.get("platform-tag") or "any"
    if program and tag == "any":
        raise ValueError("a wheel holding the program needs its platform-tag")
    name = project["name"]
    dist_info = f"{name}-{version}.dist-info"
    filename = f"{name}-{version}-py3-none-{tag}.whl"
    wheel = _Wheel(pathlib.Path(wheel_directory) / filename)
    package = ROOT / "audiotap"
    for file in sorted(package.iterdir()):
        if file.suffix == ".py" or file.name == "py.typed":
            wheel.add(f"audiotap/{file.name}", file.read_bytes())
    for file in sorted((ROOT / "examples").glob("*.py")):
        wheel.add(f"audiotap/examples/{file.name}", file.read_bytes())
    if program:
        program = pathlib.Path(program)
        wheel.add(f"audiotap/bin/{program.name}", program.read_bytes(), executable=True)
    wheel.add(f"{dist_info}/METADATA", _metadata(project, version).encode("utf-8"))
    wheel.add(f"{dist_info}/WHEEL", (
        "Wheel-Version: 1.0\n"
        "Generator: audiotap_build\n"
        f"Root-Is-Purelib: {'false' if program else 'true'}\n"
        f"Tag: py3-none-{tag}\n").encode())
    wheel.add(f"{dist_info}/LICENSE", _license())
    wheel.close(f"{dist_info}/RECORD")
    return filename
