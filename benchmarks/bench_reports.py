"""What every report that applies costs on the sample SYSTEM hive, against a full walk of that hive.

    python benchmarks/bench_reports.py [SYSTEM]

The full walk is what a reader of every key does: Hive.walk() and each key's values() with their data decoded.
The reports read only the keys they name, so all of them together should cost less than that walk. Runs on the
sample (given, or ../shared/hives/SYSTEM.xz beside the project); only ratios and counts are printed.
"""

import lzma
import os
import pathlib
import sys
import tempfile

import tarnu
import tarnu.reports
from timing import best_of

SAMPLE = pathlib.Path(__file__).resolve().parents[2] / "shared" / "hives" / "SYSTEM.xz"


def full_walk(hive):
    for _, key in hive.walk():
        for value in key.values():
            try:
                value.data().value()
            except ValueError:
                pass


def all_reports(hive):
    return sum(1 for _ in tarnu.reports.run(hive))


def main():
    if len(sys.argv) > 1:
        path = sys.argv[1]
    elif SAMPLE.exists():
        folder = tempfile.mkdtemp()
        path = os.path.join(folder, "SYSTEM")
        with open(path, "wb") as f:
            f.write(lzma.decompress(SAMPLE.read_bytes()))
    else:
        print("no sample SYSTEM hive: give its path")
        return
    hive = tarnu.Hive.open(path)
    results = all_reports(hive)  # also loads the report modules, outside the timing
    walk = best_of(5, lambda: full_walk(hive))
    reports = best_of(5, lambda: all_reports(hive))
    applying = len(tarnu.reports.applicable(hive.hive_type(), tarnu.reports.catalogue(), False))
    print("{} reports apply ({}), {} results".format(applying, hive.hive_type(), results))
    print("every report / full walk with values: {:.2f}".format(reports / walk))


if __name__ == "__main__":
    main()
