"""Cells reached by cell offset (through the root key) and the walk over the hive-bin headers."""

from __future__ import annotations

import gc
import os
import pathlib
from typing import TYPE_CHECKING, List, Optional, Tuple, Union

import pytest

from tarnu import hivebuilder as hb
import tarnu
from conftest import OpenImage, sample_path

if TYPE_CHECKING:
    from typing_extensions import Unpack

ROOT = hb.nk("root", root=True)

# Fields of a bin's header that a test sets, as HiveBuilder.new_bin takes them.
Header = hb.HbinFields
# (signature, offset, size) of each bin Hive.hbins() lists.
Layout = List[Tuple[str, int, int]]


def root_image(payload: bytes = ROOT, *, size: Optional[int] = None, free: bool = False, raw: Optional[bytes] = None,
               **base_block: Unpack[hb.BaseBlockFields]) -> bytes:
    """One bin whose first cell (offset 0x20) holds `payload`; `raw` bytes follow the bin."""
    builder = hb.HiveBuilder()
    builder.cell(payload, size=size, free=free)
    if raw is not None:
        builder.append_raw(raw)
    return builder.build(**base_block)


def root_error(open_image: OpenImage, image: bytes) -> str:
    with pytest.raises(ValueError) as info:
        open_image(image).root_key()
    assert type(info.value) is tarnu.CorruptHiveError
    return str(info.value)


@pytest.mark.parametrize("offset, message", [
    (0xFFFFF000, "Invalid offset 0xfffff000 (hive size: 0x0)"),
    (0xFFFFFFFF, "Invalid offset 0xffffffff (hive size: 0x0)"),
    (0xFFFFEFFF, "Invalid offset 0xffffefff (hive size: 0x2000)"),
    (0x1000, "Invalid offset 0x1000 (hive size: 0x2000)"),
    (0x1001, "Invalid offset 0x1001 (hive size: 0x2000)"),
    (0xFFD, "Truncated data at offset 0xffd: expected 4 bytes, got 3 bytes"),
    (0xFFF, "Truncated data at offset 0xfff: expected 4 bytes, got 1 bytes"),
])
def test_root_offset_bounds(open_image: OpenImage, offset: int, message: str) -> None:
    assert root_error(open_image, root_image(root_cell_offset=offset)) == message


def test_size_field_cut_by_end_of_image(open_image: OpenImage) -> None:
    image = root_image(raw=b"\xf8\xff", root_cell_offset=0x1000)
    assert root_error(open_image, image) == "Truncated data at offset 0x1000: expected 4 bytes, got 2 bytes"


@pytest.mark.parametrize("size", [0, 1, 2, 3, -1, -2, -3])
def test_cell_size_below_four(open_image: OpenImage, size: int) -> None:
    assert root_error(open_image, root_image(size=size)) == "Invalid cell size %d at offset 0x20" % size


@pytest.mark.parametrize("size, expected", [
    (-2 ** 31, 2 ** 31),
    (2 ** 31 - 1, 2 ** 31 - 1),
    (-0x2000, 0x2000),
    (-4065, 4065),
    (-4072, 4072),
    (4072, 4072),
])
def test_cell_running_past_the_end(open_image: OpenImage, size: int, expected: int) -> None:
    # The cell starts at image position 0x1020 of a 0x2000-byte image: 4064 bytes are left.
    assert root_error(open_image, root_image(size=size)) == \
        "Truncated data at offset 0x20: expected %d bytes, got 4064 bytes" % expected


@pytest.mark.parametrize("size", [-4064, 4064])
def test_cell_ending_exactly_at_the_end(open_image: OpenImage, size: int) -> None:
    assert open_image(root_image(size=size)).root_key().name() == "root"


def test_empty_payload_then_key_node_check(open_image: OpenImage) -> None:
    assert root_error(open_image, root_image(b"", size=-4)) == \
        "Truncated data at offset 0x20: expected 76 bytes, got 0 bytes"


def test_free_cell_reads_like_an_allocated_one(open_image: OpenImage) -> None:
    allocated = open_image(root_image()).root_key()
    free = open_image(root_image(free=True)).root_key()
    assert free.name() == allocated.name() == "root"
    assert free.last_written_timestamp() == allocated.last_written_timestamp()


def test_cells_need_no_alignment(open_image: OpenImage) -> None:
    # A 4-byte name makes an 84-byte cell, placed at an odd offset.
    bins = bytearray(hb.hbin_header(0) + bytes(4064))
    cell = (-(4 + len(ROOT))).to_bytes(4, "little", signed=True) + ROOT
    bins[0x21:0x21 + len(cell)] = cell
    image = hb.base_block(root_cell_offset=0x21, hive_bins_data_size=0x1000) + bytes(bins)
    assert len(cell) == 84 and open_image(image).root_key().name() == "root"


# ---- hive bins ----------------------------------------------------------------------------------------------

def bins_image(*headers: Header, raw: Optional[bytes] = None, lengths: Optional[List[int]] = None,
               **base_block: Unpack[hb.BaseBlockFields]) -> bytes:
    """Bins back to back; each dict overrides fields of that bin's header. `raw` bytes follow the last bin."""
    builder = hb.HiveBuilder()
    for i, header in enumerate(headers):
        builder.new_bin(None if lengths is None else lengths[i], **header)
    if raw is not None:
        builder.append_raw(raw)
    return builder.build(**base_block)


def layout(hive: tarnu.Hive) -> Layout:
    return [(h.signature, h.offset, h.size) for h in hive.hbins()]


def hbins_error(open_image: OpenImage, image: bytes) -> str:
    with pytest.raises(ValueError) as info:
        open_image(image).hbins()
    return str(info.value)


def test_hbins_in_order_with_attributes_and_reprs(open_image: OpenImage) -> None:
    hive = open_image(bins_image({}, {"timestamp": 2 ** 64 - 1, "spare": 7, "reserved": b"junk"}, {},
                                 lengths=[4096, 8192, 4096]))
    headers = hive.hbins()
    assert layout(hive) == [("hbin", 0, 0x1000), ("hbin", 0x1000, 0x2000), ("hbin", 0x3000, 0x1000)]
    assert [repr(h) for h in headers] == ["HbinHeader(offset=0x0, size=0x1000)",
                                         "HbinHeader(offset=0x1000, size=0x2000)",
                                         "HbinHeader(offset=0x3000, size=0x1000)"]
    assert headers[0] is not hive.hbins()[0]
    del hive
    gc.collect()
    assert (headers[1].signature, headers[1].offset, headers[1].size) == ("hbin", 0x1000, 0x2000)


@pytest.mark.parametrize("raw", [bytes(4096), b"\xff" * 32, b"nbih" + bytes(60), b"HBIN" + bytes(28)])
def test_bytes_after_the_last_bin_are_ignored(open_image: OpenImage, raw: bytes) -> None:
    assert layout(open_image(bins_image({}, {}, raw=raw))) == [("hbin", 0, 0x1000), ("hbin", 0x1000, 0x1000)]


@pytest.mark.parametrize("raw", [bytes(16), b"hbin" + bytes(12), bytes(31)])
def test_stray_bytes_shorter_than_a_header(open_image: OpenImage, raw: bytes) -> None:
    assert hbins_error(open_image, bins_image({}, {}, raw=raw)) == \
        "Truncated data at offset 0x2000: expected 32 bytes, got %d bytes" % len(raw)


def test_size_jumping_over_a_bin(open_image: OpenImage) -> None:
    # The first header's size skips the second bin; the walk follows the sizes, not the layout.
    assert layout(open_image(bins_image({"size": 0x2000}, {}, {}))) == [("hbin", 0, 0x2000), ("hbin", 0x2000, 0x1000)]


@pytest.mark.parametrize("headers, message", [
    (({}, {"offset": 0}), "Hbin offset mismatch: expected 0x1000, found 0x0"),
    (({}, {"offset": 0x2000}, {}), "Hbin offset mismatch: expected 0x1000, found 0x2000"),
    (({"offset": 0x1000}, {}), "Hbin offset mismatch: expected 0x0, found 0x1000"),
    (({}, {"size": 0}), "Invalid hbin size 0x0 at offset 0x1000"),
    (({"size": 0},), "Invalid hbin size 0x0 at offset 0x0"),
    (({}, {"size": 0xFFFFF000}), "Invalid hbin size 0xfffff000 at offset 0x1000"),
    (({}, {"size": 0xFFFFFFFF}), "Invalid hbin size 0xffffffff at offset 0x1000"),
])
def test_bad_hbin_headers_fail_without_a_list(open_image: OpenImage, headers: Tuple[Header, ...], message: str) -> None:
    assert hbins_error(open_image, bins_image(*headers)) == "Invalid format: " + message


@pytest.mark.parametrize("headers, found", [
    (({}, {"signature": b"hbim"}, {}), [("hbin", 0, 0x1000)]),
    (({"signature": b"HBIN"}, {}), []),
    (({}, {"size": 0x10000000}), [("hbin", 0, 0x1000), ("hbin", 0x1000, 0x10000000)]),
])
def test_walk_stops_without_error(open_image: OpenImage, headers: Tuple[Header, ...], found: Layout) -> None:
    assert layout(open_image(bins_image(*headers))) == found


# Windows leaves bins of an earlier, larger hive after the hive-bins data size it states, and their offset fields
# name their old positions: from the stated size on, such a bin ends the listing.
@pytest.mark.parametrize("stated, headers, count", [
    (0x2000, ({}, {}, {"offset": 0x13B2000}), 2),
    (0x2000, ({}, {}, {}, {"offset": 0}, {}), 3),  # remnants that name their own place are still listed
    (0x1000, ({}, {"offset": 0x5000}), 1),
    (0x800, ({}, {"offset": 0x5000}), 1),
    (0, ({"offset": 0x1000}, {}), 0),
])
def test_remnant_bins_past_the_stated_size_end_the_listing(open_image: OpenImage, stated: int,
                                                           headers: Tuple[Header, ...], count: int) -> None:
    hive = open_image(bins_image(*headers, hive_bins_data_size=stated))
    assert layout(hive) == [("hbin", 0x1000 * i, 0x1000) for i in range(count)]


@pytest.mark.parametrize("stated", [0x1001, 0x2000, 0xFFFFFFFF])
def test_offset_mismatch_inside_the_stated_size_fails(open_image: OpenImage, stated: int) -> None:
    image = bins_image({}, {"offset": 0x13B2000}, {}, hive_bins_data_size=stated)
    assert hbins_error(open_image, image) == "Invalid format: Hbin offset mismatch: expected 0x1000, found 0x13b2000"


@pytest.mark.parametrize("headers, raw, outcome", [
    (({}, {"size": 0}), None, "Invalid format: Invalid hbin size 0x0 at offset 0x1000"),
    (({}, {}), bytes(16), "Truncated data at offset 0x2000: expected 32 bytes, got 16 bytes"),
    (({}, {"offset": 0x9000}), bytes(16), [("hbin", 0, 0x1000)]),
    (({}, {"signature": b"hbim", "offset": 0x9000}), None, [("hbin", 0, 0x1000)]),
])
def test_other_rules_hold_past_the_stated_size(open_image: OpenImage, headers: Tuple[Header, ...],
                                               raw: Optional[bytes], outcome: Union[str, Layout]) -> None:
    image = bins_image(*headers, raw=raw, hive_bins_data_size=0x1000)
    assert (hbins_error(open_image, image) if isinstance(outcome, str) else layout(open_image(image))) == outcome


# ---- real hives ---------------------------------------------------------------------------------------------

# NTUSER.DAT holds stale hive bins after the 0xb3000 bytes of hive bins data it states; the first of them
# names its old position 0x13b2000, which ends the listing at the stated size.
SAMPLES = ["minimal", "special", "rlenvalue_test_hive", "NTUSER.DAT.xz", "SYSTEM.xz", "amcache.hve.xz"]


@pytest.mark.parametrize("name", SAMPLES)
def test_real_hives_open_and_bins_tile(samples_dir: pathlib.Path, name: str) -> None:
    path = sample_path(name, samples_dir)
    hive = tarnu.Hive.open(path)
    block = hive.base_block()
    assert block.signature == "regf" and block.hive_length == block.hive_bins_data_size
    assert hive.root_key().name()
    end = 0
    for header in hive.hbins():
        assert (header.signature, header.offset) == ("hbin", end) and header.size > 0
        end += header.size
    assert end == block.hive_bins_data_size <= os.path.getsize(path) - 4096
