// Cost of one Merton jump-diffusion value (sixteen Black-Scholes terms) and
// one Roll-Geske-Whaley value (critical-price bisection plus two bivariate
// normals), each through its model entry.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "approx/JumpDiffusion.h"
#include "approx/RollGeskeWhaley.h"
#include "core/Enumerations.h"

namespace {

// The asset price drifts so nothing is hoisted out of the loop.
void BM_MertonValue(benchmark::State& state) {
    double S = 100;
    std::int32_t code = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrix::MertonJumpDiffusion(kestrix::CallOption, kestrix::Theoretical, S, 100, 0.5,
                                                              0.3, 0.05, 0.01, 0, 0, 0, 0, 2, 0.3, 0.01, 1e-5, S, S,
                                                              0.01, 0.01, 0.01, code));
        S += 1e-9;
    }
}
BENCHMARK(BM_MertonValue);

// A dividend large enough that the compound-option path runs.
void BM_RgwValue(benchmark::State& state) {
    double S = 80;
    std::int32_t code = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrix::RollGeskeWhaleyCall(kestrix::Theoretical, S, 82, 1.0 / 3, 0.3, 0.06, 0, 0,
                                                              0, 4, 0.25, 0, 0, 0, 0.01, 1e-5, S, S, false, code));
        S += 1e-9;
    }
}
BENCHMARK(BM_RgwValue);

}  // namespace
