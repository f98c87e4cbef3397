// The benchmark's entry point: the usual console output, then a summary that
// pairs each side-by-side job (see FieldJobs.h) with QuantLib's and prints
// the ratio ours/theirs and the targets.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "ComparisonDefaults.h"

namespace {

// CPU time per iteration in ns, by job and way; the best of the repetitions
// (the machine is shared and noise only ever adds time), or their median when
// only aggregates are reported.
using Timings = std::map<std::string, std::map<std::string, double>>;

class SummaryReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            // Single runs, or the median when only aggregates are reported.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred) continue;
            const std::string name = run.run_name.str();
            const auto slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            const double ns = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            auto [it, fresh] = timings_[name.substr(0, slash)].try_emplace(name.substr(slash + 1), ns);
            if (!fresh) it->second = std::min(it->second, ns);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    const Timings& timings() const { return timings_; }

private:
    Timings timings_;
};

// A target of the issue: `way` of `job` at least `factor` times faster than
// QuantLib, or (Invoke) at most `factor` times the function table's time.
struct Target {
    const char* job;
    const char* way;
    double factor;
};

constexpr Target kTargets[] = {
    {"GenBS.Value", "Table", 15},     {"GenBS.Value", "Invoke", 2},     {"Whaley.Value", "Table", 3},
    {"BSAmerican.Value", "Table", 3}, {"Binomial.Value", "Table", 10},  {"JumpDiffusion.Value", "Table", 10},
    {"GenBS.ImpliedVol", "Table", 10},
};

const double* Find(const Timings& timings, const std::string& job, const std::string& way) {
    const auto j = timings.find(job);
    if (j == timings.end()) return nullptr;
    const auto w = j->second.find(way);
    return w == j->second.end() ? nullptr : &w->second;
}

void PrintSummary(const Timings& timings) {
    std::printf("\nOurs against QuantLib (CPU ns per call; ours/theirs below 1 means ours is faster)\n");
    std::printf("%-22s %-7s %12s %12s %12s %10s\n", "job", "way", "ours ns", "QuantLib ns", "ours/theirs",
                "speed-up");
    for (const auto& [job, ways] : timings) {
        const double* theirs = Find(timings, job, "QuantLib");
        for (const char* way : {"Entry", "Table", "Invoke"}) {
            const double* ours = Find(timings, job, way);
            if (ours == nullptr) continue;
            if (theirs == nullptr) {
                std::printf("%-22s %-7s %12.1f %12s %12s %10s\n", job.c_str(), way, *ours, "-", "-", "-");
            } else {
                std::printf("%-22s %-7s %12.1f %12.1f %12.4f %9.1fx\n", job.c_str(), way, *ours, *theirs,
                            *ours / *theirs, *theirs / *ours);
            }
        }
    }

    std::printf("\nTargets\n");
    for (const Target& target : kTargets) {
        const double* ours = Find(timings, target.job, target.way);
        const bool againstTable = std::string(target.way) == "Invoke";
        const double* reference = Find(timings, target.job, againstTable ? "Table" : "QuantLib");
        if (ours == nullptr || reference == nullptr) {
            std::printf("%-22s %-7s not judged: no %s row in this run\n", target.job, target.way,
                        ours == nullptr ? target.way : againstTable ? "Table" : "QuantLib");
            continue;
        }
        if (againstTable) {
            const double ratio = *ours / *reference;
            std::printf("%-22s %-7s %.2fx the function table's time (target <= %.0fx): %s\n", target.job, target.way,
                        ratio, target.factor, ratio <= target.factor ? "met" : "MISSED");
        } else {
            const double speedUp = *reference / *ours;
            std::printf("%-22s %-7s %.1fx faster than QuantLib (target >= %.0fx): %s\n", target.job, target.way,
                        speedUp, target.factor, speedUp >= target.factor ? "met" : "MISSED");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = WithComparisonDefaults(argc, argv);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter.timings());
    return 0;
}
