// ns per call of the analytic core's hot functions.
#include <benchmark/benchmark.h>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"

namespace {

using namespace kestrix;

constexpr double kS = 100, kX = 100, kT = 0.5, kSigma = 0.25, kR = 0.05, kQ = 0.02;

void BM_CumulativeNormal(benchmark::State& state) {
    double x = -3.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CumulativeNormal(x));
        x = x > 3 ? -3.0 : x + 1e-3;
    }
}
BENCHMARK(BM_CumulativeNormal);

void BM_GbsValue(benchmark::State& state) {
    double S = kS;
    for (auto _ : state) {
        double d1 = 0, d2 = 0;
        ComputeD1D2(BSGen, d1, d2, S, kX, kR, kQ, kT, kT, kSigma);
        benchmark::DoNotOptimize(GbsValue(European, CallOption, S, kX, kT, kT, kSigma, kR, kQ, d1, d2, 0));
        S = S > 120 ? 80 : S + 0.01;
    }
}
BENCHMARK(BM_GbsValue);

void BM_GbsGamma(benchmark::State& state) {
    double S = kS;
    for (auto _ : state) {
        double d1 = 0, d2 = 0;
        ComputeD1D2(BSGen, d1, d2, S, kX, kR, kQ, kT, kT, kSigma);
        benchmark::DoNotOptimize(GbsGamma(CallOption, S, kX, kT, kT, kSigma, kR, kQ, d1, BSGen));
        S = S > 120 ? 80 : S + 0.01;
    }
}
BENCHMARK(BM_GbsGamma);

void BM_GbsImpliedVol(benchmark::State& state) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, kS, kX, kR, kQ, kT, kT, kSigma);
    const double price = GbsValue(European, CallOption, kS, kX, kT, kT, kSigma, kR, kQ, d1, d2, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(GbsImpliedVol(European, CallOption, kS, kX, kT, kT, price, kR, kQ, BSGen, 0));
    }
}
BENCHMARK(BM_GbsImpliedVol);

}  // namespace
