"""Shared fixtures: writing built hives to disk, finding the real sample hives and where the builder put a record."""

from __future__ import annotations

import lzma
import os
import pathlib
import subprocess
import sys
from typing import Any, Callable, Optional, Protocol, Union

import pytest

import tarnu
from tarnu import hivebuilder as hb

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


def pytest_report_header(config: pytest.Config) -> str:
    where = os.path.dirname(tarnu.__file__) if hasattr(tarnu, "__file__") else "?"
    return "tarnu {} from {}".format(tarnu.__version__, where)
