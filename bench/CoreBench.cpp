#include <benchmark/benchmark.h>

#include "core/OptionStatistics.h"

namespace {

void BM_CumulativeNormal(benchmark::State& state) {
    double x = -3.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestrix::CumulativeNormal(x));
        x += 1e-6;
    }
}
BENCHMARK(BM_CumulativeNormal);

}  // namespace
