// Merton jump-diffusion against a Poisson mixture summed here independently:
// erfc-based normal distribution, weights by recursion, any number of terms.
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

double Phi(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

struct Jumps {
    std::int32_t type;
    double S, X, T, s, r, q, lambda, gamma;
    // With n jumps: the jump variance s^2 gamma / lambda per jump over T.
    double TermVol(int n) const { return s * std::sqrt(1 - gamma + n * gamma / (lambda * T)); }
    double D1(int n) const {
        return (std::log(S / X) + (r - q + TermVol(n) * TermVol(n) / 2) * T) / (TermVol(n) * std::sqrt(T));
    }
};

// Sum over n < terms of P(N = n) f(n), N ~ Poisson(lambda T).
template <typename F>
double Mixture(const Jumps& c, int terms, F f) {
    double weight = std::exp(-c.lambda * c.T), sum = 0;
    for (int n = 0; n < terms; ++n, weight *= c.lambda * c.T / n) sum += weight * f(n);
    return sum;
}

double Reference(const Jumps& c, int terms) {
    return Mixture(c, terms, [&](int n) {
        const double d1 = c.D1(n), d2 = d1 - c.TermVol(n) * std::sqrt(c.T);
        const double call = c.S * std::exp(-c.q * c.T) * Phi(d1) - c.X * std::exp(-c.r * c.T) * Phi(d2);
        const double put = call - c.S * std::exp(-c.q * c.T) + c.X * std::exp(-c.r * c.T);
        return c.type == CallOption ? call : c.type == PutOption ? put : call + put;
    });
}

double Entry(std::int32_t function, const Jumps& c, double marketPrice = 0) {
    std::int32_t code = 0;
    return MertonJumpDiffusion(c.type, function, c.S, c.X, c.T, c.s, c.r, c.q, marketPrice, 0, 0, 0, c.lambda,
                               c.gamma, 0.01, 1e-5, c.S, c.S, c.q, c.q, c.q, code);
}

constexpr Jumps kCases[] = {
    {CallOption, 45, 55, 0.25, 0.25, 0.10, 0.00, 1, 0.25},  {PutOption, 45, 55, 0.25, 0.25, 0.10, 0.00, 1, 0.25},
    {CallOption, 100, 100, 1.0, 0.30, 0.05, 0.02, 5, 0.50}, {PutOption, 100, 90, 0.5, 0.20, 0.03, 0.01, 2, 0.75},
    {Straddle, 80, 85, 2.0, 0.40, 0.07, 0.04, 0.5, 0.10},   {CallOption, 10, 8, 0.1, 0.60, 0.02, 0.00, 3, 0.90},
    {CallOption, 100, 100, 1.0, 0.30, 0.05, 0.00, 10, 0.5},  // ~4.9 % of the mass lies above 15 jumps
};

TEST(JumpDiffusion, MatchesPoissonMixtureTruncatedAfterFifteenJumps) {
    for (const Jumps& c : kCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S << " lambda " << c.lambda);
        // The normal approximation errs by up to 7.5e-8 per evaluation.
        EXPECT_NEAR(Entry(Theoretical, c), Reference(c, 16), 2e-7 * (c.S + c.X));
    }
    // The omitted weights are dropped, not spread over the kept terms.
    EXPECT_GT(Reference(kCases[6], 200) - Entry(Theoretical, kCases[6]), 0.5);
}

TEST(JumpDiffusion, TinyJumpShareApproachesBlackScholes) {
    Jumps c{CallOption, 100, 105, 0.5, 0.25, 0.05, 0.01, 1, 0.3};
    double d1 = 0, d2 = 0;
    ComputeD1D2(JumpDiff, d1, d2, c.S, c.X, c.r, c.q, c.T, c.T, c.s);
    const double blackScholes = GbsValue(European, CallOption, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, d2, 0);
    double previousGap = INFINITY;
    for (c.gamma = 0.3; c.gamma > 1e-10; c.gamma /= 100) {
        const double gap = std::fabs(Entry(Theoretical, c) - blackScholes);
        EXPECT_LT(gap, previousGap) << "gamma " << c.gamma;
        previousGap = gap;
    }
    EXPECT_LT(previousGap, 1e-8);
}

TEST(JumpDiffusion, FrameSensitivitiesMatchTermwiseGreeks) {
    // Every term volatility is proportional to the total s, so dV/ds sums
    // vega_n s_n / s; Theta (which moves the weights too) is differenced here.
    for (const Jumps& c : kCases) {
        if (c.type == Straddle) continue;
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S);
        const double phi = c.type == CallOption ? 1 : -1, carry = std::exp(-c.q * c.T);
        const double delta = Mixture(c, 16, [&](int n) { return phi * carry * Phi(phi * c.D1(n)); });
        const double vega = Mixture(c, 16, [&](int n) {
            return c.S * carry * std::exp(-c.D1(n) * c.D1(n) / 2) / std::sqrt(2 * M_PI) * std::sqrt(c.T) *
                   c.TermVol(n) / c.s;
        });
        Jumps later = c, sooner = c;
        later.T += 1e-3;
        sooner.T -= 1e-3;
        EXPECT_NEAR(Entry(Delta, c), delta, 1e-5);
        EXPECT_NEAR(Entry(Vega, c), vega * 0.01, 2e-6);
        EXPECT_NEAR(Entry(Theta, c), -(Reference(later, 16) - Reference(sooner, 16)) / 2e-3 / 365, 1e-7);
        EXPECT_NEAR(Entry(ImpliedVol, c, Entry(Theoretical, c)), c.s, 1e-6);
    }
}

TEST(JumpDiffusion, StraddleLambdaIsTheSumOfItsLegs) {
    Jumps straddle{Straddle, 95, 100, 0.75, 0.3, 0.04, 0.01, 2, 0.3}, call = straddle, put = straddle;
    call.type = CallOption;
    put.type = PutOption;
    EXPECT_NEAR(Entry(Lambda, straddle), Entry(Lambda, call) + Entry(Lambda, put), 1e-12);
    // Not the elasticity of the summed position, which is far from it here.
    const double position = Entry(Delta, straddle) * straddle.S / Entry(Theoretical, straddle);
    EXPECT_GT(std::fabs(Entry(Lambda, straddle) - position), 0.5);
}

TEST(JumpDiffusion, InvalidOptionFunctionFails) {
    for (std::int32_t function : {0, 14}) {
        std::int32_t code = 0;
        const Jumps& c = kCases[0];
        EXPECT_THROW(MertonJumpDiffusion(c.type, function, c.S, c.X, c.T, c.s, c.r, c.q, 0, 0, 0, 0, c.lambda,
                                         c.gamma, 0.01, 1e-5, c.S, c.S, 0, 0, 0, code),
                     PricingFailure);
        EXPECT_EQ(code, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
    }
}

}  // namespace
}  // namespace kestrix
