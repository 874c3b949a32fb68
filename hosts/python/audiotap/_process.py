"""How every start of audiotap looks: which binary, which environment, no
console window on Windows, no standard input."""
from __future__ import annotations

import os
import pathlib
import shutil
import subprocess
import sys
from typing import Mapping, Optional

WINDOWS = sys.platform == "win32"
PROGRAM = "audiotap.exe" if WINDOWS else "audiotap"
# Where a platform wheel puts the program, inside the package.
PACKAGED = pathlib.Path(__file__).resolve().parent / "bin" / PROGRAM


class BinaryNotFound(FileNotFoundError):
    """No audiotap program where the library looked."""


def binary_of(binary: Optional[str]) -> str:
    """The binary given, else AUDIOTAP_BINARY, else the program of the
    platform wheel, else audiotap on the PATH. Raises BinaryNotFound, naming
    where it looked, when none is there."""
    if binary:
        if os.sep in binary or (os.altsep and os.altsep in binary):
            if not os.path.exists(binary):
                raise BinaryNotFound(f"audiotap: the binary argument names {binary}, which does not exist")
        return binary
    variable = os.environ.get("AUDIOTAP_BINARY")
    if variable:
        if not os.path.exists(variable):
            raise BinaryNotFound(f"audiotap: AUDIOTAP_BINARY names {variable}, which does not exist")
        return variable
    if PACKAGED.exists():
        return str(PACKAGED)
    found = shutil.which(PROGRAM)
    if found:
        return found
    raise BinaryNotFound(
        "audiotap: no audiotap program found. Pass binary=..., set AUDIOTAP_BINARY, or install the audiotap "
        "wheel made for this platform (win_amd64, or manylinux x86_64), which holds the program; a wheel or "
        "source install without it holds the library alone.")


def popen(binary: Optional[str], arguments: list, env: Optional[Mapping[str, str]]) -> subprocess.Popen:
    return subprocess.Popen(
        [binary_of(binary), *arguments],
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        bufsize=0,
        env={**os.environ, **(env or {})},
        creationflags=subprocess.CREATE_NO_WINDOW if WINDOWS else 0,
    )
