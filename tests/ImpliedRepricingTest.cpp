// Implied answers must reprice, and the American approximations never value
// an option below what exercising it now pays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "launch/ImpliedRepricing.h"
#include "launch/MethodRequests.h"
#include "launch/PlainOptionLaunch.h"

namespace kestrix {
namespace {

enum class Method {
    GenBSEuropean,
    GenBSAmerican,
    FrenchBS,
    Binomial5,
    Binomial40,
    Binomial150,
    Whaley,
    BSAmerican,
    JumpDiffusion,
    AmericanCall,
    EurodollarGenBS,
    EurodollarWhaley,
    EurodollarBinomial,
    EurodollarBSAmerican,
};

const char* NameOf(Method m) {
    static const char* const names[] = {"GenBSEuropean",   "GenBSAmerican",    "FrenchBS",
                                        "Binomial5",       "Binomial40",       "Binomial150",
                                        "Whaley",          "BSAmerican",       "JumpDiffusion",
                                        "AmericanCall",    "EurodollarGenBS",  "EurodollarWhaley",
                                        "EurodollarBinomial", "EurodollarBSAmerican"};
    return names[static_cast<int>(m)];
}

bool IsEurodollar(Method m) { return m >= Method::EurodollarGenBS; }

// One random ordinary request's inputs.
struct Draw {
    std::int32_t type = CallOption;
    double S = 100, K = 100, T = 1, sigma = 0.2, r = 0.05, q = 0.01;
    double D = 0, t1 = 0, f = 0;
    std::int32_t style = 0;
    double jumps = 1, share = 0.5;
};

std::string Describe(Method m, const Draw& d) {
    std::ostringstream out;
    out.precision(17);
    out << NameOf(m) << " type=" << d.type << " S=" << d.S << " K=" << d.K << " T=" << d.T << " vol=" << d.sigma
        << " r=" << d.r << " q=" << d.q << " D=" << d.D << " t1=" << d.t1 << " f=" << d.f << " style=" << d.style;
    return out.str();
}

PricingRequest Make(Method m, const Draw& d, std::int32_t function, double vol, double strike, double price) {
    switch (m) {
        case Method::GenBSEuropean:
        case Method::GenBSAmerican:
            return FillGenBS(m == Method::GenBSEuropean ? European : American, d.type, function, d.S, strike, d.T, vol,
                             d.r, d.q, price, Years, d.D, d.t1, d.f, DiscreteCashFlow, Continuous, Continuous);
        case Method::FrenchBS:
            return FillFrenchBS(European, d.type, function, d.S, strike, d.T * 0.7, d.T, vol, d.r, d.q, price, Years,
                                d.D, d.t1, d.f, DiscreteCashFlow, Continuous, Continuous);
        case Method::Binomial5:
        case Method::Binomial40:
        case Method::Binomial150: {
            const std::int32_t steps = m == Method::Binomial5 ? 5 : m == Method::Binomial40 ? 40 : 150;
            return FillBinomial(d.style % 2 == 0 ? American : European, d.type, function, steps, d.S, strike, d.T,
                                vol, d.r, d.q, price, Years, d.D, d.t1, d.f, d.style, Continuous, Continuous);
        }
        case Method::Whaley:
            return FillWhaley(d.type, function, d.S, strike, d.T, vol, d.r, d.q, price, Years, d.D, d.t1, d.f,
                              DiscreteCashFlow, Continuous, Continuous);
        case Method::BSAmerican:
            return FillBSAmerican(d.type, function, d.S, strike, d.T, vol, d.r, d.q, price, Years, d.D, d.t1, d.f,
                                  DiscreteCashFlow, Continuous, Continuous);
        case Method::JumpDiffusion:
            return FillJumpDiffusion(d.type, function, d.S, strike, d.T, vol, d.jumps, d.share, d.r, d.q, price, Years,
                                     d.D, d.t1, d.f, DiscreteCashFlow, Continuous, Continuous);
        case Method::AmericanCall:
            return FillAmericanCall(function, d.S, strike, d.T, vol, d.r, price, Years, d.D, d.t1, d.f, Continuous);
        default: {
            const std::int32_t model = static_cast<int>(m) - static_cast<int>(Method::EurodollarGenBS);
            return FillEurodollar(model, d.style % 2 == 0 ? American : European, d.type, function, d.S, strike, d.T,
                                  vol, d.r, 60, price, Years, Continuous);
        }
    }
}

// The object's answer: a maths-library failure is success with 0.
double Launch(PricingRequest rq) {
    double result = 0;
    try {
        LaunchPlainOption(rq, ErrorCode, result);
    } catch (const PricingFailure& failure) {
        EXPECT_STREQ(failure.Message(), kInvalidOpMessage);
        return 0;
    }
    return std::isfinite(result) ? result : 0;
}

// The model's own search alone, without the repricing layer.
double OwnSearch(PricingRequest rq) {
    PreparedInputs prepared;
    try {
        if (!PrepareRequest(rq, ErrorCode, prepared)) return 0;
        const double answer = PriceWithModel(rq, prepared, ErrorCode);
        return std::isfinite(answer) ? answer : 0;
    } catch (const PricingFailure&) {
        return 0;
    }
}

Draw RandomDraw(Method m, std::mt19937_64& rng, bool atTheForward) {
    const auto uniform = [&rng](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    Draw d;
    d.type = m == Method::AmericanCall ? CallOption : static_cast<std::int32_t>(1 + rng() % 3);
    d.T = uniform(0.05, 3);
    d.sigma = uniform(0.05, 0.8);
    d.r = uniform(0.005, 0.08);
    d.q = uniform(0, 0.06);
    d.style = static_cast<std::int32_t>(rng() % 4);
    d.jumps = uniform(0.5, 5);
    d.share = uniform(0.1, 0.9);
    if (IsEurodollar(m)) {
        d.S = uniform(90, 99.5);
        d.K = atTheForward ? d.S : std::min(99.9, d.S + uniform(-1.5, 1.5));
        d.T = uniform(0.05, 2);
        d.sigma = uniform(0.05, 0.6);
        return d;
    }
    d.S = uniform(50, 150);
    d.K = atTheForward ? d.S * std::exp((d.r - d.q) * d.T) : d.S * uniform(0.7, 1.3);
    if (rng() % 10 < 3) {
        d.D = uniform(0.5, 3);
        d.t1 = uniform(0.05, d.T);
        const double frequencies[] = {0, 0.25, 0.5};
        d.f = frequencies[rng() % 3];
    }
    return d;
}

class RoundTrip : public ::testing::TestWithParam<Method> {};

// Price, then ask for the volatility (and for calls and puts the strike,
// from another starting strike) that gives that price: the answer must
// reproduce it, and the model's own answer is kept bit for bit whenever it
// does.
TEST_P(RoundTrip, EveryImpliedAnswerReprices) {
    const Method m = GetParam();
    const bool lattice = m == Method::Binomial5 || m == Method::Binomial40 || m == Method::Binomial150 ||
                         m == Method::EurodollarBinomial;
    const int draws = lattice ? 150 : 400;
    std::mt19937_64 rng(0x5eed + static_cast<int>(m));
    int misses = 0, checked = 0, kept = 0;
    for (int i = 0; i < draws; ++i) {
        const Draw d = RandomDraw(m, rng, i % 5 == 0);
        const double price = Launch(Make(m, d, Theoretical, d.sigma, d.K, 0));
        if (!(price > 1e-6)) continue;
        const double tolerance = RepricingTolerance(price);

        // The control variate's value need not be monotone in volatility or
        // strike (with few steps it dips below the price between two scan
        // points): there an answer must reprice, but 0 (no bracket) may stand.
        const bool mayFindNone = lattice && !IsEurodollar(m) && d.style >= DiscreteControlVar;
        const auto found = [&](double answer, double repriced) {
            return answer > 0 ? std::fabs(repriced - price) <= tolerance : mayFindNone;
        };

        const PricingRequest volRequest = Make(m, d, ImpliedVol, 0.3, d.K, price);
        const double vol = Launch(volRequest);
        const double volPrice = Launch(Make(m, d, Theoretical, vol, d.K, 0));
        ++checked;
        if (!found(vol, volPrice)) {
            if (++misses <= 5) ADD_FAILURE() << Describe(m, d) << " price " << price << ": ImpliedVol " << vol;
        }
        const double own = OwnSearch(volRequest);
        if (own != 0 && std::fabs(Launch(Make(m, d, Theoretical, own, d.K, 0)) - price) <= tolerance) {
            EXPECT_EQ(vol, own) << Describe(m, d);
            ++kept;
        }

        if (d.type == Straddle) continue;
        const double start = d.K * (rng() % 2 == 0 ? 0.6 : 1.5);
        const double startStrike = IsEurodollar(m) ? std::min(start, 99.5) : start;
        const double strike = Launch(Make(m, d, ImpliedStrike, d.sigma, startStrike, price));
        const double strikePrice = Launch(Make(m, d, Theoretical, d.sigma, strike, 0));
        ++checked;
        if (!found(strike, strikePrice)) {
            if (++misses <= 5) ADD_FAILURE() << Describe(m, d) << " price " << price << ": ImpliedStrike " << strike;
        }
    }
    EXPECT_EQ(misses, 0) << "of " << checked;
    EXPECT_GT(checked, draws / 2);
    EXPECT_GT(kept, 0);  // the model's own search still answers most requests
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, RoundTrip,
                         ::testing::Values(Method::GenBSEuropean, Method::GenBSAmerican, Method::FrenchBS,
                                           Method::Binomial5, Method::Binomial40, Method::Binomial150,
                                           Method::Whaley, Method::BSAmerican, Method::JumpDiffusion,
                                           Method::AmericanCall, Method::EurodollarGenBS, Method::EurodollarWhaley,
                                           Method::EurodollarBinomial, Method::EurodollarBSAmerican),
                         [](const ::testing::TestParamInfo<Method>& info) { return NameOf(info.param); });

// Requests whose model's own search answered 0 or a non-solution now get an
// answer that reprices.
TEST(ImpliedRepricing, FormerMissesNowReprice) {
    struct Row {
        const char* what;
        PricingRequest request;  // ImpliedVol
    };
    const Row rows[] = {
        // The seed volatility is 0 at the at-the-forward strike: the search had no slope.
        {"GenBS at the forward",
         FillGenBS(European, CallOption, ImpliedVol, 100, 105.1271, 1, 0.2, 0.05, 0.02, 6.935906351537689, Years, 0,
                   0, 0, DiscreteCashFlow, Continuous, Continuous)},
        // The control variate's slope turned negative and the search kept its point.
        {"Binomial control variate",
         FillBinomial(American, CallOption, ImpliedVol, 120, 122.93, 108.55, 1.8247, 0.7521, 0.02304, 0.09097,
                      16.3118, Years, 2.849, 0.4735, 0.25, DiscreteControlVar, Continuous, Continuous)},
        // The Newton search meets a maths-library failure ("EInvalidOp"), which
        // used to end the call with 0.
        {"BSAmerican, maths-library failure in the search",
         FillBSAmerican(CallOption, ImpliedVol, 0.064407139714306852, 0.064473464051613708, 0.0092939163811549923,
                        0.26459411516413683, 0.18544928964056792, 1.6483062471893635, 6.0407042179809469e-07, Years,
                        0, 0, 0, DiscreteCashFlow, Continuous, Continuous)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const double price = row.request.MarketPrice;
        const auto valueAt = [&](double vol) {
            PricingRequest reprice = row.request;
            reprice.OptionFunction = Theoretical;
            reprice.Volatility = vol;
            return Launch(reprice);
        };
        const double own = OwnSearch(row.request);
        EXPECT_TRUE(own == 0 || std::fabs(valueAt(own) - price) > RepricingTolerance(price)) << own;
        const double answer = Launch(row.request);
        ASSERT_GT(answer, 0);
        EXPECT_NEAR(valueAt(answer), price, RepricingTolerance(price));
    }
}

// A price no volatility or strike reaches is still answered with 0, and so is
// a straddle's strike that the model's own search did not solve.
TEST(ImpliedRepricing, UnreachablePricesAnswerZero) {
    const PricingRequest rows[] = {
        // A call is worth less than the asset at any volatility.
        FillGenBS(European, CallOption, ImpliedVol, 100, 100, 1, 0.2, 0.05, 0.0, 150, Years, 0, 0, 0,
                  DiscreteCashFlow, Continuous, Continuous),
        FillBinomial(American, PutOption, ImpliedVol, 60, 100, 100, 1, 0.2, 0.05, 0.0, 120, Years, 0, 0, 0,
                     DiscreteCashFlow, Continuous, Continuous),
        FillWhaley(PutOption, ImpliedVol, 100, 100, 1, 0.2, 0.05, 0.0, 101, Years, 0, 0, 0, DiscreteCashFlow,
                   Continuous, Continuous),
        // Below the exercise value of an American put: no volatility prices it.
        FillBSAmerican(PutOption, ImpliedVol, 80, 100, 1, 0.2, 0.05, 0.0, 19, Years, 0, 0, 0, DiscreteCashFlow,
                       Continuous, Continuous),
        FillEurodollar(GenBSEuro, European, CallOption, ImpliedVol, 95, 94, 1, 0.2, 0.05, 60, 6, Years, Continuous),
        // A straddle's strike is not searched beyond the model's own answer.
        FillGenBS(European, Straddle, ImpliedStrike, 100, 100, 1, 0.2, 0.05, 0.0, 1e-3, Years, 0, 0, 0,
                  DiscreteCashFlow, Continuous, Continuous),
    };
    for (const PricingRequest& rq : rows) {
        EXPECT_EQ(Launch(rq), 0) << "model " << rq.ModelNumber << " function " << rq.OptionFunction;
    }
}

// Whaley and Bjerksund-Stensland (and the Eurodollar front end through them)
// never value an American option below its exercise value; Greeks keep the
// model's own value.
TEST(AmericanFloor, ValuesRespectImmediateExercise) {
    struct Row {
        const char* what;
        PricingRequest request;
        double intrinsic;
    };
    const Row rows[] = {
        {"Whaley put, deep negative yield",
         FillWhaley(PutOption, Theoretical, 71.08, 93.84, 2.324, 0.1279, 0.1176, -0.5, 0, Years, 0, 0, 0,
                    DiscreteCashFlow, Continuous, Continuous),
         93.84 - 71.08},
        {"Whaley call, abandoned critical-price search",
         FillWhaley(CallOption, Theoretical, 150, 100, 1.5867, 0.01, 0.03721, 0.068, 0, Years, 0, 0, 0,
                    DiscreteCashFlow, Continuous, Continuous),
         50},
        {"BSAmerican put, yield -1",
         FillBSAmerican(PutOption, Theoretical, 70, 100.08, 1.5, 0.3, 0.05, -1, 0, Years, 0, 0, 0,
                        DiscreteCashFlow, Continuous, Continuous),
         30.08},
        {"Whaley straddle as one position",
         FillWhaley(Straddle, Theoretical, 71.08, 93.84, 2.324, 0.1279, 0.1176, -0.5, 0, Years, 0, 0, 0,
                    DiscreteCashFlow, Continuous, Continuous),
         93.84 - 71.08},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const double value = Launch(row.request);
        EXPECT_GE(value, row.intrinsic - 1e-12);
        PricingRequest timeValue = row.request;
        timeValue.OptionFunction = Time_Value;
        EXPECT_GE(Launch(timeValue), 0);
        EXPECT_NEAR(Launch(timeValue), value - row.intrinsic, 1e-9);
    }
}

// With discrete dividends the exercise value is that of the caller's asset
// price (S + DividendPV), and the floor is exactly max(model, intrinsic):
// where the model is above it, its bits are untouched.
TEST(AmericanFloor, IsTheLargerOfTheModelAndTheExerciseValue) {
    std::mt19937_64 rng(42);
    const auto uniform = [&rng](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    int lifted = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::int32_t type = static_cast<std::int32_t>(1 + rng() % 3);
        const double S = uniform(40, 160), X = uniform(60, 140), T = uniform(0.05, 3), s = uniform(0.01, 0.6);
        const double r = uniform(0.005, 0.15), q = uniform(-1, 0.2);
        const double D = rng() % 3 == 0 ? uniform(0.5, 4) : 0, t1 = uniform(0.01, T);
        const bool bjs = rng() % 2 == 0;
        const PricingRequest rq =
            bjs ? FillBSAmerican(type, Theoretical, S, X, T, s, r, q, 0, Years, D, t1, 0.25, DiscreteCashFlow,
                                 Continuous, Continuous)
                : FillWhaley(type, Theoretical, S, X, T, s, r, q, 0, Years, D, t1, 0.25, DiscreteCashFlow, Continuous,
                             Continuous);
        PricingRequest prepared = rq;
        PreparedInputs p;
        if (!PrepareRequest(prepared, ErrorCode, p)) continue;
        const double model = bjs ? BjsValue(type, prepared.AssetPrice, X, prepared.TimeExpire, prepared.Volatility,
                                            prepared.InterestRate, prepared.YieldRate, 0, 0, p.DividendPV)
                                 : BawValue(type, prepared.AssetPrice, X, prepared.TimeExpire, prepared.Volatility,
                                            prepared.InterestRate, prepared.YieldRate, 0, 0, p.DividendPV);
        if (!std::isfinite(model)) continue;
        const double intrinsic = IntrinsicPayoff(type, prepared.AssetPrice, X, 0, 0, 0, 0, 0, p.DividendPV);
        const double value = Launch(rq);
        EXPECT_EQ(value, std::max(model, intrinsic)) << i;
        if (model < intrinsic) ++lifted;
    }
    EXPECT_GT(lifted, 0);
}

}  // namespace
}  // namespace kestrix
