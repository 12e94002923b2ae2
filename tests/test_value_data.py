"""Where value data is read from (inline, one cell, big-data chains) and how it is decoded by type."""

import pathlib
import random
import struct
from typing import Any, Callable, Dict, List, Optional, Set, Tuple, Union

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import sample_path

FAR = 0x7FFFFFF0  # a cell offset far past the end of every test image
CHUNK = hb.MAX_CELL_DATA
BLOB = random.Random(7).getrandbits(8 * 40000).to_bytes(40000, "little")  # randbytes is 3.9+
FAR_MESSAGE = "Invalid offset %#x (hive size: {size:#x})" % FAR

OpenImage = Callable[[bytes], tarnu.Hive]
# Fields of a value key, as hb.vk takes them.
VkFields = Dict[str, Any]


def read(open_image: OpenImage, builder: hb.HiveBuilder,
         vk_fields: VkFields) -> Tuple[tarnu.RegistryValue, Union[tarnu.RegistryValue, ValueError], int]:
    """One value key "v" on a root key: (values()[0], value("v") or its ValueError, image length)."""
    builder.key("root", values=[builder.cell(hb.vk("v", **vk_fields))], root=True)
    image = builder.build()
    root = open_image(image).root_key()
    found: Union[tarnu.RegistryValue, ValueError]
    try:
        found = root.value("v")
    except ValueError as error:
        found = error
    return root.values()[0], found, len(image)


def data_of(open_image: OpenImage, builder: hb.HiveBuilder, vk_fields: VkFields) -> bytes:
    """The value's bytes, on which values() and value() agree."""
    listed, found, _ = read(open_image, builder, vk_fields)
    assert isinstance(found, tarnu.RegistryValue)
    assert found.raw_data() == listed.raw_data() and listed.data_size() == len(listed.raw_data())
    return listed.raw_data()


def unreadable(open_image: OpenImage, builder: hb.HiveBuilder, vk_fields: VkFields, message: str) -> None:
    """values() lists the value with empty data; value() raises `message` ({size} = image length)."""
    listed, found, size = read(open_image, builder, vk_fields)
    assert (listed.raw_data(), listed.data_size(), listed.data().is_none()) == (b"", 0, True)
    assert isinstance(found, ValueError) and str(found) == message.format(size=size)


# -- inline, empty and single-cell data ---------------------------------------------

@pytest.mark.parametrize("data_size, expected", [
    (1, b"\x11"), (2, b"\x11\x22"), (3, b"\x11\x22\x33"), (4, b"\x11\x22\x33\x44"),
    (0x80000001, b"\x11"), (0x80000004, b"\x11\x22\x33\x44"), (0x80000000, b""), (0, b"")])
def test_inline_data(open_image: OpenImage, data_size: int, expected: bytes) -> None:
    fields = dict(data_size=data_size, data_offset=0x44332211, data_type=hb.REG_BINARY)
    assert data_of(open_image, hb.HiveBuilder(), fields) == expected


@pytest.mark.parametrize("data_size", [5, CHUNK, CHUNK + 1, 0x7FFFFFFF, 0x80000005])
@pytest.mark.parametrize("data_offset", [0, hb.NO_CELL])
def test_no_data_cell_means_empty_data(open_image: OpenImage, data_size: int, data_offset: int) -> None:
    # A read at either offset would fail, so value() succeeding shows that nothing was read.
    fields = dict(data_size=data_size, data_offset=data_offset)
    assert data_of(open_image, hb.HiveBuilder(), fields) == b""


@pytest.mark.parametrize("payload, data_size, expected", ids=["slack", "slack5", "short", "max"], argvalues=[
    (bytes(range(1, 13)), 8, bytes(range(1, 9))),          # slack after the data is dropped
    (bytes(range(1, 13)), 5, bytes(range(1, 6))),
    (bytes(range(1, 13)), 40, bytes(range(1, 13))),        # a short cell gives what it holds
    (BLOB[:CHUNK] + b"\xff" * 4, CHUNK, BLOB[:CHUNK]),      # the largest single-cell size
])
@pytest.mark.parametrize("free", [False, True])
def test_single_cell_data(open_image: OpenImage, payload: bytes, data_size: int, expected: bytes, free: bool) -> None:
    b = hb.HiveBuilder()
    fields = dict(data_size=data_size, data_offset=b.cell(payload, free=free))
    assert data_of(open_image, b, fields) == expected


@pytest.mark.parametrize("minor", [3, 4, 6])
def test_large_data_in_one_cell(open_image: OpenImage, minor: int) -> None:
    # Before minor version 4 there are no big-data records: any size lives in one cell.
    b = hb.HiveBuilder(minor)
    at = b.cell(BLOB[:20000] + b"\xee" * 4)
    fields = dict(data_size=20000, data_offset=at)
    if minor == 3:
        assert data_of(open_image, b, fields) == BLOB[:20000]
    else:
        unreadable(open_image, b, fields, "Invalid format: Expected 'db' signature at offset %#x, found %s"
                   % (at, list(BLOB[:2])))


# -- big data ----------------------------------------------------------------------------

@pytest.mark.parametrize("length, data_size, segment_data, segment_payload", ids=str, argvalues=[
    (CHUNK + 1, None, CHUNK, CHUNK + 4),
    (40000, None, CHUNK, CHUNK + 4),       # Windows layout: 4 alignment bytes after each segment
    (40000, None, CHUNK, CHUNK),
    (40000, None, 1000, 1000),             # short segments are taken whole
    (40000, 20000, CHUNK, CHUNK + 4),      # more stored than declared: cut
    (40000, CHUNK + 1, CHUNK, CHUNK + 4),
    (2 * CHUNK + 4, 50000, CHUNK, CHUNK + 4),  # less stored than declared: what the segments hold
])
def test_big_data(open_image: OpenImage, length: int, data_size: Optional[int], segment_data: int,
                  segment_payload: int) -> None:
    b = hb.HiveBuilder()
    at = b.big_data(BLOB[:length], segment_data=segment_data, segment_payload=segment_payload)
    size = length if data_size is None else data_size
    assert data_of(open_image, b, dict(data_size=size, data_offset=at)) == BLOB[:min(length, size)]


def test_big_data_segment_list_entries(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    first = b.cell(BLOB[:CHUNK + 4])
    second = b.cell(BLOB[CHUNK:CHUNK + 100])
    # Bit 31 of an entry is not part of the offset; entries past the declared size are never read.
    entries = hb.value_list([first | 0x80000000, second | 0x80000000, FAR, FAR])
    at = b.cell(hb.db(4, b.cell(entries)))
    assert data_of(open_image, b, dict(data_size=CHUNK + 100, data_offset=at)) == BLOB[:CHUNK + 100]


def repeated_segment(size: int) -> Tuple[hb.HiveBuilder, VkFields]:
    """A builder and the vk fields of a value of declared `size` whose "db" chain names one segment 1000 times."""
    b = hb.HiveBuilder()
    segment = b.cell(BLOB[:CHUNK] + b"\xee" * 4)
    return b, dict(data_size=size, data_offset=b.cell(hb.db(1000, b.cell(hb.value_list([segment] * 1000)))))


@pytest.mark.parametrize("over", [-1, 0, 1, None])
def test_big_data_is_cut_at_the_image_length(open_image: OpenImage, over: Optional[int]) -> None:
    # 1000 segments of 16344 bytes would gather 16 MB from a hive of 28 KB; one value's data never exceeds the
    # image, as a real hive gives every data byte its own place.
    length = read(open_image, *repeated_segment(0))[2]
    size = 0x7FFFFFFF if over is None else length + over
    assert length < 30000
    assert data_of(open_image, *repeated_segment(size)) == (BLOB[:CHUNK] * 2)[:min(size, length)]


LARGE = 256 * 1024  # data of this size or more is copied with the interpreter lock released
LARGE_BLOB = random.Random(11).getrandbits(8 * (LARGE + 40000)).to_bytes(LARGE + 40000, "little")


@pytest.mark.parametrize("length, data_size", ids=str, argvalues=[
    (LARGE - 1, None), (LARGE, None), (LARGE + 40000, None),
    (LARGE + 40000, LARGE), (LARGE + 40000, LARGE - 1),  # more stored than declared: cut
    (17 * CHUNK + 4, LARGE + 40000),  # less stored than declared: what the segments hold (the last has no slack)
])
def test_large_big_data(open_image: OpenImage, length: int, data_size: Optional[int]) -> None:
    # values() copies each segment straight into the value, value() joins them first: both give the same bytes.
    b = hb.HiveBuilder()
    at = b.big_data(LARGE_BLOB[:length])
    size = length if data_size is None else data_size
    listed, found, _ = read(open_image, b, dict(data_size=size, data_offset=at, data_type=hb.REG_BINARY))
    assert isinstance(found, tarnu.RegistryValue)
    expected = LARGE_BLOB[:min(length, size)]
    assert listed.raw_data() == found.raw_data() == listed.data().as_binary() == expected
    assert listed.data_size() == found.data_size() == len(expected)
    # Large data is kept in one bytes object, which raw_data() hands out itself; smaller data is copied per call.
    assert (listed.raw_data() is listed.raw_data()) == (len(expected) >= LARGE)


def test_large_big_data_is_cut_at_the_image_length(open_image: OpenImage) -> None:
    b, fields = repeated_segment(0x7FFFFFFF)
    b.cell(bytes(LARGE))  # an image larger than the copies made without the lock
    listed, found, length = read(open_image, b, fields)
    assert isinstance(found, tarnu.RegistryValue) and length > LARGE
    assert listed.raw_data() == found.raw_data() == (BLOB[:CHUNK] * 1000)[:length]


# A faulty big-data record made with the builder: its offset and the error reading it gives.
BadRecord = Tuple[int, str]


def short_record(b: hb.HiveBuilder) -> BadRecord:  # too short is reported before a wrong signature
    at = b.cell(b"xx\x01\x00")
    return at, "Truncated data at offset %#x: expected 8 bytes, got 4 bytes" % at


def wrong_signature(b: hb.HiveBuilder) -> BadRecord:
    at = b.cell(bytes(8))
    return at, "Invalid format: Expected 'db' signature at offset %#x, found [0, 0]" % at


def short_segment_list(b: hb.HiveBuilder) -> BadRecord:
    at = b.cell(hb.value_list([b.cell(BLOB[:CHUNK])]))
    return b.cell(hb.db(2, at)), "Truncated data at offset %#x: expected 8 bytes, got 4 bytes" % at


def bad_segment(b: hb.HiveBuilder) -> BadRecord:  # bit 31 of the entry is dropped: 0xfffff000 would report hive size 0
    at = b.cell(hb.value_list([b.cell(BLOB[:CHUNK]), 0xFFFFF000]))
    return b.cell(hb.db(2, at)), "Invalid offset 0x7ffff000 (hive size: {size:#x})"


@pytest.mark.parametrize("make", [
    short_record, wrong_signature, short_segment_list, bad_segment,
    lambda b: (b.cell(hb.db(2, FAR)), FAR_MESSAGE), lambda b: (FAR, FAR_MESSAGE)])
def test_big_data_errors(open_image: OpenImage, make: Callable[[hb.HiveBuilder], BadRecord]) -> None:
    b = hb.HiveBuilder()
    at, message = make(b)
    unreadable(open_image, b, dict(data_size=2 * CHUNK, data_offset=at, data_type=hb.REG_BINARY), message)


# -- decoding ----------------------------------------------------------------------------

IS = {"none": "is_none", "string": "is_string", "binary": "is_binary", "dword": "is_dword",
      "qword": "is_qword", "multi": "is_multi_string"}
AS = {"string": ("as_string", "Not a string value"), "binary": ("as_binary", "Not a binary value"),
      "dword": ("as_dword", "Not a DWORD value"), "qword": ("as_qword", "Not a QWORD value"),
      "multi": ("as_multi_string", "Not a multi-string value")}
U16: Callable[[str], bytes] = lambda text: text.encode("utf-16-le")  # noqa: E731


def only_value(open_image: OpenImage, value_type: int, raw: bytes) -> tarnu.RegistryValue:
    image = hb.build_hive(hb.Key("r", values=[hb.Value("v", value_type, raw)]))
    return open_image(image).root_key().value("v")


@pytest.mark.parametrize("value_type, raw, kind, result, text", [
    *[(t, b"", "none", None, "(none)") for t in (0, 1, 2, 3, 4, 5, 7, 11, 28)],
    (hb.REG_NONE, b"\x01\x02\x03\x04\x05", "none", None, "(none)"),
    (hb.REG_SZ, U16("ab\0"), "string", "ab", "ab"),
    (hb.REG_SZ, U16("a\0b"), "string", "a\x00b", "a\x00b"),
    (hb.REG_SZ, b"\xff\xfea\x00", "string", "a", "a"),
    (hb.REG_SZ, b"\xfe\xff\x00a\x00b", "string", "ab", "ab"),
    (hb.REG_SZ, b"\xef\xbb\xbf\xc3\xa9\x00", "string", "é", "é"),
    (hb.REG_SZ, b"\xff\xfe", "string", "", ""),
    (hb.REG_SZ, U16("é€\U0001f600\0\0"), "string", "é€\U0001f600", "é€\U0001f600"),
    (hb.REG_EXPAND_SZ, U16("%SystemRoot%\0"), "string", "%SystemRoot%", "%SystemRoot%"),
    (hb.REG_BINARY, b"\x0a\xff", "binary", b"\x0a\xff", "[0A, FF]"),
    (hb.REG_DWORD, b"\x01\x00\x00\x00\xff", "dword", 1, "1 (0x00000001)"),
    (hb.REG_DWORD, b"\xff\x00\x00\x00", "dword", 255, "255 (0x000000FF)"),
    (hb.REG_DWORD, b"\xff" * 4, "dword", 4294967295, "4294967295 (0xFFFFFFFF)"),
    (hb.REG_DWORD_BIG_ENDIAN, b"\x00\x00\x00\x01", "dword", 1, "1 (0x00000001)"),
    (hb.REG_DWORD_BIG_ENDIAN, b"\x12\x34\x56\x78\x9a", "dword", 0x12345678, "305419896 (0x12345678)"),
    (hb.REG_MULTI_SZ, U16("a\0\0b\0\0"), "multi", ["a", "b"], "a, b"),
    (hb.REG_MULTI_SZ, U16("\0one\0two\0\0"), "multi", ["one", "two"], "one, two"),
    (hb.REG_MULTI_SZ, U16("\0\0\0"), "multi", [], ""),
    (hb.REG_QWORD, struct.pack("<Q", 1), "qword", 1, "1 (0x0000000000000001)"),
    (hb.REG_QWORD, b"\xff" * 9, "qword", 2 ** 64 - 1, "18446744073709551615 (0xFFFFFFFFFFFFFFFF)"),
    *[(t, b"\x0a\xff", "other", None, "[0A, FF]") for t in (6, 8, 9, 10, 12, 28, 0xFFFFFFFF)],
])
def test_decoding(open_image: OpenImage, value_type: int, raw: bytes, kind: str,
                  result: Union[str, int, List[str], bytes, None], text: str) -> None:
    value = only_value(open_image, value_type, raw)
    assert value.raw_data() == raw
    data = value.data()
    assert {k: getattr(data, name)() for k, name in IS.items()} == {k: k == kind for k in IS}
    for k, (name, message) in AS.items():
        if k == kind:
            assert getattr(data, name)() == result
        else:
            with pytest.raises(ValueError) as info:
                getattr(data, name)()
            assert str(info.value) == message
    assert str(data) == repr(data) == text


@pytest.mark.parametrize("value_type, raw, message", [
    (hb.REG_SZ, b"abc", "Invalid UTF-16 string at offset 0x0"),
    (hb.REG_SZ, b"\x00\xd8", "Invalid UTF-16 string at offset 0x0"),
    (hb.REG_EXPAND_SZ, b"a\x00\x00\xdc", "Invalid UTF-16 string at offset 0x0"),
    (hb.REG_SZ, b"\xef\xbb\xbf\xff", "Invalid UTF-16 string at offset 0x0"),
    (hb.REG_MULTI_SZ, U16("a\0") + b"\x00", "Invalid UTF-16 string at offset 0x0"),
    (hb.REG_DWORD, b"\x01\x02", "Truncated data at offset 0x0: expected 4 bytes, got 2 bytes"),
    (hb.REG_DWORD_BIG_ENDIAN, b"\x01\x02\x03", "Truncated data at offset 0x0: expected 4 bytes, got 3 bytes"),
    (hb.REG_QWORD, b"\x01\x02\x03\x04", "Truncated data at offset 0x0: expected 8 bytes, got 4 bytes"),
    (hb.REG_QWORD, b"\x01" * 7, "Truncated data at offset 0x0: expected 8 bytes, got 7 bytes"),
])
def test_decoding_errors(open_image: OpenImage, value_type: int, raw: bytes, message: str) -> None:
    value = only_value(open_image, value_type, raw)
    assert (value.raw_data(), value.data_size()) == (raw, len(raw))
    for _ in range(2):  # nothing is cached: every call fails again
        with pytest.raises(ValueError) as info:
            value.data()
        assert str(info.value) == message


NAMES = ["REG_NONE", "REG_SZ", "REG_EXPAND_SZ", "REG_BINARY", "REG_DWORD", "REG_DWORD_BIG_ENDIAN",
         "REG_LINK", "REG_MULTI_SZ", "REG_RESOURCE_LIST", "REG_FULL_RESOURCE_DESCRIPTOR",
         "REG_RESOURCE_REQUIREMENTS_LIST", "REG_QWORD"]


@pytest.mark.parametrize("type_id, name", [
    *enumerate(NAMES), (12, "REG_UNKNOWN_0x0000000c"), (28, "REG_UNKNOWN_0x0000001c"),
    (0x80000000, "REG_UNKNOWN_0x80000000"), (0xFFFFFFFF, "REG_UNKNOWN_0xffffffff")])
def test_value_types(open_image: OpenImage, type_id: int, name: str) -> None:
    value_type = only_value(open_image, type_id, b"\x01").value_type()
    assert (value_type.type_name(), value_type.type_id()) == (name, type_id)
    assert (str(value_type), repr(value_type)) == (name, "ValueType(%s)" % name)


# -- real hives ---------------------------------------------------------------------------

def declared_sizes(path: str) -> Dict[str, Set[int]]:
    """Stored data sizes of the value key cells, by name, found by walking the cells of every bin."""
    image, pos = open(path, "rb").read(), 4096
    sizes: Dict[str, Set[int]] = {}
    while image[pos:pos + 4] == b"hbin":
        end = pos + struct.unpack_from("<I", image, pos + 8)[0]
        cell = pos + 32
        while cell < end:
            length = abs(struct.unpack_from("<i", image, cell)[0])
            if image[cell + 4:cell + 6] == b"vk":
                name_length, size = struct.unpack_from("<HI", image, cell + 6)
                sizes.setdefault(image[cell + 24:cell + 24 + name_length].decode("latin-1"), set()).add(size)
            cell += max(length, 8)
        pos = end
    return sizes


@pytest.mark.parametrize("name, big", [
    ("NTUSER.DAT.xz", [("ProgramsCache", 73315)]),  # version 1.3: one data cell, no "db"
    ("SYSTEM.xz", [("AppCompatCache", 56256)] * 2 + [("BootPlan", 187028), ("BootPlan", 197444)]
     + [("ProductPolicy", 21428)] * 2 + [("VTPCerts", 50892)] * 2),
    ("amcache.hve.xz", [("Files", 20738)]),
])
def test_sample_big_values(samples_dir: pathlib.Path, name: str, big: List[Tuple[str, int]]) -> None:
    path = sample_path(name, samples_dir)
    stack, found = [tarnu.Hive.open(path).root_key()], []
    while stack:
        key = stack.pop()
        stack.extend(key.subkeys())
        found += [(v.name(), v.data_size()) for v in key.values() if v.data_size() > CHUNK]
    assert sorted(found) == big
    declared = declared_sizes(path)
    assert all(size in declared[value] for value, size in found)


def test_sample_small_values(samples_dir: pathlib.Path) -> None:
    root = tarnu.Hive.open(sample_path("rlenvalue_test_hive", samples_dir)).root_key()
    (parent,) = root.subkeys()
    assert parent.name() == "ModerateValueParent"
    values = parent.values()
    assert [(v.name(), v.data_size(), len(v.data().as_binary())) for v in values] == [
        ("%dBytes" % n, n, n) for n in (3, 16, 30, 31, 32, 33)]
