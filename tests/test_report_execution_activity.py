"""The execution and user-activity reports on builder-made hives holding each artifact in each layout, damaged
artifacts as notes, the real samples where they hold the data, and the reports' text through search --artifacts."""

from __future__ import annotations

import codecs
import datetime
import pathlib
import struct
from typing import Any, Dict, List

import pytest

import tarnu
from conftest import (WHEN, WHEN_TIME, OpenImage, TarnuCommand, WriteFile, check_no_report_stops, check_notes,
                      check_report, ft, nested, ntuser, report_results, sample_path, software, system_keys,
                      typed_hive, utf16)
from tarnu import databuilder as db
from tarnu import hivebuilder as hb

V = hb.Value
BIN, SZ, DWORD, QWORD = hb.REG_BINARY, hb.REG_SZ, hb.REG_DWORD, hb.REG_QWORD
UTC = datetime.timezone.utc
EXPLORER = r"Software\Microsoft\Windows\CurrentVersion\Explorer"
MY_COMPUTER = "{20D04FE0-3AEA-1069-A2D8-08002B30309D}"
WELCOME = "{0139D44E-6AFE-49F2-8690-3DAFCAE6FFB8}\\Accessories\\Welcome Center.lnk"
WELCOME_PATH = "%ProgramData%\\Microsoft\\Windows\\Start Menu\\Programs\\Accessories\\Welcome Center.lnk"
SHA1 = "2680a8fb32a93d4bf093b5222393103b74e75196"
LATER = hb.filetime(WHEN + 3600)


def rot13(text: str) -> str:
    return codecs.encode(text, "rot13")


def order(*numbers: int) -> V:
    return V("MRUListEx", BIN, struct.pack("<{}I".format(len(numbers)), *numbers) + b"\xff\xff\xff\xff")


def named_item(name: str, *items: bytes) -> bytes:
    """UTF-16 text and its NUL, then a shell item list: RecentDocs and LastVisitedPidlMRU data."""
    return utf16(name + "\0") + db.item_list(items)


def folder(short: str, long: str) -> bytes:
    """A directory's file entry item whose 0xbeef0004 block holds a creation time."""
    body = b"\0" + struct.pack("<IIH", 0, db.fat(2012, 4, 3, 22, 6, 58), 0x10) + short.encode("ascii") + b"\0"
    return db.item(0x31, body + db.beef0004(long, created=db.fat(2011, 1, 2)) + struct.pack("<H", 3 + len(body)))


def shim_xp(path: str) -> bytes:
    entry = utf16(path).ljust(528, b"\0") + struct.pack("<QQQ", db.filetime(WHEN), 4096, LATER)
    return struct.pack("<III", 0xDEADBEEF, 1, 1).ljust(400, b"\0") + entry


def shim_vista(path: str, flags: int) -> bytes:
    text = utf16(path)
    return struct.pack("<IIHHIQII", 0xBADC0FFE, 1, len(text), len(text) + 2, 32, db.filetime(WHEN), flags, 0) + text


def bag_mru(shell: str = r"Software\Microsoft\Windows\Shell", item: bytes = db.root_folder(MY_COMPUTER)) -> hb.Key:
    """My Computer, below it D:\\ (the most recent) and C:\\ with C:\\Users below it; the view settings of C:\\."""
    c_drive = hb.Key("0", [hb.Key("0", values=[V("NodeSlot", DWORD, 3)])],
                     [order(0), V("0", BIN, db.item_list([folder("USERS", "Users")])), V("NodeSlot", DWORD, 2)],
                     timestamp=hb.filetime(WHEN + 7200))
    computer = hb.Key("0", [c_drive], [order(1, 0), V("0", BIN, db.item_list([db.volume("C:\\")])),
                                       V("1", BIN, db.item_list([db.volume("D:\\")]))], timestamp=LATER)
    root = hb.Key("BagMRU", [computer], [order(0), V("0", BIN, db.item_list([item])), V("NodeSlots", BIN, b"\2")],
                  timestamp=hb.filetime(WHEN))
    return nested(shell, root, hb.Key("Bags", [hb.Key("2", timestamp=LATER)]))


def bam_data(packaged: int) -> bytes:
    return ft() + bytes(8) + struct.pack("<II", packaged, 2)


def usrclass(*keys: hb.Key) -> List[hb.Key]:
    return [hb.Key("CLSID"), hb.Key(".txt"), *keys]


def amcache(*keys: hb.Key) -> List[hb.Key]:
    return [hb.Key("Root", list(keys))]


BAG_PATHS = ["My Computer", "My Computer\\D:\\", "My Computer\\C:\\", "My Computer\\C:\\Users"]
BAGS = [{"path": path, "rank": rank, "list_changed": changed} for path, rank, changed in zip(
    BAG_PATHS, [0, 0, 1, 0], [WHEN_TIME + datetime.timedelta(hours=h) if h is not None else None
                              for h in (0, 1, None, 2)])]
BAGS[2].update(node_slot=2, view_changed=WHEN_TIME + datetime.timedelta(hours=1))
BAGS[3].update(modified=datetime.datetime(2012, 4, 3, 22, 6, 58, tzinfo=UTC),
               created=datetime.datetime(2011, 1, 2, tzinfo=UTC), node_slot=3, view_changed=None)
URL = "http://example.com/"
LEGACY_FILE = hb.Key("100001605a", values=[
    V("15", SZ, "c:\\tools\\x.exe"), V("101", SZ, "0000" + SHA1), V("0", SZ, "Tool"), V("6", DWORD, 34816),
    V("f", DWORD, WHEN), V("12", QWORD, hb.filetime(WHEN))])
INVENTORY_FILE = hb.Key("x.exe|a1b2", values=[
    V("LowerCaseLongPath", SZ, "c:\\tools\\x.exe"), V("FileId", SZ, "0000" + SHA1), V("Size", SZ, "0x8800"),
    V("LinkDate", SZ, "07/12/2017 07:18:28")])

# (root children, report, the fields of every record of the report, in order)
CASES: List[Any] = [
    (ntuser(nested(EXPLORER + r"\UserAssist\{F4E57C4B-2036-45F0-A9AB-443BCFE33D9F}", hb.Key("Count", values=[
        V(rot13("UEME_CTLSESSION"), BIN, bytes(1612)),
        V(rot13(WELCOME), BIN, db.userassist5(14, 0, 14, db.filetime(WHEN))),
        V(rot13("UEME_CTLCUACount:ctor"), BIN, db.userassist5(0, 0, 0, 0))]), values=[V("Version", DWORD, 5)])),
     "userassist", [{"name": WELCOME, "run_count": 14, "last_run": WHEN_TIME, "encoded": True, "path": WELCOME_PATH},
                    {"name": "UEME_CTLCUACount:ctor", "run_count": 0, "last_run": None}]),
    (ntuser(nested(EXPLORER + r"\UserAssist\{75048700-EF1F-11D0-9888-006097DEACF9}", hb.Key("Count", values=[
        V(rot13("UEME_RUNPATH:C:\\x.exe"), BIN, struct.pack("<II", 1, 7) + ft())]), values=[V("Version", DWORD, 3)])),
     "userassist", [{"version": 3, "path": "C:\\x.exe", "run_count": 2, "run_count_raw": 7, "last_run": WHEN_TIME}]),
    ([*system_keys(nested(r"Control\Session Manager\AppCompatCache", values=[V("AppCompatCache", BIN, db.shim_cache_7(
        [("\\??\\C:\\a.exe", db.filetime(WHEN), 2), ("\\??\\C:\\b.exe", 0, 0)], wide=True))])),
      hb.Key("ControlSet002", [nested(r"Control\Session Manager\AppCompatibility", values=[
          V("AppCompatCache", BIN, shim_xp("C:\\xp.exe"))])])],
     "shim_cache", [{"control_set": "ControlSet001", "layout": "7 64-bit", "position": 0, "path": "\\??\\C:\\a.exe",
                     "executed": True, "modified": WHEN_TIME},
                    {"position": 1, "executed": False, "modified": None},
                    {"control_set": "ControlSet002", "layout": "XP", "path": "C:\\xp.exe", "file_size": 4096,
                     "last_update": WHEN_TIME + datetime.timedelta(hours=1)}]),
    *[(system_keys(nested(r"Control\Session Manager\AppCompatCache", values=[V("AppCompatCache", BIN, data)])),
       "shim_cache", [{"layout": layout, "path": "C:\\a.exe", "modified": WHEN_TIME, "executed": executed}])
      for layout, data, executed in [
          *[(layout, db.shim_cache_chained([("C:\\a.exe", db.filetime(WHEN))], layout), None)
            for layout in ("8.0", "8.1", "10")],
          ("Vista 32-bit", shim_vista("C:\\a.exe", 2), True)]],
    (amcache(hb.Key("File", [hb.Key("ccbe4c57-0000-0000-0000-100000000000", [LEGACY_FILE])]),
             hb.Key("InventoryApplicationFile", [INVENTORY_FILE,
                                                 hb.Key("y", values=[V("FileId", SZ, "0000abc")])])),
     "amcache_files", [{"layout": "legacy", "sha1": SHA1, "product": "Tool", "size": 34816, "link_time": WHEN_TIME,
                        "created": WHEN_TIME, "name": "x.exe"},
                       {"layout": "inventory", "sha1": SHA1, "size": 0x8800, "link_time": WHEN_TIME},
                       {"sha1": None, "file_id": "0000abc"}]),
    (amcache(hb.Key("Programs", [hb.Key("p1", values=[V("0", SZ, "Tool"), V("a", QWORD, WHEN),
                                                      V("d", hb.REG_MULTI_SZ, ["c:\\a", "c:\\b"])])]),
             hb.Key("InventoryApplication", [hb.Key("p2", values=[V("Name", SZ, "App"),
                                                                  V("InstallDate", SZ, "07/12/2017 07:18:28")])])),
     "amcache_programs", [{"program_id": "p1", "name": "Tool", "installed": WHEN_TIME, "location": "c:\\a; c:\\b"},
                          {"name": "App", "installed": WHEN_TIME, "installed_raw": "07/12/2017 07:18:28"}]),
    (system_keys(nested(r"Services\bam", nested(r"State\UserSettings\S-1-5-18", values=[
        V("Version", DWORD, 1), V("\\Device\\HarddiskVolume2\\x.exe", BIN, bam_data(0))]),
        nested(r"UserSettings\S-1-5-21-1-2-3-1001", values=[V("App_1", BIN, bam_data(1))]))),
     "bam", [{"program": "App_1", "sid": "S-1-5-21-1-2-3-1001", "user": None, "packaged": True},
             {"service": "bam", "sid": "S-1-5-18", "user": "SYSTEM", "last_run": WHEN_TIME, "packaged": False}]),
    (ntuser(nested(r"Software\Microsoft\Windows\ShellNoRoam\MUICache", values=[
        V("LangID", BIN, b"\x09\x04"), V("@shell32.dll,-1", SZ, "x"), V("C:\\x.exe", SZ, "X tool")])),
     "muicache", [{"program": "C:\\x.exe", "description": "X tool", "company": None}]),
    (usrclass(nested(r"Local Settings\Software\Microsoft\Windows\Shell\MuiCache", values=[
        V("C:\\y.exe.FriendlyAppName", SZ, "Y"), V("C:\\y.exe.ApplicationCompany", SZ, "Y Inc.")])),
     "muicache", [{"program": "C:\\y.exe", "description": "Y", "company": "Y Inc."}]),
    (ntuser(nested(EXPLORER + r"\RunMRU", values=[V("MRUList", SZ, "ba"), V("a", SZ, "cmd\\1"),
                                                  V("b", SZ, "control\\1"), V("c", SZ, "calc\\1")])),
     "run_mru", [{"rank": 0, "command": "control"}, {"rank": 1, "command": "cmd"}, {"rank": None, "command": "calc"}]),
    (ntuser(nested(r"Software\Microsoft\Windows NT\CurrentVersion\AppCompatFlags", nested(
        r"Compatibility Assistant\Persisted", values=[V("C:\\x.exe", DWORD, 1)]), hb.Key("Layers", values=[
            V("C:\\y.exe", SZ, "~ RUNASADMIN")]))),
     "appcompat_flags", [{"kind": "persisted", "program": "C:\\x.exe"},
                         {"kind": "layers", "program": "C:\\y.exe", "layers": "~ RUNASADMIN"}]),
    (software(nested(r"Microsoft\Windows NT\CurrentVersion\AppCompatFlags", nested(r"InstalledSDB\{G}", values=[
        V("DatabasePath", SZ, "C:\\x.sdb"), V("DatabaseInstallTimeStamp", QWORD, hb.filetime(WHEN))]),
        nested(r"Custom\x.exe", values=[V("{G}.sdb", QWORD, hb.filetime(WHEN))]))),
     "appcompat_flags", [{"kind": "installed sdb", "database": "C:\\x.sdb", "installed": WHEN_TIME},
                         {"kind": "custom", "program": "x.exe", "database": "{G}.sdb", "installed": WHEN_TIME}]),
    (ntuser(bag_mru()), "shell_bags", BAGS),
    (ntuser(bag_mru(r"Software\Microsoft\Windows\ShellNoRoam")), "shell_bags", BAGS),
    (usrclass(bag_mru(r"Local Settings\Software\Microsoft\Windows\Shell")), "shell_bags", BAGS),
    (ntuser(nested(EXPLORER + r"\RecentDocs", hb.Key(".txt", values=[
        order(1), V("1", BIN, named_item("b.txt", db.file_entry("B~1.LNK", long_name="b.lnk", directory=False))),
        V("0", BIN, named_item("a.txt"))]), values=[order(0), V("0", BIN, named_item("b.txt"))])),
     "recent_docs", [{"extension": None, "rank": 0, "name": "b.txt", "long_name": None},
                     {"extension": ".txt", "rank": 0, "name": "b.txt", "long_name": "b.lnk"},
                     {"extension": ".txt", "rank": None, "value": "0", "name": "a.txt"}]),
    (ntuser(nested(EXPLORER + r"\ComDlg32", nested(r"OpenSaveMRU\txt", values=[
        V("MRUList", SZ, "a"), V("a", SZ, "C:\\x.txt")]), nested(r"OpenSavePidlMRU\*", values=[order(0), V(
            "0", BIN, db.item_list([db.root_folder(MY_COMPUTER), db.volume("C:\\"), db.file_entry("x.txt")]))]))),
     "open_save_mru", [{"extension": "txt", "rank": 0, "path": "C:\\x.txt"},
                       {"extension": "*", "rank": 0, "path": "My Computer\\C:\\x.txt"}]),
    (ntuser(nested(EXPLORER + r"\ComDlg32", hb.Key("LastVisitedMRU", values=[
        V("MRUList", SZ, "a"), V("a", BIN, utf16("notepad.exe\0C:\\dir\0"))]), hb.Key("LastVisitedPidlMRU", values=[
            order(0), V("0", BIN, named_item("mspaint.exe", db.root_folder(MY_COMPUTER), db.volume("D:\\")))]))),
     "last_visited_mru", [{"program": "notepad.exe", "path": "C:\\dir", "rank": 0},
                          {"program": "mspaint.exe", "path": "My Computer\\D:\\", "rank": 0}]),
    (ntuser(nested(EXPLORER + r"\TypedPaths", values=[V("url2", SZ, "\\\\srv\\s"), V("url1", SZ, "C:\\a")])),
     "typed_paths", [{"rank": 0, "path": "C:\\a"}, {"rank": 1, "path": "\\\\srv\\s"}]),
    (ntuser(nested(r"Software\Microsoft\Internet Explorer", hb.Key("TypedURLs", values=[V("url1", SZ, URL)]),
                   hb.Key("TypedURLsTime", values=[V("url1", BIN, ft())]))),
     "typed_urls", [{"rank": 0, "url": URL, "typed": WHEN_TIME}]),
    (ntuser(nested(EXPLORER + r"\WordWheelQuery", values=[order(1, 0), V("0", BIN, utf16("older\0")),
                                                          V("1", BIN, utf16("newest\0"))])),
     "word_wheel_query", [{"rank": 0, "term": "newest"}, {"rank": 1, "term": "older"}]),
    (ntuser(nested(r"Software\Microsoft\Terminal Server Client", hb.Key("Default", values=[
        V("MRU1", SZ, "srv2"), V("MRU0", SZ, "SRV1")]), hb.Key("Servers", [
            hb.Key("srv1", values=[V("UsernameHint", SZ, "DOM\\u")], timestamp=LATER), hb.Key("srv3")]))),
     "terminal_server_client", [
         {"rank": 0, "server": "SRV1", "username_hint": "DOM\\u", "last_used": WHEN_TIME + datetime.timedelta(hours=1)},
         {"rank": 1, "server": "srv2", "last_used": None}, {"rank": None, "server": "srv3"}]),
    (ntuser(nested(EXPLORER + r"\Map Network Drive MRU", values=[V("MRUList", SZ, "a"), V("a", SZ, "\\\\srv\\x")]),
            hb.Key("Network", [hb.Key("z", values=[V("RemotePath", SZ, "\\\\srv\\y"), V("UserName", DWORD, 0)])])),
     "mapped_drives", [{"source": "mru", "rank": 0, "remote_path": "\\\\srv\\x"},
                       {"source": "network", "drive": "z", "remote_path": "\\\\srv\\y", "user_name": None}]),
]


@pytest.mark.parametrize("children, name, expected", CASES, ids=[case[1] for case in CASES])
def test_report(open_image: OpenImage, children: List[hb.Key], name: str, expected: List[Dict[str, Any]]) -> None:
    check_report(typed_hive(open_image, *children), name, expected)


SHIM_KEY = r"Control\Session Manager\AppCompatCache"
DAMAGED: List[Any] = [
    (ntuser(nested(EXPLORER + r"\UserAssist\{G}\Count", values=[V(rot13("C:\\x.exe"), BIN, bytes(17))])),
     "userassist", 1, "a version 5 entry (72 bytes)"),
    (system_keys(nested(SHIM_KEY, values=[V("AppCompatCache", BIN, b"\1\2\3\4" + bytes(60))])), "shim_cache", 0,
     "a known AppCompatCache layout"),
    (system_keys(nested(SHIM_KEY, values=[V("AppCompatCache", BIN, db.shim_cache_7([("C:\\a", 0, 0)], count=900))])),
     "shim_cache", 1, "room for 900 entries"),
    (system_keys(nested(SHIM_KEY, values=[V("AppCompatCache", BIN, db.shim_cache_chained(
        [("C:\\a", 0), ("C:\\b", 0)], "10")[:-9])])), "shim_cache", 1, "an entry of at most 17 bytes"),
    (system_keys(nested(r"Services\dam\UserSettings\S-1-5-18", values=[V("x.exe", BIN, b"\1\2\3\4")])), "bam", 1,
     "8 bytes for a FILETIME"),
    (ntuser(nested(EXPLORER + r"\WordWheelQuery", values=[order(9, 0), V("0", BIN, utf16("a\0"))])),
     "word_wheel_query", 1, "a value named 9"),
    (ntuser(nested(EXPLORER + r"\WordWheelQuery", values=[V("MRUListEx", BIN, b"\0\0\0\0\1"),
                                                          V("0", BIN, utf16("a"))])),
     "word_wheel_query", 1, "end marker"),
    (ntuser(nested(r"Software\Microsoft\Windows\Shell\BagMRU", values=[
        order(0, 1), V("0", BIN, db.item(0x1F, bytes(17), size=200)), V("1", BIN, db.item_list([db.volume("C:\\")]))])),
     "shell_bags", 2, "an item size from 3 to 20"),
    (ntuser(nested(r"Software\Microsoft\Internet Explorer", hb.Key("TypedURLs", values=[V("url1", SZ, URL)]),
                   hb.Key("TypedURLsTime", values=[V("url1", BIN, b"\1\2\3")]))), "typed_urls", 1,
     "url1 holds 3 bytes"),
]


@pytest.mark.parametrize("children, name, count, note", DAMAGED, ids=[case[1] for case in DAMAGED])
def test_damaged_artifacts_become_notes(open_image: OpenImage, children: List[hb.Key], name: str, count: int,
                                        note: str) -> None:
    check_notes(typed_hive(open_image, *children), name, count, note)


@pytest.mark.parametrize("seed", range(3))
def test_no_report_stops_on_data_of_the_wrong_shape(open_image: OpenImage, seed: int) -> None:
    check_no_report_stops(open_image, CASES, seed)


def test_shell_bags_stop_at_their_depth_bound(open_image: OpenImage) -> None:
    from tarnu.reports.artifacts.shell_bags import MAX_DEPTH

    key = hb.Key("0", values=[order(0), V("0", BIN, db.item_list([db.file_entry("D")]))])
    for _ in range(MAX_DEPTH + 5):
        key = hb.Key("0", [key], [order(0), V("0", BIN, db.item_list([db.file_entry("D")]))])
    records, notes = report_results(typed_hive(open_image, *ntuser(nested(
        r"Software\Microsoft\Windows\Shell\BagMRU", key, values=[order(0), V("0", BIN, db.item_list([
            db.volume("C:\\")]))]))), "shell_bags")
    assert len(records) == MAX_DEPTH and records[-1].path.count("\\") == MAX_DEPTH - 1
    assert [n.text for n in notes] == ["more than {} folders deep; the folders below are not read".format(MAX_DEPTH)]


def test_the_user_sample(samples_dir: pathlib.Path) -> None:
    hive = tarnu.Hive.open(sample_path("NTUSER.DAT.xz", samples_dir))
    counts = [len(key.subkey("Count").values()) for key in hive.key(EXPLORER + r"\UserAssist").subkeys()]
    assert counts == [19, 14]  # 31 entries and two UEME_CTLSESSION values, of the two GUID keys
    entries, notes = report_results(hive, "userassist")
    assert len(entries) == 31 and notes == []
    welcome = next(e for e in entries if e.name == WELCOME)
    assert (welcome.path, welcome.run_count, welcome.last_run.replace(microsecond=0)) == (
        WELCOME_PATH, 14, datetime.datetime(2012, 4, 3, 22, 6, 58, tzinfo=UTC))
    recent = report_results(hive, "recent_docs")[0]
    assert [r.name for r in recent if r.extension == ".xlsx"] == ["Undercover-Agents-List-For-United-States.xlsx",
                                                                  "CC-Backstopped-Accounts.xlsx"]
    assert all(r.long_name and r.long_name.endswith(".lnk") for r in recent) and len(recent) == 22
    assert [r.term for r in report_results(hive, "word_wheel_query")[0]][:2] == ["alloy", "test-plan"]
    drives = report_results(hive, "mapped_drives")[0]
    assert [(r.drive, r.remote_path) for r in drives] == [("p", "\\\\controller\\public")]


def test_the_system_and_amcache_samples(samples_dir: pathlib.Path) -> None:
    cache = report_results(tarnu.Hive.open(sample_path("SYSTEM.xz", samples_dir)), "shim_cache")[0]
    for control_set in ("ControlSet001", "ControlSet002"):
        entries = [e for e in cache if e.control_set == control_set]
        assert [e.position for e in entries] == list(range(330))
        assert {e.layout for e in entries} == {"7 32-bit"} and sum(bool(e.executed) for e in entries) == 238
    files = report_results(tarnu.Hive.open(sample_path("amcache.hve.xz", samples_dir)), "amcache_files")[0]
    inventory = [f for f in files if f.layout == "inventory"]
    assert len(inventory) == 247 and all(f.sha1 and len(f.sha1) == 40 for f in inventory)
    assert next(f.sha1 for f in inventory if f.path == "c:\\program files\\vmware\\vmware tools\\rvmsetup.exe") == SHA1


def test_search_and_timeline_read_what_the_reports_decode(tarnu_command: TarnuCommand, write_file: WriteFile) -> None:
    count = hb.Key("Count", values=[V(rot13(WELCOME), BIN, db.userassist5(14, 0, 14, db.filetime(WHEN)))])
    path = write_file(bytes(hb.build_hive(hb.Key("ROOT", ntuser(nested(EXPLORER + r"\UserAssist\{G}", count))))))
    key = EXPLORER + r"\UserAssist\{G}\Count"
    plain = tarnu_command("search", path, "-i", "welcome center")
    assert plain.returncode == 0 and plain.stdout == b""
    found = tarnu_command("search", path, "-i", "welcome center", "--artifacts")
    assert found.returncode == 0, found.stderr
    assert found.stdout.decode().splitlines() == ["\t".join(("artifact", path, key, "userassist.name", WELCOME))]
    timeline = tarnu_command("timeline", "--artifacts", path).stdout.decode().splitlines()
    assert "0|{}:\\{} [userassist last_run]|0|0|0|0|0|0|{}|0|0".format(path, key, WHEN) in timeline
