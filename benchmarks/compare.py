"""Two builds of tarnu side by side in one run: the same walks, rows and dumps timed with each, runs interleaved, so
that a change's effect shows apart from what the machine does meanwhile. Prints after / before ratios (below 1.00:
the new build is faster).

    python benchmarks/compare.py --before TREE [--after TREE] [--repeat N] [--quick] [HIVE ...]

A TREE is a checkout with its extension built in TREE/build/dev (as `cmake -S . -B build/dev` makes it); each side
runs the workers of its own benchmarks/suite.py against its own build, so that each walk uses the API of its time.
--after defaults to the checkout this script is in. Hives: the samples and synthetic hives of suite.py, and any
HIVE named.
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import suite  # noqa: E402

# Rows of tarnu.records(), each dropped as it comes: the API has not changed since records() was added.
RECORDS = """
import sys, time, tarnu
start = time.process_time()
count = sum(1 for _ in tarnu.records(sys.argv[1], logs=None))
print('{"seconds": %f, "rows": %d}' % (time.process_time() - start, count))
"""


def measure(tree, workload, path):
    env = dict(os.environ, PYTHONPATH=str(tree / "build" / "dev"))
    if workload == "records":
        command = [sys.executable, "-c", RECORDS, path]
    else:
        worker = ["walk", workload, path] if workload.startswith("tarnu") else ["dump", path]
        command = [sys.executable, str(tree / "benchmarks" / "suite.py"), "--worker"] + worker
    result = subprocess.run(command, capture_output=True, text=True, env=env)
    if result.returncode != 0:
        raise RuntimeError("{} {} failed:\n{}".format(tree, workload, result.stderr.strip()))
    return json.loads(result.stdout)["seconds"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("hives", nargs="*")
    parser.add_argument("--before", required=True, type=pathlib.Path)
    parser.add_argument("--after", default=HERE.parent, type=pathlib.Path)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--quick", action="store_true", help="small synthetic hives")
    args = parser.parse_args()
    sys.path.insert(0, str(args.after / "build" / "dev"))  # the hive builder of the synthetic hives
    workloads = ["tarnu", "tarnu-bulk", "records", "dump"]
    print("after / before, best of {} interleaved runs each (CPU time of the worker process)\n".format(args.repeat))
    print("| hive | " + " | ".join(workloads) + " |")
    print("|---|" + "---|" * len(workloads))
    with tempfile.TemporaryDirectory() as folder:
        hives = suite.sample_hives(folder)
        hives.update({os.path.basename(p): p for p in args.hives})
        hives.update(suite.synthetic_hives(folder, args.quick))
        for hive, path in hives.items():
            cells = []
            for workload in workloads:
                before, after = [], []
                for _ in range(args.repeat):
                    before.append(measure(args.before, workload, path))
                    after.append(measure(args.after, workload, path))
                cells.append("{:.2f}".format(min(after) / min(before)))
            print("| {} | {} |".format(hive, " | ".join(cells)), flush=True)


if __name__ == "__main__":
    main()
