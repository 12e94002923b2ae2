"""What a key holds besides its children and values: class name, security descriptor, last-written time, and the
key's identity (cell offset, equality, hash)."""

import datetime
from typing import Any, Callable, Dict

import pytest

import tarnu
from tarnu.hivebuilder import NO_CELL, HiveBuilder, Key, build_hive, filetime, sk, vk

UTC = datetime.timezone.utc
DESCRIPTOR = bytes.fromhex("01000494") + bytes(range(40))

OpenImage = Callable[[bytes], tarnu.Hive]
# Makes a cell with the builder and gives its offset (or gives an offset without making one).
MakeCell = Callable[[HiveBuilder], int]


def one_key(open_image: OpenImage, **fields: Any) -> tarnu.RegistryKey:
    """The root key of a hive whose root node has `fields`; builder cells come from `fields` callables."""
    b = HiveBuilder()
    resolved = {name: value(b) if callable(value) else value for name, value in fields.items()}
    b.key("k", root=True, **resolved)
    return open_image(b.build()).root_key()


def raises(call: Callable[[], object], message: str) -> None:
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message


# ---- class names --------------------------------------------------------------------------------------------

@pytest.mark.parametrize("class_name", ["67cd88ed", "", "caf\xe9 \u2122", "\U0001F600", "a\0b\0"])
def test_class_name(open_image: OpenImage, class_name: str) -> None:
    key = open_image(build_hive(Key("k", class_name=class_name))).root_key()
    assert key.class_name() == (class_name or None)


@pytest.mark.parametrize("fields", [
    dict(), dict(class_name_offset=NO_CELL, class_name_length=8), dict(class_name_offset=0, class_name_length=8),
    dict(class_name_offset=lambda b: b.cell("text".encode("utf-16-le")), class_name_length=0),
])
def test_no_class_name(open_image: OpenImage, fields: Dict[str, Any]) -> None:
    assert one_key(open_image, **fields).class_name() is None


def stored(raw: bytes) -> MakeCell:
    return lambda b: b.cell(raw, size=-(4 + len(raw)))


@pytest.mark.parametrize("cell, length, message", [
    (stored(b"a\0b"), 3, "Invalid UTF-16 string at offset {at:#x}"),
    (stored(b"\x00\xd8a\0"), 4, "Invalid UTF-16 string at offset {at:#x}"),
    (stored("abc".encode("utf-16-le")), 8, "Truncated data at offset {at:#x}: expected 8 bytes, got 6 bytes"),
    (lambda b: 0x7FFFFFF0, 2, "Invalid offset 0x7ffffff0 (hive size: {size:#x})"),
])
def test_unreadable_class_name(open_image: OpenImage, cell: MakeCell, length: int, message: str) -> None:
    b = HiveBuilder()
    at = cell(b)
    b.key("k", root=True, class_name_offset=at, class_name_length=length)
    image = b.build()
    raises(open_image(image).root_key().class_name, message.format(at=at, size=len(image)))


def test_class_name_keeps_the_bytes_before_the_stored_length(open_image: OpenImage) -> None:
    key = one_key(open_image, class_name_offset=lambda b: b.cell("abcdef".encode("utf-16-le")), class_name_length=6)
    assert key.class_name() == "abc"


# ---- security descriptors -------------------------------------------------------------------------------------

@pytest.mark.parametrize("descriptor", [DESCRIPTOR, b"", b"\xff" * 5000])
def test_security_descriptor(open_image: OpenImage, descriptor: bytes) -> None:
    key = open_image(build_hive(Key("k", security=descriptor))).root_key()
    assert key.security_descriptor() == descriptor


@pytest.mark.parametrize("security_offset", [NO_CELL, 0])
def test_no_security_descriptor(open_image: OpenImage, security_offset: int) -> None:
    assert one_key(open_image, security_offset=security_offset).security_descriptor() is None


@pytest.mark.parametrize("cell, message", [
    (stored(sk(DESCRIPTOR)[:19]), "Truncated data at offset {at:#x}: expected 20 bytes, got 19 bytes"),
    (stored(sk(DESCRIPTOR)[:-1]), "Truncated data at offset {at:#x}: expected 64 bytes, got 63 bytes"),
    (stored(sk(b"", size=0xFFFFFFFF)), "Truncated data at offset {at:#x}: expected 4294967315 bytes, got 20 bytes"),
    (stored(sk(DESCRIPTOR, signature=b"ks")), "Invalid format: Expected 'sk' signature at offset {at:#x}"),
    (lambda b: b.cell(vk("v" * 40)), "Invalid format: Expected 'sk' signature at offset {at:#x}"),
    (lambda b: 0xFFFFF000, "Invalid offset 0xfffff000 (hive size: 0x0)"),
])
def test_unreadable_security_descriptor(open_image: OpenImage, cell: MakeCell, message: str) -> None:
    b = HiveBuilder()
    at = cell(b)
    b.key("k", root=True, security_offset=at)
    raises(open_image(b.build()).root_key().security_descriptor, message.format(at=at))


def test_security_descriptor_may_use_the_cells_slack(open_image: OpenImage) -> None:
    # The descriptor size decides, not the cell's rounding: 3 bytes from a cell with slack after them.
    key = one_key(open_image, security_offset=lambda b: b.cell(sk(b"abc")))
    assert key.security_descriptor() == b"abc"


# ---- last-written time ------------------------------------------------------------------------------------------

def as_datetime(ticks: int) -> datetime.datetime:
    return datetime.datetime(1601, 1, 1, tzinfo=UTC) + datetime.timedelta(microseconds=ticks // 10)


LAST_DATETIME_TICKS = 2650467743999999999  # 9999-12-31 23:59:59.999999


@pytest.mark.parametrize("ticks", [
    1, 9, 10, 116444736000000000, filetime(1577836800) + 1234567, 126000000000000000,
    filetime(951782400), filetime(951868800) - 1,          # 2000-02-29 and the moment before 2000-03-01
    filetime(4107542400) + 86400 * 10_000_000 - 1,         # the last tick of 2100-02-28 (not a leap year)
    LAST_DATETIME_TICKS,
])
def test_last_written(open_image: OpenImage, ticks: int) -> None:
    key = open_image(build_hive(Key("k", last_written=ticks))).root_key()
    written = key.last_written()
    assert written == as_datetime(ticks) and written.tzinfo is UTC
    assert key.last_written_filetime() == ticks


def test_last_written_unset(open_image: OpenImage) -> None:
    key = open_image(build_hive(Key("k", last_written=0))).root_key()
    assert (key.last_written(), key.last_written_filetime(), key.last_written_timestamp()) == (None, 0, None)


@pytest.mark.parametrize("ticks", [LAST_DATETIME_TICKS + 1, 0xFFFFFFFFFFFFFFFF])
def test_last_written_past_datetime(open_image: OpenImage, ticks: int) -> None:
    key = open_image(build_hive(Key("k", last_written=ticks))).root_key()
    raises(key.last_written, "FILETIME %d lies past 9999-12-31, the last day a datetime holds" % ticks)
    assert key.last_written_filetime() == ticks


# ---- identity -------------------------------------------------------------------------------------------------

def test_cell_offset_equality_and_hash(write_file: Callable[[bytes], str]) -> None:
    root = Key("root", [Key("a", [Key("b")]), Key("c")])
    path = write_file(build_hive(root))
    hive = tarnu.Hive.open(path)
    b1, b2 = hive.key("a\\b"), hive.root_key().subkeys()[0].subkeys()[0]
    assert b1 is not b2 and b1 == b2 and not (b1 != b2) and hash(b1) == hash(b2)
    assert b1.cell_offset() == root.subkeys[0].subkeys[0].offset
    assert b1.parent() == hive.key("A") != hive.key("c")
    assert len({hive.key(p) for p in ["", "a", "A", "a\\b", "c", "C"]}) == 4
    other = tarnu.Hive.open(path).key("a\\b")   # the same file opened again is another hive
    assert other != b1 and other.cell_offset() == b1.cell_offset()
    assert b1 != "a\\b" and b1 != b1.cell_offset()
    with pytest.raises(TypeError):
        b1 < b2  # type: ignore[operator]


@pytest.mark.parametrize("method, signature", [
    ("subkey", "($self, path)"), ("parent", "($self)"), ("path", "($self)"), ("class_name", "($self)"),
    ("security", "($self)"), ("security_descriptor", "($self)"), ("last_written", "($self)"), ("last_written_filetime", "($self)"),
    ("walk", "($self, errors='raise')"), ("cell_offset", "($self)"),
])
def test_new_method_signatures(method: str, signature: str) -> None:
    function = getattr(tarnu.RegistryKey, method)
    assert function.__text_signature__ == signature and function.__doc__


@pytest.mark.parametrize("method", ["parent", "path", "class_name", "security_descriptor", "last_written",
                                    "cell_offset", "walk"])
def test_new_methods_check_their_receiver(open_image: OpenImage, method: str) -> None:
    hive = open_image(build_hive(Key("k")))
    with pytest.raises(TypeError):
        getattr(tarnu.RegistryKey, method)(hive)
