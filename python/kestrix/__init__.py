"""Option pricing with the Kestrix automation object, vectorised over numpy arrays.

Every method of the interface ``IKestrix`` is a function of this module with the
interface's parameter names as keywords, and every enumeration of the type
library is an ``IntEnum`` (under its type-library name, ``enumTimeFormat``, and
without the prefix, ``TimeFormat``)::

    import kestrix
    kestrix.GenBS(ExerciseType=kestrix.ExerciseType.European, OptionType=kestrix.OptionType.CallOption,
                  OptionFunction=kestrix.OptionFunctions.Theoretical, AssetPrice=100, StrikePrice=95,
                  TimeExpire=0.5, Volatility=0.25, InterestRate=0.05, YieldRate=0,
                  TimeFormat=kestrix.TimeFormat.Years)

Arguments
    Any numeric argument may be a number or an array; the arguments broadcast
    against each other as in numpy. An enumeration argument also takes a
    member's name as text (any letter case). An optional parameter left out
    (or given as None) is passed as omitted, which the object reads as 0: an
    omitted ``TimeFormat`` means ``Days``, an omitted rate type ``Continuous``.

Results
    A float when every argument is a scalar, else a float64 array of the
    broadcast shape.

pandas
    A ``pandas.Series`` (a DataFrame's column) is taken as an array, and the
    result is then a Series with the same index (all Series arguments must
    share one index). A column of enumeration member names works as well as a
    single name. ``kestrix.greeks`` prices several option functions at once
    into a DataFrame.

Failures
    By default (``errors="raise"``) the first failing element raises
    ``KestrixError``, whose ``index`` names the element. With ``errors="nan"``
    nothing is raised and the function returns the pair ``(values, hresults)``:
    failed elements are NaN in ``values`` and carry their HRESULT in
    ``hresults`` (uint32, 0 for success; a plain int for all-scalar input).
    HRESULTs are unsigned everywhere: ``0x80050002``, never a negative number.

Implied values
    ``ImpliedVol`` and ``ImpliedStrike`` answer 0 when no volatility or strike
    reprices ``MarketPrice`` (a real volatility is never 0). With
    ``implied_nan=True`` such an answer is NaN instead, like a failed element.

Threads
    A call over many elements shares them among ``threads`` threads (by
    default one per core the process may use), each pricing on its own object
    with the interpreter lock released; the results are the same whatever the
    number. Several Python threads may also call at once. A long call answers
    Ctrl-C (or any signal handler's exception) within a fraction of a second,
    however long its elements take.

Values no double holds
    A number too large for a double (a Python integer such as ``10**400``, a
    ``longdouble`` or an object array's element) is answered as the object
    answers an argument it cannot convert: ``DISP_E_OVERFLOW``
    (0x8002000A), raised as a ``KestrixError`` that is also a ``ValueError``,
    or NaN with that HRESULT under ``errors="nan"``.
"""

from __future__ import annotations

import enum as _enum
import inspect as _inspect
import json as _json
import numbers as _numbers
import os as _os
import sys as _sys
from typing import NamedTuple as _NamedTuple, Optional as _Optional

import numpy as _np

from . import _kestrix

# The library's version, from the build (one source: the CMake project).
__version__ = _kestrix.__version__

# The reference manual's notes (units, ranges), written by the build.
try:
    with open(_os.path.join(_os.path.dirname(__file__), "_notes.json"), encoding="utf-8") as _file:
        _NOTES = _json.load(_file)
except OSError:
    _NOTES = {"methods": {}, "parameters": {}, "functions": {}}

_LIBRARY = _kestrix.type_library()

LIBRARY_NAME: str = _LIBRARY["name"]
HELP_FILE: str = _LIBRARY["help_file"]
PROG_ID: str = _LIBRARY["prog_id"]


class ParamInfo(_NamedTuple):
    """One parameter of a method as the type library declares it."""

    name: str
    kind: str  # "double", "int" or "enum"
    enumeration: _Optional[str]  # the enumeration's type-library name, for kind "enum"
    optional: bool


class MethodInfo(_NamedTuple):
    """One method of IKestrix as the type library declares it."""

    name: str
    dispid: int
    help_string: str
    help_context: int
    params: tuple


METHODS: dict = {
    name: MethodInfo(name, dispid, help_string, help_context, tuple(ParamInfo(*p) for p in params))
    for name, dispid, help_string, help_context, params in _LIBRARY["methods"]
}


def _unsigned(code: int) -> int:
    return int(code) & 0xFFFFFFFF


class _ErrorCodes(_enum.IntEnum):
    """Base of enumOErrCodes: each member's value is its unsigned HRESULT, and it carries its text."""

    @property
    def text(self) -> str:
        return _ERROR_TEXTS[self.value]

    def __repr__(self) -> str:
        return f"<{type(self).__name__}.{self.name}: 0x{self.value:08X}>"


def _make_enumeration(name: str, members: list) -> type:
    if name == "enumOErrCodes":
        return _ErrorCodes(name, [(member, _unsigned(value)) for member, value, _ in members], module=__name__,
                           qualname=name)
    return _enum.IntEnum(name, [(member, value) for member, value, _ in members], module=__name__, qualname=name)


ENUMERATIONS: dict = {name: _make_enumeration(name, members) for name, members in _LIBRARY["enumerations"]}
_ERROR_TEXTS = {_unsigned(value): text for name, members in _LIBRARY["enumerations"] if name == "enumOErrCodes"
                for _, value, text in members}

# Each enumeration under its type-library name and under the name without the
# "enum" prefix (enumTimeFormat and TimeFormat are the same class).
for _name, _enumeration in ENUMERATIONS.items():
    globals()[_name] = _enumeration
    globals()[_name[len("enum"):]] = _enumeration


class KestrixError(Exception):
    """A request the object refused.

    Attributes: ``hresult`` (the unsigned 32-bit code, an ``enumOErrCodes``
    value for the library's own errors), ``description``, ``help_file``,
    ``help_context``, ``source`` (the class's registered programmatic
    identifier, None when the class is not registered), ``method`` and
    ``index`` (the failing element's index in the broadcast shape, None for
    an all-scalar call).
    """

    def __init__(self, method: str, hresult: int, description: str, help_file: _Optional[str] = None,
                 help_context: int = 0, source: _Optional[str] = None, index: _Optional[tuple] = None):
        self.method = method
        self.hresult = _unsigned(hresult)
        self.description = description
        self.help_file = help_file
        self.help_context = help_context
        self.source = source
        self.index = index
        where = "" if index is None else f" at index {index}"
        super().__init__(f"{method}{where}: {description} (HRESULT 0x{self.hresult:08X})")

    def __reduce__(self):
        # Travels between processes (multiprocessing) with all its fields.
        return (type(self), (self.method, self.hresult, self.description, self.help_file, self.help_context,
                             self.source, self.index))

    @property
    def code(self):
        """The ``enumOErrCodes`` member of ``hresult``, or None for another code."""
        try:
            return ENUMERATIONS["enumOErrCodes"](self.hresult)
        except ValueError:
            return None


class _ArgumentTooLarge(KestrixError, ValueError):
    """The failure of an argument no double holds: the object's DISP_E_OVERFLOW."""


DISP_E_OVERFLOW = 0x8002000A

_INT32 = _np.iinfo(_np.int32)
_DOUBLE_MAX = _np.finfo(_np.float64).max


def _is_real_number(value) -> bool:
    # Decimal is a number but not registered as Real; complex numbers are not taken.
    return isinstance(value, _numbers.Number) and (isinstance(value, _numbers.Real)
                                                  or not isinstance(value, _numbers.Complex))


_HELD, _TOO_LARGE, _TOO_SMALL = 0, 1, 2


def _to_double(value):
    """A number as a double, and whether a double holds it: _HELD, else
    _TOO_LARGE (its magnitude rounds to infinity) or _TOO_SMALL (a value that
    is not 0 rounds to 0), as the object's conversion of its text tells."""
    try:
        double = float(value)
    except OverflowError:
        return 0.0, _TOO_LARGE
    if double in (_np.inf, -_np.inf) and value not in (_np.inf, -_np.inf):
        return 0.0, _TOO_LARGE
    if double == 0 and value != 0:
        return 0.0, _TOO_SMALL
    return double, _HELD


def _doubles(method: MethodInfo, param: ParamInfo, array: _np.ndarray):
    """A numeric or object array as float64, and the mask of the elements no
    double holds (None when there is none)."""
    if array.dtype.kind == "O":
        flat = array.ravel()
        for element in flat:
            if not _is_real_number(element):
                raise TypeError(f"{method.name}: {param.name} must be a number or an array of numbers, "
                                f"not an array holding {type(element).__name__}")
        pairs = [_to_double(element) for element in flat]
        doubles = _np.fromiter((pair[0] for pair in pairs), dtype=_np.float64, count=len(pairs)).reshape(array.shape)
        marks = _np.fromiter((pair[1] for pair in pairs), dtype=_np.uint8, count=len(pairs)).reshape(array.shape)
        return doubles, (marks if marks.any() else None)
    if array.dtype.kind == "f" and array.dtype.itemsize > 8:
        # A longdouble beyond a double's range would become inf or 0 silently.
        with _np.errstate(over="ignore", under="ignore"):
            doubles = array.astype(_np.float64)
        marks = _np.asarray(_np.where(_np.isinf(doubles) & _np.isfinite(array), _TOO_LARGE,
                                    _np.where((doubles == 0) & (array != 0), _TOO_SMALL, _HELD)), dtype=_np.uint8)
        if marks.any():
            return _np.asarray(_np.where(marks != 0, 0.0, doubles)), marks
        return doubles, None
    doubles = array.astype(_np.float64, copy=False)
    return doubles, None


def _edit_distance(a: str, b: str) -> int:
    # Insertions, deletions, substitutions and swaps of neighbours, in any
    # letter case: the rule of the kestrix command's suggestions.
    a, b = a.lower(), b.lower()
    d = [[0] * (len(b) + 1) for _ in range(len(a) + 1)]
    for i in range(len(a) + 1):
        d[i][0] = i
    for j in range(len(b) + 1):
        d[0][j] = j
    for i in range(1, len(a) + 1):
        for j in range(1, len(b) + 1):
            d[i][j] = min(d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1]))
            if i > 1 and j > 1 and a[i - 1] == b[j - 2] and a[i - 2] == b[j - 1]:
                d[i][j] = min(d[i][j], d[i - 2][j - 2] + 1)
    return d[len(a)][len(b)]


def _closest_name(name: str, candidates) -> _Optional[str]:
    """The candidate a misspelt name most likely means, or None (as the kestrix command chooses)."""
    limit = min(max(len(name) // 3, 1), 3)
    best, best_distance = None, limit + 1
    for candidate in candidates:
        distance = _edit_distance(name, candidate)
        if distance < best_distance:
            best, best_distance = candidate, distance
    if best is not None or len(name) < 3:
        return best
    for candidate in candidates:
        if candidate.lower().startswith(name.lower()) and (best is None or len(candidate) < len(best)):
            best = candidate
    return best


def _did_you_mean(name: str, candidates) -> str:
    closest = _closest_name(name, candidates)
    return "" if closest is None else f"; did you mean {closest}?"


def _not_a_member(enumeration_name: str, text: str) -> str:
    """The rest of "Name: 'text' is neither a member...", as the kestrix command words it."""
    enumeration = ENUMERATIONS[enumeration_name]
    members = ", ".join(f"{member.name} ({int(member)})" for member in enumeration)
    return (f"is neither a member of {enumeration_name} nor a number"
            f"{_did_you_mean(text, [member.name for member in enumeration])} (members: {members})")


def _enum_value(method: MethodInfo, param: ParamInfo, text: str) -> int:
    # Member names match in any letter case, as they do through IDispatch.
    enumeration = ENUMERATIONS[param.enumeration]
    for member in enumeration:
        if member.name.lower() == text.lower():
            return int(member)
    try:
        return int(text.strip())  # a member's number as text, as a CSV cell holds it
    except ValueError:
        pass
    raise ValueError(f"{method.name}: {param.name}: {text!r} {_not_a_member(param.enumeration, text)}")


def _enum_values(method: MethodInfo, param: ParamInfo, array: _np.ndarray) -> _np.ndarray:
    """An array of member names (or numbers, or a mix) as the enumeration's values."""
    uniques, inverse = _np.unique(array.astype(object).ravel(), return_inverse=True)
    values = []
    for cell in uniques:
        if isinstance(cell, str):
            values.append(_enum_value(method, param, cell))
        elif isinstance(cell, (int, _np.integer)) or (isinstance(cell, (float, _np.floating)) and float(cell).is_integer()):
            values.append(int(cell))
        else:
            raise TypeError(f"{method.name}: {param.name}: {cell!r} is neither a member name nor a whole number")
    return _np.asarray(values, dtype=_np.int64)[inverse].reshape(array.shape)


def _operand(method: MethodInfo, param: ParamInfo, value):
    """The argument as the float64 or int32 array the object's parameter takes,
    and for a double parameter the mask of the values no double holds (or None)."""
    if isinstance(value, (int, float)):
        # Plain numbers, the common case of scalar calls, skip numpy's checks.
        if param.kind == "double":
            double, mark = _to_double(value)
            return _np.array(double, dtype=_np.float64), (None if mark == _HELD else _np.array(mark, dtype=_np.uint8))
        if isinstance(value, float) and not value.is_integer():
            raise ValueError(f"{method.name}: {param.name} must be a whole number")
        if not _INT32.min <= value <= _INT32.max:
            raise ValueError(f"{method.name}: {param.name} is out of the range of a 32-bit integer")
        return _np.array(int(value), dtype=_np.int32), None
    if param.kind == "enum" and isinstance(value, str):
        return _np.asarray(_enum_value(method, param, value), dtype=_np.int32), None
    array = _np.asarray(value)
    if param.kind == "enum" and (array.dtype.kind in "US" or (array.dtype.kind == "O" and any(
            isinstance(cell, str) for cell in array.ravel()))):
        array = _enum_values(method, param, array)
    if array.dtype.kind not in "biufO":
        raise TypeError(f"{method.name}: {param.name} must be a number or an array of numbers, "
                        f"not {type(value).__name__} of {array.dtype}")
    if array.dtype.kind == "O" and array.ndim == 0 and not _is_real_number(array.item()):
        raise TypeError(f"{method.name}: {param.name} must be a number or an array of numbers, "
                        f"not {type(value).__name__}")
    if param.kind == "double":
        return _doubles(method, param, array)
    if array.dtype.kind == "O":
        array, too_large = _doubles(method, param, array)
        if too_large is not None:
            raise ValueError(f"{method.name}: {param.name} is out of the range of a 32-bit integer")
    # Integers and enumeration values: integral floats are accepted, nothing
    # is rounded or wrapped silently.
    if array.dtype.kind == "f":
        if not _np.all(_np.isfinite(array)) or _np.any(array != _np.trunc(array)):
            raise ValueError(f"{method.name}: {param.name} must be a whole number")
    if array.size and (array.min() < _INT32.min or array.max() > _INT32.max):
        raise ValueError(f"{method.name}: {param.name} is out of the range of a 32-bit integer")
    return array.astype(_np.int32), None


def _series_index(method: MethodInfo, arguments: dict):
    """The index shared by the pandas Series among the arguments, or None when there is none."""
    pandas = _sys.modules.get("pandas")
    if pandas is None:
        return None
    index = None
    for name, value in arguments.items():
        if isinstance(value, pandas.Series):
            if index is None:
                index = value.index
            elif not value.index.equals(index):
                raise ValueError(f"{method.name}: the Series arguments must share one index; {name}'s differs")
            arguments[name] = value.to_numpy()
    return index


_IMPLIED = (5, 13)  # ImpliedVol, ImpliedStrike


def _call(method: MethodInfo, arguments: dict, errors: str, threads, implied_nan: bool = False):
    if errors not in ("raise", "nan"):
        raise ValueError(f"{method.name}: errors must be 'raise' or 'nan', not {errors!r}")
    index = _series_index(method, arguments)
    function = None
    if threads is None:
        threads = 0  # one per usable core
    elif isinstance(threads, bool) or not isinstance(threads, _numbers.Integral) or threads < 1:
        raise ValueError(f"{method.name}: threads must be a whole number of at least 1, not {threads!r}")
    operands = []
    masks = []
    scalar = True
    for param in method.params:
        value = arguments.get(param.name)
        if value is None:
            if not param.optional:
                raise TypeError(f"{method.name}: {param.name} is required")
            operands.append(None)
            masks.append(None)
            continue
        operand, too_large = _operand(method, param, value)
        scalar = scalar and operand.ndim == 0
        operands.append(operand)
        masks.append(too_large)
        if param.name == "OptionFunction":
            function = operand
    try:
        values, hresults, failure = _kestrix.call(method.dispid, operands, errors == "nan",
                                                  masks if any(m is not None for m in masks) else None,
                                                  int(threads))
    except ValueError as error:
        shapes = ", ".join(f"{p.name}{o.shape}" for p, o in zip(method.params, operands) if o is not None and o.ndim)
        raise ValueError(f"{method.name}: {error}: {shapes}") from None
    if failure is not None:
        flat, hresult, description, help_file, help_context, source, argument = failure
        where = None if scalar else tuple(int(i) for i in _np.unravel_index(flat, values.shape))
        kind = KestrixError if argument is None else _ArgumentTooLarge
        raise kind(method.name, hresult, description, help_file, help_context, source, where)
    if hresults is not None:
        hresults = _np.asarray(hresults).astype(_np.uint32)
    if implied_nan and function is not None:
        # An implied answer of 0 is "no solution": NaN, as a failed element is.
        unsolved = _np.isin(function, _IMPLIED) & (_np.asarray(values) == 0)
        if unsolved.any():
            values = _np.where(unsolved, _np.nan, values)
    if scalar:
        values = float(values)
        if hresults is not None:
            hresults = int(hresults)
    elif index is not None:
        pandas = _sys.modules["pandas"]
        if _np.ndim(values) != 1 or len(values) != len(index):
            raise ValueError(f"{method.name}: the result's shape {_np.shape(values)} does not fit the Series' index")
        values = pandas.Series(values, index=index, name=method.name)
        if hresults is not None:
            hresults = pandas.Series(hresults, index=index, name="HResult")
    return values if errors == "raise" else (values, hresults)


def _parameter_line(param: ParamInfo) -> list:
    note = _NOTES["parameters"].get(param.name, {})
    kind = {"double": "float", "int": "int"}.get(param.kind, param.enumeration)
    lines = [f"{param.name} : {kind}{', optional' if param.optional else ''}"]
    if note:
        lines.append(f"    {note['meaning']} {note['range']}")
        if param.optional and note.get("omitted"):
            lines.append(f"    Left out: {note['omitted']}")
    if param.kind == "enum":
        members = ", ".join(f"{member.name} ({int(member)})" for member in ENUMERATIONS[param.enumeration])
        lines.append(f"    Members: {members}.")
    return lines


def _docstring(method: MethodInfo) -> str:
    lines = [f"{method.help_string} (IKestrix.{method.name}, help context {method.help_context}).", ""]
    if _NOTES["methods"].get(method.name):
        lines += [_NOTES["methods"][method.name], ""]
    lines += ["Parameters, in the interface's order (optional ones may be left out and are then passed as 0)",
              "----------"]
    for param in method.params:
        lines += _parameter_line(param)
    lines += ['errors : "raise" (default) or "nan"',
              '    "raise" raises KestrixError at the first failing element; "nan" returns (values, hresults)',
              "    with NaN and the element's unsigned HRESULT where it failed.",
              "implied_nan : bool, default False",
              "    NaN instead of 0 for an ImpliedVol or ImpliedStrike without a solution.",
              "threads : int, default one per usable core",
              "    the threads that share the elements; the results are the same for any number.",
              "",
              "Option functions (units of the result)",
              "----------------"]
    for name, text in _NOTES["functions"].items():
        lines.append(f"{name}: {text}")
    lines += ["",
              "Returns a float for all-scalar arguments, a pandas Series for Series arguments (their index kept),",
              "else a float64 array of the broadcast shape. See docs/reference.md or `kestrix help " +
              method.name + "`."]
    return "\n".join(lines)


def _make_method(method: MethodInfo):
    keyword = _inspect.Parameter.POSITIONAL_OR_KEYWORD
    signature = _inspect.Signature(
        [_inspect.Parameter(p.name, keyword, default=None if p.optional else _inspect.Parameter.empty)
         for p in method.params]
        + [_inspect.Parameter("errors", _inspect.Parameter.KEYWORD_ONLY, default="raise"),
           _inspect.Parameter("implied_nan", _inspect.Parameter.KEYWORD_ONLY, default=False),
           _inspect.Parameter("threads", _inspect.Parameter.KEYWORD_ONLY, default=None)])

    names = [p.name for p in method.params]

    # Binds as the signature says, without inspect's cost on every call.
    def price(*args, errors="raise", implied_nan=False, threads=None, **kwargs):
        if len(args) > len(names):
            raise TypeError(f"{method.name}() takes at most {len(names)} positional arguments "
                            f"({len(args)} given)")
        arguments = dict(zip(names, args))
        for name, value in kwargs.items():
            if name not in signature.parameters or name in ("errors", "implied_nan", "threads"):
                raise TypeError(f"{method.name}() got an unexpected keyword argument '{name}'"
                                + _did_you_mean(name, names))
            if name in arguments:
                raise TypeError(f"{method.name}() got multiple values for argument '{name}'")
            arguments[name] = value
        return _call(method, arguments, errors, threads, implied_nan)

    price.__name__ = price.__qualname__ = method.name
    price.__module__ = __name__
    price.__signature__ = signature
    price.__doc__ = _docstring(method)
    return price


for _method in METHODS.values():
    globals()[_method.name] = _make_method(_method)

del _name, _enumeration, _method

# The functions that need no market price: every one but the implied searches.
_GREEKS = tuple(member.name for member in ENUMERATIONS["enumOptionFunctions"] if int(member) not in _IMPLIED)


def greeks(method, functions=None, *, errors="nan", implied_nan=False, threads=None, **inputs):
    """Several option functions of one request (or of arrays, Series, DataFrame columns) as a DataFrame.

    method     a method's name (``"GenBS"``) or function (``kestrix.GenBS``)
    functions  members or names of enumOptionFunctions; default: every function that needs no market
               price (Theoretical, Delta, Gamma, Theta, Vega, Rho, Psi, Lambda, IntrinsicValue,
               StrikeSensitivity, Time_Value)
    inputs     the method's other parameters by name, as for the method itself (not OptionFunction)
    errors     "nan" (default): a failed element is NaN; "raise": KestrixError at the first one

    Returns a ``pandas.DataFrame`` with one column per function (Theta per day, Vega, Rho and Psi per
    percentage point, see ``help(kestrix.GenBS)``) and one row per element, with the index of the Series
    given (else 0, 1, ...). The command's equivalent is ``kestrix call ... --functions all``.
    """
    import pandas

    name = method if isinstance(method, str) else getattr(method, "__name__", None)
    info = next((m for m in METHODS.values() if name is not None and m.name.lower() == name.lower()), None)
    if info is None:
        raise ValueError(f"{method!r} is not a method of IKestrix{_did_you_mean(str(name), list(METHODS))}")
    if "OptionFunction" in inputs:
        raise TypeError("greeks: give the option functions as `functions`, not as OptionFunction")
    if functions is None:
        functions = _GREEKS
    elif isinstance(functions, (str, int)):
        functions = [functions]
    option_functions = ENUMERATIONS["enumOptionFunctions"]
    members = []
    for function in functions:
        if not isinstance(function, str):
            members.append(option_functions(int(function)))
            continue
        member = next((m for m in option_functions if m.name.lower() == function.lower()), None)
        if member is None:
            raise ValueError(f"greeks: {function!r} {_not_a_member('enumOptionFunctions', function)}")
        members.append(member)
    price = globals()[info.name]
    index = next((value.index for value in inputs.values() if isinstance(value, pandas.Series)), None)
    columns = {}
    for member in members:
        result = price(OptionFunction=member, errors=errors, implied_nan=implied_nan, threads=threads, **inputs)
        values = result[0] if errors == "nan" else result
        columns[member.name] = _np.atleast_1d(_np.asarray(values, dtype=_np.float64)).ravel()
    return pandas.DataFrame(columns, index=index)


__all__ = (["KestrixError", "METHODS", "ENUMERATIONS", "ParamInfo", "MethodInfo", "HELP_FILE", "PROG_ID",
            "LIBRARY_NAME", "greeks", "__version__"]
           + list(METHODS) + list(ENUMERATIONS) + [name[len("enum"):] for name in ENUMERATIONS])


def __dir__():
    # The package's own names and its submodules, none of what it imports.
    return sorted(set(__all__) | {"book", "dask", "plot"})
