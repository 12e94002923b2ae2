"""tarnu.records: flat rows of every key and value, error rows instead of exceptions, logs beside a hive."""

import datetime
import pathlib
import pickle
import threading
from typing import Any, Callable, Dict, List, Literal, Tuple, Type, Union

import pytest

import tarnu
from conftest import sample_path
from tarnu.hivebuilder import (REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE,
                               REG_QWORD, REG_SZ, Key, Value, build_hive, dirty_hive)

UTC = datetime.timezone.utc
FIELDS = ("hive", "key", "last_written", "value", "type", "raw", "data", "error")

# What a row's data can be.
Data = Union[str, int, List[str], bytes, None]
# The write_file fixture, as these tests call it: data and file name.
WriteFile = Callable[[bytes, str], str]

VALUES = [
    Value("", REG_SZ, "default"),
    Value("Text", REG_SZ, "café ™ \U0001F600"),
    Value("Path", REG_EXPAND_SZ, "%SystemRoot%\\x"),
    Value("List", REG_MULTI_SZ, ["a", "b,c", 'q"']),
    Value("Word", REG_DWORD, 0x12345678),
    Value("Big", REG_DWORD_BIG_ENDIAN, 5),
    Value("Quad", REG_QWORD, 2 ** 40),
    Value("Blob", REG_BINARY, bytes(range(256)) * 80),  # big data
    Value("Nothing", REG_NONE, b"\x01\x02"),
    Value("Odd", 0x1C, b"xyz"),
    Value("BadText", REG_SZ, b"\x00\xd8"),  # a lone surrogate: raw bytes, no decoded data
]
TREE = Key("ROOT", subkeys=[Key("Software", subkeys=[Key("Empty", timestamp=0)], values=VALUES),
                            Key("Other", timestamp=116444736000000000 + 15)])


@pytest.fixture(scope="module")
def image() -> bytes:
    data: bytes = build_hive(TREE)
    return data


def decoded(value: tarnu.RegistryValue) -> Data:
    """What a row's data must be, from the per-call API."""
    try:
        return value.data().value()
    except ValueError:
        return None


def test_rows_match_the_per_call_api(image: bytes) -> None:
    hive = tarnu.Hive.from_bytes(image)
    expected: List[Tuple[object, ...]] = []
    for path, key in hive.walk():
        values = key.values()
        for value in values:
            name = "" if value.name() == "(default)" else value.name()
            expected.append((None, path, key.last_written(), name, value.value_type().type_id(), value.raw_data(),
                             decoded(value), None))
        if not values:
            expected.append((None, path, key.last_written(), None, None, None, None, None))
    rows = list(tarnu.records(image))
    assert [tuple(row) for row in rows] == expected
    assert all(type(row) is tarnu.Record for row in rows)
    by_name = {row.value: row for row in rows}
    assert by_name["Odd"].data == by_name["Odd"].raw == b"xyz" and by_name["BadText"].data is None
    assert by_name["Big"].data == 5 and by_name["List"].data == ["a", "b,c", 'q"']
    empty = [row for row in rows if row.key == "Software\\Empty"]
    assert empty == [(None, "Software\\Empty", None, None, None, None, None, None)]
    assert [row for row in rows if row.key == "Other"][0].last_written == datetime.datetime(1970, 1, 1, 0, 0, 0, 1,
                                                                                            tzinfo=UTC)


def test_record_fields_and_pickling(image: bytes) -> None:
    row = next(iter(tarnu.records(image, name="SOFTWARE")))
    assert tuple(getattr(row, name) for name in FIELDS) == tuple(row)
    assert row.hive == "SOFTWARE" and row.key == "" and row.value is None
    assert pickle.loads(pickle.dumps(row)) == row


@pytest.mark.parametrize("source", ["path", "pathlike", "bytes", "bytearray", "memoryview", "hive"])
def test_sources(image: bytes, write_file: WriteFile, source: str) -> None:
    path = write_file(image, "SOFTWARE")
    given = {"path": path, "pathlike": __import__("pathlib").Path(path), "bytes": image,
             "bytearray": bytearray(image), "memoryview": memoryview(image),
             "hive": tarnu.Hive.from_bytes(image)}[source]
    rows = list(tarnu.records(given))
    assert len(rows) == len(VALUES) + 3
    assert {row.hive for row in rows} == ({path} if source.startswith("path") else {None})


@pytest.mark.parametrize("make, error", [
    (lambda tmp: str(tmp / "missing"), "No such file or directory (os error 2)"),
    (lambda tmp: str(tmp), "Is a directory (os error 21)"),
    (lambda tmp: b"regf" + bytes(10), "Hive too small: 14 bytes (minimum: 4096 bytes)"),
    (lambda tmp: b"\0" * 4096, "Invalid signature: expected regf, found \0\0\0\0"),
])
def test_a_hive_that_fails_gives_one_error_row(tmp_path: pathlib.Path,
                                                make: Callable[[pathlib.Path], Union[str, bytes]], error: str) -> None:
    source = make(tmp_path)
    rows = list(tarnu.records(source))
    assert rows == [(source if isinstance(source, str) else None, None, None, None, None, None, None, error)]


def test_unreadable_parts_give_error_rows_and_the_walk_goes_on() -> None:
    tree = Key("ROOT", subkeys=[
        Key("A", subkey_count=1, subkey_list_offset=0x7FFFFFF0),
        Key("B", values=[Value("Lost", REG_BINARY, b"0123456789", data_offset=0x7FFFFFF0), Value("Kept", REG_DWORD, 1)]),
        Key("C", value_count=2, value_list_offset=0x7FFFFFF0),
    ])
    rows = [(row.key, row.value, row.raw, row.error) for row in tarnu.records(build_hive(tree))]
    assert rows == [
        ("", None, None, None),
        ("A", None, None, None),
        ("A", None, None, "Invalid offset 0x7ffffff0 (hive size: 0x2000)"),
        ("B", None, None, "value 'Lost': Invalid offset 0x7ffffff0 (hive size: 0x2000)"),
        ("B", "Lost", None, None),
        ("B", "Kept", b"\x01\0\0\0", None),
        ("C", None, None, "values: Invalid offset 0x7ffffff0 (hive size: 0x2000)"),
        ("C", None, None, None),
    ]


BEFORE = Key("ROOT", values=[Value("v", REG_DWORD, 0)])
AFTER = Key("ROOT", subkeys=[Key("New")], values=[Value("v", REG_DWORD, 1)])


@pytest.mark.parametrize("log_name, logs, expected", [
    ("HIVE.LOG1", "auto", 1),
    ("hive.log1", "auto", 1),       # names match in any letter case
    ("HIVE.LOG2", "auto", 1),
    ("HIVE.LOG3", "auto", 0),
    ("HIVE.LOG1", None, 0),
    ("elsewhere", ["elsewhere"], 1),
])
def test_logs_beside_the_hive_are_replayed(tmp_path: pathlib.Path, write_file: WriteFile, log_name: str,
                                           logs: Union[Literal["auto"], List[str], None], expected: int) -> None:
    primary, log = dirty_hive(BEFORE, AFTER)
    path = write_file(primary, "HIVE")
    log_path = write_file(log, log_name)
    if isinstance(logs, list):
        logs = [log_path]
    rows = {row.value: row for row in tarnu.records(path, logs=logs)}
    assert rows["v"].data == expected and (None in rows) == (expected == 1)


def test_logs_beside_lookup(tmp_path: pathlib.Path, write_file: WriteFile) -> None:
    hive = write_file(b"", "Hive.dat")
    write_file(b"", "HIVE.DAT.log2")
    assert tarnu._logs_beside(hive) == (None, str(tmp_path / "HIVE.DAT.log2"))
    assert tarnu._logs_beside(str(tmp_path / "none")) == (None, None)


def test_iterators_run_on_threads_at_once(image: bytes) -> None:
    results: List[List[Tuple[object, ...]]] = [[] for _ in range(4)]

    def walk(i: int) -> None:
        results[i] = [tuple(row) for row in tarnu.records(image)]

    threads = [threading.Thread(target=walk, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(result == results[0] and len(result) == len(VALUES) + 3 for result in results)


@pytest.mark.parametrize("kwargs, error, message", [
    ({}, TypeError, "records() missing 1 required positional argument: 'source'"),
    ({"source": 5}, TypeError, "records() argument 'source': expected a path, a bytes-like object or a Hive"),
    ({"source": b"", "logs": "all"}, ValueError, "argument 'logs': expected 'auto', None or a list of paths, got 'all'"),
    ({"source": b"", "logs": ["a", "b", "c"]}, ValueError, "argument 'logs': at most two log paths"),
    ({"source": b"", "name": 5}, TypeError, "argument 'name': expected str, got int"),
])
def test_argument_errors(kwargs: Dict[str, Any], error: Type[Exception], message: str) -> None:
    with pytest.raises(error) as info:
        tarnu.records(**kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("name, keys, values", [("SYSTEM.xz", 30756, 73456), ("NTUSER.DAT.xz", 1812, 4094)])
def test_samples(samples_dir: pathlib.Path, name: str, keys: int, values: int) -> None:
    rows = list(tarnu.records(sample_path(name, samples_dir)))
    assert sum(row.value is not None for row in rows) == values
    assert len({row.key for row in rows}) == keys and not any(row.error for row in rows)
