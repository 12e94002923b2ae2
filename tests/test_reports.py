"""The report framework: finding reports (built in, in a folder), running those that apply to a hive's type,
damaged data as notes that never stop a run, and the report command's rows and exit codes."""

from __future__ import annotations

import json
import pathlib
import textwrap
from typing import List

import pytest

import tarnu
import tarnu.reports
from conftest import OpenImage, TarnuCommand, WriteFile, nested, system_keys, typed_hive
from tarnu import hivebuilder as hb

# A user's folder of reports: a Report subclass, a decorated function that fails after one record, and a table.
USER_REPORTS = '''
from typing import Any, Iterator, NamedTuple

from tarnu.reports import Context, Report, ValuesReport, report


class Marker(NamedTuple):
    key: str
    name: str


class Markers(Report):
    name = "markers"
    title = "Keys named Marker*"
    category = "activity"
    hive_types = ("SYSTEM",)
    keys = ("ControlSet*\\\\mark*",)
    record = Marker

    def records(self, context: Context) -> Iterator[Marker]:
        for path, key in context.keys(self.keys[0]):
            yield Marker(path, key.name())


@report(name="fragile", title="Fails after one record", category="system", hive_types=["SYSTEM"])
def fragile(context: Context) -> Iterator[Any]:
    yield Marker("", "first")
    raise RuntimeError("broken on purpose")


TABLE = [ValuesReport(name="owner", title="Owner", category="users", hive_types=["SOFTWARE"],
                      keys=["Microsoft"], values=["RegisteredOwner"])]
'''


@pytest.fixture
def user_folder(tmp_path: pathlib.Path) -> str:
    folder = tmp_path / "my_reports"
    folder.mkdir()
    (folder / "mine.py").write_text(textwrap.dedent(USER_REPORTS))
    return str(folder)


def system_hive(open_image: OpenImage) -> tarnu.Hive:
    name = hb.Value("ComputerName", hb.REG_SZ, "HOST")
    return typed_hive(open_image, *system_keys(
        nested("Control\\ComputerName\\ComputerName", values=[name]), hb.Key("MARKER1"), hb.Key("marker2"),
        hb.Key("other")))


def test_a_folder_of_reports_and_the_notes_of_a_failing_one(open_image: OpenImage, user_folder: str) -> None:
    names = [r.name for r in tarnu.reports.catalogue([user_folder])]
    assert {"markers", "fragile", "owner", "computer_name"} <= set(names)
    results = list(tarnu.reports.run(system_hive(open_image), ["fragile", "markers", "owner", "computer_name"],
                                     folders=[user_folder]))
    got = [(r.report, r.is_note, getattr(r.record, "name", None)) for r in results]
    # "owner" is for SOFTWARE hives; the failing report keeps its record and notes the failure; the rest run.
    assert got == [("fragile", False, "first"), ("fragile", True, None), ("markers", False, "MARKER1"),
                   ("markers", False, "marker2"), ("computer_name", False, None)]
    assert "broken on purpose" in results[1].record.text
    assert results[-1].record.computer_name == "HOST"


def test_only_reports_of_the_hive_type_run(open_image: OpenImage) -> None:
    assert {r.report for r in tarnu.reports.run(system_hive(open_image))} == {"computer_name", "control_sets"}
    user = typed_hive(open_image, hb.Key("Software"), hb.Key("Environment"))
    assert all("NTUSER.DAT" in r.hive_types for r in tarnu.reports.select()
               if r.name in {x.report for x in tarnu.reports.run(user)})


@pytest.mark.parametrize("bad, message", [
    ("name='Bad Name'", "the name is lower-case"),
    ("category='other'", "category 'other'"),
    ("hive_types=['SYSTEM.DAT']", "hive types"),
])
def test_incomplete_descriptions_are_refused(tmp_path: pathlib.Path, bad: str, message: str) -> None:
    fields = dict(name="'ok'", category="'system'", hive_types="['SYSTEM']")
    field, value = bad.split("=", 1)
    fields[field] = value
    (tmp_path / "r.py").write_text("from tarnu.reports import ValuesReport\nR = ValuesReport(title='t', keys=[], "
                                   "values=[], {})\n".format(", ".join("{}={}".format(*f) for f in fields.items())))
    with pytest.raises(ValueError, match=message):
        tarnu.reports.catalogue([str(tmp_path)])


def test_two_reports_of_one_name_are_refused(tmp_path: pathlib.Path) -> None:
    (tmp_path / "r.py").write_text("from tarnu.reports import ValuesReport\nR = ValuesReport(name='computer_name', "
                                   "title='t', category='system', hive_types=['SYSTEM'], keys=[], values=[])\n")
    with pytest.raises(ValueError, match="two reports are named 'computer_name'"):
        tarnu.reports.catalogue([str(tmp_path)])


def test_key_patterns(open_image: OpenImage) -> None:
    hive = typed_hive(open_image, *system_keys(hb.Key("A1", [hb.Key("x")]), hb.Key("a2", [hb.Key("X")]),
                                               hb.Key("B", [hb.Key("x")])))
    context = tarnu.reports.Context(hive, "test", "SYSTEM")
    assert [p for p, _ in context.keys("ControlSet00?\\a*\\x")] == ["ControlSet001\\A1\\x", "ControlSet001\\a2\\X"]
    assert list(context.keys("Missing\\*")) == [] and context.notes == []


def test_the_command(tarnu_command: TarnuCommand, write_file: WriteFile, user_folder: str) -> None:
    path = write_file(bytes(hb.build_hive(hb.Key("ROOT", system_keys(hb.Key("Marker"))))), "SYSTEM")
    result = tarnu_command("report", path, "--artifact", "markers", "--reports", user_folder)
    assert result.returncode == 0, result.stderr
    assert [json.loads(line) for line in result.stdout.splitlines()] == [
        {"hive": path, "artifact": "markers", "key": "ControlSet001\\Marker", "time": None,
         "fields": {"name": "Marker"}}]
    result = tarnu_command("report", path, "--reports", user_folder, "--format", "csv")
    assert result.returncode == 3 and b"fragile: the report stopped: RuntimeError" in result.stderr
    lines: List[bytes] = result.stdout.splitlines()
    assert lines[0] == b"hive,artifact,key,time,fields"
    assert sorted(line.split(b",")[1] for line in lines[1:]) == [b"control_sets", b"fragile", b"markers"]
    assert tarnu_command("report", path, "--artifact", "nothing").returncode == 2
    # A folder of hives, read in two processes, gives each hive's rows in order.
    folder = pathlib.Path(path).parent
    (folder / "SYSTEM2").write_bytes(pathlib.Path(path).read_bytes())
    both = tarnu_command("report", folder, "--jobs", "2", "--artifact", "control_sets")
    assert [json.loads(line)["hive"] for line in both.stdout.splitlines()] == [path, str(folder / "SYSTEM2")]
    listing = tarnu_command("report", "--list", "--reports", user_folder).stdout.decode()
    assert [line.split()[:2] for line in listing.splitlines() if line.startswith(("markers ", "computer_name "))] == [
        ["computer_name", "system"], ["markers", "activity"]]


@pytest.mark.parametrize("format, line", [
    ("bodyfile", "0|{hive}:\\ControlSet001\\Control\\Windows [last_shutdown shutdown]|0|0|0|0|0|0|1499843908|0|0"),
    ("csv", "2017-07-12T07:18:28.000000+00:00,{hive},ControlSet001\\Control\\Windows [last_shutdown shutdown]"),
])
def test_timeline_with_artifacts(tarnu_command: TarnuCommand, write_file: WriteFile, format: str, line: str) -> None:
    shutdown = hb.Value("ShutdownTime", hb.REG_BINARY, hb.filetime(1499843908).to_bytes(8, "little"))
    path = write_file(bytes(hb.build_hive(hb.Key("ROOT", system_keys(nested("Control\\Windows", values=[shutdown]))))))
    plain = tarnu_command("timeline", "--format", format, path).stdout.decode().splitlines()
    result = tarnu_command("timeline", "--artifacts", "--format", format, path)
    assert result.returncode == 0, result.stderr
    # The key times as before, then the reports' events.
    assert result.stdout.decode().splitlines() == plain + [line.format(hive=path)]
