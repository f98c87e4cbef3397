#!/usr/bin/env python3
"""Prices a CSV book on a Dask cluster and writes it as `kestrix price` does.

    dask_book.py BOOK.csv [-o OUT] [--parts | --bytes] [--scheduler ADDRESS] [--workers N] [--blocksize 16MB]

The book is read in partitions of about --blocksize bytes and each is priced on
a worker. Without --scheduler a local cluster of --workers processes (one
thread each) is started; with it, the workers of that cluster need the
package kestrix importable. The output is one CSV file (OUT, default
BOOK-priced.csv), or with --parts a directory OUT of one file per partition.
A summary goes to stderr; the exit status is 1 when some row makes no request
(its Description says why), as for `kestrix price`. With --bytes each
partition's raw CSV bytes go to the command's own book pricer instead of
through a DataFrame (one output file; the summary then counts rows only).
"""
import argparse
import contextlib
import os
import sys
import time
from pathlib import Path

import dask
import pandas as pd
from dask.distributed import Client, LocalCluster

import kestrix
import kestrix.dask


def count_codes(part):
    return part["HResult"].value_counts()


def start_cluster(args, stack):
    """A client of the cluster at --scheduler, else of a local cluster closed with `stack`."""
    if args.scheduler:
        return stack.enter_context(Client(args.scheduler))
    # The workers are new processes: they find kestrix where this one did.
    package_root = str(Path(kestrix.__file__).resolve().parent.parent)
    paths = [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p]
    if package_root not in paths:
        os.environ["PYTHONPATH"] = os.pathsep.join([package_root] + paths)
    cluster = stack.enter_context(LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                               dashboard_address=None))
    return stack.enter_context(Client(cluster))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("book", help="the CSV book (a path or a glob)")
    parser.add_argument("-o", "--output", help="the output file (directory with --parts)")
    parser.add_argument("--parts", action="store_true", help="write one file per partition into OUT")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler, e.g. tcp://host:8786")
    parser.add_argument("--workers", type=int, default=os.cpu_count(), help="local worker processes")
    parser.add_argument("--blocksize", default="16MB", help="bytes of the book per partition (0: one per file)")
    parser.add_argument("--bytes", action="store_true", help="price raw CSV bytes, without a DataFrame")
    args = parser.parse_args()
    output = args.output or str(Path(args.book).with_name(Path(args.book).stem + "-priced.csv"))

    with contextlib.ExitStack() as stack:
        client = start_cluster(args, stack)
        started = time.perf_counter()
        blocksize = None if args.blocksize == "0" else args.blocksize
        if args.bytes:
            parts = len(kestrix.dask.price_csv(args.book, output, blocksize=blocksize))
            elapsed = time.perf_counter() - started
            with open(output, "rb") as priced_book:
                rows = sum(1 for _ in priced_book) - 1
            print(f"{rows} lines in {parts} partitions on {len(client.scheduler_info()['workers'])} workers: "
                  f"{elapsed:.2f} s ({rows / elapsed:,.0f} rows/s); written to {output}", file=sys.stderr)
            return 0
        book = kestrix.dask.read_book(args.book, blocksize=blocksize)
        priced = kestrix.dask.price_book(book)
        writes = kestrix.dask.to_csv(priced, output, single_file=not args.parts, compute=False)
        # Counted from the same partitions as the writes take (delayed, unfused
        # keys), so every partition is priced once.
        counts = [dask.delayed(count_codes)(part) for part in priced.to_delayed(optimize_graph=False)]
        _, counts = dask.compute(writes, counts)
        codes = pd.concat(counts).groupby(level=0).sum()
        elapsed = time.perf_counter() - started
        rows = int(codes.sum())
        library = {f"0x{int(code) & 0xFFFFFFFF:08X}" for code in kestrix.OErrCodes}
        rejected = int(sum(count for code, count in codes.items() if code in library and code != "0x00000000"))
        unmade = rows - int(codes.get("0x00000000", 0)) - rejected
        print(f"{rows} rows in {book.npartitions} partitions on {len(client.scheduler_info()['workers'])} "
              f"workers: {elapsed:.2f} s ({rows / elapsed:,.0f} rows/s); {rejected} rejected, "
              f"{unmade} making no request; written to {output}", file=sys.stderr)
    # As kestrix price: a row that makes no request is a failure of the run.
    return 1 if unmade else 0


if __name__ == "__main__":
    sys.exit(main())
