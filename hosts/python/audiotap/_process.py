"""How every start of audiotap looks: which binary, which environment, no
console window on Windows, no standard input."""
from __future__ import annotations

import os
import subprocess
import sys
from typing import Mapping, Optional

WINDOWS = sys.platform == "win32"


def binary_of(binary: Optional[str]) -> str:
    """The binary given, else AUDIOTAP_BINARY, else audiotap on the PATH."""
    return binary or os.environ.get("AUDIOTAP_BINARY") or ("audiotap.exe" if WINDOWS else "audiotap")


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
