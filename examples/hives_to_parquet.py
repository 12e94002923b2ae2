"""Turn a folder of hives into a Parquet data set and query it: DuckDB on one machine, Dask across machines.

    python examples/hives_to_parquet.py FOLDER OUTDIR                   # a process pool, then DuckDB
    python examples/hives_to_parquet.py FOLDER OUTDIR --dask local      # a local dask.distributed cluster
    python examples/hives_to_parquet.py FOLDER OUTDIR --dask HOST:PORT  # a running scheduler

Each task gets the path of a hive and writes that hive's Parquet file itself, from the Arrow batches of tarnu.arrow:
only paths and file names cross between processes or machines, never rows. docs/scale.md explains the recipe; the
tests run it.
"""

import argparse
import concurrent.futures
import itertools
import os
from typing import Any, List, Optional, Tuple

import tarnu
from hives_to_jsonl import hive_files

# What the command-line run asks of the data set: every value whose text names a program.
PROGRAMS = "SELECT hive, key, value, data_text FROM rows WHERE data_text LIKE '%.exe' ORDER BY hive, key, value"


def hive_to_parquet(job: Tuple[int, str], out_folder: str) -> str:
    """The rows of one hive, the `job`-th, as one Parquet file in `out_folder`, written batch by batch where the task
    runs; returns the file's path. A hive that fails is a file with its error row."""
    import pyarrow
    import pyarrow.parquet

    number, path = job
    target = os.path.join(out_folder, "{:05d}-{}.parquet".format(number, os.path.basename(path)))
    reader = pyarrow.RecordBatchReader.from_stream(tarnu.arrow(path))
    with pyarrow.parquet.ParquetWriter(target, reader.schema) as writer:
        for batch in reader:
            writer.write_batch(batch)
    return target


def with_processes(paths: List[str], out_folder: str, workers: Optional[int] = None) -> List[str]:
    """One machine: the hives spread over a pool of processes, one file each."""
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers) as pool:
        return list(pool.map(hive_to_parquet, enumerate(paths), itertools.repeat(out_folder)))


def query(out_folder: str, sql: str) -> List[Tuple[Any, ...]]:
    """One machine: DuckDB reads every file of the data set as the table `rows`."""
    import duckdb

    files = os.path.join(out_folder, "*.parquet").replace("'", "''")
    with duckdb.connect() as con:
        con.execute("CREATE VIEW rows AS SELECT * FROM read_parquet('{}')".format(files))
        found: List[Tuple[Any, ...]] = con.execute(sql).fetchall()
    return found


def with_dask(paths: List[str], out_folder: str, scheduler: str = "local") -> List[Tuple[Any, ...]]:
    """A cluster: one task per hive writes its file where the hive lies, then the workers read the data set back
    for a query (every value whose text names a program, as PROGRAMS asks DuckDB). Every worker must see the paths
    and the output folder (a shared folder) and have tarnu and pyarrow installed."""
    import dask.bag
    import dask.dataframe
    from dask.distributed import Client, LocalCluster

    cluster = LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) if scheduler == "local" else None
    with Client(cluster if cluster is not None else scheduler):
        dask.bag.from_sequence(list(enumerate(paths)), partition_size=4).map(hive_to_parquet, out_folder).compute()
        rows = dask.dataframe.read_parquet(out_folder, columns=["hive", "key", "value", "data_text"])
        programs = rows[rows.data_text.str.endswith(".exe", na=False)].compute()
    if cluster is not None:
        cluster.close()
    return sorted(tuple(row) for row in programs.itertuples(index=False))


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("out")
    parser.add_argument("--dask", metavar="SCHEDULER", help="'local' or the address of a dask.distributed scheduler")
    args = parser.parse_args()
    paths = hive_files(args.folder)
    os.makedirs(args.out, exist_ok=True)
    if args.dask:
        found = with_dask(paths, args.out, args.dask)
    else:
        with_processes(paths, args.out)
        found = query(args.out, PROGRAMS)
    for row in found:
        print(*row, sep="\t")


if __name__ == "__main__":
    main()
