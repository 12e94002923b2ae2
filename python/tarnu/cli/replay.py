"""replay: write the hive recovered from its transaction logs, a clean primary that any reader opens alone."""

from __future__ import annotations

import argparse
import os

from .inputs import open_hive
from .run import EXIT_USAGE, CommandError, Run, reason


def replay(run: Run, args: argparse.Namespace) -> None:
    if len(args.logs) > 2:
        raise CommandError("replay takes at most two logs (LOG1 and LOG2)", EXIT_USAGE)
    opened = open_hive(args.hive, not args.no_logs, args.logs or None)
    report = opened.hive.replay_report()
    if report is None or not report.logs:
        run.warn("{}: no logs {}; writing the hive as it stands".format(
            args.hive, "applied (--no-logs)" if opened.found else "beside it"))
    else:
        for log in report.logs:
            what = "used, {} pages, {}".format(log.pages_applied, log.stop_reason) if log.used else \
                "not used: {}".format(log.reason)
            run.message("tarnu: {}: {} log, {}".format(log.path, log.kind, what))
        if report.recovered:
            run.message("tarnu: recovered sequences {}..{}".format(report.first_sequence, report.last_sequence))
        elif report.primary_dirty:
            run.warn("{} is dirty and its logs recovered nothing".format(args.hive))
        else:
            run.message("tarnu: {} is clean; its logs hold nothing to apply".format(args.hive))
    try:
        opened.hive.save(args.target)
    except (OSError, ValueError) as error:
        raise CommandError("cannot write {}: {}".format(args.target, reason(error)))
    run.message("tarnu: wrote {} ({} bytes)".format(args.target, os.path.getsize(args.target)))


def add_parsers(commands: "argparse._SubParsersAction[argparse.ArgumentParser]", common: argparse.ArgumentParser,
                many: argparse.ArgumentParser) -> None:
    p = commands.add_parser(
        "replay", parents=[common], help="write the hive recovered from its logs",
        description="Replay the transaction logs (those named, or HIVE.LOG1 and HIVE.LOG2 beside the hive) and "
                    "write the result: a clean primary that other tools read without the logs. The file is "
                    "written beside OUT first and renamed over it, so a failed write leaves OUT as it was.")
    p.add_argument("hive", metavar="HIVE")
    p.add_argument("logs", nargs="*", metavar="LOG", help="the logs to replay (default: those beside the hive)")
    p.add_argument("-o", "--output", dest="target", required=True, metavar="OUT")
    p.set_defaults(handler=replay)
