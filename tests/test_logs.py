"""Transaction logs and their replay through Hive.open_with_logs.

Logs are only reachable through the replay, so every log here carries pages
whose effect shows: the root key's four name bytes (NAME), the inline data of
its DWORD value "v" (DWORD) or base-block fields.  Pages that must land
somewhere harmless go to HARMLESS, a base-block byte that nothing reads.
"""

import os
import pathlib
import struct
import subprocess
import sys
from typing import Any, Callable, Dict, List, Optional, Protocol, Tuple, Union

import pytest

import tarnu
from conftest import WriteFile
from tarnu.hivebuilder import REG_DWORD, HiveBuilder, dirt_block, log_file, with_checksum


# A page of a log block: (offset in the hive, bytes); a SizedPage states a size of its own after them.
Page = Tuple[int, bytes]
SizedPage = Tuple[int, bytes, int]
# The blocks of a log, each a list of pages.
Blocks = List[List[Union[Page, SizedPage]]]


def _sample() -> Tuple[bytes, int, int, int]:
    b = HiveBuilder()
    alt = b.key("ALT")
    value = b.value("v", REG_DWORD, 1)
    root = b.key("ROOT", values=[value], root=True)
    return b.build(primary_sequence=100, secondary_sequence=100), root, value, alt


IMAGE, ROOT_AT, VALUE_AT, ALT_AT = _sample()
NAME = 4096 + ROOT_AT + 4 + 76     # the root key's name bytes "ROOT"
DWORD = 4096 + VALUE_AT + 4 + 8    # data offset field of "v", holding its inline data
HARMLESS = 1000                    # base block, outside the checksummed part
END = len(IMAGE)
ORIGINAL = ("ROOT", 1)


def rename(name: bytes = b"ABCD") -> Page:
    return (NAME, name)


def dword(n: int) -> Page:
    return (DWORD, struct.pack("<I", n))


def around(pos: int, new: bytes, size: int) -> Page:
    """A page of `size` bytes from the image that ends where `new` (written at pos) ends."""
    start = pos + len(new) - size
    return (start, IMAGE[start:pos] + new)


def state(hive: tarnu.Hive) -> Tuple[str, int]:
    root = hive.root_key()
    return root.name(), root.value("v").data().as_dword()


class Replay(Protocol):
    """The replay fixture: `primary` opened with the logs (bytes are written to files, a str is a path)."""

    def __call__(self, *logs: Union[bytes, str, None], primary: bytes = ...) -> tarnu.Hive: ...


@pytest.fixture
def replay(write_file: WriteFile) -> Replay:
    """Open IMAGE (or `primary`) with the given logs: bytes are written to files, str and None pass as given."""

    def run(*logs: Union[bytes, str, None], primary: bytes = IMAGE) -> tarnu.Hive:
        paths = [log if log is None or isinstance(log, str) else write_file(log) for log in logs]
        return tarnu.Hive.open_with_logs(write_file(primary), *paths)

    return run


def entry_past_block(inner: bytes = b"") -> Page:
    """One entry of 8000 bytes at the image end; `inner` lies at its data offset 4072, i.e. file offset 8192."""
    return (END, bytes(4072) + inner + bytes(8000 - 4072 - len(inner)))


def big_entry(size: int) -> SizedPage:
    """A page of `size` bytes whose data begins with the entry head and data of a rename to "ABCD"."""
    data = struct.pack("<II", NAME, 4) + b"ABCD"
    return (END, data + bytes(size - len(data)), size)


LAYOUTS = {
    "header only": (log_file(3), ORIGINAL),
    "4607 bytes not searched": (log_file(3, [[rename()]], length=4607), ORIGINAL),
    "4608 bytes searched": (log_file(3, [[rename()]], length=4608), ("ABCD", 1)),
    "unaligned DIRT 8": (log_file(3, [bytes(8) + dirt_block([rename()])]), ORIGINAL),
    "unaligned DIRT 2048": (log_file(3, [bytes(2048) + dirt_block([rename()])]), ORIGINAL),
    "unaligned DIRT 4092": (log_file(3, [bytes(4092) + dirt_block([rename()])]), ORIGINAL),
    "count 0 then next block": (log_file(3, [dirt_block([dword(7)], count=0), [rename()]]), ("ABCD", 1)),
    "count 1001 then next block": (log_file(3, [dirt_block([dword(7)], count=1001), [rename()]]), ("ABCD", 1)),
    "count 1000": (log_file(3, [dirt_block([dword(7)], count=1000)]), ("ROOT", 7)),
    "size 0 skipped": (log_file(3, [[(DWORD, b"", 0), rename()]]), ("ABCD", 1)),
    "size 0 counts as an entry": (log_file(3, [dirt_block([(DWORD, b"", 0), rename()], count=1)]), ORIGINAL),
    "size 65536 accepted": (log_file(3, [[big_entry(65536), rename(b"WXYZ")]]), ("WXYZ", 1)),
    "size 65537 skipped": (log_file(3, [[big_entry(65537), rename(b"WXYZ")]]), ("ABCD", 1)),
    "entry past end of file": (log_file(3, [[dword(7), (NAME, b"", 5000), rename(b"WXYZ")]]), ("ROOT", 7)),
    # The file is 4609 bytes: it ends exactly with the second entry, or, cut to 4608, one byte short of it.
    "entry ends at end of file": (log_file(3, [[rename(), around(DWORD, b"\7\0\0\0", 477)]], pad=False), ("ABCD", 7)),
    "entry one byte past end": (log_file(3, [[rename(), around(DWORD, b"\7\0\0\0", 477)]], length=4608), ("ABCD", 1)),
    "entries past B+4096": (log_file(3, [[entry_past_block(), rename()]]), ("ABCD", 1)),
    "DIRT inside entries": (log_file(3, [[entry_past_block(dirt_block([rename()], pad=False))]]), ("ABCD", 1)),
    "later pages overwrite": (log_file(3, [[rename(b"AAAA"), dword(2)], [rename(b"BB"), dword(5)]]), ("BBAA", 5)),
}


@pytest.mark.parametrize("log, expected", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_log_layout(replay: Replay, log: bytes, expected: Tuple[str, int]) -> None:
    assert state(replay(log)) == expected


def test_page_stop_after_more_than_10000_pages(replay: Replay) -> None:
    filler = [(HARMLESS, b"\0")] * 1000
    blocks = [filler] * 10 + [filler[:-1] + [(NAME, b"X")], [dword(9)]]
    assert state(replay(log_file(3, blocks))) == ("XOOT", 1)


BAD_LOGS = {
    "missing": lambda d: os.path.join(d, "missing.LOG1"),
    "empty path": lambda d: "",
    "directory": lambda d: d,
    "NUL in path": lambda d: os.path.join(d, "a\0b"),
    "4095 bytes": lambda d: log_file(3, length=4095),
    "regf": lambda d: log_file(3, [[rename()]], signature=b"regf"),
    "DIRT at 0": lambda d: dirt_block([rename()]) + log_file(3, [[rename()]])[4096:],
    "hvle": lambda d: log_file(3, [[rename()]], signature=b"hvle"),
}


@pytest.mark.parametrize("make", BAD_LOGS.values(), ids=BAD_LOGS.keys())
@pytest.mark.parametrize("slot", [0, 1])
def test_unusable_log_is_ignored(replay: Replay, tmp_path: pathlib.Path, make: Callable[[str], Union[bytes, str]],
                                 slot: int) -> None:
    bad = make(str(tmp_path))
    logs: List[Union[bytes, str]] = [log_file(1, [[dword(7)]])] * 2
    logs[slot] = bad
    assert state(replay(*logs)) == ("ROOT", 7)
    assert state(replay(bad)) == ORIGINAL


def test_no_logs_same_as_open(replay: Replay, write_file: WriteFile) -> None:
    path = write_file(IMAGE)
    opened = tarnu.Hive.open(path)
    for hive in (tarnu.Hive.open_with_logs(path), tarnu.Hive.open_with_logs(path, None, None),
                 tarnu.Hive.open_with_logs(hive_path=path, log2_path=None)):
        assert repr(hive) == repr(opened)
        assert state(hive) == state(opened)
        assert hive.base_block().file_name == opened.base_block().file_name
        assert [(h.offset, h.size) for h in hive.hbins()] == [(h.offset, h.size) for h in opened.hbins()]


BAD_CHECKSUM = IMAGE[:508] + struct.pack("<I", struct.unpack_from("<I", IMAGE, 508)[0] ^ 1) + IMAGE[512:]
CHECKSUM_TEXT = "Checksum mismatch: expected {:#x}, calculated {:#x}".format(
    struct.unpack_from("<I", BAD_CHECKSUM, 508)[0], struct.unpack_from("<I", IMAGE, 508)[0])


@pytest.mark.parametrize("logs", [
    (), (None, None), (log_file(1),), (log_file(1), log_file(2)),
    (log_file(1, [dirt_block([dword(7)], count=0)]),), (log_file(1, [[(DWORD, b"", 0)]]),),
], ids=["none", "None", "header only", "two headers", "count 0", "size 0"])
def test_checksum_not_repaired_without_pages(replay: Replay, logs: Tuple[Optional[bytes], ...]) -> None:
    with pytest.raises(ValueError) as e:
        replay(*logs, primary=BAD_CHECKSUM)
    assert str(e.value) == CHECKSUM_TEXT


def test_any_applied_page_repairs_checksum(replay: Replay) -> None:
    # The page writes the bytes that are already there: being applied is enough.
    assert state(replay(log_file(1, [[(NAME, b"ROOT")]]), primary=BAD_CHECKSUM)) == ORIGINAL


@pytest.mark.parametrize("seq1, seq2, name", [
    (5, 3, "AAAA"), (3, 5, "BBBB"), (4, 4, "BBBB"), (0, 0, "BBBB"),
    (0xFFFFFFFF, 1, "AAAA"), (0x80000000, 0x7FFFFFFF, "AAAA"), (0x7FFFFFFF, 0x80000000, "BBBB"),
])
def test_logs_replayed_by_sequence(replay: Replay, seq1: int, seq2: int, name: str) -> None:
    # Sequence numbers far below the primary's (100) do not make a log stale.
    log1 = log_file(seq1, [[rename(b"AAAA"), dword(5)]])
    log2 = log_file(seq2, [[rename(b"BBBB")]])
    assert state(replay(log1, log2)) == (name, 5)


def test_same_log_twice(replay: Replay, write_file: WriteFile, tmp_path: pathlib.Path) -> None:
    log = write_file(log_file(0, [[rename(), (END + 100, b"tail")]]))
    once, twice = replay(log), replay(log, log)
    assert state(once) == state(twice) == ("ABCD", 1)
    once.save(str(tmp_path / "once"))
    twice.save(str(tmp_path / "twice"))
    assert (tmp_path / "once").read_bytes() == (tmp_path / "twice").read_bytes()
    assert len((tmp_path / "once").read_bytes()) == END + 104


MAX = 0x20000000
GROWTH = 16777216


@pytest.mark.parametrize("logs, text", [
    ([[(MAX - 1, b"x")]], "Dirty page 0 would extend hive by too much: {} bytes (max: 16777216)".format(MAX - END)),
    ([[(MAX, b"x")]], "Dirty page 0 would extend hive beyond maximum size: 0x20000001 > 0x20000000"),
    ([[(0xFFFFFFFE, b"x")]], "Dirty page 0 would extend hive beyond maximum size: 0xffffffff > 0x20000000"),
    ([[(0xFFFFFFFF, b"x")]], "Dirty page 0 offset overflow: 0xffffffff + 0x1"),
    ([[(0xFFFF0000, bytes(65536))]], "Dirty page 0 offset overflow: 0xffff0000 + 0x10000"),
    ([[(END + GROWTH, b"x")]], "Dirty page 0 would extend hive by too much: 16777217 bytes (max: 16777216)"),
    # Growth counts from the length just before the page; the first two pages grow by exactly the limit.
    ([[rename(), (END + GROWTH - 1, b"x"), (END + 2 * GROWTH - 1, b"y"), (END + 3 * GROWTH, b"z")]],
     "Dirty page 3 would extend hive by too much: 16777217 bytes (max: 16777216)"),
    ([[(DWORD, b"", 0), (0xFFFFFFFF, b"x")]], "Dirty page 0 offset overflow: 0xffffffff + 0x1"),
    ([[rename()], [(0xFFFFFFFF, b"x")]], "Dirty page 1 offset overflow: 0xffffffff + 0x1"),
    (([[rename(), dword(3)]], [[(0xFFFFFFFF, b"x")]]), "Dirty page 0 offset overflow: 0xffffffff + 0x1"),
], ids=["growth to max", "max+1", "end 0xffffffff", "overflow", "overflow 64k", "growth+1",
        "growth per page", "skipped entry not counted", "count across blocks", "count per log"])
def test_page_limits(replay: Replay, logs: Union[Blocks, Tuple[Blocks, Blocks]], text: str) -> None:
    if isinstance(logs, tuple):
        log_files = [log_file(1, logs[0]), log_file(2, logs[1])]
    else:
        log_files = [log_file(1, logs)]
    with pytest.raises(ValueError) as e:
        replay(*log_files)
    assert str(e.value) == "Invalid format: " + text


def test_growth_by_exactly_the_limit(replay: Replay, tmp_path: pathlib.Path) -> None:
    # The page lands a cell at the new end of the image; a second page points the root there.
    node = IMAGE[NAME - 80:NAME] + b"GREW" + bytes(4)
    start = END + GROWTH - len(node)
    hive = replay(log_file(1, [[(start, node), (36, struct.pack("<I", start - 4096))]]))
    assert hive.root_key().name() == "GREW"
    assert hive.base_block().root_cell_offset == start - 4096


@pytest.mark.skipif(not os.environ.get("TARNU_LARGE_TESTS"), reason="needs a 512 MiB image; set TARNU_LARGE_TESTS")
def test_page_ending_exactly_at_maximum_size(write_file: WriteFile, tmp_path: pathlib.Path) -> None:
    primary = tmp_path / "big.hiv"
    primary.write_bytes(IMAGE)
    os.truncate(primary, MAX - GROWTH)
    log = write_file(log_file(1, [[(MAX - 1, b"x"), dword(7)]]))
    assert state(tarnu.Hive.open_with_logs(str(primary), log)) == ("ROOT", 7)


BASE = bytearray(IMAGE[:512])
BASE[48:64] = b"r\0e\0p\0a\0i\0r\0e\0d\0"
BASE[508:512] = b"\xde\xad\xbe\xef"      # left wrong on purpose: the replay recomputes it


@pytest.mark.parametrize("damage", [
    lambda i: BAD_CHECKSUM,
    lambda i: b"rexf" + i[4:],
    lambda i: with_checksum(i[:20] + struct.pack("<I", 9) + i[24:]),
    lambda i: bytes(4096) + i[4096:],
], ids=["checksum", "signature", "version", "zeroed"])
def test_damaged_base_block_replaced_by_page(replay: Replay, damage: Callable[[bytes], bytes]) -> None:
    hive = replay(log_file(1, [[(0, bytes(BASE))]]), primary=damage(IMAGE))
    assert hive.base_block().file_name == "r e p a i r e d"
    assert state(hive) == ORIGINAL


def test_page_moves_root(replay: Replay) -> None:
    hive = replay(log_file(1, [[(36, struct.pack("<I", ALT_AT))]]))
    assert hive.base_block().root_cell_offset == ALT_AT
    assert hive.root_key().name() == "ALT"


@pytest.mark.parametrize("primary, logs, size", [
    (bytes(100), [], 100), (b"", [], 0), (IMAGE[:4095], [], 4095),
    (IMAGE[:100], [log_file(1)], 100),
    (IMAGE[:100], [log_file(1, [[(0, b"regf")]])], 100),
    (IMAGE[:100], [log_file(1, [[(200, b"x")]])], 201),
    (b"", [log_file(1, [[(0, IMAGE[:4095])]])], 4095),
])
def test_primary_too_small(replay: Replay, primary: bytes, logs: List[bytes], size: int) -> None:
    with pytest.raises(ValueError) as e:
        replay(*logs, primary=primary)
    assert str(e.value) == "Hive too small: {} bytes (minimum: 4096 bytes)".format(size)


@pytest.mark.parametrize("primary", [b"", IMAGE[:100]])
def test_pages_can_supply_the_whole_primary(replay: Replay, primary: bytes) -> None:
    assert state(replay(log_file(1, [[(0, IMAGE)], [rename()]]), primary=primary)) == ("ABCD", 1)


@pytest.mark.parametrize("where, text", [
    ("missing.hiv", "No such file or directory (os error 2)"),
    ("", "No such file or directory (os error 2)"),
    (".", "Is a directory (os error 21)"),
    ("a\0b", "path contains a NUL character"),
])
def test_primary_unreadable(write_file: WriteFile, tmp_path: pathlib.Path, where: str, text: str) -> None:
    log = write_file(log_file(1, [[(0, IMAGE)]]))
    path = os.path.join(str(tmp_path), where) if where else ""
    with pytest.raises(OSError) as e:
        tarnu.Hive.open_with_logs(path, log, log)
    assert str(e.value) == text


class Text(str):
    pass


@pytest.mark.parametrize("args, kwargs, text", [
    ((), {}, "Hive.open_with_logs() missing 1 required positional argument: 'hive_path'"),
    (("P", "L", "L", "L"), {}, "Hive.open_with_logs() takes from 1 to 3 positional arguments but 4 were given"),
    ((b"P",), {}, "argument 'hive_path': "),
    (("P", b"L"), {}, "argument 'log1_path': "),
    (("P", None, 5), {}, "argument 'log2_path': "),
    (("P",), {"log3_path": None}, "Hive.open_with_logs() got an unexpected keyword argument 'log3_path'"),
    (("P", None), {"log1_path": "L"}, "Hive.open_with_logs() got multiple values for argument 'log1_path'"),
])
def test_argument_errors(write_file: WriteFile, args: Tuple[Any, ...], kwargs: Dict[str, Any], text: str) -> None:
    paths = {"P": write_file(IMAGE), "L": write_file(log_file(1, [[rename()]]))}
    args = tuple(paths.get(a, a) if isinstance(a, str) else a for a in args)
    with pytest.raises(TypeError) as e:
        tarnu.Hive.open_with_logs(*args, **kwargs)
    assert str(e.value).startswith(text) if text.endswith(": ") else str(e.value) == text


def test_keyword_and_str_subclass_arguments(write_file: WriteFile) -> None:
    primary, log = write_file(IMAGE), write_file(log_file(1, [[rename()]]))
    assert state(tarnu.Hive.open_with_logs(hive_path=Text(primary), log2_path=Text(log))) == ("ABCD", 1)
    assert state(tarnu.Hive.open_with_logs(primary, log1_path=None, log2_path=log)) == ("ABCD", 1)


def overlapping_log(pages: int) -> bytes:
    """A log whose every 4096-byte page begins a block ("DIRT", 1000 entries) and then holds nothing but entry
    heads (END, 65536). Each entry's data runs over the next 16 pages, so every block reads the same bytes again:
    about 10000 pages of 64 KiB from a file of `pages` * 4 KiB."""
    page = b"DIRT" + struct.pack("<III", 0, 1000, 0) + struct.pack("<II", END, 65536) * 510
    log: bytes = log_file(1) + page * pages
    return log


def test_overlapping_blocks_take_no_more_memory_than_the_log(write_file: WriteFile) -> None:
    # Peak memory of a fresh interpreter opening the hive without and with the log. Pages are views of the log
    # file; copies would have taken some 640 MB here.
    primary, log = write_file(IMAGE), write_file(overlapping_log(635))
    script = ("import resource, sys, tarnu; hive = tarnu.Hive.open_with_logs(*sys.argv[1:]); "
              "hive.save(sys.argv[1] + '.out'); print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    peaks = [int(subprocess.run([sys.executable, "-c", script] + args, check=True, capture_output=True, env=env,
                                timeout=300).stdout) for args in ([primary], [primary, log])]
    assert (peaks[1] - peaks[0]) * 1024 < 16 * len(overlapping_log(635))
    report = tarnu.Hive.open_with_logs(primary, log).replay_report()
    assert report is not None
    assert report.logs[0].pages_applied > 10000
    assert report.logs[0].stop_reason == "more than 10000 pages"
    with open(primary + ".out", "rb") as f:
        saved = f.read()
    assert saved[:END] == with_checksum(IMAGE) and len(saved) == END + 65536
    assert saved[END:] in overlapping_log(635)
