// The defaults a side-by-side comparison needs on a shared machine, each
// unless the command line or the environment sets it: several short
// repetitions of every job, run in random order, so that ours and QuantLib's
// meet the same bursts of load and compare like with like. Shared by the
// in-process benchmark and the host-view one.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

// argv with the defaults added; `filter`, when given, is the default
// --benchmark_filter=... argument.
inline std::vector<char*> WithComparisonDefaults(int argc, char** argv, const char* filter = nullptr) {
    struct Default {
        const char* flag;
        const char* environment;
        const char* setting;
    };
    const Default defaults[] = {
        {"--benchmark_filter", "BENCHMARK_FILTER", filter},
        {"--benchmark_enable_random_interleaving", "BENCHMARK_ENABLE_RANDOM_INTERLEAVING",
         "--benchmark_enable_random_interleaving=true"},
        {"--benchmark_repetitions", "BENCHMARK_REPETITIONS", "--benchmark_repetitions=9"},
        {"--benchmark_min_time", "BENCHMARK_MIN_TIME", "--benchmark_min_time=0.05"},
    };
    std::vector<char*> args(argv, argv + argc);
    for (const Default& option : defaults) {
        if (option.setting == nullptr) continue;
        const bool given = std::any_of(args.begin() + 1, args.end(), [&](const char* arg) {
            return std::string_view(arg).starts_with(option.flag);
        });
        // Google Benchmark reads its arguments without writing to them.
        if (!given && std::getenv(option.environment) == nullptr) args.push_back(const_cast<char*>(option.setting));
    }
    args.push_back(nullptr);
    return args;
}
