"""The Python vocabulary is the type library's: names, order, values and texts."""

import enum
import inspect

import pytest

import kestrix


@pytest.mark.parametrize("enumeration, members", [
    ("enumOptionType", [("CallOption", 1), ("PutOption", 2), ("Straddle", 3)]),
    ("enumTimeFormat", [("Days", 0), ("Years", 1)]),
    ("enumExerciseType", [("American", 0), ("European", 1)]),
    # Declared out of the order of its values.
    ("enumCompoundRate", [("Continuous", 0), ("Monthly", 2), ("Quarterly", 4), ("SemiAnnually", 6),
                          ("Annually", 7), ("LIBOR", 8), ("BankDiscountRate", 9), ("BondEquivelantYield", 10),
                          ("TermRate", 11), ("TriAnnually", 5), ("BiMonthly", 3), ("Daily", 1)]),
    ("enumEurodollarModel", [("GenBSEuro", 0), ("WhaleyEuro", 1), ("BinomialEuro", 2), ("BSAmericanEuro", 3)]),
])
def test_enumerations_are_intenums_with_the_type_library_members(enumeration, members):
    cls = getattr(kestrix, enumeration)
    assert issubclass(cls, enum.IntEnum) and cls.__name__ == enumeration
    assert getattr(kestrix, enumeration[len("enum"):]) is cls
    assert [(m.name, m.value) for m in cls] == members


def test_error_codes_carry_their_values_and_texts():
    codes = kestrix.OErrCodes
    assert codes["None"] == 0
    assert codes.IterationsMinErr & 0xFFFFFFFF == 0x8004FFFF
    assert codes.StrikePriceEurErr & 0xFFFFFFFF == 0x8005000C
    assert codes.VolOpenLimitErr & 0xFFFFFFFF == 0x80050031
    assert codes.IntRate2NegErr.text == ("The Interest Rate is too negative for the conversion.  Either increase "
                                         "the Interest Rate or Decrease the Time until Expiration.")


def test_each_method_takes_the_interface_parameters_in_order():
    parameters = lambda f: list(inspect.signature(f).parameters)
    assert parameters(kestrix.AmericanCall) == [
        "OptionFunction", "AssetPrice", "StrikePrice", "TimeExpire", "Volatility", "InterestRate", "MarketPrice",
        "TimeFormat", "DividendAmount", "TimeExDividend", "DividendFrequency", "InterestRateType", "errors"]
    assert parameters(kestrix.Eurodollar)[:4] == ["Model", "ExerciseType", "OptionType", "OptionFunction"]
    assert parameters(kestrix.FrenchBS)[5:7] == ["TimeTrading", "TimeExpire"]
    assert parameters(kestrix.Binomial)[3] == "Iterations"
    assert [m.name for m in kestrix.METHODS.values()] == [
        "GenBS", "FrenchBS", "Binomial", "Whaley", "BSAmerican", "JumpDiffusion", "AmericanCall", "Eurodollar"]
    assert kestrix.METHODS["AmericanCall"].help_context == 35
    assert kestrix.Whaley.__doc__.startswith("Quadratic Approximation Model")
    # Required parameters have no default; optional ones are left out by None.
    signature = inspect.signature(kestrix.GenBS)
    assert signature.parameters["YieldRate"].default is inspect.Parameter.empty
    assert signature.parameters["YieldRateType"].default is None
