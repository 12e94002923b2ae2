"""One consistent API: the unnamed value apart from one named "(default)", value types that compare with their ids
and names, the base block's time as the keys give theirs, and opening a hive as the command does."""

import datetime
import pathlib
import warnings
from typing import Dict, List, Optional

import pytest

import tarnu
from conftest import WriteFile
from tarnu import hivebuilder as hb


# ---- the unnamed value ----------------------------------------------------------------------------------------

@pytest.mark.parametrize("order, by_name", [(["", "(default)"], "unnamed"), (["(default)", ""], "named")])
def test_unnamed_value_apart_from_a_literal_default(order: List[str], by_name: str) -> None:
    values = [hb.Value(name, hb.REG_SZ, "unnamed" if name == "" else "named") for name in order]
    key = tarnu.Hive.from_bytes(hb.build_hive(hb.Key("R", values=values))).root_key()
    assert [(v.name(), v.is_default()) for v in key.values()] == [("(default)", name == "") for name in order]
    assert key.value("").data().value() == key.default_value().data().value() == "unnamed"
    assert key.value("(default)").data().value() == by_name  # the first of the two, as always


def test_a_key_without_an_unnamed_value() -> None:
    key = tarnu.Hive.from_bytes(hb.build_hive(hb.Key("R", values=[hb.Value("(default)", hb.REG_SZ, "x")]))).root_key()
    for call in (key.default_value, lambda: key.value("")):
        with pytest.raises(tarnu.ValueNotFoundError, match="^Not found: Value ''$"):
            call()


def test_deleted_unnamed_value() -> None:
    b = hb.HiveBuilder()
    offsets = [b.value(name, hb.REG_DWORD, 1) for name in ("", "(default)")]
    b.key("R", root=True)
    for offset in offsets:
        b.delete_value(offset)
    found = tarnu.Hive.from_bytes(b.build()).deleted()
    assert [(v.name(), v.is_default()) for v in found if isinstance(v, tarnu.DeletedValue)] == [
        ("(default)", True), ("(default)", False)]


# ---- value types ----------------------------------------------------------------------------------------------

@pytest.mark.parametrize("type_id", [0, 1, 4, 7, 11, 0x1c])
def test_value_type_compares_with_its_id_and_name(type_id: int) -> None:
    key = tarnu.Hive.from_bytes(hb.build_hive(hb.Key("R", values=[hb.Value("v", type_id, b"\1\0\0\0")]))).root_key()
    kind = key.value("v").value_type()
    name = kind.type_name()
    assert kind == type_id and kind == name and not kind != type_id and kind != type_id + 1 and kind != "REG_X"
    found: Dict[object, str] = {type_id: "found"}
    assert (int(kind), hash(kind), found[kind]) == (type_id, hash(type_id), "found")
    assert kind == key.values()[0].value_type() and kind != 1.5 and kind != None  # noqa: E711
    assert (str(kind), repr(kind)) == (name, "ValueType({})".format(name))
    if type_id <= 11:
        member = tarnu.RegType(type_id)
        assert kind == member and member == kind and getattr(tarnu, name) is member and member.name == name


# ---- the base block's time and names --------------------------------------------------------------------------

@pytest.mark.parametrize("filetime, expected", [
    (hb.filetime(1333540026) + 6_875_000, datetime.datetime(2012, 4, 4, 11, 47, 6, 687500, datetime.timezone.utc)),
    (0, None),
])
def test_base_block_time_as_the_keys_give_it(filetime: int, expected: Optional[datetime.datetime]) -> None:
    hive = tarnu.Hive.from_bytes(hb.build_hive(hb.Key("R", timestamp=filetime), last_written=filetime))
    base, root = hive.base_block(), hive.root_key()
    assert (base.last_written_datetime, base.last_written_filetime, base.last_written) == (
        root.last_written(), root.last_written_filetime(), filetime)
    assert base.last_written_datetime == expected


def test_base_block_time_past_the_year_9999() -> None:
    base = tarnu.Hive.from_bytes(hb.build_hive(hb.Key("R"), last_written=2**63)).base_block()
    assert base.last_written_filetime == 2**63
    with pytest.raises(ValueError, match="^FILETIME 9223372036854775808 lies past 9999-12-31"):
        base.last_written_datetime


@pytest.mark.parametrize("old, new", [("primary_sequence_number", "primary_sequence"),
                                      ("secondary_sequence_number", "secondary_sequence")])
def test_old_sequence_names_are_deprecated_aliases(old: str, new: str) -> None:
    base = tarnu.Hive.from_bytes(hb.build_hive(hb.Key("R"), primary_sequence=7, secondary_sequence=6)).base_block()
    with pytest.warns(DeprecationWarning, match="use " + new):
        assert getattr(base, old) == getattr(base, new)
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        getattr(base, new)


# ---- opening as the command does ------------------------------------------------------------------------------

@pytest.mark.parametrize("names, slots", [
    (["HIVE.LOG1", "HIVE.LOG2"], ["HIVE.LOG1", "HIVE.LOG2"]),
    (["hive.log"], ["hive.log"]),                                 # the single log of older Windows, any case
    (["HIVE.LOG", "HIVE.Log1"], ["HIVE.Log1"]),                   # a .LOG beside a .LOG1 is left over
    (["HIVE.LOG", "HIVE.LOG2"], ["HIVE.LOG", "HIVE.LOG2"]),
    (["HIVE.LOG3", "OTHER.LOG1"], []),
])
def test_find_logs(tmp_path: pathlib.Path, write_file: WriteFile, names: List[str], slots: List[str]) -> None:
    hive = write_file(hb.build_hive(hb.Key("R")), "HIVE")
    for name in names:
        write_file(b"", name)
    assert tarnu.find_logs(hive) == [str(tmp_path / name) for name in slots]


@pytest.mark.parametrize("log_name, dirty, keys", [
    ("HIVE.LOG1", True, ["", "New"]), ("Hive.log", True, ["", "New"]), (None, True, [""]), (None, False, [""]),
])
def test_open_recovered(write_file: WriteFile, log_name: Optional[str], dirty: bool, keys: List[str]) -> None:
    primary, log = hb.dirty_hive(hb.Key("R"), hb.Key("R", [hb.Key("New")]))
    path = write_file(primary if dirty else hb.build_hive(hb.Key("R")), "HIVE")
    if log_name is not None:
        write_file(log, log_name)
    hive = tarnu.Hive.open_recovered(path)
    report = hive.replay_report()
    assert report is not None and [p for p, _ in hive.walk()] == keys
    assert (report.primary_dirty, report.recovered, [log.path for log in report.logs]) == (
        dirty, log_name is not None, tarnu.find_logs(path))
    assert [p for p, _ in tarnu.Hive.open(path).walk()] == [""]  # open stays exact
