"""Values checked against computations independent of the library: the closed form,
parity, finite differences and round trips."""

import math

import numpy as np
import pytest

import kestrix
from kestrix import ExerciseType, OptionFunctions as F, OptionType, TimeFormat


# The library's normal distribution is the polynomial of Abramowitz and Stegun
# 26.2.17, whose absolute error is below 7.5e-8; a term K*N(d) can therefore
# differ from the exact one by up to K * 7.5e-8.
AS_ERROR = 7.5e-8


def N(x):
    return 0.5 * math.erfc(-x / math.sqrt(2))


def n(x):
    return math.exp(-0.5 * x * x) / math.sqrt(2 * math.pi)


def exact(call, function, S, K, T, v, r, q):
    """The textbook closed form and its derivatives, in the library's units
    (Theta per calendar day, Vega and Rho per percentage point), with the
    bound the approximate normal distribution allows."""
    d1 = (math.log(S / K) + (r - q + 0.5 * v * v) * T) / (v * math.sqrt(T))
    d2 = d1 - v * math.sqrt(T)
    Sq, Kr = S * math.exp(-q * T), K * math.exp(-r * T)
    w = 1 if call else -1
    if function == F.Theoretical:
        return w * (Sq * N(w * d1) - Kr * N(w * d2)), AS_ERROR * (Sq + Kr)
    if function == F.Delta:
        return w * math.exp(-q * T) * N(w * d1), AS_ERROR
    if function == F.Gamma:
        return math.exp(-q * T) * n(d1) / (S * v * math.sqrt(T)), 0.0
    if function == F.Vega:
        return 0.01 * Sq * n(d1) * math.sqrt(T), 0.0
    if function == F.Rho:
        return 0.01 * w * T * Kr * N(w * d2), 0.01 * T * Kr * AS_ERROR
    if function == F.StrikeSensitivity:
        return -w * math.exp(-r * T) * N(w * d2), AS_ERROR
    if function == F.Theta:
        theta = -Sq * n(d1) * v / (2 * math.sqrt(T)) + w * (q * Sq * N(w * d1) - r * Kr * N(w * d2))
        return theta / 365, (q * Sq + r * Kr) * AS_ERROR / 365
    raise ValueError(function)


GRID = dict(AssetPrice=np.array([70.0, 95.0, 100.0, 104.5, 160.0])[:, None],
            StrikePrice=np.array([80.0, 100.0, 125.0]),
            TimeExpire=0.6, Volatility=0.27, InterestRate=0.045, YieldRate=0.015)


def european(option_type, function, **arguments):
    inputs = dict(GRID, **arguments)
    return kestrix.GenBS(ExerciseType=ExerciseType.European, OptionType=option_type, OptionFunction=function,
                         TimeFormat=TimeFormat.Years, **inputs)


@pytest.mark.parametrize("option_type", [OptionType.CallOption, OptionType.PutOption])
@pytest.mark.parametrize("function", [F.Theoretical, F.Delta, F.Gamma, F.Theta, F.Vega, F.Rho,
                                      F.StrikeSensitivity])
def test_european_values_and_sensitivities_are_the_closed_form(option_type, function):
    values = european(option_type, function)
    assert values.shape == (5, 3)
    for (i, j), value in np.ndenumerate(values):
        expected, bound = exact(option_type == OptionType.CallOption, function, GRID["AssetPrice"][i, 0],
                                GRID["StrikePrice"][j], 0.6, 0.27, 0.045, 0.015)
        assert abs(value - expected) <= bound + 1e-13 * (1 + abs(expected)), (i, j)


def test_put_call_parity_and_the_straddle():
    call = european(OptionType.CallOption, F.Theoretical)
    put = european(OptionType.PutOption, F.Theoretical)
    S, K = np.broadcast_arrays(GRID["AssetPrice"], GRID["StrikePrice"])
    forward = S * math.exp(-0.015 * 0.6) - K * math.exp(-0.045 * 0.6)
    np.testing.assert_allclose(call - put, forward, rtol=0, atol=1e-11)
    np.testing.assert_allclose(european(OptionType.Straddle, F.Theoretical), call + put, rtol=1e-14)


def test_implied_volatility_recovers_the_pricing_volatility():
    vols = np.array([0.08, 0.2, 0.45, 0.9])
    prices = european(OptionType.PutOption, F.Theoretical, AssetPrice=97.0, StrikePrice=100.0, Volatility=vols)
    implied = european(OptionType.PutOption, F.ImpliedVol, AssetPrice=97.0, StrikePrice=100.0, Volatility=0.3,
                       MarketPrice=prices)
    np.testing.assert_allclose(implied, vols, rtol=1e-6)
