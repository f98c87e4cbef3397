#!/usr/bin/env python3
"""Writes a generated book of GenBS requests for `kestrix price`.

    make_book.py ROWS [--seed N] [--bad FRACTION] > book.csv

Rows are drawn from a fixed seed, so the same arguments give the same book.
With --bad, that fraction of the rows is spoiled: half of them are requests
the library rejects (a zero strike, a negative volatility), half make no
request at all (a wrong cell count, a stray quote, an unknown method, an
unreadable number, an unclosed quoted field).
"""
import argparse
import random
import sys

HEADER = ("Method,ExerciseType,OptionType,OptionFunction,AssetPrice,StrikePrice,"
          "TimeExpire,Volatility,InterestRate,YieldRate,MarketPrice,TimeFormat")
FUNCTIONS = ["Theoretical", "Delta", "Gamma", "Theta", "Vega", "Rho", "Psi", "Lambda",
             "StrikeSensitivity", "IntrinsicValue", "Time_Value"]


def good_row(rng):
    exercise = "European" if rng.random() < 0.9 else "American"
    kind = rng.choice(["CallOption", "PutOption", "Straddle"])
    function = rng.choice(FUNCTIONS)
    spot = round(rng.uniform(50, 150), 2)
    strike = round(spot * rng.uniform(0.7, 1.3), 2)
    expiry = round(rng.uniform(0.05, 3), 4)
    vol = round(rng.uniform(0.05, 0.8), 4)
    rate = round(rng.uniform(0, 0.08), 4)
    yield_ = round(rng.uniform(0, 0.05), 4)
    return [f"GenBS,{exercise},{kind},{function},{spot},{strike},{expiry},{vol},{rate},{yield_},,Years"]


def bad_row(rng, row):
    cells = row[0].split(",")
    choice = rng.randrange(7)
    if choice == 0:
        cells[5] = "0"                  # rejected: the strike must be positive
    elif choice == 1:
        cells[7] = "-0.2"               # rejected: the volatility must be positive
    elif choice == 2:
        cells = cells[:-3]              # too few cells
    elif choice == 3:
        cells[4] = 'a"b'                # a quote inside an unquoted field
    elif choice == 4:
        cells[0] = "Heston"             # no such method
    elif choice == 5:
        cells[6] = "soon"               # not a number
    else:
        # A quoted field spanning two lines, well formed: one record.
        cells[3] = '"Theo\nretical"'
    return [",".join(cells)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("rows", type=int)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--bad", type=float, default=0.0)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    out = sys.stdout
    out.write(HEADER + "\n")
    for _ in range(args.rows):
        row = good_row(rng)
        if args.bad > 0 and rng.random() < args.bad:
            row = bad_row(rng, row)
        out.write(row[0] + "\n")


if __name__ == "__main__":
    main()
