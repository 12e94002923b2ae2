"""The export formats the core writes (JSON Lines, CSV, bodyfile, timeline CSV, .reg), read back and compared with
tarnu.records over the same hive."""

import base64
import csv
import io
import json
import pathlib
from typing import Any, Callable, Dict, List, Literal, Sequence, Tuple, Union

import pytest

import tarnu
from conftest import RegValue, parse_reg, sample_path
from tarnu.hivebuilder import (REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE, REG_QWORD, REG_SZ, Key,
                               Value, build_hive, filetime)

Format = Literal["count", "jsonl", "csv", "bodyfile", "timeline-csv", "reg"]

LONG_NAME = "N" * 75
VALUES = [
    Value("", REG_SZ, "default"),
    Value("Text", REG_SZ, "café ™ \U0001F600"),
    Value('Quote"Back\\slash', REG_SZ, 'C:\\Program Files\\"x"'),
    Value("Lines", REG_SZ, "one\r\ntwo"),              # regedit's quoted form cannot hold a line break
    Value("Unterminated", REG_SZ, b"a\0b\0"),           # no terminating NUL
    Value("Inner", REG_SZ, b"a\0\0\0b\0\0\0"),          # a NUL inside
    Value("Empty", REG_SZ, b""),
    Value("Path", REG_EXPAND_SZ, "%SystemRoot%\\x"),
    Value("List", REG_MULTI_SZ, ["a", "b,c", 'q"']),
    Value("Word", REG_DWORD, 0x12345678),
    Value("Short", REG_DWORD, b"\x01\x02\x03"),
    Value("Quad", REG_QWORD, 2 ** 40 + 7),
    Value("Blob", REG_BINARY, bytes(range(256)) * 70),  # big data, many continuation lines
    Value(LONG_NAME, REG_BINARY, bytes(30)),
    Value("Nothing", REG_NONE, b""),
    Value("Odd", 0x1C, b"xyz"),
]
TREE = Key("ROOT", subkeys=[
    Key("Software", values=VALUES, timestamp=filetime(1577836800) + 1234567, subkeys=[
        Key("Pipe|Line\nKey", timestamp=filetime(1000)), Key("Zero", timestamp=0)]),
    Key("Early", timestamp=filetime(10)),
])


@pytest.fixture(scope="module")
def image() -> bytes:
    data: bytes = build_hive(TREE)
    return data


@pytest.fixture(scope="module")
def rows(image: bytes) -> List[tarnu.Record]:
    return list(tarnu.records(image, name="HIVE"))


def export(image: bytes, format: Format, problems: Sequence[Tuple[str, str]] = (), **kwargs: Any) -> bytes:
    stream = tarnu._export(image, format, name="HIVE", **kwargs)
    data = b"".join(stream)
    assert stream.problems() == list(problems) and stream.counts() == (5, len(VALUES), len(problems))
    return data


# The one key name that a .reg file cannot hold.
REG_PROBLEMS = [("Software\\Pipe|Line\nKey", "not written: a .reg file cannot hold a line break in a key's name")]


def json_data(row: tarnu.Record) -> Union[str, int, List[str], None]:
    return row.data if isinstance(row.data, (str, int, list)) else None


@pytest.mark.parametrize("binary, decode", [("hex", bytes.fromhex), ("base64", base64.b64decode)])
def test_json_lines_round_trip(image: bytes, rows: List[tarnu.Record], binary: str,
                               decode: Callable[[str], bytes]) -> None:
    lines = export(image, "jsonl", binary=binary).decode("utf-8").split("\n")
    assert lines.pop() == ""
    assert len(lines) == len(rows)
    for line, row in zip(lines, rows):
        got = json.loads(line)
        assert list(got) == ["hive", "key", "last_written", "value", "type", "raw", "data"]
        assert (got["hive"], got["key"], got["value"]) == (row.hive, row.key, row.value)
        assert got["last_written"] == (row.last_written.isoformat(timespec="microseconds") if row.last_written else None)
        assert (None if got["raw"] is None else decode(got["raw"])) == row.raw
        assert got["data"] == json_data(row)
        if row.type is not None:
            assert row.key is not None
            assert got["type"] == tarnu.Hive.from_bytes(image).key(row.key).value(row.value or "(default)") \
                .value_type().type_name()
    assert '"type":"REG_UNKNOWN_0x0000001c"' in lines[-4]


def test_csv_rows(image: bytes, rows: List[tarnu.Record]) -> None:
    text = export(image, "csv").decode("utf-8")
    assert text.endswith("\r\n") and "\r\n" in text
    # Before 3.11 the csv module refuses a NUL in its input; one stands in for it while the text is parsed.
    stand_in = "\ue000"
    assert stand_in not in text
    table = [[cell.replace(stand_in, "\0") for cell in line]
             for line in csv.reader(io.StringIO(text.replace("\0", stand_in), newline=""))]
    assert table[0] == ["hive", "key", "last_written", "value", "type", "raw", "data"]
    for got, row in zip(table[1:], rows):
        data = json_data(row)
        expected_data = json.dumps(data, ensure_ascii=False, separators=(",", ":")) if isinstance(data, list) else \
            "" if data is None else str(data)
        assert got[:2] == [row.hive, row.key] and got[3] == (row.value or "")
        assert bytes.fromhex(got[5]) == (row.raw or b"") and got[6] == expected_data
    assert len(table) == len(rows) + 1


def test_bodyfile_lines(image: bytes) -> None:
    lines = export(image, "bodyfile").decode("utf-8").split("\n")
    assert lines == [
        "0|HIVE:\\|0|0|0|0|0|0|1577836800|0|0",
        "0|HIVE:\\Software|0|0|0|0|0|0|1577836800|0|0",
        "0|HIVE:\\Software\\Pipe%7CLine%0AKey|0|0|0|0|0|0|1000|0|0",
        "0|HIVE:\\Software\\Zero|0|0|0|0|0|0|0|0|0",
        "0|HIVE:\\Early|0|0|0|0|0|0|10|0|0",
        "",
    ]


def test_timeline_csv_is_ordered_by_time(image: bytes) -> None:
    assert export(image, "timeline-csv").decode("utf-8").split("\r\n") == [
        "last_written,hive,key",
        ",HIVE,Software\\Zero",
        "1970-01-01T00:00:10.000000+00:00,HIVE,Early",
        "1970-01-01T00:16:40.000000+00:00,HIVE,\"Software\\Pipe|Line\nKey\"",
        "2020-01-01T00:00:00.000000+00:00,HIVE,",
        "2020-01-01T00:00:00.123456+00:00,HIVE,Software",
        "",
    ]


# ---- .reg ---------------------------------------------------------------------------------------------------------

@pytest.mark.parametrize("prefix, key", [("HKEY_LOCAL_MACHINE\\SOFTWARE", ""), ("HKEY_CURRENT_USER", "software")])
def test_reg_file_holds_every_value_exactly(image: bytes, rows: List[tarnu.Record], prefix: str, key: str) -> None:
    keys = parse_reg(export(image, "reg", REG_PROBLEMS, prefix=prefix) if not key else
                     b"".join(tarnu._export(image, "reg", prefix=prefix, key=key)))
    expected: Dict[str, List[RegValue]] = {}
    for row in rows:
        assert row.key is not None
        if key and not row.key.lower().startswith(key) or "\n" in row.key:
            continue
        values = expected.setdefault(prefix + ("\\" + row.key if row.key else ""), [])
        if row.value is not None:
            assert row.type is not None and row.raw is not None
            values.append((row.value, row.type, row.raw))
    assert keys == expected


def test_reg_value_lines(image: bytes) -> None:
    text = export(image, "reg", REG_PROBLEMS, prefix="HKLM").decode("utf-16")
    for line in ['@="default"', '"Text"="café ™ \U0001F600"', '"Quote\\"Back\\\\slash"="C:\\\\Program Files\\\\\\"x\\""',
                 '"Word"=dword:12345678', '"Short"=hex(4):01,02,03', '"Quad"=hex(b):07,00,00,00,00,01,00,00',
                 '"Nothing"=hex(0):', '"Odd"=hex(1c):78,79,7a', '"Empty"=hex(1):',
                 '"Blob"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n'
                 '  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\\r\n']:
        assert "\r\n" + line in text


@pytest.mark.parametrize("name", ["SYSTEM.xz", "special"])
def test_reg_file_of_samples(samples_dir: pathlib.Path, name: str) -> None:
    path = sample_path(name, samples_dir)
    expected: Dict[str, List[Tuple[object, ...]]] = {}
    for row in tarnu.records(path, logs=None):
        values = expected.setdefault("HKLM\\X" + ("\\" + row.key if row.key else ""), [])
        if row.value is not None:
            values.append((row.value, row.type, row.raw))
    assert parse_reg(b"".join(tarnu._export(path, "reg", logs=None, prefix="HKLM\\X"))) == expected
