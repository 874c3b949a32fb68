"""Where the library finds the program: the argument, AUDIOTAP_BINARY, the
program inside a platform wheel, the PATH; and what it says when there is none."""
import pytest

import audiotap
from audiotap import _process


@pytest.fixture
def places(tmp_path, monkeypatch):
    """An own program, a packaged one and one on the PATH, all present."""
    files = {}
    for name, relative in (("own", "own/audiotap"), ("packaged", "pkg/bin/audiotap"), ("path", "path/audiotap")):
        file = tmp_path / relative
        file.parent.mkdir(parents=True)
        file.write_text("#!/bin/sh\n")
        file.chmod(0o755)
        files[name] = file
    monkeypatch.setattr(_process, "PACKAGED", files["packaged"])
    monkeypatch.setenv("PATH", str(files["path"].parent))
    monkeypatch.delenv("AUDIOTAP_BINARY", raising=False)
    return files


def test_the_program_is_looked_up_in_order(places, monkeypatch):
    monkeypatch.setenv("AUDIOTAP_BINARY", str(places["own"]))
    assert audiotap.binary_of(str(places["path"])) == str(places["path"]), "the argument first"
    assert audiotap.binary_of(None) == str(places["own"]), "then the variable"
    monkeypatch.delenv("AUDIOTAP_BINARY")
    assert audiotap.binary_of(None) == str(places["packaged"]), "then the wheel's program"
    places["packaged"].unlink()
    assert audiotap.binary_of(None) == str(places["path"]), "then the PATH"
    assert audiotap.binary_of("audiotap-sim") == "audiotap-sim", "a bare name is left to the PATH"


@pytest.mark.parametrize("setup, argument, wanted", [
    ("variable", None, ["AUDIOTAP_BINARY names /gone/audiotap"]),
    ("argument", "/gone/audiotap", ["binary argument names /gone/audiotap"]),
    ("nothing", None, ["binary=", "AUDIOTAP_BINARY", "wheel made for this platform"]),
])
def test_a_missing_program_is_named_and_with_none_the_error_names_every_way(places, monkeypatch, setup, argument,
                                                                             wanted):
    places["packaged"].unlink()
    places["path"].unlink()
    if setup == "variable":
        monkeypatch.setenv("AUDIOTAP_BINARY", "/gone/audiotap")
    with pytest.raises(audiotap.BinaryNotFound) as raised:
        audiotap.start_capture("default", binary=argument)
    assert isinstance(raised.value, FileNotFoundError)
    for text in wanted:
        assert text in str(raised.value)
