// Barone-Adesi-Whaley and Bjerksund-Stensland, checked against published
// values, an independent American lattice, European bounds and finite
// differences taken here with steps of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <thread>
#include <vector>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "core/PricingRequest.h"

namespace kestrix {
namespace {

using ValueFn = double (*)(std::int32_t, double, double, double, double, double, double, double, double, double);
using EntryFn = double (*)(std::int32_t, std::int32_t, double, double, double, double, double, double, double,
                           double, double, double, double, double, double, double, double, double, double,
                           std::int32_t&);
struct Model {
    const char* name;
    ValueFn value;
    EntryFn entry;
};
constexpr Model kModels[] = {{"BAW", BawValue, QuadraticApproximation},
                             {"BJS", BjsValue, BjerksundStenslandApproximation}};
constexpr double kH = 1e-5;
constexpr double kG = 0.01;

struct Option {
    std::int32_t type;
    double S, X, T, s, r, q;
};

double Value(const Model& m, const Option& o) { return m.value(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0); }

// The entry as the launcher calls it without dividends: asset slots S, yield slots q.
double Entry(const Model& m, std::int32_t function, const Option& o, double marketPrice = 0, double pv = 0) {
    std::int32_t code = 0;
    return m.entry(o.type, function, o.S, o.X, o.T, o.s, o.r, o.q, marketPrice, 0, 0, pv, kG, kH, o.S, o.S, o.q, o.q,
                   o.q, code);
}

double European(const Option& o) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, o.S, o.X, o.r, o.q, o.T, o.T, o.s);
    return GbsValue(enumExerciseType::European, o.type, o.S, o.X, o.T, o.T, o.s, o.r, o.q, d1, d2, 0);
}

// Central difference of the value in one input.
double Slope(const Model& m, const Option& o, double Option::*input, double d) {
    Option up = o, down = o;
    up.*input += d;
    down.*input -= d;
    return (Value(m, up) - Value(m, down)) / (2 * d);
}

// Cox-Ross-Rubinstein American lattice with a continuous yield, independent
// of the library.
double LatticeAmerican(const Option& o, int n) {
    const double dt = o.T / n;
    const double u = std::exp(o.s * std::sqrt(dt));
    const double p = (std::exp((o.r - o.q) * dt) - 1 / u) / (u - 1 / u);
    const double disc = std::exp(-o.r * dt);
    const double phi = o.type == CallOption ? 1 : -1;
    std::vector<double> v(n + 1);
    for (int i = 0; i <= n; ++i) v[i] = std::max(phi * (o.S * std::pow(u, 2 * i - n) - o.X), 0.0);
    for (int j = n - 1; j >= 0; --j) {
        for (int i = 0; i <= j; ++i) {
            v[i] = std::max(disc * (p * v[i + 1] + (1 - p) * v[i]), phi * (o.S * std::pow(u, 2 * i - j) - o.X));
        }
    }
    return v[0];
}

TEST(AmericanApprox, PublishedValues) {
    // Barone-Adesi and Whaley's table (X = 100, T = 0.25, r = 8 %, b = -4 %,
    // s = 20 %), two decimals; the flat-boundary textbook example.
    const double S[] = {80, 90, 100, 110, 120};
    const double published[] = {0.03, 0.59, 3.52, 10.31, 20.00};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(BawValue(CallOption, S[i], 100, 0.25, 0.2, 0.08, 0.12, 0, 0, 0), published[i], 0.005);
    }
    EXPECT_NEAR(BjsValue(CallOption, 42, 40, 0.75, 0.35, 0.04, 0.08, 0, 0, 0), 5.2704, 5e-5);
}

TEST(AmericanApprox, CloseToLatticeAndAboveEuropean) {
    // Band: 3 % of the lattice value plus 0.05. Both approximations are
    // accurate to a few per cent up to a year (the quadratic one overprices
    // most, out-of-the-money puts at one year); the lattice (mean of 500 and
    // 501 steps, cancelling the odd-even swing) is within about 0.01. Where
    // `premium` is set, the European value alone would miss the band.
    struct Row {
        Option o;
        bool premium;
    };
    const Row rows[] = {
        {{PutOption, 90, 100, 1.0, 0.2, 0.10, 0.00}, true},   {{PutOption, 100, 100, 0.5, 0.3, 0.08, 0.00}, false},
        {{PutOption, 110, 100, 1.0, 0.2, 0.05, 0.00}, false}, {{PutOption, 80, 100, 0.25, 0.2, 0.08, 0.12}, false},
        {{CallOption, 120, 100, 1.0, 0.2, 0.05, 0.12}, true}, {{CallOption, 100, 100, 0.5, 0.4, 0.03, 0.07}, false},
        {{CallOption, 90, 100, 0.1, 0.2, 0.08, 0.12}, false}, {{CallOption, 110, 100, 1.0, 0.3, 0.10, 0.05}, false},
        {{PutOption, 80, 100, 1.0, 0.3, 0.12, 0.02}, true},
    };
    for (const Row& row : rows) {
        const double lattice = 0.5 * (LatticeAmerican(row.o, 500) + LatticeAmerican(row.o, 501));
        const double band = 0.03 * lattice + 0.05;
        if (row.premium) {
            EXPECT_GT(lattice - European(row.o), band);
        }
        for (const Model& m : kModels) {
            SCOPED_TRACE(testing::Message() << m.name << " type " << row.o.type << " S " << row.o.S);
            EXPECT_GE(Value(m, row.o), European(row.o) - 1e-12);
            EXPECT_NEAR(Value(m, row.o), lattice, band);
        }
    }
}

TEST(AmericanApprox, CallWithoutCarryAdvantageIsEuropean) {
    // q <= 0 means b >= r: the call is exactly European, Greeks included
    // (every bumped point re-evaluates the European value), while the put
    // with the same inputs still earns a premium.
    for (const Model& m : kModels) {
        for (const double q : {0.0, -0.03}) {
            SCOPED_TRACE(testing::Message() << m.name << " q " << q);
            const Option call{CallOption, 105, 100, 0.5, 0.3, 0.05, q};
            EXPECT_DOUBLE_EQ(Value(m, call), European(call));
            double d1 = 0, d2 = 0;
            ComputeD1D2(BSGen, d1, d2, call.S, call.X, call.r, q, call.T, call.T, call.s);
            const auto near = [](double value, double closedForm) {
                EXPECT_NEAR(value, closedForm, 1e-3 * std::fabs(closedForm));
            };
            near(Entry(m, Gamma, call), GbsGamma(CallOption, 105, 100, 0.5, 0.5, 0.3, 0.05, q, d1, BSGen));
            near(Entry(m, Vega, call), GbsVega(CallOption, 105, 100, 0.5, 0.5, 0.3, 0.05, q, d1, BSGen));
            near(Entry(m, Theta, call), GbsTheta(CallOption, 105, 100, 0.5, 0.5, 0.3, 0.05, q, d1, d2, BSGen));
            Option put = call;
            put.type = PutOption;
            EXPECT_GT(Value(m, put), European(put) + 0.05);
        }
    }
}

TEST(AmericanApprox, StraddleIsCallPlusPutButLambdaSumsTheLegs) {
    for (const Model& m : kModels) {
        const Option straddle{Straddle, 97, 100, 0.6, 0.3, 0.07, 0.03};
        Option call = straddle, put = straddle;
        call.type = CallOption;
        put.type = PutOption;
        EXPECT_DOUBLE_EQ(Value(m, straddle), Value(m, call) + Value(m, put)) << m.name;
        EXPECT_NEAR(Entry(m, Lambda, straddle), Entry(m, Lambda, call) + Entry(m, Lambda, put), 1e-9) << m.name;
        const double summed = Entry(m, Delta, straddle) * straddle.S / Value(m, straddle);
        EXPECT_GT(std::fabs(Entry(m, Lambda, straddle) - summed), 0.1) << m.name;
        // Lambda and intrinsic value use the asset price before escrowed dividends.
        EXPECT_NEAR(Entry(m, Lambda, call, 0, 4), Entry(m, Lambda, call) * (97 + 4) / 97, 1e-12) << m.name;
        EXPECT_EQ(Entry(m, IntrinsicValue, call, 0, 4), 1) << m.name;
    }
}

TEST(AmericanApprox, CriticalPriceAndExerciseRegion) {
    // Beyond S* a leg is worth its exercise value; just inside, the formula
    // meets that value (value matching, which the search solves for).
    const double r = 0.08, s = 0.2, T = 0.5, X = 100;
    const double callStar = BawCriticalPrice(CallOption, 1, X, T, r, r - 0.12, s, 0);
    ASSERT_GT(callStar, X);
    EXPECT_EQ(BawLegValue(CallOption, 1, callStar * 1.01, X, T, s, r, 0.12, 0), callStar * 1.01 - X);
    EXPECT_NEAR(BawLegValue(CallOption, 1, callStar * (1 - 1e-9), X, T, s, r, 0.12, 0), callStar - X, 1e-4 * X);
    const double putStar = BawCriticalPrice(PutOption, -1, X, T, r, r, s, 0);
    ASSERT_GT(putStar, 0);
    ASSERT_LT(putStar, X);
    EXPECT_EQ(BawLegValue(PutOption, -1, putStar * 0.99, X, T, s, r, 0, 0), X - putStar * 0.99);
    EXPECT_NEAR(BawLegValue(PutOption, -1, putStar * (1 + 1e-9), X, T, s, r, 0, 0), X - putStar, 1e-4 * X);
    for (const Model& m : kModels) {
        EXPECT_EQ(Value(m, {CallOption, 200, 100, 0.5, 0.2, 0.08, 0.12}), 100) << m.name;
        EXPECT_EQ(Value(m, {PutOption, 20, 100, 0.5, 0.2, 0.08, 0.0}), 80) << m.name;
        // At S = 0 the put is worth its strike and the call nothing.
        EXPECT_NEAR(Value(m, {PutOption, 0, 100, 0.5, 0.2, 0.05, 0.0}), 100, 1e-12) << m.name;
        EXPECT_NEAR(Value(m, {CallOption, 0, 100, 0.5, 0.2, 0.05, 0.02}), 0, 1e-12) << m.name;
    }
    // A carry so negative that the seed is unusable (hh > 20): the search is
    // abandoned with 0, and an out-of-the-money call keeps its European value
    // instead of being exercised at S - X < 0.
    EXPECT_EQ(BawCriticalPrice(CallOption, 1, 100, 1, 0.05, -2, 0.1, 0), 0);
    const Option call{CallOption, 90, 100, 1, 0.1, 0.05, 2.05};
    EXPECT_DOUBLE_EQ(Value(kModels[0], call), European(call));
}

// The critical price a thread remembers between calls must be the one a fresh
// search finds: requests that each differ from the one before in a single
// input (any input the search reads, or only the spot, where it is reused),
// priced forwards on one new thread and backwards on another, agree bit for
// bit, for every function that goes through the search.
TEST(AmericanApprox, RememberedCriticalPriceIsTheSearchsOwn) {
    std::vector<Option> sequence;
    Option o{PutOption, 95, 100, 0.5, 0.25, 0.06, 0.01};
    const auto step = [&](auto change) {
        change(o);
        sequence.push_back(o);
    };
    for (int round = 0; round < 3; ++round) {
        step([](Option& x) { x.S *= 1.01; });
        step([](Option& x) { x.X *= 1.02; });
        step([](Option& x) { x.S *= 0.98; });
        step([](Option& x) { x.T *= 1.1; });
        step([](Option& x) { x.s += 0.01; });
        step([](Option& x) { x.r += 0.005; });
        step([](Option& x) { x.q += 0.01; });
        step([](Option& x) { x.type = x.type == PutOption ? CallOption : x.type == CallOption ? Straddle : PutOption; });
        step([](Option& x) { x.S *= 1.01; });
        step([](Option& x) { x.q = std::nextafter(x.q, 1.0); });  // one unit in the last place
    }
    constexpr std::int32_t kFunctions[] = {Theoretical, Delta, Gamma, Theta, Vega, Rho, Lambda};
    const auto priceAll = [&](bool backwards, std::vector<double>& out) {
        out.assign(sequence.size() * std::size(kFunctions), 0);
        for (std::size_t n = 0; n < sequence.size(); ++n) {
            const std::size_t i = backwards ? sequence.size() - 1 - n : n;
            for (std::size_t f = 0; f < std::size(kFunctions); ++f) {
                out[i * std::size(kFunctions) + f] = Entry(kModels[0], kFunctions[f], sequence[i]);
            }
        }
    };
    std::vector<double> forwards, backwards;
    std::thread(priceAll, false, std::ref(forwards)).join();
    std::thread(priceAll, true, std::ref(backwards)).join();
    for (std::size_t i = 0; i < forwards.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(forwards[i]), std::bit_cast<std::uint64_t>(backwards[i]))
            << "request " << i / std::size(kFunctions) << ", function " << kFunctions[i % std::size(kFunctions)]
            << ": " << forwards[i] << " forwards, " << backwards[i] << " backwards";
    }
}

TEST(AmericanApprox, SensitivitiesMatchOwnFiniteDifferences) {
    // Steps 100 times the frame's. The critical-price search converges to
    // 1e-6 relative, so the two estimates may differ by a little noise.
    const Option options[] = {{PutOption, 95, 100, 0.5, 0.25, 0.08, 0.01},
                              {CallOption, 100, 95, 0.75, 0.3, 0.04, 0.09},
                              {Straddle, 100, 100, 1.0, 0.2, 0.06, 0.03}};
    const auto near = [](double value, double own) { EXPECT_NEAR(value, own, 2e-4 * std::fabs(own) + 1e-5); };
    for (const Model& m : kModels) {
        for (const Option& o : options) {
            SCOPED_TRACE(testing::Message() << m.name << " type " << o.type);
            near(Entry(m, Delta, o), Slope(m, o, &Option::S, 1e-3));
            near(Entry(m, Vega, o), Slope(m, o, &Option::s, 1e-3) * 0.01);
            near(Entry(m, Rho, o), Slope(m, o, &Option::r, 1e-3) * 0.01);
            near(Entry(m, Psi, o), Slope(m, o, &Option::q, 1e-3) * 0.01);
            near(Entry(m, StrikeSensitivity, o), Slope(m, o, &Option::X, 1e-3));
            const double gamma = (Value(m, {o.type, o.S + 0.5, o.X, o.T, o.s, o.r, o.q}) - 2 * Value(m, o) +
                                  Value(m, {o.type, o.S - 0.5, o.X, o.T, o.s, o.r, o.q})) /
                                 0.25;
            EXPECT_NEAR(Entry(m, Gamma, o), gamma, 2e-3 * std::fabs(gamma) + 1e-5);
            // Theta: the value lost over one calendar day.
            const double theta = Entry(m, Theta, o);
            EXPECT_NEAR(theta, Value(m, {o.type, o.S, o.X, o.T - 1.0 / 365, o.s, o.r, o.q}) - Value(m, o), 2e-4);
            if (o.type != Straddle) {
                EXPECT_LT(theta, 0);
            }
        }
    }
}

TEST(AmericanApprox, RhoAndPsiMembersMatchTheEntry) {
    // Slots as with an escrowed dividend: asset prices net of dividends at r -+ h.
    const Option o{PutOption, 96, 100, 0.5, 0.3, 0.07, 0.02};
    const double down = 95.9, up = 96.1;
    for (const Model& m : kModels) {
        const auto rhoMember = m.value == BawValue ? BawRho : BjsRho;
        const auto psiMember = m.value == BawValue ? BawPsi : BjsPsi;
        std::int32_t code = 0;
        const double rho = rhoMember(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH, down, up, o.q, o.q);
        EXPECT_EQ(rho, m.entry(o.type, Rho, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, 0, kG, kH, down, up, o.q, o.q, o.q,
                               code));
        EXPECT_EQ(psiMember(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH), Entry(m, Psi, o));
        // The dividends' own rate sensitivity enters through the asset slots.
        EXPECT_NEAR(rho, Entry(m, Rho, o) + Entry(m, Delta, o) * (up - down) / (2 * kH) * 0.01, 1e-4) << m.name;
    }
}

TEST(AmericanApprox, RequestEntryMatchesTheArgumentEntry) {
    // Every slot holds a value of its own, so a field read into the wrong
    // argument changes some function's answer.
    using RequestEntry = double (*)(const PricingRequest&, const PreparedInputs&, std::int32_t&);
    const RequestEntry requestEntries[] = {QuadraticApproximation, BjerksundStenslandApproximation};
    PricingRequest rq;
    rq.AssetPrice = 96;
    rq.StrikePrice = 100;
    rq.TimeExpire = 0.5;
    rq.Volatility = 0.3;
    rq.InterestRate = 0.07;
    rq.YieldRate = 0.02;
    PreparedInputs p;
    p.DividendPV = 1.5;
    p.GammaBumpSize = 0.02;
    p.BumpSize = 2e-5;
    p.AssetPriceDown = 95.9;
    p.AssetPriceUp = 96.1;
    p.YieldRateDown = 0.019;
    p.YieldRateUp = 0.021;
    p.YieldRateUp2 = 0.022;
    for (std::size_t i = 0; i < std::size(kModels); ++i) {
        const Model& m = kModels[i];
        for (const std::int32_t type : {CallOption, PutOption, Straddle}) {
            for (std::int32_t f = Theoretical; f <= ImpliedStrike; ++f) {
                rq.OptionType = type;
                rq.OptionFunction = f;
                // The option's own value as market price, so both searches converge.
                const Option o{type, rq.AssetPrice, rq.StrikePrice, rq.TimeExpire, rq.Volatility, 0.07, 0.02};
                rq.MarketPrice = f == ImpliedVol || f == ImpliedStrike ? Entry(m, Theoretical, o) : 0;
                std::int32_t code = 0;
                const double expected =
                    m.entry(type, f, rq.AssetPrice, rq.StrikePrice, rq.TimeExpire, rq.Volatility, rq.InterestRate,
                            rq.YieldRate, rq.MarketPrice, 0, 0, p.DividendPV, p.GammaBumpSize, p.BumpSize,
                            p.AssetPriceDown, p.AssetPriceUp, p.YieldRateDown, p.YieldRateUp, p.YieldRateUp2, code);
                const double got = requestEntries[i](rq, p, code);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected))
                    << m.name << " type " << type << " function " << f << ": " << got << " vs " << expected;
            }
        }
    }
}

TEST(AmericanApprox, ImpliedValuesRecoverTheirInputs) {
    const Option options[] = {{PutOption, 95, 100, 0.5, 0.25, 0.08, 0.01},
                              {CallOption, 100, 95, 0.75, 0.3, 0.04, 0.09},
                              {CallOption, 90, 100, 1.0, 0.45, 0.05, 0.0}};
    for (const Model& m : kModels) {
        for (const Option& o : options) {
            SCOPED_TRACE(testing::Message() << m.name << " type " << o.type << " X " << o.X);
            const double price = Value(m, o);
            EXPECT_NEAR(Entry(m, ImpliedVol, {o.type, o.S, o.X, o.T, 0.01, o.r, o.q}, price), o.s, 1e-5);
            EXPECT_NEAR(Entry(m, ImpliedStrike, {o.type, o.S, 50, o.T, o.s, o.r, o.q}, price), o.X, 1e-3);
        }
        EXPECT_EQ(Entry(m, ImpliedVol, options[0], 0), 0);
        // Below the exercise value no volatility reproduces the price.
        EXPECT_EQ(Entry(m, ImpliedVol, {PutOption, 80, 100, 0.5, 0.25, 0.08, 0.0}, 15), 0);
    }
}

TEST(AmericanApprox, Failures) {
    for (const Model& m : kModels) {
        for (const std::int32_t function : {0, 14}) {
            std::int32_t code = 0;
            try {
                m.entry(CallOption, function, 100, 100, 1, 0.2, 0.05, 0, 0, 0, 0, 0, kG, kH, 100, 100, 0, 0, 0, code);
                ADD_FAILURE() << m.name << " accepted function " << function;
            } catch (const PricingFailure& failure) {
                EXPECT_STREQ(failure.what(), "The OptionFunction is invalid.");
                EXPECT_EQ(code, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
            }
        }
    }
    // Far above the critical price of a low-volatility put the premium's power
    // underflows; the checked power function ends the call with "EInvalidOp".
    try {
        BawValue(PutOption, 1e6, 100, 1, 0.05, 0.1, 0, 0, 0, 0);
        ADD_FAILURE() << "no failure";
    } catch (const PricingFailure& failure) {
        EXPECT_STREQ(failure.what(), kInvalidOpMessage);
    }
}

TEST(AmericanApprox, FlatBoundaryGuardFallsBack) {
    // The put's transformed problem has rate q. At r = 100 % and s = 10 % its
    // trigger exponent is about 160 (>= 100): the guard fires. With q = 0 the
    // transformed rate is not positive and the put is worth 0; with q > 0 it
    // falls back to the European put.
    EXPECT_EQ(BjsValue(PutOption, 90, 100, 1, 0.1, 1.0, 0.0, 0, 0, 0), 0);
    const Option put{PutOption, 90, 100, 1, 0.1, 1.0, 0.001};
    EXPECT_DOUBLE_EQ(Value(kModels[1], put), European(put));
}

}  // namespace
}  // namespace kestrix
