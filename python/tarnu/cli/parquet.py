"""dump --format parquet: the rows of tarnu.arrow written as Parquet through pyarrow (the extra ``tarnu[parquet]``).

One hive file named on the command line is written to the file -o names; several hives, or a folder of them, to the
folder -o names (made when missing, and empty), one file per hive: a Parquet data set that DuckDB, polars, pandas or
Dask read whole. Each hive's file is written by the process that reads the hive (with --jobs, a worker), so no rows
pass through another. A key or value that cannot be read is an error row in the file and a warning, as in dump.
"""

from __future__ import annotations

import argparse
import os
from typing import Any, List, Tuple

import tarnu

from .hives import Emit, Outcome, Task, for_each_hive, started
from .inputs import STDIN, Opened, dirty_note, hive_paths, open_hive
from .run import EXIT_USAGE, CommandError, Run, _is_hive, reason

INSTALL_HINT = "--format parquet needs pyarrow: pip install 'tarnu[parquet]'"


def prepare(args: argparse.Namespace) -> None:
    """Before the run opens its output: a Parquet output is written by this module, not as a stream, so -o moves to
    `target` (which is still refused when it is an input)."""
    if args.format != "parquet":
        return
    try:
        import pyarrow.parquet  # noqa: F401
    except ImportError:
        raise CommandError(INSTALL_HINT, EXIT_USAGE)
    if args.output is None:
        raise CommandError("--format parquet writes files: give -o FILE (-o FOLDER for several hives)", EXIT_USAGE)
    if args.spreadsheet or args.base64:
        raise CommandError("--spreadsheet and --base64 go with --format jsonl or csv", EXIT_USAGE)
    args.target, args.output = args.output, None


def targets(args: argparse.Namespace, paths: List[str]) -> List[str]:
    """The file of each hive: -o itself for one hive file, else one file per hive in the folder -o."""
    if len(args.hives) == 1 and not os.path.isdir(args.hives[0]):
        if _is_hive(args.target):
            raise CommandError("refusing to write over {}: it is a hive file".format(args.target), EXIT_USAGE)
        return [args.target]
    folder = args.target
    try:
        os.makedirs(folder, exist_ok=True)
        if os.listdir(folder):
            raise CommandError("refusing to write into {}: it is not empty".format(folder), EXIT_USAGE)
    except OSError as error:
        raise CommandError("cannot write {}: {}".format(folder, reason(error)))
    return [os.path.join(folder, "{:05d}-{}.parquet".format(i, "stdin" if path == STDIN else os.path.basename(path)))
            for i, path in enumerate(paths)]


def parquet_work(task: Task, emit: Emit) -> Outcome:
    """One hive's rows into its Parquet file. Under --strict the file ends before the first error row."""
    import pyarrow
    import pyarrow.parquet

    key = task.options["key"]

    def start() -> Opened:
        opened = open_hive(task.path, task.use_logs)
        if key:
            opened.hive.key(key)
        return opened

    opened = started(task, start)
    if isinstance(opened, Outcome):
        return opened
    rows = tarnu.arrow(opened.hive, name=task.path, key=key, deleted=task.options["deleted"])
    problems: List[Tuple[str, str]] = []
    target = task.options["target"]
    try:
        reader = pyarrow.RecordBatchReader.from_stream(rows)
        with pyarrow.parquet.ParquetWriter(target, reader.schema) as writer:
            for batch in reader:
                found = error_rows(batch)
                if task.strict and found:
                    writer.write_batch(batch.slice(0, found[0][0]))
                    problems.append(found[0][1])
                    break
                writer.write_batch(batch)
                problems.extend(problem for _, problem in found)
    except OSError as error:
        return Outcome(task.path, error="cannot write {}: {}".format(target, reason(error)))
    keys, values, _ = rows.counts()
    note = dirty_note(task.path, opened)
    return Outcome(task.path, notes=(note,) if note else (), problems=tuple(problems), keys=keys, values=values)


def error_rows(batch: Any) -> List[Tuple[int, Tuple[str, str]]]:
    """The (row, (key path, message)) of each error row of a batch."""
    errors = batch.column("error")
    if errors.null_count == len(errors):
        return []
    keys = batch.column("key").to_pylist()
    return [(i, (keys[i] or "", message)) for i, message in enumerate(errors.to_pylist()) if message is not None]


def dump(run: Run, args: argparse.Namespace) -> None:
    paths = hive_paths(args.hives, run)
    tasks = [Task(path, not args.no_logs, args.strict, dict(target=target, key=args.key, deleted=args.deleted))
             for path, target in zip(paths, targets(args, paths))]
    for_each_hive(run, parquet_work, tasks, args.jobs)
    run.summary()
