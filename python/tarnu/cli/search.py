"""search: a regular expression over key names, value names and string data, and with --artifacts over the text
fields of what the reports decode.

The rows come from tarnu.records, which the core makes in batches bounded in rows and bytes; the matching is Python's
own `re`, so patterns mean what they mean everywhere else in Python. Matches are written in chunks bounded the same
way, so a search holds no more than a batch and a chunk whatever the hive holds.
"""

from __future__ import annotations

import argparse
import json
import re
from typing import Callable, Iterator, List, Optional, Tuple

import tarnu
import tarnu.reports

from .browse import escaped
from .hives import Emit, Outcome, Task, for_each_hive
from .inputs import add_hives_argument, dirty_note, hive_paths, open_hive
from .run import CommandError, Run

# Matches are written once this many lines, or this many characters, are waiting: long data makes long lines.
LINES_PER_CHUNK = 1000
CHARACTERS_PER_CHUNK = 1 << 20

# The types whose data is text: REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ (each of its strings).
STRING_TYPES = frozenset((1, 2, 7))


def search_work(task: Task, emit: Emit) -> Outcome:
    options = task.options
    search = re.compile(options["pattern"], re.IGNORECASE if options["ignore_case"] else 0).search
    match_keys, match_values, match_data = options["keys"], options["values"], options["data"]
    try:
        opened = open_hive(task.path, task.use_logs)
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    keys = values = 0
    problems: List[Tuple[str, str]] = []
    last_key = None
    lines: List[str] = []
    held = 0  # characters in `lines`

    def found(kind: str, key: str, value: Optional[str], text: str = "") -> None:
        nonlocal held
        if options["jsonl"]:
            lines.append(json.dumps({"match": kind, "hive": task.path, "key": key, "value": value,
                                     "data": text if kind == "data" else None}, ensure_ascii=False))
        else:
            lines.append("\t".join((kind, task.path, escaped(key), "" if value is None else escaped(value),
                                    escaped(text))))
        held += len(lines[-1])

    def flush_when_full() -> None:
        nonlocal held
        if len(lines) >= LINES_PER_CHUNK or held >= CHARACTERS_PER_CHUNK:
            emit(("\n".join(lines) + "\n").encode("utf-8", "backslashreplace"))
            lines.clear()
            held = 0

    # The rows are unpacked rather than read by attribute: this loop runs once per value of the hive.
    for _, row_key, _, value, kind, _, data, problem in tarnu.records(opened.hive, name=task.path):
        key = row_key or ""  # None only in the error row of a hive that cannot be opened
        if problem is not None:
            problems.append((key, problem))
            if task.strict:
                break
            continue
        if key != last_key:
            last_key = key
            keys += 1
            if match_keys and search(key.rpartition("\\")[2]):
                found("key", key, None)
        if value is None:
            continue
        values += 1
        if match_values and search(value):
            found("value", key, value)
        if match_data and kind in STRING_TYPES:
            for text in [data] if isinstance(data, str) else data if isinstance(data, list) else []:
                if search(text):
                    found("data", key, value, text)
        flush_when_full()
    if options["artifacts"] and not (task.strict and problems):
        for report, key, field, text in artifact_matches(opened.hive, search, problems):
            if options["jsonl"]:
                lines.append(json.dumps({"match": "artifact", "hive": task.path, "key": key, "value": None,
                                         "data": text, "report": report, "field": field}, ensure_ascii=False))
            else:
                lines.append("\t".join(("artifact", task.path, escaped(key), "{}.{}".format(report, field),
                                        escaped(text))))
            held += len(lines[-1])
            flush_when_full()
    if lines:
        emit(("\n".join(lines) + "\n").encode("utf-8", "backslashreplace"))
    note = dirty_note(task.path, opened)
    return Outcome(task.path, notes=(note,) if note else (), problems=tuple(problems), keys=keys, values=values)


def artifact_matches(hive: tarnu.Hive, search: Callable[[str], object],
                     problems: List[Tuple[str, str]]) -> Iterator[Tuple[str, str, str, str]]:
    """(report, record key, field, text) of each record of the reports that apply to the hive whose text fields
    (a str, or a str of a list) match: one per record, naming the first field that does. What the reports cannot
    read joins `problems`."""
    for result in tarnu.reports.run(hive):
        if result.is_note:
            problems.append((result.record.key, "{}: {}".format(result.report, result.record.text)))
            continue
        fields = tarnu.reports.record_fields(result.record)
        key = str(fields.pop("key", "") or "")
        found = next(((name, text) for name, value in fields.items()
                      for text in ([value] if isinstance(value, str) else value if isinstance(value, list) else [])
                      if isinstance(text, str) and search(text)), None)
        if found is not None:
            yield result.report, key, found[0], found[1]


def search(run: Run, args: argparse.Namespace) -> None:
    try:
        re.compile(args.pattern)
    except re.error as error:
        raise CommandError("bad pattern {!r}: {}".format(args.pattern, error), 2)
    everything = not (args.keys or args.values or args.data)
    options = {"pattern": args.pattern, "ignore_case": args.ignore_case, "jsonl": args.format == "jsonl",
               "keys": args.keys or everything, "values": args.values or everything,
               "data": args.data or everything, "artifacts": args.artifacts}
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
    p.add_argument("--artifacts", action="store_true",
                   help="also match the text fields of the records of the reports that apply to each hive (the "
                        "decoded UserAssist names, shell bag paths, ...): one line per record, \"artifact\", "
                        "hive, the record's key, REPORT.FIELD and the text that matched")
    p.add_argument("--format", choices=["text", "jsonl"], default="text")
    p.set_defaults(handler=search)

