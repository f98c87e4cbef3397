#!/usr/bin/env python3
"""Writes a generated book of every method for an A/B comparison of two builds.

    PYTHONPATH=build/default/python make_mixed_book.py ROWS [--seed N] > book.csv
    kestrix price book.csv --threads 1 -o a.csv   # with each build, then cmp

Every row is one method's request with all of its parameters drawn at random:
every option type and function, every enumeration member, and among ordinary
inputs a share of extreme ones (spots, strikes, expiries, volatilities, rates
and dividends over many decades, zero, negative and out-of-range values), so
that failures and edge paths are compared as well as values. The method list
and parameters come from the package's type library. Lattice steps stay at
most 500 so that a book of 100,000 rows prices in seconds.
"""
import argparse
import random
import sys

import kestrix


def number(rng, typical):
    """Mostly a value from `typical`, sometimes one over many decades or an odd one."""
    draw = rng.random()
    if draw < 0.92:
        return typical(rng)
    if draw < 0.98:
        sign = -1 if rng.random() < 0.1 else 1
        return sign * 10 ** rng.uniform(-9, 9)
    return rng.choice([0, -0, 1e-300, 1e300, -1, 5e-324, 1.7976931348623157e308, 100, 0.5, 365])


TYPICAL = {
    "AssetPrice": lambda r: round(r.uniform(1, 200), 2),
    "StrikePrice": lambda r: round(r.uniform(1, 200), 2),
    "TimeExpire": lambda r: round(r.uniform(0.01, 3), 4),
    "TimeTrading": lambda r: round(r.uniform(0.01, 3), 4),
    "Volatility": lambda r: round(r.uniform(0.01, 1.2), 4),
    "InterestRate": lambda r: round(r.uniform(-0.02, 0.15), 4),
    "YieldRate": lambda r: round(r.uniform(-0.02, 0.1), 4),
    "MarketPrice": lambda r: round(r.uniform(0, 50), 3),
    "DividendAmount": lambda r: round(r.uniform(0, 5), 2),
    "TimeExDividend": lambda r: round(r.uniform(0, 1), 3),
    "DividendFrequency": lambda r: r.choice([0, 1, 2, 4, 12, 0.5]),
    "JumpsPerYear": lambda r: round(r.uniform(0, 10), 2),
    "PercentTotalVol": lambda r: round(r.uniform(0, 1), 3),
}


MEMBERS = {}
EURODOLLAR_INDEX = lambda r: round(r.uniform(90, 99.9), 3)  # noqa: E731


def cell(rng, method, param):
    if param.kind == "enum":
        members = MEMBERS.setdefault(param.enumeration, list(kestrix.ENUMERATIONS[param.enumeration]))
        if rng.random() < 0.01:
            return str(rng.choice([-1, 99]))   # out of the enumeration
        return rng.choice(members).name
    if param.name == "Iterations":
        draw = rng.random()
        return str(rng.randint(5, 500) if draw < 0.6 else rng.randint(5, 40) if draw < 0.97 else rng.choice([0, 4, 501]))
    if param.optional and rng.random() < 0.2:
        return ""                               # left out: the object reads 0
    typical = TYPICAL.get(param.name, lambda r: round(r.uniform(0, 2), 3))
    if method.name == "Eurodollar" and param.name in ("AssetPrice", "StrikePrice"):
        typical = EURODOLLAR_INDEX                # an index below 100
    value = number(rng, typical)
    return repr(float(value))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("rows", type=int)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    methods = list(kestrix.METHODS.values())
    columns = []
    for method in methods:
        for param in method.params:
            if param.name not in columns:
                columns.append(param.name)
    out = sys.stdout
    out.write(",".join(["Method"] + columns) + "\n")
    for _ in range(args.rows):
        method = rng.choice(methods)
        cells = dict.fromkeys(columns, "")
        for param in method.params:
            cells[param.name] = cell(rng, method, param)
        out.write(",".join([method.name] + [cells[c] for c in columns]) + "\n")


if __name__ == "__main__":
    main()
