#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "core/PseudoAmerican.h"

namespace kestrix {
namespace {

// A request as the caller states it: asset price before dividends, a cash
// amount D from t1 every f years (f = 0: one payment).
struct Request {
    double S0 = 100, X = 100, T = 0.5, sigma = 0.25, r = 0.05, q = 0, D = 0, t1 = 0, f = 0;
};

// What the launcher hands the entry: the escrowed price and the bookkeeping
// of the payments on or before expiry.
struct Prepared {
    double S = 0, pv = 0, D = 0;
    bool ignored = true;
    std::int32_t count = 1;
};

Prepared Prepare(const Request& rq) {
    Prepared p{rq.S0, 0, 0, !(rq.D > 0 && rq.t1 > 0), 1};
    if (p.ignored || rq.t1 > rq.T) return p;
    const int last = rq.f == 0 || rq.t1 + rq.f > rq.T ? 0 : static_cast<int>(std::floor((rq.T - rq.t1) / rq.f));
    for (int i = 0; i <= last; ++i) p.pv += rq.D * std::exp(-rq.r * (rq.t1 + i * rq.f));
    return {rq.S0 - p.pv, p.pv, rq.D, false, last + 1};
}

double Entry(const Request& rq, const Prepared& p, std::int32_t type, std::int32_t function, double market = 0) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(PseudoAmericanModel, d1, d2, p.S, rq.X, rq.r, rq.q, rq.T, rq.T, rq.sigma);
    return PseudoAmericanApproximation(type, function, p.S, rq.X, rq.T, rq.sigma, rq.r, rq.q, p.D, rq.t1, rq.f, p.pv,
                                       market, d1, d2, p.ignored, p.count, ErrorCode);
}

double Price(const Request& rq, std::int32_t type, std::int32_t function, double market = 0) {
    return Entry(rq, Prepare(rq), type, function, market);
}

// The generalized Black-Scholes entry at the request's own strike and expiry.
double Gbs(const Request& rq, std::int32_t type, std::int32_t exercise, std::int32_t function) {
    const Prepared p = Prepare(rq);
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, p.S, rq.X, rq.r, rq.q, rq.T, rq.T, rq.sigma);
    return GeneralizedBlackScholes(BSGen, exercise, type, function, p.S, rq.X, rq.T, rq.T, rq.sigma, rq.r, rq.q, p.pv,
                                   0, d1, d2, ErrorCode);
}

// Independent Black-Scholes with carry, on the exact normal distribution.
double N(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }
double D1(double S, double K, double t, double s, double r, double q) {
    return (std::log(S / K) + (r - q + s * s / 2) * t) / (s * std::sqrt(t));
}
double BsCall(double S, double K, double t, double s, double r, double q) {
    const double d1 = D1(S, K, t, s, r, q);
    return S * std::exp(-q * t) * N(d1) - K * std::exp(-r * t) * N(d1 - s * std::sqrt(t));
}

// The library's normal distribution is good to 7.5e-8: values on an asset
// near 100 agree with the exact ones to a few 1e-5.
constexpr double kValueTolerance = 5e-5;

const std::int32_t kSensitivities[] = {Delta, Gamma, Theta, Vega, Rho, Psi, StrikeSensitivity};

// A dividend of 4 just before expiry; at strike 97 the net price alone
// (about 96) would be out of the money.
const Request kLargeDividend{100, 97, 0.5, 0.25, 0.05, 0.01, 4, 0.48, 0};

TEST(PseudoAmerican, WithoutDividendsIsTheEuropeanClosedForm) {
    const Request deepCall{150, 100, 2, 0.2, 0.03, 0.10};  // European call below intrinsic
    const Request paidAfterExpiry{100, 100, 0.5, 0.25, 0.05, 0, 3, 0.75};
    ASSERT_FALSE(Prepare(paidAfterExpiry).ignored);
    for (const Request& rq : {deepCall, Request{}, paidAfterExpiry}) {
        for (std::int32_t type : {CallOption, PutOption, Straddle}) {
            for (std::int32_t function : kSensitivities) {
                EXPECT_EQ(Price(rq, type, function), Gbs(rq, type, European, function));
            }
            EXPECT_EQ(Price(rq, type, Lambda), Gbs(rq, type, European, Lambda));
            // Each leg of a straddle is floored at its own exercise value.
            for (std::int32_t function : {Theoretical, Time_Value}) {
                const double legs = type == Straddle ? Gbs(rq, CallOption, American, function) +
                                                           Gbs(rq, PutOption, American, function)
                                                     : Gbs(rq, type, American, function);
                EXPECT_NEAR(Price(rq, type, function), legs, 1e-12);
            }
        }
    }
    EXPECT_DOUBLE_EQ(Price(deepCall, CallOption, Theoretical), 50);
    EXPECT_NEAR(Price(Request{}, CallOption, Theoretical), BsCall(100, 100, 0.5, 0.25, 0.05, 0), kValueTolerance);
}

TEST(PseudoAmerican, PutIsNeverExercisedAtAnExDividendDate) {
    // Quarterly dividends; at strike 150 and a high rate the exercise floor binds.
    for (double X : {100.0, 150.0}) {
        const Request rq{100, X, 1, 0.25, 0.12, 0, 2, 0.2, 0.25};
        const Prepared p = Prepare(rq);
        ASSERT_EQ(p.count, 4);
        const double european = BsCall(p.S, X, 1, 0.25, 0.12, 0) - p.S + X * std::exp(-0.12);
        EXPECT_NEAR(Price(rq, PutOption, Theoretical), std::max(european, X - 100), kValueTolerance);
        for (std::int32_t function : kSensitivities) {
            EXPECT_EQ(Price(rq, PutOption, function), Gbs(rq, PutOption, European, function));
        }
    }
}

TEST(PseudoAmerican, LargeDividendBeforeExpiryMakesExerciseAtT1Best) {
    // The single payment stated with f = 0 or with a frequency past expiry.
    for (double f : {0.0, 1.0}) {
        Request rq = kLargeDividend;
        rq.f = f;
        const Prepared p = Prepare(rq);
        const double atT1 = BsCall(p.S, 93, 0.48, 0.25, 0.05, 0.01);
        EXPECT_GT(atT1, BsCall(p.S, 97, 0.5, 0.25, 0.05, 0.01));
        EXPECT_NEAR(Price(rq, CallOption, Theoretical), atT1, kValueTolerance);
        EXPECT_NEAR(Price(rq, CallOption, Delta), std::exp(-0.01 * 0.48) * N(D1(p.S, 93, 0.48, 0.25, 0.05, 0.01)),
                    1e-7);

        // The exercise point stays put under small bumps, so each closed form
        // is the derivative of the value (Rho and Psi with the net price fixed).
        using Bump = void (*)(Request&, Prepared&, double);
        const struct {
            std::int32_t function;
            double scale;
            Bump bump;
        } cases[] = {
            {Delta, 1, [](Request&, Prepared& b, double d) { b.S += d; }},
            {Vega, 0.01, [](Request& b, Prepared&, double d) { b.sigma += d; }},
            {Rho, 0.01, [](Request& b, Prepared&, double d) { b.r += d; }},
            {Psi, 0.01, [](Request& b, Prepared&, double d) { b.q += d; }},
            {StrikeSensitivity, 1, [](Request& b, Prepared&, double d) { b.X += d; }},
            {Theta, -1.0 / 365, [](Request& b, Prepared&, double d) { b.T += d, b.t1 += d; }},
        };
        const double h = 1e-4;
        for (const auto& c : cases) {
            Request up = rq, down = rq;
            Prepared pUp = p, pDown = p;
            c.bump(up, pUp, h);
            c.bump(down, pDown, -h);
            const double slope =
                (Entry(up, pUp, CallOption, Theoretical) - Entry(down, pDown, CallOption, Theoretical)) / (2 * h);
            EXPECT_NEAR(Price(rq, CallOption, c.function), c.scale * slope, 1e-4 * std::fabs(c.scale * slope));
        }
        const auto at = [&](double dS) {
            Prepared moved = p;
            moved.S += dS;
            return Entry(rq, moved, CallOption, Theoretical);
        };
        const double gamma = (at(0.01) - 2 * at(0) + at(-0.01)) / 1e-4;
        EXPECT_NEAR(Price(rq, CallOption, Gamma), gamma, 1e-3 * gamma);
    }
}

TEST(PseudoAmerican, CallCandidatesExpireAtTheirOwnExDividendDates) {
    // Small quarterly dividends, the last at expiry: the best candidate
    // captures only that one, expiring at T with strike X - D.
    const Request small{100, 100, 1, 0.3, 0.05, 0, 0.5, 0.25, 0.25};
    Prepared p = Prepare(small);
    ASSERT_EQ(p.count, 4);
    EXPECT_NEAR(Price(small, CallOption, Theoretical), BsCall(p.S, 99.5, 1, 0.3, 0.05, 0), kValueTolerance);
    EXPECT_NEAR(Price(small, CallOption, Delta), N(D1(p.S, 99.5, 1, 0.3, 0.05, 0)), 1e-7);

    // Deep in the money with large dividends: exercise before the first
    // date, capturing all four, beats every later candidate and holding on.
    const Request large{100, 70, 0.9, 0.15, 0.03, 0, 3, 0.1, 0.25};
    p = Prepare(large);
    double candidates[5] = {BsCall(p.S, 70, 0.9, 0.15, 0.03, 0)};
    double captured = 0;
    for (int i = 0; i < 4; ++i) {
        captured += 3 * std::exp(-0.03 * i * 0.25);
        candidates[i + 1] = BsCall(p.S, 70 - captured, 0.1 + (3 - i) * 0.25, 0.15, 0.03, 0);
    }
    for (double candidate : candidates) EXPECT_GE(candidates[4], candidate);
    EXPECT_NEAR(Price(large, CallOption, Theoretical), candidates[4], kValueTolerance);
    EXPECT_NEAR(Price(large, CallOption, Delta), N(D1(p.S, 70 - captured, 0.1, 0.15, 0.03, 0)), 1e-7);

    // Dividends that pay the whole strike end the search; the rest counts.
    const Request lowStrike{100, 5, 1, 0.3, 0.05, 0, 3, 0.25, 0.25};
    p = Prepare(lowStrike);
    const double expected = std::max({95.0, BsCall(p.S, 5, 1, 0.3, 0.05, 0), BsCall(p.S, 2, 1, 0.3, 0.05, 0)});
    EXPECT_NEAR(Price(lowStrike, CallOption, Theoretical), expected, kValueTolerance);
    for (std::int32_t function : kSensitivities) EXPECT_TRUE(std::isfinite(Price(lowStrike, CallOption, function)));
}

TEST(PseudoAmerican, StraddleIsCallLegPlusPutLeg) {
    const Request& rq = kLargeDividend;
    for (std::int32_t function : {Theoretical, Delta, Gamma, Theta, Vega, Rho, Psi, StrikeSensitivity, Lambda,
                                  IntrinsicValue, Time_Value}) {
        EXPECT_NEAR(Price(rq, Straddle, function), Price(rq, CallOption, function) + Price(rq, PutOption, function),
                    1e-12);
    }
    const Prepared p = Prepare(rq);
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, p.S, rq.X, rq.r, rq.q, rq.T, rq.T, rq.sigma);
    for (std::int32_t type : {CallOption, PutOption, Straddle}) {
        EXPECT_NEAR(PseudoAmericanRhoPlusPsi(type, p.S, rq.X, rq.T, rq.sigma, rq.r, rq.q, p.D, rq.t1, rq.f, p.pv, d1,
                                             d2, p.ignored, p.count),
                    Price(rq, type, Rho) + Price(rq, type, Psi), 1e-12);
    }
}

TEST(PseudoAmerican, ExerciseValuesUseTheAssetPriceBeforeDividends) {
    const Request& rq = kLargeDividend;
    EXPECT_NEAR(Price(rq, CallOption, IntrinsicValue), 3, 1e-12);
    EXPECT_EQ(Price(rq, PutOption, IntrinsicValue), 0);
    EXPECT_NEAR(Price(rq, CallOption, Lambda), Price(rq, CallOption, Delta) * 100 / Price(rq, CallOption, Theoretical),
                1e-12);
}

TEST(PseudoAmerican, ImpliedSearchesRecoverTheirInputs) {
    const Request quarterly{100, 95, 1, 0.3, 0.05, 0, 1, 0.2, 0.25};
    for (const Request& rq : {kLargeDividend, quarterly}) {
        for (std::int32_t type : {CallOption, PutOption, Straddle}) {
            const double market = Price(rq, type, Theoretical);
            EXPECT_NEAR(Price(rq, type, ImpliedVol, market), rq.sigma, 1e-6);
            if (type != Straddle) {
                EXPECT_NEAR(Price(rq, type, ImpliedStrike, market), rq.X, 1e-4);
            }
        }
    }
    // No volatility prices a call above the asset or a put below its floor.
    EXPECT_EQ(Price(quarterly, CallOption, ImpliedVol, 101), 0);
    EXPECT_EQ(Price(Request{80, 100, 1, 0.3, 0.05, 0}, PutOption, ImpliedVol, 19), 0);
}

TEST(PseudoAmerican, RejectsAnInvalidOptionFunction) {
    for (std::int32_t function : {0, 14}) {
        ErrorCode = 0;
        try {
            Price(Request{}, CallOption, function);
            ADD_FAILURE() << "no failure for function " << function;
        } catch (const PricingFailure& failure) {
            EXPECT_EQ(std::string(failure.what()), "The OptionFunction is invalid.");
        }
        EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
    }
}

}  // namespace
}  // namespace kestrix
