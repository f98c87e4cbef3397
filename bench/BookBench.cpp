// Rows per second of `kestrix price` without the disk: a generated book of
// GenBS requests shaped as tools/scripts/make_book.py writes them (prices and
// rates rounded to a few decimals, a tenth American) read from memory,
// priced on 1 and 2 threads, written to a sink. The target is 2,000,000
// rows/s on two cores with two threads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ostream>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>

#include "Book.h"
#include "Host.h"

namespace {

using namespace kestrix::cli;

// `value` rounded to `decimals` places, as the generator script writes it.
std::string Rounded(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string rounded = text;
    while (rounded.back() == '0') rounded.pop_back();
    if (rounded.back() == '.') rounded.pop_back();
    return rounded;
}

std::string GenBSBook(std::size_t rows) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    const char* types[] = {"CallOption", "PutOption", "Straddle"};
    const char* functions[] = {"Theoretical", "Delta", "Gamma",  "Theta",             "Vega",          "Rho",
                               "Psi",         "Lambda", "StrikeSensitivity", "IntrinsicValue", "Time_Value"};
    std::string book = "Method,ExerciseType,OptionType,OptionFunction,AssetPrice,StrikePrice,TimeExpire,Volatility,"
                       "InterestRate,YieldRate,MarketPrice,TimeFormat\n";
    for (std::size_t r = 0; r < rows; ++r) {
        const double spot = 50 + 100 * unit(random);
        book += std::string("GenBS,") + (unit(random) < 0.9 ? "European," : "American,") + types[random() % 3] + "," +
                functions[random() % std::size(functions)] + "," + Rounded(spot, 2) + "," +
                Rounded(spot * (0.7 + 0.6 * unit(random)), 2) + "," + Rounded(0.05 + 2.95 * unit(random), 4) + "," +
                Rounded(0.05 + 0.75 * unit(random), 4) + "," + Rounded(0.08 * unit(random), 4) + "," +
                Rounded(0.05 * unit(random), 4) + ",,Years\n";
    }
    return book;
}

class TSink : public std::streambuf {
protected:
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

void BM_PriceBook(benchmark::State& state) {
    static const std::string book = GenBSBook(100'000);
    IDispatch* object = CreateKestrix();
    TSink sink;
    std::ostream out(&sink), errors(&sink);
    for (auto _ : state) {
        std::istringstream in(book);
        const BookSummary summary =
            PriceBook(object, in, "bench.csv", out, errors, BookRun{static_cast<unsigned>(state.range(0)), nullptr});
        benchmark::DoNotOptimize(summary.priced);
    }
    object->Release();
    state.SetItemsProcessed(state.iterations() * 100'000);
}
BENCHMARK(BM_PriceBook)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
