"""Arrays: broadcasting, memory layouts, failures per element, argument checks, threads."""

import math
import pickle
import signal
import threading
import time
from decimal import Decimal
from fractions import Fraction

import numpy as np
import pytest

import kestrix
from kestrix import ExerciseType, OptionFunctions as F, OptionType, TimeFormat

BASE = dict(ExerciseType=ExerciseType.European, OptionType=OptionType.CallOption, OptionFunction=F.Theoretical,
            AssetPrice=100.0, StrikePrice=100.0, TimeExpire=0.5, Volatility=0.25, InterestRate=0.05,
            YieldRate=0.01, TimeFormat=TimeFormat.Years)


def genbs(**changes):
    return kestrix.GenBS(**dict(BASE, **changes))


def scalar_at(arrays, index):
    """The all-scalar arguments of one element of a broadcast call."""
    return {name: (value[index].item() if isinstance(value, np.ndarray) and value.ndim else value)
            for name, value in arrays.items()}


def assert_elementwise(result, **arrays):
    # Every element is the all-scalar call on that element's arguments, bit for bit.
    names = list(arrays)
    broadcast = dict(zip(names, np.broadcast_arrays(*[np.asarray(arrays[n]) for n in names])))
    assert result.shape == next(iter(broadcast.values())).shape
    for index in np.ndindex(result.shape):
        expected = genbs(**scalar_at(broadcast, index))
        assert result[index].hex() == expected.hex(), index


def test_all_scalar_arguments_give_a_float_and_arrays_an_array():
    assert type(genbs()) is float
    assert type(genbs(AssetPrice=np.float64(100))) is float
    assert type(genbs(AssetPrice=np.array(100.0))) is float
    result = genbs(AssetPrice=[100.0])
    assert isinstance(result, np.ndarray) and result.dtype == np.float64 and result.shape == (1,)
    assert genbs(AssetPrice=np.empty((0, 3))).shape == (0, 3)


def test_arguments_broadcast_against_each_other():
    S = np.linspace(80, 120, 3)[:, None]
    K = np.array([90.0, 100.0, 110.0, 120.0])
    vol = np.array([[[0.2]], [[0.4]]])
    result = genbs(AssetPrice=S, StrikePrice=K, Volatility=vol)
    assert result.shape == (2, 3, 4)
    assert_elementwise(result, AssetPrice=S, StrikePrice=K, Volatility=vol)
    # Enumerations broadcast too: call, put and straddle along one axis.
    types = np.array([OptionType.CallOption, OptionType.PutOption, OptionType.Straddle])[:, None]
    by_type = genbs(OptionType=types, AssetPrice=K)
    assert by_type.shape == (3, 4)
    np.testing.assert_allclose(by_type[2], by_type[0] + by_type[1], rtol=1e-14)


@pytest.mark.parametrize("layout", ["reversed", "strided", "fortran", "stride0", "record", "big-endian", "int"])
def test_any_memory_layout_reads_the_right_elements(layout):
    grid = np.linspace(70, 130, 24).reshape(4, 6)
    S = {
        "reversed": grid[::-1, ::-1],
        "strided": np.linspace(70, 130, 48).reshape(4, 12)[:, ::2],
        "fortran": np.asfortranarray(grid),
        "stride0": np.broadcast_to(np.linspace(70, 130, 6), (4, 6)),
        # A field of a packed record array is unaligned.
        "record": np.rec.fromarrays([np.zeros(24, np.int8), grid.ravel()],
                                    dtype=[("pad", "i1"), ("S", "f8")]).S.reshape(4, 6),
        "big-endian": grid.astype(">f8"),
        "int": np.arange(70, 94).reshape(4, 6),
    }[layout]
    assert_elementwise(genbs(AssetPrice=S, StrikePrice=grid.T[:, :1].T), AssetPrice=S,
                       StrikePrice=grid.T[:, :1].T)


def test_shapes_that_do_not_broadcast_are_refused():
    with pytest.raises(ValueError, match="broadcast"):
        genbs(AssetPrice=np.ones(3), StrikePrice=np.ones(4))


def test_the_first_failing_element_is_named_by_its_index():
    K = np.full((3, 4), 100.0)
    K[1, 2] = 0.0
    K[2, 0] = -5.0  # also fails, but later in C order
    with pytest.raises(kestrix.KestrixError) as caught:
        genbs(StrikePrice=K)
    error = caught.value
    assert error.index == (1, 2)
    assert error.hresult == kestrix.OErrCodes.StrikePriceErr
    assert error.code is kestrix.OErrCodes.StrikePriceErr
    assert (error.description, error.help_file, error.help_context) == (
        "StrikePrice must be greater than 0.", "Kestrix.hlp", 2)
    assert "index (1, 2)" in str(error) and "0x80050002" in str(error)
    copy = pickle.loads(pickle.dumps(error))
    assert (copy.hresult, copy.description, copy.help_context, copy.index, str(copy)) == (
        error.hresult, error.description, error.help_context, error.index, str(error))


def test_errors_nan_marks_failed_elements_and_returns_their_hresults():
    K = np.array([[100.0, 0.0], [95.0, 100.0]])
    T = np.array([0.5, -1.0])
    values, hresults = genbs(StrikePrice=K, TimeExpire=T, errors="nan")
    assert hresults.dtype == np.uint32 and hresults.shape == values.shape == (2, 2)
    # The validation order decides which code an element with two faults gets.
    assert hresults.tolist() == [[0, kestrix.OErrCodes.StrikePriceErr],
                                 [0, kestrix.OErrCodes.TimeExpireErr]]
    assert values[0, 0] == genbs(StrikePrice=100.0) and values[1, 0] == genbs(StrikePrice=95.0)
    assert np.isnan(values[0, 1]) and np.isnan(values[1, 1])

    value, hresult = genbs(StrikePrice=0, errors="nan")
    assert math.isnan(value) and hresult == kestrix.OErrCodes.StrikePriceErr == 0x80050002 and type(hresult) is int
    assert genbs(errors="nan") == (genbs(), 0)


def test_out_of_range_enumeration_values_reach_the_object():
    values, hresults = genbs(OptionType=[1, 4], OptionFunction=[1, 99], errors="nan")
    assert hresults.tolist() == [0, kestrix.OErrCodes.OptionTypeErr]
    values, hresults = genbs(OptionFunction=[0, 14], errors="nan")
    assert hresults.tolist() == [kestrix.OErrCodes.OptionFunctionErr] * 2


def test_enumeration_arguments_take_member_names_in_any_letter_case():
    assert genbs(OptionType="putoption", TimeFormat="YEARS") == genbs(OptionType=OptionType.PutOption)
    with pytest.raises(ValueError, match="neither a member of enumOptionType"):
        genbs(OptionType="Butterfly")


def test_omitted_optional_parameters_are_zero():
    # An omitted TimeFormat is Days; None leaves a parameter out.
    assert genbs(TimeFormat=None, TimeExpire=73) == genbs(TimeFormat=TimeFormat.Days, TimeExpire=73)
    assert genbs(MarketPrice=None) == genbs(MarketPrice=0)


@pytest.mark.parametrize("changes, error, text", [
    (dict(AssetPrice="100"), TypeError, "AssetPrice must be a number"),
    (dict(AssetPrice=1 + 2j), TypeError, "AssetPrice must be a number"),
    (dict(AssetPrice=[1, "a"]), TypeError, "AssetPrice must be a number"),
    (dict(AssetPrice=np.array([1, "a"], dtype=object)), TypeError, "AssetPrice must be a number"),
    (dict(AssetPrice=np.array([1, 2j], dtype=object)), TypeError, "AssetPrice must be a number"),
    (dict(OptionType=np.array([1, 2 ** 31], dtype=object)), ValueError, "out of the range of a 32-bit integer"),
    (dict(threads=0), ValueError, "threads must be a whole number of at least 1"),
    (dict(OptionType=1.5), ValueError, "OptionType must be a whole number"),
    (dict(OptionType=float("nan")), ValueError, "OptionType must be a whole number"),
    (dict(OptionType=2 ** 31), ValueError, "out of the range of a 32-bit integer"),
    (dict(OptionType=np.array([1, -2 ** 31 - 1])), ValueError, "out of the range of a 32-bit integer"),
    (dict(OptionType=np.array([1.0, 2.5])), ValueError, "OptionType must be a whole number"),
    (dict(AssetPrice=10 ** 400), ValueError, "AssetPrice is too large for a double"),
    (dict(AssetPrice=None), TypeError, "AssetPrice is required"),
    (dict(Strike=100), TypeError, "unexpected keyword argument 'Strike'"),
    (dict(errors="ignore"), ValueError, "errors must be 'raise' or 'nan'"),
])
def test_unusable_arguments_are_refused_before_pricing(changes, error, text):
    with pytest.raises(error, match=text):
        genbs(**changes)


def test_integer_parameters_accept_whole_floats():
    binomial = dict(BASE, Iterations=100)
    assert kestrix.Binomial(**dict(binomial, Iterations=100.0)) == kestrix.Binomial(**binomial)


def test_positional_arguments_follow_the_interface_order():
    required = [BASE[p.name] for p in kestrix.METHODS["GenBS"].params if not p.optional]
    assert kestrix.GenBS(*required, TimeFormat=TimeFormat.Years) == genbs()
    with pytest.raises(TypeError, match="multiple values for argument 'AssetPrice'"):
        kestrix.GenBS(*required, AssetPrice=100.0)
    with pytest.raises(TypeError, match="at most 17 positional arguments"):
        kestrix.GenBS(*required, *[0] * 9)


def test_threads_price_at_once_without_mixing_their_failures():
    # Each call has its own object; the error code is per thread. Half the
    # strikes fail, on alternating elements, in every thread.
    K = np.where(np.arange(20_000) % 2 == 0, 100.0, 0.0)
    expected = genbs(StrikePrice=K, errors="nan")
    outcomes = [None] * 4

    def work(slot):
        outcomes[slot] = genbs(StrikePrice=K, errors="nan")

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for values, hresults in outcomes:
        np.testing.assert_array_equal(hresults, expected[1])
        np.testing.assert_array_equal(values, expected[0])


class Interrupted(Exception):
    pass


def test_a_long_call_can_be_interrupted():
    # 20,000 lattices of 500 steps take seconds; the alarm after 50 ms must
    # end the call with the handler's exception.
    def interrupt(signum, frame):
        raise Interrupted

    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        with pytest.raises(Interrupted):
            kestrix.Binomial(ExerciseType.American, OptionType.PutOption, F.Theoretical, 500,
                             np.full(20_000, 100.0), 100, 0.5, 0.3, 0.05, 0, TimeFormat=TimeFormat.Years)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


def test_series_in_give_series_out_with_their_index():
    import pandas as pd
    frame = pd.DataFrame({"spot": [90.0, 100.0, 110.0], "kind": ["CallOption", "putoption", "2"],
                          "strike": [100.0, 0.0, 100.0]}, index=["a", "b", "c"])
    values = genbs(AssetPrice=frame["spot"], OptionType=frame["kind"])
    assert isinstance(values, pd.Series) and list(values.index) == ["a", "b", "c"]
    for label, spot, kind in zip("abc", [90.0, 100.0, 110.0], [1, 2, 2]):
        assert values[label] == genbs(AssetPrice=spot, OptionType=kind)
    values, hresults = genbs(AssetPrice=frame["spot"], StrikePrice=frame["strike"], errors="nan")
    assert list(hresults.index) == ["a", "b", "c"] and hresults["b"] == 0x80050002 and math.isnan(values["b"])
    with pytest.raises(ValueError, match="share one index"):
        genbs(AssetPrice=frame["spot"], StrikePrice=frame["strike"].reset_index(drop=True))
    with pytest.raises(ValueError, match="did you mean PutOption"):
        genbs(OptionType=np.array(["CallOption", "PutOptoin"]))


def test_greeks_is_a_frame_of_every_function_that_needs_no_market_price():
    import pandas as pd
    spots = pd.Series([90.0, 110.0], index=[7, 9])
    frame = kestrix.greeks("GenBS", **{k: v for k, v in BASE.items() if k not in ("OptionFunction", "AssetPrice")},
                           AssetPrice=spots)
    assert list(frame.index) == [7, 9]
    assert list(frame.columns) == ["Theoretical", "Delta", "Gamma", "Theta", "Vega", "Rho", "Psi", "Lambda",
                                   "IntrinsicValue", "StrikeSensitivity", "Time_Value"]
    assert frame.loc[9, "Vega"] == genbs(AssetPrice=110.0, OptionFunction=F.Vega)
    one = kestrix.greeks(kestrix.GenBS, ["delta", 3], **{k: v for k, v in BASE.items() if k != "OptionFunction"})
    assert list(one.columns) == ["Delta", "Gamma"] and len(one) == 1


def test_implied_nan_marks_unsolved_implied_answers():
    # A market price below the intrinsic value has no implied volatility: 0, or NaN when asked.
    args = dict(OptionFunction=[F.ImpliedVol, F.ImpliedVol, F.Theoretical], AssetPrice=[100.0, 150.0, 100.0],
                MarketPrice=10.0)
    plain = genbs(**args)
    assert plain[1] == 0 and plain[0] > 0
    marked = genbs(**args, implied_nan=True)
    assert marked[0] == plain[0] and math.isnan(marked[1]) and marked[2] == plain[2]


DISP_E_OVERFLOW = 0x8002000A


@pytest.mark.parametrize("value", [
    10 ** 400, -10 ** 400, np.longdouble("1e4000"), np.longdouble("-1e4000"), np.longdouble("1e-4000"),
    np.array([100, 10 ** 400], dtype=object)[1:], np.array([Decimal("1e999")], dtype=object),
    np.array([100.0, np.longdouble("1e4000")], dtype=np.longdouble)[1:],
], ids=["int", "-int", "longdouble", "-longdouble", "tiny longdouble", "object int", "object Decimal",
        "longdouble array"])
def test_a_value_no_double_holds_is_answered_as_the_object_answers_it(value):
    # The object answers an argument it cannot convert to a double (its text
    # too large, or too close to 0) with DISP_E_OVERFLOW; nothing silently
    # becomes inf or 0 and prices.
    with pytest.raises(kestrix.KestrixError) as caught:
        genbs(AssetPrice=value)
    assert caught.value.hresult == DISP_E_OVERFLOW
    assert isinstance(caught.value, ValueError)
    assert "AssetPrice is too " in str(caught.value) and " for a double" in str(caught.value)
    values, hresults = genbs(AssetPrice=value, errors="nan")
    assert np.all(np.isnan(values)) and np.all(np.asarray(hresults) == DISP_E_OVERFLOW)


def test_object_arrays_of_numbers_price_as_their_values():
    objects = np.array([100, 101.5, Decimal("99.25"), Fraction(201, 2), np.float32(98.5), True], dtype=object)
    numbers = np.array([100, 101.5, 99.25, 100.5, 98.5, 1.0])
    assert genbs(AssetPrice=objects).tolist() == genbs(AssetPrice=numbers).tolist()
    assert genbs(OptionType=np.array([1, 2.0], dtype=object)).tolist() == genbs(OptionType=[1, 2]).tolist()
    # The elements a double holds price; the others fail alone.
    values, hresults = genbs(AssetPrice=np.array([100, 10 ** 400, 102], dtype=object), errors="nan")
    assert hresults.tolist() == [0, DISP_E_OVERFLOW, 0]
    assert [values[0], values[2]] == [genbs(AssetPrice=100.0), genbs(AssetPrice=102.0)]


@pytest.mark.parametrize("threads", [2, 3, 7])
def test_threads_share_the_elements_with_the_results_of_one(threads):
    # Elements go out in blocks; failures sit in several blocks, the first
    # of them after others that later blocks reach first.
    rng = np.random.default_rng(5)
    S = rng.uniform(50, 150, (7, 1000))
    K = rng.uniform(50, 150, 1000)
    K[[17, 640, 999]] = 0.0
    S[3, 333] = -1.0
    one = genbs(AssetPrice=S, StrikePrice=K, errors="nan", threads=1)
    many = genbs(AssetPrice=S, StrikePrice=K, errors="nan", threads=threads)
    assert many[0].tobytes() == one[0].tobytes() and many[1].tolist() == one[1].tolist()
    S[0, 17] = 100.0
    K[17] = 100.0
    with pytest.raises(kestrix.KestrixError) as caught:
        genbs(AssetPrice=S, StrikePrice=K, threads=threads)
    assert caught.value.index == (0, 640) and caught.value.hresult == kestrix.OErrCodes.StrikePriceErr


def test_ctrl_c_ends_a_call_of_costly_elements_at_once():
    # Each of these lattices walks 200,000 dividend dates at every level: a
    # large part of a second per element. The handler's exception must
    # arrive soon after the signal, not after an element or a batch of them.
    def interrupt(signum, frame):
        raise Interrupted

    dates = 2e5
    frequency = 1 / (dates + 0.5)
    previous = signal.signal(signal.SIGALRM, interrupt)
    try:
        start = time.monotonic()
        signal.setitimer(signal.ITIMER_REAL, 0.1)
        with pytest.raises(Interrupted):
            kestrix.Binomial(ExerciseType.American, OptionType.PutOption, F.Theoretical, 500,
                             np.full(16, 100.0), 100, 1, 0.25, 0.05, 0, TimeFormat=TimeFormat.Years,
                             DividendAmount=0.1 / dates, TimeExDividend=frequency, DividendFrequency=frequency,
                             threads=1)
        elapsed = time.monotonic() - start
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert elapsed < 1.0
