"""report: the answers of tarnu.reports for each hive, as rows (report_rows), with what could not be read as
warnings (exit code 3)."""

from __future__ import annotations

import argparse
from typing import Any, Dict, List, Optional, Sequence

import tarnu
import tarnu.reports

from . import report_rows
from .hives import Emit, Outcome, Task, for_each_hive
from .inputs import add_output_argument, dirty_note, hive_paths, open_hive
from .run import EXIT_USAGE, CommandError, Run, plural, reason


def chosen(names: Optional[Sequence[str]], folders: Sequence[str]) -> List[tarnu.reports.Report]:
    try:
        return tarnu.reports.select(names, folders)
    except ValueError as error:
        raise CommandError(str(error), EXIT_USAGE)


def report_work(task: Task, emit: Emit) -> Outcome:
    """Every report that applies to one hive; each report's records are written together."""
    try:
        opened = open_hive(task.path, task.use_logs)
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    names = task.options["names"]
    reports = chosen(names, task.options["folders"])
    try:
        hive_type = opened.hive.hive_type()
    except ValueError as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)))
    problems = []
    for item in tarnu.reports.applicable(hive_type, reports, names is not None):
        records: List[Any] = []
        for result in tarnu.reports.run_report(opened.hive, hive_type, item):
            if result.is_note:
                problems.append((result.record.key, "{}: {}".format(result.report, result.record.text)))
            else:
                records.append(result.record)
        emit(report_rows.formatted(task.path, item, records, task.options["format"]))
        if task.strict and problems:
            break
    notes = [note for note in [dirty_note(task.path, opened)] if note]
    if hive_type == "unknown" and names is None:
        notes.append("{}: the hive's type is unknown, so no report applies; --artifact NAME runs one".format(
            task.path))
    return Outcome(task.path, notes=tuple(notes), problems=tuple(problems))


def report(run: Run, args: argparse.Namespace) -> None:
    folders = list(args.reports or [])
    if args.list:
        run.write(report_rows.report_list(chosen(None, folders)))
        return
    if not args.hives:
        raise CommandError("give the hives to report on (or --list)", EXIT_USAGE)
    chosen(args.artifact, folders)  # an unknown name is bad usage, before any hive is read
    paths = hive_paths(args.hives, run)
    if args.format == "csv":
        run.write(report_rows.CSV_HEADER.encode("ascii"))
    options: Dict[str, Any] = {"names": args.artifact, "folders": folders, "format": args.format}
    tasks = [Task(path, not args.no_logs, args.strict, options) for path in paths]
    for_each_hive(run, report_work, tasks, args.jobs)
    if run.hives:
        run.message("tarnu: {}, {} of what could not be read".format(plural(run.hives, "hive"),
                                                                      plural(run.skipped, "note")))


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "report", parents=[common, many], help="answers: computer name, services, USB devices, accounts...",
        description="Runs every report that applies to each hive's type (tarnu info shows the type) and writes "
                    "its records as rows of hive, artifact, key, time (the record's main time, ISO-8601 UTC) and "
                    "fields. What a report cannot read is a warning, and the exit code is then 3.")
    p.add_argument("hives", nargs="*", metavar="HIVE", help="hive files, or folders to search for them")
    p.add_argument("--artifact", action="append", metavar="NAME",
                   help="run only this report (repeatable); it then also runs on hives of unknown type")
    p.add_argument("--format", choices=["jsonl", "csv", "table"], default="jsonl")
    p.add_argument("--list", action="store_true", help="list the reports with their hive types and categories")
    p.add_argument("--reports", action="append", metavar="DIR",
                   help="also load the reports in the .py files of DIR (repeatable; see docs/reports.md)")
    add_output_argument(p)
    p.set_defaults(handler=report)

