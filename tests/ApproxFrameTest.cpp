// The common frame on a model whose derivatives are known in closed form, the
// European Black-Scholes value, and on probe values that expose which inputs
// each point was priced with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "approx/ApproxFrame.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/PlainOptions.h"

namespace kestrix {
namespace {

constexpr double kH = 1e-5;
constexpr double kG = 0.01;

const auto kEuropean = [](std::int32_t type, double S, double X, double T, double s, double r, double q, double) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, S, X, r, q, T, T, s);
    return GbsValue(enumExerciseType::European, type, S, X, T, T, s, r, q, d1, d2, 0);
};

TEST(ApproxFrame, SensitivitiesMatchClosedFormGreeks) {
    struct Case {
        std::int32_t type;
        double S, X, T, s, r, q;
    };
    const Case cases[] = {
        {CallOption, 100, 100, 0.5, 0.25, 0.05, 0.02}, {PutOption, 100, 110, 1.0, 0.30, 0.08, 0.00},
        {Straddle, 90, 100, 0.25, 0.20, 0.03, 0.01},   {PutOption, 50, 45, 2.0, 0.15, 0.06, 0.03},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " S " << c.S);
        const auto frame = [&](std::int32_t function) {
            std::int32_t code = 0;
            return DispatchOptionFunction(kEuropean, c.type, function, c.S, c.X, c.T, c.s, c.r, c.q, 0, 0, kG, kH,
                                          c.S, c.S, c.q, c.q, c.q, code);
        };
        // The normal approximation's slope differs from its density by about
        // 1e-4 relative; a wrong slot, sign, divisor or scale is off by far more.
        const auto near = [](double value, double closedForm) {
            EXPECT_NEAR(value, closedForm, 1e-3 * std::fabs(closedForm) + 1e-7);
        };
        double d1 = 0, d2 = 0;
        ComputeD1D2(BSGen, d1, d2, c.S, c.X, c.r, c.q, c.T, c.T, c.s);
        const auto t = c.type;
        near(frame(Delta), GbsDelta(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1));
        near(frame(Gamma), GbsGamma(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, BSGen));
        near(frame(Theta), GbsTheta(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, d2, BSGen));
        near(frame(Vega), GbsVega(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, BSGen));
        near(frame(Rho), GbsRho(1, t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, 0, d1, d2));
        near(frame(Psi), GbsPsi(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1));
        near(frame(Lambda), GbsLambda(1, t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, 0, d1, d2));
        near(frame(StrikeSensitivity), GbsStrikeSensitivity(t, c.S, c.X, c.T, c.T, c.s, c.r, c.q, d1, d2));
        EXPECT_DOUBLE_EQ(frame(Time_Value), frame(Theoretical) - frame(IntrinsicValue));
    }
}

TEST(ApproxFrame, PointsAndPreparedSlots) {
    // V = 3 S^2 records how many points were priced: at S = h Delta already
    // takes the forward form (two points), and below the Gamma step Gamma uses
    // S, S + g, S + 2g, exact for a quadratic.
    int points = 0;
    const auto square = [&](std::int32_t, double S, double, double, double, double, double, double) {
        ++points;
        return 3 * S * S;
    };
    EXPECT_NEAR(ApproxDelta(square, CallOption, kH, 100, 1, 0.2, 0.05, 0, kH, 0, 0), 3 * 3 * kH, 1e-12);
    EXPECT_EQ(points, 2);
    EXPECT_NEAR(ApproxGamma(square, CallOption, 0.005, 100, 1, 0.2, 0.05, 0, kG, 0, 0, 0), 6, 1e-9);
    EXPECT_NEAR(ApproxGamma(square, CallOption, 50, 100, 1, 0.2, 0.05, 0, kG, 0, 0, 0), 6, 1e-6);

    // A value that exposes its yield, asset price, rate and time shift.
    const auto probe = [](std::int32_t, double S, double, double, double, double r, double q, double shift) {
        return 1000 * q + S + 7 * r + 100 * shift;
    };
    EXPECT_NEAR(ApproxDelta(probe, CallOption, 10, 10, 1, 0.2, 0.05, 0.01, kH, 0.02, 0.03),
                (2 * kH + 1000 * (0.03 - 0.02)) / (2 * kH), 1e-3);
    // Rho: the lowered rate goes with AssetPriceDown, the raised one with AssetPriceUp.
    EXPECT_NEAR(ApproxRho(probe, CallOption, 10, 10, 1, 0.2, 0.05, 0.01, kH, 9, 11, 0.01, 0.01),
                (11 - 9 + 7 * 2 * kH) / (2 * kH) * 0.01, 1e-6);
    // Theta: the dividend date moves with expiry, +h at T + h and -h at T - h.
    EXPECT_NEAR(ApproxTheta(probe, CallOption, 10, 10, 1, 0.2, 0.05, 0, kH, 0, 0), -(200 * kH) / (2 * kH) / 365,
                1e-9);
}

TEST(ApproxFrame, ImpliedSearchesGiveZeroWhenTheyCannotSucceed) {
    EXPECT_EQ(ImpliedVolatilitySearch(kEuropean, CallOption, 100, 100, 1, 0.05, 0, 0.0, kH), 0);
    EXPECT_EQ(ImpliedStrikeSearch(kEuropean, PutOption, 100, 100, 1, 0.2, 0.05, 0, -1.0, kH), 0);
    // A call worth more than its asset needs a volatility beyond any bound.
    EXPECT_EQ(ImpliedVolatilitySearch(kEuropean, CallOption, 100, 100, 1, 0.05, 0, 150.0, kH), 0);
    // A value that never moves has no slope.
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

}  // namespace
}  // namespace kestrix
