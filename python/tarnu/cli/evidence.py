"""Evidence is never overwritten: an output that is one of the command's inputs is refused before it is opened.

The inputs are the hives (a file, every hive in a folder, or standard input when it is a file), the logs named on
the command line, and the logs beside each hive (HIVE.LOG, HIVE.LOG1, HIVE.LOG2 in any letter case, used or not).
Files are compared by device and file number, as os.path.samestat does (the volume and file id on Windows), so
another path, a hard link or a symbolic link to an input is found out as well as its own name.

Every command goes through `refuse_overwriting_inputs` before its output is opened: an argument whose name is in
INPUT_ARGUMENTS is an input, one in OUTPUT_ARGUMENTS an output, so a new command that names its arguments so is
covered too.
"""

from __future__ import annotations

import argparse
import os
from typing import Iterator, List, Optional

from .inputs import STDIN, is_primary_hive, primary_of_log
from .run import EXIT_USAGE, CommandError

# The argparse destinations that name inputs (files or folders of hives, logs, images) and outputs (files).
INPUT_ARGUMENTS = ("hives", "hive", "a", "b", "logs", "images")
OUTPUT_ARGUMENTS = ("output", "target")


def _stat(path: str) -> Optional[os.stat_result]:
    try:
        return os.stat(path)
    except (OSError, ValueError):
        return None


def _logs_of(hive: str) -> List[str]:
    """Every file beside `hive` named as one of its logs, whether the replay would use it or not."""
    folder, name = os.path.split(hive)
    try:
        entries = os.listdir(folder or ".")
    except OSError:
        return []
    wanted = {(name + suffix).lower() for suffix in (".log", ".log1", ".log2")}
    return [os.path.join(folder, entry) for entry in entries if entry.lower() in wanted]


def _is_primary(path: str) -> bool:
    try:
        return is_primary_hive(path)
    except OSError:
        return False


def _in_folder(folder: str, target: os.stat_result) -> Iterator[str]:
    """What the file in `folder` (recursively) that is `target` is, when it is a hive or a log of one."""
    for top, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(top, name)
            found = None if os.path.islink(path) else _stat(path)
            if found is None or not os.path.samestat(found, target):
                continue
            if _is_primary(path):
                yield "the hive " + path
            else:
                primary = primary_of_log(path)
                if primary is not None:
                    yield "{}, a log of the hive {}".format(path, primary)


def _evidence(args: argparse.Namespace, target: os.stat_result) -> Iterator[str]:
    """What each input that is the file `target` is."""
    for dest in INPUT_ARGUMENTS:
        value = getattr(args, dest, None)
        if value is None:
            continue
        for path in [value] if isinstance(value, str) else list(value):
            if path == STDIN:
                try:
                    found: Optional[os.stat_result] = os.fstat(0)
                except (OSError, ValueError):
                    found = None
                if found is not None and os.path.samestat(found, target):
                    yield "standard input"
                continue
            if os.path.isdir(path):
                yield from _in_folder(path, target)
                continue
            found = _stat(path)
            if found is not None and os.path.samestat(found, target):
                yield "{} {}".format("the log" if dest == "logs" else "the input", path)
            if dest in ("hives", "hive", "a", "b"):
                for log in _logs_of(path):
                    found = _stat(log)
                    if found is not None and os.path.samestat(found, target):
                        yield "{}, a log of the hive {}".format(log, path)


def refuse_overwriting_inputs(args: argparse.Namespace) -> None:
    """Ends the run with exit code 2 when an output of `args` is one of its inputs."""
    for dest in OUTPUT_ARGUMENTS:
        output = getattr(args, dest, None)
        if not isinstance(output, str):
            continue
        target = _stat(output)
        if target is None:
            continue  # nothing there yet, or a link to nothing: nothing to overwrite
        for what in _evidence(args, target):
            raise CommandError("refusing to write over {}: it is {}".format(output, what), EXIT_USAGE)
