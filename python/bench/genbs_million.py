"""Times 1,000,000 European GenBS values priced from arrays, against a plain Python
loop of scalar kestrix calls (timed on a sample and scaled up) and against a
numpy-vectorised Black-Scholes.

    PYTHONPATH=build/default/python /usr/bin/python3 python/bench/genbs_million.py
"""

import math
import time

import numpy as np

import kestrix
from kestrix import ExerciseType, OptionFunctions, OptionType, TimeFormat

COUNT = 1_000_000
LOOP_SAMPLE = 20_000


def best_of(repeats, job):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        result = job()
        times.append(time.perf_counter() - start)
    return min(times), result


def numpy_black_scholes(S, K, T, v, r, q):
    """Calls priced with numpy; the normal distribution by the polynomial of
    Abramowitz and Stegun 26.2.17, so that no scipy is needed."""
    def N(x):
        t = 1 / (1 + 0.2316419 * np.abs(x))
        poly = t * (0.31938153 + t * (-0.356563782 + t * (1.781477937 + t * (-1.821255978 + t * 1.330274429))))
        tail = np.exp(-0.5 * x * x) / math.sqrt(2 * math.pi) * poly
        return np.where(x >= 0, 1 - tail, tail)
    d1 = (np.log(S / K) + (r - q + 0.5 * v * v) * T) / (v * np.sqrt(T))
    d2 = d1 - v * np.sqrt(T)
    return S * np.exp(-q * T) * N(d1) - K * np.exp(-r * T) * N(d2)


def main():
    rng = np.random.default_rng(12)
    S = rng.uniform(50, 150, COUNT)
    K = rng.uniform(50, 150, COUNT)
    T = rng.uniform(0.05, 2.0, COUNT)
    v = rng.uniform(0.1, 0.6, COUNT)
    r, q = 0.05, 0.01
    fixed = dict(ExerciseType=ExerciseType.European, OptionType=OptionType.CallOption,
                 OptionFunction=OptionFunctions.Theoretical, InterestRate=r, YieldRate=q,
                 TimeFormat=TimeFormat.Years)

    vectorised, values = best_of(3, lambda: kestrix.GenBS(AssetPrice=S, StrikePrice=K, TimeExpire=T,
                                                          Volatility=v, **fixed))

    def loop():
        return [kestrix.GenBS(AssetPrice=float(S[i]), StrikePrice=float(K[i]), TimeExpire=float(T[i]),
                              Volatility=float(v[i]), **fixed) for i in range(LOOP_SAMPLE)]
    sample, looped = best_of(1, loop)
    assert np.array_equal(np.array(looped), values[:LOOP_SAMPLE])
    per_loop_call = sample / LOOP_SAMPLE

    numpy_time, numpy_values = best_of(3, lambda: numpy_black_scholes(S, K, T, v, r, q))

    print(f"kestrix.GenBS on arrays of {COUNT:,}: {vectorised:.3f} s ({vectorised / COUNT * 1e9:.0f} ns a value)")
    print(f"Python loop of scalar kestrix.GenBS calls: {per_loop_call * 1e6:.1f} us a call, "
          f"{per_loop_call * COUNT:.1f} s for {COUNT:,} (from {LOOP_SAMPLE:,}); "
          f"arrays are {per_loop_call * COUNT / vectorised:.0f}x faster")
    print(f"numpy Black-Scholes (same polynomial): {numpy_time:.3f} s; "
          f"largest difference {np.max(np.abs(numpy_values - values)):.1e}")


if __name__ == "__main__":
    main()
