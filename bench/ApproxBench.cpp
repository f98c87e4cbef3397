// Cost of one Barone-Adesi-Whaley and one Bjerksund-Stensland call: the value
// and a bumped sensitivity (Vega: two re-pricings, each with its own
// critical-price search for the quadratic approximation).
#include <benchmark/benchmark.h>

#include <cstdint>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/Enumerations.h"

namespace {

using Entry = double (*)(std::int32_t, std::int32_t, double, double, double, double, double, double, double, double,
                         double, double, double, double, double, double, double, double, double, std::int32_t&);

// An American put and a call on a high-yield asset: both take the
// early-exercise path. The asset price drifts so nothing is hoisted.
void RunEntry(benchmark::State& state, Entry entry, std::int32_t optionType, std::int32_t function, double q) {
    double S = 95;
    std::int32_t code = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            entry(optionType, function, S, 100, 0.5, 0.25, 0.08, q, 0, 0, 0, 0, 0.01, 1e-5, S, S, q, q, q, code));
        S += 1e-9;
    }
}

void BM_BawPutValue(benchmark::State& state) {
    RunEntry(state, kestrix::QuadraticApproximation, kestrix::PutOption, kestrix::Theoretical, 0.0);
}
void BM_BawCallValue(benchmark::State& state) {
    RunEntry(state, kestrix::QuadraticApproximation, kestrix::CallOption, kestrix::Theoretical, 0.12);
}
void BM_BawPutVega(benchmark::State& state) {
    RunEntry(state, kestrix::QuadraticApproximation, kestrix::PutOption, kestrix::Vega, 0.0);
}
void BM_BjsPutValue(benchmark::State& state) {
    RunEntry(state, kestrix::BjerksundStenslandApproximation, kestrix::PutOption, kestrix::Theoretical, 0.0);
}
void BM_BjsCallValue(benchmark::State& state) {
    RunEntry(state, kestrix::BjerksundStenslandApproximation, kestrix::CallOption, kestrix::Theoretical, 0.12);
}
void BM_BjsPutVega(benchmark::State& state) {
    RunEntry(state, kestrix::BjerksundStenslandApproximation, kestrix::PutOption, kestrix::Vega, 0.0);
}

BENCHMARK(BM_BawPutValue);
BENCHMARK(BM_BawCallValue);
BENCHMARK(BM_BawPutVega);
BENCHMARK(BM_BjsPutValue);
BENCHMARK(BM_BjsCallValue);
BENCHMARK(BM_BjsPutVega);

}  // namespace
