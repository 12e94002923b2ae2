"""tarnu/__init__.pyi covers the module as it is: every public class, method and attribute has a type."""

import ast
import os
import pathlib
import tempfile
from typing import Dict, Set, Tuple

import pytest

import tarnu
from tarnu.hivebuilder import Key, build_hive

STUB = pathlib.Path(__file__).resolve().parents[1] / "python" / "tarnu" / "__init__.pyi"


def stub_names() -> Tuple[Dict[str, Set[str]], Set[str]]:
    """{class name: set of member names} and the set of top-level names of the stub."""
    tree = ast.parse(STUB.read_text())
    classes: Dict[str, Set[str]] = {}
    top: Set[str] = set()
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            classes[node.name] = {item.name for item in node.body if isinstance(item, ast.FunctionDef)} | {
                item.target.id for item in node.body
                if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name)}
            top.add(node.name)
        elif isinstance(node, ast.FunctionDef):
            top.add(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            top.add(node.target.id)
    return classes, top


def runtime_classes() -> Dict[str, type]:
    hive = tarnu.Hive.from_bytes(build_hive(Key("R")))
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "hive")
        with open(path, "wb") as f:
            f.write(build_hive(Key("R")))
        report = tarnu.Hive.open_with_logs(path, path).replay_report()  # the hive given as its own (useless) log
    assert report is not None
    found = {name: getattr(tarnu, name) for name in tarnu.__all__ if isinstance(getattr(tarnu, name), type)}
    found.update(Record=tarnu.Record, KeyWalk=type(hive.walk()), ExportStream=type(tarnu._export(hive, "count")),
                 ReplayReport=type(report), LogReport=type(report.logs[0]), CellWalk=type(hive.cells()))
    found.update({name: getattr(tarnu, name) for name in ("Cell", "DeletedKey", "DeletedValue") if hasattr(tarnu, name)})
    return found


@pytest.mark.parametrize("name, cls", sorted(runtime_classes().items()))
def test_every_public_member_has_a_type(name: str, cls: type) -> None:
    classes, _ = stub_names()
    public = {member for member in vars(cls) if not member.startswith("_")}
    if name == "Record":
        public -= {"n_fields", "n_sequence_fields", "n_unnamed_fields"} - classes[name]
    assert public <= classes[name], sorted(public - classes[name])


def test_every_module_function_has_a_type() -> None:
    _, top = stub_names()
    functions = {name for name in dir(tarnu) if callable(getattr(tarnu, name)) and not name.startswith("__")
                 and not isinstance(getattr(tarnu, name), type(tarnu))}
    assert functions <= top, sorted(functions - top)
