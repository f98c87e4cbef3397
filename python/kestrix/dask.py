"""Books on a Dask cluster: a CSV book read in partitions, each priced where it lies.

::

    from dask.distributed import Client
    import kestrix.dask
    client = Client("tcp://scheduler:8786")           # or a LocalCluster
    book = kestrix.dask.read_book("s3://bucket/book-*.csv", blocksize="16MB")
    kestrix.dask.to_csv(kestrix.dask.price_book(book), "priced.csv", single_file=True)

Every partition is priced by ``kestrix.book.price_book``, so the rows carry the
same ``Result``, ``HResult`` and ``Description`` as ``kestrix price`` gives
them. The workers need the package ``kestrix`` importable themselves.

A book that only needs pricing is faster as bytes: ``price_csv`` hands each
partition's raw CSV bytes to the command's own book pricer (no cell becomes a
Python object) and writes the bytes it returns, the same bytes as
``kestrix price`` writes for the book::

    kestrix.dask.price_csv("s3://bucket/book.csv", "s3://bucket/priced.csv", blocksize="16MB")
"""

from __future__ import annotations

import dask
import dask.dataframe as dd
import fsspec
from dask.bytes import read_bytes

from . import book as _book

# Every cell is read as text, blank for an empty cell, so enumeration names,
# numbers and parameters left out all reach the pricing as the command reads
# them: nothing is guessed as a number, a date or a missing value.
_TEXT_CELLS = {"dtype": str, "keep_default_na": False, "na_filter": False}


def read_book(urlpath, blocksize="16MB", **kwargs) -> dd.DataFrame:
    """Reads CSV books (a path, a glob or a list) into a Dask DataFrame of text cells.

    ``blocksize`` is the size of the byte ranges read as partitions; keyword
    arguments go to ``dask.dataframe.read_csv``. A partition boundary falls on
    a line end, so a quoted cell that spans lines must not occur in a book
    read with a blocksize (give ``blocksize=None`` for one partition per file).
    Faults of the CSV itself are pandas' to judge: a line of too few cells is
    read with the missing ones blank, a blank line is skipped, a line of too
    many cells stops the read.
    """
    options = dict(_TEXT_CELLS)
    options.update(kwargs)
    return dd.read_csv(urlpath, blocksize=blocksize, **options)


def price_book(frame: dd.DataFrame, strict: bool = False) -> dd.DataFrame:
    """Prices a Dask DataFrame book partition by partition; the result has the three result columns added.

    The columns are checked at once (ValueError as for ``kestrix.book.price_book``:
    columns that are no parameter are carried through unless ``strict``);
    nothing is priced before the result is computed.
    """
    return frame.map_partitions(_book.price_book, strict=strict, meta=_book.priced_meta(frame._meta, strict))


def _write(path, text: str, mode: str, after=None) -> int:
    # `after` only orders the appends of one file.
    with fsspec.open(path, mode, encoding="utf-8", newline="") as out:
        out.write(text)
    return len(text)


def to_csv(priced: dd.DataFrame, path, single_file: bool = False, compute: bool = True):
    """Writes a priced book as ``kestrix price`` writes one: one file, or one per partition.

    ``path`` names the file with ``single_file``; else a pattern with one
    ``*`` for the partition's number, or a directory that receives
    ``part-N.csv`` files, each with the header. Each partition's text is made
    where the partition lies, only the appends to a single file take turns.
    With ``compute=False`` the writes are returned as delayed objects, to be
    computed with other work on the same book.
    """
    # Unoptimised, the partitions keep their keys: work computed with the
    # writes on the same book (a count of codes) shares their pricing.
    parts = priced.to_delayed(optimize_graph=False)
    if single_file:
        writes = []
        for number, part in enumerate(parts):
            text = dask.delayed(_book.csv_text)(part, header=number == 0)
            writes.append(dask.delayed(_write)(path, text, "w" if number == 0 else "a",
                                               writes[-1] if writes else None))
    else:
        path = str(path)
        if "*" not in path:
            fsspec.open(path).fs.makedirs(path, exist_ok=True)
            path = path.rstrip("/") + "/part-*.csv"
        writes = [dask.delayed(_write)(path.replace("*", str(number)), dask.delayed(_book.csv_text)(part), "w")
                  for number, part in enumerate(parts)]
    return dask.compute(*writes) if compute else writes


def _price_part(data: bytes, header: bytes, name: str, keep_header: bool) -> bytes:
    # A partition after a file's first has no header line: it gets the file's.
    priced = _book.price_csv(header + data if header else data, name=name)
    if keep_header:
        return priced
    return priced[priced.index(b"\n") + 1:] if b"\n" in priced else b""


def _write_bytes(path, data: bytes, mode: str, after=None) -> int:
    # `after` only orders the appends of one file.
    with fsspec.open(path, mode) as out:
        out.write(data)
    return len(data)


def price_csv_parts(urlpath, blocksize="16MB") -> list:
    """The priced CSV bytes of a book (a path, a glob or a list of files sharing one header), one
    delayed ``bytes`` per partition, in order: the first carries the header line.

    Each partition is a byte range ending at a line end, priced where it is read
    by ``kestrix.book.price_csv``; a quoted cell that spans lines must not occur
    in a book read with a blocksize (give ``blocksize=None`` for one partition
    per file). Files whose header lines differ raise ValueError.
    """
    _, blocks, paths = read_bytes(urlpath, delimiter=b"\n", blocksize=blocksize, sample=False,
                                  include_path=True)
    parts = []
    first_header = None
    for path, file_blocks in zip(paths, blocks):
        with fsspec.open(path, "rb") as book:
            header = book.readline()
        if first_header is None:
            first_header = header
        elif header != first_header:
            raise ValueError(f"{path}: its header differs from the first file's")
        for number, block in enumerate(file_blocks):
            parts.append(dask.delayed(_price_part)(block, b"" if number == 0 else header, str(path),
                                                   keep_header=not parts))
    return parts


def price_csv(urlpath, path, blocksize="16MB", compute: bool = True):
    """Prices a CSV book from raw bytes (``price_csv_parts``) and writes the priced book to the one
    file ``path``: the bytes ``kestrix price`` writes for the book.

    Each partition is priced where it lies; only the appends to the file take
    turns. With ``compute=False`` the writes are returned as delayed objects.
    """
    writes = []
    for number, part in enumerate(price_csv_parts(urlpath, blocksize)):
        writes.append(dask.delayed(_write_bytes)(path, part, "wb" if number == 0 else "ab",
                                                 writes[-1] if writes else None))
    return dask.compute(*writes) if compute else writes
