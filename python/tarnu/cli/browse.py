"""info, ls and get: a hive's header and what its replay does, a key's contents, one value."""

from __future__ import annotations

import argparse
import datetime
import json
import os
from typing import Any, Dict, List, Optional, Tuple

import tarnu

from .hives import Emit, Outcome, Task, for_each_hive
from .inputs import (STDIN, Opened, add_hives_argument, dirty_note, hive_paths, input_size, is_log_file, open_hive,
                     primary_of_log)
from .run import CommandError, Run, plural, reason

# The base block, which the hive bins follow.
BASE_BLOCK_SIZE = 4096

_FILETIME_EPOCH = datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)


def iso_time(filetime: int) -> Optional[str]:
    """As the exports write a time: ISO-8601 UTC with microseconds; None for 0 and past the year 9999."""
    if filetime == 0:
        return None
    try:
        return (_FILETIME_EPOCH + datetime.timedelta(microseconds=filetime // 10)).isoformat(timespec="microseconds")
    except OverflowError:
        return None


def filetime_text(filetime: int) -> str:
    """A time to show: ISO-8601 as the exports write it; "" where they write null (0 and past the year 9999)."""
    text = iso_time(filetime)
    return text if text is not None else ""


def escaped(text: str) -> str:
    """Text on one line: tabs, line breaks and other control characters written as Python escapes."""
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in text)


def data_text(value: tarnu.RegistryValue) -> str:
    """A value's data on one line: text as it is, numbers in decimal, lists as JSON, other bytes in hex."""
    try:
        data = value.data().value()
    except ValueError:
        return value.raw_data().hex()
    if isinstance(data, str):
        return escaped(data)
    if isinstance(data, list):
        return json.dumps(data, ensure_ascii=False)
    if isinstance(data, int):
        return str(data)
    return value.raw_data().hex()


# ---- info ---------------------------------------------------------------------------------------------------------

def replay_text(opened: Opened, applied: bool) -> str:
    """What the replay of the logs beside the hive did, or would do."""
    report = opened.hive.replay_report()
    if report is None or not report.logs:
        return "no logs" if not opened.found else "not applied"
    if not report.primary_dirty:
        what = "nothing: the primary is clean"
    elif report.recovered:
        pages = sum(log.pages_applied for log in report.logs)
        what = "recovers sequences {}..{}, {} pages".format(report.first_sequence, report.last_sequence, pages)
    else:
        what = "nothing: the primary is dirty and no log is usable"
    logs = "; ".join("{}: {}, {}".format(os.path.basename(log.path), log.kind,
                                         "used, " + (log.stop_reason or "") if log.used else "not used, " + (log.reason or ""))
                     for log in report.logs)
    return "{} ({}){}".format(what, logs, "" if applied else " [not applied: --no-logs]")


def hive_info(path: str, use_logs: bool,
              ignore_checksum: bool = False) -> Tuple[Dict[str, Any], Opened, List[Tuple[str, str, str]]]:
    """What info shows of one hive, the hive as the other commands read it, and what of it could not be read (key
    path, message, error kind)."""
    try:
        replayed = open_hive(path, True)  # for the report of what the logs do, even when they are not applied
    except CommandError:
        if not ignore_checksum:
            raise
        # Logs that cannot repair the base block (or none): the file's own block, its checksum set aside.
        replayed = open_hive(path, False, ignore_checksum=True)
    damage = None
    try:
        primary = open_hive(path, False, ignore_checksum=ignore_checksum) if replayed.logs else replayed
    except CommandError as error:
        if not use_logs:
            raise
        primary = replayed  # a base block that only the logs repair: the repaired one is shown
        damage = str(error)
    read = replayed if use_logs else primary
    base = primary.hive.base_block()  # as stored in the file, unless only the logs make it readable
    keys, values, skipped, problems = tarnu._survey(read.hive)
    size = input_size(path)
    outside = read.hive.deleted_counts()
    passed_over = outside.pop("passed_over")
    try:
        root_name = read.hive.root_key().name()
        hive_type = read.hive.hive_type()
        type_note = read.hive.hive_type_note()
        if type_note is not None:
            hive_type = "{} ({})".format(hive_type, type_note)
    except ValueError as error:
        root_name = hive_type = "<{}>".format(reason(error))
    info = {
        "hive": path,
        "base_block": "as stored" if damage is None else "from the logs; the file's cannot be read: " + damage,
        "version": "{}.{}".format(base.major_version, base.minor_version),
        "file_type": base.file_type,
        "sequence_numbers": [base.primary_sequence, base.secondary_sequence],
        "dirty": base.is_dirty,
        "last_written": filetime_text(base.last_written),
        "root_offset": base.root_cell_offset,
        "root_key": root_name,
        "hive_type": hive_type,
        "hive_bins_data_size": base.hive_bins_data_size,
        "file_size": size,
        "truncated": size < BASE_BLOCK_SIZE + base.hive_bins_data_size,
        "file_name": base.file_name,
        "checksum_ok": base.checksum_ok,
        "logs": replayed.found,
        "logs_applied": bool(read.logs),
        "replay": replay_text(replayed, use_logs),
        "keys": keys,
        "values": values,
        "skipped": skipped,
        "outside_tree": outside,
        "passed_over": passed_over,
    }
    return info, read, problems


def log_info(path: str) -> Dict[str, Any]:
    """What info shows of a transaction log on its own: its format and what that reads in it, and its primary."""
    described = tarnu._describe_log(path)
    return {
        "log": path,
        "format": described["kind"],
        "usable": described["usable"],
        "reason": described["reason"],
        "sequence_numbers": list(described["sequences"]),
        "hive_bins_data_size": described["hive_bins_data_size"],
        "entries": described["entries"],
        "pages": described["pages"],
        "stop": described["stop"],
        "file_size": os.path.getsize(path),
        "primary": primary_of_log(path),
    }


def truncation_note(path: str, info: Dict[str, Any]) -> Optional[str]:
    if not info["truncated"]:
        return None
    return "{} is truncated: {} bytes, where its base block states {} ({} + hive bins data size {:#x})".format(
        path, info["file_size"], BASE_BLOCK_SIZE + info["hive_bins_data_size"], BASE_BLOCK_SIZE,
        info["hive_bins_data_size"])


def checksum_note(path: str, info: Dict[str, Any]) -> Optional[str]:
    if info["checksum_ok"]:
        return None
    return "{}: the base block's checksum is wrong; read as it stands (--ignore-checksum)".format(path)


def kinds_summary(path: str, problems: List[Tuple[str, str, str]]) -> str:
    """One line counting what could not be read by the kind of its error, most frequent first."""
    counts: Dict[str, int] = {}
    for _, _, kind in problems:
        counts[kind] = counts.get(kind, 0) + 1
    kinds = sorted(counts.items(), key=lambda item: (-item[1], item[0]))
    return "{}: {} not read: {}".format(path, plural(len(problems), "part"),
                                        ", ".join("{} {}".format(count, kind) for kind, count in kinds))


def shown(value: Any) -> str:
    """A field of info on its line: a list joined with commas, counts by name as "name n"."""
    if isinstance(value, list):
        return ", ".join(str(v) for v in value)
    if isinstance(value, dict):
        return ", ".join("{} {}".format(name, count) for name, count in value.items())
    return str(value)


def info_work(task: Task, emit: Emit) -> Outcome:
    try:
        if task.path != STDIN and is_log_file(task.path):
            info: Dict[str, Any] = log_info(task.path)
            read: Optional[Opened] = None
            problems: List[Tuple[str, str, str]] = []
        else:
            info, read, problems = hive_info(task.path, task.use_logs, task.options["ignore_checksum"])
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    except (OSError, ValueError) as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)))
    if task.options["json"]:
        emit((json.dumps(info, ensure_ascii=False) + "\n").encode("utf-8"))
    else:
        lines = ["{}: {}".format(name.replace("_", " "), shown(value)) for name, value in info.items()]
        emit(("\n".join(lines) + "\n\n").encode("utf-8", "backslashreplace"))
    if read is None:
        return Outcome(task.path)
    notes = tuple(note for note in (truncation_note(task.path, info), dirty_note(task.path, read),
                                    checksum_note(task.path, info)) if note)
    found = tuple((key, message) for key, message, _ in problems)
    closing = (kinds_summary(task.path, problems),) if problems else ()
    if task.options["summary"] and not task.strict:
        # The summary alone: the parts are counted as skipped without a warning each.
        return Outcome(task.path, notes=notes, closing=closing, skipped=len(found), keys=info["keys"],
                       values=info["values"])
    return Outcome(task.path, notes=notes, problems=found, closing=closing, keys=info["keys"], values=info["values"])


def info(run: Run, args: argparse.Namespace) -> None:
    paths = hive_paths(args.hives, run)
    tasks = [Task(path, not args.no_logs, args.strict, {"json": args.json, "summary": args.summary,
                                                        "ignore_checksum": args.ignore_checksum}) for path in paths]
    for_each_hive(run, info_work, tasks, args.jobs)


# ---- ls and get ---------------------------------------------------------------------------------------------------

def key_of(run: Run, args: argparse.Namespace) -> tarnu.RegistryKey:
    opened = open_hive(args.hive, not args.no_logs)
    note = dirty_note(args.hive, opened)
    if note:
        run.warn(note)
    try:
        return opened.hive.key(args.path)
    except ValueError as error:
        raise CommandError("{}: {}".format(args.hive, reason(error)))


def ls(run: Run, args: argparse.Namespace) -> None:
    key = key_of(run, args)
    try:
        for subkey in key.subkeys():
            run.line("key\t{}\t{}".format(filetime_text(subkey.last_written_filetime()), escaped(subkey.name())))
    except ValueError as error:
        run.problem(args.hive, args.path, "subkeys: " + reason(error))
    try:
        values: List[tarnu.RegistryValue] = key.values()
    except ValueError as error:
        run.problem(args.hive, args.path, "values: " + reason(error))
        values = []
    for value in values:
        run.line("value\t{}\t{}\t{}".format(value.value_type().type_name(), value_name(value), data_text(value)))


# The name ls shows for the unnamed value; a value stored under this very name is shown quoted.
DEFAULT_NAME = "(default)"


def value_name(value: tarnu.RegistryValue) -> str:
    """A value's name on one line: (default) for the unnamed value, "(default)" for one stored under that name."""
    name = value.name()
    return '"{}"'.format(name) if name == DEFAULT_NAME and not value.is_default() else escaped(name)


def get(run: Run, args: argparse.Namespace) -> None:
    key = key_of(run, args)
    try:
        # No name, or "", asks for the unnamed value alone; "(default)" finds it or a value stored under that name.
        value = key.default_value() if args.value is None else key.value(args.value)
    except ValueError as error:
        raise CommandError("{}: key '{}': {}".format(args.hive, args.path, reason(error)))
    if args.raw:
        run.write(value.raw_data())
        return
    try:
        data = value.data().value()
    except ValueError as error:
        run.problem(args.hive, args.path, "value '{}' does not decode ({}); its bytes in hex follow".format(
            value.name(), reason(error)))
        run.line(value.raw_data().hex())
        return
    if isinstance(data, list):
        for text in data:
            run.line(text)
    elif isinstance(data, str):
        run.line(data)
    else:
        run.line(data_text(value))


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "info", parents=[common, many], help="base block, counts, dirty or clean, what the logs do",
        description="The base block (version, sequence numbers, dirty or clean, sizes, root), the counts of keys "
                    "and values, the logs beside the hive and what replaying them does (or would do, with "
                    "--no-logs). A file shorter than its base block states is called truncated. What could not be "
                    "read is warned about, key by key, then counted by the kind of its error. How many records lie "
                    "outside the live tree, by where they lie (free cells, allocated cells nothing references, "
                    "remnants past the stated end of the hive bins). A transaction log is described on its own: its "
                    "format, sequence numbers, entries or dirty pages, and the primary beside it.")
    add_hives_argument(p)
    p.add_argument("--json", action="store_true", help="one JSON object per hive")
    p.add_argument("--summary", action="store_true",
                   help="of what could not be read, only the count by kind of error (not each part)")
    p.add_argument("--ignore-checksum", action="store_true",
                   help="read a hive whose base-block checksum is wrong (and no log repairs), with a warning")
    p.set_defaults(handler=info)

    p = commands.add_parser("ls", parents=[common], help="a key's subkeys and values",
                            description="One line per subkey (key, last written, name) and per value (value, type, "
                                        "name, data), tab-separated.")
    p.add_argument("hive", metavar="HIVE")
    p.add_argument("path", nargs="?", default="", metavar="PATH", help="the key (default: the root)")
    p.set_defaults(handler=ls)

    p = commands.add_parser("get", parents=[common], help="one value's data",
                            description="One value's data, decoded: text as it is, one line per string of a "
                                        "REG_MULTI_SZ, numbers in decimal, other data in hex; or its bytes with "
                                        "--raw.")
    p.add_argument("hive", metavar="HIVE")
    p.add_argument("path", metavar="PATH", help="the key")
    p.add_argument("value", nargs="?", default=None, metavar="VALUE",
                   help="the value's name (default, or \"\": the key's unnamed value alone; \"(default)\" finds it or a "
                        "value stored under that name, the first in list order)")
    p.add_argument("--raw", action="store_true", help="the data bytes as stored")
    p.set_defaults(handler=get)
