"""Hive arguments: files, folders searched for hives by their content, standard input ("-"), and the logs beside
each hive."""

from __future__ import annotations

import argparse
import functools
import os
import re
import struct
import sys
from typing import List, NamedTuple, Optional, Sequence

import tarnu

from .run import EXIT_USAGE, CommandError, Run, reason

# A primary hive file begins with "regf" and has file type 0 at position 28 of its base block.
_HEADER_BYTES = 32
_FILE_TYPE_POSITION = 28

# The hive path that stands for standard input, and the most read from it: the bound of every input that is not a
# regular file (Hive.open_with_logs reads a pipe or device up to the same size).
STDIN = "-"
STDIN_LIMIT = 512 * 1024 * 1024

# Logs begin with a base block of file type 1 or 2 (old format) or 6 (new format); a log beside its primary is
# named after it with one of these suffixes, in any letter case.
_LOG_FILE_TYPES = (1, 2, 6)
_LOG_SUFFIX = re.compile(r"\.log[12]?$", re.IGNORECASE)


def add_hives_argument(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("hives", nargs="+", metavar="HIVE", help="hive files, or folders to search for them")


def add_output_argument(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("-o", "--output", metavar="FILE", help="write to FILE instead of stdout")


def is_primary_hive(path: str) -> bool:
    """Whether the file at `path` begins with the base block of a primary hive (logs have other file types)."""
    with open(path, "rb") as f:
        header = f.read(_HEADER_BYTES)
    return (len(header) == _HEADER_BYTES and header[:4] == b"regf"
            and struct.unpack_from("<I", header, _FILE_TYPE_POSITION)[0] == 0)


def is_log_file(path: str) -> bool:
    """Whether the file at `path` begins as a transaction log does: a base block of a log file type (1, 2 or 6),
    or the "HvLE" header of the reader's own layout."""
    with open(path, "rb") as f:
        header = f.read(_HEADER_BYTES)
    if header[:4] == b"HvLE":
        return True
    return (len(header) == _HEADER_BYTES and header[:4] == b"regf"
            and struct.unpack_from("<I", header, _FILE_TYPE_POSITION)[0] in _LOG_FILE_TYPES)


def primary_of_log(log: str) -> Optional[str]:
    """The primary hive beside the log file `log`: the file named as it is without its .LOG, .LOG1 or .LOG2 suffix
    (in any letter case), when it holds a primary hive; None otherwise."""
    folder, name = os.path.split(log)
    stem = _LOG_SUFFIX.sub("", name)
    if stem == name or not stem:
        return None
    try:
        entries = sorted(os.listdir(folder or "."))
    except OSError:
        return None
    for entry in sorted(entries, key=lambda entry: entry != stem):  # the exact name first
        path = os.path.join(folder, entry)
        try:
            if entry.lower() == stem.lower() and os.path.isfile(path) and is_primary_hive(path):
                return path
        except OSError:
            continue
    return None


def hives_in(folder: str, run: Run) -> List[str]:
    """Every primary hive file below `folder`, in a stable order; files that cannot be read are warned about."""
    found = []
    for top, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if os.path.islink(path) or not os.path.isfile(path):
                continue
            try:
                if is_primary_hive(path):
                    found.append(path)
            except OSError as error:
                run.warn("{}: {}".format(path, reason(error)))
    return found


def hive_paths(arguments: Sequence[str], run: Run) -> List[str]:
    """The hive files named by `arguments`: a file as it is, a folder as every hive file in it, recursively, and "-"
    (once at most) standard input."""
    if sum(1 for argument in arguments if argument == STDIN) > 1:
        raise CommandError("standard input ({}) can be read only once".format(STDIN), EXIT_USAGE)
    paths: List[str] = []
    for argument in arguments:
        if argument != STDIN and os.path.isdir(argument):
            found = hives_in(argument, run)
            if not found:
                run.fail("{}: no hive files in this folder".format(argument))
            paths.extend(found)
            run.swept.update(found)
        else:
            paths.append(argument)
    return paths


@functools.lru_cache(maxsize=1)
def stdin_bytes() -> bytes:
    """Standard input, read once and kept for every later use in this process; at most STDIN_LIMIT bytes."""
    data = sys.stdin.buffer.read(STDIN_LIMIT + 1)
    if len(data) > STDIN_LIMIT:
        raise CommandError("{}: standard input holds more than {} bytes, the most read from anything but a regular "
                           "file".format(STDIN, STDIN_LIMIT))
    return data


def input_size(path: str) -> int:
    """The size of a hive input in bytes."""
    return len(stdin_bytes()) if path == STDIN else os.path.getsize(path)


class Opened(NamedTuple):
    hive: tarnu.Hive
    logs: List[str]  # the logs replayed onto it
    found: List[str]  # the logs beside it, whether replayed or not


def open_hive(path: str, use_logs: bool, given: Optional[Sequence[str]] = None,
              ignore_checksum: bool = False) -> Opened:
    """Opens `path` with the logs given, or else (unless `use_logs` is false) with those beside it, recovering a
    dirty primary as Hive.open_recovered does. "-" reads the hive from standard input, with no logs. Opened without
    logs, a wrong base-block checksum is taken when `ignore_checksum` says so."""
    try:
        if path == STDIN:
            if given:
                raise CommandError("logs cannot be replayed onto a hive read from standard input", EXIT_USAGE)
            return Opened(tarnu.Hive.from_bytes(stdin_bytes(), ignore_checksum=ignore_checksum), [], [])
        if given is not None:
            if not use_logs:
                return Opened(tarnu.Hive.open(path, ignore_checksum=ignore_checksum), [], list(given))
            slots: List[Optional[str]] = list(given) + [None] * (2 - len(given))
            return Opened(tarnu.Hive.open_with_logs(path, slots[0], slots[1]), list(given), list(given))
        if use_logs:
            hive = tarnu.Hive.open_recovered(path)
            report = hive.replay_report()
            found = [log.path for log in report.logs] if report is not None else []
            return Opened(hive, found, found)
        return Opened(tarnu.Hive.open(path, ignore_checksum=ignore_checksum), [], tarnu.find_logs(path))
    except (OSError, ValueError, UnicodeError) as error:
        raise CommandError("{}: {}".format(path, reason(error)))


def dirty_note(path: str, opened: Opened) -> Optional[str]:
    """What to warn about a dirty hive whose latest changes were not recovered, or None."""
    report = opened.hive.replay_report()
    if report is not None and report.logs:
        if report.primary_dirty and not report.recovered:
            return "{} is dirty and its logs recovered nothing ({})".format(
                path, "; ".join("{}: {}".format(log.path, log.reason or log.stop_reason) for log in report.logs))
        return None
    if not opened.hive.base_block().is_dirty:
        return None
    if opened.found:
        return "{} is dirty; its logs were not applied (--no-logs)".format(path)
    return "{} is dirty and no logs were found beside it: its latest changes are missing".format(path)
