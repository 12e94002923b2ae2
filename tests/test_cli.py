"""The `tarnu` command, run as a child process: exit codes, what goes to stdout and stderr, inputs, logs."""

import csv
import io
import json
import os
import pathlib
import subprocess
import sys
from typing import Any, Callable, Dict, List, Optional

import pytest

import tarnu
from conftest import sample_path, stored_at
from tarnu.hivebuilder import (REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_SZ, HiveBuilder, Key, Value, build_hive,
                               dirty_hive, nk)

# The tarnu_command fixture: arguments in, the finished child process out.
Command = Callable[..., "subprocess.CompletedProcess[bytes]"]
# The write_file fixture: data, and a file name or none.
WriteFile = Callable[..., str]

TREE = Key("ROOT", subkeys=[
    Key("Software", values=[Value("", REG_SZ, "default"), Value("Name", REG_SZ, "café"),
                            Value("List", REG_MULTI_SZ, ["one", "two"]), Value("Count", REG_DWORD, 7),
                            Value("Blob", REG_BINARY, b"\x00\xff")],
        subkeys=[Key("Ünïcode")]),
    Key("System"),
])
BROKEN = Key("ROOT", subkeys=[Key("A", values=[Value("v", REG_DWORD, 1)]),
                              Key("Bad", subkey_count=1, subkey_list_offset=0x7FFFFFF0),
                              Key("Z", values=[Value("v", REG_DWORD, 2)])])
BEFORE = Key("ROOT", values=[Value("v", REG_DWORD, 0)])
AFTER = Key("ROOT", subkeys=[Key("New")], values=[Value("v", REG_DWORD, 1)])


@pytest.fixture
def hive(write_file: WriteFile) -> str:
    return write_file(build_hive(TREE), "SOFTWARE")


@pytest.fixture
def dirty(write_file: WriteFile) -> str:
    """A dirty primary HIVE with the log that recovers it beside it, named in another letter case."""
    primary, log = dirty_hive(BEFORE, AFTER)
    write_file(log, "hive.log1")
    return write_file(primary, "HIVE")


def lines(output: bytes) -> List[str]:
    return output.decode("utf-8").splitlines()


def dumped(output: bytes) -> List[Dict[str, Any]]:
    return [json.loads(line) for line in lines(output)]


# ---- exit codes and streams -------------------------------------------------------------------------------------

@pytest.mark.parametrize("args, code, message", [
    (["dump", "{tmp}/missing"], 1, "tarnu: error: {tmp}/missing: No such file or directory (os error 2)"),
    (["dump", "{tmp}/not-a-hive"], 1, "tarnu: error: {tmp}/not-a-hive: Invalid signature: expected regf, found text"),
    (["dump", "{tmp}/empty-folder"], 1, "tarnu: error: {tmp}/empty-folder: no hive files in this folder"),
    (["dump", "{hive}", "-k", "Nope"], 1, "tarnu: error: {hive}: Not found: Key 'Nope'"),
    (["dump", "{hive}", "-o", "{tmp}/no/such/folder/out"], 1,
     "tarnu: error: cannot write {tmp}/no/such/folder/out: No such file or directory"),
    (["get", "{hive}", "Software", "Nope"], 1, "tarnu: error: {hive}: key 'Software': Not found: Value 'Nope'"),
    (["replay", "-q", "{hive}", "-o", "{tmp}"], 1, "tarnu: error: cannot write {tmp}: Is a directory (os error 21)"),
    (["dump", "{hive}", "-o", "{hive}"], 2, "tarnu: error: refusing to write over {hive}: it is a hive file"),
    (["search", "{hive}", "("], 2, "tarnu: error: bad pattern '(': missing ), unterminated subpattern at position 0"),
    (["dump", "{hive}", "--format", "xml"], 2, None),
    (["dump", "{hive}", "--jobs", "0"], 2, None),
    (["frobnicate"], 2, None),
    ([], 2, None),
])
def test_failures_are_one_line_and_an_exit_code(tarnu_command: Command, tmp_path: pathlib.Path, hive: str,
                                                 args: List[str], code: int, message: Optional[str]) -> None:
    (tmp_path / "not-a-hive").write_bytes(b"text" * 2000)
    (tmp_path / "empty-folder").mkdir()
    result = tarnu_command(*[a.format(tmp=tmp_path, hive=hive) for a in args])
    assert result.returncode == code and result.stdout == b""
    stderr = lines(result.stderr)
    assert "Traceback" not in result.stderr.decode()
    if message is not None:
        assert stderr == [message.format(tmp=tmp_path, hive=hive)]


def test_only_data_on_stdout(tarnu_command: Command, hive: str) -> None:
    result = tarnu_command("dump", hive)
    assert result.returncode == 0
    assert [(row["key"], row["value"]) for row in dumped(result.stdout)] == [
        ("", None), ("Software", ""), ("Software", "Name"), ("Software", "List"), ("Software", "Count"),
        ("Software", "Blob"), ("Software\\Ünïcode", None), ("System", None)]
    assert lines(result.stderr) == ["tarnu: 1 hive, 4 keys, 5 values, 0 skipped"]
    assert tarnu_command("dump", "-q", hive).stderr == b""


def test_skipped_data_warns_and_exits_3_strict_stops(tarnu_command: Command, write_file: WriteFile) -> None:
    path = write_file(build_hive(BROKEN))
    result = tarnu_command("dump", path)
    assert result.returncode == 3
    assert [row["key"] for row in dumped(result.stdout)] == ["", "A", "Bad", "Z"]
    assert lines(result.stderr) == [
        "tarnu: warning: {}: key 'Bad': Invalid offset 0x7ffffff0 (hive size: 0x2000)".format(path),
        "tarnu: 1 hive, 4 keys, 2 values, 1 skipped"]
    strict = tarnu_command("dump", "--strict", path)
    assert strict.returncode == 1 and [row["key"] for row in dumped(strict.stdout)] == ["", "A", "Bad"]
    assert lines(strict.stderr) == [
        "tarnu: error: {}: key 'Bad': Invalid offset 0x7ffffff0 (hive size: 0x2000)".format(path)]


def test_broken_pipe_ends_quietly(write_file: WriteFile) -> None:
    many = Key("ROOT", subkeys=[Key("K%05d" % i, values=[Value("v", REG_SZ, "x" * 100)]) for i in range(3000)])
    path = write_file(build_hive(many))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-m", "tarnu", "dump", path], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, env=env)
    assert child.stdout is not None and child.stderr is not None
    first = child.stdout.readline()
    child.stdout.close()
    stderr = child.stderr.read()
    assert child.wait(timeout=120) == 0
    assert json.loads(first)["key"] == "" and stderr == b""


def test_output_is_utf8_whatever_the_locale(tarnu_command: Command, hive: str, tmp_path: pathlib.Path) -> None:
    # The child runs with PYTHONIOENCODING=ascii (see conftest).
    result = tarnu_command("ls", hive, "software")
    assert result.returncode == 0
    assert lines(result.stdout) == [
        "key\t2020-01-01T00:00:00.000000+00:00\tÜnïcode",
        "value\tREG_SZ\t(default)\tdefault",
        "value\tREG_SZ\tName\tcafé",
        'value\tREG_MULTI_SZ\tList\t["one", "two"]',
        "value\tREG_DWORD\tCount\t7",
        "value\tREG_BINARY\tBlob\t00ff",
    ]
    out = tmp_path / "out.jsonl"
    assert tarnu_command("dump", hive, "-k", "Software\\ünïcode", "-o", out).stdout == b""
    assert json.loads(out.read_bytes())["key"] == "Software\\Ünïcode"


@pytest.mark.parametrize("args, expected", [
    (["Software", "Name"], b"caf\xc3\xa9\n"),
    (["Software"], b"default\n"),
    (["Software", "List"], b"one\ntwo\n"),
    (["Software", "count"], b"7\n"),
    (["Software", "Blob"], b"00ff\n"),
    (["Software", "Name", "--raw"], "café\0".encode("utf-16-le")),
])
def test_get(tarnu_command: Command, hive: str, args: List[str], expected: bytes) -> None:
    result = tarnu_command("get", hive, *args)
    assert (result.returncode, result.stdout, result.stderr) == (0, expected, b"")


# ---- inputs -------------------------------------------------------------------------------------------------------

def test_folders_are_searched_for_hives_by_content(tarnu_command: Command, tmp_path: pathlib.Path,
                                                   write_file: WriteFile, hive: str) -> None:
    (tmp_path / "deep" / "er").mkdir(parents=True)
    (tmp_path / "deep" / "er" / "report.txt").write_bytes(build_hive(BEFORE))
    (tmp_path / "deep" / "notes").write_bytes(b"regf")
    primary, log = dirty_hive(BEFORE, AFTER)
    (tmp_path / "deep" / "HIVE.LOG1").write_bytes(log)  # a log (file type 6), not a hive
    result = tarnu_command("timeline", "-q", tmp_path)
    assert result.returncode == 0
    assert [line.split("|")[1] for line in lines(result.stdout)] == [
        hive + ":\\", hive + ":\\Software", hive + ":\\Software\\Ünïcode", hive + ":\\System",
        str(tmp_path / "deep" / "er" / "report.txt") + ":\\"]


def test_jobs_keep_the_order_of_the_hives(tarnu_command: Command, tmp_path: pathlib.Path) -> None:
    for i in range(5):
        (tmp_path / "h{}".format(i)).write_bytes(build_hive(Key("R{}".format(i), values=[Value("v", REG_DWORD, i)])))
    one = tarnu_command("dump", tmp_path)
    two = tarnu_command("dump", "--jobs", "2", tmp_path)
    assert one.returncode == two.returncode == 0 and one.stdout == two.stdout
    assert [row["raw"] for row in dumped(two.stdout)] == ["0{}000000".format(i) for i in range(5)]
    assert lines(two.stderr) == ["tarnu: 5 hives, 5 keys, 5 values, 0 skipped"]


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_hive_that_fails_does_not_end_the_run_unless_strict(tarnu_command: Command, tmp_path: pathlib.Path,
                                                              jobs: str) -> None:
    good = [tmp_path / "a", tmp_path / "c"]
    for i, path in enumerate(good):
        path.write_bytes(build_hive(Key("R", values=[Value("v", REG_DWORD, i)])))
    bad = tmp_path / "b"
    bad.write_bytes(b"regf" + bytes(100))
    result = tarnu_command("dump", "--jobs", jobs, good[0], bad, good[1])
    assert result.returncode == 1
    assert [row["hive"] for row in dumped(result.stdout)] == [str(good[0]), str(good[1])]
    assert lines(result.stderr) == [
        "tarnu: error: {}: Hive too small: 104 bytes (minimum: 4096 bytes)".format(bad),
        "tarnu: 2 hives, 2 keys, 2 values, 0 skipped"]
    strict = tarnu_command("dump", "--strict", "--jobs", jobs, good[0], bad, good[1])
    assert strict.returncode == 1 and [row["hive"] for row in dumped(strict.stdout)] == [str(good[0])]


@pytest.mark.parametrize("args, header, first", [
    (["dump", "--format", "csv", "--base64"], "hive,key,last_written,value,type,raw,data",
     "{},,2020-01-01T00:00:00.000000+00:00,v,REG_DWORD,AQAAAA==,1"),
    (["timeline", "--format", "csv"], "last_written,hive,key", "2020-01-01T00:00:00.000000+00:00,{},"),
])
def test_csv_formats(tarnu_command: Command, write_file: WriteFile, args: List[str], header: str, first: str) -> None:
    path = write_file(build_hive(Key("R", values=[Value("v", REG_DWORD, 1)])))
    result = tarnu_command(*args, path)
    assert result.stdout.decode().split("\r\n") == [header, first.format(path), ""]


# ---- logs ---------------------------------------------------------------------------------------------------------

def test_logs_beside_a_hive_are_replayed(tarnu_command: Command, dirty: str) -> None:
    result = tarnu_command("dump", dirty)
    assert [(row["key"], row["raw"]) for row in dumped(result.stdout)] == [("", "01000000"), ("New", None)]
    plain = tarnu_command("dump", "--no-logs", dirty)
    assert [(row["key"], row["raw"]) for row in dumped(plain.stdout)] == [("", "00000000")]
    assert plain.returncode == 0 and lines(plain.stderr)[0] == \
        "tarnu: warning: {} is dirty; its logs were not applied (--no-logs)".format(dirty)


@pytest.mark.parametrize("no_logs, keys, applied", [(False, 2, True), (True, 1, False)])
def test_info_says_dirty_and_what_the_logs_do(tarnu_command: Command, dirty: str, no_logs: bool, keys: int,
                                              applied: bool) -> None:
    result = tarnu_command("info", "--json", *(["--no-logs"] if no_logs else []), dirty)
    info = json.loads(result.stdout)
    assert (info["dirty"], info["sequence_numbers"], info["keys"], info["logs_applied"]) == (True, [11, 10], keys,
                                                                                            applied)
    assert info["logs"] == [os.path.join(os.path.dirname(dirty), "hive.log1")]
    assert info["replay"].startswith("recovers sequences 10..10, 1 pages (hive.log1: new, used")


def test_info_of_a_base_block_that_only_the_logs_repair(tarnu_command: Command, write_file: WriteFile) -> None:
    primary, log = dirty_hive(BEFORE, AFTER)
    damaged = bytearray(primary)
    damaged[508] ^= 0xFF  # the checksum
    path = write_file(bytes(damaged), "HIVE")
    write_file(log, "HIVE.LOG1")
    info = json.loads(tarnu_command("info", "--json", path).stdout)
    assert info["base_block"].startswith("from the logs; the file's cannot be read: {}: Checksum mismatch".format(path))
    assert (info["keys"], info["logs_applied"]) == (2, True)
    plain = tarnu_command("info", "--no-logs", path)
    assert plain.returncode == 1 and lines(plain.stderr)[0].startswith("tarnu: error: {}: Checksum mismatch".format(path))


def test_info_counts_records_outside_the_tree_and_warns_of_a_wrong_checksum(tarnu_command: Command,
                                                                              write_file: WriteFile) -> None:
    b = HiveBuilder()
    root = b.reserve(len(nk("ROOT")))
    b.add(Key("orphan", values=[Value("v", REG_DWORD, 1)]), parent=root)  # allocated, named by no list
    gone = b.add(Key("gone"), parent=root)
    b.delete_key(gone)
    b.key("ROOT", root=True, at=root)
    damaged = bytearray(b.build())
    damaged[508] ^= 0xFF  # the checksum
    path = write_file(bytes(damaged), "HIVE")
    refused = tarnu_command("info", path)
    assert refused.returncode == 1 and "Checksum mismatch" in lines(refused.stderr)[0]
    result = tarnu_command("info", "--json", "--ignore-checksum", path)
    info = json.loads(result.stdout)
    assert (info["checksum_ok"], info["keys"], info["passed_over"]) == (False, 1, 0)
    assert info["outside_tree"] == {"free": 1, "unreferenced": 2, "remnant": 0}
    assert lines(result.stderr)[0] == \
        "tarnu: warning: {}: the base block's checksum is wrong; read as it stands (--ignore-checksum)".format(path)
    text = lines(tarnu_command("info", "--ignore-checksum", path).stdout)
    assert "outside tree: free 1, unreferenced 2, remnant 0" in text and "checksum ok: False" in text


def test_diff_of_a_hive_and_its_replayed_copy(tarnu_command: Command, dirty: str) -> None:
    result = tarnu_command("diff", dirty)
    assert result.returncode == 0
    assert lines(result.stdout) == ["changed\tvalue\t\tv\tREG_DWORD\t0\t00000000\t->\tREG_DWORD\t1\t01000000",
                                    "added\tkey\tNew"]
    assert lines(result.stderr)[-1] == "tarnu: 1 added, 0 removed, 1 changed"
    both = tarnu_command("diff", "--format", "jsonl", "--no-logs", dirty, dirty)
    assert both.stdout == b""


def test_replay_writes_a_clean_hive(tarnu_command: Command, dirty: str, tmp_path: pathlib.Path) -> None:
    out = tmp_path / "recovered"
    result = tarnu_command("replay", dirty, "-o", out)
    assert result.returncode == 0 and result.stdout == b""
    hive = tarnu.Hive.open(str(out))
    assert not hive.base_block().is_dirty and hive.root_key().value("v").data().as_dword() == 1
    assert lines(result.stderr)[-2:] == ["tarnu: recovered sequences 10..10",
                                         "tarnu: wrote {} ({} bytes)".format(out, out.stat().st_size)]


@pytest.mark.parametrize("flags, expected", [
    ([], ["key\t{}\tSoftware\t\t", "data\t{}\tSoftware\tName\tcafé"]),
    (["--keys"], ["key\t{}\tSoftware\t\t"]),
    (["--values", "-i"], ["value\t{}\tSoftware\tName\t"]),
    (["--data"], ["data\t{}\tSoftware\tName\tcafé"]),
])
def test_search(tarnu_command: Command, hive: str, flags: List[str], expected: List[str]) -> None:
    result = tarnu_command("search", hive, "^(Soft|caf|n)", *flags)
    assert result.returncode == 0
    assert lines(result.stdout) == [line.format(hive) for line in expected]


def test_export_reg_names_the_root_after_the_file(tarnu_command: Command, hive: str) -> None:
    text = tarnu_command("export-reg", hive, "-k", "software").stdout.decode("utf-16")
    assert text.startswith("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Software]\r\n")


def hive_with_deleted_key(path: pathlib.Path) -> Key:
    """A hive whose root lists "Live" and whose free cells still hold "Gone" (under Live) with two values."""
    from tarnu import hivebuilder as hb

    b = hb.HiveBuilder()
    root = b.reserve(len(hb.nk("root")))
    live = b.add(hb.Key("Live", values=[hb.Value("v", REG_DWORD, 1)]), parent=root)
    gone = hb.Key("Gone", values=[hb.Value("Path", REG_SZ, "C:\\x.exe"), hb.Value("Blob", REG_BINARY, b"\x01\x02")])
    b.add(gone, parent=live)
    b.delete_key(stored_at(gone))
    b.key("root", root=True, at=root, subkeys=[live])
    path.write_bytes(b.build())
    return gone


@pytest.mark.parametrize("command", [["deleted"], ["dump", "--deleted"]])
def test_deleted_rows(tarnu_command: Command, tmp_path: pathlib.Path, command: List[str]) -> None:
    gone = hive_with_deleted_key(tmp_path / "HIVE")
    result = tarnu_command(*command, tmp_path / "HIVE")
    assert result.returncode == 0
    rows = dumped(result.stdout)
    assert all(list(row) == ["hive", "key", "last_written", "value", "type", "raw", "data", "deleted",
                             "path_complete", "offset", "source"] for row in rows)
    recovered = [(row["key"], row["value"], row["raw"], row["data"], row["path_complete"], row["offset"],
                  row["source"]) for row in rows if row["deleted"]]
    assert recovered == [("Live\\Gone", "Path", "43003a005c0078002e006500780065000000", "C:\\x.exe", True,
                          gone.values[0].offset, "free"),
                         ("Live\\Gone", "Blob", "0102", None, True, gone.values[1].offset, "free")]
    live = [(row["key"], row["value"], row["path_complete"], row["offset"], row["source"])
            for row in rows if not row["deleted"]]
    assert live == ([] if command == ["deleted"] else [("", None, None, None, None), ("Live", "v", None, None, None)])


@pytest.mark.parametrize("args, header", [
    (["dump", "--format", "csv"], "hive,key,last_written,value,type,raw,data"),
    (["dump", "--format", "csv", "--deleted"], "hive,key,last_written,value,type,raw,data,deleted,path_complete,offset,source"),
    (["deleted", "--format", "csv"], "hive,key,last_written,value,type,raw,data,deleted,path_complete,offset,source"),
    (["timeline", "--format", "csv"], "last_written,hive,key"),
])
@pytest.mark.parametrize("jobs", ["1", "2"])
def test_hives_share_one_csv_header(tarnu_command: Command, tmp_path: pathlib.Path, args: List[str], header: str,
                                    jobs: str) -> None:
    for name in ("a", "b"):
        hive_with_deleted_key(tmp_path / name)
    result = tarnu_command(*args, "--jobs", jobs, tmp_path / "a", tmp_path / "b")
    table = list(csv.reader(io.StringIO(result.stdout.decode(), newline="")))
    assert table[0] == header.split(",") and header not in result.stdout.decode()[len(header):]
    assert {row[header.split(",").index("hive")] for row in table[1:]} == {str(tmp_path / "a"), str(tmp_path / "b")}
    assert all(len(row) == len(table[0]) for row in table)


# ---- real hives ---------------------------------------------------------------------------------------------------

def test_sample_system_dump(tarnu_command: Command, samples_dir: pathlib.Path) -> None:
    path = sample_path("SYSTEM.xz", samples_dir)
    result = tarnu_command("dump", path)
    assert result.returncode == 0
    assert lines(result.stderr) == ["tarnu: 1 hive, 30756 keys, 73456 values, 0 skipped"]
    rows = {(row["key"], row["value"]): row for row in dumped(result.stdout) if row["value"] == "Start"}
    assert rows[("ControlSet001\\services\\Tcpip", "Start")]["raw"] == "00000000"


def test_sample_dirty_user_hive(tarnu_command: Command, samples_dir: pathlib.Path) -> None:
    folder = samples_dir / "cli-user-8.1"  # the logs keep their names beside the hive
    folder.mkdir(exist_ok=True)
    hive = [sample_path("logs/user-8.1/{}.xz".format(name), folder)
            for name in ("NTUSER.DAT", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2")][0]
    info = json.loads(tarnu_command("info", "--json", hive).stdout)
    assert (info["dirty"], info["keys"], info["values"], info["logs_applied"]) == (True, 3105, 4695, True)
    diff = tarnu_command("diff", "--format", "jsonl", hive)
    keys = [entry["change"] for entry in dumped(diff.stdout) if "value" not in entry]
    assert keys.count("added") - keys.count("removed") == 3105 - 2590
