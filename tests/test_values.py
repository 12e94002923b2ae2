"""Value lists, value keys and names, lookup by name, and the RegistryValue class."""

import gc
import pathlib
from typing import Any, Callable, Dict, Iterator, List, Optional, Sequence, Tuple

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import sample_path

FAR = 0x7FFFFFF0  # a cell offset far past the end of every test image

OpenImage = Callable[[bytes], tarnu.Hive]


def open_root(open_image: OpenImage, builder: hb.HiveBuilder, values: Sequence[int] = (),
              **fields: Any) -> Tuple[tarnu.RegistryKey, int]:
    """Make a root key over `values` (value key offsets); return (root key, image length)."""
    builder.key("root", values=values, root=True, **fields)
    image = builder.build()
    return open_image(image).root_key(), len(image)


def raises(call: Callable[[], object], message: str) -> None:
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message


# -- value lists ---------------------------------------------------------------

@pytest.mark.parametrize("count, list_offset", [(0, FAR), (0, 0x20), (3, 0), (3, hb.NO_CELL)])
def test_empty_value_list_reads_nothing(open_image: OpenImage, count: int, list_offset: int) -> None:
    root, _ = open_root(open_image, hb.HiveBuilder(), value_count=count, value_list_offset=list_offset)
    assert root.values() == []
    raises(lambda: root.value("x"), "Not found: Value 'x'")


@pytest.mark.parametrize("count, extra", [(3, []), (2, [FAR]), (1, [FAR] * 5)])
def test_value_list_reads_only_the_counted_entries(open_image: OpenImage, count: int, extra: List[int]) -> None:
    b = hb.HiveBuilder()
    good = [b.value("a", hb.REG_DWORD, 1), b.cell(hb.vk("free", data_type=3), free=True),
            b.value("c", hb.REG_DWORD, 1)]
    root, _ = open_root(open_image, b, value_count=count,
                        value_list_offset=b.cell(hb.value_list(good[:count] + extra)))
    assert [v.name() for v in root.values()] == ["a", "free", "c"][:count]
    raises(lambda: root.value("x"), "Not found: Value 'x'")


@pytest.mark.parametrize("count, expected", [(4, 16), (0x40000000, 4 * 0x40000000)])
def test_value_list_too_short(open_image: OpenImage, count: int, expected: int) -> None:
    b = hb.HiveBuilder()
    first = b.value("first", hb.REG_DWORD, 1)
    at = b.cell(hb.value_list([first, first]))
    root, _ = open_root(open_image, b, value_count=count, value_list_offset=at)
    message = "Truncated data at offset %#x: expected %d bytes, got 12 bytes" % (at, expected)
    raises(root.values, message)
    raises(lambda: root.value("first"), message)


# -- value keys ------------------------------------------------------------------

VALUE_KEY_FAULTS = [
    (bytes(12), "Truncated data at offset {v:#x}: expected 20 bytes, got 12 bytes"),
    (hb.vk("a", signature=b"nk"), "Invalid format: Expected 'vk' signature at offset {v:#x}"),
    (hb.vk("ab", name_length=40), "Truncated data at offset {v:#x}: expected 60 bytes, got 28 bytes"),
    (hb.vk(b"a\0b", compressed=False), "Invalid UTF-16 string at offset {v:#x}"),
    (hb.vk(b"\x00\xd8", compressed=False), "Invalid UTF-16 string at offset {v:#x}"),
    (None, "Invalid offset {v:#x} (hive size: {size:#x})"),
]


@pytest.mark.parametrize("cell, message", VALUE_KEY_FAULTS,
                         ids=["short", "signature", "name", "odd-utf16", "surrogate", "offset"])
def test_bad_value_key_fails_the_whole_list(open_image: OpenImage, cell: Optional[bytes], message: str) -> None:
    b = hb.HiveBuilder()
    first = b.value("first", hb.REG_DWORD, 1)
    bad = FAR if cell is None else b.cell(cell)
    root, size = open_root(open_image, b, [first, bad])
    message = message.format(v=bad, size=size)
    raises(root.values, message)
    raises(lambda: root.value("first"), message)  # even though it comes first
    raises(lambda: root.value("first"), message)  # nothing is cached


@pytest.mark.parametrize("fields, name", [
    (dict(name=b"abc", name_length=0), "(default)"),
    (dict(name="abc", compressed=False, name_length=0), "(default)"),
    (dict(name=b"", flags=0), "(default)"),
    (dict(name=b"ab\0\0"), "ab"),
    (dict(name=b"a\0b"), "a\x00b"),
    (dict(name=b"\0\0\0"), ""),
    (dict(name=b"caf\xe9 \xc9\xff!"), "café Éÿ!"),  # fills the cell exactly
    (dict(name="wörd€"), "wörd€"),
    (dict(name="ab\0\0", compressed=False), "ab"),
    (dict(name="\ufeffab", compressed=False), "ab"),
    (dict(name=b"\xfe\xff\x00a", compressed=False), "a"),
])
def test_value_names(open_image: OpenImage, fields: Dict[str, Any], name: str) -> None:
    b = hb.HiveBuilder()
    root, _ = open_root(open_image, b, [b.cell(hb.vk(**fields))])
    assert [v.name() for v in root.values()] == [name]


# -- lookup by name ------------------------------------------------------------

@pytest.fixture
def lookup_key(open_image: OpenImage) -> tarnu.RegistryKey:
    b = hb.HiveBuilder()
    values = [b.value("FOO", hb.REG_DWORD, 1), b.value("", hb.REG_DWORD, 2),
              b.value(b"\xc9", hb.REG_DWORD, 3), b.value("dup", hb.REG_DWORD, 4),
              b.value("DUP", hb.REG_DWORD, 5), b.value("Ωmega", hb.REG_DWORD, 6)]
    return open_root(open_image, b, values)[0]


@pytest.mark.parametrize("wanted, name, number", [
    ("foo", "FOO", 1), ("fOo", "FOO", 1), ("FOO", "FOO", 1),
    ("(DEFAULT)", "(default)", 2), ("(default)", "(default)", 2), ("", "(default)", 2),
    ("É", "É", 3), ("DUP", "dup", 4), ("Dup", "dup", 4), ("ΩMEGA", "Ωmega", 6),
])
def test_value_lookup(lookup_key: tarnu.RegistryKey, wanted: str, name: str, number: int) -> None:
    found = lookup_key.value(wanted)
    assert (found.name(), found.data().as_dword()) == (name, number)
    assert lookup_key.value(name=wanted).name() == name


@pytest.mark.parametrize("wanted", ["missing", "é", "fo", "foo ", "(default", "ωmega"])
def test_value_lookup_misses(lookup_key: tarnu.RegistryKey, wanted: str) -> None:
    raises(lambda: lookup_key.value(wanted), "Not found: Value '%s'" % wanted)


def test_unreadable_data_is_listed_empty_but_fails_lookup(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    values = [b.value("far", hb.REG_BINARY, data_size=100, data_offset=FAR),
              b.value("near", hb.REG_BINARY, b"\x01\x02\x03\x04\x05")]
    root, size = open_root(open_image, b, values)
    far, near = root.values()
    assert (far.name(), far.raw_data(), far.data_size(), far.data().is_none()) == ("far", b"", 0, True)
    assert far.value_type().type_name() == "REG_BINARY"
    assert near.raw_data() == b"\x01\x02\x03\x04\x05"
    raises(lambda: root.value("FAR"), "Invalid offset %#x (hive size: %#x)" % (FAR, size))


# -- the RegistryValue, ValueType and ValueData classes ------------------------------

DOCS = [(tarnu.RegistryValue, name, text) for name, text in [
    ("name", "Get the value name"), ("value_type", "Get the value type"),
    ("data", "Get the parsed value data"), ("raw_data", "Get the raw value data as bytes"),
    ("data_size", "Get the data size in bytes")]] + [
    (tarnu.ValueType, "type_name", 'Get the type name as string (e.g., "REG_SZ", "REG_DWORD")'),
    (tarnu.ValueType, "type_id", "Get the numeric type ID")] + [
    (tarnu.ValueData, "is_" + name, "Check if this is a %s value" % text) for name, text in [
        ("none", "None"), ("string", "String"), ("binary", "Binary"), ("dword", "DWORD"),
        ("qword", "QWORD"), ("multi_string", "MultiString")]] + [
    (tarnu.ValueData, "as_" + name, "Get as %s (if applicable)" % text) for name, text in [
        ("string", "string"), ("binary", "binary data"), ("dword", "DWORD"), ("qword", "QWORD"),
        ("multi_string", "multi-string")]]


@pytest.mark.parametrize("cls, name, doc", DOCS)
def test_method_docs(cls: type, name: str, doc: str) -> None:
    method = getattr(cls, name)
    assert (method.__doc__, method.__text_signature__) == (doc, "($self)")


@pytest.mark.parametrize("cls", [tarnu.RegistryValue, tarnu.ValueType, tarnu.ValueData])
def test_classes(cls: type) -> None:
    name = cls.__name__
    if cls is tarnu.RegistryValue:
        head, _, rest = cls.__doc__.partition("\n\n")  # type: ignore[union-attr]
        assert head == "Python wrapper for RegistryValue" and "lifetime" in rest
    else:
        assert cls.__doc__ == "Python wrapper for " + name
    assert cls.__module__ == "builtins"
    with pytest.raises(TypeError, match="^No constructor defined$"):
        cls()


@pytest.mark.parametrize("name, text", [
    ("x", "RegistryValue(name='x')"), ("", "RegistryValue(name='(default)')"),
    ("it's €", "RegistryValue(name='it's €')")])
def test_registry_value_repr(open_image: OpenImage, name: str, text: str) -> None:
    root = open_image(hb.build_hive(hb.Key("r", values=[hb.Value(name, hb.REG_SZ, "v")]))).root_key()
    value = root.values()[0]
    assert repr(value) == str(value) == text


def test_value_outlives_hive_and_keys(open_image: OpenImage) -> None:
    hive = open_image(hb.build_hive(hb.Key("r", [hb.Key("k", values=[
        hb.Value("v", hb.REG_MULTI_SZ, ["a", "b"])])])))
    key = hive.root_key().subkeys()[0]
    value = key.value("v")
    del hive, key
    gc.collect()
    assert (value.name(), value.data_size(), repr(value)) == ("v", 10, "RegistryValue(name='v')")
    assert value.raw_data() == "a\0b\0\0".encode("utf-16-le")
    assert (value.value_type().type_name(), value.data().as_multi_string()) == ("REG_MULTI_SZ", ["a", "b"])
    # Every call builds a new object.
    assert value.data() is not value.data()
    assert value.value_type() is not value.value_type()
    assert value.data().as_multi_string() is not value.data().as_multi_string()


# -- real hives ---------------------------------------------------------------------

def walk_values(key: tarnu.RegistryKey) -> Iterator[tarnu.RegistryValue]:
    stack = [key]
    while stack:
        key = stack.pop()
        stack.extend(key.subkeys())
        yield from key.values()


@pytest.mark.parametrize("name, count", [
    ("minimal", 0), ("special", 3), ("rlenvalue_test_hive", 6), ("NTUSER.DAT.xz", 4094),
    ("SYSTEM.xz", 73456), ("amcache.hve.xz", 17539)])
def test_sample_hive_values(samples_dir: pathlib.Path, name: str, count: int) -> None:
    values = list(walk_values(tarnu.Hive.open(sample_path(name, samples_dir)).root_key()))
    assert len(values) == count
    for value in values:
        try:
            value.data()
        except ValueError:
            pass


def test_sample_value_names(samples_dir: pathlib.Path) -> None:
    # Compressed names are stored as Latin-1 (E4 F6 FC DF) and keep a NUL inside.
    root = tarnu.Hive.open(sample_path("special", samples_dir)).root_key()
    values = sorted(walk_values(root), key=lambda v: v.name())
    assert [v.name() for v in values] == ["abcd_äöüß", "symbols $£₤₧€", "zero\x00val"]
    assert [(v.value_type().type_name(), v.data().as_dword()) for v in values] == [("REG_DWORD", 0)] * 3


# -- the data one listing gathers -------------------------------------------------------------------------------

@pytest.mark.parametrize("extra", [0, 1])
def test_values_gather_at_most_twice_the_image(open_image: OpenImage, extra: int) -> None:
    # A value list naming one 512-byte value over and over: twice the image's size of data is listed, one byte
    # more fails the listing. Looking one value up reads only that value.
    b = hb.HiveBuilder()
    root, listing = b.reserve(80), b.reserve(4 * 200)
    big, small = b.value("big", hb.REG_BINARY, bytes(512)), b.value("small", hb.REG_BINARY, b"\x01")
    size = len(b.build())  # nothing below changes the layout
    offsets = [big] * (2 * size // 512) + [small] * extra
    b.fill(listing, hb.value_list(offsets))
    b.key("root", root=True, at=root, value_count=len(offsets), value_list_offset=listing)
    image = b.build()
    assert len(image) == size and 2 * size % 512 == 0
    key = open_image(image).root_key()
    if extra:
        raises(key.values, "Invalid format: Values of key at offset %#x hold more than %d bytes of data, 2 times "
                           "the hive's size" % (root, 2 * size))
    else:
        assert sum(value.data_size() for value in key.values()) == 2 * size
    assert key.value("big").data_size() == 512
