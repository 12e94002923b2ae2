"""Running one piece of work per hive, in this process or in a pool of processes (``--jobs N``).

A piece of work is a top-level function ``work(task, emit) -> Outcome``: it opens the hive of the task, passes its
output to ``emit`` as bytes and says what it read and what it could not. In this process the output goes straight
to stdout as it is made; a worker process gathers it and the parent writes it, hive by hive in argument order.
"""

from __future__ import annotations

import concurrent.futures
from typing import Any, Callable, Dict, List, NamedTuple, Optional, Sequence, Tuple, TypeVar, Union

import tarnu

from .inputs import STDIN
from .run import CommandError, Run, reason

T = TypeVar("T")


class Task(NamedTuple):
    path: str
    use_logs: bool
    strict: bool
    options: Dict[str, Any]


class Outcome(NamedTuple):
    path: str
    error: Optional[str] = None  # the hive could not be read at all
    notes: Tuple[str, ...] = ()  # warnings about the hive as a whole
    problems: Tuple[Tuple[str, str], ...] = ()  # (key path, message) of what could not be read
    keys: int = 0
    values: int = 0
    output: bytes = b""  # from a worker process only
    missing_key: bool = False  # the error is that the hive lacks the key the run starts at (-k)
    closing: Tuple[str, ...] = ()  # warnings after the problems: a summary of them
    skipped: int = 0  # parts skipped that are not among the problems, each warned about


Emit = Callable[[bytes], None]
Work = Callable[[Task, Emit], Outcome]


def started(task: Task, start: Callable[[], T]) -> Union[T, Outcome]:
    """What `start()` gives (opening the task's hive, and what a piece of work begins with), or the Outcome of the
    failure it raised: a hive that cannot be read, or one without the key the run starts at."""
    try:
        return start()
    except CommandError as error:
        return Outcome(task.path, error=str(error))
    except tarnu.KeyNotFoundError as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)), missing_key=True)
    except (OSError, ValueError) as error:
        return Outcome(task.path, error="{}: {}".format(task.path, reason(error)))


def _gathered(work: Work, task: Task) -> Outcome:
    """Runs `work` in a worker process, keeping its output for the parent to write."""
    chunks: List[bytes] = []
    outcome = work(task, chunks.append)
    return outcome._replace(output=b"".join(chunks))


def record(run: Run, outcome: Outcome) -> None:
    """Counts the outcome of one hive and reports its problems (the first one ends the run under --strict)."""
    if outcome.missing_key and outcome.path in run.swept:
        # A hive found in a folder that lacks the key asked for is no failure, only counted.
        run.without_key += 1
        return
    if outcome.error is not None:
        run.fail(outcome.error)
        return
    run.hives += 1
    run.keys += outcome.keys
    run.values += outcome.values
    for note in outcome.notes:
        run.warn(note)
    for key, message in outcome.problems:
        run.problem(outcome.path, key, message)
    run.skipped += outcome.skipped
    for note in outcome.closing:
        run.warn(note)


def for_each_hive(run: Run, work: Work, tasks: Sequence[Task], jobs: int) -> None:
    """Runs `work` on every task, in order, and records each outcome."""
    # Standard input is read by this process alone, so a run that reads it reads every hive here.
    if jobs <= 1 or len(tasks) < 2 or any(task.path == STDIN for task in tasks):
        for task in run.progress(tasks):
            record(run, work(task, run.write))
        return
    with concurrent.futures.ProcessPoolExecutor(max_workers=jobs) as pool:
        futures = [pool.submit(_gathered, work, task) for task in tasks]
        try:
            for future in run.progress(futures):
                outcome = future.result()
                run.write(outcome.output)
                record(run, outcome)
        except BaseException:
            # Python 3.8's shutdown() cannot cancel what has not started yet; cancelling each future can.
            for future in futures:
                future.cancel()
            raise
