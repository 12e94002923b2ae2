"""String data whose terminator is followed by bytes that do not decode reads as the text before the terminator,
the same through every way data is read; data that decodes whole keeps its inner U+0000."""

import json
import pathlib
from typing import Callable, List, Union

import pytest

import tarnu
from conftest import TarnuCommand, WriteFile, sample_path
from tarnu import hivebuilder as hb

# Bytes no UTF-16 text can hold: a high surrogate followed by a non-surrogate, then a lone high surrogate.
JUNK = b"\x3d\xd8\x41\x00\x00\xd8"
Data = Union[str, List[str], None]

# (type, stored bytes, what every path reads; None for data that does not decode)
CASES = [
    (hb.REG_SZ, "Eastern Standard Time\0".encode("utf-16-le") + JUNK, "Eastern Standard Time"),
    (hb.REG_EXPAND_SZ, "%SystemRoot%\0".encode("utf-16-le") + JUNK, "%SystemRoot%"),
    (hb.REG_SZ, "Site\0".encode("utf-16-le") + b"\xf0", "Site"),                 # odd: a terminator in the even part
    (hb.REG_SZ, "a\0b".encode("utf-16-le"), "a\0b"),                              # decodes whole: inner U+0000 kept
    (hb.REG_SZ, "\0".encode("utf-16-le") + JUNK, ""),
    (hb.REG_SZ, "Site".encode("utf-16-le") + b"\xf0", None),                      # odd, no terminator
    (hb.REG_SZ, "abc".encode("utf-16-le") + JUNK, None),                          # no terminator
    (hb.REG_SZ, b"\x00\xd8\0\0" + JUNK, None),                                    # the text before it does not decode
    (hb.REG_MULTI_SZ, "one\0two\0\0".encode("utf-16-le") + JUNK, ["one", "two"]),
    (hb.REG_MULTI_SZ, "one\0".encode("utf-16-le") + JUNK, None),                  # no empty string
    (hb.REG_MULTI_SZ, "\0".encode("utf-16-le") + JUNK, []),                       # the first string is the empty one
]


def live_hive(value_type: int, raw: bytes) -> bytes:
    return hb.build_hive(hb.Key("ROOT", values=[hb.Value("v", value_type, raw)]))


def deleted_hive(value_type: int, raw: bytes) -> bytes:
    b = hb.HiveBuilder()
    value = b.value("v", value_type, raw)
    b.key("ROOT", root=True)
    b.delete_value(value)
    return b.build()


def via_data(path: str) -> Data:
    return tarnu.Hive.open(path).root_key().value("v").data().value()  # type: ignore[return-value]


def via_value_records(path: str) -> Data:
    return tarnu.Hive.open(path).root_key().value_records()[0][3]  # type: ignore[return-value]


def via_records(path: str) -> Data:
    return [row for row in tarnu.records(path) if row.value == "v"][0].data  # type: ignore[return-value]


def via_dump(path: str) -> Data:
    rows = [json.loads(line) for line in b"".join(tarnu._export(path, "jsonl")).splitlines()]
    return [row for row in rows if row["value"] == "v"][0]["data"]  # type: ignore[no-any-return]


def via_deleted(path: str) -> Data:
    [value] = tarnu.Hive.open(path).deleted()
    assert isinstance(value, tarnu.DeletedValue)
    data = value.data()
    assert data is not None
    return data.value()  # type: ignore[return-value]


READERS: List[Callable[[str], Data]] = [via_data, via_value_records, via_records, via_dump]


@pytest.mark.parametrize("read", READERS + [via_deleted], ids=lambda read: read.__name__)
@pytest.mark.parametrize("value_type, raw, expected", CASES)
def test_every_path_reads_up_to_the_terminator(write_file: WriteFile, read: Callable[[str], Data], value_type: int,
                                               raw: bytes, expected: Data) -> None:
    path = write_file((deleted_hive if read is via_deleted else live_hive)(value_type, raw))
    if read is via_data:
        assert tarnu.Hive.open(path).root_key().value("v").raw_data() == raw  # the bytes stay as stored
    if expected is None and read in (via_data, via_deleted):
        with pytest.raises(tarnu.HiveError, match="^Invalid UTF-16 string at offset 0x0$"):
            read(path)
    else:
        assert read(path) == expected


@pytest.mark.parametrize("value_type, raw, expected", [case for case in CASES if case[2] is not None])
def test_the_command_prints_it(tarnu_command: TarnuCommand, write_file: WriteFile, value_type: int, raw: bytes,
                               expected: Data) -> None:
    result = tarnu_command("get", write_file(live_hive(value_type, raw)), "", "v")
    lines = expected if isinstance(expected, list) else [expected]
    assert (result.returncode, result.stdout.decode("utf-8").split("\n")[:-1]) == (0, lines)


def test_real_system_sample(samples_dir: pathlib.Path, tarnu_command: TarnuCommand) -> None:
    hive = tarnu.Hive.open(sample_path("SYSTEM.xz", samples_dir))
    for control_set in ("ControlSet001", "ControlSet002"):
        key = hive.key(control_set + "\\Control\\TimeZoneInformation")
        assert key.value("TimeZoneKeyName").data().value() == "Eastern Standard Time"
    site = hive.key("ControlSet001\\services\\Netlogon\\Parameters").value("DynamicSiteName")
    assert (site.data().as_string(), site.data_size() % 2) == ("Default-First-Site-Name", 1)
    result = tarnu_command("get", sample_path("SYSTEM.xz", samples_dir),
                           "ControlSet001\\Control\\TimeZoneInformation", "TimeZoneKeyName")
    assert (result.returncode, result.stdout) == (0, b"Eastern Standard Time\n")
