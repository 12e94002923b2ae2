"""Subkey lists ("lf", "lh", "li", "ri") as RegistryKey.subkeys() follows them."""

from typing import Any, Callable, Dict, Tuple

import pytest

import tarnu
from tarnu.hivebuilder import NO_CELL, HiveBuilder, subkey_list, vk

OpenImage = Callable[[bytes], tarnu.Hive]
# Cell offsets by name: the keys A, B, C, and what the list makers add.
Offsets = Dict[str, int]
# Makes the root's subkey list with the builder, given the offsets of the keys, and gives its offset.
MakeList = Callable[[HiveBuilder, Offsets], int]


def exact(payload: bytes) -> int:
    """Size field making the cell's payload exactly ``payload`` (no rounding slack)."""
    return -(4 + len(payload))


def hive_with_list(open_image: OpenImage, make_list: MakeList,
                   subkey_count: int = 1) -> Tuple[tarnu.RegistryKey, Offsets]:
    """Root key over the list ``make_list(builder, keys)`` returns; keys A, B, C exist.

    Returns (root key, dict of names and offsets of the keys and the root's list).
    """
    b = HiveBuilder()
    offsets = {name: b.key(name) for name in "ABC"}
    offsets["list"] = make_list(b, offsets)
    b.key("root", root=True, subkey_count=subkey_count, subkey_list_offset=offsets["list"])
    return open_image(b.build()).root_key(), offsets


def li(b: HiveBuilder, *offsets: int) -> int:
    at: int = b.cell(subkey_list("li", list(offsets)))
    return at


def ri(b: HiveBuilder, *offsets: int) -> int:
    at: int = b.cell(subkey_list("ri", list(offsets)))
    return at


def ri_chain(b: HiveBuilder, depth: int, leaf: int) -> int:
    """``depth`` index lists, each naming the next; the last names ``leaf``."""
    at = leaf
    for _ in range(depth):
        at = ri(b, at)
    return at


@pytest.mark.parametrize("make_list, expected", [
    (lambda b, k: 0, ""),
    (lambda b, k: NO_CELL, ""),
    (lambda b, k: b.cell(subkey_list("lf", [(k["A"], "A"), (k["B"], "B")])), "AB"),
    (lambda b, k: b.cell(subkey_list("lf", [(k["B"], b"zzzz"), (k["A"], 0)])), "BA"),
    (lambda b, k: b.cell(subkey_list("lh", [(k["A"], 0xDEADBEEF), (k["B"], 0)])), "AB"),
    (lambda b, k: li(b, k["C"], k["A"], k["B"]), "CAB"),
    (lambda b, k: li(b), ""),
    (lambda b, k: ri(b), ""),
    (lambda b, k: b.cell(subkey_list("li", [k["A"]]), free=True), "A"),
    (lambda b, k: li(b, k["A"], k["A"], k["B"], k["A"]), "AABA"),
    (lambda b, k: ri(b, li(b, k["A"], k["B"]), b.cell(subkey_list("lf", [(k["C"], "C")]))), "ABC"),
    (lambda b, k: ri(b, 0, NO_CELL, li(b, k["A"])), "A"),
    (lambda b, k: ri(b, ri(b, li(b, k["C"])), li(b, k["A"]), ri(b, ri(b, li(b, k["B"])))), "CAB"),
    (lambda b, k: ri(b, *[li(b, k["A"], k["B"])] * 2), "ABAB"),
    (lambda b, k: ri(b, li(b, k["A"]), li(b, k["B"]), li(b, k["A"])), "ABA"),
    (lambda b, k: ri_chain(b, 32, li(b, k["B"])), "B"),
], ids=["zero", "none", "lf", "lf-hints-ignored", "lh-hashes-ignored", "li-stored-order", "li-empty",
        "ri-empty", "free-cell", "repeats", "ri-li-lf", "ri-skips-no-cell", "ri-in-ri", "leaf-twice",
        "leaf-again", "32-deep"])
def test_lists_yield_children_in_stored_order(open_image: OpenImage, make_list: MakeList, expected: str) -> None:
    root, _ = hive_with_list(open_image, make_list)
    assert "".join(k.name() for k in root.subkeys()) == expected
    assert root.subkey_count() == 1


def test_largest_leaf_list(open_image: OpenImage) -> None:
    root, _ = hive_with_list(open_image, lambda b, k: li(b, *[k["A"]] * 0xFFFF))
    keys = root.subkeys()
    assert len(keys) == 0xFFFF and {k.name() for k in keys} == {"A"}


def test_many_children_through_index_lists(open_image: OpenImage) -> None:
    b = HiveBuilder()
    children = [b.key("k%04d" % i) for i in range(3000)]
    b.key("root", root=True, subkeys=children, list_kind="ri", chunk=500)
    assert [k.name() for k in open_image(b.build()).root_key().subkeys()] == ["k%04d" % i for i in range(3000)]


def pinned(payload: bytes) -> MakeList:
    """A list builder storing ``payload`` in a cell of exactly that payload length."""
    return lambda b, k: b.cell(payload, size=exact(payload))


# Hives of these tests fit in one 4096-byte bin: the image is 0x2000 bytes long.
@pytest.mark.parametrize("make_list, message", [
    (pinned(subkey_list("li", [1, 2], count=3)),
     "Truncated data at offset {list:#x}: expected 16 bytes, got 12 bytes"),
    (pinned(subkey_list("lh", [(1, 0)], count=2)),
     "Truncated data at offset {list:#x}: expected 20 bytes, got 12 bytes"),
    (pinned(subkey_list("lf", [(1, 0)] * 3)[:-1]),
     "Truncated data at offset {list:#x}: expected 28 bytes, got 27 bytes"),
    (pinned(subkey_list("ri", [1], count=2)),
     "Truncated data at offset {list:#x}: expected 12 bytes, got 8 bytes"),
    (pinned(subkey_list("li", [], count=0xFFFF)),
     "Truncated data at offset {list:#x}: expected 262144 bytes, got 4 bytes"),
    (pinned(b"li"), "Truncated data at offset {list:#x}: expected 4 bytes, got 2 bytes"),
    (pinned(b"ri\x00"), "Truncated data at offset {list:#x}: expected 4 bytes, got 3 bytes"),
    (pinned(b""), "Truncated data at offset {list:#x}: expected 4 bytes, got 0 bytes"),
    (lambda b, k: b.cell(vk("x")), "Invalid subkey list type: [118, 107]"),
    (lambda b, k: k["A"], "Invalid subkey list type: [110, 107]"),
    (pinned(subkey_list("rx", [])), "Invalid subkey list type: [114, 120]"),
    (pinned(subkey_list("lx", [])), "Invalid subkey list type: [108, 120]"),
    (pinned(subkey_list("LI", [])), "Invalid subkey list type: [76, 73]"),
    (pinned(subkey_list("il", [])), "Invalid subkey list type: [105, 108]"),
    (pinned(subkey_list(b"\xff\x00", [])), "Invalid subkey list type: [255, 0]"),
    (lambda b, k: 0x7FFFFFF0, "Invalid offset 0x7ffffff0 (hive size: 0x2000)"),
    (lambda b, k: 0xFFFFF000, "Invalid offset 0xfffff000 (hive size: 0x0)"),
    (lambda b, k: b.cell(b"lh", size=3), "Invalid cell size 3 at offset {list:#x}"),
])
@pytest.mark.parametrize("under_index", [False, True])
def test_unreadable_list_fails_subkeys(open_image: OpenImage, make_list: MakeList, message: str,
                                       under_index: bool) -> None:
    # Under an index list, good lists before and after the bad one change nothing.
    def make(b: HiveBuilder, k: Offsets) -> int:
        k["list"] = make_list(b, k)
        return ri(b, li(b, k["A"]), k["list"], li(b, k["B"])) if under_index else k["list"]

    b = HiveBuilder()
    k = {name: b.key(name) for name in "ABC"}
    b.key("root", root=True, subkey_count=1, subkey_list_offset=make(b, k))
    root = open_image(b.build()).root_key()
    for _ in range(2):
        with pytest.raises(ValueError) as info:
            root.subkeys()
        assert str(info.value) == message.format(**k)


@pytest.mark.parametrize("entry, message", [
    # offset 0 is the first hive-bin header; its "hbin" reads as a huge free cell
    (0, "Truncated data at offset 0x0: expected 1852400232 bytes, got 4096 bytes"),
    (NO_CELL, "Invalid offset 0xffffffff (hive size: 0x0)"),
    (0x1000, "Invalid offset 0x1000 (hive size: 0x2000)"),
    ("vk", "Invalid format: Expected 'nk' signature at offset {vk:#x}"),
    ("li", "Truncated data at offset {li:#x}: expected 76 bytes, got 12 bytes"),
])
def test_leaf_entries_are_not_filtered(open_image: OpenImage, entry: Any, message: str) -> None:
    def make(b: HiveBuilder, k: Offsets) -> int:
        k["vk"] = b.cell(vk("v" * 60))
        k["li"] = b.cell(subkey_list("li", [k["A"], k["B"]]))
        return li(b, k["A"], k.get(entry, entry), k["B"])

    root, k = hive_with_list(open_image, make)
    with pytest.raises(ValueError) as info:
        root.subkeys()
    assert str(info.value) == message.format(**k)


# ---- lists that would never end ---------------------------------------------------------------------------

def depth_error(offset: int) -> str:
    return ("Invalid format: Subkey index list at offset %#x is nested more than 32 levels deep" % offset)


def self_naming(b: HiveBuilder, k: Offsets) -> int:
    at: int = b.reserve(8)
    b.fill(at, subkey_list("ri", [at]))
    return at


def mutual(b: HiveBuilder, k: Offsets) -> int:
    first: int = b.reserve(8)
    second: int = b.reserve(8)
    b.fill(first, subkey_list("ri", [second, first]))
    b.fill(second, subkey_list("ri", [first]))
    return first


def fan_out_self(b: HiveBuilder, k: Offsets) -> int:
    at: int = b.reserve(4 + 4 * 0xFFFF)
    b.fill(at, subkey_list("ri", [at] * 0xFFFF))
    return at


@pytest.mark.parametrize("make_list", [self_naming, mutual, fan_out_self],
                         ids=["self", "mutual", "fan-out-self"])
def test_index_cycles_fail(open_image: OpenImage, make_list: MakeList) -> None:
    root, k = hive_with_list(open_image, make_list)
    with pytest.raises(ValueError) as info:
        root.subkeys()
    # the 33rd list on the way down is the one refused; with a cycle through the root list it is that list
    assert str(info.value) == depth_error(k["list"])


def test_index_nesting_bound(open_image: OpenImage) -> None:
    made: Dict[str, int] = {}

    def make(b: HiveBuilder, k: Offsets) -> int:
        made["deepest"] = ri(b, li(b, k["A"]))
        return ri_chain(b, 32, made["deepest"])

    root, _ = hive_with_list(open_image, make)
    with pytest.raises(ValueError) as info:
        root.subkeys()
    assert str(info.value) == depth_error(made["deepest"])


def fan_out_chain(b: HiveBuilder, k: Offsets) -> int:
    # three index lists of 65535 entries, each naming the next: 65535**3 visits of the leaf list
    at = li(b, k["A"])
    for _ in range(3):
        at = b.cell(subkey_list("ri", [at] * 0xFFFF))
    return at


def fan_out_to_leaf(b: HiveBuilder, k: Offsets) -> int:
    # one index list naming a 4000-entry leaf list 65535 times: 262 million offsets
    at: int = b.cell(subkey_list("ri", [li(b, *[k["A"]] * 4000)] * 0xFFFF))
    return at


@pytest.mark.parametrize("make_list", [fan_out_chain, fan_out_to_leaf])
def test_fan_out_fails(open_image: OpenImage, make_list: MakeList) -> None:
    root, k = hive_with_list(open_image, make_list)
    with pytest.raises(ValueError) as info:
        root.subkeys()
    assert str(info.value) == ("Invalid format: Subkey lists reached from offset %#x "
                               "name more entries than the hive holds" % k["list"])
