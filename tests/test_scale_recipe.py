"""The recipes of docs/scale.md: a folder of hives to JSON Lines with a process pool and with Dask, and to a Parquet
data set queried with DuckDB and with Dask."""

import base64
import importlib.util
import json
import os
import pathlib
import sys
from typing import Any, List, Tuple

import pytest

import tarnu
from tarnu.hivebuilder import REG_BINARY, REG_DWORD, REG_SZ, Key, Value, build_hive

ROOT = pathlib.Path(__file__).resolve().parents[1]
EXAMPLES = ROOT / "examples"
sys.path.insert(0, str(EXAMPLES))
import hives_to_jsonl as recipe  # noqa: E402
import hives_to_parquet as parquet_recipe  # noqa: E402


@pytest.fixture(scope="module")
def evidence(tmp_path_factory: pytest.TempPathFactory) -> pathlib.Path:
    """Six hives in nested folders (one with a name that says nothing), a file that is no hive, a broken hive."""
    folder = tmp_path_factory.mktemp("evidence")
    for i in range(6):
        where = folder / "machine{}".format(i) / "config"
        where.mkdir(parents=True, exist_ok=True)
        root = Key("ROOT{}".format(i), subkeys=[Key("Run", values=[Value("App", REG_SZ, "app{}.exe".format(i)),
                                                                   Value("Seed", REG_BINARY, bytes([i, 255]))])],
                   values=[Value("N", REG_DWORD, i)])
        (where / ("SOFTWARE" if i else "noname.bin")).write_bytes(build_hive(root))
    (folder / "notes.txt").write_bytes(b"not a hive")
    (folder / "broken").write_bytes(build_hive(Key("R"), root_cell_offset=0x7FFFFFF0))
    return folder


def expected_lines(paths: List[str]) -> List[str]:
    return [line for path in paths for line in recipe.jsonl_lines(path)]


def check(lines: List[str], paths: List[str]) -> None:
    rows = [json.loads(line) for line in lines]
    assert sorted(lines) == sorted(expected_lines(paths))
    seeds = sorted(base64.b64decode(row["raw"]) for row in rows if row["value"] == "Seed")
    assert seeds == [bytes([i, 255]) for i in range(6)]
    errors = [row for row in rows if row["error"]]
    assert [(os.path.basename(row["hive"]), row["key"]) for row in errors] == [("broken", None)]


def test_docs_show_the_code_the_tests_run() -> None:
    code = (EXAMPLES / "hives_to_jsonl.py").read_text()
    blocks = (ROOT / "docs" / "scale.md").read_text().split("```python\n")[1:]
    for block in blocks[:2]:
        assert block.split("```")[0] in code


def test_with_processes(evidence: pathlib.Path) -> None:
    paths = recipe.hive_files(str(evidence))
    assert len(paths) == 7 and not any(p.endswith("notes.txt") for p in paths)
    lines = list(recipe.with_processes(paths, workers=2))
    assert lines == expected_lines(paths)
    check(lines, paths)


def test_from_bytes_with_a_name(evidence: pathlib.Path) -> None:
    path = recipe.hive_files(str(evidence))[0]
    assert recipe.jsonl_lines(open(path, "rb").read(), name=path) == recipe.jsonl_lines(path)


def test_with_dask(evidence: pathlib.Path, tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> None:
    if importlib.util.find_spec("dask") is None or importlib.util.find_spec("distributed") is None:
        pytest.skip("dask and distributed are not installed (pip install 'tarnu[dask]')")
    # The workers are new processes: they find tarnu and the recipe through PYTHONPATH.
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(EXAMPLES)] + sys.path))
    paths = recipe.hive_files(str(evidence))
    written = recipe.with_dask(paths, str(tmp_path))
    lines = [line for name in sorted(written) for line in open(name, encoding="utf-8").read().splitlines()]
    check(lines, paths)


# ---- the Parquet recipe ------------------------------------------------------------------------------------------

def programs(paths: List[str]) -> List[Tuple[Any, ...]]:
    """What the recipe's query finds, from records() directly."""
    return sorted((row.hive, row.key, row.value, row.data) for path in paths for row in tarnu.records(path)
                  if isinstance(row.data, str) and row.data.endswith(".exe"))


def test_parquet_docs_show_the_code_the_tests_run() -> None:
    code = (EXAMPLES / "hives_to_parquet.py").read_text()
    blocks = (ROOT / "docs" / "scale.md").read_text().split("```python\n")[1:]
    for block in blocks[2:5]:
        assert block.split("```")[0] in code


def test_parquet_with_processes_and_duckdb(evidence: pathlib.Path, tmp_path: pathlib.Path) -> None:
    pytest.importorskip("pyarrow")
    pytest.importorskip("duckdb")
    paths = recipe.hive_files(str(evidence))
    written = parquet_recipe.with_processes(paths, str(tmp_path), workers=2)
    assert sorted(os.listdir(tmp_path)) == [os.path.basename(name) for name in written] and len(written) == 7
    found = parquet_recipe.query(str(tmp_path), parquet_recipe.PROGRAMS)
    assert found == programs(paths) and len(found) == 6
    [(hive, error)] = parquet_recipe.query(str(tmp_path), "SELECT hive, error FROM rows WHERE error IS NOT NULL")
    assert os.path.basename(hive) == "broken" and error


def test_parquet_with_dask(evidence: pathlib.Path, tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> None:
    for module in ("dask", "distributed", "pyarrow", "pandas"):
        pytest.importorskip(module)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([str(EXAMPLES)] + sys.path))
    paths = recipe.hive_files(str(evidence))
    assert parquet_recipe.with_dask(paths, str(tmp_path)) == programs(paths)
