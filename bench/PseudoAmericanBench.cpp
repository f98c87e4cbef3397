// ns per call of the pseudo-American value with discrete dividends.
#include <benchmark/benchmark.h>

#include <cmath>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/PseudoAmerican.h"

namespace {

using namespace kestrix;

// A one-year call with quarterly dividends of 1 from 0.2 years: four
// ex-dividend dates, so four candidate exercises besides holding to expiry.
void BM_PseudoAmericanValueQuarterlyDividends(benchmark::State& state) {
    constexpr double T = 1, sigma = 0.3, r = 0.05, q = 0, D = 1, t1 = 0.2, f = 0.25, X = 100;
    constexpr std::int32_t dividendCount = 4;
    double pv = 0;
    for (int i = 0; i < dividendCount; ++i) pv += D * std::exp(-r * (t1 + i * f));
    double S = 100 - pv;
    for (auto _ : state) {
        double d1 = 0, d2 = 0;
        ComputeD1D2(PseudoAmericanModel, d1, d2, S, X, r, q, T, T, sigma);
        benchmark::DoNotOptimize(
            PseudoAmericanValue(CallOption, S, X, T, sigma, r, q, D, t1, f, pv, d1, d2, false, dividendCount));
        S = S > 120 ? 80 : S + 0.01;
    }
}
BENCHMARK(BM_PseudoAmericanValueQuarterlyDividends);

}  // namespace
