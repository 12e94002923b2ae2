"""Records outside the live tree beyond free cells: allocated cells nothing uses, remnants past the stated end of the
hive bins data, keys whose parent offset is damaged; hives whose tree is cut (Hive.key_nodes, Hive.key_at)."""

import json
import pathlib
import struct
from typing import Callable, Dict, List, Tuple, Union

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import OpenImage, sample_path, stored_at, under_root

# What deleted() shows of a key (source, path, complete, values) or of a value on its own (source, name, raw data).
Shown = Union[Tuple[str, str, bool, List[Tuple[str, int, bytes]]], Tuple[str, str, bytes]]
# A hive to recover from: (image, what deleted() shows, the places the scan passed over).
Case = Tuple[bytes, List[Shown], int]


def text(value: str) -> bytes:
    return (value + "\0").encode("utf-16-le")


def shown(hive: tarnu.Hive) -> List[Shown]:
    out: List[Shown] = []
    for record in hive.deleted():
        if isinstance(record, tarnu.DeletedKey):
            values = [(v.name(), v.value_type().type_id(), v.raw_data() or b"") for v in record.values()]
            out.append((record.source(), record.path(), record.is_path_complete(), values))
        else:
            out.append((record.source(), record.name(), record.raw_data() or b""))
    return out


def unreferenced_key() -> Case:
    def build(b: hb.HiveBuilder, root: int) -> None:
        b.add(hb.Key("orphan", values=[hb.Value("v", hb.REG_SZ, "text")]), parent=root)  # the root does not list it
    return under_root(build).build(), [("unreferenced", "orphan", True, [("v", hb.REG_SZ, text("text"))])], 0


def healed_cells() -> Case:
    # A key deleted, its cells merged into one free cell, then marked allocated again with nothing naming it.
    def build(b: hb.HiveBuilder, root: int) -> None:
        before = b.cell(bytes(100))
        key = hb.Key("healed", values=[hb.Value("v", hb.REG_SZ, "data"), hb.Value("n", hb.REG_DWORD, 7)])
        b.add(key, parent=root)
        b.delete_key(stored_at(key))
        b.free(before)
        b.coalesce(before)
        b.fill(before, b"", size=-(4 + len(b.payload(before))))
    values = [("v", hb.REG_SZ, text("data")), ("n", hb.REG_DWORD, b"\x07\0\0\0")]
    return under_root(build, hb.Key("live")).build(), [("unreferenced", "healed", True, values)], 0


def live_key_in_a_free_cell() -> Case:
    # What the live tree uses is never recovered, whatever its cell's size field says.
    def build(b: hb.HiveBuilder, root: int) -> None:
        b.free(stored_at(live))
    live = hb.Key("live", values=[hb.Value("v", hb.REG_DWORD, 1)])
    return under_root(build, live).build(), [], 0


def damaged_parent() -> Case:
    def build(b: hb.HiveBuilder, root: int) -> None:
        top = hb.Key("top", [hb.Key("child", values=[hb.Value("v", hb.REG_DWORD, 2)])])
        b.add(top, parent=0x231)
        b.delete_key(stored_at(top))
    return under_root(build).build(), [
        ("free", "top\\child", False, [("v", hb.REG_DWORD, b"\x02\0\0\0")]), ("free", "top", False, [])], 0


def remnant_bin_of_an_earlier_hive() -> Case:
    # Past the stated end, a bin that names the position 0x80000 it had in a larger hive; its records name cells by
    # the offsets of that hive.
    b = hb.HiveBuilder()
    b.key("root", root=True)
    stated = b.new_bin(offset=0x80000)

    def moved(at: int) -> int:
        return at - stated + 0x80000
    data = b.cell(text("left behind"))
    value = b.cell(hb.vk("v", data_size=len(text("left behind")), data_offset=moved(data), data_type=hb.REG_SZ))
    values = b.cell(hb.value_list([moved(value)]))
    b.cell(hb.nk("gone", parent=0x80000 - 0x1000, value_count=1, value_list_offset=moved(values)), free=True)
    b.cell(hb.vk("alone", data_size=4 | hb.INLINE_FLAG, data_offset=9, data_type=hb.REG_DWORD))
    return b.build(hive_bins_data_size=stated), [
        ("remnant", "gone", False, [("v", hb.REG_SZ, text("left behind"))]),
        ("remnant", "alone", b"\x09\0\0\0")], 0


def remnant_bin_in_place() -> Case:
    # A bin past the stated end that names its own position: a hive that shrank.
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    b.key("root", root=True, at=root)
    stated = b.new_bin()
    key = hb.Key("shrunk", values=[hb.Value("v", hb.REG_BINARY, bytes(range(20)))])
    b.add(key, parent=root)
    b.delete_key(stored_at(key))
    return b.build(hive_bins_data_size=stated), [
        ("remnant", "shrunk", True, [("v", hb.REG_BINARY, bytes(range(20)))])], 0


def remnant_without_size_field() -> Case:
    # Bytes past the last bin holding a value key whose size field is gone.
    b = hb.HiveBuilder()
    b.key("root", root=True)
    b.append_raw(bytes(8) + hb.vk("", data_size=4 | hb.INLINE_FLAG, data_offset=1, data_type=hb.REG_DWORD)
                 + bytes(4068))
    return b.build(), [("remnant", "(default)", b"\x01\0\0\0")], 0


def truncated() -> Case:
    # The root's subkey list lies in a second bin that the file no longer holds.
    return truncated_builder().build()[:8192], [
        ("unreferenced", "k%d" % i, True, [("v", hb.REG_DWORD, struct.pack("<I", i))]) for i in range(3)], 1


def truncated_builder() -> hb.HiveBuilder:
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    keys = [b.add(hb.Key("k%d" % i, values=[hb.Value("v", hb.REG_DWORD, i)]), parent=root) for i in range(3)]
    b.new_bin()
    b.key("root", root=True, at=root, subkeys=keys)
    return b


def bin_missing_in_the_middle() -> Case:
    # root -> mid -> deep, with mid's bin gone: deep and what lies after the gap are still found.
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    middle = b.new_bin()
    mid = b.reserve(len(hb.nk("mid")))
    b.new_bin()
    deep = b.key("deep", parent=mid, values=[b.value("v", hb.REG_SZ, "still here")])
    b.fill(mid, hb.nk("mid", parent=root, subkey_count=1, subkey_list_offset=b.subkey_list_cell("lh", [deep])))
    b.key("root", root=True, at=root, subkeys=[mid])
    image = bytearray(b.build())
    image[4096 + middle:4096 + middle + 4096] = bytes(4096)
    return bytes(image), [("unreferenced", "deep", False, [("v", hb.REG_SZ, text("still here"))])], 1


CASES = {case.__name__: case for case in [
    unreferenced_key, healed_cells, live_key_in_a_free_cell, damaged_parent, remnant_bin_of_an_earlier_hive,
    remnant_bin_in_place, remnant_without_size_field, truncated, bin_missing_in_the_middle]}


@pytest.mark.parametrize("case", CASES.values(), ids=CASES.keys())
def test_records_outside_the_live_tree(open_image: OpenImage, case: Callable[[], Case]) -> None:
    image, expected, passed_over = case()
    hive = open_image(image)
    assert sorted(shown(hive)) == sorted(expected)
    records = hive.deleted()
    assert [r.cell_offset() for r in records] == sorted(r.cell_offset() for r in records)
    counts: Dict[str, int] = {"free": 0, "unreferenced": 0, "remnant": 0, "passed_over": passed_over}
    for record in records + [v for r in records if isinstance(r, tarnu.DeletedKey) for v in r.values()]:
        counts[record.source()] += 1
    assert hive.deleted_counts() == counts
    # The rows of the exports say where each record came from, as the objects do.
    rows = [json.loads(line) for line in b"".join(tarnu._export(image, "jsonl", sources="recovered")).splitlines()]
    by_offset = {r.cell_offset(): r.source() for r in records + [v for r in records if isinstance(r, tarnu.DeletedKey)
                                                                 for v in r.values()]}
    assert [row["source"] for row in rows] == [by_offset[row["offset"]] for row in rows]


@pytest.mark.parametrize("case, names, paths", [
    (truncated, ["root", "k0", "k1", "k2"], [("", True), ("k0", True), ("k1", True), ("k2", True)]),
    (bin_missing_in_the_middle, ["root", "deep"], [("", True), ("deep", False)]),
])
def test_key_nodes_of_a_cut_tree(open_image: OpenImage, case: Callable[[], Case], names: List[str],
                                 paths: List[Tuple[str, bool]]) -> None:
    hive = open_image(case()[0])
    keys = hive.key_nodes()
    assert [k.name() for k in keys] == names and [k.partial_path() for k in keys] == paths
    assert [hive.key_at(k.cell_offset()) for k in keys] == keys
    assert [k.name() for _, k in hive.walk(errors="skip")] == ["root"]


def test_key_at(open_image: OpenImage) -> None:
    hive = open_image(hb.build_hive(hb.Key("root", [hb.Key("a", values=[hb.Value("v", hb.REG_DWORD, 1)])])))
    child = hive.key("a")
    assert hive.key_at(child.cell_offset()) == child and hive.key_at(offset=0x20) == hive.root_key()
    value_offset = next(c.offset for c in hive.cells() if c.signature == "vk")
    for offset, kind, message in [
            (value_offset, tarnu.CorruptHiveError,
             "Truncated data at offset %#x: expected 76 bytes, got 28 bytes" % value_offset),
            (0x7FFFFFF8, tarnu.CorruptHiveError, "Invalid offset 0x7ffffff8 (hive size: 0x2000)"),
            (-1, ValueError, "argument 'offset': expected an offset from 0 to 0xffffffff, got -1"),
            (1 << 32, ValueError, "argument 'offset': expected an offset from 0 to 0xffffffff, got 4294967296"),
            ("0x20", TypeError, "argument 'offset': expected int, got str"),
            (True, TypeError, "argument 'offset': expected int, got bool")]:
        with pytest.raises(kind) as info:
            hive.key_at(offset)  # type: ignore[arg-type]
        assert type(info.value) is kind and str(info.value) == message


def test_partial_path_through_parents_that_loop(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    b.key("root", root=True)
    first, second = b.reserve(len(hb.nk("one"))), b.reserve(len(hb.nk("two")))
    b.fill(first, hb.nk("one", parent=second))
    b.fill(second, hb.nk("two", parent=first))
    hive = open_image(b.build())
    assert [k.partial_path() for k in hive.key_nodes()] == [("", True), ("two\\one", False), ("one\\two", False)]


# ---- hostile remnants -----------------------------------------------------------------------------------------

@pytest.mark.parametrize("trailing", [
    b"nk" * 8192,                                          # signatures everywhere, nothing that parses
    b"vk" * 8192,                                          # as many unnamed values with no data as fit
    (hb.hbin_header(0x1000) + bytes(4064)) * 4,           # bins that all claim the same earlier position
    bytes(4) + hb.nk("loop", parent=0x1000) + bytes(4004),  # a key that is its own parent (the bytes begin at 0x1000)
])
def test_hostile_remnants_end_in_bounded_work(open_image: OpenImage, trailing: bytes) -> None:
    b = hb.HiveBuilder()
    b.key("root", root=True)
    b.append_raw(trailing)
    hive = open_image(b.build())
    records = hive.deleted()
    assert all(r.source() == "remnant" for r in records)
    assert len(records) <= len(trailing) // 24
    for record in records:
        if isinstance(record, tarnu.DeletedKey):
            assert not record.is_path_complete()


# ---- real hives -------------------------------------------------------------------------------------------------

RECOVERY_SAMPLES: Dict[str, Tuple[List[Shown], Dict[str, int]]] = {
    "HealedHive": ([("unreferenced", "cccc", True, [("123", hb.REG_SZ, text("test"))])],
                   {"free": 0, "unreferenced": 2, "remnant": 0, "passed_over": 0}),
    "RemnantsHive": ([("remnant", "(default)", b"\x01\0\0\0")],
                     {"free": 0, "unreferenced": 0, "remnant": 1, "passed_over": 0}),
    "DeletedTreePartialPathHive": (
        [("free", path, False, []) for path in ["3\\4\\New Key #1", "3", "3\\4", "3\\4\\5"]],
        {"free": 4, "unreferenced": 0, "remnant": 0, "passed_over": 0}),
}


@pytest.mark.parametrize("name", RECOVERY_SAMPLES)
def test_recovery_samples(samples_dir: pathlib.Path, name: str) -> None:
    hive = tarnu.Hive.open(sample_path("recovery/{}.xz".format(name), samples_dir))
    expected, counts = RECOVERY_SAMPLES[name]
    assert shown(hive) == expected and hive.deleted_counts() == counts
    if name == "RemnantsHive":  # its "vk" lies at file offset 0x2000, without a size field before it
        assert hive.deleted()[0].cell_offset() + 4 + 4096 == 0x2000


def test_sample_truncated_hive(samples_dir: pathlib.Path) -> None:
    hive = tarnu.Hive.open(sample_path("recovery/TruncatedHive.xz", samples_dir))
    assert hive.base_block().hive_bins_data_size == 0x77000 and len([k for _, k in hive.walk(errors="skip")]) == 2
    names = [k.name() for k in hive.key_nodes()]
    numbers = sorted(int(n) for n in names if n.isdigit())
    assert len(names) == 85 and len(numbers) == 83 and (numbers[0], numbers[-1]) == (1, 101)
    assert sorted(set(names) - {str(n) for n in numbers}) == ["key_with_many_subkeys",
                                                              "{6214ff27-7b1b-41a3-9ae4-5fb851ffed63}"]
    assert all(k.partial_path() == ("key_with_many_subkeys\\" + k.name(), True) for k in hive.key_nodes()
               if k.name().isdigit())
    assert hive.deleted_counts() == {"free": 0, "unreferenced": 83, "remnant": 0, "passed_over": 1}


def test_sample_user_hive_remnants(samples_dir: pathlib.Path) -> None:
    # The NTUSER.DAT sample states 0xb3000 bytes of hive bins and holds twelve bins of an earlier hive past them.
    hive = tarnu.Hive.open(sample_path("NTUSER.DAT.xz", samples_dir))
    records = hive.deleted()
    keys = [r for r in records if isinstance(r, tarnu.DeletedKey)]
    values = [r for r in records if isinstance(r, tarnu.DeletedValue)] + [v for k in keys for v in k.values()]
    assert (len(keys), len(values)) == (103, 415)
    assert {k.source() for k in keys} == {"remnant"} and all(k.cell_offset() >= 0xb3000 for k in keys)
    assert hive.deleted_counts() == {"free": 29, "unreferenced": 0, "remnant": 489, "passed_over": 0}
