"""Windows transaction logs (.LOG1/.LOG2, old and new format) replayed onto a dirty primary, and the report.

The hive goes through numbered states: STATES[n] is ROOT with a DWORD value "v" = n. The primary on disk holds
STATES[0] with sequence numbers 11/10 (dirty); the entry numbered 10 + n takes the hive from state n to n + 1,
so the value of "v" after a replay says how far the chain went.
"""

from __future__ import annotations

import pathlib
import struct
from typing import TYPE_CHECKING, Any, Callable, Dict, List, Optional, Protocol, Tuple, Union

import pytest

import tarnu
from conftest import OpenImage, WriteFile, sample_path
from tarnu.hivebuilder import (DEFAULT_TIMESTAMP, REG_BINARY, REG_DWORD, BaseBlockFields, HiveBuilder, Key, Value,
                               base_block_checksum, build_hive, changed_pages, log_file, new_format_log, old_format_log,
                               with_checksum)

if TYPE_CHECKING:
    from typing_extensions import Unpack


# The keywords of one new-format log entry, as new_format_log takes them.
Entry = Dict[str, Any]
# An (offset, data) page of a log.
Page = Tuple[int, bytes]
# One log of a replay report: (used, entries applied, pages applied, first sequence, last sequence).
Usage = Tuple[bool, int, int, Optional[int], Optional[int]]


def image(n: int, grow: bool = False, **base: Unpack[BaseBlockFields]) -> bytes:
    values, subkeys = [Value("v", REG_DWORD, n)], [Key("A")]
    if grow:
        values.append(Value("big", REG_BINARY, bytes([n]) * 40000))
        subkeys.append(Key("GREW"))
    return build_hive(Key("ROOT", subkeys, values), **base)


STATES = [image(n) for n in range(6)]
GROWN = image(1, grow=True)
PRIMARY = image(0, primary_sequence=11, secondary_sequence=10)
BINS = len(STATES[0]) - 4096


def entry(step: int, number: Optional[int] = None, after: Optional[bytes] = None, **fields: Any) -> Entry:
    """The entry that takes the hive from STATES[step] to `after` (STATES[step + 1]), numbered 10 + step."""
    after = STATES[step + 1] if after is None else after
    fields.setdefault("hive_bins_data_size", len(after) - 4096)
    fields.setdefault("pages", changed_pages(STATES[step], after))
    return dict(sequence=10 + step if number is None else number, **fields)


def log(start: int, *steps: Union[int, Entry]) -> bytes:
    """A new-format log starting at `start` whose entries take the steps given (ints or entry dicts)."""
    entries = [entry(s, start + i) if isinstance(s, int) else s for i, s in enumerate(steps)]
    return new_format_log(start, entries, hive_bins_data_size=BINS)


class Replay(Protocol):
    """The replay fixture: the primary and the logs (bytes are written to files, a str is a path) opened."""

    def __call__(self, log1: Union[bytes, str, None] = None, log2: Union[bytes, str, None] = None,
                 primary: bytes = ...) -> tarnu.Hive: ...


@pytest.fixture
def replay(write_file: WriteFile) -> Replay:
    def run(log1: Union[bytes, str, None] = None, log2: Union[bytes, str, None] = None,
            primary: bytes = PRIMARY) -> tarnu.Hive:
        paths = [p if p is None or isinstance(p, str) else write_file(p) for p in (log1, log2)]
        return tarnu.Hive.open_with_logs(write_file(primary), *paths)
    return run


def report_of(hive: tarnu.Hive) -> tarnu.ReplayReport:
    """The report of a hive opened with logs (it has one)."""
    report = hive.replay_report()
    assert report is not None
    return report


def value(hive: tarnu.Hive) -> int:
    return hive.root_key().value("v").data().as_dword()


def used(report: tarnu.ReplayReport) -> List[Usage]:
    return [(log.used, log.entries_applied, log.pages_applied, log.first_sequence, log.last_sequence)
            for log in report.logs]


CHAINS = {
    "LOG1 only": (log(10, 0, 1), None, 2, [(True, 2, 2, 10, 11)]),
    "LOG2 only": (None, log(10, 0, 1), 2, [(True, 2, 2, 10, 11)]),
    "chain into LOG2": (log(10, 0, 1), log(12, 2, 3), 4, [(True, 2, 2, 10, 11), (True, 2, 2, 12, 13)]),
    "chain into LOG1": (log(12, 2, 3), log(10, 0, 1), 4, [(True, 2, 2, 12, 13), (True, 2, 2, 10, 11)]),
    "stale LOG1": (log(8, entry(0, 8, STATES[5]), entry(0, 9, STATES[5])), log(10, 0), 1,
                   [(False, 0, 0, None, None), (True, 1, 1, 10, 10)]),
    "both stale": (log(8, entry(0, 8, STATES[5])), log(9, entry(0, 9, STATES[5])), 0,
                   [(False, 0, 0, None, None)] * 2),
    "gap": (log(10, 0), log(12, 2), 1, [(True, 1, 1, 10, 10), (False, 0, 0, None, None)]),
    "same numbers": (log(10, 0), log(10, 0, 1), 1, [(True, 1, 1, 10, 10), (False, 0, 0, None, None)]),
    "same numbers, first damaged": (log(10, entry(0, hash1=1)), log(10, 0, 1), 2,
                                    [(True, 0, 0, None, None), (True, 2, 2, 10, 11)]),
    # Windows applies a log that starts after the primary's number: entry 11 writes state 2's block.
    "start past the secondary": (log(11, 1), None, 2, [(True, 1, 1, 11, 11)]),
}


@pytest.mark.parametrize("log1, log2, v, logs", CHAINS.values(), ids=CHAINS.keys())
def test_new_format_chain(replay: Replay, log1: Optional[bytes], log2: Optional[bytes], v: int,
                          logs: List[Usage]) -> None:
    hive = replay(log1, log2)
    report = report_of(hive)
    assert used(report) == logs
    applied = [n for log in report.logs for n in (log.first_sequence, log.last_sequence) if n is not None]
    assert (report.first_sequence, report.last_sequence) == ((min(applied), max(applied)) if applied else (None, None))
    base = hive.base_block()
    if applied:
        assert report.recovered and not base.is_dirty
        assert base.primary_sequence == base.secondary_sequence == max(applied)
    else:
        assert not report.recovered and base.is_dirty
    assert value(hive) == v


def test_reasons_name_the_stale_log_and_the_gap(replay: Replay) -> None:
    stale = report_of(replay(log(9, entry(0, 9)), log(10, 0))).logs[0]
    assert stale.reason == "stale: it starts at 9, before the primary's secondary sequence number 10"
    gap = report_of(replay(log(10, 0), log(12, 2))).logs[1]
    assert gap.reason == "it starts at 12, the chain goes on at 11"


def test_sequence_numbers_wrap(replay: Replay) -> None:
    primary = image(0, primary_sequence=0, secondary_sequence=0xFFFFFFFF)
    first = new_format_log(0xFFFFFFFF, [entry(0, 0xFFFFFFFF), entry(1, 0)], hive_bins_data_size=BINS)
    hive = replay(log(1, 2), first, primary=primary)
    report = report_of(hive)
    assert value(hive) == 3
    assert (report.first_sequence, report.last_sequence) == (0xFFFFFFFF, 1)
    assert hive.base_block().primary_sequence == 1


def test_clean_primary_ignores_windows_logs(replay: Replay) -> None:
    hive = replay(log(10, 0, 1), log(12, 2), primary=STATES[0])
    report = report_of(hive)
    assert value(hive) == 0 and not report.primary_dirty and not report.recovered
    assert [(l.kind, l.used, l.reason) for l in report.logs] == [("new", False, "the primary is clean")] * 2


def test_flags_and_size_come_from_the_last_entry(replay: Replay) -> None:
    hive = replay(log(10, entry(0, flags=1), entry(1, after=GROWN)))
    base = hive.base_block()
    assert (base.flags & 1, base.hive_bins_data_size) == (0, len(GROWN) - 4096)
    assert replay(log(10, 0, entry(1, flags=1))).base_block().flags & 1 == 1


def test_growth(replay: Replay, tmp_path: pathlib.Path) -> None:
    hive = replay(log(10, entry(0, after=GROWN)))
    assert [k.name() for k in hive.root_key().subkeys()] == ["A", "GREW"]
    assert hive.root_key().value("big").raw_data() == bytes([1]) * 40000
    hive.save(str(tmp_path / "saved"))
    assert (tmp_path / "saved").read_bytes()[4096:] == GROWN[4096:]
    # A size past the pages: the image is zero-extended to cover it.
    wide = replay(log(10, entry(0, hive_bins_data_size=BINS + 8192)))
    wide.save(str(tmp_path / "wide"))
    assert (tmp_path / "wide").read_bytes()[4096:] == STATES[1][4096:] + bytes(8192)


def entry_with(**fields: Any) -> Entry:
    return entry(1, **fields)


def page_at(offset: int, size: int = 4096) -> Entry:
    return entry(1, pages=[(offset, bytes(size))])


DAMAGED_ENTRIES = {
    "hash-1": (entry_with(hash1=5), "hash-1 does not match"),
    "hash-2": (entry_with(hash2=5), "hash-2 does not match"),
    "signature": (entry_with(signature=b"HvLF"), 'no "HvLE" signature'),
    "number": (entry(1, 12), "numbered 12, expected 11 (end of the chain)"),
    "size not a multiple of 512": (entry_with(size=4096 + 100), "size 0x1064"),
    "size 0": (entry_with(size=0), "size 0x0"),
    "size past the end": (entry_with(size=0x100000), "size 0x100000 runs past the end of the file"),
    "bins size": (entry_with(hive_bins_data_size=4097), "hive bins data size 0x1001"),
    "bins size 0": (entry_with(hive_bins_data_size=0), "hive bins data size 0x0"),
    "bins size past the largest hive": (entry_with(hive_bins_data_size=0x20000000), "hive bins data size 0x20000000"),
    "count 0": (entry_with(page_count=0), "page count 0"),
    "count overflows": (entry_with(page_count=0xFFFFFFFF), "page count 4294967295"),
    # The second reference is read from the page's first bytes, "hbin" and offset 0.
    "count past the data": (entry_with(page_count=2), "page 1 (0x6e696268, 0x0) lies outside the hive bins data"),
    "page outside the hive": (page_at(BINS), "page 0 (0x1000, 0x1000) lies outside the hive bins data"),
    "page overflows": (page_at(0xFFFFF000), "page 0 (0xfffff000, 0x1000) lies outside the hive bins data"),
}


@pytest.mark.parametrize("damaged, text", DAMAGED_ENTRIES.values(), ids=DAMAGED_ENTRIES.keys())
def test_chain_stops_at_first_invalid_entry(replay: Replay, damaged: Entry, text: str) -> None:
    # Entry 0 is applied, entry 1 is damaged, entry 2 would be valid but is never reached.
    hive = replay(log(10, 0, damaged, 2))
    report = report_of(hive)
    assert value(hive) == 1 and hive.base_block().primary_sequence == 10
    assert report.logs[0].stop_reason == "entry 1 at 0x2000: " + text
    assert report.logs[0].entries_applied == 1


@pytest.mark.parametrize("cut, text", [
    (8192 + 20, 'entry 1 at 0x2000: header cut off by the end of the file'),
    (8192 + 3, 'entry 1 at 0x2000: no "HvLE" signature'),
    (8192, "end of file"),
])
def test_truncated_log(replay: Replay, cut: int, text: str) -> None:
    hive = replay(log(10, 0, 1)[:cut])
    assert value(hive) == 1 and report_of(hive).logs[0].stop_reason == text


def test_stale_entries_after_the_chain_are_not_applied(replay: Replay) -> None:
    # A reused file: the current entries 10 and 11, then older ones with valid hashes.
    stale = [entry(0, 7, STATES[5]), entry(0, 8, STATES[5])]
    hive = replay(new_format_log(10, [entry(0), entry(1)] + stale, hive_bins_data_size=BINS))
    assert value(hive) == 2
    assert report_of(hive).logs[0].stop_reason == "entry 2 at 0x4000: numbered 7, expected 12 (end of the chain)"


def two_bins() -> bytes:
    """A hive whose root lies in bin 0 and whose key B lies in bin 1 (at 0x1000)."""
    b = HiveBuilder()
    root = b.reserve(80)
    b.new_bin()
    b.key("ROOT", subkeys=[b.key("B")], at=root, root=True)
    return b.build(primary_sequence=11, secondary_sequence=10)


def test_placeholder_for_a_broken_bin(replay: Replay) -> None:
    primary = two_bins()
    broken = bytearray(primary[8192:12288])
    broken[4:8] = b"\0\0\0\0"  # the bin names position 0 instead of 0x1000
    hive = replay(new_format_log(10, [dict(pages=[(4096, bytes(broken))], hive_bins_data_size=8192)],
                                 hive_bins_data_size=8192), primary=primary)
    assert report_of(hive).placeholder_bins == (4096,)
    assert [(h.offset, h.size) for h in hive.hbins()] == [(0, 4096), (4096, 4096)]
    assert hive.root_key().name() == "ROOT"


def test_no_placeholder_for_damage_the_primary_had(replay: Replay) -> None:
    primary = bytearray(two_bins())
    primary[8192 + 4:8192 + 8] = b"\0\0\0\0"
    hive = replay(log(10, entry(0, pages=[(0, primary[4096:8192])], hive_bins_data_size=8192)),
                  primary=bytes(primary))
    assert report_of(hive).placeholder_bins == ()


# ---- Old format ------------------------------------------------------------------------------------------------

LAST_WRITTEN = DEFAULT_TIMESTAMP


def units(before: bytes, after: bytes) -> List[Page]:
    """The 512-byte units where `after` differs from `before`, as (offset, data) pages."""
    return changed_pages(before, after, 512)


def old_log(pages: List[Page], **fields: Any) -> bytes:
    fields.setdefault("hive_bins_data_size", BINS)
    fields.setdefault("sequence", 11)
    return old_format_log(pages, **fields)


def test_old_format_scattered_units_and_leftovers(replay: Replay, tmp_path: pathlib.Path) -> None:
    # Units 1 and 3 of the first block (unchanged bytes) and the changed unit, then leftovers that are no unit.
    pages = [(512, STATES[1][4608:5120]), (1536, STATES[1][5632:6144])] + units(STATES[0], STATES[1])
    hive = replay(old_log(pages, leftover=b"\xff" * 1024))
    report = report_of(hive)
    assert value(hive) == 1 and report.recovered
    assert used(report) == [(True, 0, len(units(STATES[0], STATES[1])) + 2, 11, 11)]
    assert report.logs[0].stop_reason == "end of dirty vector"
    base = hive.base_block()
    assert (base.primary_sequence, base.secondary_sequence, base.file_type) == (11, 11, 0)
    hive.save(str(tmp_path / "saved"))
    assert (tmp_path / "saved").read_bytes()[4096:] == STATES[1][4096:]


def test_old_format_bitmap_past_508_bytes(replay: Replay) -> None:
    # Hive bins data over 2,080,768 bytes: the bitmap no longer ends before 1024 and the units start at 1536.
    def big(n: int, **base: Unpack[BaseBlockFields]) -> bytes:
        b = HiveBuilder()
        b.key("ROOT", values=[b.value("v", REG_DWORD, n)], root=True)
        b.new_bin(0x200000)
        return b.build(**base)

    before = big(0, primary_sequence=11, secondary_sequence=10)
    hive = replay(old_log(units(before, big(1)), hive_bins_data_size=len(before) - 4096), primary=before)
    assert value(hive) == 1


def test_old_format_growth_up_to_the_log_size(replay: Replay) -> None:
    hive = replay(old_log(units(STATES[0], GROWN), hive_bins_data_size=len(GROWN) - 4096))
    assert hive.base_block().hive_bins_data_size == len(GROWN) - 4096
    assert [k.name() for k in hive.root_key().subkeys()] == ["A", "GREW"]


def test_old_format_bitmap_claims_more_units_than_the_file_holds(replay: Replay) -> None:
    pages = units(STATES[0], STATES[1])
    full = old_log(pages + [(4096 - 512, bytes(512))])  # the last unit's bytes are then cut off
    hive = replay(full[:-512])
    assert value(hive) == 1
    assert report_of(hive).logs[0].stop_reason == "the bitmap marks {} units, the file holds {}".format(
        len(pages) + 1, len(pages))


def test_old_format_stops_before_a_broken_dirty_bin(replay: Replay) -> None:
    primary = two_bins()
    broken = bytearray(primary[8192:12288])
    broken[8:12] = b"\0\0\0\0"  # size 0
    pages = units(STATES[0][:8192], STATES[1][:8192]) + [(4096, bytes(broken))]
    hive = replay(old_log(pages, hive_bins_data_size=8192), primary=primary)
    report = report_of(hive)
    assert report.logs[0].stop_reason == "the hive bin at 0x1000 is broken"
    assert report.logs[0].pages_applied == len(pages) - 1
    assert [(h.offset, h.size) for h in hive.hbins()] == [(0, 4096), (4096, 4096)]


OLD_CHOICE = {
    "LOG1 eligible": (dict(), dict(), 0, "the first log was used"),
    "LOG1 of another time": (dict(last_written=5), dict(), 1, "written at 5, not at the primary's time {}"),
    "LOG2 not newer": (dict(last_written=LAST_WRITTEN + 1), dict(), None, "not newer than the first log"),
    "neither eligible": (dict(last_written=5), dict(last_written=6), None,
                         "written at 6, not at the primary's time {}"),
}


@pytest.mark.parametrize("first, second, chosen, reason", OLD_CHOICE.values(), ids=OLD_CHOICE.keys())
def test_old_format_log_choice(replay: Replay, first: Dict[str, int], second: Dict[str, int], chosen: Optional[int],
                               reason: str) -> None:
    logs = [old_log(units(STATES[0], STATES[1 + i]), **fields) for i, fields in enumerate((first, second))]
    hive = replay(*logs)
    report = report_of(hive)
    assert value(hive) == (0 if chosen is None else 1 + chosen)
    assert [l.used for l in report.logs] == [chosen == 0, chosen == 1]
    assert reason.format(LAST_WRITTEN) in [l.reason for l in report.logs]


# ---- Damaged primary base block ----------------------------------------------------------------------------

DAMAGED_PRIMARY = with_checksum(PRIMARY)[:100] + b"\xee" + PRIMARY[101:]


def test_new_format_takes_the_base_block_from_the_later_log(replay: Replay) -> None:
    hive = replay(log(10, 0), log(11, 1), primary=DAMAGED_PRIMARY)
    report = report_of(hive)
    assert report.base_block_from_log and report.recovered
    assert used(report) == [(False, 0, 0, None, None), (True, 1, 1, 11, 11)]
    assert report.logs[0].reason == "the primary's base block is damaged; the second log has later entries"
    assert value(hive) == 2 and hive.base_block().primary_sequence == 11


def test_old_format_takes_the_base_block_from_its_log(replay: Replay) -> None:
    # With the primary's base block damaged, the log's time is compared with the first hive bin's (0 here).
    hive = replay(old_log(units(STATES[0], STATES[1]), last_written=0), primary=DAMAGED_PRIMARY)
    assert value(hive) == 1 and report_of(hive).base_block_from_log
    assert hive.base_block().primary_sequence == 11


@pytest.mark.parametrize("written, used", [
    (0, True),  # the time in the primary's first hive bin header, as Windows compares
    (LAST_WRITTEN, True),  # the time the damaged base block still states
    (5, False),
])
def test_old_format_log_of_a_damaged_primary(replay: Replay, written: int, used: bool) -> None:
    log = old_log(units(STATES[0], STATES[1]), last_written=written)
    if not used:
        with pytest.raises(ValueError, match="^Checksum mismatch"):
            replay(log, primary=DAMAGED_PRIMARY)
        return
    hive = replay(log, primary=DAMAGED_PRIMARY)
    assert (value(hive), report_of(hive).base_block_from_log, report_of(hive).logs[0].used) == (1, True, True)


def windows_checksum(block: bytes) -> bytes:
    """`block` with a reserved word set so that its XOR is 0, and 1 stored for it as Windows does."""
    changed = bytearray(block)
    struct.pack_into("<I", changed, 200, 0)
    struct.pack_into("<I", changed, 200, base_block_checksum(changed))
    struct.pack_into("<I", changed, 508, 1)
    return bytes(changed)


def test_windows_checksum_of_zero_is_accepted(replay: Replay) -> None:
    hive = replay(log(10, 0), primary=windows_checksum(PRIMARY))
    assert value(hive) == 1 and not report_of(hive).base_block_from_log
    hive = replay(windows_checksum(log(10, 0)[:512]) + log(10, 0)[512:])
    assert value(hive) == 1 and report_of(hive).logs[0].used


def test_damaged_primary_without_usable_logs_fails_as_before(replay: Replay) -> None:
    with pytest.raises(ValueError, match="^Checksum mismatch"):
        replay(log(10, 0)[:100], primary=DAMAGED_PRIMARY)


# ---- Recognition, mixing with the reader's own layout, the report ----------------------------------------------

RENAME = log_file(1, [[(4096 + 0x20 + 4 + 76, b"ABCD")]])  # the root key's name bytes in every state


@pytest.mark.parametrize("make, kind, reason", [
    (lambda d: b"", "empty", "no bytes"),
    (lambda d: bytes(600), "not a log", 'it begins with neither "HvLE" nor "regf"'),
    (lambda d: STATES[0], "not a log", 'a "regf" file of type 0, not a log'),
    (lambda d: STATES[0][:300], "not a log", "too small: 300 bytes"),
    (lambda d: log_file(1)[:100], "blocks", "too small: 100 bytes"),
    (lambda d: log(10, 0)[:4] + b"x" + log(10, 0)[5:], "new", "unusable base block: checksum 0x"),
    (lambda d: new_format_log(10, secondary_sequence=9), "new",
     "unusable base block: sequence numbers differ: 10 and 9"),
    (lambda d: new_format_log(10, minor_version=7), "new", "unusable base block: version 1.7"),
    (lambda d: new_format_log(10, hive_bins_data_size=100), "new", "unusable base block: hive bins data size 0x64"),
    (lambda d: old_log([], signature=b"DIRX"), "old", 'unusable dirty vector: no "DIRT" at 0x200'),
    (lambda d: old_log([])[:516], "old", "unusable dirty vector: the bitmap of 1 bytes runs past the end"),
    (lambda d: d + "/missing.LOG1", "unreadable", "No such file or directory (os error 2)"),
], ids=["empty", "zeros", "primary", "short regf", "short blocks", "log checksum", "numbers differ", "version",
        "bins size", "no DIRT", "bitmap cut", "missing"])
def test_recognition(replay: Replay, tmp_path: pathlib.Path, make: Callable[[str], Union[bytes, str]], kind: str,
                     reason: str) -> None:
    hive = replay(make(str(tmp_path)), log(10, 0))
    report = report_of(hive)
    assert (report.logs[0].kind, report.logs[0].used) == (kind, False)
    assert report.logs[0].reason is not None and report.logs[0].reason.startswith(reason)
    assert value(hive) == 1 and report.logs[1].used


def test_windows_logs_first_then_blocks(replay: Replay) -> None:
    hive = replay(log(10, 0, 1), RENAME)
    report = report_of(hive)
    assert (hive.root_key().name(), value(hive)) == ("ABCD", 2)
    assert [(l.kind, l.used, l.stop_reason) for l in report.logs] == [("new", True, "end of file"),
                                                                      ("blocks", True, "end of file")]
    assert not hive.base_block().is_dirty
    # A clean primary takes only the blocks log.
    clean = replay(log(10, 0), RENAME, primary=STATES[0])
    assert (clean.root_key().name(), value(clean)) == ("ABCD", 0)


@pytest.mark.parametrize("swap", [False, True], ids=["old first", "new first"])
def test_new_format_wins_over_old(replay: Replay, swap: bool) -> None:
    logs = [old_log(units(STATES[0], STATES[2])), log(10, 0)]
    hive = replay(*(logs[::-1] if swap else logs))
    assert value(hive) == 1
    assert {l.kind: (l.used, l.reason) for l in report_of(hive).logs} == {
        "new": (True, None), "old": (False, "new-format logs are given too")}
    clean = report_of(replay(logs[0], logs[1], primary=STATES[0]))
    assert [(l.kind, l.reason) for l in clean.logs] == [("old", "the primary is clean"),
                                                       ("new", "the primary is clean")]


def test_report_of_a_hive_opened_without_logs(write_file: WriteFile) -> None:
    path = write_file(PRIMARY)
    assert tarnu.Hive.open(path).replay_report() is None
    report = report_of(tarnu.Hive.open_with_logs(path))
    assert (report.primary_dirty, report.recovered, report.logs) == (True, False, ())


def test_report_objects(replay: Replay, tmp_path: pathlib.Path) -> None:
    report = report_of(replay(log(10, 0, 1), b""))
    assert repr(report) == (
        "ReplayReport(primary_dirty=True, recovered=True, sequences=10..11, logs=[LogReport(path={!r}, kind='new', "
        "used=True, sequences=10..11, entries=2, pages=2, stop='end of file'), LogReport(path={!r}, kind='empty', "
        "used=False, reason='no bytes')])".format(report.logs[0].path, report.logs[1].path))
    for obj, cls in ((report, "ReplayReport"), (report.logs[0], "LogReport")):
        assert type(obj).__name__ == cls and type(obj).__module__ == "builtins"
        with pytest.raises(TypeError, match="^No constructor defined$"):
            type(obj)()
        with pytest.raises(AttributeError):
            obj.used = 1  # type: ignore[union-attr, misc]
    assert sorted(tarnu.__all__) == sorted(["Hive", "RegistryKey", "RegistryValue", "ValueData", "ValueType",
                                            "BaseBlock", "HbinHeader", "__version__"])


def test_base_block_fields(open_image: OpenImage) -> None:
    hive = open_image(image(0, primary_sequence=7, secondary_sequence=6, last_written=123, minor_version=3, flags=1))
    base = hive.base_block()
    assert (base.primary_sequence, base.secondary_sequence, base.is_dirty) == (7, 6, True)
    assert (base.last_written, base.major_version, base.minor_version, base.file_type, base.file_format,
            base.clustering_factor, base.flags) == (123, 1, 3, 0, 1, 1, 1)
    assert base.checksum == int.from_bytes(image(0, primary_sequence=7, secondary_sequence=6, last_written=123,
                                                 minor_version=3, flags=1)[508:512], "little")
    assert not open_image(STATES[0]).base_block().is_dirty


# ---- Logs described on their own -----------------------------------------------------------------------------------

NEW_UNITS = units(STATES[0], STATES[1])

# The file, then (kind, usable, reason, sequences, hive bins data size, entries, pages, stop).
DESCRIPTIONS: Dict[str, Tuple[bytes, Tuple[Any, ...]]] = {
    "new": (log(10, 0, 1), ("new", True, None, (10, 10), BINS, 2, 2, "end of file")),
    "new, numbers differ": (new_format_log(10, [entry(0)], secondary_sequence=9, hive_bins_data_size=BINS),
                            ("new", False, "unusable base block: sequence numbers differ: 10 and 9", (10, 9), BINS,
                             1, 1, "end of file")),
    "old": (old_log(NEW_UNITS), ("old", True, None, (11, 11), BINS, None, len(NEW_UNITS), "end of dirty vector")),
    "old without DIRT": (old_log([], signature=b"DIRX"),
                         ("old", False, 'unusable dirty vector: no "DIRT" at 0x200', (11, 11), BINS, None, None,
                          None)),
    "blocks": (RENAME, ("blocks", True, None, (1,), None, None, 1, "end of file")),
    "short blocks": (RENAME[:100], ("blocks", False, "too small: 100 bytes", (), None, None, None, None)),
    "empty": (b"", ("empty", False, "no bytes", (), None, None, None, None)),
    "primary": (STATES[0], ("not a log", False, 'a "regf" file of type 0, not a log', (), None, None, None, None)),
}


@pytest.mark.parametrize("log_bytes, expected", DESCRIPTIONS.values(), ids=DESCRIPTIONS.keys())
def test_describe_log(write_file: WriteFile, log_bytes: bytes, expected: Tuple[Any, ...]) -> None:
    described = tarnu._describe_log(pathlib.Path(write_file(log_bytes)))
    assert tuple(described.values()) == expected
    assert list(described) == ["kind", "usable", "reason", "sequences", "hive_bins_data_size", "entries", "pages",
                               "stop"]


def test_describe_log_of_a_missing_file(tmp_path: pathlib.Path) -> None:
    with pytest.raises(FileNotFoundError):
        tarnu._describe_log(str(tmp_path / "missing.LOG1"))


# ---- Real logs written by Windows ------------------------------------------------------------------------------

def walk(hive: tarnu.Hive) -> List[Tuple[str, List[Tuple[str, int, bytes]]]]:
    """Every key reachable from the root and every value of those keys, as (path, values) pairs."""
    out, pending = [], [("", hive.root_key())]
    while pending:
        path, key = pending.pop()
        out.append((path, [(v.name(), v.value_type().type_id(), v.raw_data()) for v in key.values()]))
        pending.extend((path + "\\" + k.name(), k) for k in key.subkeys())
    return sorted(out)


def counts(hive: tarnu.Hive) -> Tuple[int, int]:
    tree = walk(hive)
    return len(tree), sum(len(values) for _, values in tree)


# folder: (primary's name, (keys, values) alone, (keys, values) replayed, hive bins data size, logs' usage)
SAMPLES: Dict[str, Tuple[str, Tuple[int, int], Tuple[int, int], int, List[Usage]]] = {
    "user-8.1": ("NTUSER.DAT", (2590, 4119), (3105, 4695), 0xE2000,
                 [(True, 23, 132, 566, 588), (False, 0, 0, None, None)]),
    "new-format": ("NewDirtyHive", (5, 2), (5, 1), 0x5000, [(True, 1, 1, 2, 2), (True, 3, 3, 3, 5)]),
    "old-format": ("OldDirtyHive", (5003, 0), (5003, 1), 0x77000, [(True, 0, 64, 5, 5), (False, 0, 0, None, None)]),
}


# The sample fixture: the paths of a folder's primary, LOG1 and LOG2, decompressed.
Sample = Callable[[str], List[str]]


@pytest.fixture
def sample(samples_dir: pathlib.Path) -> Sample:
    def paths(folder: str) -> List[str]:
        where = samples_dir / folder
        where.mkdir(exist_ok=True)
        name = SAMPLES[folder][0]
        found = [sample_path("logs/{}/{}{}".format(folder, name, suffix), where)
                 for suffix in (".xz", ".LOG1.xz", ".LOG2.xz" if folder != "old-format" else ".LOG2")]
        return found
    return paths


def test_sample_bad_base_block(samples_dir: pathlib.Path) -> None:
    # A primary whose base block is damaged (minor version 1, a stale checksum) and the old-format log that has a
    # good copy of it.
    folder = samples_dir / "bad-base-block"
    folder.mkdir(exist_ok=True)
    primary, log1, log2 = [sample_path("recovery/bad-base-block/BadBaseBlockHive" + suffix, folder)
                           for suffix in (".xz", ".LOG1.xz", ".LOG2")]
    with pytest.raises(ValueError, match="^Checksum mismatch"):
        tarnu.Hive.open(primary)
    hive = tarnu.Hive.open_with_logs(primary, log1, log2)
    report = report_of(hive)
    assert (report.base_block_from_log, report.logs[0].used, report.logs[0].kind) == (True, True, "old")
    assert hive.base_block().minor_version == 3 and counts(hive) == (5003, 1)


@pytest.mark.parametrize("folder", SAMPLES)
@pytest.mark.parametrize("swap", [False, True], ids=["in order", "swapped"])
def test_sample_figures(sample: Sample, folder: str, swap: bool) -> None:
    primary, log1, log2 = sample(folder)
    _, alone, replayed, bins_size, logs = SAMPLES[folder]
    assert counts(tarnu.Hive.open(primary)) == alone and tarnu.Hive.open(primary).base_block().is_dirty
    hive = tarnu.Hive.open_with_logs(primary, *((log2, log1) if swap else (log1, log2)))
    report = report_of(hive)
    assert counts(hive) == replayed
    assert hive.base_block().hive_bins_data_size == bins_size and not hive.base_block().is_dirty
    assert report.primary_dirty and report.recovered
    assert used(report) == (logs[::-1] if swap else logs)


@pytest.mark.parametrize("folder", SAMPLES)
def test_sample_logs_described_as_replayed(sample: Sample, folder: str) -> None:
    # A log the replay used from its first entry on holds what the replay applied from it.
    for path, (was_used, entries, pages, first, _) in zip(sample(folder)[1:], SAMPLES[folder][4]):
        described = tarnu._describe_log(path)
        if was_used:
            assert described["usable"] and described["sequences"][0] == first
            assert (described["entries"], described["pages"]) == (None if folder == "old-format" else entries, pages)


def test_sample_new_format_equals_windows_recovery(sample: Sample, samples_dir: pathlib.Path) -> None:
    primary, log1, log2 = sample("new-format")
    windows = sample_path("logs/new-format/RecoveredHive_Windows10.xz", samples_dir / "new-format")
    hive = tarnu.Hive.open_with_logs(primary, log1, log2)
    hive.save(str(samples_dir / "new-format" / "saved"))
    ours, theirs = (open(p, "rb").read() for p in (str(samples_dir / "new-format" / "saved"), windows))
    assert ours[4096:4096 + 0x5000] == theirs[4096:4096 + 0x5000]
    # Windows writes the base block once more after recovery: its sequence numbers are one higher.
    assert (hive.base_block().primary_sequence, tarnu.Hive.open(windows).base_block().primary_sequence) == (5, 6)


def test_sample_old_format_equals_windows_recovery(sample: Sample, samples_dir: pathlib.Path) -> None:
    primary, log1, log2 = sample("old-format")
    windows = sample_path("logs/old-format/RecoveredHive_Windows7.xz", samples_dir / "old-format")
    assert walk(tarnu.Hive.open_with_logs(primary, log1, log2)) == walk(tarnu.Hive.open(windows))


def test_sample_saved_after_replay_opens_clean(sample: Sample, tmp_path: pathlib.Path) -> None:
    hive = tarnu.Hive.open_with_logs(*sample("user-8.1"))
    hive.save(str(tmp_path / "NTUSER.DAT"))
    saved = tarnu.Hive.open(str(tmp_path / "NTUSER.DAT"))
    assert not saved.base_block().is_dirty and saved.replay_report() is None
    assert walk(saved) == walk(hive)
