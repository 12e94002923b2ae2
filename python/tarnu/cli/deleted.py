"""deleted: the keys and values that recovery finds outside the live tree (Hive.deleted()), as rows in the layout
of dump's with four more columns: "deleted" (true), "path_complete" (whether the key's path reaches the root),
"offset" (the cell offset of the key or value) and "source" (where recovery found it: "free", "unreferenced" or
"remnant"). The core writes them (tarnu._export with sources="recovered").

A recovered key gives one row per value that its value list still names, or one row without a value; a value that
no recovered key lists gives a row whose key is null. A value whose data cell has been reused has raw and data
null. A value's name is as DeletedValue.name() gives it ("(default)" for the unnamed value).
"""

from __future__ import annotations

import argparse

from .export import add_spreadsheet_argument, run_export
from .inputs import add_hives_argument, add_output_argument
from .run import Run


def deleted(run: Run, args: argparse.Namespace) -> None:
    run_export(run, args, args.hives, format=args.format, binary="base64" if args.base64 else "hex",
               sources="recovered")


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "deleted", parents=[common, many], help="keys and values recovered outside the live tree",
        description="The keys and values outside the live tree (deleted ones in free cells, ones in allocated "
                    "cells nothing references, remnants past the hive bins data), in dump's row layout with four "
                    "more columns: deleted (true), path_complete (whether the key's path reaches the root), offset "
                    "(the cell offset of the key or value) and source (free, unreferenced or remnant).")
    add_hives_argument(p)
    p.add_argument("--format", choices=["jsonl", "csv"], default="jsonl")
    p.add_argument("--base64", action="store_true", help="raw bytes in base64 instead of hex")
    add_spreadsheet_argument(p)
    add_output_argument(p)
    p.set_defaults(handler=deleted)
