"""Turn a folder of hives into JSON Lines: on one machine with a process pool, or on a Dask cluster.

    python examples/hives_to_jsonl.py FOLDER OUT.jsonl              # concurrent.futures, one process per core
    python examples/hives_to_jsonl.py FOLDER OUTDIR --dask local    # dask.bag on a local dask.distributed cluster
    python examples/hives_to_jsonl.py FOLDER OUTDIR --dask HOST:PORT

Each task gets a path (or the bytes of a hive) and returns plain strings, so nothing but paths and text crosses
between processes or machines. docs/scale.md explains the recipe; the tests run it.
"""

import argparse
import base64
import concurrent.futures
import json
import os
from typing import Any, Dict, Iterator, List, Optional, Union

import tarnu

FIELDS = ("hive", "key", "last_written", "value", "type", "raw", "data", "error")


def hive_files(folder: str) -> List[str]:
    """Every primary hive file below `folder`, recognised by its first bytes ("regf", file type 0), not its name."""
    found = []
    for top, folders, files in os.walk(folder):
        folders.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                header = f.read(32)
            if len(header) == 32 and header[:4] == b"regf" and header[28:32] == b"\0\0\0\0":
                found.append(path)
    return found


def jsonable(row: tarnu.Record) -> Dict[str, Any]:
    """A row as JSON types: the time in ISO-8601, bytes in base64."""
    out: Dict[str, Any] = dict(zip(FIELDS, row))
    if row.last_written is not None:
        out["last_written"] = row.last_written.isoformat()
    if row.raw is not None:
        out["raw"] = base64.b64encode(row.raw).decode("ascii")
    if isinstance(row.data, bytes):
        out["data"] = None  # the same bytes as raw
    return out


def jsonl_lines(source: Union[str, bytes], name: Optional[str] = None) -> List[str]:
    """The JSON Lines of one hive. A hive that fails gives its error row instead of raising, so one bad file never
    ends a job over thousands."""
    return [json.dumps(jsonable(row), ensure_ascii=False) for row in tarnu.records(source, name=name)]


def with_processes(paths: List[str], workers: Optional[int] = None) -> Iterator[str]:
    """One machine: the hives spread over a pool of processes, the lines in the order of `paths`."""
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        for lines in pool.map(jsonl_lines, paths):
            yield from lines


def with_dask(paths: List[str], out_folder: str, scheduler: str = "local") -> List[str]:
    """A cluster: a dask.bag over the paths, one partition per few hives, written as one text file per partition.
    Every worker must see the paths (a shared folder) and have tarnu installed."""
    import dask.bag
    from dask.distributed import Client, LocalCluster

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) if scheduler == "local" else None
    with Client(cluster if cluster is not None else scheduler):
        bag = dask.bag.from_sequence(paths, partition_size=4).map(jsonl_lines).flatten()
        written: List[str] = bag.to_textfiles(os.path.join(out_folder, "part-*.jsonl"))
    if cluster is not None:
        cluster.close()
    return written


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("out")
    parser.add_argument("--dask", metavar="SCHEDULER", help="'local' or the address of a dask.distributed scheduler")
    args = parser.parse_args()
    paths = hive_files(args.folder)
    if args.dask:
        os.makedirs(args.out, exist_ok=True)
        with_dask(paths, args.out, args.dask)
        return
    with open(args.out, "w", encoding="utf-8") as out:
        for line in with_processes(paths):
            out.write(line + "\n")


if __name__ == "__main__":
    main()
