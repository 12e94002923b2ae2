"""search: a regular expression over key names, value names and string data.

The rows come from tarnu.records, which the core makes in batches; the matching is Python's own `re`, so
patterns mean what they mean everywhere else in Python.
"""

from __future__ import annotations

import argparse
import json
import re
from typing import List, Tuple

import tarnu

from .browse import escaped
from .hives import Emit, Outcome, Task, for_each_hive
from .inputs import add_hives_argument, dirty_note, hive_paths, open_hive
from .run import CommandError, Run

REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ = 1, 2, 7


def texts_of(row: tarnu.Record) -> List[str]:
    """The string data of a row: its text, or each text of a REG_MULTI_SZ."""
    if row.type in (REG_SZ, REG_EXPAND_SZ) and isinstance(row.data, str):
        return [row.data]
    if row.type == REG_MULTI_SZ and isinstance(row.data, list):
        return row.data
    return []


def search_work(task: Task, emit: Emit) -> Outcome:
    options = task.options
    pattern = re.compile(options["pattern"], re.IGNORECASE if options["ignore_case"] else 0)
    try:
        opened = open_hive(task.path, task.use_logs)
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    keys = values = 0
    problems: List[Tuple[str, str]] = []
    last_key = None
    lines: List[str] = []

    def found(kind: str, row: tarnu.Record, text: str = "") -> None:
        if options["jsonl"]:
            lines.append(json.dumps({"match": kind, "hive": task.path, "key": row.key, "value": row.value,
                                     "data": text if kind == "data" else None}, ensure_ascii=False))
        else:
            value = "" if row.value is None else escaped(row.value)
            lines.append("\t".join((kind, task.path, escaped(row.key or ""), value, escaped(text))))

    for row in tarnu.records(opened.hive, name=task.path):
        if row.error is not None:
            problems.append((row.key or "", row.error))
            if task.strict:
                break
            continue
        if row.key != last_key:
            last_key = row.key
            keys += 1
            name = (row.key or "").rpartition("\\")[2]
            if options["keys"] and pattern.search(name):
                found("key", row)
        if row.value is None:
            continue
        values += 1
        if options["values"] and pattern.search(row.value):
            found("value", row)
        if options["data"]:
            for text in texts_of(row):
                if pattern.search(text):
                    found("data", row, text)
        if len(lines) >= 1000:
            emit(("\n".join(lines) + "\n").encode("utf-8", "backslashreplace"))
            lines.clear()
    if lines:
        emit(("\n".join(lines) + "\n").encode("utf-8", "backslashreplace"))
    note = dirty_note(task.path, opened)
    return Outcome(task.path, notes=(note,) if note else (), problems=tuple(problems), keys=keys, values=values)


def search(run: Run, args: argparse.Namespace) -> None:
    try:
        re.compile(args.pattern)
    except re.error as error:
        raise CommandError("bad pattern {!r}: {}".format(args.pattern, error), 2)
    everything = not (args.keys or args.values or args.data)
    options = {"pattern": args.pattern, "ignore_case": args.ignore_case, "jsonl": args.format == "jsonl",
               "keys": args.keys or everything, "values": args.values or everything,
               "data": args.data or everything}
    paths = hive_paths(args.hives, run)
    tasks = [Task(path, not args.no_logs, args.strict, options) for path in paths]
    for_each_hive(run, search_work, tasks, args.jobs)
    run.summary()


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "search", parents=[common, many], help="a regular expression over names and string data",
        description="Search key names, value names and string data (REG_SZ, REG_EXPAND_SZ, each string of "
                    "REG_MULTI_SZ) with a Python regular expression; all three unless some are chosen. One line "
                    "per match: what matched (key, value or data), hive, key path, value name, data; "
                    "tab-separated, with control characters escaped.")
    add_hives_argument(p)
    p.add_argument("pattern", metavar="PATTERN")
    p.add_argument("--keys", action="store_true", help="match key names")
    p.add_argument("--values", action="store_true", help="match value names")
    p.add_argument("--data", action="store_true", help="match string data")
    p.add_argument("-i", "--ignore-case", action="store_true")
    p.add_argument("--format", choices=["text", "jsonl"], default="text")
    p.set_defaults(handler=search)

