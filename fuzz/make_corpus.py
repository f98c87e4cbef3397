#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora (corpus/<target>/) from readable calls.

The targets decode their input with FuzzedDataProvider: integers are taken
from the end of the input (the first one taken is its last byte, most
significant byte first), strings from the front. The encoder below mirrors the
decoding in FunctionTableFuzzer.cpp and DispatchFuzzer.cpp; each seed is one
or more calls spelled out here, so the fuzzer starts from valid requests of
every method, their failures and the argument shapes a host uses. Doubles and
integers go as raw bit patterns and strings as literal text, so the seeds do
not depend on the targets' tables of interesting values.

Run after changing how a target decodes its input:  fuzz/make_corpus.py
(KESTRIX_FUZZ_TRACE=1 <fuzzer> <seed> prints the calls a seed makes.)
"""
import hashlib
import pathlib
import struct

HERE = pathlib.Path(__file__).resolve().parent


class Encoder:
    def __init__(self):
        self.front = bytearray()
        self.tail = bytearray()  # in the order the decoder takes it

    def range_(self, lo, hi, value, bits=32):
        span = hi - lo
        v = value - lo
        assert 0 <= v <= span, (lo, hi, value)
        n, offset = 0, 0
        while offset < bits and (span >> offset) > 0:
            n += 1
            offset += 8
        self.tail += v.to_bytes(n, "big") if n else b""

    def integral(self, bits, value, signed):
        lo = -(1 << (bits - 1)) if signed else 0
        self.range_(lo, lo + (1 << bits) - 1, value, bits)

    def boolean(self, value):
        self.tail.append(1 if value else 0)

    def double(self, value):  # InterestingDouble: any bit pattern
        self.range_(0, 3, 3)
        self.integral(64, struct.unpack("<Q", struct.pack("<d", value))[0], False)

    def int32(self, value):  # InterestingEnum / InterestingIterations: anything
        self.boolean(False)
        self.integral(32, value, True)

    def string(self, text):  # ConsumeRandomLengthString
        raw = text.encode() if isinstance(text, str) else text
        self.front += raw.replace(b"\\", b"\\\\") + b"\\x"

    def data(self):
        return bytes(self.front) + bytes(reversed(self.tail))


# The methods in the type library's order, each parameter as (name, kind):
# d double, i integer, e enumeration.
def params(spec):
    return [tuple(p.split(":")) if ":" in p else (p, "d") for p in spec.split()]


METHODS = {
    "GenBS": params("ExerciseType:e OptionType:e OptionFunction:e AssetPrice StrikePrice TimeExpire Volatility "
                    "InterestRate YieldRate MarketPrice TimeFormat:e DividendAmount TimeExDividend DividendFrequency "
                    "DividendStyle:e InterestRateType:e YieldRateType:e"),
    "FrenchBS": params("ExerciseType:e OptionType:e OptionFunction:e AssetPrice StrikePrice TimeTrading TimeExpire "
                       "Volatility InterestRate YieldRate MarketPrice TimeFormat:e DividendAmount TimeExDividend "
                       "DividendFrequency DividendStyle:e InterestRateType:e YieldRateType:e"),
    "Binomial": params("ExerciseType:e OptionType:e OptionFunction:e Iterations:i AssetPrice StrikePrice TimeExpire "
                       "Volatility InterestRate YieldRate MarketPrice TimeFormat:e DividendAmount TimeExDividend "
                       "DividendFrequency DividendStyle:e InterestRateType:e YieldRateType:e"),
    "Whaley": params("OptionType:e OptionFunction:e AssetPrice StrikePrice TimeExpire Volatility InterestRate "
                     "YieldRate MarketPrice TimeFormat:e DividendAmount TimeExDividend DividendFrequency "
                     "DividendStyle:e InterestRateType:e YieldRateType:e"),
    "BSAmerican": params("OptionType:e OptionFunction:e AssetPrice StrikePrice TimeExpire Volatility InterestRate "
                         "YieldRate MarketPrice TimeFormat:e DividendAmount TimeExDividend DividendFrequency "
                         "DividendStyle:e InterestRateType:e YieldRateType:e"),
    "JumpDiffusion": params("OptionType:e OptionFunction:e AssetPrice StrikePrice TimeExpire Volatility "
                            "JumpsPerYear PercentTotalVol InterestRate YieldRate MarketPrice TimeFormat:e "
                            "DividendAmount TimeExDividend DividendFrequency DividendStyle:e InterestRateType:e "
                            "YieldRateType:e"),
    "AmericanCall": params("OptionFunction:e AssetPrice StrikePrice TimeExpire Volatility InterestRate MarketPrice "
                           "TimeFormat:e DividendAmount TimeExDividend DividendFrequency InterestRateType:e"),
    "Eurodollar": params("Model:e ExerciseType:e OptionType:e OptionFunction:e AssetPrice StrikePrice TimeExpire "
                         "Volatility InterestRate Iterations:i MarketPrice TimeFormat:e InterestRateType:e"),
}
METHOD_INDEX = {name: i for i, name in enumerate(METHODS)}
DISPIDS = {"GenBS": 0, "FrenchBS": 1, "Binomial": 2, "Whaley": 4, "BSAmerican": 6, "JumpDiffusion": 7,
           "AmericanCall": 5, "Eurodollar": 3}
MAX_PARAMS = max(len(p) for p in METHODS.values())

# A plain request: an at-the-money call, a quarter year, in years.
BASE = dict(ExerciseType=1, OptionType=1, OptionFunction=1, Iterations=100, AssetPrice=100.0, StrikePrice=100.0,
            TimeTrading=0.25, TimeExpire=0.25, Volatility=0.3, InterestRate=0.05, YieldRate=0.02, MarketPrice=0.0,
            TimeFormat=1, DividendAmount=0.0, TimeExDividend=0.0, DividendFrequency=0.0, DividendStyle=0,
            InterestRateType=0, YieldRateType=0, JumpsPerYear=2.0, PercentTotalVol=0.2, Model=0)
EURODOLLAR = dict(AssetPrice=95.0, StrikePrice=95.0, Volatility=0.2, InterestRate=0.05, Iterations=50)


def call_values(method, **changes):
    values = dict(BASE)
    if method == "Eurodollar":
        values.update(EURODOLLAR)
    values.update(changes)
    return [(name, kind, values[name]) for name, kind in METHODS[method]]


# ---- FunctionTableFuzzer.cpp: per call the method's index, the null-result
# choice, then each parameter in order.
def function_table(*calls):
    enc = Encoder()
    for method, changes in calls:
        enc.range_(0, len(METHODS) - 1, METHOD_INDEX[method], 64)
        enc.range_(0, 31, 1 if not changes.pop("_null_result", False) else 0)
        for _, kind, value in call_values(method, **changes):
            if kind == "d":
                enc.double(float(value))
            else:
                enc.int32(int(value))
    return enc.data()


# ---- DispatchFuzzer.cpp
KNOWN_IIDS = ["IUnknown", "IDispatch", "IKestrix", "ISupportErrorInfo", "IErrorInfo", "IClassFactory", "NULL",
              "CLSID", "LIBID", "other"]
VT = dict(EMPTY=0, NULL=1, I4=3, R8=5, BSTR=8, ERROR=10, BOOL=11)


def iid(enc, name):
    enc.range_(0, 7, 1)
    enc.range_(0, len(KNOWN_IIDS) - 1, KNOWN_IIDS.index(name), 64)


def variant(enc, arg):
    """arg: a float (VT_R8), an int (VT_I4), a str (VT_BSTR), None (missing),
    or a tuple (vt name, payload) for the other types."""
    if isinstance(arg, float):
        enc.range_(0, 15, 0)
        enc.double(arg)
    elif isinstance(arg, bool):
        enc.range_(0, 15, 9)
        enc.boolean(True)
    elif isinstance(arg, int):
        enc.range_(0, 15, 4)
        enc.boolean(True)  # as an enumeration value
        enc.int32(arg)
    elif isinstance(arg, str):
        enc.range_(0, 15, 6)
        enc.range_(0, 15, 1)  # not the null string
        enc.range_(0, 3, 3)
        enc.string(arg)
    elif arg is None:
        enc.range_(0, 15, 8)
        enc.boolean(True)  # DISP_E_PARAMNOTFOUND
    else:
        kind, payload = arg
        if kind == "EMPTY":
            enc.range_(0, 15, 10)
            enc.boolean(True)
        else:  # a raw type number outside the subset
            enc.range_(0, 15, 11)
            enc.boolean(False)
            enc.integral(16, kind, False)
            enc.integral(32, payload, True)


def invoke(enc, dispid, args, named_ids=(), flags=1, result=True, excep=True, arg_err=True):
    """args are given first positional (in call order), then named ones (in
    the order of named_ids), as a host writes them."""
    enc.range_(0, 7, 2)  # the step: Invoke
    method = next((m for m, d in DISPIDS.items() if d == dispid), None)
    if method is not None:
        enc.range_(0, 3, 1)
        enc.range_(0, len(METHODS) - 1, METHOD_INDEX[method], 64)
        param_count = len(METHODS[method])
    else:
        enc.range_(0, 3, 0)
        enc.boolean(False)
        enc.integral(32, dispid, True)
        param_count = MAX_PARAMS
    enc.range_(0, 15, 1)  # riid IID_NULL
    enc.range_(0, 15, {1: 3, 2: 0, 3: 1}[flags])
    count = len(args)
    enc.range_(0, 15, 1)
    enc.range_(0, param_count + 2, count)
    named = len(named_ids)
    enc.range_(0, count, named)
    enc.range_(0, 31, 1)
    positional = list(args[:count - named])
    # rgvarg: named ones first, then the positional ones last first.
    for arg in list(args[count - named:]) + positional[::-1]:
        variant(enc, arg)
    for position in named_ids:
        enc.range_(0, 4, 2)
        enc.range_(-1, param_count, position)
    if count > 0:
        enc.range_(0, 31, 1)
    if named > 0:
        enc.range_(0, 31, 1)
    enc.range_(0, 63, 1)
    for wanted in (result, excep, arg_err):
        enc.range_(0, 7, 1 if wanted else 0)


def names_call(enc, names):
    enc.range_(0, 7, 0)
    enc.range_(0, MAX_PARAMS + 3, len(names))
    for name in names:
        enc.range_(0, 4, 4)
        enc.string(name)
    for _ in names:
        enc.range_(0, 31, 1)
    enc.range_(0, 15, 1)
    enc.range_(0, 31, 1)
    enc.range_(0, 31, 1)


def interfaces_call(enc, name):
    enc.range_(0, 7, 1)
    iid(enc, name)
    if name == "ISupportErrorInfo":
        iid(enc, "IKestrix")
    enc.integral(32, 0, False)


def dispatch(*steps, first="IDispatch"):
    enc = Encoder()
    iid(enc, first)
    for step in steps:
        step(enc)
    return enc.data()


def positional(method, **changes):
    return [value for _, _, value in call_values(method, **changes)]


def write(target, seeds):
    folder = HERE / "corpus" / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for name, data in seeds.items():
        (folder / name).write_bytes(data)
    print(f"{folder}: {len(seeds)} seeds")


def main():
    inf, nan = float("inf"), float("nan")
    ft = {}
    for method in METHODS:
        ft[f"{method}-value"] = function_table((method, {}))
    for function in range(2, 14):
        ft[f"GenBS-function{function}"] = function_table(
            ("GenBS", dict(OptionFunction=function, MarketPrice=5.0)),
            ("GenBS", dict(OptionFunction=function, MarketPrice=5.0, ExerciseType=0, OptionType=2)))
    ft["Binomial-american-put-dividends"] = function_table(
        ("Binomial", dict(ExerciseType=0, OptionType=2, Iterations=50, DividendAmount=1.0, TimeExDividend=0.1,
                          DividendFrequency=4.0, DividendStyle=2)))
    ft["Binomial-iteration-edges"] = function_table(
        ("Binomial", dict(Iterations=4)), ("Binomial", dict(Iterations=5)), ("Binomial", dict(Iterations=501)),
        ("Binomial", dict(Iterations=-2147483648)))
    ft["Whaley-BSAmerican-implied"] = function_table(
        ("Whaley", dict(OptionFunction=5, MarketPrice=7.0)), ("BSAmerican", dict(OptionFunction=13, MarketPrice=7.0)))
    ft["JumpDiffusion-sensitivities"] = function_table(
        ("JumpDiffusion", dict(OptionFunction=2)), ("JumpDiffusion", dict(OptionFunction=4, OptionType=3)))
    ft["AmericanCall-dividend"] = function_table(
        ("AmericanCall", dict(DividendAmount=2.0, TimeExDividend=0.1)),
        ("AmericanCall", dict(OptionFunction=3, DividendAmount=2.0, TimeExDividend=0.1)))
    ft["Eurodollar-models"] = function_table(
        *[("Eurodollar", dict(Model=m, ExerciseType=m % 2)) for m in range(4)])
    ft["non-finite-inputs"] = function_table(
        ("GenBS", dict(AssetPrice=nan)), ("Whaley", dict(Volatility=inf)), ("FrenchBS", dict(TimeExpire=-inf)),
        ("BSAmerican", dict(InterestRate=5e-324)))
    ft["extreme-inputs"] = function_table(
        ("GenBS", dict(AssetPrice=1e308, StrikePrice=5e-324)), ("JumpDiffusion", dict(JumpsPerYear=1e-300)),
        ("AmericanCall", dict(TimeExpire=1e308)), ("Binomial", dict(Volatility=1e-300, Iterations=500)))
    ft["out-of-range-enumerations"] = function_table(
        ("GenBS", dict(OptionType=4)), ("FrenchBS", dict(TimeFormat=2)), ("Whaley", dict(InterestRateType=12)),
        ("Eurodollar", dict(Model=4)))
    ft["days-and-compounding"] = function_table(
        ("GenBS", dict(TimeFormat=0, TimeExpire=90.0, InterestRateType=4, YieldRateType=9)),
        ("FrenchBS", dict(TimeFormat=0, TimeTrading=60.0, TimeExpire=91.0, InterestRateType=8)))
    ft["failures"] = function_table(
        ("GenBS", dict(StrikePrice=-1.0)), ("Binomial", dict(TimeExpire=0.0)), ("Whaley", dict(MarketPrice=-1.0)),
        ("JumpDiffusion", dict(PercentTotalVol=1.5)))
    ft["null-result"] = function_table(("GenBS", dict(_null_result=True)), ("Eurodollar", {}))
    write("function_table", ft)

    d = {}
    for method, dispid in DISPIDS.items():
        d[f"{method}-positional"] = dispatch(lambda e, m=method, i=dispid: invoke(e, i, positional(m)))
    genbs = positional("GenBS")
    d["GenBS-named"] = dispatch(
        lambda e: invoke(e, 0, genbs[:3] + [100.0, 0.25, 100.0, 0.3, 0.05, 0.02],
                         named_ids=(3, 5, 4, 6, 7, 8)))
    d["GenBS-optional-omitted"] = dispatch(lambda e: invoke(e, 0, genbs[:9]))
    d["GenBS-missing-markers"] = dispatch(lambda e: invoke(e, 0, genbs[:9] + [None, None, 0.0, None]))
    d["GenBS-missing-required"] = dispatch(lambda e: invoke(e, 0, genbs[:3] + [None] + genbs[4:9]))
    d["GenBS-text"] = dispatch(
        lambda e: invoke(e, 0, ["European", "calloption", "Theoretical", " 100 ", "+100", "0.25", "0.3", "0.05",
                                "0.02", "0", "Years"]))
    d["GenBS-bad-text"] = dispatch(lambda e: invoke(e, 0, ["Europe"] + genbs[1:9]),
                                   lambda e: invoke(e, 0, genbs[:3] + ["1e999"] + genbs[4:9]),
                                   lambda e: invoke(e, 0, genbs[:3] + ["12abc"] + genbs[4:9]))
    d["GenBS-other-types"] = dispatch(
        lambda e: invoke(e, 0, genbs[:3] + [("EMPTY", 0), True] + genbs[5:9]),
        lambda e: invoke(e, 0, genbs[:3] + [(2, 100), (0x4005, 1)] + genbs[5:9]),
        lambda e: invoke(e, 0, [(0x2005, 0)] + genbs[1:9]))
    d["GenBS-integer-overflow"] = dispatch(lambda e: invoke(e, 0, [1e10] + genbs[1:9]),
                                           lambda e: invoke(e, 0, [nan] + genbs[1:9]))
    d["named-out-of-range-and-repeated"] = dispatch(
        lambda e: invoke(e, 0, genbs[:9] + [5.0, 5.0], named_ids=(9, 9)),
        lambda e: invoke(e, 0, genbs[:9] + [5.0], named_ids=(17,)),
        lambda e: invoke(e, 0, genbs[:9] + [5.0], named_ids=(-1,)))
    d["too-many-arguments"] = dispatch(lambda e: invoke(e, 3, positional("Eurodollar") + [1.0, 2.0]))
    d["unknown-member-and-flags"] = dispatch(lambda e: invoke(e, 8, []), lambda e: invoke(e, -1, genbs[:9]),
                                             lambda e: invoke(e, 0, genbs[:9], flags=2),
                                             lambda e: invoke(e, 0, genbs[:9], flags=3))
    d["failure-exception"] = dispatch(
        lambda e: invoke(e, 0, positional("GenBS", StrikePrice=-1.0)),
        lambda e: invoke(e, 2, positional("Binomial", Iterations=2)),
        lambda e: invoke(e, 7, positional("JumpDiffusion", JumpsPerYear=0.0), excep=False))
    d["non-finite"] = dispatch(lambda e: invoke(e, 4, positional("Whaley", AssetPrice=inf)),
                               lambda e: invoke(e, 5, positional("AmericanCall", Volatility=nan)))
    d["null-out-pointers"] = dispatch(lambda e: invoke(e, 6, positional("BSAmerican"), result=False, excep=False,
                                                       arg_err=False))
    d["names"] = dispatch(lambda e: names_call(e, ["genbs", "AssetPrice", "STRIKEPRICE", "Result_", "nope"]),
                          lambda e: names_call(e, ["Eurodollar", "Iterations", "Model"]),
                          lambda e: names_call(e, ["NoSuchMethod", "AssetPrice"]),
                          lambda e: names_call(e, []))
    d["interfaces"] = dispatch(lambda e: interfaces_call(e, "ISupportErrorInfo"),
                               lambda e: interfaces_call(e, "IKestrix"),
                               lambda e: interfaces_call(e, "IClassFactory"), first="IUnknown")
    d["created-for-other-interface"] = dispatch(lambda e: invoke(e, 0, genbs), first="IClassFactory")
    write("dispatch", d)


if __name__ == "__main__":
    main()
