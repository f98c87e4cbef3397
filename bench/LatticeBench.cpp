#include <benchmark/benchmark.h>

#include <cstdint>

#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "lattice/CRRBinomial.h"

namespace {

using namespace kestrix;

// An at-the-money American put on 500 steps, inputs as the launcher hands them.
double AmericanPut(std::int32_t optionFunction, std::int32_t dividendStyle, double spot) {
    return CrrBinomial(American, PutOption, optionFunction, 500, spot, 100, 0.75, 0.25, 0.05, 0.01, 0, 0, 0, 1, 0, 0,
                       dividendStyle, 1e-5, spot, spot, 0.01, 0.01, ErrorCode);
}

void BM_LatticeAmericanPutValue500(benchmark::State& state) {
    double spot = 100;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AmericanPut(Theoretical, DiscreteCashFlowBin, spot));
        spot += 1e-9;
    }
}
BENCHMARK(BM_LatticeAmericanPutValue500)->Unit(benchmark::kMicrosecond);

void BM_LatticeAmericanPutVega500(benchmark::State& state) {
    double spot = 100;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AmericanPut(Vega, DiscreteCashFlowBin, spot));
        spot += 1e-9;
    }
}
BENCHMARK(BM_LatticeAmericanPutVega500)->Unit(benchmark::kMicrosecond);

void BM_LatticeControlVariateVega500(benchmark::State& state) {
    double spot = 100;
    for (auto _ : state) {
        benchmark::DoNotOptimize(AmericanPut(Vega, DiscreteControlVar, spot));
        spot += 1e-9;
    }
}
BENCHMARK(BM_LatticeControlVariateVega500)->Unit(benchmark::kMicrosecond);

}  // namespace
