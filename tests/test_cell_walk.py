"""Hive.cells(): every cell of every hive bin with its size, allocation state and record signature."""

import bisect
import gc
import pathlib
import struct
from typing import Dict, List, Optional, Tuple

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import OpenImage, sample_path

# (offset, size, allocated, signature) of a cell.
CellRow = Tuple[int, int, bool, Optional[str]]


def cells(hive: tarnu.Hive) -> List[CellRow]:
    return [(c.offset, c.size, c.allocated, c.signature) for c in hive.cells()]


def test_cells_of_a_built_hive(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    value = b.value("v", hb.REG_BINARY, bytes(10))
    child = b.key("child", values=[value], security=b"\x01" * 20)
    b.key("root", root=True, subkeys=[child])
    big = hb.HiveBuilder()
    big.key("root", root=True, values=[big.value("big", hb.REG_BINARY, bytes(20000))])
    assert cells(open_image(b.build())) == [
        (0x20, 16, True, None),      # the value's data
        (0x30, 32, True, "vk"),
        (0x50, 8, True, None),       # the value list
        (0x58, 48, True, "sk"),
        (0x88, 88, True, "nk"),
        (0xE0, 16, True, "lh"),
        (0xF0, 88, True, "nk"),
        (0x148, 4096 - 0x148, False, None),  # the rest of the bin
    ]
    walked = cells(open_image(big.build()))
    assert [c[3] for c in walked if c[3]] == ["db", "vk", "nk"]
    assert sum(c[1] for c in walked) == sum(h.size - 32 for h in open_image(big.build()).hbins())


def two_bins(first_cells: Tuple[int, ...]) -> bytes:
    """Two 4096-byte bins: the first holds cells with the given size fields, each taking the space its size says
    (at least 8 bytes where it says less), the rest zeros; the second is one allocated cell."""
    first = bytearray(hb.hbin_header(0))
    for size in first_cells:
        first += struct.pack("<i", size).ljust(max(8, min(abs(size), 4096)), b"\0")
    second = hb.hbin_header(0x1000) + struct.pack("<i", -4064).ljust(4064, b"\0")
    image: bytes = hb.base_block(hive_bins_data_size=0x2000) + bytes(first[:4096]).ljust(4096, b"\0") + second
    return image


@pytest.mark.parametrize("first, walked", [
    # a size below 4 ends the bin's walk; the next bin is still walked
    ((-16, 0), [(0x20, 16, True)]),
    ((-16, 3), [(0x20, 16, True)]),
    ((-16, -3), [(0x20, 16, True)]),
    # a cell running past its bin ends the bin's walk
    ((-16, 4096), [(0x20, 16, True)]),
    ((-16, -2 ** 31), [(0x20, 16, True)]),
    ((4064 + 8,), []),
    # a cell ending exactly at the bin's end, sizes that are not multiples of 8
    ((4064,), [(0x20, 4064, False)]),
    ((-12, -4052), [(0x20, 12, True), (0x2C, 4052, True)]),
])
def test_damaged_cells_end_their_bin(open_image: OpenImage, first: Tuple[int, ...],
                                     walked: List[Tuple[int, int, bool]]) -> None:
    assert [c[:3] for c in cells(open_image(two_bins(first)))] == walked + [(0x1020, 4064, True)]


def test_bins_are_those_hbins_lists(open_image: OpenImage) -> None:
    b = hb.HiveBuilder()
    b.key("root", root=True)
    b.append_raw(b"\0" * 4096)  # not a bin: the listing ends
    b.new_bin()
    b.cell(b"nk")
    assert [c[0] for c in cells(open_image(b.build()))] == [0x20, 0x78]

    # Where hbins() fails, the walk ends instead; the bins before are walked.
    b = hb.HiveBuilder()
    b.key("root", root=True)
    b.new_bin(offset=0x5000)
    hive = open_image(b.build())
    with pytest.raises(ValueError, match="Hbin offset mismatch"):
        hive.hbins()
    assert [c[0] for c in cells(hive)] == [0x20, 0x78]


def test_bin_cut_by_the_end_of_the_image(open_image: OpenImage) -> None:
    image = hb.base_block(hive_bins_data_size=0x3000) + hb.hbin_header(0, 0x3000) + struct.pack("<i", 4064)
    assert cells(open_image(image.ljust(0x2000, b"\0"))) == [(0x20, 4064, False, None)]  # the file holds one block
    empty = hb.base_block(hive_bins_data_size=0)
    assert cells(open_image(empty)) == []


def test_cell_records(open_image: OpenImage) -> None:
    hive = open_image(hb.build_hive(hb.Key("root")))
    walk = hive.cells()
    assert iter(walk) is walk and type(walk).__name__ == "CellWalk"
    cell = next(walk)
    assert isinstance(cell, tarnu.Cell) and type(cell).__qualname__ == "Cell" and type(cell).__module__ == "builtins"
    assert repr(cell) == "Cell(offset=0x20, size=88, allocated=True, signature='nk')"
    assert repr(next(walk)) == "Cell(offset=0x78, size=3976, allocated=False, signature=None)"
    assert next(walk, None) is None and next(walk, None) is None
    for name in ("offset", "size", "allocated", "signature"):
        with pytest.raises(AttributeError):
            setattr(cell, name, 1)
    for cls in (tarnu.Cell, type(walk)):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            cls()
    assert "Cell" not in tarnu.__all__


def test_walk_keeps_the_hive(open_image: OpenImage) -> None:
    walk = open_image(hb.build_hive(hb.Key("root", [hb.Key("a")]))).cells()
    gc.collect()
    assert [(c.signature, c.allocated) for c in walk] == [("nk", True), ("nk", True), ("lh", True), (None, False)]


@pytest.mark.parametrize("name", ["NTUSER.DAT.xz", "SYSTEM.xz", "amcache.hve.xz", "special",
                                  "deleted/DeletedTreeHive.xz"])
def test_samples_are_tiled_by_cells(samples_dir: pathlib.Path, name: str) -> None:
    hive = tarnu.Hive.open(sample_path(name, samples_dir))
    bins = hive.hbins()
    starts = [header.offset for header in bins]
    tiled: Dict[int, Tuple[int, int]] = {}  # bin index -> (first cell offset, sum of cell sizes)
    for cell in hive.cells():
        i = bisect.bisect_right(starts, cell.offset) - 1
        first, total = tiled.get(i, (cell.offset, 0))
        tiled[i] = (first, total + cell.size)
    assert tiled == {i: (header.offset + 32, header.size - 32) for i, header in enumerate(bins)}
    walked = list(hive.cells())
    nodes = sum(1 for c in walked if c.allocated and c.signature == "nk")
    assert nodes >= sum(1 for _ in hive.walk(errors="skip"))
