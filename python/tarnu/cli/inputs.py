"""Hive arguments: files, folders searched for hives by their content, and the logs beside each hive."""

from __future__ import annotations

import argparse
import os
import struct
from typing import List, NamedTuple, Optional, Sequence

import tarnu

from .run import CommandError, Run, reason

# A primary hive file begins with "regf" and has file type 0 at position 28 of its base block.
_HEADER_BYTES = 32
_FILE_TYPE_POSITION = 28


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
    """The hive files named by `arguments`: a file as it is, a folder as every hive file in it, recursively."""
    paths: List[str] = []
    for argument in arguments:
        if os.path.isdir(argument):
            found = hives_in(argument, run)
            if not found:
                run.fail("{}: no hive files in this folder".format(argument))
            paths.extend(found)
        else:
            paths.append(argument)
    return paths


def logs_beside(path: str) -> List[Optional[str]]:
    """[HIVE.LOG1, HIVE.LOG2] beside the hive, each None when absent; names match in any letter case."""
    log1, log2 = tarnu._logs_beside(path)
    return [log1, log2]


class Opened(NamedTuple):
    hive: tarnu.Hive
    logs: List[str]  # the logs replayed onto it
    found: List[str]  # the logs beside it, whether replayed or not


def open_hive(path: str, use_logs: bool, given: Optional[Sequence[str]] = None,
              ignore_checksum: bool = False) -> Opened:
    """Opens `path` with the logs given, or else (unless `use_logs` is false) with those beside it; without logs, a
    wrong base-block checksum is taken when `ignore_checksum` says so."""
    slots: List[Optional[str]] = logs_beside(path) if given is None else list(given) + [None] * (2 - len(given))
    found = [log for log in slots if log is not None]
    try:
        if use_logs and found:
            return Opened(tarnu.Hive.open_with_logs(path, slots[0], slots[1]), found, found)
        return Opened(tarnu.Hive.open(path, ignore_checksum=ignore_checksum), [], found)
    except (OSError, ValueError, UnicodeError) as error:
        raise CommandError("{}: {}".format(path, reason(error)))


def dirty_note(path: str, opened: Opened) -> Optional[str]:
    """What to warn about a dirty hive whose latest changes were not recovered, or None."""
    report = opened.hive.replay_report()
    if report is not None:
        if report.primary_dirty and not report.recovered:
            return "{} is dirty and its logs recovered nothing ({})".format(
                path, "; ".join("{}: {}".format(log.path, log.reason or log.stop_reason) for log in report.logs))
        return None
    if not opened.hive.base_block().is_dirty:
        return None
    if opened.found:
        return "{} is dirty; its logs were not applied (--no-logs)".format(path)
    return "{} is dirty and no logs were found beside it: its latest changes are missing".format(path)
