"""tarnu.arrow: the rows of records() as Arrow record batches, within their budget, read by pyarrow, polars and
DuckDB, and the PyCapsule protocol around them."""

import json
import pathlib
import threading
from typing import Any, Callable, Dict, List, Type

import pytest

import tarnu
from conftest import record_of_arrow, sample_path, stored_at
from tarnu import hivebuilder as hb
from tarnu.hivebuilder import REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_SZ, Key, Value, build_hive

pa = pytest.importorskip("pyarrow")

BUDGET = 64 * 1024
HUGE = bytes(range(256)) * 1024  # 256 KiB: past the budget, a batch of its own
VALUES = [
    Value("", REG_SZ, "default"),
    Value("Text", REG_SZ, "café ™ \U0001F600"),
    Value("Path", hb.REG_EXPAND_SZ, "%SystemRoot%\\x"),
    Value("List", REG_MULTI_SZ, ["a", "", "b,c"]),
    Value("NoItems", REG_MULTI_SZ, []),
    Value("Word", REG_DWORD, 0x12345678),
    Value("Big", hb.REG_DWORD_BIG_ENDIAN, 5),
    Value("Quad", hb.REG_QWORD, 2 ** 64 - 1),
    Value("Short", REG_DWORD, b"\x01"),  # too short to decode
    Value("Empty", REG_BINARY, b""),
    Value("Huge", REG_BINARY, HUGE),
    Value("HugeText", REG_SZ, "x" * 100_000),
    Value("Nothing", hb.REG_NONE, b"\x01\x02"),
    Value("Odd", 0x1C, b"xyz"),
    Value("BadText", REG_SZ, b"\x00\xd8"),  # a lone surrogate: raw bytes, no decoded data
]
TREE = Key("ROOT", subkeys=[
    Key("Software", subkeys=[Key("Empty", timestamp=0)], values=VALUES),
    Key("Many", subkeys=[Key("K{:04}".format(i), values=[Value("v", REG_SZ, "value {}".format(i))])
                         for i in range(2000)]),
    Key("A", subkey_count=1, subkey_list_offset=0x7FFFFFF0),
    Key("B", values=[Value("Lost", REG_BINARY, b"0123456789", data_offset=0x7FFFFFF0), Value("Kept", REG_DWORD, 1)]),
])


@pytest.fixture(scope="module")
def image() -> bytes:
    data: bytes = build_hive(TREE)
    return data


def table(source: Any, **kwargs: Any) -> Any:
    return pa.RecordBatchReader.from_stream(tarnu.arrow(source, **kwargs)).read_all()


@pytest.mark.parametrize("batch_bytes", [BUDGET, 8 << 20])
def test_rows_equal_records_within_the_budget(image: bytes, batch_bytes: int) -> None:
    reader = pa.RecordBatchReader.from_stream(tarnu.arrow(image, name="SOFTWARE", batch_bytes=batch_bytes,
                                                          batch_rows=1000))
    batches = list(reader)
    for batch in batches:
        assert batch.num_rows <= 1000 and (batch.nbytes <= batch_bytes or batch.num_rows == 1)
    rows = [record_of_arrow(row) for batch in batches for row in batch.to_pylist()]
    assert rows == [tuple(record) for record in tarnu.records(image, name="SOFTWARE")]
    alone = [batch.to_pylist()[0]["value"] for batch in batches if batch.nbytes > batch_bytes]
    assert alone == (["Huge", "HugeText"] if batch_bytes == BUDGET else [])
    errors = [(row[1], row[7].split(" (")[0]) for row in rows if row[7] is not None]
    assert errors == [("A", "Invalid offset 0x7ffffff0"), ("B", "value 'Lost': Invalid offset 0x7ffffff0")]


def test_schema(image: bytes) -> None:
    rows = tarnu.arrow(image)
    schema = pa.schema(rows)
    assert schema == table(image).schema
    assert [(field.name, str(field.type)) for field in schema] == [
        ("hive", "dictionary<values=string, indices=int32, ordered=0>"), ("key", "string"),
        ("last_written", "timestamp[us, tz=UTC]"), ("value", "string"), ("type", "string"), ("raw", "large_binary"),
        ("data_text", "large_string"), ("data_list", "list<item: large_string not null>"),
        ("data_number", "uint64"), ("error", "string")]
    deleted = pa.schema(tarnu.arrow(image, deleted=True))
    assert deleted.names[-5:] == ["deleted", "path_complete", "offset", "source", "error"]
    assert str(deleted.field("offset").type) == "uint32" and not deleted.field("deleted").nullable


def test_deleted_rows_equal_the_export(open_image: Callable[[bytes], tarnu.Hive]) -> None:
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    software = Key("Software")
    live = [b.add(software, parent=root)]
    doomed = Key("Run", values=[Value("Updater", REG_SZ, "C:\\evil.exe"), Value("count", REG_DWORD, 7),
                                Value("List", REG_MULTI_SZ, ["x"])])
    b.add(doomed, parent=stored_at(software))
    b.delete_key(stored_at(doomed))
    b.key("root", root=True, at=root, subkeys=live)
    hive = open_image(b.build())
    exported = [json.loads(line) for chunk in tarnu._export(hive, "jsonl", deleted=True)
                for line in chunk.splitlines()]
    rows = []
    for row in table(hive, deleted=True).to_pylist():
        time = row["last_written"]
        row["last_written"] = None if time is None else time.isoformat(timespec="microseconds")
        row["raw"] = None if row["raw"] is None else row["raw"].hex()
        row["data"] = next((row.pop(field) for field in ("data_text", "data_list", "data_number")
                            if row[field] is not None), None)
        assert row.pop("error") is None
        rows.append({key: row.get(key) for key in exported[0]})
    assert rows == exported and [row["deleted"] for row in rows] == [False, False, True, True, True]


@pytest.mark.parametrize("make, error", [
    (lambda tmp: str(tmp / "missing"), "No such file or directory (os error 2)"),
    (lambda tmp: b"regf" + bytes(100), "Hive too small"),
])
def test_a_hive_that_fails_gives_one_error_row(tmp_path: pathlib.Path, make: Callable[[pathlib.Path], Any],
                                               error: str) -> None:
    source = make(tmp_path)
    [row] = table(source).to_pylist()
    assert record_of_arrow(row) == tuple(next(tarnu.records(source)))
    assert row["key"] is None and row["error"].startswith(error)


def test_key_starts_the_walk(image: bytes) -> None:
    assert {row["key"] for row in table(image, key="software\\EMPTY").to_pylist()} == {"Software\\Empty"}
    [row] = table(image, key="Nowhere").to_pylist()
    assert row["key"] is None and row["error"] == "Not found: Key 'Nowhere'"


def test_the_capsule_protocol(image: bytes) -> None:
    rows = tarnu.arrow(image, batch_bytes=BUDGET)
    capsule = rows.__arrow_c_stream__(pa.schema(rows).__arrow_c_schema__())
    reader = pa.RecordBatchReader._import_from_c_capsule(capsule)
    first = reader.read_next_batch()
    with pytest.raises(Exception):
        pa.RecordBatchReader._import_from_c_capsule(capsule)  # taken already: released by its reader alone
    # Each stream starts from the first row; a stream dropped unread releases what it holds.
    rows.__arrow_c_stream__()
    again = pa.RecordBatchReader.from_stream(rows)
    assert again.read_next_batch() == first
    assert len(list(reader)) == len(list(again)) and rows.counts()[:2] == (2006, 2017)


def test_streams_read_on_many_threads_agree(image: bytes) -> None:
    rows = tarnu.arrow(image, batch_bytes=BUDGET)
    expected = pa.table(rows)
    tables: List[Any] = []
    threads = [threading.Thread(target=lambda: tables.append(pa.table(rows))) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(tables) == 4 and all(t.equals(expected) for t in tables)


def test_polars_and_duckdb_read_the_stream(image: bytes) -> None:
    polars = pytest.importorskip("polars")
    duckdb = pytest.importorskip("duckdb")
    rows = tarnu.arrow(image, name="SOFTWARE")
    frame = polars.DataFrame(rows)
    assert frame.height == table(image).num_rows
    assert frame.filter(polars.col("value") == "Word")["data_number"].to_list() == [0x12345678]
    found = duckdb.sql("SELECT key, data_list FROM rows WHERE type = 'REG_MULTI_SZ' ORDER BY value").fetchall()
    assert found == [("Software", ["a", "b,c"]), ("Software", [])]


def test_parquet_round_trip(image: bytes, tmp_path: pathlib.Path) -> None:
    parquet = pytest.importorskip("pyarrow.parquet")
    expected = table(image)
    parquet.write_table(expected, tmp_path / "rows.parquet")
    assert parquet.read_table(tmp_path / "rows.parquet").equals(expected)


@pytest.mark.parametrize("kwargs, error, message", [
    ({"batch_bytes": 0}, ValueError, "argument 'batch_bytes': expected 1 to 1073741824"),
    ({"batch_rows": True}, TypeError, "arrow() argument 'batch_rows': expected an int"),
    ({"key": 1}, TypeError, "key"),
    ({"logs": "nope"}, ValueError, "argument 'logs': expected 'auto', None or a list of paths, got 'nope'"),
])
def test_argument_errors(image: bytes, kwargs: Dict[str, Any], error: Type[Exception], message: str) -> None:
    with pytest.raises(error) as info:
        tarnu.arrow(image, **kwargs)
    assert message in str(info.value)


def test_sample_system_hive(samples_dir: pathlib.Path) -> None:
    path = sample_path("SYSTEM.xz", samples_dir)
    assert [record_of_arrow(row) for row in table(path).to_pylist()] == [tuple(r) for r in tarnu.records(path)]
