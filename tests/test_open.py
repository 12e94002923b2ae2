"""Opening a hive file: base-block validation, its order and messages, operating-system failures."""

import array
import gc
import mmap
import os
import pathlib
import struct
import subprocess
import sys
from typing import TYPE_CHECKING, Any, Callable, Optional, Type, Union

import pytest

from tarnu import hivebuilder as hb
import tarnu

if TYPE_CHECKING:
    from typing_extensions import Buffer

OpenImage = Callable[[bytes], tarnu.Hive]

VALID = hb.base_block(hive_bins_data_size=0x1000)


def failure(open_image: OpenImage, image: bytes, kind: Type[Exception] = tarnu.CorruptHiveError) -> str:
    with pytest.raises(Exception) as info:
        open_image(image)
    assert type(info.value) is kind and len(info.value.args) == 1
    return str(info.value)


def with_words(image: Union[bytes, bytearray], **words: int) -> bytes:
    """Patch 32-bit words (position=value) into a base block, keeping its stored checksum as it is."""
    image = bytearray(image)
    for name, value in words.items():
        struct.pack_into("<I", image, int(name[1:]), value)
    return bytes(image)


def xor_to(target: int) -> bytes:
    """A base block whose words XOR to `target` (by way of the unchecked clustering factor), checksum unset."""
    block = bytearray(hb.base_block(checksum=0))
    factor = struct.unpack_from("<I", block, 44)[0] ^ hb.base_block_checksum(block) ^ target
    return with_words(block, p44=factor)


@pytest.mark.parametrize("image", [b"", bytes(100), VALID[:100], VALID[:4095], b"regf" * 1023 + b"reg"])
def test_too_small(open_image: OpenImage, image: bytes) -> None:
    assert failure(open_image, image) == \
        "Hive too small: %d bytes (minimum: 4096 bytes)" % len(image)


def test_bare_base_block_opens(open_image: OpenImage) -> None:
    hive = open_image(VALID)
    assert repr(hive) == "Hive(root_offset=0x20, hive_length=0x1000)"
    assert hive.hbins() == []
    with pytest.raises(ValueError) as info:
        hive.root_key()
    assert str(info.value) == "Invalid offset 0x20 (hive size: 0x1000)"


@pytest.mark.parametrize("signature, shown", [
    (b"rega", "rega"),
    (b"REGF", "REGF"),
    (b"\xff\x00AB", "\ufffd\x00AB"),
    (b"\xc3\xa9gf", "\u00e9gf"),
    (b"re\xe2\x82", "re\ufffd"),
    (bytes(4), "\x00\x00\x00\x00"),
])
def test_bad_signature(open_image: OpenImage, signature: bytes, shown: str) -> None:
    # Checked before the checksum: this block's checksum is wrong as well.
    image = hb.base_block(signature=signature, checksum=0x1234)
    assert failure(open_image, image) == "Invalid signature: expected regf, found " + shown


def test_checksum_off_by_one(open_image: OpenImage) -> None:
    computed = hb.base_block_checksum(VALID)
    image = with_words(VALID, p508=computed + 1)
    assert failure(open_image, image) == \
        "Checksum mismatch: expected %#x, calculated %#x" % (computed + 1, computed)


@pytest.mark.parametrize("xor, stored, message", [
    (0, 1, "Checksum mismatch: expected 0x1, calculated 0x0"),
    (0xDEADBEEF, 0, "Checksum mismatch: expected 0x0, calculated 0xdeadbeef"),
    (0xFFFFFFFF, 0, "Checksum mismatch: expected 0x0, calculated 0xffffffff"),
    (0, 0, None),
    (0xFFFFFFFF, 0xFFFFFFFF, None),
])
def test_checksum_is_compared_as_computed(open_image: OpenImage, xor: int, stored: int, message: Optional[str]) -> None:
    image = with_words(xor_to(xor), p508=stored)
    if message is None:
        assert repr(open_image(image)) == "Hive(root_offset=0x20, hive_length=0x0)"
    else:
        assert failure(open_image, image) == message


@pytest.mark.parametrize("position, covered", [(0x04, True), (0x30, True), (504, True), (507, True),
                                               (512, False), (1000, False), (4095, False)])
def test_checksum_covers_positions_0_to_507(open_image: OpenImage, position: int, covered: bool) -> None:
    image = bytearray(VALID)
    image[position] ^= 0x5A
    if covered:
        assert failure(open_image, bytes(image)).startswith("Checksum mismatch: ")
    else:
        assert open_image(bytes(image)).base_block().signature == "regf"


OPENERS = {
    "open": lambda path, *more, **options: tarnu.Hive.open(path, *more, **options),
    "from_bytes": lambda path, *more, **options: tarnu.Hive.from_bytes(pathlib.Path(path).read_bytes(), *more,
                                                                       **options),
}


@pytest.mark.parametrize("opener", OPENERS.values(), ids=OPENERS.keys())
def test_wrong_checksum_opens_only_when_asked(write_file: Callable[[bytes], str],
                                              opener: Callable[..., tarnu.Hive]) -> None:
    good = hb.build_hive(hb.Key("ROOT", [hb.Key("child")]))
    damaged = with_words(good, p12=0x1234)  # the last-written time, the checksum left as it was
    assert opener(write_file(good), ignore_checksum=True).base_block().checksum_ok
    with pytest.raises(tarnu.CorruptHiveError, match="^Checksum mismatch: "):
        opener(write_file(damaged))
    hive = opener(write_file(damaged), ignore_checksum=True)
    block = hive.base_block()
    assert (block.checksum_ok, block.checksum) == (False, struct.unpack_from("<I", good, 508)[0])
    assert block.last_written & 0xFFFFFFFF == 0x1234
    assert [path for path, _ in hive.walk()] == ["", "child"]
    # Everything else is still checked.
    with pytest.raises(tarnu.HiveError, match="^Unsupported hive version: 1.2$"):
        opener(write_file(with_words(damaged, p24=2)), ignore_checksum=True)
    with pytest.raises(TypeError, match=r"takes 1 positional arguments but 2 were given$"):
        opener(write_file(damaged), True)


def test_checksum_is_checked_before_version(open_image: OpenImage) -> None:
    image = hb.base_block(major_version=2, minor_version=0)
    image = with_words(image, p508=hb.base_block_checksum(image) ^ 1)
    assert failure(open_image, image).startswith("Checksum mismatch: ")


@pytest.mark.parametrize("major, minor", [(1, 2), (1, 7), (2, 5), (0, 5), (1, 0), (2, 3), (1, 0xFFFFFFFF),
                                          (0xFFFFFFFF, 4)])
def test_unsupported_versions(open_image: OpenImage, major: int, minor: int) -> None:
    image = hb.base_block(major_version=major, minor_version=minor)
    assert failure(open_image, image, tarnu.HiveError) == "Unsupported hive version: %d.%d" % (major, minor)


@pytest.mark.parametrize("minor", [3, 4, 5, 6])
def test_supported_versions(open_image: OpenImage, minor: int) -> None:
    assert open_image(hb.base_block(minor_version=minor)).base_block().signature == "regf"


def test_unchecked_fields_are_accepted_and_shown_unsigned(open_image: OpenImage) -> None:
    image = hb.base_block(primary_sequence=0xFFFFFFFF, secondary_sequence=7, root_cell_offset=0xFFFFFFFF,
                          hive_bins_data_size=0x80000000, file_type=9, file_format=77, clustering_factor=0,
                          last_written=0)
    hive = open_image(image)
    block = hive.base_block()
    assert (block.signature, block.primary_sequence, block.secondary_sequence, block.root_cell_offset,
            block.hive_length, block.hive_bins_data_size) == \
        ("regf", 0xFFFFFFFF, 7, 0xFFFFFFFF, 0x80000000, 0x80000000)
    assert repr(hive) == "Hive(root_offset=0xffffffff, hive_length=0x80000000)"
    assert repr(block) == "BaseBlock(signature=regf, root_offset=0xffffffff, hive_length=0x80000000)"


def test_base_block_repr_and_lifetime(open_image: OpenImage) -> None:
    hive = open_image(VALID)
    block = hive.base_block()
    assert repr(block) == "BaseBlock(signature=regf, root_offset=0x20, hive_length=0x1000)"
    assert block is not hive.base_block()
    del hive
    gc.collect()
    assert (block.signature, block.root_cell_offset, block.hive_length, block.file_name) == ("regf", 0x20, 0x1000, "")


@pytest.mark.parametrize("field, name", [
    (bytes(64), ""),
    (b"  sample.dat", "sample.dat"),
    ("HIVE", "H I V E"),
    ("\\??\\C:\\ntuser.dat", "\\ ? ? \\ C : \\ n t u s e r . d a t"),
    (b"\xe9t\xe9", "\u00e9t\u00e9"),
    (b"\x85\xa0name\xa0\x85", "name"),
    (b"\t\n\x0b\x0c\rname\r\n", "name"),
    (b"a\x00\x00b", "a  b"),
    (b"a\x85\xa0b", "a\x85\xa0b"),
    (b"\x1fx\x7f\xff", "\x1fx\x7f\xff"),
    (b"x" * 64, "x" * 64),
])
def test_file_name_decoding(open_image: OpenImage, field: Union[bytes, str], name: str) -> None:
    image = bytearray(hb.base_block(file_name=field))
    image[112] = ord("Z")  # the byte after the field must not show up
    assert open_image(hb.with_checksum(image)).base_block().file_name == name


# ---- operating-system failures ------------------------------------------------------------------------------

def os_failure(path: str, kind: Type[OSError] = OSError, errno: Optional[int] = None) -> str:
    """The text of the OSError that opening `path` raises: of class `kind`, with `errno` set, one argument."""
    with pytest.raises(OSError) as info:
        tarnu.Hive.open(path)
    assert type(info.value) is kind and len(info.value.args) == 1
    assert (info.value.errno, info.value.strerror, info.value.filename) == (errno, None, None)
    return str(info.value)


# The class is the one Python itself raises for the error number; the text stays the reader's own.
@pytest.mark.parametrize("where, kind, message", [
    ("absent.dat", FileNotFoundError, "No such file or directory (os error 2)"),
    ("", IsADirectoryError, "Is a directory (os error 21)"),
    ("file/inner", NotADirectoryError, "Not a directory (os error 20)"),
    ("n" * 300, OSError, "File name too long (os error 36)"),
])
def test_os_errors(tmp_path: pathlib.Path, where: str, kind: Type[OSError], message: str) -> None:
    (tmp_path / "file").write_bytes(VALID)
    code = int(message.rsplit(" ", 1)[1].rstrip(")"))
    assert os_failure(str(tmp_path / where), kind, code) == message


@pytest.mark.skipif(not hasattr(os, "geteuid") or os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file(write_file: Callable[[bytes], str]) -> None:
    path = write_file(VALID)
    os.chmod(path, 0)
    assert os_failure(path, PermissionError, 13) == "Permission denied (os error 13)"


@pytest.mark.parametrize("path", ["a\0b", "\0"])
def test_nul_in_path(path: str) -> None:
    assert os_failure(path) == "path contains a NUL character"


@pytest.mark.skipif(not hasattr(os, "mkfifo"), reason="no FIFOs here")
def test_fifo_without_writer_does_not_block(tmp_path: pathlib.Path) -> None:
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)
    script = ("import tarnu\n"
              "for open_ in (tarnu.Hive.open, tarnu.Hive.open_with_logs):\n"
              "    try:\n        open_(%r)\n    except ValueError as e:\n        print(e)\n" % fifo)
    # In a child process so that a blocking open fails this test instead of hanging the run.
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert done.stdout == "Hive too small: 0 bytes (minimum: 4096 bytes)\n" * 2, done.stderr


@pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")
def test_files_closed_and_mapping_released(write_file: Callable[[bytes], str]) -> None:
    def open_fds() -> int:
        return len(os.listdir("/proc/self/fd"))

    def mapped(path: str) -> bool:
        with open("/proc/self/maps") as f:
            return path in f.read()

    good, small, bad = write_file(VALID), write_file(VALID[:4000]), write_file(hb.base_block(minor_version=9))
    before = open_fds()
    hive = tarnu.Hive.open(good)
    for path in (small, bad):
        with pytest.raises(ValueError):
            tarnu.Hive.open(path)
    assert open_fds() == before
    assert mapped(good) and not mapped(bad)
    block = hive.base_block()
    del hive
    gc.collect()
    assert not mapped(good) and block.hive_length == 0x1000


# ---- paths and OS failures at every entry point -----------------------------------------------------------------

class FsPath:
    """An os.PathLike that is no pathlib path."""

    def __init__(self, path: object) -> None:
        self.path = path

    def __fspath__(self) -> Any:  # a str, or what a test wants to see refused
        if isinstance(self.path, Exception):
            raise self.path
        return self.path


def test_path_arguments_accept_path_like(tmp_path: pathlib.Path) -> None:
    image = hb.build_hive(hb.Key("ROOT", [hb.Key("a")]))
    (tmp_path / "primary.hiv").write_bytes(image)
    for path in (tmp_path / "primary.hiv", FsPath(str(tmp_path / "primary.hiv"))):
        for hive in (tarnu.Hive.open(path), tarnu.Hive.open(path=path),
                     tarnu.Hive.open_with_logs(path, tmp_path / "absent.LOG1", log2_path=FsPath("absent.LOG2"))):
            assert hive.key("a").name() == "a"
    hive.save(tmp_path / "saved.hiv")
    hive.save(path=FsPath(str(tmp_path / "again.hiv")))
    assert (tmp_path / "saved.hiv").read_bytes() == (tmp_path / "again.hiv").read_bytes() == image


@pytest.mark.parametrize("value, kind, message", [
    (FsPath(b"/tmp/x"), TypeError, "argument 'path': expected str, got bytes from FsPath"),
    (FsPath(RuntimeError("no path")), RuntimeError, "no path"),
    (FsPath(7), TypeError, None),
])
def test_path_like_that_gives_no_str(value: FsPath, kind: Type[Exception], message: Optional[str]) -> None:
    with pytest.raises(kind) as info:
        tarnu.Hive.open(value)
    assert message is None or str(info.value) == message


@pytest.mark.parametrize("call, kind, code", [
    (lambda p: tarnu.Hive.open(p / "absent"), FileNotFoundError, 2),
    (lambda p: tarnu.Hive.open_with_logs(p / "absent"), FileNotFoundError, 2),
    (lambda p: tarnu.Hive.open_with_logs(p), IsADirectoryError, 21),
    (lambda p: tarnu.Hive.from_bytes(VALID).save(p / "absent" / "out.hiv"), FileNotFoundError, 2),
    (lambda p: tarnu.Hive.from_bytes(VALID).save(p), IsADirectoryError, 21),
])
def test_os_failures_raise_the_class_of_their_errno(tmp_path: pathlib.Path, call: Callable[[pathlib.Path], object],
                                                    kind: Type[OSError], code: int) -> None:
    with pytest.raises(OSError) as info:
        call(tmp_path)
    assert type(info.value) is kind and info.value.errno == code
    assert info.value.args == (str(info.value),) and str(info.value).endswith("(os error %d)" % code)


# ---- hives from memory ----------------------------------------------------------------------------------------

MEMORY_IMAGE = hb.build_hive(hb.Key("ROOT", [hb.Key("a", values=[hb.Value("v", hb.REG_SZ, "text")])]))


def strided(data: bytes) -> memoryview:
    """A memoryview of `data` that is not contiguous."""
    doubled = bytearray(2 * len(data))
    doubled[::2] = data
    return memoryview(doubled)[::2]


@pytest.mark.parametrize("wrap", [
    bytes, bytearray, memoryview, lambda d: memoryview(bytearray(d)), lambda d: array.array("B", d),
    lambda d: array.array("I", d), strided,
], ids=["bytes", "bytearray", "memoryview", "memoryview-bytearray", "array-B", "array-I", "strided"])
def test_from_bytes_reads_like_open(write_file: Callable[[bytes], str], wrap: Callable[[bytes], "Buffer"]) -> None:
    from_memory = tarnu.Hive.from_bytes(wrap(MEMORY_IMAGE))
    from_file = tarnu.Hive.open(write_file(MEMORY_IMAGE))
    assert repr(from_memory) == repr(from_file)
    assert [(p, k.cell_offset()) for p, k in from_memory.walk()] == [(p, k.cell_offset()) for p, k in from_file.walk()]
    assert from_memory.key("A").value("V").data().as_string() == "text"


def test_from_bytes_of_a_mapped_file(write_file: Callable[[bytes], str]) -> None:
    with open(write_file(MEMORY_IMAGE), "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        hive = tarnu.Hive.from_bytes(mapped)
    assert hive.key("a").name() == "a"


def test_from_bytes_copies_once(tmp_path: pathlib.Path) -> None:
    data = bytearray(MEMORY_IMAGE)
    hive = tarnu.Hive.from_bytes(data=data)
    data[:] = bytes(len(data))
    assert hive.key("a").value("v").data().as_string() == "text"
    hive.save(str(tmp_path / "saved.hiv"))
    assert (tmp_path / "saved.hiv").read_bytes() == MEMORY_IMAGE


@pytest.mark.parametrize("image", [
    b"", bytes(100), VALID[:4095], hb.base_block(signature=b"rega"), hb.base_block(checksum=1),
    hb.base_block(minor_version=7), VALID + bytes(4096),
])
def test_from_bytes_validates_like_open(open_image: OpenImage, image: bytes) -> None:
    expected: Union[str, ValueError]
    try:
        expected = repr(open_image(image))
    except ValueError as error:
        expected = error
    if isinstance(expected, str):
        assert repr(tarnu.Hive.from_bytes(image)) == expected
    else:
        with pytest.raises(ValueError) as info:
            tarnu.Hive.from_bytes(image)
        assert str(info.value) == str(expected)


@pytest.mark.parametrize("value, name", [(5, "int"), ("regf", "str"), ([1, 2], "list"), (None, "NoneType"),
                                         (1.5, "float")])
def test_from_bytes_needs_a_bytes_like_object(value: object, name: str) -> None:
    with pytest.raises(TypeError) as info:
        tarnu.Hive.from_bytes(value)  # type: ignore[arg-type]
    assert str(info.value) == "argument 'data': expected a bytes-like object, got " + name


def test_from_bytes_arguments() -> None:
    method = tarnu.Hive.from_bytes
    assert (method.__text_signature__, bool(method.__doc__)) == (  # type: ignore[attr-defined]
        "(data, *, ignore_checksum=False)", True)
    with pytest.raises(TypeError, match=r"^Hive.from_bytes\(\) missing 1 required positional argument: 'data'$"):
        method()  # type: ignore[call-arg]
