"""diff: the keys and values that differ between two hives, or between a hive and its own replayed copy."""

from __future__ import annotations

import argparse
import datetime
import json
from typing import Dict, List, NamedTuple, Optional, Tuple, Union

import tarnu

from .browse import escaped
from .inputs import Opened, dirty_note, open_hive
from .run import EXIT_USAGE, CommandError, Run

# A value is told apart by its name and, for names that a damaged key lists twice, by its place among them.
ValueId = Tuple[str, int]
Data = Union[str, List[str], int, None]


class Value(NamedTuple):
    """A value as dump writes it: its type's name, its bytes in hex (None when unreadable) and its decoded data
    (text, a list of texts or a number; None for binary data and data that does not decode)."""

    type: Optional[str]
    raw: Optional[str]
    data: Data


def type_name(type_id: Optional[int]) -> Optional[str]:
    """The name of a type number, as ValueType.type_name() and dump give it."""
    if type_id is None:
        return None
    return tarnu.RegType(type_id).name if type_id <= max(tarnu.RegType) else "REG_UNKNOWN_0x{:08x}".format(type_id)


def value_of(row: tarnu.Record) -> Value:
    data = row.data
    return Value(type_name(row.type), None if row.raw is None else row.raw.hex(),
                 None if isinstance(data, bytes) else data)


class Tree:
    """The keys of one hive by path: last-written time and values by name."""

    def __init__(self) -> None:
        self.keys: Dict[str, Tuple[Optional[datetime.datetime], Dict[ValueId, Value]]] = {}


def read_tree(run: Run, label: str, opened: Opened) -> Tree:
    tree = Tree()
    for row in tarnu.records(opened.hive, name=label):
        if row.error is not None:
            run.problem(label, row.key, row.error)
            continue
        path = row.key or ""
        if path not in tree.keys:
            tree.keys[path] = (row.last_written, {})
        if row.value is not None:
            values = tree.keys[path][1]
            ident = (row.value, sum(1 for name, _ in values if name == row.value))
            values[ident] = value_of(row)
    run.hives += 1
    run.keys += len(tree.keys)
    run.values += sum(len(values) for _, values in tree.keys.values())
    return tree


def time_text(stamp: Optional[datetime.datetime]) -> str:
    return "" if stamp is None else stamp.isoformat()


def differences(a: Tree, b: Tree) -> List[Dict[str, object]]:
    """Added, removed and changed keys and values, in the order of the paths of A, then B's new ones."""
    out: List[Dict[str, object]] = []
    for path in list(a.keys) + [p for p in b.keys if p not in a.keys]:
        if path not in b.keys:
            out.append({"change": "removed", "key": path})
            continue
        if path not in a.keys:
            out.append({"change": "added", "key": path})
            for (name, _), value in b.keys[path][1].items():
                out.append(dict({"change": "added", "key": path, "value": name}, **value._asdict()))
            continue
        (time_a, values_a), (time_b, values_b) = a.keys[path], b.keys[path]
        if time_a != time_b:
            out.append({"change": "changed", "key": path, "last_written": [time_text(time_a), time_text(time_b)]})
        for ident in list(values_a) + [v for v in values_b if v not in values_a]:
            entry: Dict[str, object] = {"key": path, "value": ident[0]}
            if ident not in values_b:
                entry.update(change="removed", **values_a[ident]._asdict())
            elif ident not in values_a:
                entry.update(change="added", **values_b[ident]._asdict())
            elif values_a[ident][:2] != values_b[ident][:2]:
                # A change of type or bytes: each field as [A's, B's].
                entry.update(change="changed", **{field: [old, new] for field, old, new in
                                                  zip(Value._fields, values_a[ident], values_b[ident])})
            else:
                continue
            out.append(entry)
    return out


def side_text(type: object, raw: object, data: object) -> List[str]:
    """One side of a value in the text form: type name, data as ls shows it, bytes in hex."""
    if isinstance(data, list):
        shown = json.dumps(data, ensure_ascii=False)
    else:
        shown = "" if data is None else escaped(str(data))
    return [str(type or ""), shown, str(raw or "")]


def text_line(entry: Dict[str, object]) -> str:
    fields = [str(entry["change"]), "value" if "value" in entry else "key", escaped(str(entry["key"]))]
    if "value" in entry:
        fields.append(escaped(str(entry["value"])))
        if entry["change"] == "changed":
            old, new = zip(*(entry[field] for field in Value._fields))
            fields.extend(side_text(*old) + ["->"] + side_text(*new))
        else:
            fields.extend(side_text(*(entry[field] for field in Value._fields)))
    if "last_written" in entry:
        fields.append("last written {} -> {}".format(*entry["last_written"]))  # type: ignore[misc]
    return "\t".join(fields)


def diff(run: Run, args: argparse.Namespace) -> None:
    if args.b is None:
        # A hive against its own replayed copy: --no-logs would leave nothing to compare it with.
        if args.no_logs:
            raise CommandError("diff of one hive compares it with its logs replayed; --no-logs leaves nothing to "
                               "compare (give two hives to compare them without their logs)", EXIT_USAGE)
        a = open_hive(args.a, False)
        b = open_hive(args.a, True)
        if not b.logs:
            raise CommandError("{}: no transaction logs beside it to replay".format(args.a))
        labels = (args.a, args.a + " (replayed)")
    else:
        a = open_hive(args.a, not args.no_logs)
        b = open_hive(args.b, not args.no_logs)
        labels = (args.a, args.b)
        for path, opened in ((args.a, a), (args.b, b)):
            note = dirty_note(path, opened)
            if note:
                run.warn(note)
    entries = differences(read_tree(run, labels[0], a), read_tree(run, labels[1], b))
    for entry in entries:
        run.line(json.dumps(entry, ensure_ascii=False) if args.format == "jsonl" else text_line(entry))
    counts = {change: sum(1 for e in entries if e["change"] == change) for change in ("added", "removed", "changed")}
    run.message("tarnu: {added} added, {removed} removed, {changed} changed".format(**counts))


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "diff", parents=[common], help="keys and values added, removed and changed",
        description="Keys and values that B adds, removes or changes against A: a key's last-written time, a "
                    "value's type or bytes. With only A, the hive as it stands against its copy replayed with the "
                    "logs beside it; --no-logs reads both A and B without their logs. One line per difference: "
                    "change, key or value, path, value name, and for a value its type, data and bytes in hex (for "
                    "a change, A's, then \"->\", then B's); JSON Lines give type, raw and data as dump writes them, "
                    "a change as [A's, B's].")
    p.add_argument("a", metavar="A")
    p.add_argument("b", nargs="?", metavar="B")
    p.add_argument("--format", choices=["text", "jsonl"], default="text")
    p.set_defaults(handler=diff)
