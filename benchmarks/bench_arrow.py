"""What tarnu.arrow costs: the Arrow batches of a hive against records() and against the core's own walk, and two
threads making the batches of two hives against one thread making both.

    python benchmarks/bench_arrow.py [--quick] [--repeat N] [HIVE ...]

Hives: the SYSTEM sample (../shared/hives/SYSTEM.xz) when it is there, the large synthetic hive of mixed values that
benchmarks/suite.py builds, and any HIVE named. The batches are read through pyarrow (RecordBatchReader, every batch
taken and dropped); records() rows are iterated and dropped. Single-thread work is timed in CPU time of the thread,
as the core walk (benchmarks/core_walk, built beside the extension, warm caches) times itself; threads in wall-clock
time, with hashlib on two threads as the control of what the machine allows at the time. Only ratios are printed.
"""

import argparse
import hashlib
import json
import lzma
import os
import subprocess
import sys
import tempfile
import threading
import time

import pyarrow

import tarnu
from suite import SAMPLES, core_program, synthetic_hives, write

ARROW_CORE_GOAL = 3.0
THREADS_GOAL = 1.8


def best_of(runs, work, clock=time.thread_time):
    best = float("inf")
    for _ in range(runs):
        start = clock()
        work()
        best = min(best, clock() - start)
    return best


def arrow_rows(hive):
    for _ in pyarrow.RecordBatchReader.from_stream(tarnu.arrow(hive)):
        pass


def records(hive):
    for _ in tarnu.records(hive):
        pass


def core_walk(program, path, repeat):
    runs = [json.loads(subprocess.run([program, path, "10"], capture_output=True, text=True, check=True).stdout)
            for _ in range(repeat)]
    return min(run["walk_warm"] for run in runs)


def two_threads(work, repeat):
    """The work of thread 0 then of thread 1 on one thread / both at once on two threads (wall-clock, best of)."""
    work(0)
    work(1)

    def parallel():
        threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    sequential = best_of(repeat, lambda: (work(0), work(1)), time.perf_counter)
    return sequential / best_of(repeat, parallel, time.perf_counter)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("hives", nargs="*")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="a smaller synthetic hive")
    parser.add_argument("--core", help="the core_walk program (default: beside the tarnu package being imported)")
    args = parser.parse_args(argv)
    program = core_program(args.core)
    with tempfile.TemporaryDirectory() as folder:
        hives = {os.path.basename(path): path for path in args.hives}
        if (SAMPLES / "SYSTEM.xz").exists():
            hives["SYSTEM"] = write(folder, "SYSTEM", lzma.decompress((SAMPLES / "SYSTEM.xz").read_bytes()))
        hives["synthetic-values"] = synthetic_hives(folder, args.quick)["synthetic-values"]

        print("One thread: the Arrow batches of a hive / records() of it, and / the core's walk of it (goal: at most "
              "{:.1f}).\n".format(ARROW_CORE_GOAL))
        print("| hive | arrow / records() | arrow / core walk |")
        print("|---|---|---|")
        for name, path in hives.items():
            hive = tarnu.Hive.open(path)
            arrow = best_of(args.repeat, lambda: arrow_rows(hive))
            rows = best_of(args.repeat, lambda: records(hive))
            core = "{:.2f}".format(arrow / core_walk(program, path, args.repeat)) if program else "(no core_walk)"
            print("| {} | {:.2f} | {} |".format(name, arrow / rows, core))

        print("\nTwo threads: the work of both on one thread / each on its own thread at once (2.00 is twice as "
              "fast; goal for the Arrow batches: at least {:.1f}).\n".format(THREADS_GOAL))
        print("| work | two threads |")
        print("|---|---|")
        data = bytes(64 * 2 ** 20)
        print("| control, no tarnu: hashlib.sha256 of 64 MiB | {:.2f} |".format(
            two_threads(lambda i: hashlib.sha256(data).digest(), args.repeat)))
        for name, path in hives.items():
            pair = [tarnu.Hive.open(path), tarnu.Hive.open(path)]
            print("| Arrow batches of {} (a hive per thread) | {:.2f} |".format(
                name, two_threads(lambda i: arrow_rows(pair[i]), args.repeat)))
            print("| records() of {} (a hive per thread) | {:.2f} |".format(
                name, two_threads(lambda i: records(pair[i]), args.repeat)))


if __name__ == "__main__":
    main(sys.argv[1:])
