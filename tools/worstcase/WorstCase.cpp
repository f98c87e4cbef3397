// kestrix-worstcase: times single calls that are expected to be the slowest
// the object can be asked for, and prints the slowest.
//
//   kestrix-worstcase [--filter TEXT] [--limit SECONDS]
//   kestrix-worstcase --random COUNT [--seed N] [--top K] [--max-dates-exponent E] [--limit SECONDS]
//
// The table holds the known expensive shapes: long dividend schedules with a
// tiny frequency (the launcher discounts every date, the lattice and the
// pseudo-American approximation walk them again), the implied searches on
// the 500-step lattice, bumped lattice sensitivities, the approximations'
// searches. --random prices COUNT requests drawn from ranges biased towards
// such inputs (fixed seed; schedules of up to 10^E dates, E at most 8) and
// reports the slowest K. Each call goes through
// IDispatch by name, as a host would call it. Times are the calling
// thread's CPU seconds (wall seconds beside them); a call under 50 ms is
// repeated and its best run kept. With --limit the exit status is 1 when a
// call took longer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <ctime>
#include <chrono>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Host.h"

namespace {

using kestrix::cli::NamedValue;

struct Candidate {
    std::string label;
    std::string method;
    std::string args;  // "Name=Value Name=Value ..."
};

struct Timing {
    double cpu = 0;   // seconds of the calling thread
    double wall = 0;  // seconds
    kestrix::cli::Outcome outcome;
};

std::vector<NamedValue> ParseArgs(const std::string& text) {
    std::vector<NamedValue> args;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const auto equals = word.find('=');
        args.push_back({word.substr(0, equals), word.substr(equals + 1)});
    }
    return args;
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

Timing TimeOnce(IDispatch* object, const Candidate& c, const std::vector<NamedValue>& args) {
    Timing t;
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = ThreadSeconds();
    t.outcome = kestrix::cli::CallMethod(object, c.method, args);
    t.cpu = ThreadSeconds() - cpu0;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    return t;
}

// Best of up to five runs for quick calls; a slow call is timed once.
Timing Time(IDispatch* object, const Candidate& c) {
    const std::vector<NamedValue> args = ParseArgs(c.args);
    Timing best = TimeOnce(object, c, args);
    for (int run = 1; run < 5 && best.cpu < 0.05; ++run) {
        const Timing again = TimeOnce(object, c, args);
        if (again.cpu < best.cpu) best = again;
    }
    return best;
}

std::string Answer(const kestrix::cli::Outcome& outcome) {
    if (outcome.Succeeded()) return kestrix::cli::FormatNumber(outcome.result);
    return kestrix::cli::FormatHResult(outcome.hr);
}

// Common parts of the table's requests.
const std::string kPlain =
    "AssetPrice=100 StrikePrice=100 TimeExpire=1 Volatility=0.25 InterestRate=0.05 TimeFormat=Years";
// Just under 1e8 dates in a year of 1e-9 each: the longest schedule the
// launcher expands (from a ratio of 1e8 on it prices one dividend).
const std::string kManyDates = "DividendAmount=1e-9 TimeExDividend=1e-8 DividendFrequency=1.0000001e-8";
// About 1e5 and 1e4 dates.
const std::string kDates1e5 = "DividendAmount=1e-6 TimeExDividend=1e-5 DividendFrequency=1e-5";
const std::string kDates1e4 = "DividendAmount=1e-5 TimeExDividend=1e-4 DividendFrequency=1e-4";
// Daily for ten years.
const std::string kDaily10y =
    "AssetPrice=100 StrikePrice=100 TimeExpire=10 Volatility=0.25 InterestRate=0.05 TimeFormat=Years "
    "DividendAmount=0.01 TimeExDividend=0.00274 DividendFrequency=0.00274";

// `dates` dates spread over the year, worth about 0.1 in all.
std::string Dates(double dates) {
    const std::string f = kestrix::cli::FormatNumber(1 / (dates + 0.5));
    return "DividendAmount=" + kestrix::cli::FormatNumber(0.1 / dates) + " TimeExDividend=" + f +
           " DividendFrequency=" + f;
}

std::vector<Candidate> Table() {
    std::vector<Candidate> table;
    const auto add = [&](std::string label, std::string method, std::string args) {
        table.push_back({std::move(label), std::move(method), std::move(args)});
    };
    const std::string binomialAmPut = "ExerciseType=American OptionType=PutOption Iterations=500 YieldRate=0 ";
    const std::string genbsEuCall = "ExerciseType=European OptionType=CallOption YieldRate=0 ";
    const std::string genbsAmCall = "ExerciseType=American OptionType=CallOption YieldRate=0 ";

    // The launcher's dividend loop on its own (European closed form after it).
    add("GenBS value, 1e8 dates", "GenBS", genbsEuCall + "OptionFunction=Theoretical " + kPlain + " " + kManyDates);
    add("GenBS Rho, 1e8 dates (four rates)", "GenBS", genbsEuCall + "OptionFunction=Rho " + kPlain + " " + kManyDates);
    add("GenBS ImpliedVol, 1e8 dates", "GenBS",
        genbsEuCall + "OptionFunction=ImpliedVol MarketPrice=10 " + kPlain + " " + kManyDates);
    add("Whaley ImpliedVol straddle, 1e8 dates", "Whaley",
        "OptionType=Straddle OptionFunction=ImpliedVol MarketPrice=20 YieldRate=0 " + kPlain + " " + kManyDates);
    add("BSAmerican ImpliedVol straddle, 1e8 dates", "BSAmerican",
        "OptionType=Straddle OptionFunction=ImpliedVol MarketPrice=20 YieldRate=0.01 " + kPlain + " " + kManyDates);
    add("JumpDiffusion ImpliedVol straddle, 1e8 dates", "JumpDiffusion",
        "OptionType=Straddle OptionFunction=ImpliedVol MarketPrice=20 JumpsPerYear=5 PercentTotalVol=0.5 "
        "YieldRate=0 " + kPlain + " " + kManyDates);
    add("AmericanCall Psi, 1e8 dates", "AmericanCall", "OptionFunction=Psi " + kPlain + " " + kManyDates);
    add("AmericanCall ImpliedVol, 1e8 dates", "AmericanCall",
        "OptionFunction=ImpliedVol MarketPrice=11 " + kPlain + " " + kManyDates);
    add("AmericanCall ImpliedStrike, large dividend", "AmericanCall",
        "OptionFunction=ImpliedStrike MarketPrice=11 " + kPlain +
            " DividendAmount=5 TimeExDividend=0.5 DividendFrequency=0");

    // The pseudo-American call walks its schedule once per valuation.
    add("GenBS American value, 1e8 dates", "GenBS",
        genbsAmCall + "OptionFunction=Theoretical " + kPlain + " " + kManyDates);
    add("GenBS American Gamma, 1e5 dates", "GenBS", genbsAmCall + "OptionFunction=Gamma " + kPlain + " " + kDates1e5);
    add("GenBS American ImpliedVol, 1e5 dates", "GenBS",
        genbsAmCall + "OptionFunction=ImpliedVol MarketPrice=10 " + kPlain + " " + kDates1e5);
    add("GenBS American ImpliedStrike straddle, 1e4 dates", "GenBS",
        "ExerciseType=American OptionType=Straddle YieldRate=0 OptionFunction=ImpliedStrike MarketPrice=20 " + kPlain +
            " " + kDates1e4);
    add("GenBS American ImpliedVol, daily for 10 years", "GenBS",
        genbsAmCall + "OptionFunction=ImpliedVol MarketPrice=30 " + kDaily10y);

    // The lattice adds back the dates still to come at every level.
    add("Binomial value 5 steps, 1e8 dates", "Binomial",
        "ExerciseType=American OptionType=PutOption Iterations=5 YieldRate=0 OptionFunction=Theoretical " + kPlain +
            " " + kManyDates);
    add("Binomial value 500 steps, 1e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=Theoretical " + kPlain + " " + kDates1e5);
    add("Binomial value 500 steps, 1e8 dates", "Binomial",
        binomialAmPut + "OptionFunction=Theoretical " + kPlain + " " + kManyDates);
    add("Binomial Rho 500 steps, 1e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=Rho " + kPlain + " " + kDates1e5);
    add("Binomial Rho control variate 500 steps, 1e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=Rho DividendStyle=DiscreteControlVar " + kPlain + " " + kDates1e5);
    add("Binomial Vega control variate 500 steps, 1e4 dates", "Binomial",
        binomialAmPut + "OptionFunction=Vega DividendStyle=DiscreteControlVar " + kPlain + " " + kDates1e4);
    add("Binomial ImpliedVol 500 steps, daily for 10 years", "Binomial",
        binomialAmPut + "OptionFunction=ImpliedVol MarketPrice=12 " + kDaily10y);
    add("Binomial ImpliedVol control variate 500 steps, daily for 10 years", "Binomial",
        binomialAmPut + "OptionFunction=ImpliedVol MarketPrice=12 DividendStyle=DiscreteControlVar " + kDaily10y);
    add("Binomial ImpliedStrike control variate 500 steps, 1e4 dates", "Binomial",
        binomialAmPut + "OptionFunction=ImpliedStrike MarketPrice=12 DividendStyle=DiscreteControlVar " + kPlain +
            " " + kDates1e4);
    add("Binomial ImpliedVol 500 steps, 1e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=ImpliedVol MarketPrice=10 " + kPlain + " " + kDates1e5);

    // Just inside the work limit: the slowest calls that are still priced.
    add("GenBS American value, 1e7 dates", "GenBS",
        genbsAmCall + "OptionFunction=Theoretical " + kPlain + " " + Dates(1e7));
    add("GenBS American Rho, 8e6 dates", "GenBS", genbsAmCall + "OptionFunction=Rho " + kPlain + " " + Dates(8e6));
    add("GenBS American ImpliedVol, 2e6 dates", "GenBS",
        genbsAmCall + "OptionFunction=ImpliedVol MarketPrice=10 " + kPlain + " " + Dates(2e6));
    add("Binomial value 500 steps, 7e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=Theoretical " + kPlain + " " + Dates(7e5));
    add("Binomial value control variate 500 steps, 7e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=Theoretical DividendStyle=DiscreteControlVar " + kPlain + " " + Dates(7e5));
    add("Binomial Rho 500 steps, 3.5e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=Rho " + kPlain + " " + Dates(3.5e5));
    add("Binomial value 5 steps, 2e7 dates", "Binomial",
        "ExerciseType=American OptionType=PutOption Iterations=5 YieldRate=0 OptionFunction=Theoretical " + kPlain +
            " " + Dates(2e7));
    add("Binomial Rho 5 steps, 1e7 dates", "Binomial",
        "ExerciseType=American OptionType=PutOption Iterations=5 YieldRate=0 OptionFunction=Rho " + kPlain + " " +
            Dates(1e7));
    add("Binomial ImpliedVol 500 steps, 2e5 dates", "Binomial",
        binomialAmPut + "OptionFunction=ImpliedVol MarketPrice=10 " + kPlain + " " + Dates(2e5));
    add("Binomial ImpliedVol 50 steps, 1e7 dates", "Binomial",
        "ExerciseType=American OptionType=PutOption Iterations=50 YieldRate=0 OptionFunction=ImpliedVol "
        "MarketPrice=10 " + kPlain + " " + Dates(1e7));

    // Lattice searches and passes without dividends.
    add("Binomial ImpliedVol control variate straddle 500 steps", "Binomial",
        "ExerciseType=American OptionType=Straddle Iterations=500 YieldRate=0.03 OptionFunction=ImpliedVol "
        "MarketPrice=20 DividendStyle=DiscreteControlVar " + kPlain);
    add("Binomial ImpliedStrike control variate straddle 500 steps", "Binomial",
        "ExerciseType=American OptionType=Straddle Iterations=500 YieldRate=0.03 OptionFunction=ImpliedStrike "
        "MarketPrice=20 DividendStyle=DiscreteControlVar " + kPlain);
    add("Binomial ImpliedVol near the put's bound 500 steps", "Binomial",
        binomialAmPut + "OptionFunction=ImpliedVol MarketPrice=99 " + kPlain);
    add("Eurodollar Binomial Rho straddle 500 steps", "Eurodollar",
        "Model=BinomialEuro ExerciseType=American OptionType=Straddle OptionFunction=Rho Iterations=500 "
        "AssetPrice=95 StrikePrice=94 TimeExpire=1 Volatility=0.25 InterestRate=0.05 TimeFormat=Years");
    add("Eurodollar Binomial ImpliedVol straddle 500 steps", "Eurodollar",
        "Model=BinomialEuro ExerciseType=American OptionType=Straddle OptionFunction=ImpliedVol Iterations=500 "
        "MarketPrice=3 AssetPrice=95 StrikePrice=94 TimeExpire=1 Volatility=0.25 InterestRate=0.05 "
        "TimeFormat=Years");
    return table;
}

// Random requests biased towards expensive inputs.
class RandomRequests {
public:
    RandomRequests(std::uint64_t seed, int maxDatesExponent) : engine_(seed), maxDatesExponent_(maxDatesExponent) {}

    Candidate Next() {
        static const char* const kMethods[] = {"GenBS",      "FrenchBS",      "Binomial",     "Whaley",
                                               "BSAmerican", "JumpDiffusion", "AmericanCall", "Eurodollar"};
        static const char* const kFunctions[] = {"Theoretical", "Delta",       "Gamma",          "Theta",
                                                 "ImpliedVol",  "Vega",        "Rho",            "Psi",
                                                 "Lambda",      "IntrinsicValue", "StrikeSensitivity",
                                                 "Time_Value",  "ImpliedStrike"};
        Candidate c;
        c.method = Pick(kMethods);
        const bool eurodollar = c.method == "Eurodollar";
        std::string a = "OptionFunction=" + std::string(Pick(kFunctions));
        const auto num = [&](const char* name, double value) { a += std::string(" ") + name + "=" + Num(value); };
        num("AssetPrice", eurodollar ? Among({95, 99.9, 50, 100, 1}) : Among({100, 1, 1e-6, 1e6, 37}));
        num("StrikePrice", eurodollar ? Among({94, 96, 99.99, 1, 50}) : Among({100, 80, 120, 1e-3, 1e6}));
        num("TimeExpire", Among({1, 10, 1e-4, 30, 0.25}));
        num("Volatility", Among({0.25, 0.015, 1, 5, 1e-3}));
        num("InterestRate", Among({0.05, 1e-7, 0.5, 3, 1e-3}));
        num("MarketPrice", Among({10, 1e-4, 50, 99, 0.5}));
        a += " TimeFormat=Years";
        if (c.method != "AmericanCall" && !eurodollar) num("YieldRate", Among({0, 0.03, -0.5, 1, 0.1}));
        if (c.method != "Whaley" && c.method != "BSAmerican" && c.method != "JumpDiffusion" &&
            c.method != "AmericanCall") {
            a += " ExerciseType=" + std::string(Uniform(2) ? "American" : "European");
        }
        if (c.method != "AmericanCall") {
            a += " OptionType=" + std::string(Among3("CallOption", "PutOption", "Straddle"));
        }
        if (c.method == "Binomial" || eurodollar) {
            a += " Iterations=" + std::to_string(Uniform(2) ? 500 : 5 + Uniform(496));
        }
        if (c.method == "Binomial") a += " DividendStyle=" + std::to_string(Uniform(4));
        if (eurodollar) a += " Model=" + std::to_string(Uniform(4));
        if (c.method == "FrenchBS") num("TimeTrading", Among({1, 0.5, 1e-4, 10, 0.25}));
        if (c.method == "JumpDiffusion") {
            num("JumpsPerYear", Among({1, 100, 1e-3, 1e4, 5}));
            num("PercentTotalVol", Among({0.5, 0.01, 0.99, 0.25, 0.9}));
        }
        if (!eurodollar && Uniform(4) != 0) {
            // A schedule of 1 to about 10^maxDatesExponent dates within the year.
            const double dates = std::pow(10.0, static_cast<double>(Uniform(maxDatesExponent_ + 1)));
            const double frequency = 1 / (dates + 1);
            num("DividendAmount", Among({1e-2 / dates, 1, 1e-9, 5, 1e-6 / dates}));
            num("TimeExDividend", frequency);
            num("DividendFrequency", frequency);
        }
        c.args = a;
        c.label = "random";
        return c;
    }

private:
    template <std::size_t N>
    const char* Pick(const char* const (&values)[N]) {
        return values[Uniform(N)];
    }
    double Among(std::initializer_list<double> values) { return values.begin()[Uniform(values.size())]; }
    const char* Among3(const char* a, const char* b, const char* c) {
        const int k = static_cast<int>(Uniform(3));
        return k == 0 ? a : k == 1 ? b : c;
    }
    std::size_t Uniform(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_); }
    static std::string Num(double value) { return kestrix::cli::FormatNumber(value); }

    std::mt19937_64 engine_;
    int maxDatesExponent_;
};

struct Row {
    Candidate candidate;
    Timing timing;
};

void Print(const Row& row) {
    std::printf("%9.3f %9.3f  %-22s  %s\n", row.timing.cpu, row.timing.wall, Answer(row.timing.outcome).c_str(),
                row.candidate.label.c_str());
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kestrix-worstcase [--filter TEXT] [--limit SECONDS]\n"
                 "       kestrix-worstcase --random COUNT [--seed N] [--top K] [--max-dates-exponent E]\n"
                 "                         [--limit SECONDS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string filter;
    double limit = 0;
    long randomCount = 0;
    std::uint64_t seed = 14;
    long top = 10;
    int maxDatesExponent = 8;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[++i];
        if (arg == "--filter") {
            filter = value;
        } else if (arg == "--limit") {
            limit = std::stod(value);
        } else if (arg == "--random") {
            randomCount = std::stol(value);
        } else if (arg == "--seed") {
            seed = std::stoull(value);
        } else if (arg == "--max-dates-exponent") {
            maxDatesExponent = std::clamp(std::stoi(value), 0, 8);
        } else if (arg == "--top") {
            top = std::stol(value);
        } else {
            return Usage();
        }
    }

    IDispatch* object = kestrix::cli::CreateKestrix();
    if (object == nullptr) {
        std::fprintf(stderr, "kestrix-worstcase: the object could not be created\n");
        return 2;
    }

    std::vector<Row> rows;
    std::printf("%9s %9s  %-22s  %s\n", "cpu s", "wall s", "result", "call");
    if (randomCount > 0) {
        RandomRequests generator(seed, maxDatesExponent);
        for (long n = 0; n < randomCount; ++n) {
            Candidate c = generator.Next();
            c.label = "#" + std::to_string(n);
            const std::vector<NamedValue> args = ParseArgs(c.args);
            rows.push_back({c, TimeOnce(object, c, args)});
        }
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.timing.cpu > b.timing.cpu; });
        if (static_cast<long>(rows.size()) > top) rows.resize(static_cast<std::size_t>(top));
        for (const Row& row : rows) {
            Print(row);
            std::printf("%41s%s %s\n", "", row.candidate.method.c_str(), row.candidate.args.c_str());
        }
    } else {
        for (const Candidate& c : Table()) {
            if (!filter.empty() && c.label.find(filter) == std::string::npos) continue;
            rows.push_back({c, Time(object, c)});
            Print(rows.back());
            std::fflush(stdout);
        }
    }
    object->Release();
    if (rows.empty()) return 0;

    const Row& worst = *std::max_element(rows.begin(), rows.end(),
                                         [](const Row& a, const Row& b) { return a.timing.cpu < b.timing.cpu; });
    std::printf("\nworst: %.3f s cpu (%.3f s wall), %s\n  %s %s\n", worst.timing.cpu, worst.timing.wall,
                worst.candidate.label.c_str(), worst.candidate.method.c_str(), worst.candidate.args.c_str());
    return limit > 0 && worst.timing.cpu > limit ? 1 : 0;
}
