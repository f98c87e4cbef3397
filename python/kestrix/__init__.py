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

Failures
    By default (``errors="raise"``) the first failing element raises
    ``KestrixError``, whose ``index`` names the element. With ``errors="nan"``
    nothing is raised and the function returns the pair ``(values, hresults)``:
    failed elements are NaN in ``values`` and carry their HRESULT in
    ``hresults`` (int32, 0 for success; a plain int for all-scalar input).

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

import enum
import inspect
import numbers
from typing import NamedTuple, Optional

import numpy as np

from . import _kestrix

# The library's version, from the build (one source: the CMake project).
__version__ = _kestrix.__version__

_LIBRARY = _kestrix.type_library()

LIBRARY_NAME: str = _LIBRARY["name"]
HELP_FILE: str = _LIBRARY["help_file"]
PROG_ID: str = _LIBRARY["prog_id"]


class ParamInfo(NamedTuple):
    """One parameter of a method as the type library declares it."""

    name: str
    kind: str  # "double", "int" or "enum"
    enumeration: Optional[str]  # the enumeration's type-library name, for kind "enum"
    optional: bool


class MethodInfo(NamedTuple):
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


class _ErrorCodes(enum.IntEnum):
    """Base of enumOErrCodes: each member also carries its text."""

    @property
    def text(self) -> str:
        return _ERROR_TEXTS[self.value]


def _make_enumeration(name: str, members: list) -> type:
    base = _ErrorCodes if name == "enumOErrCodes" else enum.IntEnum
    enumeration = base(name, [(member, value) for member, value, _ in members], module=__name__)
    enumeration.__qualname__ = name
    return enumeration


ENUMERATIONS: dict = {name: _make_enumeration(name, members) for name, members in _LIBRARY["enumerations"]}
_ERROR_TEXTS = {value: text for name, members in _LIBRARY["enumerations"] if name == "enumOErrCodes"
                for _, value, text in members}

# Each enumeration under its type-library name and under the name without the
# "enum" prefix (enumTimeFormat and TimeFormat are the same class).
for _name, _enumeration in ENUMERATIONS.items():
    globals()[_name] = _enumeration
    globals()[_name[len("enum"):]] = _enumeration


class KestrixError(Exception):
    """A request the object refused.

    Attributes: ``hresult`` (the signed 32-bit code, an ``enumOErrCodes``
    value for the library's own errors), ``description``, ``help_file``,
    ``help_context``, ``source`` (the class's registered programmatic
    identifier, None when the class is not registered), ``method`` and
    ``index`` (the failing element's index in the broadcast shape, None for
    an all-scalar call).
    """

    def __init__(self, method: str, hresult: int, description: str, help_file: Optional[str] = None,
                 help_context: int = 0, source: Optional[str] = None, index: Optional[tuple] = None):
        self.method = method
        self.hresult = hresult
        self.description = description
        self.help_file = help_file
        self.help_context = help_context
        self.source = source
        self.index = index
        where = "" if index is None else f" at index {index}"
        super().__init__(f"{method}{where}: {description} (HRESULT 0x{hresult & 0xFFFFFFFF:08X})")

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


DISP_E_OVERFLOW = -0x7FFDFFF6  # 0x8002000A as a signed 32-bit value

_INT32 = np.iinfo(np.int32)
_DOUBLE_MAX = np.finfo(np.float64).max


def _is_real_number(value) -> bool:
    # Decimal is a number but not registered as Real; complex numbers are not taken.
    return isinstance(value, numbers.Number) and (isinstance(value, numbers.Real)
                                                  or not isinstance(value, numbers.Complex))


_HELD, _TOO_LARGE, _TOO_SMALL = 0, 1, 2


def _to_double(value):
    """A number as a double, and whether a double holds it: _HELD, else
    _TOO_LARGE (its magnitude rounds to infinity) or _TOO_SMALL (a value that
    is not 0 rounds to 0), as the object's conversion of its text tells."""
    try:
        double = float(value)
    except OverflowError:
        return 0.0, _TOO_LARGE
    if double in (np.inf, -np.inf) and value not in (np.inf, -np.inf):
        return 0.0, _TOO_LARGE
    if double == 0 and value != 0:
        return 0.0, _TOO_SMALL
    return double, _HELD


def _doubles(method: MethodInfo, param: ParamInfo, array: np.ndarray):
    """A numeric or object array as float64, and the mask of the elements no
    double holds (None when there is none)."""
    if array.dtype.kind == "O":
        flat = array.ravel()
        for element in flat:
            if not _is_real_number(element):
                raise TypeError(f"{method.name}: {param.name} must be a number or an array of numbers, "
                                f"not an array holding {type(element).__name__}")
        pairs = [_to_double(element) for element in flat]
        doubles = np.fromiter((pair[0] for pair in pairs), dtype=np.float64, count=len(pairs)).reshape(array.shape)
        marks = np.fromiter((pair[1] for pair in pairs), dtype=np.uint8, count=len(pairs)).reshape(array.shape)
        return doubles, (marks if marks.any() else None)
    if array.dtype.kind == "f" and array.dtype.itemsize > 8:
        # A longdouble beyond a double's range would become inf or 0 silently.
        with np.errstate(over="ignore", under="ignore"):
            doubles = array.astype(np.float64)
        marks = np.asarray(np.where(np.isinf(doubles) & np.isfinite(array), _TOO_LARGE,
                                    np.where((doubles == 0) & (array != 0), _TOO_SMALL, _HELD)), dtype=np.uint8)
        if marks.any():
            return np.asarray(np.where(marks != 0, 0.0, doubles)), marks
        return doubles, None
    doubles = array.astype(np.float64, copy=False)
    return doubles, None


def _enum_value(method: MethodInfo, param: ParamInfo, text: str) -> int:
    # Member names match in any letter case, as they do through IDispatch.
    enumeration = ENUMERATIONS[param.enumeration]
    for member in enumeration:
        if member.name.lower() == text.lower():
            return int(member)
    names = ", ".join(member.name for member in enumeration)
    raise ValueError(f"{method.name}: {param.name}: {text!r} is not a member of {param.enumeration} ({names})")


def _operand(method: MethodInfo, param: ParamInfo, value):
    """The argument as the float64 or int32 array the object's parameter takes,
    and for a double parameter the mask of the values no double holds (or None)."""
    if isinstance(value, (int, float)):
        # Plain numbers, the common case of scalar calls, skip numpy's checks.
        if param.kind == "double":
            double, mark = _to_double(value)
            return np.array(double, dtype=np.float64), (None if mark == _HELD else np.array(mark, dtype=np.uint8))
        if isinstance(value, float) and not value.is_integer():
            raise ValueError(f"{method.name}: {param.name} must be a whole number")
        if not _INT32.min <= value <= _INT32.max:
            raise ValueError(f"{method.name}: {param.name} is out of the range of a 32-bit integer")
        return np.array(int(value), dtype=np.int32), None
    if param.kind == "enum" and isinstance(value, str):
        return np.asarray(_enum_value(method, param, value), dtype=np.int32), None
    array = np.asarray(value)
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
        if not np.all(np.isfinite(array)) or np.any(array != np.trunc(array)):
            raise ValueError(f"{method.name}: {param.name} must be a whole number")
    if array.size and (array.min() < _INT32.min or array.max() > _INT32.max):
        raise ValueError(f"{method.name}: {param.name} is out of the range of a 32-bit integer")
    return array.astype(np.int32), None


def _call(method: MethodInfo, arguments: dict, errors: str, threads):
    if errors not in ("raise", "nan"):
        raise ValueError(f"{method.name}: errors must be 'raise' or 'nan', not {errors!r}")
    if threads is None:
        threads = 0  # one per usable core
    elif isinstance(threads, bool) or not isinstance(threads, numbers.Integral) or threads < 1:
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
    try:
        values, hresults, failure = _kestrix.call(method.dispid, operands, errors == "nan",
                                                  masks if any(m is not None for m in masks) else None,
                                                  int(threads))
    except ValueError as error:
        shapes = ", ".join(f"{p.name}{o.shape}" for p, o in zip(method.params, operands) if o is not None and o.ndim)
        raise ValueError(f"{method.name}: {error}: {shapes}") from None
    if failure is not None:
        flat, hresult, description, help_file, help_context, source, argument = failure
        index = None if scalar else tuple(int(i) for i in np.unravel_index(flat, values.shape))
        kind = KestrixError if argument is None else _ArgumentTooLarge
        raise kind(method.name, hresult, description, help_file, help_context, source, index)
    if scalar:
        values = float(values)
        if hresults is not None:
            hresults = int(hresults)
    return values if errors == "raise" else (values, hresults)


def _docstring(method: MethodInfo) -> str:
    lines = [f"{method.help_string} (IKestrix.{method.name}, help context {method.help_context}).", "",
             "Parameters in the interface's order (optional ones may be left out and are then passed as 0):"]
    for param in method.params:
        kind = param.enumeration or param.kind
        lines.append(f"    {param.name}: {kind}{', optional' if param.optional else ''}")
    lines += ["",
              'errors: "raise" (default) raises KestrixError at the first failing element; "nan" returns',
              "    (values, hresults) with NaN and the element's HRESULT where it failed.",
              "",
              "Returns a float for all-scalar arguments, else a float64 array of the broadcast shape."]
    return "\n".join(lines)


def _make_method(method: MethodInfo):
    keyword = inspect.Parameter.POSITIONAL_OR_KEYWORD
    signature = inspect.Signature(
        [inspect.Parameter(p.name, keyword, default=None if p.optional else inspect.Parameter.empty)
         for p in method.params]
        + [inspect.Parameter("errors", inspect.Parameter.KEYWORD_ONLY, default="raise"),
           inspect.Parameter("threads", inspect.Parameter.KEYWORD_ONLY, default=None)])

    names = [p.name for p in method.params]

    # Binds as the signature says, without inspect's cost on every call.
    def price(*args, errors="raise", threads=None, **kwargs):
        if len(args) > len(names):
            raise TypeError(f"{method.name}() takes at most {len(names)} positional arguments "
                            f"({len(args)} given)")
        arguments = dict(zip(names, args))
        for name, value in kwargs.items():
            if name not in signature.parameters or name in ("errors", "threads"):
                raise TypeError(f"{method.name}() got an unexpected keyword argument '{name}'")
            if name in arguments:
                raise TypeError(f"{method.name}() got multiple values for argument '{name}'")
            arguments[name] = value
        return _call(method, arguments, errors, threads)

    price.__name__ = price.__qualname__ = method.name
    price.__module__ = __name__
    price.__signature__ = signature
    price.__doc__ = _docstring(method)
    return price


for _method in METHODS.values():
    globals()[_method.name] = _make_method(_method)

del _name, _enumeration, _method

__all__ = (["KestrixError", "METHODS", "ENUMERATIONS", "ParamInfo", "MethodInfo", "HELP_FILE", "PROG_ID",
            "LIBRARY_NAME", "__version__"]
           + list(METHODS) + list(ENUMERATIONS) + [name[len("enum"):] for name in ENUMERATIONS])
