"""Books in pandas: a DataFrame of requests, one per row, priced as ``kestrix price`` prices a CSV book.

A book has a ``Method`` column and one column per parameter, named in any
letter case and in any order; cells are text as read from a CSV (enumeration
members by name or number, blank for a parameter left out) or numbers (NaN
for one left out)::

    import pandas as pd, kestrix.book
    frame = pd.read_csv("examples/book.csv", dtype=str, keep_default_na=False)
    priced = kestrix.book.price_book(frame)
    kestrix.book.to_csv(priced, "priced.csv")

``price_book`` adds the columns ``Result`` (float64, NaN where the row has no
value), ``HResult`` (the code as ``0x%08X`` text, ``0x00000000`` for success)
and ``Description`` (empty for success), meaning what they mean in the output
of ``kestrix price``: a request the library rejects carries the library's
error text, a row that makes no request (no or an unknown method, a value in a
column its method has no parameter for, a required parameter left out, a cell
that is not a value of its parameter's type) the text the command gives it.
Rows are grouped by method and each group is priced by one vectorised call;
the rows keep their order and index. Columns that are no parameter
(``TradeId``, ``Comment``) are carried through untouched; one named close to a
parameter (``Volatilty``) is refused as a misspelling, and ``strict=True``
refuses them all.

A book that is still CSV bytes need not become a DataFrame at all:
``price_csv`` hands the bytes to the command's own book pricer and returns the
bytes ``kestrix price`` would write::

    priced = kestrix.book.price_csv(open("examples/book.csv", "rb").read())
"""

from __future__ import annotations

from typing import NamedTuple

import numpy as np
import pandas as pd

import kestrix
from . import _kestrix

RESULT_COLUMNS = ("Result", "HResult", "Description")


def _signed(code: int) -> int:
    return code - (1 << 32) if code >= 1 << 31 else code


# The codes of rows that make no request, as the command reports them.
E_INVALIDARG = _signed(0x80070057)
DISP_E_UNKNOWNNAME = _signed(0x80020006)
DISP_E_OVERFLOW = _signed(0x8002000A)
DISP_E_PARAMNOTFOUND = _signed(0x80020004)  # also the converter's mark of a blank cell
DISP_E_PARAMNOTOPTIONAL = _signed(0x8002000F)

_METHODS = {name.lower(): method for name, method in kestrix.METHODS.items()}
_PARAMETER_NAMES = {param.name.lower() for method in kestrix.METHODS.values() for param in method.params}
# Every parameter name once, in the order first declared.
_ALL_PARAMETERS = list(dict.fromkeys(param.name for method in kestrix.METHODS.values() for param in method.params))
_TYPE_NAMES = {"double": "a double", "int": "an integer", "enum": "a number"}


def _blank_trimmed(name) -> str:
    return str(name).strip(" \t")


def _carried(columns) -> set:
    """The positions of the columns that are no parameter and no Method column: carried through untouched."""
    return {position for position, label in enumerate(columns)
            if _blank_trimmed(label).lower() not in _PARAMETER_NAMES | {"method"}}


def book_columns(columns, strict: bool = False) -> int:
    """Checks that the column labels make a book; returns the position of the Method column.

    Columns that are no parameter (``TradeId``, ``Comment``) are carried through
    untouched, unless ``strict``. Raises ValueError, with the text ``kestrix
    price`` gives such a header, for a label that appears twice (in any letter
    case), one named close to a parameter (a likely misspelling: "did you
    mean"), any other label with ``strict``, or a missing Method column.
    """
    seen = set()
    method_at = None
    for position, label in enumerate(columns):
        name = _blank_trimmed(label)
        if name.lower() in seen:
            raise ValueError(f"the column '{name}' appears twice")
        seen.add(name.lower())
        if name.lower() == "method":
            method_at = position
        elif name.lower() not in _PARAMETER_NAMES:
            suggestion = kestrix._did_you_mean(name, _ALL_PARAMETERS + ["Method"])
            if suggestion or strict:
                raise ValueError(f"'{name}' is not a parameter of any method" + (" (strict)" if strict else suggestion))
    if method_at is None:
        raise ValueError("there is no Method column")
    return method_at


def priced_meta(frame: pd.DataFrame, strict: bool = False) -> pd.DataFrame:
    """An empty frame shaped like ``price_book(frame)``: the book's columns and the three result columns."""
    book_columns(frame.columns, strict)
    meta = frame.iloc[:0].copy()
    for name, dtype in zip(RESULT_COLUMNS, ("float64", "object", "object")):
        meta[name] = pd.Series(dtype=dtype)
    return meta


def _cells(column: pd.Series) -> np.ndarray:
    # Text stays as it is; numbers travel as float64, the type the converter
    # reads without a Python object per cell.
    if column.dtype.kind in "biuf":
        return column.to_numpy(dtype=np.float64, na_value=np.nan)
    # Every kind of missing value (NaN, None, pd.NA) is a blank cell.
    return column.to_numpy(dtype=object, na_value=None)


def _cell_text(cell) -> str:
    """A cell as the command would show it in a message."""
    if isinstance(cell, str):
        return _blank_trimmed(cell)
    if isinstance(cell, (float, np.floating)):
        return str(_kestrix.format_values(np.array([cell], dtype=np.float64))[0])
    return str(cell)


def _resolve_methods(cells: np.ndarray):
    """Each row's method: its index in kestrix.METHODS, -1 for a blank cell, -2 for an unknown name."""
    codes, uniques = pd.factorize(pd.Series(cells, dtype=object), use_na_sentinel=True)
    names = list(kestrix.METHODS)
    lookup = []
    for cell in uniques:
        text = _cell_text(cell) if not (isinstance(cell, float) and np.isnan(cell)) else ""
        method = _METHODS.get(text.lower())
        lookup.append(-1 if not text else -2 if method is None else names.index(method.name))
    lookup.append(-1)  # the sentinel of missing values, index -1
    return np.asarray(lookup, dtype=np.int64)[codes]


def _unknown_method(name: str) -> str:
    # Worded as the kestrix command words it.
    suggestion = kestrix._did_you_mean(name, list(kestrix.METHODS))
    return f"unknown method '{name}'" + (suggestion or f" (methods: {', '.join(kestrix.METHODS)})")


def _not_a_parameter(method: kestrix.MethodInfo, name: str) -> str:
    text = f"'{name}' is not a parameter of {method.name}"
    suggestion = kestrix._did_you_mean(name, [param.name for param in method.params])
    if suggestion:
        return text + suggestion
    others = [m.name for m in kestrix.METHODS.values() if any(p.name.lower() == name.lower() for p in m.params)]
    if others:
        return text + f"; only {', '.join(others)} take it"
    return text + kestrix._did_you_mean(name, _ALL_PARAMETERS)


def _format_codes(codes: np.ndarray) -> np.ndarray:
    uniques, inverse = np.unique(codes, return_inverse=True)
    texts = np.array([f"0x{int(code) & 0xFFFFFFFF:08X}" for code in uniques], dtype=object)
    return texts[inverse]


class _Group:
    """The rows of one method: their cells converted, their refusals found, their values priced."""

    def __init__(self, method: kestrix.MethodInfo, rows: np.ndarray, columns: list, names: list):
        self.method = method
        self.rows = rows
        self.columns = columns  # per book column: its cells (all rows), None for the Method column
        self.names = names  # per book column: the trimmed label
        self.codes = np.zeros(rows.size, dtype=np.int64)
        self.texts = np.full(rows.size, "", dtype=object)
        self.values = np.full(rows.size, np.nan)

    def price(self):
        method = self.method
        dispid = method.dispid
        positions = {param.name.lower(): index for index, param in enumerate(method.params)}
        # Why each row cannot be priced, the first reason in the order the
        # object checks: -1 none, else an index into `reasons`.
        first = np.full(self.rows.size, -1, dtype=np.int64)
        reasons = []

        def refuse(mask, reason):
            first[(first < 0) & mask] = len(reasons)
            reasons.append(reason)

        arguments = [None] * len(method.params)
        given = [None] * len(method.params)
        converted = [None] * len(method.params)
        for column, (cells, name) in enumerate(zip(self.columns, self.names)):
            if cells is None:
                continue
            position = positions.get(name.lower(), -1)
            values, codes = _kestrix.convert_cells(dispid, position, cells[self.rows])
            if position < 0:
                # A value for a parameter the method lacks: the name is refused first.
                refuse(codes != DISP_E_PARAMNOTFOUND, ("name", column))
                continue
            arguments[position], converted[position] = values, codes
            given[position] = (column, codes != DISP_E_PARAMNOTFOUND)
        for position, param in enumerate(method.params):
            if given[position] is None:
                if not param.optional:
                    refuse(np.ones(self.rows.size, dtype=bool), ("missing", position))
                continue
            column, present = given[position]
            if not param.optional:
                refuse(~present, ("missing", position))
            refuse(present & (converted[position] != 0), ("value", position, column))

        for index in np.flatnonzero(first >= 0):
            self.codes[index], self.texts[index] = self._refusal(reasons[first[index]], index, given, converted)

        valid = np.flatnonzero(first < 0)
        if valid.size:
            self._call(valid, arguments)
        return self

    def _refusal(self, reason, index, given, converted):
        method = self.method
        if reason[0] == "name":
            return DISP_E_UNKNOWNNAME, _not_a_parameter(method, self.names[reason[1]])
        if reason[0] == "missing":
            missing = [param.name for position, param in enumerate(method.params)
                       if not param.optional and (given[position] is None or not given[position][1][index])]
            return DISP_E_PARAMNOTOPTIONAL, f"{method.name} needs {', '.join(missing)}"
        _, position, column = reason
        param = method.params[position]
        code = int(converted[position][index])
        cell = _cell_text(self.columns[column][self.rows[index]])
        text = f"{param.name}: '{cell}' "
        if code == DISP_E_OVERFLOW:
            return code, text + f"is out of range for {_TYPE_NAMES[param.kind]}"
        if param.kind == "enum":
            return code, text + kestrix._not_a_member(param.enumeration, cell)
        return code, text + f"cannot be read as {_TYPE_NAMES[param.kind]}"

    def _call(self, valid: np.ndarray, arguments: list):
        method = self.method
        function = getattr(kestrix, method.name)
        every = valid.size == self.rows.size
        keywords = {param.name: values if every else values[valid]
                    for param, values in zip(method.params, arguments) if values is not None}
        values, codes = function(**keywords, errors="nan")
        values = np.broadcast_to(values, valid.shape)
        codes = np.broadcast_to(codes, valid.shape)
        self.values[valid] = values
        self.codes[valid] = codes
        errors = kestrix.ENUMERATIONS["enumOErrCodes"]
        for at in np.flatnonzero(codes != 0):
            code = int(codes[at])
            try:
                text = errors(code).text
            except ValueError:
                # Not one of the library's codes: ask again for the element
                # alone to learn what the object said.
                try:
                    function(**{name: value[at] for name, value in keywords.items()})
                    text = ""
                except kestrix.KestrixError as error:
                    text = error.description
            self.texts[valid[at]] = text


def price_book(frame: pd.DataFrame, strict: bool = False) -> pd.DataFrame:
    """Prices every row of the book; returns it with ``Result``, ``HResult`` and ``Description`` added.

    Columns that are no parameter are carried through in place (``strict``
    refuses them). Raises ValueError when the columns do not make a book (see
    ``book_columns``).
    """
    method_at = book_columns(frame.columns, strict)
    carried = _carried(frame.columns)
    names = [_blank_trimmed(label) for label in frame.columns]
    columns = [None if position == method_at or position in carried else _cells(frame.iloc[:, position])
               for position in range(frame.shape[1])]
    count = len(frame)
    values = np.full(count, np.nan)
    codes = np.zeros(count, dtype=np.int64)
    texts = np.full(count, "", dtype=object)

    method_cells = frame.iloc[:, method_at].to_numpy(dtype=object)
    methods = _resolve_methods(method_cells)
    for index in np.flatnonzero(methods == -1):
        codes[index], texts[index] = E_INVALIDARG, "the row names no method"
    for index in np.flatnonzero(methods == -2):
        codes[index], texts[index] = DISP_E_UNKNOWNNAME, _unknown_method(_cell_text(method_cells[index]))
    for number, method in enumerate(kestrix.METHODS.values()):
        rows = np.flatnonzero(methods == number)
        if rows.size == 0:
            continue
        group = _Group(method, rows, columns, names).price()
        values[rows], codes[rows], texts[rows] = group.values, group.codes, group.texts

    priced = frame.copy(deep=False)
    priced["Result"] = values
    priced["HResult"] = _format_codes(codes)
    priced["Description"] = texts
    return priced


def _text_cells(column: pd.Series) -> np.ndarray:
    """A column's cells as text: numbers in shortest round-trip form, blank for NaN."""
    if column.dtype.kind in "biuf":
        return _kestrix.format_values(column.to_numpy(dtype=np.float64, na_value=np.nan))
    cells = column.to_numpy(dtype=object)
    if pd.api.types.infer_dtype(cells, skipna=False) == "string":
        return cells
    return np.array([cell if isinstance(cell, str) else "" if cell is None or cell is pd.NA
                     or (isinstance(cell, float) and np.isnan(cell)) else _cell_text(cell)
                     for cell in cells], dtype=object)


def _csv_field(text: str) -> str:
    # Quoted as the command quotes: only a field holding a comma, a quote or a line break.
    if any(mark in text for mark in ',"\r\n'):
        return '"' + text.replace('"', '""') + '"'
    return text


def csv_text(priced: pd.DataFrame, header: bool = True) -> str:
    """The priced book as the CSV text ``kestrix price`` writes: Result in shortest round-trip form,
    empty without a value, every line ended by a newline."""
    columns = [_text_cells(priced.iloc[:, position]) for position in range(priced.shape[1] - 3)]
    columns.append(_kestrix.format_values(priced["Result"].to_numpy(dtype=np.float64)))
    columns.append(priced["HResult"].to_numpy(dtype=object))
    columns.append(_text_cells(priced["Description"]))
    title = ",".join(_csv_field(str(label)) for label in priced.columns) + "\n" if header else ""
    return title + _kestrix.csv_lines(columns).decode("utf-8")


def to_csv(priced: pd.DataFrame, path_or_buf=None):
    """Writes a priced book as ``kestrix price`` writes one (``csv_text``) to a path or a text
    stream; without one, returns the text."""
    text = csv_text(priced)
    if path_or_buf is None:
        return text
    if hasattr(path_or_buf, "write"):
        path_or_buf.write(text)
    else:
        with open(path_or_buf, "w", encoding="utf-8", newline="") as out:
            out.write(text)
    return None


class BookMessages(NamedTuple):
    """What pricing CSV bytes said beside the priced book."""

    messages: bytes  # the lines ``kestrix price`` writes to stderr about the rows
    priced: int
    failed: int  # requests the object answered with an error
    malformed: int  # rows that made no request


def price_csv(data: bytes, name: str = "book", threads: int = 1, messages: bool = False):
    """Prices a CSV book given as bytes (its header line first) with the book pricer of ``kestrix price``.

    Returns the bytes the command writes for that book: the input columns, then
    Result, HResult and Description; with ``messages=True`` the pair (those bytes,
    ``BookMessages``), whose messages name the book ``name`` and the line.
    ``threads`` threads price it, each with its own object. A header that
    cannot be used raises ValueError with the command's message.
    """
    book, notes, readable, priced, failed, malformed = _kestrix.price_csv(bytes(data), name, threads)
    if not readable:
        raise ValueError(notes.decode("utf-8", "replace").strip())
    return (book, BookMessages(notes, priced, failed, malformed)) if messages else book
