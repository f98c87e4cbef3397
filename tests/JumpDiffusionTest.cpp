// Merton jump-diffusion against a Poisson mixture summed here independently
// (its own normal distribution from erfc, weights by recursion, as many terms
// as the caller asks for), against the closed-form Black-Scholes limit, and
// through the entry's frame functions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "approx/JumpDiffusion.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

namespace kestrix {
namespace {

constexpr double kH = 1e-5;
constexpr double kG = 0.01;

double Phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
double Density(double x) { return std::exp(-x * x / 2) / std::sqrt(2 * M_PI); }

struct Jumps {
    std::int32_t type;
    double S, X, T, s, r, q, lambda, gamma;
};

// Black-Scholes with carry and its vega (per unit of volatility).
double Bs(std::int32_t type, double S, double X, double T, double vol, double r, double q) {
    const double d1 = (std::log(S / X) + (r - q + vol * vol / 2) * T) / (vol * std::sqrt(T));
    const double d2 = d1 - vol * std::sqrt(T);
    const double call = S * std::exp(-q * T) * Phi(d1) - X * std::exp(-r * T) * Phi(d2);
    const double put = X * std::exp(-r * T) * Phi(-d2) - S * std::exp(-q * T) * Phi(-d1);
    return type == CallOption ? call : type == PutOption ? put : call + put;
}

// Volatility of the Black-Scholes term with n jumps: the jump variance
// s^2 gamma / lambda per jump spread over T, the rest diffusion.
double TermVol(const Jumps& c, int n) {
    return c.s * std::sqrt(1 - c.gamma + n * c.gamma / (c.lambda * c.T));
}

// Sum over n = 0 .. terms - 1 of P(N = n) * f(n), N ~ Poisson(lambda T).
template <typename F>
double Mixture(const Jumps& c, int terms, F f) {
    double weight = std::exp(-c.lambda * c.T);
    double sum = 0;
    for (int n = 0; n < terms; ++n) {
        if (n > 0) weight *= c.lambda * c.T / n;
        sum += weight * f(n);
    }
    return sum;
}

double Reference(const Jumps& c, int terms) {
    return Mixture(c, terms, [&](int n) { return Bs(c.type, c.S, c.X, c.T, TermVol(c, n), c.r, c.q); });
}

double Value(const Jumps& c) {
    return JumpDiffusionValue(c.type, c.S, c.X, c.T, c.s, c.r, c.q, 0, 0, 0, c.lambda, c.gamma);
}

double Entry(std::int32_t function, const Jumps& c, double marketPrice = 0) {
    std::int32_t code = 0;
    return MertonJumpDiffusion(c.type, function, c.S, c.X, c.T, c.s, c.r, c.q, marketPrice, 0, 0, 0, c.lambda,
                               c.gamma, kG, kH, c.S, c.S, c.q, c.q, c.q, code);
}

// lambda * T at most 5: the jumps beyond 15 weigh below 1e-4 of a term.
constexpr Jumps kCases[] = {
    {CallOption, 45, 55, 0.25, 0.25, 0.10, 0.00, 1, 0.25},  {PutOption, 45, 55, 0.25, 0.25, 0.10, 0.00, 1, 0.25},
    {CallOption, 100, 100, 1.0, 0.30, 0.05, 0.02, 5, 0.50}, {PutOption, 100, 90, 0.5, 0.20, 0.03, 0.01, 2, 0.75},
    {Straddle, 80, 85, 2.0, 0.40, 0.07, 0.04, 0.5, 0.10},   {CallOption, 10, 8, 0.1, 0.60, 0.02, 0.00, 3, 0.90},
};

// The normal approximation errs by up to 7.5e-8 per evaluation; weighted by
// S and X that allows a few 1e-5 on these prices.
double PriceTolerance(const Jumps& c) { return 2e-7 * (c.S + c.X); }

TEST(JumpDiffusion, MatchesIndependentPoissonMixture) {
    for (const Jumps& c : kCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S << " lambda " << c.lambda);
        const double exact = Reference(c, 60);
        EXPECT_NEAR(Value(c), exact, PriceTolerance(c) + 1e-4 * std::fabs(exact));
        EXPECT_NEAR(Value(c), Reference(c, 16), PriceTolerance(c));
        EXPECT_EQ(Entry(Theoretical, c), Value(c));
    }
}

TEST(JumpDiffusion, SeriesStopsAfterFifteenJumps) {
    // lambda T = 10: about 4.9 % of the probability lies above 15 jumps and is
    // dropped, not spread over the kept terms.
    const Jumps c{CallOption, 100, 100, 1.0, 0.30, 0.05, 0.0, 10, 0.5};
    const double kept = Reference(c, 16);
    const double full = Reference(c, 200);
    EXPECT_NEAR(Value(c), kept, PriceTolerance(c));
    EXPECT_GT(full - kept, 0.01 * full);
    const double keptMass = Mixture(c, 16, [](int) { return 1.0; });
    EXPECT_NEAR(keptMass, 0.9513, 1e-4);  // P(N <= 15) for Poisson(10)
}

TEST(JumpDiffusion, ParityCarriesTheKeptProbability) {
    // Every term obeys put-call parity, so call - put is the forward value
    // times the probability of at most 15 jumps; the straddle is the sum.
    for (double lambda : {0.3, 4.0, 12.0}) {
        for (double X : {70.0, 100.0, 140.0}) {
            const Jumps call{CallOption, 100, X, 1.5, 0.35, 0.06, 0.02, lambda, 0.4};
            Jumps put = call;
            put.type = PutOption;
            Jumps straddle = call;
            straddle.type = Straddle;
            const double forward = call.S * std::exp(-call.q * call.T) - X * std::exp(-call.r * call.T);
            const double kept = Mixture(call, 16, [](int) { return 1.0; });
            EXPECT_NEAR(Value(call) - Value(put), forward * kept, 1e-10 * call.S);
            EXPECT_DOUBLE_EQ(Value(straddle), Value(call) + Value(put));
        }
    }
}

TEST(JumpDiffusion, TinyJumpShareApproachesBlackScholes) {
    const Jumps base{CallOption, 100, 105, 0.5, 0.25, 0.05, 0.01, 1, 0.0};
    double d1 = 0, d2 = 0;
    ComputeD1D2(JumpDiff, d1, d2, base.S, base.X, base.r, base.q, base.T, base.T, base.s);
    const double blackScholes = GbsValue(European, CallOption, base.S, base.X, base.T, base.T, base.s, base.r, base.q,
                                         d1, d2, 0);
    double previousGap = INFINITY;
    for (double gamma : {0.3, 1e-2, 1e-4, 1e-6, 1e-9}) {
        Jumps c = base;
        c.gamma = gamma;
        const double gap = std::fabs(Value(c) - blackScholes);
        EXPECT_LT(gap, previousGap) << "gamma " << gamma;
        previousGap = gap;
    }
    EXPECT_LT(previousGap, 1e-8);
}

TEST(JumpDiffusion, FrameSensitivitiesMatchTermwiseGreeks) {
    // Delta of the mixture is the weighted sum of the terms' deltas; every
    // term volatility is proportional to s, so dV/ds sums vega_n * s_n / s.
    for (const Jumps& c : kCases) {
        if (c.type == Straddle) continue;
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S);
        const double phi = c.type == CallOption ? 1 : -1;
        const auto d1 = [&](int n) {
            const double vol = TermVol(c, n);
            return (std::log(c.S / c.X) + (c.r - c.q + vol * vol / 2) * c.T) / (vol * std::sqrt(c.T));
        };
        const double delta =
            Mixture(c, 16, [&](int n) { return phi * std::exp(-c.q * c.T) * Phi(phi * d1(n)); });
        const double vega = Mixture(c, 16, [&](int n) {
            return c.S * std::exp(-c.q * c.T) * Density(d1(n)) * std::sqrt(c.T) * TermVol(c, n) / c.s;
        });
        EXPECT_NEAR(Entry(Delta, c), delta, 1e-5);
        EXPECT_NEAR(Entry(Vega, c), vega * 0.01, 2e-6);
        // Theta moves the weights as well as the term volatilities; the
        // reference is differenced here with a step of its own.
        Jumps later = c, sooner = c;
        later.T += 1e-3;
        sooner.T -= 1e-3;
        const double theta = -(Reference(later, 16) - Reference(sooner, 16)) / 2e-3 / 365;
        EXPECT_NEAR(Entry(Theta, c), theta, 1e-7);
    }
}

TEST(JumpDiffusion, StraddleLambdaIsTheSumOfItsLegs) {
    Jumps straddle{Straddle, 95, 100, 0.75, 0.3, 0.04, 0.01, 2, 0.3};
    Jumps call = straddle;
    call.type = CallOption;
    Jumps put = straddle;
    put.type = PutOption;
    const double callLambda = Entry(Lambda, call);
    const double putLambda = Entry(Lambda, put);
    EXPECT_GT(callLambda, 0);
    EXPECT_LT(putLambda, 0);
    EXPECT_NEAR(Entry(Lambda, straddle), callLambda + putLambda, 1e-12);
    // The elasticity of the summed position would be something else entirely.
    const double positionLambda = Entry(Delta, straddle) * straddle.S / Entry(Theoretical, straddle);
    EXPECT_GT(std::fabs(Entry(Lambda, straddle) - positionLambda), 0.5);
}

TEST(JumpDiffusion, ImpliedSearchesRecoverTheirInputs) {
    for (const Jumps& c : kCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S << " X " << c.X);
        const double price = Value(c);
        EXPECT_NEAR(Entry(ImpliedVol, c, price), c.s, 1e-5);
        Jumps strikeUnknown = c;
        strikeUnknown.X = c.type == PutOption ? c.X * 1.1 : c.X * 0.9;  // only the seed may use it
        EXPECT_NEAR(Entry(ImpliedStrike, strikeUnknown, price), c.X, 1e-4 * c.X);
    }
}

TEST(JumpDiffusion, IntrinsicAndTimeValueUseTheUndividendedPrice) {
    std::int32_t code = 0;
    // S net of an escrowed dividend worth 3: intrinsic value on 97 + 3.
    const double intrinsic = MertonJumpDiffusion(CallOption, IntrinsicValue, 97, 90, 1, 0.3, 0.05, 0, 0, 0, 0, 3, 1,
                                                 0.2, kG, kH, 97, 97, 0, 0, 0, code);
    EXPECT_DOUBLE_EQ(intrinsic, 10);
    const double value = MertonJumpDiffusion(CallOption, Theoretical, 97, 90, 1, 0.3, 0.05, 0, 0, 0, 0, 3, 1, 0.2,
                                             kG, kH, 97, 97, 0, 0, 0, code);
    const double timeValue = MertonJumpDiffusion(CallOption, Time_Value, 97, 90, 1, 0.3, 0.05, 0, 0, 0, 0, 3, 1,
                                                 0.2, kG, kH, 97, 97, 0, 0, 0, code);
    EXPECT_DOUBLE_EQ(timeValue, value - 10);
}

TEST(JumpDiffusion, InvalidOptionFunctionFails) {
    const Jumps c = kCases[0];
    for (std::int32_t function : {0, 14, -3}) {
        std::int32_t code = 0;
        try {
            MertonJumpDiffusion(c.type, function, c.S, c.X, c.T, c.s, c.r, c.q, 0, 0, 0, 0, c.lambda, c.gamma, kG, kH,
                                c.S, c.S, c.q, c.q, c.q, code);
            ADD_FAILURE() << "function " << function << " was accepted";
        } catch (const PricingFailure& failure) {
            EXPECT_STREQ(failure.what(), "The OptionFunction is invalid.");
            EXPECT_EQ(code, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
        }
    }
}

}  // namespace
}  // namespace kestrix
