"""Books in pandas and on a Dask cluster answer every row as `kestrix price` does."""

import csv
import io
import math
import os
import random
import re
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import kestrix
import kestrix.book

# Column order, spelling and case unlike any method's own; Iterations and Model
# belong to some methods only.
HEADER = ("AssetPrice,method,STRIKEPRICE,OptionType,ExerciseType,OptionFunction,Iterations,TimeExpire,"
          "Volatility,InterestRate,YieldRate,MarketPrice,TimeFormat,Model,JumpsPerYear,PercentTotalVol,"
          "DividendAmount,TimeExDividend")

# One line per case the command answers in its own way; the rest of the book
# is generated.
CASES = [
    "100,GenBS,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",
    " +100 ,genbs,1e2,callOPTION,1,2,,1,0.2,0.05,0,,1,,,,,",           # blanks, '+', exponent, numbers
    "100,GenBS,100,1,1.5,1,,1,0.2,0.05,0,,Years,,,,,",                  # enumeration half to even
    "100,GenBS,100,CallOption,European,ImpliedVol,,1,0.2,0.05,0,10.45,Years,,,,2,0.5",
    "100,GenBS,0,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",    # rejected: strike
    "100,GenBS,100,7,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",           # rejected: option type
    "100,Binomial,100,PutOption,American,Theoretical,3,1,0.2,0.05,0,,Years,,,,,",  # rejected: steps
    "100,Binomial,100,PutOption,American,Delta,150.5,1,0.2,0.05,0,,Years,,,,,",
    "45,JumpDiffusion,55,CallOption,,Theoretical,,0.25,0.25,0.1,0,,Years,,3,0.4,,",
    "45,JumpDiffusion,55,CallOption,,Theoretical,,0.25,0.25,0.1,0,,Years,,3,1.5,,",  # rejected
    "94.5,Eurodollar,94.75,PutOption,American,Theoretical,100,0.25,0.2,0.05,,,Years,binomialeuro,,,,",
    "80,AmericanCall,82,,,Theoretical,,0.3333,0.3,0.06,,,Years,,,,4,0.25",
    "100,Whaley,100,PutOption,,Gamma,,180,0.25,0.08,0.04,,,,,,,",     # TimeFormat left out: days
    "100,FrenchBS,100,CallOption,European,Theta,,182,0.2,0.05,0.01,,Days,,,,,",
    "100,Heston,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",  # no such method
    "100, ,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",       # no method
    "100,Whaley,100,PutOption,European,Gamma,,1,0.25,0.08,0.04,,Years,,,,,",     # not Whaley's parameter
    "100,GenBS,100,,,Theoretical,,1,0.2,0.05,0,,Years,,,,,",                     # required ones left out
    "soon,GenBS,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",  # not a number
    "inf,GenBS,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",
    "1e400,GenBS,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",  # out of range
    "1e-400,GenBS,100,CallOption,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",
    "100,GenBS,100,Call,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",          # no such member
    "100,GenBS,100,CallOption,3000000000,Theoretical,,1,0.2,0.05,0,,Years,,,,,",
    "100,Binomial,100,PutOption,American,Theoretical,many,1,0.2,0.05,0,,Years,,,,,",
    '100,GenBS,100,"Call""Option","Euro,pean",Theoretical,,1,0.2,0.05,0,,Years,,,,,',  # quoted on the way out
    # Several faults: the first the object finds is told (names, then parameters in order).
    "soon,Whaley,100,PutOption,European,Gamma,,1,0.25,0.08,0.04,,Years,,,,,",
    "100,GenBS,abc,,European,Theoretical,,1,0.2,0.05,0,,Years,,,,,",
    "100,GenBS,100,CallOption,Euro,,,1,0.2,0.05,0,,Years,,,,,",
]


def generated_rows(count, seed=7):
    rng = random.Random(seed)
    functions = ["Theoretical", "Delta", "Gamma", "Vega", "Theta", "Rho", "2", "3"]
    for _ in range(count):
        method = rng.choice(["GenBS", "GenBS", "Whaley", "BSAmerican", "Binomial"])
        spot = round(rng.uniform(50, 150), 2)
        strike = round(spot * rng.uniform(0.7, 1.3), 2)
        vol = round(rng.uniform(-0.05, 0.8), 4)  # a few negative: rejected
        kind = rng.choice(["CallOption", "putoption", "2", "Straddle"])
        exercise = "" if method in ("Whaley", "BSAmerican") else rng.choice(["European", "american", "0"])
        steps = str(rng.randrange(20, 60)) if method == "Binomial" else ""
        yield (f"{spot},{method},{strike},{kind},{exercise},{rng.choice(functions)},{steps},"
               f"{round(rng.uniform(0.05, 3), 4)},{vol},{round(rng.uniform(0, 0.08), 4)},"
               f"{round(rng.uniform(0, 0.05), 4)},,{rng.choice(['Years', '1', ''])},,,,,")


@pytest.fixture(scope="module")
def cli():
    path = os.environ.get("KESTRIX_CLI")
    if not path or not os.access(path, os.X_OK):
        pytest.skip("KESTRIX_CLI does not name the built kestrix command")
    return path


@pytest.fixture(scope="module")
def book(cli, tmp_path_factory):
    """The book's path and what `kestrix price` writes for it."""
    rows = list(generated_rows(600))
    for number, case in enumerate(CASES):  # spread through the book, across partitions
        rows.insert(number * 21 + 10, case)
    path = tmp_path_factory.mktemp("book") / "book.csv"
    path.write_text("\n".join([HEADER] + rows) + "\n")
    done = subprocess.run([cli, "price", str(path)], capture_output=True, text=True, timeout=120)
    assert done.returncode == 1 and done.stderr  # some rows make no request
    return path, done.stdout


def read_text_cells(path):
    return pd.read_csv(path, dtype=str, keep_default_na=False, na_filter=False)


def assert_rows_match(priced: pd.DataFrame, expected_csv: str):
    expected = list(csv.reader(io.StringIO(expected_csv)))
    assert list(priced.columns) == expected[0]
    assert len(priced) == len(expected) - 1
    for number, (result, hresult, description, want) in enumerate(
            zip(priced["Result"], priced["HResult"], priced["Description"], expected[1:]), start=2):
        assert (want[-3] == "") if math.isnan(result) else (float(want[-3]) == result), (number, want)
        assert (hresult, description) == (want[-2], want[-1]), number


def test_a_book_in_pandas_answers_every_row_as_the_command(book):
    path, expected = book
    priced = kestrix.book.price_book(read_text_cells(path))
    assert_rows_match(priced, expected)
    assert kestrix.book.to_csv(priced) == expected
    # Each kind of answer is there: values, library rejections, rows without a request.
    codes = set(priced["HResult"])
    assert {"0x00000000", "0x80050002", "0x80020005", "0x8002000A", "0x8002000F", "0x80070057"} <= codes


def test_number_columns_read_as_numbers_price_as_their_text():
    # pandas' own reading: doubles as float64 (blank: NaN), Iterations too, so
    # 200 arrives as 200.0; enumeration columns stay text.
    example = Path(__file__).resolve().parents[2] / "examples" / "book.csv"
    numbers = pd.read_csv(example, float_precision="round_trip")
    assert numbers["Iterations"].dtype == np.float64
    text = kestrix.book.price_book(read_text_cells(example))
    priced = kestrix.book.price_book(numbers)
    assert priced["Result"].equals(text["Result"])
    assert priced["HResult"].equals(text["HResult"]) and priced["Description"].equals(text["Description"])


@pytest.mark.parametrize("header, message", [
    ("Method,AssetPrice,assetprice", "the column 'assetprice' appears twice"),
    ("Method,AssetPrice,Volatilty", "'Volatilty' is not a parameter of any method; did you mean Volatility?"),
    ("AssetPrice,StrikePrice", "there is no Method column"),
])
def test_columns_that_make_no_book_are_refused_with_the_commands_text(header, message, cli, tmp_path):
    frame = pd.DataFrame(columns=header.split(","))
    with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
        kestrix.book.price_book(frame)
    (tmp_path / "b.csv").write_text(header + "\n")
    done = subprocess.run([cli, "price", str(tmp_path / "b.csv")], capture_output=True, text=True, timeout=60)
    assert done.returncode == 2 and done.stderr.endswith(f":1: {message}\n")
    with pytest.raises(ValueError, match=f"^b\\.csv:1: {re.escape(message)}$"):
        kestrix.book.price_csv((header + "\n").encode(), name="b.csv")


@pytest.mark.parametrize("threads", [1, 3])
def test_book_bytes_price_as_the_command_writes_them(book, cli, threads):
    path, expected = book
    priced, notes = kestrix.book.price_csv(path.read_bytes(), name=str(path), threads=threads, messages=True)
    assert priced == expected.encode()
    done = subprocess.run([cli, "price", str(path)], capture_output=True, timeout=120)
    # The command's last line sums the run up (with its time): the reports are those before it.
    reports = done.stderr[:done.stderr.rstrip(b"\n").rfind(b"\n") + 1]
    assert done.stderr[len(reports):].startswith(b"kestrix: ")
    assert notes.messages == reports and notes.malformed > 0 and notes.failed > 0
    assert notes.priced + notes.failed + notes.malformed == len(expected.splitlines()) - 1


def test_columns_of_the_trade_system_are_carried_through_in_place_unless_strict(cli, tmp_path):
    text = ("TradeId,Method,OptionType,OptionFunction,Counterparty,AssetPrice,StrikePrice,TimeExpire,Volatility,"
            "InterestRate,YieldRate,TimeFormat,ExerciseType\n"
            "T-1,Whaley,PutOption,Theoretical,\"Acme, Inc.\",100,100,1,0.2,0.05,0,Years,\n"
            "T-2,GenBS,PutOption,Theoretical,,100,100,1,0.2,0.05,0,Years,European\n"
            "T-3,Whaley,PutOption,Theoretical,Zed,100,100,1,0.2,0.05,0,Years,American\n")
    (tmp_path / "trades.csv").write_text(text)
    done = subprocess.run([cli, "price", str(tmp_path / "trades.csv")], capture_output=True, text=True, timeout=60)
    assert done.returncode == 1
    priced = kestrix.book.price_book(read_text_cells(tmp_path / "trades.csv"))
    assert kestrix.book.to_csv(priced) == done.stdout
    assert list(priced["TradeId"]) == ["T-1", "T-2", "T-3"] and priced["Counterparty"][0] == "Acme, Inc."
    assert list(priced["HResult"][:2]) == ["0x00000000", "0x00000000"]
    # A parameter only some methods take: the row's message names them.
    assert priced["Description"][2] == ("'ExerciseType' is not a parameter of Whaley; only GenBS, FrenchBS, "
                                        "Binomial, Eurodollar take it")
    import dask.dataframe as dd
    from kestrix import dask as kestrix_dask
    book = priced.iloc[:, :13]
    for refuse in (lambda: kestrix.book.price_book(book, strict=True),
                   lambda: kestrix_dask.price_book(dd.from_pandas(book, npartitions=1), strict=True)):
        with pytest.raises(ValueError, match=r"^'TradeId' is not a parameter of any method \(strict\)$"):
            refuse()


def test_rows_keep_their_order_and_index_across_method_groups():
    frame = pd.DataFrame({"Method": ["Whaley", "GenBS", "Whaley", "GenBS"], "ExerciseType": ["", "1", "", "1"],
                          "OptionType": "1", "OptionFunction": "1", "AssetPrice": ["90", "100", "110", "120"],
                          "StrikePrice": "100", "TimeExpire": "1", "Volatility": "0.2", "InterestRate": "0.05",
                          "YieldRate": "0"}, index=[40, 10, 30, 20])
    priced = kestrix.book.price_book(frame)
    assert list(priced.index) == [40, 10, 30, 20]
    common = dict(OptionType=1, OptionFunction=1, StrikePrice=100, TimeExpire=1, Volatility=0.2,
                  InterestRate=0.05, YieldRate=0)
    assert list(priced["Result"]) == [kestrix.Whaley(AssetPrice=90, **common),
                                      kestrix.GenBS(ExerciseType=1, AssetPrice=100, **common),
                                      kestrix.Whaley(AssetPrice=110, **common),
                                      kestrix.GenBS(ExerciseType=1, AssetPrice=120, **common)]


def test_a_partitioned_book_on_a_two_process_cluster_answers_as_the_command(book, tmp_path, monkeypatch):
    distributed = pytest.importorskip("distributed", reason="Dask's distributed scheduler is not installed "
                                                            "(Debian python3-distributed)")
    import kestrix.dask

    path, expected = book
    # Worker processes find the package where this one did.
    root = str(Path(kestrix.__file__).resolve().parents[1])
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([root, os.environ.get("PYTHONPATH", "")]))
    frame = kestrix.dask.read_book(str(path), blocksize=12_000)
    assert frame.npartitions >= 3
    priced = kestrix.dask.price_book(frame)
    with distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1, dashboard_address=None) \
            as cluster, distributed.Client(cluster) as client:
        with distributed.get_task_stream(client) as tasks:
            result = priced.compute()
        # Priced by the cluster's worker processes, not in this one.
        assert {task["worker"] for task in tasks.data} <= set(client.scheduler_info()["workers"]) and tasks.data
        assert result.dtypes.equals(priced.dtypes)
        assert_rows_match(result, expected)
        kestrix.dask.to_csv(priced, str(tmp_path / "priced.csv"), single_file=True)
        kestrix.dask.to_csv(priced, str(tmp_path / "parts"))
        # Raw bytes per partition, a header given to each after the first.
        assert len(kestrix.dask.price_csv_parts(str(path), blocksize=12_000)) >= 3
        kestrix.dask.price_csv(str(path), str(tmp_path / "from-bytes.csv"), blocksize=12_000)
    assert (tmp_path / "from-bytes.csv").read_bytes() == expected.encode()
    assert (tmp_path / "priced.csv").read_text() == expected
    parts = [(tmp_path / "parts" / f"part-{number}.csv").read_text().splitlines(keepends=True)
             for number in range(frame.npartitions)]
    assert all(part[0] == parts[0][0] for part in parts)
    assert "".join(parts[0] + [line for part in parts[1:] for line in part[1:]]) == expected
