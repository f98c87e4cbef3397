#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "LaunchTestSupport.h"
#include "approx/BAWQuadraticApprox.h"
#include "core/D1D2.h"
#include "core/PlainOptions.h"
#include "launch/Eurodollar.h"

namespace kestrix {
namespace {


struct Result {
    bool raised = false;
    std::int32_t code = 0;
    std::string message;
    double value = 0;
};

Result Launch(PricingRequest rq) {
    Result out;
    try {
        LaunchPlainOption(rq, ErrorCode, out.value);
    } catch (const PricingFailure& failure) {
        out.raised = true;
        out.message = failure.Message();
    }
    out.code = ErrorCode;
    return out;
}

double Euro(std::int32_t model, std::int32_t exercise, std::int32_t type, std::int32_t function, double price,
            double strike, double vol = 0.2, double marketPrice = 0, std::int32_t iterations = 100) {
    const Result r = Launch(FillEurodollar(model, exercise, type, function, price, strike, 0.5, vol, 0.05, iterations,
                                        marketPrice, Years, Continuous));
    EXPECT_FALSE(r.raised) << r.message;
    return r.value;
}

// The same option written directly on the rate: 100 - price, reversed type, q = r.
double OnTheRate(std::int32_t type, std::int32_t function, double rate, double strike, double vol = 0.2) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, rate, strike, 0.05, 0.05, 0.5, 0.5, vol);
    return GeneralizedBlackScholes(BSGen, European, type, function, rate, strike, 0.5, 0.5, vol, 0.05, 0.05, 0, 0,
                                   d1, d2, ErrorCode);
}

TEST(Eurodollar, IndexCallIsAPutOnTheRate) {
    EXPECT_EQ(Euro(GenBSEuro, European, CallOption, Theoretical, 95, 94), OnTheRate(PutOption, Theoretical, 5, 6));
    EXPECT_EQ(Euro(GenBSEuro, European, PutOption, Theoretical, 95, 94), OnTheRate(CallOption, Theoretical, 5, 6));
    EXPECT_EQ(Euro(GenBSEuro, European, Straddle, Gamma, 95, 94), OnTheRate(Straddle, Gamma, 5, 6));
    // Sensitivities to the underlying come back with the index's sign.
    const double delta = Euro(GenBSEuro, European, CallOption, Delta, 95, 94);
    EXPECT_EQ(delta, -OnTheRate(PutOption, Delta, 5, 6));
    EXPECT_GT(delta, 0);  // a call on the index gains when the index rises
    EXPECT_EQ(Euro(GenBSEuro, European, CallOption, Lambda, 95, 94), -OnTheRate(PutOption, Lambda, 5, 6));
    // The strike sensitivity stays on the rate scale.
    EXPECT_EQ(Euro(GenBSEuro, European, CallOption, StrikeSensitivity, 95, 94),
              OnTheRate(PutOption, StrikeSensitivity, 5, 6));
}

TEST(Eurodollar, IndexAtOneHundredIsAVanishingRate) {
    EXPECT_EQ(Euro(GenBSEuro, European, PutOption, Theoretical, 100, 97), OnTheRate(CallOption, Theoretical, 1e-17, 3));
    EXPECT_NEAR(Euro(GenBSEuro, European, CallOption, Theoretical, 100, 97), 3 * std::exp(-0.05 * 0.5), 1e-12);
}

TEST(Eurodollar, RhoEqualsPsiInEveryModel) {
    for (std::int32_t model : {GenBSEuro, WhaleyEuro, BinomialEuro, BSAmericanEuro}) {
        for (std::int32_t exercise : {American, European}) {
            for (std::int32_t type : {CallOption, PutOption, Straddle}) {
                const double rho = Euro(model, exercise, type, Rho, 94.5, 95);
                EXPECT_EQ(rho, Euro(model, exercise, type, Psi, 94.5, 95)) << model << " " << exercise << " " << type;
                EXPECT_TRUE(std::isfinite(rho));
            }
        }
    }
    // With no carry, the sensitivity to a parallel move of r and q is the
    // discounting alone: -T * V per unit, times 0.01.
    const double value = Euro(GenBSEuro, European, PutOption, Theoretical, 94.5, 95);
    EXPECT_NEAR(Euro(GenBSEuro, European, PutOption, Rho, 94.5, 95), -0.5 * value * 0.01, 1e-12);
}

TEST(Eurodollar, EveryModelPricesEveryFunction) {
    for (std::int32_t model : {GenBSEuro, WhaleyEuro, BinomialEuro, BSAmericanEuro}) {
        for (std::int32_t function = Theoretical; function <= ImpliedStrike; ++function) {
            const double v = Euro(model, American, CallOption, function, 95, 94.5, 0.2, 0.6);
            EXPECT_TRUE(std::isfinite(v)) << model << " " << function;
        }
        // American on the index is worth at least the European closed form.
        EXPECT_GE(Euro(model, American, PutOption, Theoretical, 95, 94.5) + 1e-9,
                  Euro(GenBSEuro, European, PutOption, Theoretical, 95, 94.5))
            << model;
    }
    // Whaley goes through the quadratic approximation on the rate.
    double d1 = 0, d2 = 0;
    ComputeD1D2(EurodollarModel, d1, d2, 5, 5.5, 0.05, 0.05, 0.5, 0.5, 0.2);
    EXPECT_EQ(Euro(WhaleyEuro, American, CallOption, Theoretical, 95, 94.5),
              QuadraticApproximation(PutOption, Theoretical, 5, 5.5, 0.5, 0.2, 0.05, 0.05, 0, d1, d2, 0, 0.01, 1e-5, 5,
                                     5, 0.05, 0.05, 0.05, ErrorCode));
}

TEST(Eurodollar, ImpliedStrikeComesBackOnTheIndex) {
    EXPECT_EQ(EurodollarToIndexTerms(ImpliedStrike, 3), 97.0);
    EXPECT_EQ(EurodollarToIndexTerms(ImpliedStrike, 0), 0.0);
    EXPECT_EQ(EurodollarToIndexTerms(ImpliedStrike, 101), 0.0);
    const double price = Euro(GenBSEuro, European, CallOption, Theoretical, 95, 94);
    EXPECT_NEAR(Euro(GenBSEuro, European, CallOption, ImpliedStrike, 95, 90, 0.2, price), 94, 1e-4);
    EXPECT_NEAR(Euro(GenBSEuro, European, CallOption, ImpliedVol, 95, 94, 0.5, price), 0.2, 1e-5);
}

TEST(Eurodollar, VolatilityFloorDependsOnTheModel) {
    EXPECT_EQ(Euro(BinomialEuro, American, CallOption, Theoretical, 95, 95, 0.001),
              Euro(BinomialEuro, American, CallOption, Theoretical, 95, 95, 0.015));
    EXPECT_NE(Euro(BinomialEuro, American, CallOption, Theoretical, 95, 95, 0.001),
              Euro(BinomialEuro, American, CallOption, Theoretical, 95, 95, 0.016));
    for (std::int32_t model : {GenBSEuro, WhaleyEuro, BSAmericanEuro}) {
        EXPECT_EQ(Euro(model, American, CallOption, Theoretical, 95, 95, 0.001),
                  Euro(model, American, CallOption, Theoretical, 95, 95, 0.002))
            << model;
        EXPECT_NE(Euro(model, American, CallOption, Theoretical, 95, 95, 0.001),
                  Euro(model, American, CallOption, Theoretical, 95, 95, 0.015))
            << model;
    }
}

TEST(Eurodollar, InvalidModelFailsOnlyAfterEveryCheck) {
    auto request = [](std::int32_t model, std::int32_t iterations, double price) {
        return FillEurodollar(model, American, CallOption, Theoretical, price, 94, 0.5, 0.2, 0.05, iterations, 0,
                              Years, Continuous);
    };
    Result r = Launch(request(4, 0, 95));
    EXPECT_EQ(r.code, static_cast<std::int32_t>(enumOErrCodes::IterationsMinErr));
    r = Launch(request(4, 5, 100.5));
    EXPECT_EQ(r.code, static_cast<std::int32_t>(enumOErrCodes::AssetPriceEurErr));
    for (std::int32_t model : {4, -1}) {
        for (std::int32_t function : {Theoretical, Rho}) {
            PricingRequest rq = request(model, 5, 95);
            rq.OptionFunction = function;
            r = Launch(rq);
            EXPECT_TRUE(r.raised);
            EXPECT_EQ(r.code, static_cast<std::int32_t>(enumOErrCodes::EurModelErr));
            EXPECT_EQ(r.message, "The Eurodollar model is incorrect.");
        }
    }
}

}  // namespace
}  // namespace kestrix
