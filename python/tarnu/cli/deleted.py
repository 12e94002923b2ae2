"""deleted, and dump --deleted: the keys and values that recovery finds in a hive's free cells (Hive.deleted()),
as rows in the layout of dump's, with three more columns: "deleted" (true), "path_complete" (whether the key's
path reaches the root) and "offset" (the cell offset of the key or value).

A recovered key gives one row per value that its value list still names, or one row without a value; a value that
no recovered key lists gives a row whose key is null. A value whose data cell has been reused has raw and data
null. A value's name is as DeletedValue.name() gives it ("(default)" for the unnamed value).
"""

from __future__ import annotations

import argparse
import base64
import csv
import io
import json
from typing import Any, Dict, Iterator, List, Tuple, Union

import tarnu

from .browse import iso_time
from .hives import Emit, Outcome, Task, for_each_hive
from .inputs import add_hives_argument, add_output_argument, dirty_note, hive_paths, open_hive
from .run import CommandError, Run, reason

# The columns of dump's rows, then those of recovery.
COLUMNS = ("hive", "key", "last_written", "value", "type", "raw", "data", "deleted", "path_complete", "offset")
CSV_HEADER = ",".join(COLUMNS) + "\r\n"

def decoded(value: tarnu.DeletedValue) -> Union[str, List[str], int, None]:
    """The decoded data as the exports write it: text, a list of texts or a number; None otherwise."""
    try:
        data = value.data()
    except ValueError:
        return None
    result = None if data is None else data.value()
    return None if isinstance(result, bytes) else result


def rows(path: str, records: List[Union[tarnu.DeletedKey, tarnu.DeletedValue]],
         binary: str) -> Iterator[Dict[str, Any]]:
    """The rows of what recovery finds, in cell-offset order; a value row of a key keeps the key's offset as
    "key_offset", for counting."""

    def value_row(head: Dict[str, Any], value: tarnu.DeletedValue) -> Dict[str, Any]:
        raw = value.raw_data()
        text = None if raw is None else raw.hex() if binary == "hex" else base64.b64encode(raw).decode("ascii")
        row = dict(head, value=value.name(), type=value.value_type().type_name(), raw=text, data=decoded(value))
        row["offset"] = value.cell_offset()
        return row

    for record in records:
        if isinstance(record, tarnu.DeletedKey):
            head = {"hive": path, "key": record.path(), "last_written": iso_time(record.last_written_filetime()),
                    "value": None, "type": None, "raw": None, "data": None, "deleted": True,
                    "path_complete": record.is_path_complete(), "offset": record.cell_offset()}
            values = record.values()
            if not values:
                yield head
            for value in values:
                yield dict(value_row(head, value), key_offset=record.cell_offset())
        else:
            yield value_row({"hive": path, "key": None, "last_written": None, "deleted": True,
                             "path_complete": None}, record)


def csv_field(value: Any) -> str:
    if value is None:
        return ""
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, list):
        return json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    return str(value)


def formatted(found: Iterator[Dict[str, Any]], format: str) -> bytes:
    """Rows in the text of dump's JSON Lines or CSV."""
    if format == "jsonl":
        return "".join(json.dumps({column: row[column] for column in COLUMNS}, ensure_ascii=False,
                                  separators=(",", ":")) + "\n" for row in found).encode("utf-8")
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\r\n")
    for row in found:
        writer.writerow([csv_field(row[column]) for column in COLUMNS])
    return out.getvalue().encode("utf-8")


def recovered(path: str, hive: tarnu.Hive, format: str, binary: str) -> Tuple[bytes, int, int]:
    """The text of what recovery finds in `hive`, with the numbers of keys and of values found."""
    found = list(rows(path, hive.deleted(), binary))
    keys = len({row["offset"] for row in found if row["value"] is None} |
               {row["key_offset"] for row in found if row.get("key_offset") is not None})
    for row in found:
        row.pop("key_offset", None)
    return formatted(iter(found), format), keys, sum(1 for row in found if row["value"] is not None)


def deleted_work(task: Task, emit: Emit) -> Outcome:
    try:
        opened = open_hive(task.path, task.use_logs)
        text, keys, values = recovered(task.path, opened.hive, task.options["format"], task.options["binary"])
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    except (OSError, ValueError) as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)))
    emit(text)
    note = dirty_note(task.path, opened)
    return Outcome(task.path, notes=(note,) if note else (), keys=keys, values=values)


def deleted(run: Run, args: argparse.Namespace) -> None:
    paths = hive_paths(args.hives, run)
    if args.format == "csv":
        run.write(CSV_HEADER.encode("ascii"))
    options = {"format": args.format, "binary": "base64" if args.base64 else "hex"}
    for_each_hive(run, deleted_work, [Task(path, not args.no_logs, args.strict, options) for path in paths],
                  args.jobs)
    run.summary()


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "deleted", parents=[common, many], help="keys and values recovered from free cells",
        description="The keys and values that the hive's free cells still hold, in dump's row layout with three "
                    "more columns: deleted (true), path_complete (whether the key's path reaches the root) and "
                    "offset (the cell offset of the key or value).")
    add_hives_argument(p)
    p.add_argument("--format", choices=["jsonl", "csv"], default="jsonl")
    p.add_argument("--base64", action="store_true", help="raw bytes in base64 instead of hex")
    add_output_argument(p)
    p.set_defaults(handler=deleted)
