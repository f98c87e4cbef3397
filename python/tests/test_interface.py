"""The Python vocabulary is the type library's: names, order, values and texts."""

import enum
import inspect
import re
from pathlib import Path

import kestrix


def test_enumerations_are_intenums_with_the_type_library_members_in_declaration_order():
    assert kestrix.enumCompoundRate is kestrix.CompoundRate and issubclass(kestrix.CompoundRate, enum.IntEnum)
    assert [(m.name, m.value) for m in kestrix.CompoundRate] == [
        ("Continuous", 0), ("Monthly", 2), ("Quarterly", 4), ("SemiAnnually", 6), ("Annually", 7), ("LIBOR", 8),
        ("BankDiscountRate", 9), ("BondEquivelantYield", 10), ("TermRate", 11), ("TriAnnually", 5),
        ("BiMonthly", 3), ("Daily", 1)]
    assert [(m.name, m.value) for m in kestrix.ExerciseType] == [("American", 0), ("European", 1)]
    codes = kestrix.OErrCodes
    assert codes["None"] == 0 and codes.IterationsMinErr == 0x8004FFFF and "0x8004FFFF" in repr(codes.IterationsMinErr)
    assert codes.IntRate2NegErr.text == ("The Interest Rate is too negative for the conversion.  Either increase "
                                         "the Interest Rate or Decrease the Time until Expiration.")


def test_each_method_takes_the_interface_parameters_in_order():
    assert list(kestrix.METHODS) == [
        "GenBS", "FrenchBS", "Binomial", "Whaley", "BSAmerican", "JumpDiffusion", "AmericanCall", "Eurodollar"]
    signature = inspect.signature(kestrix.AmericanCall)
    assert list(signature.parameters) == [
        "OptionFunction", "AssetPrice", "StrikePrice", "TimeExpire", "Volatility", "InterestRate", "MarketPrice",
        "TimeFormat", "DividendAmount", "TimeExDividend", "DividendFrequency", "InterestRateType", "errors",
        "implied_nan", "threads"]
    # Required parameters have no default; optional ones are left out by None.
    assert signature.parameters["InterestRate"].default is inspect.Parameter.empty
    assert signature.parameters["MarketPrice"].default is None
    assert kestrix.AmericanCall.__doc__.startswith("Roll-Geske-Whaley Model")


def test_the_package_shows_its_own_names_a_version_and_documented_parameters():
    assert kestrix.__version__.count(".") >= 1 and kestrix.__version__[0].isdigit()
    names = dir(kestrix)
    assert {"GenBS", "greeks", "KestrixError", "TimeFormat", "__version__"} <= set(names)
    assert not {"np", "enum", "inspect", "NamedTuple", "Optional", "annotations", "_kestrix"} & set(names)
    doc = kestrix.GenBS.__doc__
    assert "Members: Days (0), Years (1)." in doc and "Left out: Days (0)" in doc
    assert "Theta: The change of value as one calendar day passes" in doc and "Vega: The change of value for a volatility 1 percentage point" in doc


def test_the_version_is_the_cmake_projects():
    cmake = (Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    declared = re.search(r"project\(Kestrix VERSION ([0-9.]+)", cmake).group(1)
    assert kestrix.__version__ == declared
