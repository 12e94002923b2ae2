"""Every kind of value data, decoded the same by every path that shows it: ValueData.value(), value_records(),
the rows of tarnu.records() and the JSON Lines and CSV exports."""

import csv
import io
import json
from typing import Dict, List, Tuple, Union

import pytest

import tarnu
from tarnu import hivebuilder as hb

Data = Union[str, int, List[str], bytes, None]
FAILS = "does not decode"


def utf16(text: str) -> bytes:
    return text.encode("utf-16-le")


# name, type, stored data, what value() gives (FAILS where data() raises).
KINDS: List[Tuple[str, int, bytes, Union[Data, str]]] = [
    ("sz", hb.REG_SZ, utf16("C:\\x\0\0"), "C:\\x"),                       # trailing U+0000 dropped
    ("sz-unterminated", hb.REG_SZ, utf16("ab"), "ab"),
    ("sz-utf8-mark", hb.REG_SZ, b"\xef\xbb\xbfcaf\xc3\xa9", "café"),
    ("sz-le-mark", hb.REG_SZ, b"\xff\xfe" + utf16("\ufeffhi"), "\ufeffhi"),  # only the first mark is taken
    ("sz-be-mark", hb.REG_SZ, b"\xfe\xff" + "h\u00e9\0".encode("utf-16-be"), "h\u00e9"),
    ("sz-pair", hb.REG_SZ, utf16("\U0001F600"), "\U0001F600"),
    ("sz-lone-surrogate", hb.REG_SZ, b"a\0\x00\xd8", FAILS),
    ("sz-odd", hb.REG_SZ, b"\xef\xbb\xbfab", FAILS),
    ("sz-bad-utf8", hb.REG_SZ, b"\xef\xbb\xbf\xc3\x28\0", FAILS),
    ("expand", hb.REG_EXPAND_SZ, utf16("%Root%\0"), "%Root%"),
    ("multi", hb.REG_MULTI_SZ, utf16("\0a\0\0b c\0\0"), ["a", "b c"]),     # empty strings left out
    ("multi-be", hb.REG_MULTI_SZ, b"\xfe\xff" + "x\0\u00ff".encode("utf-16-be"), ["x", "\u00ff"]),
    ("multi-empty", hb.REG_MULTI_SZ, utf16("\0\0"), []),
    ("dword", hb.REG_DWORD, b"\x01\x02\x03\x84\x05", 0x84030201),
    ("dword-short", hb.REG_DWORD, b"\x01\x02\x03", FAILS),
    ("dword-be", hb.REG_DWORD_BIG_ENDIAN, b"\x01\x02\x03\x84", 0x01020384),
    ("qword", hb.REG_QWORD, bytes(range(1, 9)), 0x0807060504030201),
    ("qword-short", hb.REG_QWORD, bytes(range(1, 8)), FAILS),
    ("binary", hb.REG_BINARY, b"\x00\xff\x00", b"\x00\xff\x00"),
    ("link", hb.REG_LINK, utf16("\\x"), utf16("\\x")),
    ("resources", hb.REG_RESOURCE_LIST, b"\x01", b"\x01"),
    ("unknown", 0x1C, b"xyz", b"xyz"),
    ("none", hb.REG_NONE, b"\x01\x02", None),
    ("empty-sz", hb.REG_SZ, b"", None),
    ("empty-dword", hb.REG_DWORD, b"", None),
]


@pytest.fixture(scope="module")
def image() -> bytes:
    data: bytes = hb.build_hive(hb.Key("ROOT", values=[hb.Value(name, kind, raw) for name, kind, raw, _ in KINDS]))
    return data


@pytest.fixture(scope="module")
def shown(image: bytes) -> Dict[str, Dict[str, object]]:
    """For each value name, what each path shows as its data."""
    key = tarnu.Hive.from_bytes(image).root_key()
    out: Dict[str, Dict[str, object]] = {name: {} for name, _, _, _ in KINDS}
    for name, _, _, data in key.value_records():
        out[name]["value_records"] = data
    for row in tarnu.records(image):
        out[str(row.value)]["records"] = row.data
    for line in b"".join(tarnu._export(image, "jsonl")).decode("utf-8").splitlines():
        row = json.loads(line)
        out[row["value"]]["jsonl"] = row["data"]
    for cells in csv.DictReader(io.StringIO(b"".join(tarnu._export(image, "csv")).decode("utf-8"), newline="")):
        out[cells["value"]]["csv"] = cells["data"]
    return out


@pytest.mark.parametrize("name, kind, raw, expected", KINDS, ids=[k[0] for k in KINDS])
def test_every_path_shows_the_same_data(image: bytes, shown: Dict[str, Dict[str, object]], name: str, kind: int,
                                        raw: bytes, expected: Union[Data, str]) -> None:
    value = tarnu.Hive.from_bytes(image).root_key().value(name)
    assert value.raw_data() == raw
    if expected == FAILS:
        with pytest.raises(ValueError):
            value.data()
        natural: Data = None
    else:
        natural = value.data().value()
        assert natural == expected and type(natural) is type(expected)
    # value_records() gives only what an accessor gives; the exports write text, lists and numbers only.
    has_accessor = not isinstance(natural, bytes) or kind == hb.REG_BINARY
    written = natural if isinstance(natural, (str, int, list)) else None
    spelled = json.dumps(written, ensure_ascii=False, separators=(",", ":")) if isinstance(written, list) else \
        "" if written is None else str(written)
    assert shown[name] == {"value_records": natural if has_accessor else None, "records": natural,
                           "jsonl": written, "csv": spelled}
