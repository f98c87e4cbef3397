"""Books on a Dask cluster: a CSV book read in partitions, each priced where it lies.

::

    from dask.distributed import Client
    import kestrix.dask
    client = Client("tcp://scheduler:8786")           # or a LocalCluster
    book = kestrix.dask.read_book("s3://bucket/book-*.csv", blocksize="64MB")
    kestrix.dask.to_csv(kestrix.dask.price_book(book), "priced.csv", single_file=True)

Every partition is priced by ``kestrix.book.price_book``, so the rows carry the
same ``Result``, ``HResult`` and ``Description`` as ``kestrix price`` gives
them. The workers need the package ``kestrix`` importable themselves.
"""

from __future__ import annotations

import dask.dataframe as dd

from . import book as _book

# Every cell is read as text, blank for an empty cell, so enumeration names,
# numbers and parameters left out all reach the pricing as the command reads
# them: nothing is guessed as a number, a date or a missing value.
_TEXT_CELLS = {"dtype": str, "keep_default_na": False, "na_filter": False}


def read_book(urlpath, blocksize="64MB", **kwargs) -> dd.DataFrame:
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


def price_book(frame: dd.DataFrame) -> dd.DataFrame:
    """Prices a Dask DataFrame book partition by partition; the result has the three result columns added.

    The columns are checked at once (ValueError as for ``kestrix.book.price_book``);
    nothing is priced before the result is computed.
    """
    return frame.map_partitions(_book.price_book, meta=_book.priced_meta(frame._meta))


def to_csv(priced: dd.DataFrame, path, single_file: bool = False, **kwargs):
    """Writes a priced book as ``kestrix price`` writes one: one file, or one per partition.

    ``path`` names the file with ``single_file``, else a directory (or a
    pattern with ``*``) for the partitions' files. Keyword arguments go to
    ``dask.dataframe.to_csv`` (``compute=False`` returns the writes undone).
    """
    text = priced.map_partitions(_book.formatted, meta=priced._meta.astype({"Result": object}))
    options = {"index": False, "lineterminator": "\n"}
    options.update(kwargs)
    return text.to_csv(path, single_file=single_file, **options)
