"""Self-check of the test hive builder, read back with plain struct parsing.

These tests guard the fixtures that every other test relies on: a builder bug
would otherwise show up as a confusing failure of the module under test.
"""

import inspect
import pathlib
import struct
import subprocess
import sys
import typing
from typing import Any, Callable, Dict, List, Optional, Set, Tuple, Union

import pytest

from conftest import stored_at
from tarnu import hivebuilder as hb
from tarnu.hivebuilder import Key, Value

BINS = 4096  # image position of cell offset 0

# What a Value holds.
Data = Union[str, List[str], int, bytes, None]
# A page of a log block: (offset in the hive, bytes); a SizedPage states a size of its own after them.
Page = Tuple[int, bytes]
SizedPage = Tuple[int, bytes, int]
# (block position, [(hive offset, size, data), ...]) of a block of a log.
DirtyBlock = Tuple[int, List[Tuple[int, int, bytes]]]


def i32(image: bytes, pos: int) -> int:
    value: int = struct.unpack_from("<i", image, pos)[0]
    return value


def u32(image: bytes, pos: int) -> int:
    value: int = struct.unpack_from("<I", image, pos)[0]
    return value


def xor_words(image: bytes) -> int:
    result = 0
    for pos in range(0, 508, 4):
        result ^= u32(image, pos)
    return result


def payload(image: bytes, offset: int) -> bytes:
    size = i32(image, BINS + offset)
    assert size < 0, "cell %#x is not allocated" % offset
    return image[BINS + offset + 4:BINS + offset - size]


def check_bins(image: bytes) -> None:
    """Bins sit back to back from offset 0 and each is tiled by cells."""
    total = u32(image, 40)
    assert len(image) == BINS + total
    pos = 0
    while pos < total:
        sig, offset, size = struct.unpack_from("<4sII", image, BINS + pos)
        assert (sig, offset) == (b"hbin", pos)
        assert size > 0 and size % 4096 == 0
        cell = pos + 32
        while cell < pos + size:
            cell_size = abs(i32(image, BINS + cell))
            assert cell_size >= 8 and cell_size % 8 == 0, hex(cell)
            cell += cell_size
        assert cell == pos + size, "cells overrun bin at %#x" % pos
        pos += size
    assert pos == total


def decode_name(raw: bytes, compressed: int) -> str:
    return raw.decode("latin-1" if compressed else "utf-16-le")


def subkey_offsets(image: bytes, list_offset: int) -> List[int]:
    """Key offsets named by a subkey list, checking hints and hashes."""
    p = payload(image, list_offset)
    kind, count = p[:2], struct.unpack_from("<H", p, 2)[0]
    if kind in (b"li", b"ri"):
        entries = [u32(p, 4 + 4 * i) for i in range(count)]
        if kind == b"li":
            return entries
        return [o for leaf in entries for o in subkey_offsets(image, leaf)]
    assert kind in (b"lf", b"lh")
    result = []
    for i in range(count):
        offset, hint = struct.unpack_from("<I4s", p, 4 + 8 * i)
        node = payload(image, offset)
        name = decode_name(node[76:76 + struct.unpack_from("<H", node, 72)[0]],
                           node[2] & 0x20)
        if kind == b"lf":
            assert hint == name.encode("latin-1")[:4].ljust(4, b"\0")
        else:
            h = 0
            for c in name.upper():
                h = (h * 37 + ord(c)) % 2 ** 32
            assert hint == struct.pack("<I", h)
        result.append(offset)
    return result


def value_data(image: bytes, v: bytes, minor_version: int) -> bytes:
    """Data of a vk payload, checking that it is stored where it should be."""
    size, offset = struct.unpack_from("<II", v, 4)
    length = size & 0x7FFFFFFF
    if length <= 4:
        assert size & 0x80000000
        return struct.pack("<I", offset)[:length]
    assert not size & 0x80000000
    p = payload(image, offset)
    if length <= 16344 or minor_version < 4:
        assert len(p) == (length + 4 + 7) // 8 * 8 - 4  # cell rounded to 8
        return p[:length]
    sig, count, seg_list = struct.unpack_from("<2sHI", p)
    assert sig == b"db" and count == (length + 16343) // 16344
    segments = [payload(image, u32(payload(image, seg_list), 4 * i))
                for i in range(count)]
    assert all(len(s) == 16348 for s in segments[:-1])
    return b"".join(s[:16344] for s in segments)[:length]


def check_key(image: bytes, offset: int, key: Key, parent: int, minor_version: int) -> None:
    """The nk at ``offset`` and everything below it match the description."""
    assert key.offset == offset
    p = payload(image, offset)
    assert p[:2] == b"nk"
    flags, stamp = struct.unpack_from("<HQ", p, 2)
    (parent_off, n_sub, _, sub_list, _, n_val, val_list, _, class_off) = \
        struct.unpack_from("<9I", p, 16)
    name_len, class_len = struct.unpack_from("<HH", p, 72)
    name, class_name = key.name, key.class_name
    assert isinstance(name, str) and (class_name is None or isinstance(class_name, str))  # as the trees here give them
    compressed = all(ord(c) < 256 for c in name)
    assert bool(flags & 0x20) == compressed
    assert decode_name(p[76:76 + name_len], compressed) == name
    assert parent_off == parent
    assert stamp == (key.timestamp or hb.DEFAULT_TIMESTAMP)
    if class_name is not None:
        assert payload(image, class_off)[:class_len] == class_name.encode("utf-16-le")

    assert n_sub == len(key.subkeys)
    children = subkey_offsets(image, sub_list) if key.subkeys else []
    assert sub_list != 0xFFFFFFFF or not key.subkeys
    assert len(children) == len(key.subkeys)
    for child_offset, child in zip(children, key.subkeys):
        check_key(image, child_offset, child, offset, minor_version)

    assert n_val == len(key.values)
    for i, value in enumerate(key.values):
        v_off = u32(payload(image, val_list), 4 * i)
        assert value.offset == v_off
        v = payload(image, v_off)
        n, data_type, v_flags = struct.unpack_from("<H", v, 2)[0], u32(v, 12), v[16]
        assert v[:2] == b"vk" and data_type == value.value_type
        assert decode_name(v[20:20 + n], v_flags & 1) == value.name
        expected = hb.encode_data(value.value_type, value.data)
        assert value_data(image, v, minor_version) == expected


def sample_tree() -> Key:
    return Key("ROOT", [
        Key("Services", [Key("Tcpip"), Key("Dhcp")], list_kind="lf",
            values=[Value("Start", hb.REG_DWORD, 2)]),
        Key("Ключ", class_name="Klasse", timestamp=hb.filetime(0)),
        Key("Select", [Key("a"), Key("b")], list_kind="li"),
    ], values=[
        Value("", hb.REG_SZ, "default"),
        Value("Path", hb.REG_EXPAND_SZ, "%SystemRoot%\\system32"),
        Value("Multi", hb.REG_MULTI_SZ, ["one", "two"]),
        Value("Q", hb.REG_QWORD, 2 ** 40 + 5),
        Value("BE", hb.REG_DWORD_BIG_ENDIAN, 1),
        Value("Empty", hb.REG_BINARY, b""),
        Value("Two", hb.REG_BINARY, b"\x01\x02"),
        Value("Wert€", hb.REG_SZ, "x"),
    ])


BLOB = bytes(range(256)) * 200  # 51200 bytes: four "db" segments


@pytest.mark.parametrize("root, minor_version", [
    (Key("ROOT"), 5),
    (sample_tree(), 5),
    (sample_tree(), 3),
    (Key("R", values=[Value("Blob", hb.REG_BINARY, BLOB),
                      Value("Edge", hb.REG_BINARY, b"e" * 16344),
                      Value("Edge1", hb.REG_BINARY, b"f" * 16345)]), 5),
    (Key("R", values=[Value("Blob", hb.REG_BINARY, BLOB)]), 3),
    (Key("R", [Key("K%02d" % i, [Key("x")]) for i in range(10)],
         list_kind="ri", chunk=3, leaf_kind="lf"), 6),
    (Key("R", values=[Value("v%d" % i, hb.REG_SZ, "s" * i) for i in range(300)]), 4),
], ids=["empty-root", "mixed", "mixed-v3", "big-data", "big-data-v3", "ri", "many-bins"])
def test_built_hive_reads_back(root: Key, minor_version: int) -> None:
    image = hb.build_hive(root, minor_version)
    assert image[:4] == b"regf"
    assert u32(image, 508) == xor_words(image)
    assert u32(image, 24) == minor_version
    check_bins(image)
    root_offset = u32(image, 36)
    assert payload(image, root_offset)[2:4] == struct.pack("<H", 0x2C)
    check_key(image, root_offset, root, 0, minor_version)


@pytest.mark.parametrize("fields, expected", [
    ({}, {4: 1, 8: 1, 20: 1, 24: 5, 32: 1, 44: 1}),
    ({"primary_sequence": 7, "secondary_sequence": 9, "minor_version": 3},
     {4: 7, 8: 9, 24: 3}),
    ({"root_cell_offset": 0x1020, "hive_bins_data_size": 0x3000}, {36: 0x1020, 40: 0x3000}),
    ({"checksum": 0}, {508: 0}),
    ({"signature": b"rega", "major_version": 2}, {0: u32(b"rega", 0), 20: 2}),
])
def test_base_block_fields(fields: hb.BaseBlockFields, expected: Dict[int, int]) -> None:
    block = hb.base_block(**fields)
    assert len(block) == 4096 and not any(block[512:])
    for pos, value in expected.items():
        assert u32(block, pos) == value, pos
    if "checksum" not in fields:
        assert u32(block, 508) == xor_words(block)


@pytest.mark.parametrize("file_name, stored", [
    (b"  sample.dat", b"  sample.dat".ljust(64, b"\0")),
    ("HIVE", "HIVE".encode("utf-16-le").ljust(64, b"\0")),
    (b"x" * 70, b"x" * 64),
])
def test_base_block_file_name(file_name: Union[bytes, str], stored: bytes) -> None:
    block = hb.base_block(file_name=file_name)
    assert block[48:112] == stored
    assert u32(block, 508) == xor_words(block)


@pytest.mark.parametrize("size, free, stored", [
    (None, False, -16), (None, True, 16), (0, False, 0), (3, False, 3),
    (-3, False, -3), (-2 ** 31, False, -2 ** 31), (0x80000000, False, -2 ** 31),
])
def test_cell_size_field(size: Optional[int], free: bool, stored: int) -> None:
    builder = hb.HiveBuilder()
    first = builder.cell(b"abcdefgh", size=size, free=free)
    second = builder.cell(b"next")
    image = builder.build()
    assert i32(image, BINS + first) == stored
    assert image[BINS + first + 4:BINS + first + 12] == b"abcdefgh"
    assert second == first + 16  # the space taken ignores the size override


def test_reserved_cell_can_name_itself() -> None:
    builder = hb.HiveBuilder()
    offset = builder.reserve(8)
    builder.fill(offset, hb.subkey_list("ri", [offset]))
    builder.key("R", root=True, subkey_count=1, subkey_list_offset=offset)
    image = builder.build()
    assert payload(image, offset)[:8] == b"ri\x01\x00" + struct.pack("<I", offset)
    assert u32(payload(image, u32(image, 36)), 28) == offset
    with pytest.raises(ValueError):
        builder.fill(offset, b"\0" * 13)


def test_raw_bins_and_trailing_bytes() -> None:
    assert len(hb.HiveBuilder().build()) == 4096
    builder = hb.HiveBuilder()
    builder.cell(b"first")
    builder.new_bin(offset=0, size=0, signature=b"hbix")
    second = builder.cell(b"second")
    builder.append_raw(b"\xaa" * 16)
    image = builder.build()
    assert second == 0x1020
    assert len(image) == BINS + 0x2000 + 16 and image[-16:] == b"\xaa" * 16
    assert u32(image, 40) == 0x2000
    assert struct.unpack_from("<4sII", image, BINS + 0x1000) == (b"hbix", 0, 0)
    assert payload(image, second)[:6] == b"second"


def dirty_blocks(log: bytes) -> List[DirtyBlock]:
    """(block position, [(hive offset, size, data), ...]) for each block."""
    blocks = []
    for pos in range(4096, len(log), 4096):
        if log[pos:pos + 4] != b"DIRT":
            continue
        entries, p = [], pos + 16
        for _ in range(u32(log, pos + 8)):
            hive_offset, size = struct.unpack_from("<II", log, p)
            entries.append((hive_offset, size, log[p + 8:p + 8 + size]))
            p += 8 + size
        blocks.append((pos, entries))
    return blocks


@pytest.mark.parametrize("blocks, kwargs, expected, length", [
    ([], {}, [], 4096),
    ([[(0x1000, b"A" * 512)], [(0, b"B" * 4096), (0x2000, b"C" * 8)]], {},
     [(4096, [(0x1000, 512, b"A" * 512)]),
      (8192, [(0, 4096, b"B" * 4096), (0x2000, 8, b"C" * 8)])], 4096 * 4),
    ([[(0x1000, b"A" * 4, 0)]], {}, [(4096, [(0x1000, 0, b"")])], 8192),
    ([hb.dirt_block([(0, b"xy")], count=3)], {}, None, 8192),
    ([[(0x1000, b"A" * 600)]], {"length": 4607}, [(4096, [(0x1000, 600, b"A" * 487)])], 4607),
    ([[(0x1000, b"A" * 8)]], {"pad": False}, [(4096, [(0x1000, 8, b"A" * 8)])], 4096 + 32),
])
def test_log_file_layout(blocks: List[Union[bytes, List[Union[Page, SizedPage]]]], kwargs: Dict[str, Any],
                         expected: Optional[List[DirtyBlock]], length: int) -> None:
    log = hb.log_file(42, blocks, **kwargs)
    assert struct.unpack_from("<4sI", log) == (b"HvLE", 42) and not any(log[8:4096])
    assert len(log) == length
    if expected is None:  # raw count override: the stored count is kept as given
        assert u32(log, 4096 + 8) == 3 and log[4096 + 16:4096 + 26] == struct.pack("<II", 0, 2) + b"xy"
    else:
        assert dirty_blocks(log) == expected


@pytest.mark.parametrize("value_type, data, stored", [
    (hb.REG_SZ, "ab", b"a\0b\0\0\0"),
    (hb.REG_EXPAND_SZ, "", b"\0\0"),
    (hb.REG_MULTI_SZ, ["a", "b"], b"a\0\0\0b\0\0\0\0\0"),
    (hb.REG_DWORD, 0x01020304, b"\x04\x03\x02\x01"),
    (hb.REG_DWORD_BIG_ENDIAN, 0x01020304, b"\x01\x02\x03\x04"),
    (hb.REG_QWORD, 1, b"\x01" + b"\0" * 7),
    (hb.REG_BINARY, b"xy", b"xy"),
    (hb.REG_NONE, None, b""),
])
def test_value_data_encoding(value_type: int, data: Data, stored: bytes) -> None:
    assert hb.encode_data(value_type, data) == stored


@pytest.mark.parametrize("seed, data, expected", [
    (hb.MARVIN_SEED, b"", 0xB39EFCA403966E08),
    (hb.MARVIN_SEED, b"abcd", 0x20094FB11A6CD086),
    (hb.MARVIN_SEED, bytes(range(32)), 0xC64FEEE425C2E24C),
    (0x004FB61A001BDBCC, b"", 0x30ED35C100CD3C7D),
    (0x004FB61A001BDBCC, bytes.fromhex("37F495"), 0xF0B07C789B8CF7E8),
])
def test_marvin32_vectors(seed: int, data: bytes, expected: int) -> None:
    # The module checks the same vectors when it compiles; logs built here and accepted there cross-check both.
    assert hb.marvin32(data, seed) == expected


def test_windows_log_layouts() -> None:
    new = hb.new_format_log(5, [dict(pages=[(0, b"a" * 4096)]), dict(pages=[(8192, b"b" * 512)])])
    assert u32(new, 28) == 6 and new[512:516] == b"HvLE" and u32(new, 512 + 12) == 5
    second = 512 + u32(new, 512 + 4)
    assert second % 4096 == 0 and u32(new, second + 12) == 6 and len(new) % 4096 == 0
    assert struct.unpack_from("<Q", new, 512 + 24)[0] == hb.marvin32(new[512 + 40:second])
    for bins_size, data_start in ((508 * 4096, 1024), (509 * 4096, 1536)):
        old = hb.old_format_log([(512, b"x" * 512), (4096, b"y" * 1024)], hive_bins_data_size=bins_size)
        assert u32(old, 28) == 1 and old[512:516] == b"DIRT" and old[516] == 0b10 and old[517] == 0b11
        assert old[data_start:] == b"x" * 512 + b"y" * 1024


def cell_sizes(image: bytes) -> Dict[int, int]:
    """Cell offset -> stored size field, over every bin."""
    sizes, pos = {}, 0
    while BINS + pos < len(image):
        size = u32(image, BINS + pos + 8)
        cell = pos + 32
        while cell < pos + size:
            sizes[cell] = i32(image, BINS + cell)
            cell += abs(sizes[cell])
        pos += size
    return sizes


@pytest.mark.parametrize("minor_version", [3, 5])
def test_delete_key_frees_what_only_it_names(minor_version: int) -> None:
    b = hb.HiveBuilder(minor_version)
    root = b.reserve(len(hb.nk("root")))
    doomed = Key("gone", [Key("child", values=[Value("big", hb.REG_BINARY, BLOB)], class_name="c")],
                 values=[Value("v", hb.REG_SZ, "text"), Value("n", hb.REG_DWORD, 1)], list_kind="ri")
    b.add(doomed, parent=root)
    b.key("root", root=True, at=root, security=b"\x01" * 20)
    before = cell_sizes(b.build())
    b.delete_key(stored_at(doomed))
    after = cell_sizes(b.build())
    freed = {o for o in before if before[o] < 0 and after[o] > 0}
    assert {o: -before[o] for o in freed} == {o: after[o] for o in freed}  # sizes kept, only the sign changes
    security = u32(b.payload(root), 44)
    assert {o for o in before if before[o] < 0} - freed == {root, security}  # the root and its shared security cell
    named = {doomed.offset, doomed.subkeys[0].offset} | {v.offset for v in doomed.values + doomed.subkeys[0].values}
    assert named <= freed


def test_coalesce_and_reuse() -> None:
    b = hb.HiveBuilder()
    first, second, third = (b.cell(bytes(20)) for _ in range(3))
    b.free(first)
    b.free(second)
    b.coalesce(first, third)
    b.reuse(third, b"\xAA" * 4)
    b.coalesce(third + 8)
    sizes = cell_sizes(b.build())
    assert sizes == {first: 48, third: -8, third + 8: 4096 - 32 - 56}
    assert i32(b.build(), BINS + second) == 24  # the inner size field stays


# Each TypedDict of keyword overrides against the encoder it feeds: the encoder's parameters with their types, less
# those that the call passing the overrides on sets itself.
@pytest.mark.parametrize("fields, encoder, set_by_caller", [
    (hb.NkFields, hb.nk, {"name", "root"}),
    (hb.VkFields, hb.vk, {"name"}),
    (hb.HbinFields, hb.hbin_header, set()),
    (hb.BaseBlockFields, hb.base_block, set()),
    (hb.BuildHiveFields, hb.base_block, {"minor_version"}),
    (hb.NewLogFields, hb.base_block, {"file_type"}),
    (hb.LogHeaderFields, hb.base_block, {"file_type", "hive_bins_data_size"}),
    (hb.OldLogFields, hb.base_block, {"file_type", "hive_bins_data_size", "signature"}),
], ids=["nk", "vk", "hbin", "base-block", "build-hive", "new-log", "log-header", "old-log"])
def test_override_fields_match_their_encoder(fields: type, encoder: Callable[..., bytes],
                                             set_by_caller: Set[str]) -> None:
    hints = typing.get_type_hints(encoder)
    expected = {name: hints[name] for name in inspect.signature(encoder).parameters if name not in set_by_caller}
    assert typing.get_type_hints(fields) == expected


LOAD_ALONE = """
import importlib.util, sys
folder = sys.argv[1]
spec = importlib.util.spec_from_file_location("alone", folder + "/__init__.py", submodule_search_locations=[folder])
hb = importlib.util.module_from_spec(spec)
sys.modules["alone"] = hb
spec.loader.exec_module(hb)
assert "tarnu" not in sys.modules, "the builder imported tarnu"
sys.stdout.buffer.write(hb.build_hive(hb.Key("R", [hb.Key("S")], [hb.Value("v", hb.REG_SZ, "x")])))
"""


def test_loads_from_its_folder_without_the_extension() -> None:
    # The fuzz corpus is written by a plain interpreter that loads the builder from its source folder, since the
    # extension beside it may be built with sanitizers: the builder's modules import only each other and the
    # standard library.
    folder = pathlib.Path(hb.__file__).parent
    built = subprocess.run([sys.executable, "-c", LOAD_ALONE, str(folder)], capture_output=True, check=True).stdout
    assert built == hb.build_hive(Key("R", [Key("S")], [Value("v", hb.REG_SZ, "x")]))
