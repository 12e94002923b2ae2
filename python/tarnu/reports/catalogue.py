"""Finding reports and running them.

Reports come from three places, found the same way by the command and the API: the modules of the package
``tarnu.reports.artifacts`` (the built-in reports, one module per family), the entry-point group
``tarnu.reports`` of installed packages, and folders of ``.py`` files named by the caller. In each module, every
``Report`` instance (a decorated function, a ValuesReport), every list or tuple of them, and every subclass of
Report defined there with a name is a report.
"""

from __future__ import annotations

import importlib
import importlib.util
import inspect
import os
import pkgutil
import sys
import types
from typing import Any, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple

import tarnu

from .framework import Report, Result, run_report

ENTRY_POINT_GROUP = "tarnu.reports"

_built_in: Optional[List[Report]] = None
_from_folders: Dict[str, List[Report]] = {}


def reports_in(thing: Any) -> List[Report]:
    """The reports that a module, a Report, a Report subclass or a list of them holds."""
    if isinstance(thing, Report):
        return [thing]
    if inspect.isclass(thing):
        return [thing()] if issubclass(thing, Report) and thing.name else []
    if isinstance(thing, (list, tuple)):
        return [r for item in thing if isinstance(item, Report) or inspect.isclass(item) for r in reports_in(item)]
    if isinstance(thing, types.ModuleType):
        found: List[Report] = []
        for name, item in vars(thing).items():
            if name.startswith("_") or isinstance(item, types.ModuleType):
                continue  # a module imported by this one is not part of it
            if inspect.isclass(item) and getattr(item, "__module__", None) != thing.__name__:
                continue  # a class imported from elsewhere is that module's report
            found.extend(reports_in(item))
        return found
    return []


def _built_in_reports() -> List[Report]:
    global _built_in
    if _built_in is None:
        from . import artifacts

        found: List[Report] = []
        for module in sorted(pkgutil.iter_modules(artifacts.__path__), key=lambda m: m.name):
            if module.name.startswith("_"):
                continue
            found.extend(reports_in(importlib.import_module("{}.{}".format(artifacts.__name__, module.name))))
        found.extend(_entry_point_reports())
        _built_in = found
    return _built_in


def _entry_point_reports() -> List[Report]:
    try:
        from importlib import metadata
    except ImportError:  # pragma: no cover - every supported Python has it
        return []
    points: Iterable[Any]
    all_points = metadata.entry_points()
    if hasattr(all_points, "select"):
        points = all_points.select(group=ENTRY_POINT_GROUP)
    else:  # Python 3.8 and 3.9: a dict of groups
        points = dict(all_points).get(ENTRY_POINT_GROUP, [])
    found: List[Report] = []
    for point in points:
        found.extend(reports_in(point.load()))
    return found


def load_folder(folder: str) -> List[Report]:
    """The reports of every .py file in `folder` (not its subfolders), in name order; each file is imported once
    per process. Raises ValueError for a folder that cannot be read and for a file that fails to import."""
    key = os.path.abspath(folder)
    if key in _from_folders:
        return _from_folders[key]
    try:
        names = sorted(name for name in os.listdir(key) if name.endswith(".py"))
    except OSError as error:
        raise ValueError("cannot read the reports folder {}: {}".format(folder, error.strerror or error))
    found: List[Report] = []
    for name in names:
        path = os.path.join(key, name)
        module_name = "tarnu_user_reports_{}_{}".format(abs(hash(key)), name[:-3])
        spec = importlib.util.spec_from_file_location(module_name, path)
        if spec is None or spec.loader is None:
            raise ValueError("cannot load the reports in {}".format(path))
        module = importlib.util.module_from_spec(spec)
        sys.modules[module_name] = module
        try:
            spec.loader.exec_module(module)
        except Exception as error:  # noqa: BLE001 - a user's module may fail in any way; say which and why
            del sys.modules[module_name]
            raise ValueError("cannot load the reports in {}: {}: {}".format(path, type(error).__name__, error))
        found.extend(reports_in(module))
    _from_folders[key] = found
    return found


def catalogue(folders: Sequence[str] = ()) -> List[Report]:
    """Every report: the built-in ones, those of installed packages and those in `folders`, checked, in that
    order. Raises ValueError for an incomplete description and for two reports of one name."""
    reports = list(_built_in_reports())
    for folder in folders:
        reports.extend(load_folder(folder))
    seen: Dict[str, Report] = {}
    for item in reports:
        item.check()
        if item.name in seen and seen[item.name] is not item:
            raise ValueError("two reports are named {!r}".format(item.name))
        seen[item.name] = item
    return list(seen.values())


def select(names: Optional[Sequence[str]] = None, folders: Sequence[str] = ()) -> List[Report]:
    """The reports named (all of them for None); ValueError for a name that no report has."""
    reports = catalogue(folders)
    if names is None:
        return reports
    by_name = {r.name: r for r in reports}
    unknown = [name for name in names if name not in by_name]
    if unknown:
        raise ValueError("no report is named {} (tarnu report --list shows them)".format(
            ", ".join(repr(n) for n in unknown)))
    return [by_name[name] for name in dict.fromkeys(names)]


def applicable(hive_type: str, reports: Sequence[Report], named: bool) -> Tuple[Report, ...]:
    """The reports that apply to a hive of `hive_type`; reports asked for by name also run on a hive of unknown
    type (whose damage may hide what it is)."""
    return tuple(r for r in reports if hive_type in r.hive_types or (named and hive_type == "unknown"))


def run(hive: tarnu.Hive, names: Optional[Sequence[str]] = None, folders: Sequence[str] = ()) -> Iterator[Result]:
    """Runs every report that applies to the hive's type (only those named, when `names` is given) and yields
    their results, report after report: records, and the notes of what could not be read. No report's failure
    stops the others."""
    reports = select(names, folders)
    try:
        hive_type = hive.hive_type()
    except ValueError:
        hive_type = "unknown"
    for item in applicable(hive_type, reports, names is not None):
        yield from run_report(hive, hive_type, item)
