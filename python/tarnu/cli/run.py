"""What one run of the command shares: where data and messages go, and how it ends.

Only data goes to stdout (as UTF-8 bytes, whatever the platform's locale says); warnings, progress and the summary
go to stderr, and ``--quiet`` silences them (errors are always shown). The exit code says how the run went:
0 everything was read, 1 a fatal error (an input that could not be read, a key that is not there, an output that
cannot be written, or the first problem under ``--strict``), 2 bad usage, 3 finished with data skipped.
"""

from __future__ import annotations

import os
import sys
from typing import IO, Callable, Iterable, Iterator, List, Optional, Sequence, Set, TypeVar

EXIT_OK = 0
EXIT_FATAL = 1
EXIT_USAGE = 2
EXIT_SKIPPED = 3

T = TypeVar("T")


class CommandError(Exception):
    """Ends the run with a one-line message on stderr and an exit code."""

    def __init__(self, message: str, code: int = EXIT_FATAL) -> None:
        super().__init__(message)
        self.code = code


def reason(error: BaseException) -> str:
    """The text of an exception from tarnu or the system, without Python's decorations."""
    if isinstance(error, OSError) and error.strerror:
        return error.strerror  # the interpreter's own OSError; tarnu's carry their whole text as the message
    return str(error) or type(error).__name__


class Run:
    """Counts what a run read and skipped, and writes data and messages where they belong."""

    def __init__(self, quiet: bool = False, strict: bool = False, output: Optional[str] = None,
                 before_open: Optional[Callable[[], None]] = None) -> None:
        """`before_open` runs before the output is opened (and also without one), after the refusal of a hive file
        as output: the check that no output is one of the run's inputs."""
        self.quiet = quiet
        self.strict = strict
        self.failed = False
        self.skipped = 0
        self.keys = 0
        self.values = 0
        self.hives = 0
        self.swept: Set[str] = set()  # the hives found in folders, not named one by one
        self.without_key = 0  # swept hives that lack the key a run starts at (-k)
        self._output_path = output
        self._file: Optional[IO[bytes]] = None
        if output is not None:
            if _is_hive(output):
                # Opening it for writing would empty it before it is read: evidence is never overwritten.
                raise CommandError("refusing to write over {}: it is a hive file".format(output), EXIT_USAGE)
        if before_open is not None:
            before_open()
        if output is not None:
            try:
                self._file = open(output, "wb")
            except OSError as error:
                raise CommandError("cannot write {}: {}".format(output, reason(error)))
        self.stdout: IO[bytes] = self._file if self._file is not None else sys.stdout.buffer

    def close(self) -> None:
        if self._file is not None:
            try:
                self._file.close()
            except OSError as error:
                raise CommandError("cannot write {}: {}".format(self._output_path, reason(error)))

    # -- data ---------------------------------------------------------------------------------------------------

    def write(self, data: bytes) -> None:
        try:
            self.stdout.write(data)
        except BrokenPipeError:
            raise
        except OSError as error:
            raise CommandError("cannot write {}: {}".format(self._output_path or "the output", reason(error)))

    def line(self, text: str) -> None:
        self.write(text.encode("utf-8", "backslashreplace") + b"\n")

    # -- messages -----------------------------------------------------------------------------------------------

    def message(self, text: str) -> None:
        """A line on stderr unless quiet."""
        if not self.quiet:
            sys.stderr.write(text + "\n")
            sys.stderr.flush()

    def warn(self, text: str) -> None:
        self.message("tarnu: warning: " + text)

    def problem(self, hive: str, key: Optional[str], text: str) -> None:
        """Data that could not be read: a warning, or the end of the run under --strict."""
        where = hive if key is None else "{}: key '{}'".format(hive, key)
        if self.strict:
            raise CommandError("{}: {}".format(where, text))
        self.skipped += 1
        self.warn("{}: {}".format(where, text))

    def fail(self, text: str) -> None:
        """An input that cannot be read: shown always; the run goes on unless strict, and ends with exit code 1."""
        if self.strict:
            raise CommandError(text)
        self.failed = True
        sys.stderr.write("tarnu: error: " + text + "\n")
        sys.stderr.flush()

    def summary(self) -> None:
        without = ", {} without the key".format(plural(self.without_key, "hive")) if self.without_key else ""
        if self.hives == 0:
            if without:
                self.message("tarnu: 0 hives read" + without)
            return  # every input failed, and each said so
        self.message("tarnu: {}, {}, {}, {} skipped{}".format(
            plural(self.hives, "hive"), plural(self.keys, "key"), plural(self.values, "value"), self.skipped, without))

    def exit_code(self) -> int:
        if self.failed:
            return EXIT_FATAL
        return EXIT_SKIPPED if self.skipped else EXIT_OK

    # -- progress -----------------------------------------------------------------------------------------------

    def progress(self, items: Sequence[T], what: str = "hives") -> Iterable[T]:
        """`items`, with a progress bar on stderr for a run over several of them when stderr is a terminal."""
        if self.quiet or len(items) < 2 or not sys.stderr.isatty():
            return items
        try:
            from tqdm import tqdm  # type: ignore[import-untyped, import-not-found, unused-ignore]
        except ImportError:
            return _plain_progress(items, what)
        return tqdm(items, unit=what[:-1], file=sys.stderr, leave=False)  # type: ignore[no-any-return]


def _is_hive(path: str) -> bool:
    try:
        with open(path, "rb") as f:
            return f.read(4) == b"regf"
    except OSError:
        return False


def _plain_progress(items: Sequence[T], what: str) -> Iterator[T]:
    """A counter rewritten in place, for when tqdm is not installed."""
    total = len(items)
    for done, item in enumerate(items):
        sys.stderr.write("\r{}/{} {}".format(done, total, what))
        sys.stderr.flush()
        yield item
    sys.stderr.write("\r" + " " * (len(str(total)) * 2 + len(what) + 2) + "\r")
    sys.stderr.flush()


def use_utf8_streams() -> None:
    """Text on stdout and stderr is UTF-8 on every platform; what cannot be encoded is escaped, never fatal."""
    for stream in (sys.stdout, sys.stderr):
        reconfigure = getattr(stream, "reconfigure", None)
        if reconfigure is not None:
            reconfigure(encoding="utf-8", errors="backslashreplace")


def silence_stdout() -> None:
    """After a broken pipe: point stdout at the null device, so that the interpreter's last flush is quiet."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass


def plural(count: int, word: str) -> str:
    return "{} {}{}".format(count, word, "" if count == 1 else "s")


def join(items: List[str]) -> str:
    return ", ".join(items) if items else "none"
