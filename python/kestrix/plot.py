"""Profiles of a value or sensitivity across a range of one input, one line per method."""

from __future__ import annotations

from typing import Iterable, Union

import numpy as np
from matplotlib.figure import Figure

import kestrix


def _method_info(method) -> kestrix.MethodInfo:
    name = method if isinstance(method, str) else getattr(method, "__name__", None)
    if name not in kestrix.METHODS:
        raise ValueError(f"{method!r} is not a method of IKestrix ({', '.join(kestrix.METHODS)})")
    return kestrix.METHODS[name]


def _function_member(function) -> kestrix.OptionFunctions:
    if isinstance(function, str):
        for member in kestrix.OptionFunctions:
            if member.name.lower() == function.lower():
                return member
        raise ValueError(f"{function!r} is not a member of enumOptionFunctions")
    return kestrix.OptionFunctions(function)


def profile(methods: Union[str, Iterable], over: str, values, functions=("Theoretical",), *,
            figsize=None, title: str | None = None, **inputs) -> Figure:
    """A figure with one panel per option function and, in each, one line per method.

    methods    a method name or function (``"GenBS"``, ``kestrix.Whaley``) or a list of them
    over       the name of the double parameter that varies, e.g. ``"AssetPrice"``
    values     the values it takes (the x axis)
    functions  members (or names) of enumOptionFunctions, one panel each
    inputs     the other arguments, by parameter name; each method takes those it declares
               (``Iterations`` reaches only Binomial and Eurodollar, ``ExerciseType`` not Whaley)

    Points a method cannot price are left out of its line. Returns a
    ``matplotlib.figure.Figure`` (save it with ``savefig``).
    """
    infos = [_method_info(methods)] if isinstance(methods, str) or callable(methods) else \
        [_method_info(m) for m in methods]
    if not infos:
        raise ValueError("profile needs at least one method")
    members = [_function_member(functions)] if isinstance(functions, (str, int)) else \
        [_function_member(f) for f in functions]
    if not members:
        raise ValueError("profile needs at least one option function")
    if "OptionFunction" in inputs:
        raise ValueError("give the option functions as `functions`, not as OptionFunction")
    if over in inputs:
        raise ValueError(f"{over} varies along the x axis; it cannot also be fixed")

    for info in infos:
        if not any(p.name == over and p.kind == "double" for p in info.params):
            raise ValueError(f"{over} is not a double parameter of {info.name}")
    declared = {p.name for info in infos for p in info.params}
    unknown = sorted(set(inputs) - set(declared))
    if unknown:
        raise ValueError(f"{', '.join(unknown)}: no such parameter of {', '.join(i.name for i in infos)}")

    x = np.asarray(values, dtype=np.float64)
    if x.ndim != 1:
        raise ValueError("values must be one-dimensional")

    figure = Figure(figsize=figsize or (6.4, 2.6 * len(members)), layout="constrained")
    axes = figure.subplots(len(members), 1, sharex=True, squeeze=False)[:, 0]
    for ax, member in zip(axes, members):
        for info in infos:
            names = {p.name for p in info.params}
            arguments = {name: value for name, value in inputs.items() if name in names}
            arguments.update(OptionFunction=member, **{over: x})
            y, _ = getattr(kestrix, info.name)(**arguments, errors="nan")
            ax.plot(x, y, label=info.name)
        ax.set_ylabel(member.name)
        ax.grid(True, alpha=0.3)
    axes[0].legend(fontsize="small")
    axes[-1].set_xlabel(over)
    if title:
        figure.suptitle(title)
    return figure
