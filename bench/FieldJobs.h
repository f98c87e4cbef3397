// The side-by-side jobs: one option, priced the same way by us and by the
// field. Every job is registered once per way of calling it, under the name
// "<Method>.<Quantity>/<Way>" (Way: Entry, Table, Invoke, QuantLib), so
// that the summary printed after the run can pair the rows of one job.
#pragma once

#include <benchmark/benchmark.h>

#include <string>
#include <utility>

namespace kestrix::bench {

// The typical option: at the money, half a year, 5 % rate, 2 % yield, 25 %
// volatility.
inline constexpr double kSpot = 100;
inline constexpr double kStrike = 100;
inline constexpr double kExpiry = 0.5;
inline constexpr double kRate = 0.05;
inline constexpr double kYield = 0.02;
inline constexpr double kVolatility = 0.25;

// Lattice steps of the binomial jobs.
inline constexpr int kLatticeSteps = 500;

// Jump inputs of the jump-diffusion jobs: one jump a year on average, a
// quarter of the variance from jumps.
inline constexpr double kJumpsPerYear = 1;
inline constexpr double kPercentTotalVol = 0.25;

// Bump of the finite-difference Vega, the same on both sides.
inline constexpr double kVegaBump = 1e-5;

// The spot moves a little every iteration, so that no side can hand back a
// cached result; it stays within half a point of the money.
inline double NextSpot(double S) { return S > kSpot + 0.5 ? kSpot - 0.5 : S + 1e-4; }

// Times `price(S)` with a moving spot. The result at the typical spot is
// shown as a counter, so the output shows that both sides compute the same
// number.
template <typename Price>
void RunJob(benchmark::State& state, Price& price) {
    double S = kSpot;
    for (auto _ : state) {
        benchmark::DoNotOptimize(price(S));
        S = NextSpot(S);
    }
    state.counters["result"] = price(kSpot);
}

// Registers job `job` called by way `way`. `makePricer` runs before the
// timing starts and returns the callable double(double S) that is timed; the
// set-up of a job (market objects, a created automation object) stays out of
// the measurement.
template <typename MakePricer>
void RegisterJob(const std::string& job, const char* way, MakePricer makePricer) {
    benchmark::RegisterBenchmark((job + "/" + way).c_str(), [makePricer = std::move(makePricer)](benchmark::State& state) {
        auto price = makePricer();
        RunJob(state, price);
    });
}

}  // namespace kestrix::bench
