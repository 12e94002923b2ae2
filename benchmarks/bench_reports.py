"""What every report that applies costs on the sample SYSTEM and NTUSER.DAT hives, against a full walk of each.

    python benchmarks/bench_reports.py [HIVE...]

The full walk is what a reader of every key does: Hive.walk() and each key's values() with their data decoded.
The reports read only the keys they name, so all of them together should cost less than that walk. Runs on the
samples (given, or ../shared/hives/SYSTEM.xz and NTUSER.DAT.xz beside the project); only ratios and counts are
printed.
"""

import lzma
import os
import pathlib
import sys
import tempfile

import tarnu
import tarnu.reports
from timing import best_of

SAMPLES = pathlib.Path(__file__).resolve().parents[2] / "shared" / "hives"
SAMPLE_NAMES = ("SYSTEM.xz", "NTUSER.DAT.xz")


def full_walk(hive):
    for _, key in hive.walk():
        for value in key.values():
            try:
                value.data().value()
            except ValueError:
                pass


def all_reports(hive):
    return sum(1 for _ in tarnu.reports.run(hive))


def sample_paths():
    """The sample hives, decompressed into a temporary folder; those that are missing are left out."""
    folder = tempfile.mkdtemp()
    paths = []
    for name in SAMPLE_NAMES:
        source = SAMPLES / name
        if source.exists():
            path = os.path.join(folder, source.stem)
            with open(path, "wb") as f:
                f.write(lzma.decompress(source.read_bytes()))
            paths.append(path)
    return paths


def measure(path):
    hive = tarnu.Hive.open(path)
    results = all_reports(hive)  # also loads the report modules, outside the timing
    walk = best_of(5, lambda: full_walk(hive))
    reports = best_of(5, lambda: all_reports(hive))
    applying = len(tarnu.reports.applicable(hive.hive_type(), tarnu.reports.catalogue(), False))
    print("{}: {} reports apply, {} results".format(hive.hive_type(), applying, results))
    print("  every report / full walk with values: {:.2f}".format(reports / walk))


def main():
    paths = sys.argv[1:] or sample_paths()
    if not paths:
        print("no sample hives: give their paths")
        return
    for path in paths:
        measure(path)


if __name__ == "__main__":
    main()
