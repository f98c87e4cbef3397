// kestrix_host_bench's entry point: the usual console output, then the table
// of the host's view: per job the median CPU time of the repetitions through
// the loaded library and QuantLib's (or the bare formula's), and the targets.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "../ComparisonDefaults.h"

namespace {

// CPU ns per call of every repetition, by job and way.
using Samples = std::map<std::string, std::map<std::string, std::vector<double>>>;

class MedianReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            const std::string name = run.run_name.str();
            const auto slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            const double ns = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
            samples_[name.substr(0, slash)][name.substr(slash + 1)].push_back(ns);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // The median of a job's repetitions by one way; 0 when it did not run.
    double Median(const std::string& job, const std::string& way) const {
        const auto j = samples_.find(job);
        if (j == samples_.end()) return 0;
        const auto w = j->second.find(way);
        if (w == j->second.end() || w->second.empty()) return 0;
        std::vector<double> v = w->second;
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

private:
    Samples samples_;
};

// A row of the table: `job` by `way` against `reference` (another way of the
// same job); the target is a speed-up of at least `factor`, or when `atMost`
// is set a time of at most that multiple of the reference's. A factor of 0
// shows the comparison without a target.
struct Row {
    const char* job;
    const char* way;
    const char* reference;
    double factor;
    bool atMost;
};

constexpr Row kRows[] = {
    {"GenBS.Value", "Table", "Formula", 2.5, true},  {"Whaley.Value", "Table", "QuantLib", 3.5, false},
    {"BSAmerican.Value", "Table", "QuantLib", 3.5, false}, {"GenBS.Value", "Table", "QuantLib", 15, false},
    {"GenBS.Value", "Invoke", "Table", 2, true},     {"Binomial.Value", "Table", "QuantLib", 10, false},
    {"JumpDiffusion.Value", "Table", "QuantLib", 10, false}, {"GenBS.ImpliedVol", "Table", "QuantLib", 10, false},
    {"Whaley.Value", "NewX", "QuantLib", 0, false},
};

void PrintTable(const MedianReporter& reporter) {
    std::printf("\nThrough the loaded library (median CPU ns per call of the repetitions)\n");
    std::printf("%-20s %-7s %12s %-9s %12s %10s  %s\n", "job", "way", "ours ns", "against", "theirs ns", "ratio",
                "target");
    for (const Row& row : kRows) {
        const double ours = reporter.Median(row.job, row.way);
        const double theirs = reporter.Median(row.job, row.reference);
        if (ours == 0 || theirs == 0) {
            std::printf("%-20s %-7s not judged: a side did not run\n", row.job, row.way);
            continue;
        }
        const double ratio = row.atMost ? ours / theirs : theirs / ours;
        if (row.factor == 0) {
            std::printf("%-20s %-7s %12.1f %-9s %12.1f %9.2fx  (no target)\n", row.job, row.way, ours, row.reference,
                        theirs, ratio);
            continue;
        }
        const bool met = row.atMost ? ratio <= row.factor : ratio >= row.factor;
        std::printf("%-20s %-7s %12.1f %-9s %12.1f %9.2fx  %s %.1fx: %s\n", row.job, row.way, ours, row.reference,
                    theirs, ratio, row.atMost ? "<=" : ">=", row.factor, met ? "met" : "MISSED");
    }
}

// The table's jobs only, unless the command line or the environment says
// otherwise.
constexpr const char* kTableJobs =
    "--benchmark_filter=^(GenBS\\.Value|GenBS\\.ImpliedVol|Whaley\\.Value|"
    "BSAmerican\\.Value|Binomial\\.Value|JumpDiffusion\\.Value)/";

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args = WithComparisonDefaults(argc, argv, kTableJobs);
    argc = static_cast<int>(args.size()) - 1;
    argv = args.data();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintTable(reporter);
    return 0;
}
