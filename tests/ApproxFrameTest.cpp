// The common frame checked on a model whose derivatives are known in closed
// form: the European generalized Black-Scholes value. Every frame quantity must
// then match the analytic Greek to finite-difference accuracy.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "approx/ApproxFrame.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

namespace kestrix {
namespace {

constexpr double kH = 1e-5;
constexpr double kG = 0.01;

double European(std::int32_t type, double S, double X, double T, double s, double r, double q) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, S, X, r, q, T, T, s);
    return GbsValue(enumExerciseType::European, type, S, X, T, T, s, r, q, d1, d2, 0);
}

const auto kEuropean = [](std::int32_t type, double S, double X, double T, double s, double r, double q, double) {
    return European(type, S, X, T, s, r, q);
};

struct Case {
    std::int32_t type;
    double S, X, T, s, r, q;
};

constexpr Case kCases[] = {
    {CallOption, 100, 100, 0.5, 0.25, 0.05, 0.02}, {PutOption, 100, 110, 1.0, 0.30, 0.08, 0.00},
    {Straddle, 90, 100, 0.25, 0.20, 0.03, 0.01},   {CallOption, 42, 40, 0.75, 0.35, 0.04, 0.08},
    {PutOption, 50, 45, 2.0, 0.15, 0.06, 0.03},
};

double Frame(std::int32_t function, const Case& c, double marketPrice = 0) {
    std::int32_t code = 0;
    return DispatchOptionFunction(kEuropean, c.type, function, c.S, c.X, c.T, c.s, c.r, c.q, marketPrice, 0, kG, kH,
                                  c.S, c.S, c.q, c.q, c.q, code);
}

TEST(ApproxFrame, SensitivitiesMatchClosedFormGreeks) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S << " X " << c.X);
        double d1 = 0, d2 = 0;
        ComputeD1D2(BSGen, d1, d2, c.S, c.X, c.r, c.q, c.T, c.T, c.s);
        const auto t = c.type;
        // The normal approximation's slope differs from its density by up to
        // about 1e-4 relative; a wrong slot, sign, divisor or scale is off by
        // far more.
        const auto near = [](double frame, double closedForm) {
            EXPECT_NEAR(frame, closedForm, 1e-3 * std::fabs(closedForm) + 1e-7);
        };
        near(Frame(Delta, c), GbsDelta(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1));
        near(Frame(Gamma, c), GbsGamma(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, BSGen));
        near(Frame(Vega, c), GbsVega(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, BSGen));
        near(Frame(Rho, c), GbsRho(1, t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, 0, d1, d2));
        near(Frame(Psi, c), GbsPsi(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1));
        near(Frame(StrikeSensitivity, c), GbsStrikeSensitivity(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, d2));
        // Theta per calendar day: the closed form is the same yearly rate / 365.
        near(Frame(Theta, c), GbsTheta(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, d2, BSGen));
        near(Frame(Lambda, c), GbsLambda(1, t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, 0, d1, d2));
        EXPECT_DOUBLE_EQ(Frame(Theoretical, c), European(t, c.S, c.X, c.T, c.s, c.r, c.q));
        EXPECT_DOUBLE_EQ(Frame(Time_Value, c), Frame(Theoretical, c) - Frame(IntrinsicValue, c));
    }
}

TEST(ApproxFrame, ForwardDifferencesNearZeroInputs) {
    // Records every point priced, to see which form the frame chose.
    double points[4] = {};
    int n = 0;
    const auto recording = [&](std::int32_t, double S, double, double, double, double, double, double) {
        if (n < 4) points[n] = S;
        ++n;
        return 3 * S * S;
    };
    // S = h: forward (p - h <= 0 already takes the forward form).
    const double delta = ApproxDelta(recording, CallOption, kH, 100, 1, 0.2, 0.05, 0, kH, 0, 0);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(points[0], kH);
    EXPECT_EQ(points[1], 2 * kH);
    EXPECT_NEAR(delta, 3 * (4 * kH * kH - kH * kH) / kH, 1e-15);

    // S below the Gamma step: points S, S + g, S + 2g; exact for a quadratic.
    n = 0;
    const double gamma = ApproxGamma(recording, CallOption, 0.005, 100, 1, 0.2, 0.05, 0, kG, 0, 0, 0);
    EXPECT_EQ(n, 3);
    EXPECT_NEAR(gamma, 6, 1e-9);
    n = 0;
    EXPECT_NEAR(ApproxGamma(recording, CallOption, 50, 100, 1, 0.2, 0.05, 0, kG, 0, 0, 0), 6, 1e-6);
    EXPECT_EQ(points[2], 50 - kG);
}

TEST(ApproxFrame, PreparedSlotsGoToTheirPoints) {
    // A value that exposes its yield, asset price and time shift.
    const auto probe = [](std::int32_t, double S, double, double T, double, double r, double q, double shift) {
        return 1000 * q + S + 7 * r + 0 * T + 100 * shift;
    };
    // Delta: (S + h + 1000 qUp) - (S - h + 1000 qDown) over 2h.
    EXPECT_NEAR(ApproxDelta(probe, CallOption, 10, 10, 1, 0.2, 0.05, 0.01, kH, 0.02, 0.03),
                (2 * kH + 1000 * (0.03 - 0.02)) / (2 * kH), 1e-3);
    // Rho: the lowered point is priced at AssetPriceDown, the raised one at AssetPriceUp.
    EXPECT_NEAR(ApproxRho(probe, CallOption, 10, 10, 1, 0.2, 0.05, 0.01, kH, 9, 11, 0.01, 0.01),
                (11 - 9 + 7 * 2 * kH) / (2 * kH) * 0.01, 1e-6);
    // Theta: the dividend date moves with expiry, +h at T + h and -h at T - h.
    EXPECT_NEAR(ApproxTheta(probe, CallOption, 10, 10, 1, 0.2, 0.05, 0, kH, 0, 0),
                -(100 * kH - 100 * -kH) / (2 * kH) / 365, 1e-9);
}

TEST(ApproxFrame, StraddleLambdaIsTheSumOfItsLegs) {
    const Case straddle{Straddle, 105, 100, 0.5, 0.3, 0.05, 0.02};
    Case call = straddle, put = straddle;
    call.type = CallOption;
    put.type = PutOption;
    const double legs = Frame(Lambda, call) + Frame(Lambda, put);
    EXPECT_NEAR(Frame(Lambda, straddle), legs, 1e-12);
    // And not the elasticity of the summed position.
    const double summed = Frame(Delta, straddle) * straddle.S / Frame(Theoretical, straddle);
    EXPECT_GT(std::fabs(Frame(Lambda, straddle) - summed), 0.1);
}

TEST(ApproxFrame, ImpliedSearchesRecoverTheirInputs) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S << " X " << c.X);
        const double price = European(c.type, c.S, c.X, c.T, c.s, c.r, c.q);
        Case noVol = c;
        noVol.s = 0.9;  // the volatility search must not read it
        EXPECT_NEAR(Frame(ImpliedVol, noVol, price), c.s, 1e-5);
        Case otherStrike = c;
        otherStrike.X = 70;
        const double strike = Frame(ImpliedStrike, otherStrike, price);
        if (c.type == Straddle) {
            // Two strikes give a straddle's price; whichever is found must reprice it.
            EXPECT_NEAR(European(c.type, c.S, strike, c.T, c.s, c.r, c.q), price, 1e-5);
        } else {
            EXPECT_NEAR(strike, c.X, 1e-4);
        }
    }
}

TEST(ApproxFrame, ImpliedSearchesGiveZeroWhenTheyCannotSucceed) {
    const Case c = kCases[0];
    EXPECT_EQ(Frame(ImpliedVol, c, 0), 0);
    EXPECT_EQ(Frame(ImpliedVol, c, -1), 0);
    EXPECT_EQ(Frame(ImpliedStrike, c, 0), 0);
    // A call worth more than its asset needs a volatility beyond any bound.
    EXPECT_EQ(Frame(ImpliedVol, c, 150), 0);
    // A value that never moves has no slope: no volatility, no strike.
    const auto flat = [](std::int32_t, double, double, double, double, double, double, double) { return 1.0; };
    EXPECT_EQ(ImpliedVolatilitySearch(flat, CallOption, 100, 100, 1, 0.05, 0, 2.0, kH), 0);
    EXPECT_EQ(ImpliedStrikeSearch(flat, CallOption, 100, 100, 1, 0.2, 0.05, 0, 2.0, kH), 0);
    // A Newton cycle (sqrt about 1: every step lands on the mirror point)
    // never reduces the error; the search must end, with 0.
    const auto cycling = [](std::int32_t, double, double, double, double s, double, double, double) {
        return 5 + (s > 1 ? 1 : -1) * std::sqrt(std::fabs(s - 1));
    };
    EXPECT_EQ(ImpliedVolatilitySearch(cycling, CallOption, 100, 100, 1, 0.05, 0, 5.0, kH), 0);
}

TEST(ApproxFrame, InvalidOptionFunctionFails) {
    for (const std::int32_t function : {0, 14, -1}) {
        std::int32_t code = 0;
        try {
            DispatchOptionFunction(kEuropean, CallOption, function, 100, 100, 1, 0.2, 0.05, 0, 0, 0, kG, kH, 100,
                                   100, 0, 0, 0, code);
            ADD_FAILURE() << "function " << function << " was accepted";
        } catch (const PricingFailure& failure) {
            EXPECT_STREQ(failure.what(), "The OptionFunction is invalid.");
            EXPECT_EQ(code, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
        }
    }
}

}  // namespace
}  // namespace kestrix
