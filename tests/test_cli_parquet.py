"""tarnu dump --format parquet: one file for one hive, a folder of one file per hive for several (with --jobs too),
the rows of tarnu.arrow in each; error rows as warnings; the messages of what cannot be done."""

import pathlib
import sys
import subprocess
from typing import Any, Callable, Dict, List

import pytest

import tarnu
import tarnu.cli
from tarnu.hivebuilder import REG_DWORD, REG_SZ, Key, Value, build_hive

pa = pytest.importorskip("pyarrow")
pq = pytest.importorskip("pyarrow.parquet")

Command = Callable[..., "subprocess.CompletedProcess[bytes]"]

GOOD = Key("ROOT", subkeys=[Key("Run", values=[Value("App", REG_SZ, "app.exe"), Value("N", REG_DWORD, 3)])])
BROKEN = Key("ROOT", subkeys=[Key("A", values=[Value("v", REG_DWORD, 1)]),
                              Key("Bad", subkey_count=1, subkey_list_offset=0x7FFFFFF0), Key("Z")])


@pytest.fixture
def evidence(tmp_path: pathlib.Path) -> pathlib.Path:
    folder = tmp_path / "evidence"
    (folder / "m1").mkdir(parents=True)
    (folder / "m1" / "SOFTWARE").write_bytes(build_hive(GOOD))
    (folder / "BROKEN").write_bytes(build_hive(BROKEN))
    return folder


def rows_of(path: pathlib.Path) -> List[Dict[str, Any]]:
    rows: List[Dict[str, Any]] = pq.read_table(path).to_pylist()
    return rows


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_a_folder_becomes_a_data_set(tarnu_command: Command, evidence: pathlib.Path, tmp_path: pathlib.Path,
                                     jobs: str) -> None:
    out = tmp_path / "out"
    done = tarnu_command("dump", "--format", "parquet", "--jobs", jobs, evidence, "-o", out)
    assert done.returncode == 3, done.stderr
    assert sorted(p.name for p in out.iterdir()) == ["00000-BROKEN.parquet", "00001-SOFTWARE.parquet"]
    for name, hive in [("00000-BROKEN.parquet", "BROKEN"), ("00001-SOFTWARE.parquet", "m1/SOFTWARE")]:
        assert rows_of(out / name) == pa.table(tarnu.arrow(str(evidence / hive))).to_pylist()
    assert b"BROKEN: key 'Bad': Invalid offset 0x7ffffff0" in done.stderr
    assert b"2 hives, 6 keys, 3 values, 1 skipped" in done.stderr


def test_one_hive_is_one_file_and_strict_ends_before_the_first_error(tarnu_command: Command,
                                                                      evidence: pathlib.Path,
                                                                      tmp_path: pathlib.Path) -> None:
    target = tmp_path / "one.parquet"
    assert tarnu_command("dump", "--format", "parquet", evidence / "BROKEN", "-o", target, "-k", "A").returncode == 0
    assert [(row["key"], row["value"], row["data_number"]) for row in rows_of(target)] == [("A", "v", 1)]
    done = tarnu_command("dump", "--format", "parquet", "--strict", evidence / "BROKEN", "-o", target)
    assert done.returncode == 1 and [row["key"] for row in rows_of(target)] == ["", "A", "Bad"]


@pytest.mark.parametrize("args, message", [
    (["-o", "{out}"], b"refusing to write into {out}: it is not empty"),
    ([], b"--format parquet writes files: give -o FILE (-o FOLDER for several hives)"),
    (["--base64", "-o", "x"], b"--spreadsheet and --base64 go with --format jsonl or csv"),
])
def test_usage_errors(tarnu_command: Command, evidence: pathlib.Path, tmp_path: pathlib.Path, args: List[str],
                      message: bytes) -> None:
    out = tmp_path / "full"
    out.mkdir()
    (out / "old.parquet").write_bytes(b"")
    args = [arg.format(out=out) for arg in args]
    done = tarnu_command("dump", "--format", "parquet", evidence, *args)
    assert done.returncode == 2 and message.replace(b"{out}", str(out).encode()) in done.stderr


def test_without_pyarrow(monkeypatch: pytest.MonkeyPatch, capsys: pytest.CaptureFixture[str],
                         evidence: pathlib.Path, tmp_path: pathlib.Path) -> None:
    for name in ["pyarrow", "pyarrow.parquet"]:
        monkeypatch.setitem(sys.modules, name, None)
    assert tarnu.cli.main(["dump", "--format", "parquet", str(evidence), "-o", str(tmp_path / "o")]) == 2
    assert capsys.readouterr().err == "tarnu: error: --format parquet needs pyarrow: pip install 'tarnu[parquet]'\n"
    assert not (tmp_path / "o").exists()
