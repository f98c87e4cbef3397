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


# The y axis of each option function: its name and unit.
_FUNCTION_LABELS = {
    "Theoretical": "Value",
    "Delta": "Delta (per 1 of asset price)",
    "Gamma": "Gamma (per 1 of asset price)",
    "Theta": "Theta (per day)",
    "ImpliedVol": "Implied volatility (fraction)",
    "Vega": "Vega (per 1 % volatility)",
    "Rho": "Rho (per 1 % interest rate)",
    "Psi": "Psi (per 1 % yield)",
    "Lambda": "Lambda (elasticity)",
    "IntrinsicValue": "Intrinsic value",
    "StrikeSensitivity": "Strike sensitivity (dV/dK)",
    "Time_Value": "Time value",
    "ImpliedStrike": "Implied strike",
}

# Inputs given as decimal fractions, and those in the unit of TimeFormat.
_FRACTIONS = {"Volatility", "InterestRate", "YieldRate", "PercentTotalVol"}
_TIMES = {"TimeExpire", "TimeTrading", "TimeExDividend", "DividendFrequency"}


def _time_unit(inputs) -> str:
    unit = inputs.get("TimeFormat")
    if unit is None:
        return "days"  # left out it is Days
    if isinstance(unit, str):
        return "years" if unit.lower() == "years" else "days" if unit.lower() == "days" else unit
    return "years" if int(unit) == int(kestrix.TimeFormat.Years) else "days"


def _axis_label(name: str, inputs) -> str:
    if name in _FRACTIONS:
        return f"{name} (fraction)"
    if name in _TIMES:
        return f"{name} ({_time_unit(inputs)})"
    return name


def _value_text(value) -> str:
    name = getattr(value, "name", None)  # an enumeration member
    if isinstance(name, str):
        return name
    if isinstance(value, float):
        return f"{value:g}"
    return str(value)


def _title(infos, inputs) -> str:
    # The methods, then the fixed inputs, a few to a line.
    fixed = [f"{name}={_value_text(value)}" for name, value in inputs.items() if name != "TimeFormat"]
    if any(name in _TIMES for name in inputs):
        fixed.append(f"times in {_time_unit(inputs)}")
    lines = [", ".join(info.name for info in infos)]
    for start in range(0, len(fixed), 5):
        lines.append(", ".join(fixed[start:start + 5]))
    return "\n".join(lines)


def profile(methods: Union[str, Iterable], over: str, values, functions=("Theoretical",), *,
            figsize=None, title: str | None = None, **inputs) -> Figure:
    """A figure with one panel per option function and, in each, one line per method.

    methods    a method name or function (``"GenBS"``, ``kestrix.Whaley``) or a list of them
    over       the name of the double parameter that varies, e.g. ``"AssetPrice"``
    values     the values it takes (the x axis)
    functions  members (or names) of enumOptionFunctions, one panel each
    title      the figure's title; default: the methods and the fixed inputs
    inputs     the other arguments, by parameter name; each method takes those it declares
               (``Iterations`` reaches only Binomial and Eurodollar, ``ExerciseType`` not Whaley)

    Panels stand in a grid at most three across, each labelled with its function's unit (Theta per
    day; Vega, Rho and Psi per percentage point); one legend names the methods for the whole figure.
    Points a method cannot price are left out of its line. Returns a ``matplotlib.figure.Figure``
    (save it with ``savefig``).
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

    columns = min(3, len(members))
    rows = -(-len(members) // columns)
    figure = Figure(figsize=figsize or (4.6 * columns, 3.2 * rows + 1.2), layout="constrained")
    # A last, thin row holds the figure's one legend.
    grid = figure.add_gridspec(rows + 1, columns, height_ratios=[1.0] * rows + [0.08])
    axes = []
    for number in range(rows * columns):
        share = axes[0] if axes else None
        axes.append(figure.add_subplot(grid[number // columns, number % columns], sharex=share))
    for ax in axes[len(members):]:
        ax.set_visible(False)
    for number, (ax, member) in enumerate(zip(axes, members)):
        for info in infos:
            names = {p.name for p in info.params}
            arguments = {name: value for name, value in inputs.items() if name in names}
            arguments.update(OptionFunction=member, **{over: x})
            y, _ = getattr(kestrix, info.name)(**arguments, errors="nan")
            ax.plot(x, y, label=info.name)
        ax.set_title(member.name, fontsize="medium")
        ax.set_ylabel(_FUNCTION_LABELS.get(member.name, member.name))
        ax.grid(True, alpha=0.3)
        # The lowest panel of each column carries the x axis' name.
        if number + columns >= len(members):
            ax.set_xlabel(_axis_label(over, inputs))
    handles, labels = axes[0].get_legend_handles_labels()
    legend_axes = figure.add_subplot(grid[rows, :])
    legend_axes.axis("off")
    legend_axes.legend(handles, labels, loc="center", ncol=min(len(labels), 4), frameon=False)
    figure.suptitle(title if title is not None else _title(infos, inputs), fontsize="medium")
    return figure
