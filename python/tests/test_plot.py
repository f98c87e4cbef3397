"""kestrix.plot.profile, and the README's example that draws docs/profile.png."""

import os
import re
import runpy
from pathlib import Path

import numpy as np
import pytest

import kestrix
from kestrix.plot import profile

REPOSITORY = Path(__file__).resolve().parents[2]
PUT = dict(OptionType="PutOption", StrikePrice=100, TimeExpire=0.5, Volatility=0.3, InterestRate=0.08, YieldRate=0,
           TimeFormat="Years")


def test_a_panel_per_function_and_a_line_per_method_with_the_methods_values():
    S = np.linspace(60, 140, 33)
    figure = profile(["GenBS", kestrix.Whaley, "Binomial"], "AssetPrice", S, ["Delta", kestrix.OptionFunctions.Gamma],
                     ExerciseType="American", Iterations=50, **PUT)
    axes = figure.get_axes()[:2]
    assert [ax.get_title() for ax in axes] == ["Delta", "Gamma"]
    assert [ax.get_ylabel() for ax in axes] == ["Delta (per 1 of asset price)", "Gamma (per 1 of asset price)"]
    assert [ax.get_xlabel() for ax in axes] == ["AssetPrice", "AssetPrice"]
    # One legend for the figure, naming the methods; the title gives the fixed inputs.
    legends = [ax.get_legend() for ax in figure.get_axes() if ax.get_legend() is not None]
    assert len(legends) == 1 and [t.get_text() for t in legends[0].get_texts()] == ["GenBS", "Whaley", "Binomial"]
    assert "StrikePrice=100" in figure._suptitle.get_text() and "times in years" in figure._suptitle.get_text()
    for ax, function in zip(axes, ["Delta", "Gamma"]):
        lines = {line.get_label(): line for line in ax.get_lines()}
        assert list(lines) == ["GenBS", "Whaley", "Binomial"]
        np.testing.assert_array_equal(lines["Whaley"].get_xdata(), S)
        np.testing.assert_array_equal(lines["Whaley"].get_ydata(),
                                      kestrix.Whaley(OptionFunction=function, AssetPrice=S, **PUT))
        np.testing.assert_array_equal(lines["Binomial"].get_ydata(),
                                      kestrix.Binomial("American", OptionFunction=function, Iterations=50,
                                                       AssetPrice=S, **PUT))


@pytest.mark.parametrize("count, rows, columns", [(1, 1, 1), (3, 1, 3), (4, 2, 3), (7, 3, 3)])
def test_panels_stand_at_most_three_across_and_keep_a_readable_size(count, rows, columns):
    functions = ["Theoretical", "Delta", "Gamma", "Theta", "Vega", "Rho", "Psi"][:count]
    figure = profile("GenBS", "Volatility", [0.1, 0.2, 0.3], functions, ExerciseType="European",
                     AssetPrice=100, **{k: v for k, v in PUT.items() if k != "Volatility"})
    panels = figure.get_axes()[:-1]  # the last holds the legend
    visible = [ax for ax in panels if ax.get_visible()]
    assert len(visible) == count and len(panels) == rows * columns
    width, height = figure.get_size_inches()
    assert width / columns >= 4 and height / rows >= 3  # inches a panel
    labels = {ax.get_ylabel() for ax in visible}
    assert count < 5 or {"Theta (per day)", "Vega (per 1 % volatility)"} <= labels
    assert visible[-1].get_xlabel() == "Volatility (fraction)"


def test_points_a_method_cannot_price_are_gaps():
    figure = profile("GenBS", "StrikePrice", [-10.0, 90.0, 100.0], ExerciseType="European",
                     **{k: v for k, v in PUT.items() if k != "StrikePrice"}, AssetPrice=100)
    y = figure.get_axes()[0].get_lines()[0].get_ydata()
    assert np.isnan(y[0]) and np.all(np.isfinite(y[1:]))


@pytest.mark.parametrize("methods, over, inputs, text", [
    ("GenBS", "AssetPrice", dict(OptionFunction="Delta"), "not as OptionFunction"),
    ("GenBS", "AssetPrice", dict(AssetPrice=100), "cannot also be fixed"),
    ("GenBS", "TimeFormat", {}, "not a double parameter of GenBS"),
    (["Whaley", "AmericanCall"], "YieldRate", {}, "not a double parameter of AmericanCall"),
    ("GenBS", "AssetPrice", dict(Strike=100), "Strike: no such parameter"),
    ("Heston", "AssetPrice", {}, "not a method of IKestrix"),
])
def test_unusable_requests_are_refused(methods, over, inputs, text):
    with pytest.raises(ValueError, match=text):
        profile(methods, over, [90.0, 100.0], **inputs)


def test_the_readme_shows_the_example_that_draws_the_committed_picture(tmp_path):
    script = REPOSITORY / "docs" / "profile_example.py"
    code = [line for line in script.read_text().splitlines() if line and not line.startswith("#")]
    readme = (REPOSITORY / "README.md").read_text()
    block = re.search(r"```python\n(.*?)```", readme, re.S).group(1).splitlines()
    assert block == code and len(code) == 5
    assert (REPOSITORY / "docs" / "profile.png").stat().st_size < 100_000

    (tmp_path / "docs").mkdir()
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        runpy.run_path(str(script), run_name="__main__")
    finally:
        os.chdir(cwd)
    assert (tmp_path / "docs" / "profile.png").read_bytes().startswith(b"\x89PNG")
