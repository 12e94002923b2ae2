"""RegistryKey.value_records(): every value of a key in one call as (name, type_id, raw_data, data) tuples, with
the same information as values() and the ValueData accessors, decoded straight from the hive's bytes."""

import gc
import pathlib
import struct
from typing import Any, Callable, List, Tuple, Union

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import sample_path

U16: Callable[[str], bytes] = lambda text: text.encode("utf-16-le")  # noqa: E731
U16BE: Callable[[str], bytes] = lambda text: b"\xfe\xff" + text.encode("utf-16-be")  # noqa: E731
CHUNK = hb.MAX_CELL_DATA
FAR = 0x7FFFFFF0
LARGE = 300 * 1024  # past the size from which data is read with the interpreter lock released

OpenImage = Callable[[bytes], tarnu.Hive]
# The data of a record: str, int, list of str, bytes or None.
Data = Union[str, int, List[str], bytes, None]
# One record of value_records(): name, type id, raw data, data.
ValueRecord = Tuple[str, int, bytes, Data]


def accessor_data(value: tarnu.RegistryValue) -> Data:
    """What the ValueData accessors give for a value, or None: the fourth item of a record. Types without an
    accessor (REG_LINK, the resource lists, unknown types) give None, though value() gives their bytes."""
    try:
        data = value.data()
    except ValueError:
        return None
    result = data.value()
    return None if isinstance(result, bytes) and not data.is_binary() else result


def per_call(key: tarnu.RegistryKey) -> List[ValueRecord]:
    return [(v.name(), v.value_type().type_id(), v.raw_data(), accessor_data(v)) for v in key.values()]


def one_value_key(open_image: OpenImage, value_type: int, raw: bytes, **fields: Any) -> tarnu.RegistryKey:
    image = hb.build_hive(hb.Key("r", values=[hb.Value("v", value_type, raw, **fields)]))
    return open_image(image).root_key()


# Text whose UTF-16 bytes are each below 0x80 while its characters are not ASCII, and text on either side of
# eight bytes (the decoders read eight at a time), in both byte orders.
TEXT = ["a", "abc", "abcd", "abcde", "abcdefgh", "abcdefghi", "\u2121", "\u0100", "\u4141A", "a\u2122b",
        "caf\xe9", "\xe9" * 9, "x" * 15 + "\u0101", "\U0001f600", "a\0b", "tail\0\0"]


@pytest.mark.parametrize("value_type, raw, expected", [
    *[(t, b"", None) for t in (0, 1, 2, 3, 4, 5, 7, 11, 28)],
    (hb.REG_NONE, b"\x01\x02", None),
    *[(hb.REG_SZ, U16(text), text.rstrip("\0")) for text in TEXT],
    *[(hb.REG_EXPAND_SZ, U16BE(text), text.rstrip("\0")) for text in TEXT],
    (hb.REG_SZ, b"\xff\xfe" + U16("ab"), "ab"),
    (hb.REG_SZ, b"\xff\xfe\xff\xfe", "\ufeff"),
    (hb.REG_SZ, b"\xef\xbb\xbf\xc3\xa9\x00", "\xe9"),
    (hb.REG_SZ, b"\xef\xbb\xbfab\x00\x00\x00", "ab"),
    (hb.REG_SZ, b"abc", None),                       # an odd number of bytes
    (hb.REG_SZ, b"\x00\xd8", None),                  # a high surrogate at the end
    (hb.REG_SZ, b"\x00\xd8\x00\x00", None),          # a high surrogate before U+0000
    (hb.REG_EXPAND_SZ, b"a\x00\x00\xdc", None),      # a lone low surrogate
    (hb.REG_SZ, b"\xef\xbb\xbf\xed\xa0\x80\x00", None),  # a surrogate spelled in UTF-8
    (hb.REG_SZ, b"\xef\xbb\xbf\xc0\x80\x00", None),      # an overlong NUL
    (hb.REG_MULTI_SZ, U16("a\0\0b\0\0"), ["a", "b"]),
    (hb.REG_MULTI_SZ, U16("\0one\0two\u2122\0\0"), ["one", "two\u2122"]),
    (hb.REG_MULTI_SZ, U16("\0\0\0"), []),
    (hb.REG_MULTI_SZ, U16BE("x\0yz\0"), ["x", "yz"]),
    (hb.REG_MULTI_SZ, b"\xef\xbb\xbfa\x00bc\x00", ["a", "bc"]),
    (hb.REG_MULTI_SZ, U16("a\0") + b"\x00\xd8" + U16("\0b\0"), None),
    (hb.REG_MULTI_SZ, U16("a\0") + b"\x00", None),
    (hb.REG_BINARY, b"\x0a\xff", b"\x0a\xff"),
    (hb.REG_DWORD, b"\x01\x00\x00\x00\xff", 1),
    (hb.REG_DWORD, b"\xff" * 4, 4294967295),
    (hb.REG_DWORD, b"\x01\x02", None),
    (hb.REG_DWORD_BIG_ENDIAN, b"\x12\x34\x56\x78\x9a", 0x12345678),
    (hb.REG_DWORD_BIG_ENDIAN, b"\x01\x02\x03", None),
    (hb.REG_QWORD, struct.pack("<Q", 2 ** 64 - 1), 2 ** 64 - 1),
    (hb.REG_QWORD, b"\x01" * 7, None),
    *[(t, b"\x0a\xff", None) for t in (6, 8, 9, 10, 12, 28, 0xFFFFFFFF)],
])
def test_decoded_data(open_image: OpenImage, value_type: int, raw: bytes, expected: Data) -> None:
    key = one_value_key(open_image, value_type, raw)
    assert accessor_data(key.values()[0]) == expected
    assert key.value_records() == [("v", value_type, raw, expected)]


@pytest.mark.parametrize("values, minor", [
    # inline data of one to four bytes, one cell, big data, and a large cell in version 1.3
    ([hb.Value("n%d" % n, hb.REG_BINARY, bytes(range(n)), storage="inline") for n in range(1, 5)], 5),
    ([hb.Value("cell", hb.REG_BINARY, bytes(range(256)) * 20)], 5),
    ([hb.Value("big", hb.REG_BINARY, bytes(range(256)) * 300), hb.Value("s", hb.REG_SZ, "t" * 9000)], 5),
    ([hb.Value("old", hb.REG_BINARY, bytes(range(256)) * 300)], 3),
    # large data, read with the lock released: in segments, in one cell, as text and as binary
    ([hb.Value("big", hb.REG_BINARY, bytes(range(256)) * (LARGE // 256)), hb.Value("small", hb.REG_DWORD, 5)], 5),
    ([hb.Value("old", hb.REG_BINARY, bytes(range(251)) * (LARGE // 251))], 3),
    ([hb.Value("text", hb.REG_SZ, "\u2122x" * (LARGE // 4)), hb.Value("list", hb.REG_MULTI_SZ, ["a" * LARGE, "b"])],
     5),
    # names: unnamed, 8-bit, UTF-16
    ([hb.Value("", hb.REG_SZ, "default"), hb.Value(b"caf\xe9", hb.REG_DWORD, 1),
      hb.Value("\u2122\u0100", hb.REG_DWORD, 2), hb.Value("abcdefghijk", hb.REG_DWORD, 3)], 5),
])
def test_records_match_values(open_image: OpenImage, values: List[hb.Value], minor: int) -> None:
    key = open_image(hb.build_hive(hb.Key("r", values=values), minor_version=minor)).root_key()
    records = key.value_records()
    assert records == per_call(key)
    assert [r[2] for r in records] == [hb.encode_data(v.value_type, v.data) for v in values]
    names = [v.name.decode("latin-1") if isinstance(v.name, (bytes, bytearray)) else v.name or "(default)"
             for v in values]
    found = [key.value(name) for name in names]
    assert [(v.name(), v.raw_data()) for v in found] == [(r[0], r[2]) for r in records]


def test_unreadable_data_is_listed_empty(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    values = [b.cell(hb.vk("far", data_size=100, data_offset=FAR, data_type=hb.REG_SZ)),
              b.cell(hb.vk("big", data_size=2 * CHUNK, data_offset=b.cell(hb.db(2, FAR)), data_type=hb.REG_BINARY)),
              b.value("ok", hb.REG_DWORD, 9)]
    b.key("r", values=values, root=True)
    key = open_image(b.build()).root_key()
    assert key.value_records() == [("far", 1, b"", None), ("big", 3, b"", None), ("ok", 4, struct.pack("<I", 9), 9)]
    assert key.value_records() == per_call(key)


def test_list_failures_raise_as_values_does(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    good = b.value("good", hb.REG_DWORD, 1)
    bad = b.cell(hb.vk("bad").replace(b"vk", b"kv", 1))
    b.key("r", values=[good, bad], root=True)
    key = open_image(b.build()).root_key()
    with pytest.raises(ValueError) as listed:
        key.values()
    with pytest.raises(ValueError) as recorded:
        key.value_records()
    assert str(recorded.value) == str(listed.value) == "Invalid format: Expected 'vk' signature at offset %#x" % bad


@pytest.mark.parametrize("extra", [0, 1])
def test_records_gather_at_most_twice_the_image(open_image: OpenImage, extra: int) -> None:
    # One data cell named by the list over and over, as in the bound of values().
    b = hb.HiveBuilder()
    data = b.value("d", hb.REG_BINARY, bytes(CHUNK))
    probe = b.build()
    repeats = 2 * (len(probe) + 8192) // CHUNK + extra
    b.key("r", values=[data] * repeats, root=True)
    key = open_image(b.build()).root_key()
    try:
        listed = key.values()
    except ValueError as error:
        with pytest.raises(ValueError) as recorded:
            key.value_records()
        assert str(recorded.value) == str(error)
    else:
        assert len(key.value_records()) == len(listed) == repeats


def test_every_call_makes_new_objects(open_image: OpenImage) -> None:
    key = one_value_key(open_image, hb.REG_BINARY, b"\x01\x02\x03\x04\x05\x06")
    first, second = key.value_records(), key.value_records()
    assert first == second and first is not second
    assert first[0] is not second[0] and first[0][2] is not second[0][2] and first[0][3] is not second[0][3]
    assert first[0][2] is not first[0][3]  # the raw bytes and the decoded bytes are two objects


def test_doc() -> None:
    method = tarnu.RegistryKey.value_records
    assert method.__text_signature__ == "($self)"  # type: ignore[attr-defined]
    assert method.__doc__.startswith("Get every value in one call as a list of (name, type_id, raw_data, data) tuples")  # type: ignore[union-attr]


@pytest.mark.parametrize("name", ["SYSTEM.xz", "amcache.hve.xz", "NTUSER.DAT.xz"])
def test_sample_records_match_values(samples_dir: pathlib.Path, name: str) -> None:
    hive = tarnu.Hive.open(sample_path(name, samples_dir))
    for _, key in hive.walk():
        assert key.value_records() == per_call(key)


# What a thread reads of a key: its records, the same from values(), two large values' data and the hive bins.
Seen = Tuple[List[ValueRecord], List[ValueRecord], bytes, bytes, List[Tuple[int, int]]]


def test_values_read_by_finalisers_inside_a_read(open_image: OpenImage) -> None:
    # Making the records can run the collector, and a finaliser it runs may read values itself, of another key,
    # while the outer call is still using what it read: the two reads must not share their working storage.
    keys = hb.Key("r", [hb.Key("a", values=[hb.Value("a%d" % i, hb.REG_SZ, "text %d" % i) for i in range(40)]),
                        hb.Key("b", values=[hb.Value("b%d" % i, hb.REG_DWORD, i) for i in range(3)])])
    a, b = open_image(hb.build_hive(keys)).root_key().subkeys()
    expected_a, expected_b = a.value_records(), [(v.name(), v.data().as_dword()) for v in b.values()]
    seen: List[Any] = []

    class Reader:
        def __init__(self) -> None:
            self.cycle = self

        def __del__(self) -> None:
            seen.append([(v.name(), v.data().as_dword()) for v in b.values()] + b.value_records())

    thresholds = gc.get_threshold()
    gc.set_threshold(1)
    try:
        for _ in range(50):
            Reader()
            assert a.value_records() == expected_a
            assert [(v.name(), v.raw_data()) for v in a.values()] == [(r[0], r[2]) for r in expected_a]
    finally:
        gc.set_threshold(*thresholds)
        gc.collect()
    assert seen and all(s == expected_b + b.value_records() for s in seen)


def test_threads_read_large_values_alike(write_file: Callable[[bytes], str]) -> None:
    # Large data, and the hive bins of a large image, are read with the interpreter lock released; threads doing
    # so at once see what one thread sees.
    import threading

    values = [hb.Value("big%d" % i, hb.REG_BINARY, bytes([i]) * (LARGE + i)) for i in range(3)]
    values += [hb.Value("text", hb.REG_SZ, "t" * LARGE), hb.Value("small", hb.REG_DWORD, 1)]
    hive = tarnu.Hive.open(write_file(hb.build_hive(hb.Key("r", [hb.Key("k%d" % i) for i in range(200)], values))))

    def look(h: tarnu.Hive) -> Seen:
        key = h.root_key()
        return (key.value_records(), per_call(key), key.value("big2").raw_data(),
                key.value("big1").data().as_binary(), [(b.offset, b.size) for b in h.hbins()])

    expected = look(hive)
    assert len(expected[4]) > 1 and expected[2] == bytes([2]) * (LARGE + 2)
    results: List[Seen] = []
    errors: List[BaseException] = []

    def run() -> None:
        try:
            for _ in range(3):
                results.append(look(hive))
        except BaseException as error:  # reported below; a thread's exception would otherwise be lost
            errors.append(error)

    threads = [threading.Thread(target=run) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(results) == 12 and all(r == expected for r in results)
