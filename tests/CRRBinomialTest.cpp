#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "lattice/CRRBinomial.h"

namespace kestrix {
namespace {

constexpr double kBump = 1e-5;

// A request before the launcher's dividend step: raw asset price, one cash
// dividend D at t1 (none when D = 0).
struct Market {
    double S = 100, X = 100, T = 1, sigma = 0.3, r = 0.06, q = 0.02;
    double D = 0, t1 = 0;
};

// Inputs after the launcher's dividend step, for one style and function.
struct Prepared {
    double S, q, pv, D, t1, f;
    std::int32_t count;
    double Sdown, Sup, qDown, qUp;
};

Prepared Prepare(const Market& m, std::int32_t style, std::int32_t function) {
    Prepared p{m.S, m.q, 0, 0, m.t1, 1.0, 1, m.S, m.S, m.q, m.q};
    if (!(m.D > 0 && m.t1 > 0 && m.t1 <= m.T)) return p;
    const auto pvAt = [&](double rate) { return m.D * std::exp(-rate * m.t1); };
    const double h = function == Rho ? kBump : 0.0;
    const double pv = pvAt(m.r), pvDown = pvAt(m.r - h), pvUp = pvAt(m.r + h);
    p.D = m.D;
    if (style == DiscreteCashFlowBin || style == DiscreteControlVar) {
        p = Prepared{m.S - pv, m.q, pv, m.D, m.t1, 1.0, 1, m.S - pvDown, m.S - pvUp, m.q, m.q};
    } else {
        const auto yieldOf = [&](double pvx) { return m.q - std::log((m.S - pvx) / m.S) / m.T; };
        p = Prepared{m.S, yieldOf(pv), 0, m.D, m.t1, 1.0, 0, m.S, m.S, yieldOf(pvDown), yieldOf(pvUp)};
    }
    return p;
}

double Price(std::int32_t exercise, std::int32_t type, std::int32_t function, std::int32_t n, const Market& m,
             std::int32_t style = DiscreteCashFlowBin, double marketPrice = 0) {
    const Prepared p = Prepare(m, style, function);
    return CrrBinomial(exercise, type, function, n, p.S, m.X, m.T, m.sigma, m.r, p.q, p.D, p.t1, p.f, p.count, p.pv,
                       marketPrice, style, kBump, p.Sdown, p.Sup, p.qDown, p.qUp, ErrorCode);
}

double ClosedForm(std::int32_t type, std::int32_t function, const Market& m) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, m.S, m.X, m.r, m.q, m.T, m.T, m.sigma);
    return GeneralizedBlackScholes(BSGen, European, type, function, m.S, m.X, m.T, m.T, m.sigma, m.r, m.q, 0, 0, d1,
                                   d2, ErrorCode);
}

TEST(CrrBinomial, RejectsUnknownFunctions) {
    for (std::int32_t function : {0, 14}) {
        ErrorCode = 0;
        try {
            Price(American, PutOption, function, 50, Market{});
            FAIL() << "function " << function << " was accepted";
        } catch (const PricingFailure& failure) {
            EXPECT_EQ(std::string(failure.what()), "The OptionFunction is invalid.");
            EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
        }
    }
    ErrorCode = 0;
}

// The CRR error at the money decays like 1/n (about 2.9/n here).
TEST(CrrLattice, EuropeanConvergesToClosedForm) {
    for (double X : {80.0, 100.0, 125.0}) {
        Market m;
        m.X = X;
        for (std::int32_t type : {CallOption, PutOption}) {
            const double reference = ClosedForm(type, Theoretical, m);
            for (std::int32_t n : {25, 50, 100, 200, 400, 500}) {
                const double error = Price(European, type, Theoretical, n, m) - reference;
                EXPECT_LT(std::fabs(error) * n, 6.0) << "X " << X << " type " << type << " n " << n;
            }
            EXPECT_NEAR(Price(European, type, Theoretical, 500, m), reference, 0.012);
        }
    }
}

TEST(CrrLattice, TreeGreeksApproachClosedForm) {
    Market m;
    for (std::int32_t type : {CallOption, PutOption, Straddle}) {
        for (std::int32_t function : {Delta, Gamma, Theta, Lambda}) {
            const double reference = ClosedForm(type, function, m);
            if (type == Straddle && function == Lambda) continue;  // the tree takes the position's elasticity
            EXPECT_NEAR(Price(European, type, function, 500, m), reference, 2e-3 * std::fabs(reference) + 1e-6)
                << "type " << type << " function " << function;
        }
    }
    const double position = m.S * (ClosedForm(CallOption, Delta, m) + ClosedForm(PutOption, Delta, m)) /
                            (ClosedForm(CallOption, Theoretical, m) + ClosedForm(PutOption, Theoretical, m));
    EXPECT_NEAR(Price(European, Straddle, Lambda, 500, m), position, 5e-3 * std::fabs(position));
}

TEST(CrrLattice, AmericanExerciseIdentities) {
    Market m;
    m.q = 0;
    // Without a yield or dividends an American call is never exercised early.
    for (std::int32_t function : {Theoretical, Delta, Gamma, Theta}) {
        EXPECT_NEAR(Price(American, CallOption, function, 200, m), Price(European, CallOption, function, 200, m),
                    1e-12);
    }
    m.q = 0.02;
    m.X = 130;
    const double put = Price(American, PutOption, Theoretical, 200, m);
    EXPECT_GT(put, Price(European, PutOption, Theoretical, 200, m));
    EXPECT_GE(put, m.X - m.S);
    // Each leg of a straddle takes its own exercise decision.
    for (std::int32_t function : {Theoretical, Delta, Gamma, Theta}) {
        EXPECT_NEAR(Price(American, Straddle, function, 200, m),
                    Price(American, CallOption, function, 200, m) + Price(American, PutOption, function, 200, m),
                    1e-12);
    }
    const double Vc = Price(American, CallOption, Theoretical, 200, m);
    const double Vp = put;
    const double Dc = Price(American, CallOption, Delta, 200, m);
    const double Dp = Price(American, PutOption, Delta, 200, m);
    EXPECT_NEAR(Price(American, Straddle, Lambda, 200, m), m.S * (Dc + Dp) / (Vc + Vp), 1e-12);
    EXPECT_NEAR(Price(American, PutOption, Lambda, 200, m), Dp * m.S / Vp, 1e-12);
    EXPECT_NEAR(Price(American, PutOption, Time_Value, 200, m), put - (m.X - m.S), 1e-12);
    EXPECT_EQ(Price(American, Straddle, IntrinsicValue, 200, m), 30.0);
}

TEST(CrrLattice, WorthlessOptionHasZeroLambda) {
    Market m;
    m.S = 50;
    m.X = 200;
    m.T = 0.01;
    m.sigma = 0.2;
    EXPECT_EQ(Price(American, CallOption, Theoretical, 20, m), 0.0);
    EXPECT_EQ(Price(American, CallOption, Lambda, 20, m), 0.0);
    // A straddle whose call leg is worthless has the put's elasticity.
    EXPECT_EQ(Price(American, Straddle, Lambda, 20, m), Price(American, PutOption, Lambda, 20, m));
    EXPECT_LT(Price(American, PutOption, Lambda, 20, m), 0.0);
}

// Escrowed dividends: the European tree prices the closed form on S - PV;
// early exercise captures the dividend.
TEST(CrrLattice, CashDividends) {
    Market m;
    m.X = 90;
    m.q = 0;
    m.D = 5;
    m.t1 = 0.9;
    const Prepared p = Prepare(m, DiscreteCashFlowBin, Theoretical);
    Market escrowed = m;
    escrowed.S = p.S;
    EXPECT_NEAR(Price(European, CallOption, Theoretical, 500, m), ClosedForm(CallOption, Theoretical, escrowed),
                0.01);
    const double american = Price(American, CallOption, Theoretical, 500, m);
    EXPECT_GT(american, Price(European, CallOption, Theoretical, 500, m) + 0.1);
    // The intrinsic value and Lambda's elasticity use the undivided price.
    EXPECT_EQ(Price(American, CallOption, IntrinsicValue, 500, m), m.S - m.X);
    EXPECT_NEAR(Price(American, CallOption, Lambda, 500, m),
                Price(American, CallOption, Delta, 500, m) * m.S / american, 1e-12);
}

TEST(CrrLattice, DividendDatedAtExpiryRaisesTheStrike) {
    const double S = 95, X = 100, T = 0.5, sigma = 0.25, r = 0.05, q = 0, D = 3;
    for (std::int32_t type : {CallOption, PutOption}) {
        const double raised = CrrLattice(European, type, Theoretical, 100, S, X, T, sigma, r, q, D, T, 1.0, 1, 0);
        const double plain = CrrLattice(European, type, Theoretical, 100, S, X + D, T, sigma, r, q, 0, 0, 0, 1, 0);
        EXPECT_EQ(raised, plain);
        const double early = CrrLattice(European, type, Theoretical, 100, S, X, T, sigma, r, q, D, T - 1e-9, 1.0, 1, 0);
        EXPECT_EQ(early, CrrLattice(European, type, Theoretical, 100, S, X, T, sigma, r, q, 0, 0, 0, 1, 0));
    }
}

TEST(LatticeDividends, ScheduleAndExpiryRule) {
    const double r = 0.05;
    // Dates 0.25, 0.5, 0.75, 1.0; at t = 0.5 the one paid at 0.5 is still to come.
    EXPECT_NEAR(NodeDividendPV(0.5, r, 2, 0.25, 0.25, 4), 2 * (1 + std::exp(-r * 0.25) + std::exp(-r * 0.5)), 1e-15);
    EXPECT_NEAR(NodeDividendPV(-0.1, r, 2, 0.25, 0.25, 4),
                2 * (std::exp(-r * 0.35) + std::exp(-r * 0.6) + std::exp(-r * 0.85) + std::exp(-r * 1.1)), 1e-15);
    EXPECT_EQ(NodeDividendPV(1.01, r, 2, 0.25, 0.25, 4), 0.0);
    EXPECT_EQ(NodeDividendPV(0.001 + 5e-18, r, 1, 0.001, 0.5, 1), std::exp(-r * (0.001 - (0.001 + 5e-18))));
    EXPECT_EQ(NodeDividendPV(0.001 + 5e-17, r, 1, 0.001, 0.5, 1), 0.0);

    EXPECT_EQ(ExpiryDividend(2, 0.25, 0.25, 4, 1.0), 2.0);
    EXPECT_EQ(ExpiryDividend(2, 0.25, 0.25, 4, 1.0000001), 0.0);
    EXPECT_EQ(ExpiryDividend(2, 0.25, 0.25, 3, 1.0), 0.0);
    EXPECT_EQ(ExpiryDividend(2, 1.25, 0.25, 0, 1.0), 2.0);  // no schedule: t1 - f is compared
}

TEST(CrrBinomial, StylesAgreeWithoutDividends) {
    Market m;
    for (std::int32_t function : {Theoretical, Delta, Gamma, Theta, Vega, Rho, Psi, Lambda, StrikeSensitivity}) {
        EXPECT_EQ(Price(American, PutOption, function, 60, m, DiscreteCashFlowBin),
                  Price(American, PutOption, function, 60, m, ContinuousYieldBin));
        EXPECT_EQ(Price(American, Straddle, function, 60, m, DiscreteControlVar),
                  Price(American, Straddle, function, 60, m, ContinuousControlVar));
    }
}

TEST(CrrControlVariate, RemovesTheEuropeanTreeError) {
    Market m;
    m.X = 110;
    for (std::int32_t type : {CallOption, PutOption, Straddle}) {
        for (std::int32_t function : {Theoretical, Delta, Gamma, Theta}) {
            const double expected = Price(American, type, function, 150, m) + ClosedForm(type, function, m) -
                                    Price(European, type, function, 150, m);
            EXPECT_NEAR(Price(American, type, function, 150, m, DiscreteControlVar), expected, 1e-12)
                << "type " << type << " function " << function;
            // A European request still gets the American estimate.
            EXPECT_EQ(Price(European, type, function, 150, m, DiscreteControlVar),
                      Price(American, type, function, 150, m, DiscreteControlVar));
        }
        EXPECT_NEAR(Price(American, type, Time_Value, 150, m, ContinuousControlVar),
                    Price(American, type, Theoretical, 150, m, ContinuousControlVar) -
                        Price(American, type, IntrinsicValue, 150, m, ContinuousControlVar),
                    1e-12);
    }
    // The control-variate Lambda adds the legs' elasticities.
    const double lambda = Price(American, Straddle, Lambda, 150, m, DiscreteControlVar);
    EXPECT_NEAR(lambda,
                Price(American, CallOption, Lambda, 150, m, DiscreteControlVar) +
                    Price(American, PutOption, Lambda, 150, m, DiscreteControlVar),
                1e-9);
}

// Vega, Rho, Psi per percentage point and the unscaled strike sensitivity,
// against central differences of the tree value in each input.
TEST(CrrBumpedSensitivity, MatchFiniteDifferencesOfTheValue) {
    const double delta = 1e-4;
    Market m;
    m.X = 105;
    const auto value = [&](const Market& x, std::int32_t type) { return Price(American, type, Theoretical, 100, x); };
    for (std::int32_t type : {CallOption, PutOption, Straddle}) {
        Market lo = m, hi = m;
        lo.sigma -= delta;
        hi.sigma += delta;
        EXPECT_NEAR(Price(American, type, Vega, 100, m), (value(hi, type) - value(lo, type)) / (2 * delta) * 0.01, 2e-4);
        lo = hi = m;
        lo.r -= delta;
        hi.r += delta;
        EXPECT_NEAR(Price(American, type, Rho, 100, m), (value(hi, type) - value(lo, type)) / (2 * delta) * 0.01, 2e-4);
        lo = hi = m;
        lo.q -= delta;
        hi.q += delta;
        EXPECT_NEAR(Price(American, type, Psi, 100, m), (value(hi, type) - value(lo, type)) / (2 * delta) * 0.01, 2e-4);
        lo = hi = m;
        lo.X -= delta;
        hi.X += delta;
        EXPECT_NEAR(Price(American, type, StrikeSensitivity, 100, m), (value(hi, type) - value(lo, type)) / (2 * delta),
                    2e-4);
    }
    EXPECT_GT(Price(American, CallOption, Vega, 100, m), 0.3);  // about 0.39 per volatility point
    EXPECT_GT(Price(American, CallOption, Rho, 100, m), 0);
    EXPECT_LT(Price(American, CallOption, Psi, 100, m), 0);
    EXPECT_LT(Price(American, CallOption, StrikeSensitivity, 100, m), 0);
    EXPECT_LT(Price(American, PutOption, Rho, 100, m), 0);
    EXPECT_GT(Price(American, PutOption, Psi, 100, m), 0);
    // European trees approach the closed forms, oscillating with n: Vega,
    // Rho and the strike sensitivity follow the tree's exercise probability,
    // which moves in steps of one node's weight (a few per cent at 500 steps).
    for (std::int32_t function : {Vega, Rho, Psi, StrikeSensitivity}) {
        const double reference = ClosedForm(CallOption, function, m);
        const double tolerance = function == Psi ? 2e-3 : function == Vega ? 1e-2 : 4e-2;
        EXPECT_NEAR(Price(European, CallOption, function, 500, m), reference, tolerance * std::fabs(reference))
            << "function " << function;
    }
}

// With dividends the launcher hands over rate-bumped asset prices (discrete
// styles) or yields (continuous styles); Rho must follow the whole chain.
TEST(CrrBumpedSensitivity, RhoWithDividendsFollowsThePreparedInputs) {
    const double delta = 1e-4;
    Market m;
    m.D = 4;
    m.t1 = 0.4;
    for (std::int32_t style : {DiscreteCashFlowBin, ContinuousYieldBin}) {
        Market lo = m, hi = m;
        lo.r -= delta;
        hi.r += delta;
        const double fd = (Price(American, CallOption, Theoretical, 100, hi, style) -
                           Price(American, CallOption, Theoretical, 100, lo, style)) /
                          (2 * delta) * 0.01;
        EXPECT_NEAR(Price(American, CallOption, Rho, 100, m, style), fd, 2e-4) << "style " << style;
    }
}

TEST(CrrControlVariateBumpedSensitivity, IsTheAmericanLessTheEuropeanDifference) {
    Market m;
    m.X = 110;
    m.D = 2;
    m.t1 = 0.3;
    for (std::int32_t function : {Vega, Rho, Psi, StrikeSensitivity}) {
        const Prepared p = Prepare(m, DiscreteControlVar, function);
        double d1 = 0, d2 = 0;
        ComputeD1D2(BSGen, d1, d2, p.S, m.X, m.r, m.q, m.T, m.T, m.sigma);
        const double reference = GeneralizedBlackScholes(BSGen, European, PutOption, function, p.S, m.X, m.T, m.T,
                                                         m.sigma, m.r, m.q, p.pv, 0, d1, d2, ErrorCode);
        const double expected = Price(American, PutOption, function, 120, m) -
                                Price(European, PutOption, function, 120, m) + reference;
        EXPECT_NEAR(Price(American, PutOption, function, 120, m, DiscreteControlVar), expected, 1e-12)
            << "function " << function;
    }
}

// With the yield equal to the rate (an option on a futures price) the carry
// does not depend on the rate, so the rate sensitivity is discounting alone:
// dV/dr = -T V for a European option.
TEST(CrrFuturesRho, IsTheDiscountingSensitivity) {
    const double S = 6, X = 5.5, T = 0.75, sigma = 0.2, r = 0.05;
    for (std::int32_t type : {CallOption, PutOption, Straddle}) {
        const double value = CrrLattice(European, type, Theoretical, 200, S, X, T, sigma, r, r, 0, 0, 0, 1, 0);
        for (std::int32_t function : {Rho, Psi}) {
            const double rho =
                CrrFuturesRho(European, type, function, 200, S, X, T, sigma, r, r, 0, 0, 0, 1, kBump, S, S, r, r);
            EXPECT_NEAR(rho, -0.01 * T * value, 1e-6 * value);
        }
    }
}

TEST(CrrLattice, DegenerateTreeAndMagnitudeGuard) {
    Market m;
    m.T = 1;
    // sigma sqrt(dt) = 120 / sqrt(5) ~ 53.7: u = 0.9999999, d = 1e-17, p = 0,
    // so every path falls to a price of about 0.
    m.sigma = 120;
    EXPECT_NEAR(Price(European, PutOption, Theoretical, 5, m), m.X * std::exp(-m.r * m.T), 1e-9);
    EXPECT_NEAR(Price(American, PutOption, Theoretical, 5, m), m.X, 1e-9);
    // sigma sqrt(dt) ~ 22.4 is a normal tree; the call's continuations pass 1e20.
    m.sigma = 50;
    ErrorCode = 0;
    for (std::int32_t function : {Theoretical, Delta, Gamma, Theta, Vega, Rho, Psi, Lambda, StrikeSensitivity,
                                  Time_Value}) {
        EXPECT_EQ(Price(American, CallOption, function, 5, m), 0.0) << "function " << function;
        EXPECT_EQ(Price(American, Straddle, function, 5, m, DiscreteControlVar), 0.0) << "function " << function;
    }
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_GT(Price(American, PutOption, Theoretical, 5, m), 0.0);
}

TEST(CrrLattice, StepCountsBeyondTheArraysGiveZero) {
    Market m;
    for (std::int32_t n : {-3, 0, 1, 503, 100000}) {
        EXPECT_EQ(Price(American, PutOption, Theoretical, n, m), 0.0);
        EXPECT_EQ(Price(American, PutOption, Vega, n, m), 0.0);
        EXPECT_EQ(Price(American, PutOption, Delta, n, m, DiscreteControlVar), 0.0);
    }
    EXPECT_GT(Price(American, PutOption, Theoretical, 502, m), 0.0);
}

// The implied searches recover the inputs of the lattice's own prices.
TEST(CrrImplied, RecoverTheVolatilityAndStrikeUsed) {
    Market m;
    m.D = 1.5;
    m.t1 = 0.5;
    for (std::int32_t style : {DiscreteCashFlowBin, ContinuousYieldBin, DiscreteControlVar}) {
        for (std::int32_t type : {CallOption, PutOption, Straddle}) {
            for (double X : {90.0, 100.0, 115.0}) {
                for (std::int32_t n : {30, 120}) {
                    m.X = X;
                    const double price = Price(American, type, Theoretical, n, m, style);
                    EXPECT_NEAR(Price(American, type, ImpliedVol, n, m, style, price), m.sigma, 1e-5)
                        << "style " << style << " type " << type << " X " << X << " n " << n;
                    if (type == Straddle) continue;  // two strikes give the same straddle price
                    EXPECT_NEAR(Price(American, type, ImpliedStrike, n, m, style, price), X, 1e-4)
                        << "style " << style << " type " << type << " X " << X << " n " << n;
                }
            }
        }
    }
}

// A search must not stop on the coarse tree when the full tree is larger,
// even if its first coarse evaluation is already within tolerance.
TEST(CrrImplied, EndsOnTheFullTree) {
    Market m;
    m.X = 105;
    const double price = Price(European, CallOption, Theoretical, 200, m);
    const double strike = Price(European, CallOption, ImpliedStrike, 200, m, DiscreteCashFlowBin, price);
    Market found = m;
    found.X = strike;
    EXPECT_NEAR(Price(European, CallOption, Theoretical, 200, found), price, 1e-6);
    const double vol = Price(European, CallOption, ImpliedVol, 200, m, DiscreteCashFlowBin, price);
    found = m;
    found.sigma = vol;
    EXPECT_NEAR(Price(European, CallOption, Theoretical, 200, found), price, 1e-6);
    // The 50-step tree prices these inputs visibly differently.
    EXPECT_GT(std::fabs(Price(European, CallOption, Theoretical, 50, m) - price), 1e-3);
}

TEST(CrrImplied, ReturnZeroWithoutASolution) {
    Market m;
    EXPECT_EQ(Price(American, PutOption, ImpliedVol, 100, m, DiscreteCashFlowBin, 0), 0.0);
    EXPECT_EQ(Price(American, PutOption, ImpliedStrike, 100, m, DiscreteCashFlowBin, -1), 0.0);
    // Below the exercise value no volatility fits.
    m.X = 150;
    EXPECT_EQ(Price(American, PutOption, ImpliedVol, 100, m, DiscreteCashFlowBin, 40), 0.0);
    // A seed of about 117 lies outside (0, 100).
    Market seed;
    seed.S = 1000;
    seed.X = 1;
    seed.T = 0.001;
    EXPECT_EQ(Price(American, CallOption, ImpliedVol, 100, seed, DiscreteCashFlowBin, 999.5), 0.0);
}

}  // namespace
}  // namespace kestrix
