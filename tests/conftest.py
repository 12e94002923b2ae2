"""Shared fixtures: writing built hives to disk and finding the real sample hives."""

import lzma
import os
import pathlib
import subprocess
import sys

import pytest

import tarnu

SAMPLES = pathlib.Path(__file__).resolve().parents[2] / "shared" / "hives"

# The C++ tests of the core are built by CMake and run by CTest.
collect_ignore = ["cpp"]


@pytest.fixture
def write_file(tmp_path):
    """Write bytes to a fresh file under the test's temporary folder and return its path as str."""
    counter = iter(range(1_000_000))

    def write(data, name=None):
        path = tmp_path / (name or "file{}.bin".format(next(counter)))
        path.write_bytes(bytes(data))
        return str(path)

    return write


@pytest.fixture
def open_image(write_file):
    """Write a hive image to disk and open it with Hive.open."""

    def open_(image):
        return tarnu.Hive.open(write_file(image))

    return open_


def sample_path(name, tmp_dir):
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
def samples_dir(tmp_path_factory):
    """A folder for decompressed sample hives, shared by the whole run."""
    return tmp_path_factory.mktemp("samples")


@pytest.fixture
def tarnu_command():
    """Run `python -m tarnu ARGS...` in a child process with this run's tarnu; returns the CompletedProcess
    (stdout and stderr as bytes)."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path), PYTHONIOENCODING="ascii")
    env.pop("PYTHONUTF8", None)

    def run(*args, **kwargs):
        kwargs.setdefault("timeout", 300)
        return subprocess.run([sys.executable, "-m", "tarnu"] + [str(a) for a in args], capture_output=True,
                              env=env, **kwargs)

    return run


def pytest_report_header(config):
    where = os.path.dirname(tarnu.__file__) if hasattr(tarnu, "__file__") else "?"
    return "tarnu {} from {}".format(tarnu.__version__, where)
