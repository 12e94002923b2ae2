"""dump, deleted, timeline and export-reg: the exports that the core writes itself (tarnu._export), chunk by chunk."""

from __future__ import annotations

import argparse
import os

from typing import Any, List, Tuple

import tarnu
import tarnu.reports

from . import report_rows
from .hives import Emit, Outcome, Task, for_each_hive
from .inputs import add_hives_argument, add_output_argument, dirty_note, hive_paths, open_hive
from .run import EXIT_USAGE, CommandError, Run, reason

# The root key that a .reg file names before the hive's own root, unless --prefix says otherwise.
DEFAULT_REG_ROOT = "HKEY_LOCAL_MACHINE"


def export_work(task: Task, emit: Emit) -> Outcome:
    """One hive through the core's exporter; the options are _export's keyword arguments, and artifacts=True adds
    the dated events of the reports after the key times. The keys and values counted are the live walk's, or
    recovery's when it is the only source."""
    options = dict(task.options)
    artifacts = options.pop("artifacts", False)
    try:
        opened = open_hive(task.path, task.use_logs)
        stream = tarnu._export(opened.hive, name=task.path, strict=task.strict, header=False, **options)
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    except tarnu.KeyNotFoundError as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)), missing_key=True)
    except (OSError, ValueError) as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)))
    problems = []
    for chunk in stream:
        emit(chunk)
        problems.extend(stream.problems())
    problems.extend(stream.problems())
    if task.options.get("sources") == "recovered":
        keys, values = stream.recovered_counts()
    else:
        keys, values, _ = stream.counts()
    if artifacts and not (task.strict and problems):
        text, notes = artifact_events(task.path, opened.hive, str(options["format"]))
        emit(text)
        problems.extend(notes)
    note = dirty_note(task.path, opened)
    return Outcome(task.path, notes=(note,) if note else (), problems=tuple(problems), keys=keys, values=values)


def run_export(run: Run, args: argparse.Namespace, hives: List[str], **options: Any) -> None:
    spreadsheet = bool(getattr(args, "spreadsheet", False))
    if spreadsheet and options["format"] not in ("csv", "timeline-csv"):
        raise CommandError("--spreadsheet goes with --format csv", EXIT_USAGE)
    options["spreadsheet"] = spreadsheet
    paths = hive_paths(hives, run)
    # The hives share one header (a CSV format's header line), written here; the core writes none for each.
    run.write(tarnu._export_header(options["format"], sources=options.get("sources", "live"), spreadsheet=spreadsheet))
    tasks = [Task(path, not args.no_logs, args.strict, dict(options)) for path in paths]
    for_each_hive(run, export_work, tasks, getattr(args, "jobs", 1))
    run.summary()


def dump(run: Run, args: argparse.Namespace) -> None:
    run_export(run, args, args.hives, format=args.format, key=args.key, binary="base64" if args.base64 else "hex",
               sources="live+recovered" if args.deleted else "live")


def artifact_events(path: str, hive: tarnu.Hive, format: str) -> Tuple[bytes, List[Tuple[str, str]]]:
    """The dated events of every report that applies to the hive, in the timeline's format, and the notes of what
    the reports could not read."""
    found, notes = [], []
    by_name = {r.name: r for r in tarnu.reports.catalogue()}
    for result in tarnu.reports.run(hive):
        if result.is_note:
            notes.append((result.record.key, "{}: {}".format(result.report, result.record.text)))
        else:
            found.append((by_name[result.report], result.record))
    return report_rows.timeline_events(path, report_rows.events(found), format), notes


def timeline(run: Run, args: argparse.Namespace) -> None:
    run_export(run, args, args.hives, format="bodyfile" if args.format == "bodyfile" else "timeline-csv",
               artifacts=args.artifacts, sources="live+recovered" if args.deleted else "live")


def export_reg(run: Run, args: argparse.Namespace) -> None:
    prefix = args.prefix
    if prefix is None:
        prefix = "{}\\{}".format(DEFAULT_REG_ROOT, os.path.basename(args.hive))
    run_export(run, args, [args.hive], format="reg", key=args.key, prefix=prefix)


def add_spreadsheet_argument(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--spreadsheet", action="store_true",
                        help="CSV for spreadsheet programs: a UTF-8 byte-order mark first, cells that would start a "
                             "formula led by ', and cells cut to 32,767 characters (ending in \u2026[cut])")


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "dump", parents=[common, many], help="every key and value as JSON Lines or CSV",
        description="Every key under PATH with its values, one row per value and one per key without values: "
                    "hive, key, last_written (ISO-8601 UTC), value (\"\" for the default), type, raw (the data "
                    "bytes in hex or base64) and data (decoded text, list of texts or number).")
    add_hives_argument(p)
    p.add_argument("-k", "--key", default="", metavar="PATH", help="start at this key (default: the root)")
    p.add_argument("--format", choices=["jsonl", "csv"], default="jsonl")
    p.add_argument("--base64", action="store_true", help="raw bytes in base64 instead of hex")
    p.add_argument("--deleted", action="store_true",
                   help="after each hive's keys, what recovery finds outside its live tree (see the deleted command); "
                        "every row gains the columns deleted, path_complete, offset and source")
    add_spreadsheet_argument(p)
    add_output_argument(p)
    p.set_defaults(handler=dump)

    p = commands.add_parser(
        "timeline", parents=[common, many], help="key last-written times, for mactime or as CSV",
        description="Key last-written times: a bodyfile that mactime reads (HIVE:\\path as the name, the time "
                    "as mtime), or CSV ordered by time within each hive.")
    add_hives_argument(p)
    p.add_argument("--format", choices=["bodyfile", "csv"], default="bodyfile")
    p.add_argument("--artifacts", action="store_true",
                   help="after each hive's key times, the dated events of the reports that apply to it (last "
                        "shutdown, first USB connection, ...), as \"key [report field]\", ordered by time")
    p.add_argument("--deleted", action="store_true",
                   help="the keys that recovery finds outside the live tree too, marked \"(deleted, SOURCE)\" in the "
                        "bodyfile and by the columns deleted, path_complete and source in CSV")
    add_spreadsheet_argument(p)
    add_output_argument(p)
    p.set_defaults(handler=timeline)

    p = commands.add_parser(
        "export-reg", parents=[common], help="a .reg file that regedit imports",
        description="A .reg file (UTF-16LE with BOM, CRLF, \"Windows Registry Editor Version 5.00\") of the key "
                    "at PATH and every key below it, with every value's bytes exactly as stored.")
    p.add_argument("hive", metavar="HIVE")
    p.add_argument("-k", "--key", default="", metavar="PATH", help="start at this key (default: the root)")
    p.add_argument("--prefix", metavar="ROOT",
                   help="the registry path the hive's root stands for (default: HKEY_LOCAL_MACHINE\\<file name>)")
    add_output_argument(p)
    p.set_defaults(handler=export_reg)
