#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

namespace kestrix {
namespace {

struct Inputs {
    double S = 100, X = 95, t = 0.5, T = 0.5, sigma = 0.3, r = 0.06, q = 0.02, pv = 0;
};

// Prices through the entry exactly as the launcher would: d1/d2 first.
double Price(std::int32_t model, std::int32_t exercise, std::int32_t type, std::int32_t function, const Inputs& in,
             double marketPrice = 0) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(model, d1, d2, in.S, in.X, in.r, in.q, in.T, in.t, in.sigma);
    return GeneralizedBlackScholes(model, exercise, type, function, in.S, in.X, in.t, in.T, in.sigma, in.r, in.q,
                                   in.pv, marketPrice, d1, d2, ErrorCode);
}

double Value(std::int32_t model, std::int32_t type, const Inputs& in) {
    return Price(model, European, type, Theoretical, in);
}

TEST(ComputeD1D2, GenericAndFrenchForms) {
    double d1 = 0, d2 = 0;
    EXPECT_FALSE(ComputeD1D2(BSGen, d1, d2, 100, 0, 0.05, 0, 1, 1, 0.2));
    EXPECT_EQ(d1, 0.0);
    EXPECT_EQ(d2, 0.0);
    EXPECT_FALSE(ComputeD1D2(BSGen, d1, d2, -1, 100, 0.05, 0, 1, 1, 0.2));

    ASSERT_TRUE(ComputeD1D2(BSGen, d1, d2, 0, 100, 0.05, 0, 1, 1, 0.2));
    EXPECT_NEAR(d1, (std::log(1e-17 / 100) + 0.07) / 0.2, 1e-12);

    double f1 = 0, f2 = 0;
    ComputeD1D2(BSGen, d1, d2, 105, 100, 0.05, 0.01, 0.7, 0.7, 0.25);
    ComputeD1D2(BSFrench, f1, f2, 105, 100, 0.05, 0.01, 0.7, 0.7, 0.25);
    EXPECT_NEAR(f1, d1, 1e-15);
    EXPECT_NEAR(f2, d2, 1e-15);

    // French: carry over one calendar year, variance over half a year.
    ComputeD1D2(BSFrench, f1, f2, 105, 100, 0.05, 0.01, 1, 0.5, 0.25);
    const double expected = (std::log(1.05) + 0.04 + 0.03125 * 0.5 * 2 / 2) / (0.25 * std::sqrt(0.5));
    EXPECT_NEAR(f1, expected, 1e-14);
    EXPECT_NEAR(f2, f1 - 0.25 * std::sqrt(0.5), 1e-14);
}

TEST(GeneralizedBlackScholes, TextbookValue) {
    // S = 60, X = 65, T = 0.25, r = 8 %, b = r, sigma = 30 %: call 2.1334 (four decimals).
    Inputs in{60, 65, 0.25, 0.25, 0.3, 0.08, 0.0, 0};
    EXPECT_NEAR(Value(BSGen, CallOption, in), 2.1334, 5e-5);
}

TEST(GeneralizedBlackScholes, PutCallParityAndStraddle) {
    for (std::int32_t model : {BSGen, BSFrench}) {
        for (double S : {40.0, 95.0, 180.0}) {
            Inputs in;
            in.S = S;
            in.t = model == BSFrench ? 0.37 : in.T;
            const double call = Value(model, CallOption, in);
            const double put = Value(model, PutOption, in);
            EXPECT_NEAR(call - put, S * std::exp(-in.q * in.T) - in.X * std::exp(-in.r * in.T), 1e-12);
            EXPECT_NEAR(Value(model, Straddle, in), call + put, 1e-12);
        }
    }
}

// Every closed-form sensitivity against a central difference of the value.
TEST(GeneralizedBlackScholes, SensitivitiesMatchFiniteDifferences) {
    for (std::int32_t model : {BSGen, BSFrench}) {
        for (std::int32_t type : {CallOption, PutOption, Straddle}) {
            for (double S : {70.0, 100.0, 130.0}) {
                Inputs in;
                in.S = S;
                in.t = model == BSFrench ? 0.4 : in.T;
                auto bumped = [&](auto mutate) {
                    Inputs up = in, down = in;
                    const double h = mutate(up, 1.0);
                    mutate(down, -1.0);
                    return (Value(model, type, up) - Value(model, type, down)) / (2 * h);
                };
                const double h = 1e-4;
                const double delta = bumped([&](Inputs& x, double s) { x.S += s * h; return h; });
                const double vega = bumped([&](Inputs& x, double s) { x.sigma += s * h; return h; });
                const double rho = bumped([&](Inputs& x, double s) { x.r += s * h; return h; });
                const double psi = bumped([&](Inputs& x, double s) { x.q += s * h; return h; });
                const double dK = bumped([&](Inputs& x, double s) { x.X += s * h; return h; });
                const double dT = bumped([&](Inputs& x, double s) {
                    x.T += s * h;
                    if (model == BSGen) x.t += s * h;
                    return h;
                });
                const double dt = model == BSFrench ? bumped([&](Inputs& x, double s) { x.t += s * h; return h; }) : 0;
                const double gh = 1e-3;
                Inputs up = in, down = in;
                up.S += gh;
                down.S -= gh;
                const double gamma =
                    (Value(model, type, up) - 2 * Value(model, type, in) + Value(model, type, down)) / (gh * gh);

                SCOPED_TRACE(::testing::Message() << "model " << model << " type " << type << " S " << S);
                // N is a polynomial approximation, so its slope is not exactly n: allow for that.
                const double tol = 3e-5;
                EXPECT_NEAR(Price(model, European, type, Delta, in), delta, tol);
                EXPECT_NEAR(Price(model, European, type, Gamma, in), gamma, tol);
                EXPECT_NEAR(Price(model, European, type, Vega, in), vega * 0.01, tol);
                EXPECT_NEAR(Price(model, European, type, Rho, in), rho * 0.01, tol);
                EXPECT_NEAR(Price(model, European, type, Psi, in), psi * 0.01, tol);
                EXPECT_NEAR(Price(model, European, type, StrikeSensitivity, in), dK, tol);
                const double theta = model == BSGen ? -dT / 365 : -dT / 365 - dt / 252;
                EXPECT_NEAR(Price(model, European, type, Theta, in), theta, tol / 30);
                const double value = Value(model, type, in);
                if (type != Straddle) {
                    EXPECT_NEAR(Price(model, European, type, Lambda, in),
                                Price(model, European, type, Delta, in) * S / value, 1e-12);
                }
            }
        }
    }
}

TEST(GeneralizedBlackScholes, FrenchWithEqualTimesDiffersOnlyInTheta) {
    Inputs in;
    for (std::int32_t f : {Theoretical, Delta, Gamma, Vega, Rho, Psi, StrikeSensitivity}) {
        EXPECT_NEAR(Price(BSFrench, European, PutOption, f, in), Price(BSGen, European, PutOption, f, in), 1e-13) << f;
    }
    EXPECT_GT(std::fabs(Price(BSFrench, European, PutOption, Theta, in) - Price(BSGen, European, PutOption, Theta, in)),
              1e-4);
}

TEST(GeneralizedBlackScholes, AmericanFloorIntrinsicAndTimeValue) {
    // A deep in-the-money European put with high rates is worth less than exercise.
    Inputs in{40, 100, 1, 1, 0.2, 0.2, 0, 0};
    const double european = Price(BSGen, European, PutOption, Theoretical, in);
    EXPECT_LT(european, 60);
    EXPECT_EQ(Price(BSGen, American, PutOption, Theoretical, in), 60.0);
    EXPECT_EQ(Price(BSFrench, American, PutOption, Theoretical, in), 60.0);
    EXPECT_NEAR(Price(BSGen, European, PutOption, Time_Value, in), european - 60, 1e-12);
    EXPECT_EQ(Price(BSGen, American, PutOption, Time_Value, in), 0.0);
    // Greeks stay European under American exercise.
    EXPECT_EQ(Price(BSGen, American, PutOption, Delta, in), Price(BSGen, European, PutOption, Delta, in));

    // Intrinsic value uses the asset price before the dividend adjustment.
    Inputs div{97, 100, 0.5, 0.5, 0.25, 0.05, 0, 5};
    EXPECT_EQ(Price(BSGen, European, CallOption, IntrinsicValue, div), 2.0);
    EXPECT_EQ(Price(BSGen, European, PutOption, IntrinsicValue, div), 0.0);
    EXPECT_EQ(Price(BSGen, European, Straddle, IntrinsicValue, div), 2.0);
}

TEST(GeneralizedBlackScholes, StraddleRules) {
    Inputs in;
    EXPECT_EQ(Price(BSGen, European, Straddle, Gamma, in), 2 * Price(BSGen, European, CallOption, Gamma, in));
    EXPECT_EQ(Price(BSGen, European, Straddle, Vega, in), 2 * Price(BSGen, European, CallOption, Vega, in));
    EXPECT_NEAR(Price(BSGen, European, Straddle, Lambda, in),
                Price(BSGen, European, CallOption, Lambda, in) + Price(BSGen, European, PutOption, Lambda, in), 1e-12);
    // A leg worth nothing contributes nothing to the straddle's Lambda.
    Inputs deep{300, 100, 0.1, 0.1, 0.1, 0.05, 0, 0};
    ASSERT_EQ(Value(BSGen, PutOption, deep), 0.0);
    EXPECT_EQ(Price(BSGen, European, PutOption, Lambda, deep), 0.0);
    EXPECT_EQ(Price(BSGen, European, Straddle, Lambda, deep), Price(BSGen, European, CallOption, Lambda, deep));
}

TEST(GeneralizedBlackScholes, ImpliedSearchesRecoverTheirInputs) {
    for (std::int32_t model : {BSGen, BSFrench}) {
        for (std::int32_t type : {CallOption, PutOption, Straddle}) {
            for (double sigma : {0.08, 0.3, 0.9}) {
                for (double r : {0.001, 0.07}) {
                    Inputs in;
                    in.sigma = sigma;
                    in.r = r;
                    in.t = model == BSFrench ? 0.45 : in.T;
                    const double price = Value(model, type, in);
                    Inputs guess = in;
                    guess.sigma = 0.5;  // the search must not read the request's volatility
                    EXPECT_NEAR(Price(model, European, type, ImpliedVol, guess, price), sigma, 1e-5)
                        << model << " " << type << " " << sigma << " " << r;
                    if (type != Straddle) {
                        Inputs strikeGuess = in;
                        strikeGuess.X = 60;
                        const double strike = Price(model, European, type, ImpliedStrike, strikeGuess, price);
                        EXPECT_NEAR(strike, in.X, 1e-3) << model << " " << type << " " << sigma;
                    }
                }
            }
        }
    }
}

TEST(GeneralizedBlackScholes, ImpliedSearchesGiveZeroWhenUnreachable) {
    Inputs in;
    // Below the European put's lower bound, and above what any volatility can reach.
    EXPECT_EQ(Price(BSGen, European, CallOption, ImpliedVol, in, 4.0), 0.0);
    EXPECT_EQ(Price(BSGen, European, CallOption, ImpliedVol, in, 150.0), 0.0);
    EXPECT_EQ(Price(BSGen, European, CallOption, ImpliedVol, in, 0.0), 0.0);
    EXPECT_EQ(Price(BSGen, European, PutOption, ImpliedStrike, in, -1.0), 0.0);
}

TEST(GeneralizedBlackScholes, UnknownFunctionFails) {
    Inputs in;
    for (std::int32_t function : {0, 14, -3}) {
        ErrorCode = 0;
        try {
            Price(BSGen, European, CallOption, function, in);
            ADD_FAILURE() << function;
        } catch (const PricingFailure& failure) {
            EXPECT_EQ(std::string(failure.what()), "The OptionFunction is invalid.");
            EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
        }
    }
    ErrorCode = 0;
}

}  // namespace
}  // namespace kestrix
