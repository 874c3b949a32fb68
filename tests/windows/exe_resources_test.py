"""Reads the built audiotap.exe as Windows would: the manifest that makes the
command line arrive as UTF-8, the version resource that names the program,
and no debug sections left in a release build.

  /usr/bin/python3 exe_resources_test.py PATH/audiotap.exe VERSION

Exit status 0 when all hold, 1 when one does not, 77 when the .exe is not built
(a failure instead under CI).
"""

import os
import sys
import xml.etree.ElementTree as ElementTree

import pefile

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "support"))
from legs import leg_cannot_run  # noqa: E402

RT_VERSION, RT_MANIFEST = 16, 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
WINDOWS_SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"


def resource_data(pe, type_id):
    """(name id, bytes) of every resource of one type."""
    found = []
    directory = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for kind in directory.entries if directory else []:
        if kind.id != type_id:
            continue
        for name in kind.directory.entries:
            for language in name.directory.entries:
                entry = language.data.struct
                found.append((name.id, pe.get_data(entry.OffsetToData, entry.Size)))
    return found


def check_manifest(pe, problems):
    manifests = resource_data(pe, RT_MANIFEST)
    if [name for name, _ in manifests] != [CREATEPROCESS_MANIFEST_RESOURCE_ID]:
        problems.append(f"expected one manifest with id 1, found ids {[name for name, _ in manifests]}")
        return
    document = ElementTree.fromstring(manifests[0][1])
    pages = [element.text for element in document.iter(WINDOWS_SETTINGS_2019 + "activeCodePage")]
    if pages != ["UTF-8"]:
        problems.append(f"activeCodePage is {pages}, expected ['UTF-8']")


def check_version(pe, version, problems):
    if not resource_data(pe, RT_VERSION):
        problems.append("no version resource")
        return
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    expected = {"ProductName": "audiotap", "FileVersion": version, "ProductVersion": version,
                "OriginalFilename": "audiotap.exe"}
    for key, value in expected.items():
        if strings.get(key) != value:
            problems.append(f"version resource {key} is {strings.get(key)!r}, expected {value!r}")
    if not strings.get("FileDescription"):
        problems.append("version resource has no FileDescription")
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16]
    if ".".join(map(str, numbers)) != version:
        problems.append(f"fixed file version {numbers}, expected {version}")


def check_stripped(pe, problems):
    names = [section.Name.rstrip(b"\0").decode(errors="replace") for section in pe.sections]
    debug = [name for name in names if name.startswith((".debug", "/"))]
    if debug:
        problems.append(f"debug sections left in: {debug}")
    if pe.FILE_HEADER.PointerToSymbolTable or pe.FILE_HEADER.NumberOfSymbols:
        problems.append(f"a symbol table of {pe.FILE_HEADER.NumberOfSymbols} symbols is left in")


def main():
    path, version = sys.argv[1], sys.argv[2]
    if not os.path.exists(path):
        return leg_cannot_run(f"{path} is not built")
    pe = pefile.PE(path)
    problems = []
    check_manifest(pe, problems)
    check_version(pe, version, problems)
    check_stripped(pe, problems)
    for problem in problems:
        print(f"FAIL {problem}")
    print(f"{path}: {'ok' if not problems else f'{len(problems)} problems'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
