"""Shared fixtures: writing built hives to disk, finding the real sample hives and where the builder put a record;
reading a .reg file back."""

from __future__ import annotations

import datetime
import lzma
import os
import pathlib
import re
import subprocess
import sys
from typing import Any, Callable, Dict, List, Optional, Protocol, Sequence, Tuple, Union

import pytest

import tarnu
from tarnu import hivebuilder as hb
from tarnu.hivebuilder import REG_BINARY, REG_DWORD, REG_SZ

SAMPLES = pathlib.Path(__file__).resolve().parents[2] / "shared" / "hives"

# The C++ tests of the core are built by CMake and run by CTest.
collect_ignore = ["cpp"]


class WriteFile(Protocol):
    """The write_file fixture: writes `data` (to `name` under the temporary folder when given), returns the path."""

    def __call__(self, data: bytes, name: Optional[str] = None) -> str: ...


# The open_image fixture: a hive image in, the Hive opened from its file out.
OpenImage = Callable[[bytes], tarnu.Hive]


class TarnuCommand(Protocol):
    """The tarnu_command fixture: `python -m tarnu ARGS...`; keywords go to subprocess.run."""

    def __call__(self, *args: Union[str, os.PathLike[str]], **kwargs: Any) -> subprocess.CompletedProcess[bytes]: ...


@pytest.fixture
def write_file(tmp_path: pathlib.Path) -> WriteFile:
    """Write bytes to a fresh file under the test's temporary folder and return its path as str."""
    counter = iter(range(1_000_000))

    def write(data: bytes, name: Optional[str] = None) -> str:
        path = tmp_path / (name or "file{}.bin".format(next(counter)))
        path.write_bytes(bytes(data))
        return str(path)

    return write


@pytest.fixture
def open_image(write_file: WriteFile) -> OpenImage:
    """Write a hive image to disk and open it with Hive.open."""

    def open_(image: bytes) -> tarnu.Hive:
        return tarnu.Hive.open(write_file(image))

    return open_


# The builder's additions to a hive under construction: build(builder, offset of the root's cell).
Build = Callable[[hb.HiveBuilder, int], None]


def under_root(build: Build, *keys: hb.Key) -> hb.HiveBuilder:
    """A builder whose live root key has `keys` (descriptions) as children; `build(b, root)` adds more before the
    root is written. Returns the builder."""
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    live = [b.add(key, parent=root) for key in keys]
    build(b, root)
    b.key("root", root=True, at=root, subkeys=live)
    return b


def stored_at(record: Union[hb.Key, hb.Value]) -> int:
    """The cell offset at which a HiveBuilder stored a Key or Value description."""
    assert record.offset is not None, "the builder has not stored this record"
    return record.offset


def sample_path(name: str, tmp_dir: pathlib.Path) -> str:
    """Path of a real sample hive (decompressed into `tmp_dir` when it is .xz); skips when samples are absent."""
    source = SAMPLES / name
    if not source.exists():
        pytest.skip("sample hives are not available")
    if source.suffix != ".xz":
        return str(source)
    target = pathlib.Path(tmp_dir) / source.stem
    if not target.exists():
        target.write_bytes(lzma.decompress(source.read_bytes()))
    return str(target)


@pytest.fixture(scope="session")
def samples_dir(tmp_path_factory: pytest.TempPathFactory) -> pathlib.Path:
    """A folder for decompressed sample hives, shared by the whole run."""
    return tmp_path_factory.mktemp("samples")


@pytest.fixture
def tarnu_command() -> TarnuCommand:
    """Run `python -m tarnu ARGS...` in a child process with this run's tarnu; returns the CompletedProcess
    (stdout and stderr as bytes)."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), PYTHONIOENCODING="ascii")
    env.pop("PYTHONUTF8", None)

    def run(*args: Union[str, os.PathLike[str]], **kwargs: Any) -> subprocess.CompletedProcess[bytes]:
        kwargs.setdefault("timeout", 300)
        return subprocess.run([sys.executable, "-m", "tarnu"] + [str(a) for a in args], capture_output=True,
                              env=env, **kwargs)

    return run


# A value in a .reg file: name, type and data.
RegValue = Tuple[str, int, bytes]


def reg_string(text: str, at: int) -> Tuple[str, int]:
    """The quoted string at text[at] (regedit's escapes \\\\ and \\"); returns it and the position after it."""
    assert text[at] == '"'
    out, i = [], at + 1
    while text[i] != '"':
        if text[i] == "\\":
            i += 1
            assert text[i] in '\\"'
        out.append(text[i])
        i += 1
    return "".join(out), i + 1


def parse_reg(data: bytes) -> Dict[str, List[RegValue]]:
    """{key: [(name, type, bytes)]} of a .reg file, checking its layout on the way."""
    assert data[:2] == b"\xff\xfe"
    text = data[2:].decode("utf-16-le")
    lines = text.split("\r\n")
    assert "\n" not in "".join(lines) and lines[:2] == ["Windows Registry Editor Version 5.00", ""]
    # Hex data is wrapped at 80 columns; a line whose value name alone nearly fills it holds one byte.
    assert all(len(line) <= 80 or re.search(r"\):[0-9a-f]{2},\\$|=hex:[0-9a-f]{2},\\$", line)
               for line in lines if line.startswith("  ") or line.endswith(",\\"))
    keys: Dict[str, List[RegValue]] = {}
    current, i = "", 2
    while i < len(lines):
        line = lines[i]
        while line.endswith(",\\"):
            i += 1
            assert lines[i].startswith("  ") and len(lines[i]) > 2
            line = line[:-1] + lines[i][2:]
        i += 1
        if line.startswith("["):
            current = line[1:-1]
            keys[current] = []
        elif line:
            if line.startswith("@="):
                name, at = "", 1
            else:
                name, at = reg_string(line, 0)
            assert line[at] == "="
            rest = line[at + 1:]
            if rest.startswith('"'):
                text_value, end = reg_string(rest, 0)
                assert end == len(rest)
                keys[current].append((name, REG_SZ, text_value.encode("utf-16-le") + b"\0\0"))
                continue
            match = re.fullmatch(r"dword:([0-9a-f]{8})|hex(?:\(([0-9a-f]+)\))?:((?:[0-9a-f]{2},)*[0-9a-f]{2})?", rest)
            assert match, rest
            if match.group(1):
                keys[current].append((name, REG_DWORD, int(match.group(1), 16).to_bytes(4, "little")))
            else:
                kind = REG_BINARY if match.group(2) is None else int(match.group(2), 16)
                keys[current].append((name, kind, bytes.fromhex((match.group(3) or "").replace(",", ""))))
    return keys


def pytest_report_header(config: pytest.Config) -> str:
    where = os.path.dirname(tarnu.__file__) if hasattr(tarnu, "__file__") else "?"
    return "tarnu {} from {}".format(tarnu.__version__, where)


def typed_hive(open_image: OpenImage, *children: hb.Key, file_name: str = "", root: str = "ROOT") -> tarnu.Hive:
    """A hive whose root key `root` holds `children`, with `file_name` in its base block."""
    return open_image(bytes(hb.build_hive(hb.Key(root, list(children)), file_name=file_name)))


def system_keys(*control_set: hb.Key, current: int = 1) -> List[hb.Key]:
    """The root children of a SYSTEM hive: Select naming ControlSet00<current>, which holds `control_set`."""
    select = hb.Key("Select", values=[hb.Value("Current", hb.REG_DWORD, current)])
    return [select, hb.Key("ControlSet{:03}".format(current), list(control_set))]


def nested(path: str, *leaf_keys: hb.Key, values: Sequence[hb.Value] = (), timestamp: Optional[int] = None) -> hb.Key:
    """Keys along a backslash-separated `path`, the last holding `values` and `leaf_keys`."""
    names = path.split("\\")
    key = hb.Key(names[-1], list(leaf_keys), list(values), timestamp=timestamp)
    for name in reversed(names[:-1]):
        key = hb.Key(name, [key])
    return key


# 2017-07-12 07:18:28 UTC: the time that report tests store, as Unix seconds and as the datetime reports give.
WHEN = 1499843908
WHEN_TIME = datetime.datetime(2017, 7, 12, 7, 18, 28, tzinfo=datetime.timezone.utc)


def ft(seconds: int = WHEN) -> bytes:
    """A FILETIME's 8 bytes for Unix `seconds`."""
    return hb.filetime(seconds).to_bytes(8, "little")


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


def software(*keys: hb.Key) -> List[hb.Key]:
    """The root children of a SOFTWARE hive holding `keys` (Microsoft among them, or added)."""
    return [hb.Key("Classes"), *keys] if any(k.name == "Microsoft" for k in keys) else [
        hb.Key("Classes"), hb.Key("Microsoft"), *keys]


def ntuser(*keys: hb.Key) -> List[hb.Key]:
    """The root children of an NTUSER.DAT hive holding `keys`."""
    return [hb.Key("Environment"), *keys]


def scrambled(key: hb.Key, seed: int) -> hb.Key:
    """`key` with every value's data replaced by bytes of another length, typed as a string, a number or binary."""
    values = [hb.Value(v.name, (hb.REG_SZ, hb.REG_DWORD, hb.REG_BINARY, hb.REG_MULTI_SZ)[(seed + i) % 4],
                       bytes((seed * 7 + i * 13 + j) % 256 for j in range((seed + i) % 11)), storage="cell")
              for i, v in enumerate(key.values)]
    return hb.Key(key.name, [scrambled(k, seed + n + 1) for n, k in enumerate(key.subkeys)], values)


def report_results(hive: tarnu.Hive, name: str) -> Tuple[List[Any], List[Any]]:
    """The records and the notes of one report run on `hive`."""
    import tarnu.reports

    results = list(tarnu.reports.run(hive, [name]))
    return [r.record for r in results if not r.is_note], [r.record for r in results if r.is_note]


def check_report(hive: tarnu.Hive, name: str, expected: Sequence[Dict[str, Any]]) -> None:
    """Report `name` notes nothing on `hive` and yields one record per item of `expected`, holding its fields."""
    records, notes = report_results(hive, name)
    assert notes == []
    got = [{field: getattr(record, field) for field in wanted} for record, wanted in zip(records, expected)]
    assert got == list(expected)
    assert len(records) == len(expected)


def check_notes(hive: tarnu.Hive, name: str, count: int, note: str) -> None:
    """Report `name` yields `count` records from damaged data on `hive` and notes what it could not read."""
    records, notes = report_results(hive, name)
    assert len(records) == count
    assert any(note in n.text for n in notes), notes


def check_no_report_stops(open_image: OpenImage, cases: Sequence[Tuple[List[hb.Key], str, Any]], seed: int) -> None:
    """No report of `cases` (root children, report name, ...) stops when every value's data has another shape."""
    import tarnu.reports

    for children, name, _ in cases:
        hive = typed_hive(open_image, *[scrambled(k, seed) for k in children])
        stopped = [r.record for r in tarnu.reports.run(hive, [name]) if r.is_note and "stopped" in r.record.text]
        assert stopped == [], name
