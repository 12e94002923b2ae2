"""Hive.save: the image written out whole, replacing the target only once it is complete."""

import os
import pathlib
import stat
import subprocess
import sys
import threading
from typing import Any, Dict, List, Optional, Tuple

import pytest

import tarnu
from conftest import WriteFile, sample_path
from tarnu.hivebuilder import REG_BINARY, REG_DWORD, REG_SZ, Key, Value, build_hive, log_file, with_checksum

IMAGE = build_hive(Key("ROOT", [Key("Child", values=[Value("s", REG_SZ, "text")]), Key("Other")],
                       [Value("d", REG_DWORD, 7), Value("blob", REG_BINARY, bytes(range(200)) * 100)]))
SMALL = build_hive(Key("SMALL", values=[Value("d", REG_DWORD, 1)]))
assert len(SMALL) < len(IMAGE)

# What dump shows of a key: its name, its values as (name, type, raw data), and the same of its subkeys.
Dump = Tuple[str, List[Tuple[str, int, bytes]], List["Dump"]]


def dump(key: tarnu.RegistryKey) -> Dump:
    """Everything a key shows, recursively."""
    return (key.name(), [(v.name(), v.value_type().type_id(), v.raw_data()) for v in key.values()],
            [dump(k) for k in key.subkeys()])


def listing(directory: pathlib.Path) -> List[str]:
    return sorted(os.listdir(directory))


@pytest.fixture
def hive(write_file: WriteFile) -> tarnu.Hive:
    return tarnu.Hive.open(write_file(IMAGE, "primary.hiv"))


@pytest.mark.parametrize("sample", [None, "minimal", "special", "rlenvalue_test_hive", "NTUSER.DAT.xz"])
def test_opened_hive_saved_byte_for_byte(tmp_path: pathlib.Path, samples_dir: pathlib.Path, write_file: WriteFile,
                                         sample: Optional[str]) -> None:
    source = write_file(IMAGE) if sample is None else sample_path(sample, samples_dir)
    tarnu.Hive.open(source).save(str(tmp_path / "out.hiv"))
    assert (tmp_path / "out.hiv").read_bytes() == open(source, "rb").read()


def test_replayed_hive_saved(tmp_path: pathlib.Path, write_file: WriteFile) -> None:
    primary = write_file(IMAGE, "p.hiv")
    log = write_file(log_file(1, [[(48, b"n\0e\0w\0"), (len(IMAGE) + 4000, b"tail")]]), "p.LOG1")
    before = [(open(p, "rb").read(), os.stat(p).st_mtime_ns) for p in (primary, log)]
    hive = tarnu.Hive.open_with_logs(primary, log)
    patched = bytearray(IMAGE + bytes(4000) + b"tail")
    patched[48:54] = b"n\0e\0w\0"
    expected = with_checksum(patched)
    for name in ("a.hiv", "b.hiv"):
        hive.save(str(tmp_path / name))
        assert (tmp_path / name).read_bytes() == expected
    saved = tarnu.Hive.open(str(tmp_path / "a.hiv"))
    assert dump(saved.root_key()) == dump(hive.root_key())
    assert saved.base_block().file_name == "n e w"
    assert [(open(p, "rb").read(), os.stat(p).st_mtime_ns) for p in (primary, log)] == before
    assert listing(tmp_path) == ["a.hiv", "b.hiv", "p.LOG1", "p.hiv"]


@pytest.mark.parametrize("old", [b"", b"x" * 10, b"y" * (3 * len(IMAGE))], ids=["empty", "shorter", "longer"])
def test_existing_file_replaced(hive: tarnu.Hive, tmp_path: pathlib.Path, old: bytes) -> None:
    target = tmp_path / "out.hiv"
    target.write_bytes(old)
    hive.save(str(target))
    assert target.read_bytes() == IMAGE
    assert listing(tmp_path) == ["out.hiv", "primary.hiv"]


@pytest.mark.parametrize("where, text", [
    ("missing/out.hiv", "No such file or directory (os error 2)"),
    ("primary.hiv/out.hiv", "Not a directory (os error 20)"),
    ("folder", "Is a directory (os error 21)"),
    ("link-to-folder", "Is a directory (os error 21)"),
    ("", "No such file or directory (os error 2)"),
    ("out\0.hiv", "path contains a NUL character"),
])
def test_save_fails_without_leaving_files(hive: tarnu.Hive, tmp_path: pathlib.Path, where: str, text: str) -> None:
    (tmp_path / "folder").mkdir()
    (tmp_path / "link-to-folder").symlink_to("folder")
    before = listing(tmp_path)
    with pytest.raises(OSError) as e:
        hive.save(os.path.join(str(tmp_path), where) if where else "")
    assert str(e.value) == text
    assert listing(tmp_path) == before and listing(tmp_path / "folder") == []


FAILING_SAVE = """
import resource, signal, sys, tarnu
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
hive = tarnu.Hive.open(sys.argv[1])
resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.getrlimit(resource.RLIMIT_FSIZE)[1]))
try:
    hive.save(sys.argv[2])
except OSError as e:
    print(e)
"""


def test_failed_write_keeps_existing_file(hive: tarnu.Hive, tmp_path: pathlib.Path) -> None:
    # A file-size limit makes the write fail part way, for root as well.
    target = tmp_path / "out.hiv"
    target.write_bytes(b"old contents")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    result = subprocess.run([sys.executable, "-c", FAILING_SAVE, str(tmp_path / "primary.hiv"), str(target)],
                            capture_output=True, text=True, env=env, timeout=60)
    assert result.stdout == "File too large (os error 27)\n", result.stderr
    assert target.read_bytes() == b"old contents"
    assert listing(tmp_path) == ["out.hiv", "primary.hiv"]


@pytest.mark.skipif(os.geteuid() == 0, reason="root writes to read-only folders")
def test_unwritable_folder_keeps_existing_file(hive: tarnu.Hive, tmp_path: pathlib.Path) -> None:
    folder = tmp_path / "locked"
    folder.mkdir()
    (folder / "out.hiv").write_bytes(b"old")
    folder.chmod(0o555)
    try:
        with pytest.raises(OSError, match=r"^Permission denied \(os error 13\)$"):
            hive.save(str(folder / "out.hiv"))
        assert listing(folder) == ["out.hiv"] and (folder / "out.hiv").read_bytes() == b"old"
    finally:
        folder.chmod(0o755)


@pytest.mark.parametrize("source", ["same hive", "other hive"])
def test_save_over_the_mapped_backing_file(hive: tarnu.Hive, tmp_path: pathlib.Path, write_file: WriteFile,
                                           source: str) -> None:
    path = str(tmp_path / "primary.hiv")
    root = hive.root_key()
    expected = dump(root)
    image = IMAGE if source == "same hive" else SMALL
    (hive if source == "same hive" else tarnu.Hive.open(write_file(SMALL))).save(path)
    assert open(path, "rb").read() == image
    assert dump(root) == dump(hive.root_key()) == expected
    hive.save(str(tmp_path / "again.hiv"))
    assert (tmp_path / "again.hiv").read_bytes() == IMAGE


@pytest.mark.parametrize("mode", [0o600, 0o640, 0o755, 0o444])
def test_replaced_file_keeps_its_mode(hive: tarnu.Hive, tmp_path: pathlib.Path, mode: int) -> None:
    target = tmp_path / "out.hiv"
    target.write_bytes(b"old")
    target.chmod(mode)
    hive.save(str(target))
    assert stat.S_IMODE(os.stat(target).st_mode) == mode
    assert target.read_bytes() == IMAGE


@pytest.mark.parametrize("umask", [0o022, 0o077])
def test_new_file_mode_follows_umask(hive: tarnu.Hive, tmp_path: pathlib.Path, umask: int) -> None:
    old = os.umask(umask)
    try:
        hive.save(str(tmp_path / "out.hiv"))
    finally:
        os.umask(old)
    assert stat.S_IMODE(os.stat(tmp_path / "out.hiv").st_mode) == 0o666 & ~umask


@pytest.mark.parametrize("existing", [True, False], ids=["existing", "dangling"])
def test_symlink_target_is_followed(hive: tarnu.Hive, tmp_path: pathlib.Path, existing: bool) -> None:
    (tmp_path / "real").mkdir()
    if existing:
        (tmp_path / "real" / "file.hiv").write_bytes(b"old")
    link = tmp_path / "link.hiv"
    link.symlink_to(os.path.join("real", "file.hiv"))
    hive.save(str(link))
    assert os.readlink(link) == os.path.join("real", "file.hiv")
    assert (tmp_path / "real" / "file.hiv").read_bytes() == IMAGE
    assert listing(tmp_path) == ["link.hiv", "primary.hiv", "real"]
    assert listing(tmp_path / "real") == ["file.hiv"]


def test_symlink_loop_fails(hive: tarnu.Hive, tmp_path: pathlib.Path) -> None:
    (tmp_path / "loop").symlink_to("loop")
    with pytest.raises(OSError, match=r"^Too many levels of symbolic links \(os error 40\)$"):
        hive.save(str(tmp_path / "loop"))
    assert os.path.islink(tmp_path / "loop")


def test_fifo_target_written_directly(hive: tarnu.Hive, tmp_path: pathlib.Path) -> None:
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    received: List[bytes] = []
    reader = threading.Thread(target=lambda: received.append(open(fifo, "rb").read()))
    reader.start()
    try:
        hive.save(str(fifo))
    finally:
        try:  # free the reader if the save never opened the pipe
            os.close(os.open(fifo, os.O_WRONLY | os.O_NONBLOCK))
        except OSError:
            pass
        reader.join(10)
    assert received == [IMAGE]
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode)


class Text(str):
    pass


@pytest.mark.parametrize("args, kwargs, text", [
    ((), {}, "Hive.save() missing 1 required positional argument: 'path'"),
    (("a", "b"), {}, "Hive.save() takes 1 positional arguments but 2 were given"),
    ((b"out.hiv",), {}, "argument 'path': "),
    ((None,), {}, "argument 'path': "),
    (("a",), {"path": "b"}, "Hive.save() got multiple values for argument 'path'"),
    ((), {"file": "a"}, "Hive.save() got an unexpected keyword argument 'file'"),
])
def test_argument_errors(hive: tarnu.Hive, args: Tuple[Any, ...], kwargs: Dict[str, Any], text: str) -> None:
    with pytest.raises(TypeError) as e:
        hive.save(*args, **kwargs)
    assert str(e.value).startswith(text) if text.endswith(": ") else str(e.value) == text


def test_path_by_keyword_and_str_subclass(hive: tarnu.Hive, tmp_path: pathlib.Path) -> None:
    assert hive.save(path=Text(tmp_path / "out.hiv")) is None  # type: ignore[func-returns-value]
    assert (tmp_path / "out.hiv").read_bytes() == IMAGE
    with pytest.raises(TypeError):
        tarnu.Hive.save(object(), str(tmp_path / "x.hiv"))  # type: ignore[arg-type]
