"""The package answers exactly as the C++ host does: the same bits, or the same error."""

import math
from collections import defaultdict

import numpy as np
import pytest

import kestrix
from kestrix import (CompoundRate, DividendStyle, DividendStyleBin, EurodollarModel, ExerciseType,
                     OptionFunctions as F, OptionType, TimeFormat)

EUROPEAN_CALL = dict(ExerciseType=ExerciseType.European, OptionType=OptionType.CallOption, AssetPrice=101.3,
                     StrikePrice=97.5, TimeExpire=0.437, Volatility=0.263, InterestRate=0.0514, YieldRate=0.0123,
                     TimeFormat=TimeFormat.Years)
DIVIDEND = dict(DividendAmount=1.25, TimeExDividend=0.19, DividendFrequency=4)
APPROX = dict(OptionType=OptionType.PutOption, AssetPrice=92.7, StrikePrice=100, TimeExpire=0.75,
              Volatility=0.31, InterestRate=0.083, YieldRate=0.021, TimeFormat=TimeFormat.Years)

ROWS = [
    *[("GenBS", dict(EUROPEAN_CALL, OptionFunction=f)) for f in F if f not in (F.ImpliedVol, F.ImpliedStrike)],
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.ImpliedVol, MarketPrice=9.87)),
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.ImpliedStrike, MarketPrice=9.87)),
    ("GenBS", dict(EUROPEAN_CALL, OptionType=OptionType.Straddle, OptionFunction=F.Vega, TimeExpire=160,
                   TimeFormat=TimeFormat.Days, InterestRateType=CompoundRate.SemiAnnually,
                   YieldRateType=CompoundRate.Quarterly)),
    ("GenBS", dict(EUROPEAN_CALL, ExerciseType=ExerciseType.American, OptionFunction=F.Theoretical, **DIVIDEND)),
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.Rho, DividendStyle=DividendStyle.ContinuousYield, **DIVIDEND)),
    ("FrenchBS", dict(EUROPEAN_CALL, OptionFunction=F.Theta, TimeTrading=0.41)),
    ("Binomial", dict(EUROPEAN_CALL, ExerciseType=ExerciseType.American, OptionType=OptionType.PutOption,
                      OptionFunction=F.Theoretical, Iterations=137,
                      DividendStyle=DividendStyleBin.DiscreteControlVar, **DIVIDEND)),
    ("Binomial", dict(EUROPEAN_CALL, OptionFunction=F.Gamma, Iterations=64)),
    ("Whaley", dict(APPROX, OptionFunction=F.Theoretical)),
    ("Whaley", dict(APPROX, OptionFunction=F.ImpliedVol, MarketPrice=11.5)),
    ("BSAmerican", dict(APPROX, OptionFunction=F.Delta)),
    ("JumpDiffusion", dict(APPROX, OptionFunction=F.Theoretical, JumpsPerYear=3.5, PercentTotalVol=0.4)),
    ("AmericanCall", dict(OptionFunction=F.Theoretical, AssetPrice=80, StrikePrice=82, TimeExpire=0.33,
                          Volatility=0.3, InterestRate=0.06, TimeFormat=TimeFormat.Years, DividendAmount=4,
                          TimeExDividend=0.25)),
    *[("Eurodollar", dict(Model=m, ExerciseType=ExerciseType.American, OptionType=OptionType.CallOption,
                          OptionFunction=F.Theoretical, AssetPrice=94.5, StrikePrice=94.25, TimeExpire=0.4,
                          Volatility=0.18, InterestRate=0.052, Iterations=50, TimeFormat=TimeFormat.Years))
      for m in EurodollarModel],
    # Failures: each with its method's help context.
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.Theoretical, StrikePrice=0)),
    ("AmericanCall", dict(OptionFunction=F.Theoretical, AssetPrice=80, StrikePrice=0, TimeExpire=0.33,
                          Volatility=0.3, InterestRate=0.06)),
    ("Binomial", dict(EUROPEAN_CALL, OptionFunction=F.Theoretical, Iterations=3)),
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.Theoretical, OptionType=7)),
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.ImpliedVol, MarketPrice=0)),
    ("GenBS", dict(EUROPEAN_CALL, OptionFunction=F.Theoretical, YieldRate=-1.5)),
    ("JumpDiffusion", dict(APPROX, OptionFunction=F.Theoretical, JumpsPerYear=3.5, PercentTotalVol=1.5)),
    ("Eurodollar", dict(Model=9, ExerciseType=ExerciseType.European, OptionType=OptionType.PutOption,
                        OptionFunction=F.Theoretical, AssetPrice=94.5, StrikePrice=94.25, TimeExpire=0.4,
                        Volatility=0.18, InterestRate=0.052, Iterations=50)),
    ("Eurodollar", dict(Model=EurodollarModel.GenBSEuro, ExerciseType=ExerciseType.European,
                        OptionType=OptionType.PutOption, OptionFunction=F.Theoretical, AssetPrice=120,
                        StrikePrice=94.25, TimeExpire=0.4, Volatility=0.18, InterestRate=0.052, Iterations=50)),
    # Numerical trouble is no error: success and 0.
    ("Binomial", dict(EUROPEAN_CALL, ExerciseType=ExerciseType.American, OptionFunction=F.Theoretical,
                      Iterations=500, AssetPrice=1e300, Volatility=5)),
]


def host_hresult(answer):
    return int(answer["hresult"], 16)


@pytest.mark.parametrize("method, arguments", ROWS, ids=[f"{m}-{i}" for i, (m, _) in enumerate(ROWS)])
def test_scalar_call_answers_as_the_host(host, method, arguments):
    expected = host(method, **arguments)
    function = getattr(kestrix, method)
    if host_hresult(expected) == 0:
        value = function(**arguments)
        assert isinstance(value, float)
        assert value.hex() == float(expected["result"]).hex()
    else:
        with pytest.raises(kestrix.KestrixError) as caught:
            function(**arguments)
        error = caught.value
        assert error.hresult == host_hresult(expected)
        assert (error.description, error.help_file, error.help_context, error.source) == (
            expected["description"], expected["helpFile"], expected["helpContext"], expected["source"])
        assert error.index is None
        assert error.description in str(error)


def test_arrays_of_mixed_requests_answer_element_by_element_as_the_host(host):
    # Every row of a method in one call, each parameter an array across the
    # rows (an omitted optional parameter is 0 in its column).
    by_method = defaultdict(list)
    for method, arguments in ROWS:
        by_method[method].append(arguments)
    for method, rows in by_method.items():
        info = kestrix.METHODS[method]
        columns = {p.name: np.array([row.get(p.name, 0) for row in rows]) for p in info.params}
        values, hresults = getattr(kestrix, method)(**columns, errors="nan")
        assert values.shape == hresults.shape == (len(rows),)
        for i, row in enumerate(rows):
            expected = host(method, **row)
            assert hresults[i] == host_hresult(expected), (method, row)
            if hresults[i] == 0:
                assert values[i].hex() == float(expected["result"]).hex(), (method, row)
            else:
                assert math.isnan(values[i])
