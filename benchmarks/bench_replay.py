"""How much a log replay costs next to simply reading its files.

Builds a 32 MiB hive (a few keys, then large empty bins) and a log of 4000
pages of 4096 bytes spread over it, then times Hive.open_with_logs against a
plain read of both files plus one bytearray copy of the primary.  The replay
reads both files, copies each page once and validates the base block, so it
should land close to the baseline.  The same pages in a new-format Windows
log (40 entries of 100 pages, hashed with Marvin32) over a dirty primary
measure Windows recovery, which also hashes every entry once.  Only ratios are
printed: absolute times say more about the machine than about the code.

    PYTHONPATH=build/<dir> python3 benchmarks/bench_replay.py
"""

import os
import random
import tempfile

import tarnu
from tarnu.hivebuilder import REG_DWORD, REG_SZ, HiveBuilder, Key, Value, log_file, new_format_log
from timing import best_of

HIVE_MIB = 32
PAGES = 4000
PAGE_SIZE = 4096
ROUNDS = 7


ENTRY_PAGES = 100


def build_image(**base_block_fields):
    builder = HiveBuilder()
    builder.add(Key("ROOT", [Key("Sub%d" % i, values=[Value("v", REG_DWORD, i)]) for i in range(50)],
                    [Value("s", REG_SZ, "text")]), root=True)
    for _ in range(HIVE_MIB):
        builder.new_bin(1 << 20)
    return builder.build(**base_block_fields)


def build_pages(image):
    rng = random.Random(1)
    pages = len(image) // PAGE_SIZE
    entries = []
    for _ in range(PAGES):
        # Bins data only, so the hive stays what it was; the bytes written are the image's own.
        at = rng.randrange(1, pages) * PAGE_SIZE
        entries.append((at, image[at:at + PAGE_SIZE]))
    return entries


def build_log(image):
    entries = build_pages(image)
    blocks = [entries[i:i + 1000] for i in range(0, len(entries), 1000)]
    return log_file(1, blocks)


def build_windows_log(image):
    pages = [(at - 4096, data) for at, data in build_pages(image)]
    bins_size = len(image) - 4096
    entries = [dict(pages=pages[i:i + ENTRY_PAGES], hive_bins_data_size=bins_size)
               for i in range(0, len(pages), ENTRY_PAGES)]
    return new_format_log(10, entries, hive_bins_data_size=bins_size)


def best(fn):
    return best_of(ROUNDS, fn)


def main():
    image = build_image()
    log = build_log(image)
    dirty = build_image(primary_sequence=11, secondary_sequence=10)
    windows_log = build_windows_log(dirty)
    with tempfile.TemporaryDirectory() as folder:
        primary, log_path = os.path.join(folder, "bench.hiv"), os.path.join(folder, "bench.LOG1")
        dirty_primary, windows_path = os.path.join(folder, "dirty.hiv"), os.path.join(folder, "dirty.LOG1")
        for path, data in ((primary, image), (log_path, log), (dirty_primary, dirty), (windows_path, windows_log)):
            with open(path, "wb") as f:
                f.write(data)

        def read_files(hive_path=primary, logs=(log_path,)):
            with open(hive_path, "rb") as f:
                data = f.read()
            for path in logs:
                with open(path, "rb") as f:
                    f.read()
            bytearray(data)

        def read_primary():
            with open(primary, "rb") as f:
                f.read()

        def replay():
            tarnu.Hive.open_with_logs(primary, log_path)

        def recover():
            hive = tarnu.Hive.open_with_logs(dirty_primary, windows_path)
            assert hive.replay_report().logs[0].pages_applied == PAGES

        def replay_without_logs():
            tarnu.Hive.open_with_logs(primary)

        def open_mapped():
            tarnu.Hive.open(primary)

        baseline = best(read_files)
        read_only = best(read_primary)
        print("hive %d MiB, log %d pages of %d bytes (%d MiB)" % (len(image) >> 20, PAGES, PAGE_SIZE, len(log) >> 20))
        print("open_with_logs(hive, log) / (read both files + copy hive): %.2f" % (best(replay) / baseline))
        windows_baseline = best(lambda: read_files(dirty_primary, (windows_path,)))
        print("Windows log %d entries (%d MiB)" % (PAGES // ENTRY_PAGES, len(windows_log) >> 20))
        print("open_with_logs(dirty, new-format LOG1) / (read both files + copy hive): %.2f"
              % (best(recover) / windows_baseline))
        print("open_with_logs(hive)      / read hive file:  %.2f" % (best(replay_without_logs) / read_only))
        print("open(hive)                / read hive file:  %.4f" % (best(open_mapped) / read_only))


if __name__ == "__main__":
    main()
