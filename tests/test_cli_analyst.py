"""What an analyst meets first with the command: evidence never overwritten, standard input, diffs that show the
data, sweeps with -k, info on logs and damaged hives, and the unnamed value."""

import json
import os
import pathlib
from typing import Callable, Dict, List

import pytest

from conftest import TarnuCommand, WriteFile
from tarnu import hivebuilder as hb

BEFORE = hb.Key("ROOT", values=[hb.Value("v", hb.REG_DWORD, 0)])
AFTER = hb.Key("ROOT", subkeys=[hb.Key("New")], values=[hb.Value("v", hb.REG_DWORD, 1)])


@pytest.fixture
def evidence(tmp_path: pathlib.Path, write_file: WriteFile) -> pathlib.Path:
    """A folder with a dirty HIVE, its log (named hive.log1), an old-style HIVE.LOG and a plain file."""
    primary, log = hb.dirty_hive(BEFORE, AFTER)
    write_file(primary, "HIVE")
    write_file(log, "hive.log1")
    write_file(log, "HIVE.LOG")
    write_file(b"notes", "notes.txt")
    os.symlink(tmp_path / "HIVE", tmp_path / "link")
    os.link(tmp_path / "hive.log1", tmp_path / "hard")
    return tmp_path


@pytest.mark.parametrize("args, output, refused", [
    (["replay", "HIVE"], "HIVE", "the input HIVE"),
    (["replay", "HIVE"], "hive.log1", "hive.log1, a log of the hive HIVE"),
    (["replay", "HIVE"], "HIVE.LOG", "HIVE.LOG, a log of the hive HIVE"),
    (["replay", "HIVE"], "link", "the input HIVE"),
    (["replay", "HIVE"], "hard", "hive.log1, a log of the hive HIVE"),
    (["replay", "HIVE", "notes.txt"], "notes.txt", "the log notes.txt"),
    (["replay", "link"], "./HIVE", "the input link"),
    (["deleted", "."], "hard", "a hive file"),  # a Windows log begins with a base block too
    (["replay", "HIVE"], "notes.txt", None),
    (["dump", "."], "notes.txt", None),
])
def test_no_output_writes_over_an_input(tarnu_command: TarnuCommand, evidence: pathlib.Path, args: List[str],
                                        output: str, refused: str) -> None:
    before = {name: (evidence / name).read_bytes() for name in os.listdir(evidence)}
    result = tarnu_command(*args, "-o", output, cwd=evidence)
    if refused is None:
        assert result.returncode in (0, 3)
        return
    message = result.stderr.decode().splitlines()
    assert (result.returncode, len(message)) == (2, 1)
    assert message[0].startswith("tarnu: error: refusing to write over {}: it is {}".format(output, refused))
    assert {name: (evidence / name).read_bytes() for name in os.listdir(evidence)} == before


def test_standard_input(tarnu_command: TarnuCommand, evidence: pathlib.Path) -> None:
    image = hb.build_hive(hb.Key("ROOT", values=[hb.Value("", hb.REG_SZ, "from a pipe")]))
    get = tarnu_command("get", "-", "", input=image)
    assert (get.returncode, get.stdout) == (0, b"from a pipe\n")
    dump = tarnu_command("dump", "--jobs", "2", "-", str(evidence / "HIVE"), input=image)
    assert [json.loads(line)["hive"] for line in dump.stdout.splitlines()][:1] == ["-"]
    info = json.loads(tarnu_command("info", "--json", "-", input=image).stdout)
    assert (info["hive"], info["file_size"], info["logs"]) == ("-", len(image), [])
    for args in (["dump", "-", "-"], ["replay", "-", "x.log", "-o", str(evidence / "out")]):
        assert tarnu_command(*args, input=image).returncode == 2
    assert tarnu_command("ls", "-", input=b"regf").returncode == 1


def test_diff_shows_both_sides(tarnu_command: TarnuCommand, write_file: WriteFile) -> None:
    a = write_file(hb.build_hive(hb.Key("R", [hb.Key("Run", values=[
        hb.Value("x", hb.REG_DWORD, 1), hb.Value("gone", hb.REG_BINARY, b"\xab")])])))
    b = write_file(hb.build_hive(hb.Key("R", [hb.Key("Run", values=[
        hb.Value("x", hb.REG_SZ, "one"), hb.Value("not_a_malware", hb.REG_MULTI_SZ, ["C:\\evil.exe"])])])))
    entries = [json.loads(line) for line in tarnu_command("diff", "--format", "jsonl", a, b).stdout.splitlines()]
    assert entries == [
        {"key": "Run", "value": "x", "change": "changed", "type": ["REG_DWORD", "REG_SZ"],
         "raw": ["01000000", "6f006e0065000000"], "data": [1, "one"]},
        {"key": "Run", "value": "gone", "change": "removed", "type": "REG_BINARY", "raw": "ab", "data": None},
        {"key": "Run", "value": "not_a_malware", "change": "added", "type": "REG_MULTI_SZ",
         "raw": "C:\\evil.exe\0\0".encode("utf-16-le").hex(), "data": ["C:\\evil.exe"]}]
    text = tarnu_command("diff", a, b).stdout.decode().splitlines()
    assert text[0] == "changed\tvalue\tRun\tx\tREG_DWORD\t1\t01000000\t->\tREG_SZ\tone\t6f006e0065000000"
    assert text[2].startswith('added\tvalue\tRun\tnot_a_malware\tREG_MULTI_SZ\t["C:\\\\evil.exe"]\t')


def test_diff_no_logs_applies_to_both_sides(tarnu_command: TarnuCommand, evidence: pathlib.Path) -> None:
    hive = str(evidence / "HIVE")
    assert tarnu_command("diff", hive, hive).stdout == b""
    assert tarnu_command("diff", "--no-logs", hive, hive).stdout == b""
    alone = tarnu_command("diff", "--no-logs", hive)
    assert alone.returncode == 2 and b"--no-logs leaves nothing to compare" in alone.stderr


@pytest.mark.parametrize("command", ["dump", "export-reg"])
def test_a_sweep_with_a_key_counts_the_hives_without_it(tarnu_command: TarnuCommand, tmp_path: pathlib.Path,
                                                        command: str) -> None:
    for name, subkeys in (("a", [hb.Key("Run")]), ("b", []), ("c", [])):
        (tmp_path / name).write_bytes(hb.build_hive(hb.Key("R", subkeys)))
    swept = tarnu_command(command, str(tmp_path), "-k", "Run")
    assert (swept.returncode, swept.stderr.decode().splitlines()[-1]) == (
        0, "tarnu: 1 hive, 1 key, 0 values, 0 skipped, 2 hives without the key")
    named = tarnu_command(command, str(tmp_path / "b"), "-k", "Run")
    assert named.returncode == 1 and b"Not found: Key 'Run'" in named.stderr


def info_of(tarnu_command: TarnuCommand, *args: str) -> Dict[str, object]:
    return json.loads(tarnu_command("info", "--json", *args).stdout)  # type: ignore[no-any-return]


@pytest.mark.parametrize("log_name, make", [
    ("HIVE.LOG1", lambda primary, log: log),
    ("Hive.log", lambda primary, log: hb.old_format_log([(0, primary[4096:4608])])),
])
def test_info_on_a_log(tarnu_command: TarnuCommand, write_file: WriteFile, log_name: str,
                       make: Callable[[bytes, bytes], bytes]) -> None:
    primary, log = hb.dirty_hive(BEFORE, AFTER)
    hive = write_file(primary, "HIVE")
    info = info_of(tarnu_command, write_file(make(primary, log), log_name))
    assert (info["format"], info["usable"], info["primary"]) == ("new" if log_name == "HIVE.LOG1" else "old",
                                                                 True, hive)
    assert info["entries" if log_name == "HIVE.LOG1" else "pages"] == 1
    os.remove(hive)
    assert info_of(tarnu_command, os.path.join(os.path.dirname(hive), log_name))["primary"] is None


def test_info_on_a_truncated_and_damaged_hive(tarnu_command: TarnuCommand, write_file: WriteFile) -> None:
    broken = hb.Key("R", [hb.Key("A", subkey_count=1, subkey_list_offset=0x7FFFFFF0),
                          hb.Key("B", values=[hb.Value("v", hb.REG_SZ, "x" * 100)])])
    image = hb.build_hive(broken, hive_bins_data_size=0x3000)
    path = write_file(image)
    info = info_of(tarnu_command, path)
    assert (info["truncated"], info["file_size"], info["hive_bins_data_size"]) == (True, len(image), 0x3000)
    warnings = tarnu_command("info", path).stderr.decode().splitlines()
    assert warnings[0] == ("tarnu: warning: {} is truncated: {} bytes, where its base block states {} (4096 + hive "
                           "bins data size 0x3000)".format(path, len(image), 4096 + 0x3000))
    assert warnings[-1] == "tarnu: warning: {}: 1 part not read: 1 InvalidOffset".format(path)
    summary = tarnu_command("info", "--summary", path)
    assert summary.returncode == 3 and summary.stderr.decode().splitlines() == [warnings[0], warnings[-1]]


def test_get_and_ls_tell_the_unnamed_value(tarnu_command: TarnuCommand, write_file: WriteFile) -> None:
    path = write_file(hb.build_hive(hb.Key("R", values=[hb.Value("(default)", hb.REG_SZ, "named"),
                                                        hb.Value("", hb.REG_SZ, "unnamed")])))
    for args, printed in (([], b"unnamed\n"), ([""], b"unnamed\n"), (["(default)"], b"named\n")):
        assert tarnu_command("get", path, "", *args).stdout == printed
    assert tarnu_command("ls", path).stdout.decode().splitlines() == [
        'value\tREG_SZ\t"(default)"\tnamed', "value\tREG_SZ\t(default)\tunnamed"]
    empty = write_file(hb.build_hive(hb.Key("R", values=[hb.Value("(default)", hb.REG_SZ, "named")])))
    assert tarnu_command("get", empty, "").returncode == 1
