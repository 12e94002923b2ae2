"""The `tarnu` command: read registry hives from the shell.

    tarnu info HIVE...                    base block, counts, dirty or clean, logs, records outside the tree
    tarnu ls HIVE [PATH]                  a key's subkeys and values
    tarnu get HIVE PATH [VALUE]           one value's data (decoded, or --raw)
    tarnu dump HIVE... [-k PATH]          every key and value as JSON Lines or CSV (--deleted: and recovered ones)
    tarnu deleted HIVE...                 keys and values recovered outside the live tree
    tarnu timeline HIVE...                key last-written times as a bodyfile or CSV (--deleted, --artifacts)
    tarnu export-reg HIVE [-k PATH]       a .reg file that regedit imports
    tarnu search HIVE... PATTERN          a regular expression over names and string data
    tarnu diff A [B]                      keys and values added, removed and changed
    tarnu replay HIVE [LOG...] -o OUT     write the hive recovered from its logs
    tarnu carve IMAGE... -o DIR           hives, fragments and logs carved out of disk images and memory dumps
    tarnu report HIVE...                  answers by hive type: computer name, services, USB devices, accounts...

The logs beside a hive (HIVE.LOG1, HIVE.LOG2, or the single HIVE.LOG of older Windows, in any letter case) are
replayed unless --no-logs is given. A folder stands for every hive file in it, recursively, recognised by its
content; "-" reads one hive from standard input (without logs). No command writes over its inputs: an output that
is a hive or log it reads, by any path or link, is refused with exit code 2. Only data goes to stdout, as UTF-8;
warnings, progress and summaries go to stderr (--quiet silences them). A key or value that cannot be read is a
warning and the run goes on (--strict stops at the first). Exit codes: 0 all read, 1 a fatal error, 2 bad usage,
3 finished with data skipped. A reader of stdout that stops early (`tarnu dump ... | head`) ends the run quietly,
with exit code 0.
"""

from __future__ import annotations

import argparse
import sys
from typing import List, Optional

from . import browse, carve, deleted, diff, export, replay, report, search
from .evidence import refuse_overwriting_inputs
from .run import EXIT_FATAL, EXIT_OK, CommandError, Run, silence_stdout, use_utf8_streams

# Exit code of a run stopped by Ctrl-C, as shells report a process ended by SIGINT.
EXIT_INTERRUPTED = 130


def positive(text: str) -> int:
    try:
        number = int(text)
    except ValueError:
        number = 0
    if number < 1:
        raise argparse.ArgumentTypeError("expected a whole number of 1 or more, got {!r}".format(text))
    return number


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(prog="tarnu", description=__doc__.split("\n\n")[0],
                                  formatter_class=argparse.RawDescriptionHelpFormatter,
                                  epilog="\n\n".join(__doc__.split("\n\n")[1:]))
    top.add_argument("--version", action="version", version="tarnu " + _version())
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--no-logs", action="store_true", help="do not replay the logs beside the hive")
    common.add_argument("-q", "--quiet", action="store_true", help="no warnings, progress or summary on stderr")
    common.add_argument("--strict", action="store_true", help="stop at the first key or value that cannot be read")
    many = argparse.ArgumentParser(add_help=False)
    many.add_argument("-j", "--jobs", type=positive, default=1, metavar="N", help="read N hives at once, in processes")
    commands = top.add_subparsers(dest="command", metavar="COMMAND")
    commands.required = True
    for module in (browse, export, deleted, search, diff, replay, carve, report):
        module.add_parsers(commands, common, many)
    return top


def _version() -> str:
    import tarnu

    return str(tarnu.__version__)


def main(argv: Optional[List[str]] = None) -> int:
    use_utf8_streams()
    args = parser().parse_args(argv)
    run: Optional[Run] = None
    try:
        # Before any output is opened: no command writes over one of its inputs.
        run = Run(quiet=args.quiet, strict=args.strict, output=getattr(args, "output", None),
                  before_open=lambda: refuse_overwriting_inputs(args))
        args.handler(run, args)
        run.close()
        return run.exit_code()
    except BrokenPipeError:
        # The reader of our output has gone (`tarnu dump ... | head`): that is its choice, not a failure.
        silence_stdout()
        return EXIT_OK
    except CommandError as error:
        sys.stderr.write("tarnu: error: {}\n".format(error))
        return error.code
    except KeyboardInterrupt:
        sys.stderr.write("tarnu: interrupted\n")
        return EXIT_INTERRUPTED
    except Exception as error:  # noqa: BLE001 - the one place that turns any other failure into a message
        sys.stderr.write("tarnu: error: {}: {}\n".format(type(error).__name__, error))
        return EXIT_FATAL
