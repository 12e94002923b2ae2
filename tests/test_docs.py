"""The code blocks of README.md and docs/*.md run as shown, and docs/api.md names every public member.

The Python blocks of each document run in order in one namespace, in a folder holding hives built with the hive
builder under the names the documents use (SYSTEM, NTUSER.DAT and its logs), shaped like the real samples the
documents quote. A comment on the line of a `print(...)` call is the text it prints, `...` standing for any text:
a `print` at the top level of a block must print exactly that; one inside a loop or condition must print it on
at least one of the lines that the whole statement prints.
"""

import ast
import contextlib
import io
import os
import pathlib
import re
import tempfile
import tokenize
from typing import Dict, List, Tuple

import pytest

import tarnu
from conftest import stored_at
from tarnu import hivebuilder as hb

ROOT = pathlib.Path(__file__).resolve().parents[1]
DOCUMENTS = [ROOT / "README.md", ROOT / "docs" / "api.md", ROOT / "docs" / "behaviour.md"]

# 2012-04-04 11:47:06.6875 UTC, the last-written time of Tcpip in the real SYSTEM sample.
TCPIP_TIME = hb.filetime(1333540026) + 6_875_000


def system_hive() -> bytes:
    """A small SYSTEM hive with the keys and values of the real sample that the documents show."""
    lsa = hb.Key("Lsa", [hb.Key(name, class_name=text) for name, text in
                         [("Data", "b6cf2e27"), ("GBG", "e770d1f4"), ("JD", "67cd88ed"), ("Skew1", "8df2db5b")]])
    parameters = hb.Key("Parameters", values=[
        hb.Value("Hostname", hb.REG_SZ, "WKS-WIN732BITA"),
        hb.Value("Domain", hb.REG_SZ, "shieldbase.local"),
        hb.Value("SearchList", hb.REG_SZ, ""),
        hb.Value("EnableICMPRedirect", hb.REG_DWORD, 1),
    ])
    tcpip = hb.Key("Tcpip", [parameters], timestamp=TCPIP_TIME, security=bytes(252), values=[
        hb.Value("DisplayName", hb.REG_SZ, "@%SystemRoot%\\system32\\tcpipcfg.dll,-50003"),
        hb.Value("ImagePath", hb.REG_EXPAND_SZ, "System32\\drivers\\tcpip.sys"),
        hb.Value("Start", hb.REG_DWORD, 0),
    ])
    control_set = hb.Key("ControlSet001", [hb.Key("Control", [lsa]), hb.Key("services", [tcpip])])
    select = hb.Key("Select", values=[hb.Value("Current", hb.REG_DWORD, 1)])
    return bytes(hb.build_hive(hb.Key("ROOT", [control_set, select]), file_name="SYSTEM"))


def user_hive() -> Tuple[bytes, bytes, bytes]:
    """A dirty NTUSER.DAT whose free cells hold a deleted key, the log that recovers it (LOG1) and a stale log
    (LOG2), as in the real sample of a Windows 8.1 user hive."""
    builder = hb.HiveBuilder()
    root = builder.reserve(len(hb.nk("ROOT")))
    software = hb.Key("Software")
    builder.add(software, parent=root)
    run = hb.Key("Run", values=[hb.Value("Updater", hb.REG_SZ, "C:\\Users\\Public\\updater.exe")])
    builder.add(run, parent=stored_at(software))
    builder.delete_key(stored_at(run))
    builder.key("ROOT", root=True, at=root, subkeys=[stored_at(software)])
    primary = builder.build(primary_sequence=567, secondary_sequence=566)
    after = hb.build_hive(hb.Key("ROOT", [hb.Key("Software"), hb.Key("Console", values=[
        hb.Value("ScreenColors", hb.REG_DWORD, 7)])]))
    pages = hb.changed_pages(primary, after)
    log1 = hb.new_format_log(566, [dict(hive_bins_data_size=len(after) - hb.BASE_BLOCK_SIZE, pages=pages)],
                             hive_bins_data_size=len(primary) - hb.BASE_BLOCK_SIZE)
    log2 = hb.new_format_log(562, [dict(hive_bins_data_size=len(primary) - hb.BASE_BLOCK_SIZE, pages=pages[:1])],
                             hive_bins_data_size=len(primary) - hb.BASE_BLOCK_SIZE)
    return primary, log1, log2


@pytest.fixture
def hive_folder(tmp_path: pathlib.Path, monkeypatch: pytest.MonkeyPatch) -> pathlib.Path:
    (tmp_path / "SYSTEM").write_bytes(system_hive())
    primary, log1, log2 = user_hive()
    (tmp_path / "NTUSER.DAT").write_bytes(primary)
    (tmp_path / "NTUSER.DAT.LOG1").write_bytes(log1)
    (tmp_path / "NTUSER.DAT.LOG2").write_bytes(log2)
    monkeypatch.chdir(tmp_path)
    return tmp_path


def python_blocks(text: str) -> List[str]:
    return re.findall(r"^```python\n(.*?)^```", text, flags=re.MULTILINE | re.DOTALL)


def comments(source: str) -> Dict[int, str]:
    """The comment of each line that has one, without the "#" and the spaces around it."""
    found = {}
    for token in tokenize.generate_tokens(io.StringIO(source).readline):
        if token.type == tokenize.COMMENT:
            found[token.start[0]] = token.string[1:].strip()
    return found


def printed_patterns(statement: ast.stmt, notes: Dict[int, str]) -> List[str]:
    """The comments on the last lines of the print calls inside `statement`."""
    patterns = []
    for node in ast.walk(statement):
        if isinstance(node, ast.Call) and isinstance(node.func, ast.Name) and node.func.id == "print":
            note = notes.get(node.end_lineno or node.lineno)
            if note is not None:
                patterns.append(note)
    return patterns


def matches(pattern: str, line: str) -> bool:
    return re.fullmatch(".*".join(re.escape(part) for part in pattern.split("...")), line) is not None


def run_document(path: pathlib.Path) -> int:
    """Runs every Python block of `path`; returns the number of printed lines checked."""
    namespace: Dict[str, object] = {"__name__": "__doc_example__"}
    checked = 0
    for block in python_blocks(path.read_text(encoding="utf-8")):
        notes = comments(block)
        for statement in ast.parse(block).body:
            output = io.StringIO()
            code = compile(ast.Module(body=[statement], type_ignores=[]), str(path), "exec")
            with contextlib.redirect_stdout(output):
                exec(code, namespace)
            lines = output.getvalue().splitlines()
            patterns = printed_patterns(statement, notes)
            where = "{} line {} of a block".format(path.name, statement.lineno)
            top_print = (isinstance(statement, ast.Expr) and isinstance(statement.value, ast.Call)
                         and isinstance(statement.value.func, ast.Name) and statement.value.func.id == "print")
            if top_print and patterns:
                assert matches(patterns[0], "\n".join(lines)), (where, patterns[0], lines)
            else:
                for pattern in patterns:
                    assert any(matches(pattern, line) for line in lines), (where, pattern, lines)
            checked += len(patterns)
    return checked


@pytest.mark.parametrize("path", DOCUMENTS, ids=lambda p: p.name)
def test_code_blocks_run_as_shown(hive_folder: pathlib.Path, path: pathlib.Path) -> None:
    assert run_document(path) > 0


def test_the_built_samples_read_like_the_real_ones(hive_folder: pathlib.Path) -> None:
    hive = tarnu.Hive.open("SYSTEM")
    assert hive.key("CurrentControlSet\\Services\\Tcpip").path() == "ControlSet001\\services\\Tcpip"
    report = tarnu.Hive.open_with_logs("NTUSER.DAT", "NTUSER.DAT.LOG1", "NTUSER.DAT.LOG2").replay_report()
    assert report is not None and report.recovered
    assert [log.used for log in report.logs] == [True, False]
    assert [type(record).__name__ for record in tarnu.Hive.open("NTUSER.DAT").deleted()] == ["DeletedKey"]


# ---- docs/api.md names everything public --------------------------------------------------------------------

def public_classes() -> Dict[str, type]:
    image = hb.build_hive(hb.Key("R"))
    hive = tarnu.Hive.from_bytes(image)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "hive")
        with open(path, "wb") as f:
            f.write(image)
        report = tarnu.Hive.open_with_logs(path, path).replay_report()  # the hive given as its own (useless) log
    assert report is not None
    found = {name: getattr(tarnu, name) for name in tarnu.__all__ if isinstance(getattr(tarnu, name), type)}
    found.update(Cell=tarnu.Cell, DeletedKey=tarnu.DeletedKey, DeletedValue=tarnu.DeletedValue, Record=tarnu.Record,
                 KeyWalk=type(hive.walk()), CellWalk=type(hive.cells()), ReplayReport=type(report),
                 LogReport=type(report.logs[0]))
    return found


def api_sections() -> Dict[str, str]:
    """The text of each "## `Name`" section of docs/api.md, by name."""
    text = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")
    parts = re.split(r"^## `([^`]+)`.*$", text, flags=re.MULTILINE)
    return dict(zip(parts[1::2], parts[2::2]))


@pytest.mark.parametrize("name, cls", sorted(public_classes().items()))
def test_api_names_every_public_member(name: str, cls: type) -> None:
    sections = api_sections()
    assert name in sections, "docs/api.md has no section for " + name
    members = {member for member in dir(cls) if not member.startswith("_")} - {"count", "index"}
    missing = sorted(member for member in members if not re.search(r"\b{}\b".format(member), sections[name]))
    assert not missing, missing


def test_api_names_every_module_function() -> None:
    text = (ROOT / "docs" / "api.md").read_text(encoding="utf-8")
    public = {name for name in dir(tarnu) if not name.startswith("_")} | {"__version__", "__all__", "InternalFault"}
    assert not sorted(name for name in public if "`" + name not in text and "." + name not in text)


def test_the_report_catalogue_table_lists_every_report() -> None:
    import tarnu.reports

    text = (ROOT / "docs" / "reports.md").read_text(encoding="utf-8")
    table = [line for line in text.splitlines() if line.startswith("| `")]
    expected = ["| `{}` | {} | {} | {} | {} |".format(
        r.name, r.category, ", ".join(r.hive_types), "<br>".join("`{}`".format(k) for k in r.keys),
        ", ".join(f for f in getattr(r.record, "_fields", ()) if f != "key"))
        for r in sorted(tarnu.reports.catalogue(), key=lambda r: (r.category, r.name))]
    assert table == expected
