"""The rows of every export format, live and recovered alike, read back and compared field by field with what the
hive builder stored; CSV for spreadsheet programs; recovered rows written as a stream."""

import base64
import csv
import datetime
import io
import json
import pathlib
from typing import Any, Dict, List, Literal, NamedTuple, Optional, Sequence, Tuple

import pytest

import tarnu
from conftest import TarnuCommand, parse_reg, stored_at
from tarnu import hivebuilder as hb
from tarnu.hivebuilder import REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD, REG_SZ, Key, Value, encode_data, filetime

Row = Dict[str, Any]
Sources = Literal["live", "live+recovered", "recovered"]

TIME = filetime(1577836800) + 1234567        # 2020-01-01T00:00:00.123456
GONE_TIME = filetime(1262304000) + 98765430  # 2010-01-01T00:00:09.876543
PAST_9999 = 2 ** 63
TYPE_NAMES = {REG_SZ: "REG_SZ", REG_DWORD: "REG_DWORD", REG_QWORD: "REG_QWORD", REG_MULTI_SZ: "REG_MULTI_SZ",
              REG_BINARY: "REG_BINARY"}
BASE = ["hive", "key", "last_written", "value", "type", "raw", "data"]
RECOVERY = ["deleted", "path_complete", "offset", "source"]


class Built(NamedTuple):
    path: str
    keys: List[Tuple[str, int, bool, Optional[bool]]]  # (path, FILETIME, deleted, path_complete) of each key, in order
    live: List[Row]
    recovered: List[Row]


def iso(time: int) -> Optional[str]:
    if time == 0 or time >= PAST_9999:
        return None
    moment = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc) + datetime.timedelta(microseconds=time // 10)
    return moment.isoformat(timespec="microseconds")


def unix_seconds(time: int) -> int:
    return (time - filetime(0)) // 10 ** 7 if iso(time) else 0


def value_row(head: Row, value: Value, offset: Optional[int]) -> Row:
    data = value.data if isinstance(value.data, (str, int, list)) else None
    raw = encode_data(value.value_type, value.data).hex()
    return dict(head, value=value.name, type=TYPE_NAMES[value.value_type], raw=raw, data=data, offset=offset)


def key_rows(head: Row, values: Sequence[Value]) -> List[Row]:
    """The rows of a key: one per value (placed at the value's cell when the key is deleted), or one without."""
    if not values:
        return [dict(head, value=None, type=None, raw=None, data=None)]
    return [value_row(head, value, stored_at(value) if head["deleted"] else None) for value in values]


def build(folder: pathlib.Path) -> Built:
    """Live keys with values of each kind and times of each kind, a deleted key with values and subkeys, and two
    deleted values that no key lists."""
    live_values = [Value("", REG_SZ, "default"), Value("Quad", REG_QWORD, 2 ** 40 + 7), Value("Zero", REG_DWORD, 0),
                   Value("List", REG_MULTI_SZ, ["a", "b,c"]), Value("Blob", REG_BINARY, b"\xfb\xff")]
    gone_values = [Value("Path", REG_SZ, "=C:\\x.exe"), Value("Q", REG_QWORD, 2 ** 33 + 1),
                   Value("M", REG_MULTI_SZ, ["x", "y z"]), Value("B", REG_BINARY, b"\xfb\x01"),
                   Value("D", REG_DWORD, 0xFFFFFFFF)]
    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    live = [Key("Far", timestamp=PAST_9999), Key("Live", timestamp=TIME, values=live_values), Key("Zero", timestamp=0)]
    for key in live:
        b.add(key, parent=root)
    gone = Key("Gone", timestamp=GONE_TIME, values=gone_values,
               subkeys=[Key("Child", timestamp=0), Key("Later", timestamp=PAST_9999)])
    b.add(gone, parent=stored_at(live[1]))
    b.delete_key(stored_at(gone))
    lone = [Value("Lone", REG_SZ, "-orphan"), Value("Num", REG_QWORD, 5)]
    for value in lone:
        value.offset = b.value(value.name, value.value_type, value.data)
        b.delete_value(value.offset)
    b.key("root", root=True, at=root, subkeys=[stored_at(key) for key in live], last_written=TIME)
    path = folder / "HIVE"
    path.write_bytes(b.build())

    def head(key: Optional[str], time: int, deleted: bool = False, offset: Optional[int] = None) -> Row:
        return {"hive": str(path), "key": key, "last_written": iso(time), "deleted": deleted,
                "path_complete": True if key is not None and deleted else None, "offset": offset,
                "source": "free" if deleted else None}

    keys: List[Tuple[str, int, bool, Optional[bool]]] = [("", TIME, False, None)]
    keys += [(str(key.name), key.timestamp or 0, False, None) for key in live]
    live_rows = [row for path_, time, _, _ in keys for row in key_rows(
        head(path_, time), live_values if path_ == "Live" else [])]
    # Recovered rows in cell-offset order: the deleted keys, and the values that no key lists.
    found: List[Tuple[int, str, int, List[Row]]] = []
    for key, key_path in [(gone, "Live\\Gone")] + [(sub, "Live\\Gone\\" + str(sub.name)) for sub in gone.subkeys]:
        time = key.timestamp or 0
        found.append((stored_at(key), key_path, time, key_rows(head(key_path, time, True, stored_at(key)), key.values)))
    for value in lone:
        found.append((stored_at(value), "", 0, [value_row(head(None, 0, True), value, stored_at(value))]))
    found.sort(key=lambda item: item[0])
    keys += [(key_path, time, True, True) for _, key_path, time, rows in found if rows[0]["key"] is not None]
    return Built(str(path), keys, live_rows, [row for item in found for row in item[3]])


@pytest.fixture(scope="module")
def built(tmp_path_factory: pytest.TempPathFactory) -> Built:
    return build(tmp_path_factory.mktemp("rows"))


def csv_text(value: Any) -> str:
    """A value as a CSV cell holds it."""
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, list):
        return json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return str(value)


def in_base64(rows: List[Row]) -> List[Row]:
    return [dict(row, raw=None if row["raw"] is None else base64.b64encode(bytes.fromhex(row["raw"])).decode())
            for row in rows]


@pytest.mark.parametrize("args, sources", [
    (["dump"], "live"),
    (["dump", "--format", "csv"], "live"),
    (["dump", "--deleted"], "live+recovered"),
    (["dump", "--deleted", "--format", "csv", "--base64"], "live+recovered"),
    (["deleted"], "recovered"),
    (["deleted", "--base64"], "recovered"),
    (["deleted", "--format", "csv"], "recovered"),
])
def test_rows_hold_what_the_builder_stored(tarnu_command: TarnuCommand, built: Built, args: List[str],
                                          sources: str) -> None:
    result = tarnu_command(*args, built.path)
    assert result.returncode == 0, result.stderr
    columns = BASE + (RECOVERY if sources != "live" else [])
    expected = (built.live if sources != "recovered" else []) + (built.recovered if sources != "live" else [])
    if "--base64" in args:
        expected = in_base64(expected)
    expected = [{column: row[column] for column in columns} for row in expected]
    text = result.stdout.decode("utf-8")
    if "csv" in args:
        table = list(csv.reader(io.StringIO(text, newline="")))
        assert table[0] == columns
        assert table[1:] == [[csv_text(row[column]) for column in columns] for row in expected]
        assert text.count("\r\n") == len(expected) + 1
    else:
        got = [json.loads(line) for line in text.split("\n")[:-1]]
        assert [list(row) for row in got] == [columns] * len(got)
        assert got == expected
    # The summary counts the live keys and values, or recovery's when it is the only source.
    keys, values = (3, 7) if sources == "recovered" else (4, 5)
    assert result.stderr.decode().splitlines()[-1] == "tarnu: 1 hive, {} keys, {} values, 0 skipped".format(
        keys, values)


@pytest.mark.parametrize("sources", ["live", "recovered", "live+recovered"])
def test_timelines_hold_every_key_and_its_time(built: Built, sources: Sources) -> None:
    keys = [key for key in built.keys if sources == "live+recovered" or key[2] == (sources == "recovered")]
    bodyfile = b"".join(tarnu._export(built.path, "bodyfile", sources=sources)).decode("utf-8")
    assert bodyfile.split("\n") == ["0|{}:\\{}{}|0|0|0|0|0|0|{}|0|0".format(
        built.path, path, " (deleted, free)" if deleted else "", unix_seconds(time))
        for path, time, deleted, _ in keys] + [""]
    table = list(csv.reader(io.StringIO(b"".join(tarnu._export(built.path, "timeline-csv", sources=sources))
                                        .decode("utf-8"), newline="")))
    extra = ["deleted", "path_complete", "source"] if sources != "live" else []
    assert table[0] == ["last_written", "hive", "key"] + extra
    ordered = sorted(keys, key=lambda key: (key[1] if iso(key[1]) else 0, key[0]))
    assert table[1:] == [[csv_text(iso(time)), built.path, path] +
                         [csv_text(deleted), csv_text(complete), "free" if deleted else ""][:len(extra)]
                         for path, time, deleted, complete in ordered]


@pytest.mark.parametrize("sources", ["live", "recovered"])
def test_reg_file_holds_every_value(tarnu_command: TarnuCommand, built: Built, sources: Sources) -> None:
    if sources == "live":
        data = tarnu_command("export-reg", built.path, "--prefix", "HKLM\\X").stdout
    else:
        data = b"".join(tarnu._export(built.path, "reg", prefix="HKLM\\X", sources=sources))
    expected: Dict[str, List[Tuple[str, int, bytes]]] = {}
    for row in built.live if sources == "live" else built.recovered:
        if row["key"] is None:
            continue  # a value without a key has no place in a .reg file
        values = expected.setdefault("HKLM\\X" + ("\\" + row["key"] if row["key"] else ""), [])
        if row["value"] is not None:
            types = {name: number for number, name in TYPE_NAMES.items()}
            values.append((row["value"], types[row["type"]], bytes.fromhex(row["raw"])))
    assert parse_reg(data) == expected


def test_records_hold_what_the_builder_stored(built: Built) -> None:
    types = {name: number for number, name in TYPE_NAMES.items()}
    expected = [(row["hive"], row["key"], row["last_written"], row["value"], types.get(row["type"]),
                 None if row["raw"] is None else bytes.fromhex(row["raw"]),
                 row["data"] if row["type"] != "REG_BINARY" else bytes.fromhex(row["raw"]), None)
                for row in built.live]
    got = [(r.hive, r.key, r.last_written and r.last_written.isoformat(timespec="microseconds"), r.value, r.type,
            r.raw, r.data, r.error) for r in tarnu.records(built.path)]
    assert got == expected


# ---- CSV for spreadsheet programs -------------------------------------------------------------------------------

LIMIT = 32767
MARK = "\u2026[cut]"
csv.field_size_limit(1 << 24)


@pytest.mark.parametrize("text, cell", [
    ("plain", "plain"),
    ("=1+1", "'=1+1"),
    ("+41", "'+41"),
    ("-2", "'-2"),
    ("@SUM(A1)", "'@SUM(A1)"),
    ("\tx", "'\tx"),
    ("\rx", "'\rx"),
    ("a=b", "a=b"),
    ("a" * LIMIT, "a" * LIMIT),
    ("a" * (LIMIT + 1), "a" * (LIMIT - 6) + MARK),
    ("=" + "a" * (LIMIT - 2), "'=" + "a" * (LIMIT - 2)),
    ("=" + "a" * (LIMIT - 1), "'=" + "a" * (LIMIT - 8) + MARK),
    ("\u00e9" * (LIMIT + 1), "\u00e9" * (LIMIT - 6) + MARK),
    ("a" * (LIMIT - 7) + "\U0001F600" * 8, "a" * (LIMIT - 7) + "\U0001F600" + MARK),
], ids=["plain", "=", "+", "-", "@", "tab", "CR", "inner =", "limit", "limit+1", "= limit", "= limit+1",
        "2-byte", "4-byte"])
def test_spreadsheet_cells(text: str, cell: str) -> None:
    image = hb.build_hive(Key("ROOT", values=[Value("v", REG_SZ, text)]))
    plain = b"".join(tarnu._export(image, "csv", name="H"))
    for_spreadsheet = b"".join(tarnu._export(image, "csv", name="H", spreadsheet=True))
    assert for_spreadsheet.startswith(b"\xef\xbb\xbfhive,key,last_written,value,type,raw,data\r\n")
    rows = list(csv.reader(io.StringIO(for_spreadsheet[3:].decode("utf-8"), newline="")))
    assert rows[1][6] == cell and len(cell) <= LIMIT
    assert list(csv.reader(io.StringIO(plain.decode("utf-8"), newline="")))[1][6] == text


def test_spreadsheet_csv_from_the_command(tarnu_command: TarnuCommand, built: Built) -> None:
    """The byte-order mark and header once for several hives, and every column made inert, the raw bytes too."""
    result = tarnu_command("deleted", "--format", "csv", "--base64", "--spreadsheet", built.path, built.path)
    text = result.stdout.decode("utf-8")
    assert text.startswith("\ufeff" + ",".join(BASE + RECOVERY) + "\r\n") and text.count("\ufeff") == 1
    table = list(csv.reader(io.StringIO(text[1:], newline="")))
    cells = {(row[3], column): row[BASE.index(column)] for row in table[1:] for column in ("raw", "data")}
    assert (cells["Path", "data"], cells["B", "raw"], cells["Lone", "data"]) == ("'=C:\\x.exe", "'+wE=", "'-orphan")
    assert len(table) == 2 * len(built.recovered) + 1
    assert tarnu_command("timeline", "--spreadsheet", built.path).returncode == 2


@pytest.mark.parametrize("listed", [False, True])
def test_recovered_rows_are_written_as_a_stream(listed: bool) -> None:
    """Many deleted values that name one large free cell, listed by one deleted key or by none: rows repeat the data
    until the rows hold twice the hive's size, and the output comes in chunks of a bounded size; every row is
    written, the later ones without data."""
    b = hb.HiveBuilder()
    data = bytes(range(256)) * 63
    size, cell = b.store_data(data, "cell")
    values = [b.value("v{}".format(i), REG_BINARY, b"", data_size=size, data_offset=cell) for i in range(300)]
    b.free(b.cell(bytes(1 << 20)))  # room for many rows with data
    root = b.key("root", root=True)
    if listed:
        b.delete_key(b.key("gone", values=values, parent=root))
    else:
        for value in values:
            b.free(value)
        b.free(cell)
    image = b.build()
    stream = tarnu._export(image, "jsonl", sources="recovered")
    chunks = [len(chunk) for chunk in stream]
    row = len(data) * 2 + 200
    assert len(chunks) > 4 and max(chunks) < 256 * 1024 + row
    assert 2 * len(image) < sum(chunks) < 2 * 2 * len(image) + len(values) * 200
    assert stream.recovered_counts() == (int(listed), len(values))
    assert [message for _, message in stream.problems()] == [
        "Invalid format: Rows of deleted keys and values hold more than %d bytes of paths, names and data, 2 times "
        "the hive's size; later rows have no path and no data" % (2 * len(image))]


def test_ls_shows_no_time_as_the_exports_do(tarnu_command: TarnuCommand, built: Built) -> None:
    lines = tarnu_command("ls", built.path).stdout.decode().splitlines()
    assert lines[:3] == ["key\t\tFar", "key\t{}\tLive".format(iso(TIME)), "key\t\tZero"]


def test_timeline_of_the_command_adds_recovered_keys(tarnu_command: TarnuCommand, built: Built) -> None:
    result = tarnu_command("timeline", "--deleted", "-q", built.path)
    assert result.returncode == 0
    assert result.stdout == b"".join(tarnu._export(built.path, "bodyfile", sources="live+recovered"))


# ---- keys after one another ---------------------------------------------------------------------------------------

def varied_keys() -> List[Key]:
    """Keys whose values differ from one key to the next in number, name length, storage and readability: a row
    source that keeps its storage from key to key must still give each key its own values. The first key's values
    fill more than one batch of records()."""
    def value(i: int, j: int) -> Value:
        name = "v{}".format(j) if (i + j) % 2 else "a value name of more than sixteen bytes {}".format(j)
        kind = (i + j) % 4
        if (i * 3 + j) % 7 == 6:
            return Value(name, REG_BINARY, b"\x01" * 8, data_offset=0x7FFFFFF0)  # data that cannot be read
        if kind == 0:
            return Value(name, REG_DWORD, i * 100 + j)
        if kind == 1:
            return Value(name, REG_SZ, "text {} of key {}".format(j, i) * (1 + j % 3))
        if kind == 2 and j < 20:
            return Value(name, REG_BINARY, bytes([i, j]) * 9000, storage="big")
        if kind == 2:
            return Value(name, REG_BINARY, bytes([i, j % 256]) * 3)
        return Value(name, REG_MULTI_SZ, ["x" * j, "y"])
    counts = [600, 3, 0, 1, 5, 2, 0, 4, 1, 6]
    return [Key("K{:02}".format(i), values=[value(i, j) for j in range(n)]) for i, n in enumerate(counts)]


KeyValueRow = Tuple[Optional[str], Optional[str], Optional[bytes]]  # key, value, raw


def expected_values(keys: List[Key]) -> List[KeyValueRow]:
    rows: List[KeyValueRow] = [("", None, None)]
    for key in keys:
        rows += [(str(key.name), None, None)] if not key.values else [
            (str(key.name), str(v.name), None if "data_offset" in v.fields else encode_data(v.value_type, v.data))
            for v in key.values]
    return rows


@pytest.mark.parametrize("reader", ["records", "dump", "arrow"])
def test_each_key_has_its_own_values(tarnu_command: TarnuCommand, tmp_path: pathlib.Path, reader: str) -> None:
    keys = varied_keys()
    path = tmp_path / "varied"
    path.write_bytes(hb.build_hive(Key("root", subkeys=keys)))
    got: List[KeyValueRow]
    if reader == "records":
        got = [(r.key, r.value, r.raw) for r in tarnu.records(path) if r.error is None]
    elif reader == "dump":
        lines = tarnu_command("dump", "-q", path).stdout.decode().splitlines()
        got = [(row["key"], row["value"], row["raw"] and bytes.fromhex(row["raw"])) for row in map(json.loads, lines)]
    else:
        pa = pytest.importorskip("pyarrow")
        table = pa.RecordBatchReader.from_stream(tarnu.arrow(path)).read_all()
        got = [(row["key"], row["value"], row["raw"]) for row in table.to_pylist() if row["error"] is None]
    assert got == expected_values(keys)
