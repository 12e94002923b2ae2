"""How much a log replay costs next to simply reading its files.

Builds a 32 MiB hive (a few keys, then large empty bins) and a log of 4000
pages of 4096 bytes spread over it, then times Hive.open_with_logs against a
plain read of both files plus one bytearray copy of the primary.  The replay
reads both files, copies each page once and validates the base block, so it
should land close to the baseline.  Only ratios are printed: absolute times
say more about the machine than about the code.

    PYTHONPATH=build/<dir> python3 benchmarks/bench_replay.py
"""

import os
import random
import tempfile
import time

import tarnu
from tarnu.hivebuilder import REG_DWORD, REG_SZ, HiveBuilder, Key, Value, log_file

HIVE_MIB = 32
PAGES = 4000
PAGE_SIZE = 4096
ROUNDS = 7


def build_image():
    builder = HiveBuilder()
    builder.add(Key("ROOT", [Key("Sub%d" % i, values=[Value("v", REG_DWORD, i)]) for i in range(50)],
                    [Value("s", REG_SZ, "text")]), root=True)
    for _ in range(HIVE_MIB):
        builder.new_bin(1 << 20)
    return builder.build()


def build_log(image):
    rng = random.Random(1)
    pages = len(image) // PAGE_SIZE
    entries = []
    for _ in range(PAGES):
        # Bins data only, so the hive stays what it was; the bytes written are the image's own.
        at = rng.randrange(1, pages) * PAGE_SIZE
        entries.append((at, image[at:at + PAGE_SIZE]))
    blocks = [entries[i:i + 1000] for i in range(0, len(entries), 1000)]
    return log_file(1, blocks)


def best(fn):
    times = []
    for _ in range(ROUNDS):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    image = build_image()
    log = build_log(image)
    with tempfile.TemporaryDirectory() as folder:
        primary, log_path = os.path.join(folder, "bench.hiv"), os.path.join(folder, "bench.LOG1")
        with open(primary, "wb") as f:
            f.write(image)
        with open(log_path, "wb") as f:
            f.write(log)

        def read_files():
            with open(primary, "rb") as f:
                data = f.read()
            with open(log_path, "rb") as f:
                f.read()
            bytearray(data)

        def read_primary():
            with open(primary, "rb") as f:
                f.read()

        def replay():
            tarnu.Hive.open_with_logs(primary, log_path)

        def replay_without_logs():
            tarnu.Hive.open_with_logs(primary)

        def open_mapped():
            tarnu.Hive.open(primary)

        baseline = best(read_files)
        read_only = best(read_primary)
        print("hive %d MiB, log %d pages of %d bytes (%d MiB)" % (len(image) >> 20, PAGES, PAGE_SIZE, len(log) >> 20))
        print("open_with_logs(hive, log) / (read both files + copy hive): %.2f" % (best(replay) / baseline))
        print("open_with_logs(hive)      / read hive file:  %.2f" % (best(replay_without_logs) / read_only))
        print("open(hive)                / read hive file:  %.4f" % (best(open_mapped) / read_only))


if __name__ == "__main__":
    main()
