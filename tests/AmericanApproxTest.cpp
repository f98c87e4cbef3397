// Barone-Adesi-Whaley and Bjerksund-Stensland, checked against published
// values, an independent American lattice, European bounds and finite
// differences taken here with steps of their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

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

constexpr Model kModels[] = {
    {"BAW", BawValue, QuadraticApproximation},
    {"BJS", BjsValue, BjerksundStenslandApproximation},
};

constexpr double kH = 1e-5;
constexpr double kG = 0.01;

struct Option {
    std::int32_t type;
    double S, X, T, s, r, q;
};

double Value(const Model& m, const Option& o) { return m.value(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0); }

// The entry as the launcher calls it for a request without dividends: every
// prepared asset slot is S, every yield slot q.
double Entry(const Model& m, std::int32_t function, const Option& o, double marketPrice = 0) {
    std::int32_t code = 0;
    return m.entry(o.type, function, o.S, o.X, o.T, o.s, o.r, o.q, marketPrice, 0, 0, 0, kG, kH, o.S, o.S, o.q, o.q,
                   o.q, code);
}

double European(const Option& o) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, o.S, o.X, o.r, o.q, o.T, o.T, o.s);
    return GbsValue(enumExerciseType::European, o.type, o.S, o.X, o.T, o.T, o.s, o.r, o.q, d1, d2, 0);
}

// Cox-Ross-Rubinstein American lattice with a continuous yield, written
// independently of the library. The mean of n and n + 1 steps cancels most of
// the odd-even oscillation.
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
            const double exercise = phi * (o.S * std::pow(u, 2 * i - j) - o.X);
            v[i] = std::max(disc * (p * v[i + 1] + (1 - p) * v[i]), exercise);
        }
    }
    return v[0];
}

double Lattice(const Option& o) { return 0.5 * (LatticeAmerican(o, 500) + LatticeAmerican(o, 501)); }

TEST(AmericanApprox, PublishedValues) {
    // Barone-Adesi and Whaley's own table (X = 100, T = 0.25, r = 8 %,
    // b = -4 %, s = 20 %), two decimals.
    const double S[] = {80, 90, 100, 110, 120};
    const double published[] = {0.03, 0.59, 3.52, 10.31, 20.00};
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(BawValue(CallOption, S[i], 100, 0.25, 0.2, 0.08, 0.12, 0, 0, 0), published[i], 0.005)
            << "S " << S[i];
    }
    // The textbook example of the flat-boundary approximation.
    EXPECT_NEAR(BjsValue(CallOption, 42, 40, 0.75, 0.35, 0.04, 0.08, 0, 0, 0), 5.2704, 5e-5);
}

TEST(AmericanApprox, CloseToLatticeAndAboveEuropean) {
    // Band: 3 % of the lattice value plus 0.05. Both approximations are
    // published as accurate to a few per cent for maturities up to a year
    // (the quadratic one overprices most, out-of-the-money puts at one year);
    // the lattice itself is within about 0.01. Dropping the early-exercise
    // premium would miss the band in the cases marked `premium`.
    struct Row {
        Option o;
        bool premium;  // American - European exceeds the band
    };
    const Row rows[] = {
        {{PutOption, 90, 100, 1.0, 0.2, 0.10, 0.00}, true},   {{PutOption, 100, 100, 0.5, 0.3, 0.08, 0.00}, false},
        {{PutOption, 110, 100, 1.0, 0.2, 0.05, 0.00}, false}, {{PutOption, 80, 100, 0.25, 0.2, 0.08, 0.12}, false},
        {{CallOption, 120, 100, 1.0, 0.2, 0.05, 0.12}, true}, {{CallOption, 100, 100, 0.5, 0.4, 0.03, 0.07}, false},
        {{CallOption, 90, 100, 0.1, 0.2, 0.08, 0.12}, false}, {{CallOption, 110, 100, 1.0, 0.3, 0.10, 0.05}, false},
        {{PutOption, 80, 100, 1.0, 0.3, 0.12, 0.02}, true},
    };
    for (const Model& m : kModels) {
        for (const Row& row : rows) {
            const Option& o = row.o;
            SCOPED_TRACE(testing::Message() << m.name << " type " << o.type << " S " << o.S << " T " << o.T);
            const double lattice = Lattice(o);
            const double band = 0.03 * lattice + 0.05;
            const double american = Value(m, o);
            EXPECT_GE(american, European(o) - 1e-12);
            EXPECT_NEAR(american, lattice, band);
            if (row.premium) {
                EXPECT_GT(lattice - European(o), band);
            }
        }
    }
}

TEST(AmericanApprox, CallWithoutCarryAdvantageIsEuropean) {
    // q <= 0 means b >= r: a call is never exercised early, exactly European,
    // while the put with the same inputs still earns a premium.
    for (const Model& m : kModels) {
        for (const double q : {0.0, -0.03}) {
            SCOPED_TRACE(testing::Message() << m.name << " q " << q);
            const Option call{CallOption, 95, 100, 0.75, 0.25, 0.06, q};
            EXPECT_DOUBLE_EQ(Value(m, call), European(call));
            const Option put{PutOption, 95, 100, 0.75, 0.25, 0.06, q};
            EXPECT_GT(Value(m, put), European(put) + 0.05);
        }
    }
}

TEST(AmericanApprox, CallWithoutCarryAdvantageHasEuropeanGreeks) {
    // Every bumped point re-evaluates the European value with fresh d1/d2, so
    // the re-priced Greeks are the closed-form ones.
    const Option o{CallOption, 105, 100, 0.5, 0.3, 0.05, 0.0};
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, o.S, o.X, o.r, o.q, o.T, o.T, o.s);
    for (const Model& m : kModels) {
        SCOPED_TRACE(m.name);
        const auto near = [](double frame, double closedForm) {
            EXPECT_NEAR(frame, closedForm, 1e-3 * std::fabs(closedForm));
        };
        near(Entry(m, Delta, o), GbsDelta(o.type, o.S, o.X, o.T, o.T, o.s, o.r, o.q, d1));
        near(Entry(m, Gamma, o), GbsGamma(o.type, o.S, o.X, o.T, o.T, o.s, o.r, o.q, d1, BSGen));
        near(Entry(m, Vega, o), GbsVega(o.type, o.S, o.X, o.T, o.T, o.s, o.r, o.q, d1, BSGen));
        near(Entry(m, Theta, o), GbsTheta(o.type, o.S, o.X, o.T, o.T, o.s, o.r, o.q, d1, d2, BSGen));
    }
}

TEST(AmericanApprox, FlatBoundaryGuardWithoutYieldGivesZeroPut) {
    // The put's transformed problem has rate q = 0; at r = 100 % and s = 10 %
    // its trigger exponent reaches 160 (>= 100), so the guard fires, and a
    // problem whose rate is not positive falls back to 0, not to a European
    // value.
    EXPECT_EQ(BjsValue(PutOption, 90, 100, 1, 0.1, 1.0, 0.0, 0, 0, 0), 0);
    // With a positive yield the same guard falls back to the European put.
    const Option put{PutOption, 90, 100, 1, 0.1, 1.0, 0.001};
    EXPECT_DOUBLE_EQ(BjsValue(put.type, put.S, put.X, put.T, put.s, put.r, put.q, 0, 0, 0), European(put));
}

TEST(AmericanApprox, StraddleIsCallPlusPut) {
    for (const Model& m : kModels) {
        const Option straddle{Straddle, 97, 100, 0.6, 0.3, 0.07, 0.03};
        Option call = straddle, put = straddle;
        call.type = CallOption;
        put.type = PutOption;
        EXPECT_DOUBLE_EQ(Value(m, straddle), Value(m, call) + Value(m, put)) << m.name;
        // Lambda: the sum of the legs' elasticities, not the straddle's own.
        EXPECT_NEAR(Entry(m, Lambda, straddle), Entry(m, Lambda, call) + Entry(m, Lambda, put), 1e-9) << m.name;
        const double summed = Entry(m, Delta, straddle) * straddle.S / Value(m, straddle);
        EXPECT_GT(std::fabs(Entry(m, Lambda, straddle) - summed), 0.1) << m.name;
    }
}

TEST(AmericanApprox, ExerciseRegionPaysIntrinsicValue) {
    // The quadratic approximation's critical price: beyond it the leg is worth
    // its exercise value; just inside it the formula meets that value
    // (value matching, which the critical-price search solves for).
    const double r = 0.08, q = 0.12, s = 0.2, T = 0.5, X = 100;
    const double callStar = BawCriticalPrice(CallOption, 1, X, T, r, r - q, s, 0);
    ASSERT_GT(callStar, X);
    EXPECT_EQ(BawLegValue(CallOption, 1, callStar * 1.01, X, T, s, r, q, 0), callStar * 1.01 - X);
    EXPECT_NEAR(BawLegValue(CallOption, 1, callStar * (1 - 1e-9), X, T, s, r, q, 0), callStar - X, 1e-4 * X);

    const double putStar = BawCriticalPrice(PutOption, -1, X, T, r, r - 0.0, s, 0);
    ASSERT_GT(putStar, 0);
    ASSERT_LT(putStar, X);
    EXPECT_EQ(BawLegValue(PutOption, -1, putStar * 0.99, X, T, s, r, 0.0, 0), X - putStar * 0.99);
    EXPECT_NEAR(BawLegValue(PutOption, -1, putStar * (1 + 1e-9), X, T, s, r, 0.0, 0), X - putStar, 1e-4 * X);

    // Flat boundary: deep in the money both models exercise at once.
    for (const Model& m : kModels) {
        EXPECT_EQ(Value(m, {CallOption, 200, 100, 0.5, 0.2, 0.08, 0.12}), 100) << m.name;
        EXPECT_EQ(Value(m, {PutOption, 20, 100, 0.5, 0.2, 0.08, 0.0}), 80) << m.name;
    }
}

TEST(AmericanApprox, AbandonedCriticalPriceKeepsTheEuropeanCall) {
    // A carry so negative that the seed of the critical-price search is
    // unusable (hh > 20): the search is abandoned with 0, and an
    // out-of-the-money call keeps its European value instead of S - X < 0.
    const double r = 0.05, q = 2.05, s = 0.1, T = 1;
    EXPECT_EQ(BawCriticalPrice(CallOption, 1, 100, T, r, r - q, s, 0), 0);
    const Option call{CallOption, 90, 100, T, s, r, q};
    EXPECT_DOUBLE_EQ(Value(kModels[0], call), European(call));
    EXPECT_GE(Value(kModels[0], call), 0);
}

TEST(AmericanApprox, SensitivitiesMatchOwnFiniteDifferences) {
    // Steps 100 times the frame's: a different rule on the same value.
    const Option options[] = {
        {PutOption, 95, 100, 0.5, 0.25, 0.08, 0.01},
        {CallOption, 100, 95, 0.75, 0.3, 0.04, 0.09},
        {Straddle, 100, 100, 1.0, 0.2, 0.06, 0.03},
    };
    for (const Model& m : kModels) {
        for (const Option& o : options) {
            SCOPED_TRACE(testing::Message() << m.name << " type " << o.type);
            const double d = 1e-3;
            // The critical-price search converges to 1e-6 relative, so
            // rate derivatives carry a little noise of their own.
            const auto near = [](double frame, double own) {
                EXPECT_NEAR(frame, own, 2e-4 * std::fabs(own) + 1e-5);
            };
            Option up = o, down = o;
            up.S += d;
            down.S -= d;
            const double delta = (Value(m, up) - Value(m, down)) / (2 * d);
            EXPECT_NEAR(Entry(m, Delta, o), delta, 1e-4);
            const double g = 0.5;
            up = o, down = o;
            up.S += g;
            down.S -= g;
            const double gamma = (Value(m, up) - 2 * Value(m, o) + Value(m, down)) / (g * g);
            EXPECT_NEAR(Entry(m, Gamma, o), gamma, 2e-3 * std::fabs(gamma) + 1e-5);
            up = o, down = o;
            up.s += d;
            down.s -= d;
            near(Entry(m, Vega, o), (Value(m, up) - Value(m, down)) / (2 * d) * 0.01);
            // Theta: one calendar day less to expiry, per day.
            Option tomorrow = o;
            tomorrow.T -= 1.0 / 365;
            const double theta = Entry(m, Theta, o);
            EXPECT_NEAR(theta, Value(m, tomorrow) - Value(m, o), 2e-4);
            if (o.type != Straddle) {
                EXPECT_LT(theta, 0);
            }
            up = o, down = o;
            up.r += d;
            down.r -= d;
            near(Entry(m, Rho, o), (Value(m, up) - Value(m, down)) / (2 * d) * 0.01);
            up = o, down = o;
            up.q += d;
            down.q -= d;
            near(Entry(m, Psi, o), (Value(m, up) - Value(m, down)) / (2 * d) * 0.01);
            up = o, down = o;
            up.X += d;
            down.X -= d;
            EXPECT_NEAR(Entry(m, StrikeSensitivity, o), (Value(m, up) - Value(m, down)) / (2 * d), 1e-4);
        }
    }
}

TEST(AmericanApprox, RhoAndPsiMembersMatchTheEntry) {
    const Option o{PutOption, 96, 100, 0.5, 0.3, 0.07, 0.02};
    // Prepared slots as with an escrowed dividend: distinct asset prices at r -+ h.
    const double down = 95.9, up = 96.1;
    std::int32_t code = 0;
    EXPECT_EQ(BawRho(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH, down, up, o.q, o.q),
              QuadraticApproximation(o.type, Rho, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, 0, kG, kH, down, up, o.q,
                                     o.q, o.q, code));
    EXPECT_EQ(BjsRho(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH, down, up, o.q, o.q),
              BjerksundStenslandApproximation(o.type, Rho, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, 0, kG, kH, down,
                                              up, o.q, o.q, o.q, code));
    EXPECT_EQ(BawPsi(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH), Entry(kModels[0], Psi, o));
    EXPECT_EQ(BjsPsi(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH), Entry(kModels[1], Psi, o));
    // The asset slots matter: the dividends' rate sensitivity enters Rho.
    EXPECT_NEAR(BawRho(o.type, o.S, o.X, o.T, o.s, o.r, o.q, 0, 0, 0, kH, down, up, o.q, o.q),
                Entry(kModels[0], Rho, o) + Entry(kModels[0], Delta, o) * (up - down) / (2 * kH) * 0.01, 1e-4);
}

TEST(AmericanApprox, ForwardDifferencesAtTinyAssetPrices) {
    for (const Model& m : kModels) {
        const Option o{PutOption, 5e-6, 100, 0.5, 0.2, 0.05, 0.0};
        Option up = o;
        up.S += kH;
        EXPECT_EQ(Entry(m, Delta, o), (Value(m, up) - Value(m, o)) / kH) << m.name;
        // At S = 0 the put is worth its strike and a call nothing.
        EXPECT_NEAR(Value(m, {PutOption, 0, 100, 0.5, 0.2, 0.05, 0.0}), 100, 1e-12) << m.name;
        EXPECT_NEAR(Value(m, {CallOption, 0, 100, 0.5, 0.2, 0.05, 0.02}), 0, 1e-12) << m.name;
    }
}

TEST(AmericanApprox, ImpliedValuesRecoverTheirInputs) {
    const Option options[] = {
        {PutOption, 95, 100, 0.5, 0.25, 0.08, 0.01},
        {CallOption, 100, 95, 0.75, 0.3, 0.04, 0.09},
        {CallOption, 90, 100, 1.0, 0.45, 0.05, 0.0},
    };
    for (const Model& m : kModels) {
        for (const Option& o : options) {
            SCOPED_TRACE(testing::Message() << m.name << " type " << o.type << " X " << o.X);
            const double price = Value(m, o);
            Option guess = o;
            guess.s = 0.01;
            EXPECT_NEAR(Entry(m, ImpliedVol, guess, price), o.s, 1e-5);
            guess = o;
            guess.X = 50;
            EXPECT_NEAR(Entry(m, ImpliedStrike, guess, price), o.X, 1e-3);
        }
        EXPECT_EQ(Entry(m, ImpliedVol, options[0], 0), 0);
        // Below the exercise value no volatility reproduces the price.
        EXPECT_EQ(Entry(m, ImpliedVol, {PutOption, 80, 100, 0.5, 0.25, 0.08, 0.0}, 15), 0);
    }
}

TEST(AmericanApprox, IntrinsicAndTimeValue) {
    for (const Model& m : kModels) {
        const Option o{PutOption, 90, 100, 0.5, 0.25, 0.08, 0.0};
        EXPECT_EQ(Entry(m, IntrinsicValue, o), 10);
        EXPECT_DOUBLE_EQ(Entry(m, Time_Value, o), Value(m, o) - 10);
        EXPECT_GE(Entry(m, Time_Value, o), 0);
        // With escrowed dividends the exercise value uses the asset before them.
        std::int32_t code = 0;
        EXPECT_EQ(m.entry(CallOption, IntrinsicValue, 98, 100, 0.5, 0.25, 0.08, 0, 0, 0, 0, 4, kG, kH, 98, 98, 0, 0,
                          0, code),
                  2);
    }
}

TEST(AmericanApprox, InvalidOptionFunctionFails) {
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
}

TEST(AmericanApprox, PowerFailureEndsTheCall) {
    // Far above the critical price of a low-volatility put the premium's power
    // underflows; the checked power function ends the call with "EInvalidOp".
    try {
        BawValue(PutOption, 1e6, 100, 1, 0.05, 0.1, 0, 0, 0, 0);
        ADD_FAILURE() << "no failure";
    } catch (const PricingFailure& failure) {
        EXPECT_STREQ(failure.what(), kInvalidOpMessage);
    }
}

}  // namespace
}  // namespace kestrix
