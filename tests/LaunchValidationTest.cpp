#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <string>

#include "LaunchTestSupport.h"

namespace kestrix {
namespace {

using testing::BaseGenBS;
using testing::Outcome;
using testing::Prepare;
using E = enumOErrCodes;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

double Above(double x) { return std::nextafter(x, kInf); }
double Below(double x) { return std::nextafter(x, -kInf); }

PricingRequest BaseFrench() {
    return FillFrenchBS(European, PutOption, Theoretical, 100, 90, 0.5, 1, 0.2, 0.05, 0.01, 0, Years, 0, 0, 0,
                        DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest BaseBinomial() {
    return FillBinomial(American, PutOption, Theoretical, 50, 100, 90, 1, 0.2, 0.05, 0.01, 0, Years, 0, 0, 0,
                        DiscreteCashFlowBin, Continuous, Continuous);
}
PricingRequest BaseEurodollar() {
    return FillEurodollar(GenBSEuro, European, CallOption, Theoretical, 95, 94, 1, 0.2, 0.05, 5, 0, Years,
                          Continuous);
}
PricingRequest BaseJump() {
    return FillJumpDiffusion(CallOption, Theoretical, 100, 100, 1, 0.2, 2, 0.3, 0.05, 0.01, 0, Years, 0, 0, 0,
                             DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest BaseImplied() {
    PricingRequest rq = BaseGenBS();
    rq.OptionFunction = ImpliedVol;
    rq.MarketPrice = 10;
    return rq;
}

struct BoundRow {
    const char* what;
    PricingRequest (*base)();
    void (*mutate)(PricingRequest&);
    E code;  // None: the request passes every check
};

// Each bound from both sides; not-a-number fails every range check except
// the asset price and the volatility, which are replaced.
const BoundRow kBounds[] = {
    {"ExerciseType 0", BaseFrench, [](PricingRequest& r) { r.ExerciseType = 0; }, E::None},
    {"ExerciseType 2", BaseFrench, [](PricingRequest& r) { r.ExerciseType = 2; }, E::ExerciseTypeErr},
    {"ExerciseType -1", BaseFrench, [](PricingRequest& r) { r.ExerciseType = -1; }, E::ExerciseTypeErr},
    {"DividendStyle 1", BaseGenBS, [](PricingRequest& r) { r.DividendStyle = 1; }, E::None},
    {"DividendStyle 2", BaseGenBS, [](PricingRequest& r) { r.DividendStyle = 2; }, E::DividendStyleErr},
    {"DividendStyle -1", BaseGenBS, [](PricingRequest& r) { r.DividendStyle = -1; }, E::DividendStyleErr},
    {"lattice DividendStyle 3", BaseBinomial, [](PricingRequest& r) { r.DividendStyle = 3; }, E::None},
    {"lattice DividendStyle 4", BaseBinomial, [](PricingRequest& r) { r.DividendStyle = 4; }, E::DividendStyleErr},
    {"OptionType 0", BaseGenBS, [](PricingRequest& r) { r.OptionType = 0; }, E::OptionTypeErr},
    {"OptionType 3", BaseGenBS, [](PricingRequest& r) { r.OptionType = 3; }, E::None},
    {"OptionType 4", BaseGenBS, [](PricingRequest& r) { r.OptionType = 4; }, E::OptionTypeErr},
    {"Iterations 4", BaseBinomial, [](PricingRequest& r) { r.Iterations = 4; }, E::IterationsMinErr},
    {"Iterations 5", BaseBinomial, [](PricingRequest& r) { r.Iterations = 5; }, E::None},
    {"Iterations 500", BaseBinomial, [](PricingRequest& r) { r.Iterations = 500; }, E::None},
    {"Iterations 501", BaseBinomial, [](PricingRequest& r) { r.Iterations = 501; }, E::IterationsMaxErr},
    {"Eurodollar Iterations 0", BaseEurodollar, [](PricingRequest& r) { r.Iterations = 0; }, E::IterationsMinErr},
    {"AssetPrice -0.01", BaseGenBS, [](PricingRequest& r) { r.AssetPrice = -0.01; }, E::AssetPriceErr},
    {"AssetPrice -denormal", BaseGenBS, [](PricingRequest& r) { r.AssetPrice = -5e-324; }, E::AssetPriceErr},
    {"AssetPrice 0", BaseGenBS, [](PricingRequest& r) { r.AssetPrice = 0; }, E::None},
    {"AssetPrice NaN", BaseGenBS, [](PricingRequest& r) { r.AssetPrice = kNaN; }, E::None},
    {"StrikePrice 0", BaseGenBS, [](PricingRequest& r) { r.StrikePrice = 0; }, E::StrikePriceErr},
    {"StrikePrice denormal", BaseGenBS, [](PricingRequest& r) { r.StrikePrice = 5e-324; }, E::None},
    {"StrikePrice NaN", BaseGenBS, [](PricingRequest& r) { r.StrikePrice = kNaN; }, E::StrikePriceErr},
    {"DividendAmount -1e-12", BaseGenBS, [](PricingRequest& r) { r.DividendAmount = -1e-12; }, E::DividendAmtErr},
    {"DividendAmount NaN", BaseGenBS, [](PricingRequest& r) { r.DividendAmount = kNaN; }, E::DividendAmtErr},
    {"TimeExDividend -1e-12", BaseGenBS, [](PricingRequest& r) { r.TimeExDividend = -1e-12; }, E::TimeExDivErr},
    {"TimeExDividend NaN", BaseGenBS, [](PricingRequest& r) { r.TimeExDividend = kNaN; }, E::TimeExDivErr},
    {"DividendFrequency -1e-12", BaseGenBS, [](PricingRequest& r) { r.DividendFrequency = -1e-12; },
     E::DividendFreqErr},
    {"DividendFrequency NaN", BaseGenBS, [](PricingRequest& r) { r.DividendFrequency = kNaN; }, E::DividendFreqErr},
    {"TimeExpire 0", BaseGenBS, [](PricingRequest& r) { r.TimeExpire = r.TimeTrading = 0; }, E::TimeExpireErr},
    {"TimeExpire 1e-9", BaseGenBS, [](PricingRequest& r) { r.TimeExpire = r.TimeTrading = 1e-9; }, E::None},
    {"TimeExpire NaN", BaseGenBS, [](PricingRequest& r) { r.TimeExpire = r.TimeTrading = kNaN; }, E::TimeExpireErr},
    {"TimeTrading 0", BaseFrench, [](PricingRequest& r) { r.TimeTrading = 0; }, E::TimeTradingErr},
    {"TimeTrading 1e-9", BaseFrench, [](PricingRequest& r) { r.TimeTrading = 1e-9; }, E::None},
    {"TimeTrading NaN", BaseFrench, [](PricingRequest& r) { r.TimeTrading = kNaN; }, E::TimeTradingErr},
    {"TimeFormat -1", BaseGenBS, [](PricingRequest& r) { r.TimeFormat = -1; }, E::TimeFormatErr},
    {"TimeFormat 0", BaseGenBS, [](PricingRequest& r) { r.TimeFormat = 0; }, E::None},
    {"TimeFormat 2", BaseGenBS, [](PricingRequest& r) { r.TimeFormat = 2; }, E::TimeFormatErr},
    {"InterestRate 0", BaseGenBS, [](PricingRequest& r) { r.InterestRate = 0; }, E::InterestRateErr},
    {"InterestRate 1e-9", BaseGenBS, [](PricingRequest& r) { r.InterestRate = 1e-9; }, E::None},
    {"InterestRate 1e30", BaseGenBS, [](PricingRequest& r) { r.InterestRate = 1e30; }, E::None},
    {"InterestRate above 1e30", BaseGenBS, [](PricingRequest& r) { r.InterestRate = Above(1e30); }, E::InterestRateErr},
    {"InterestRate NaN", BaseGenBS, [](PricingRequest& r) { r.InterestRate = kNaN; }, E::InterestRateErr},
    {"YieldRate -1", BaseGenBS, [](PricingRequest& r) { r.YieldRate = -1; }, E::None},
    {"YieldRate -1.0001", BaseGenBS, [](PricingRequest& r) { r.YieldRate = -1.0001; }, E::YieldRateErr},
    {"YieldRate 100000", BaseGenBS, [](PricingRequest& r) { r.YieldRate = 100000; }, E::None},
    {"YieldRate above 100000", BaseGenBS, [](PricingRequest& r) { r.YieldRate = Above(100000); }, E::YieldRateErr},
    {"YieldRate NaN", BaseGenBS, [](PricingRequest& r) { r.YieldRate = kNaN; }, E::YieldRateErr},
    {"MarketPrice -1 unchecked for values", BaseGenBS, [](PricingRequest& r) { r.MarketPrice = -1; }, E::None},
    {"MarketPrice NaN unchecked for values", BaseGenBS, [](PricingRequest& r) { r.MarketPrice = kNaN; }, E::None},
    {"ImpliedVol MarketPrice -1", BaseImplied, [](PricingRequest& r) { r.MarketPrice = -1; }, E::MktPriceNegErr},
    {"ImpliedVol MarketPrice NaN", BaseImplied, [](PricingRequest& r) { r.MarketPrice = kNaN; }, E::MktPriceNegErr},
    {"ImpliedStrike MarketPrice 0", BaseImplied,
     [](PricingRequest& r) { r.OptionFunction = ImpliedStrike, r.MarketPrice = 0; }, E::MktPriceGZErr},
    {"ImpliedVol MarketPrice denormal", BaseImplied, [](PricingRequest& r) { r.MarketPrice = 5e-324; }, E::None},
    {"Eurodollar AssetPrice 100", BaseEurodollar, [](PricingRequest& r) { r.AssetPrice = 100; }, E::None},
    {"Eurodollar AssetPrice above 100", BaseEurodollar, [](PricingRequest& r) { r.AssetPrice = Above(100); },
     E::AssetPriceEurErr},
    {"Eurodollar StrikePrice below 100", BaseEurodollar, [](PricingRequest& r) { r.StrikePrice = Below(100); },
     E::None},
    {"Eurodollar StrikePrice 100", BaseEurodollar, [](PricingRequest& r) { r.StrikePrice = 100; },
     E::StrikePriceEurErr},
    {"Eurodollar model 4 passes the checks", BaseEurodollar, [](PricingRequest& r) { r.EurodollarModel = 4; }, E::None},
    {"other models: AssetPrice 150", BaseGenBS, [](PricingRequest& r) { r.AssetPrice = 150; }, E::None},
    {"JumpsPerYear 0", BaseJump, [](PricingRequest& r) { r.JumpsPerYear = 0; }, E::JumpPerYrErr},
    {"JumpsPerYear NaN", BaseJump, [](PricingRequest& r) { r.JumpsPerYear = kNaN; }, E::JumpPerYrErr},
    {"JumpsPerYear denormal", BaseJump, [](PricingRequest& r) { r.JumpsPerYear = 5e-324; }, E::None},
    {"PercentTotalVol 0", BaseJump, [](PricingRequest& r) { r.PercentTotalVol = 0; }, E::PerTotVolMinErr},
    {"PercentTotalVol NaN", BaseJump, [](PricingRequest& r) { r.PercentTotalVol = kNaN; }, E::PerTotVolMinErr},
    {"PercentTotalVol denormal", BaseJump, [](PricingRequest& r) { r.PercentTotalVol = 5e-324; }, E::None},
    {"PercentTotalVol below 1", BaseJump, [](PricingRequest& r) { r.PercentTotalVol = Below(1); }, E::None},
    {"PercentTotalVol 1", BaseJump, [](PricingRequest& r) { r.PercentTotalVol = 1; }, E::PerTotVolErr},
    {"InterestRateType 12", BaseGenBS, [](PricingRequest& r) { r.InterestRateType = 12; }, E::IntRateTypeErr},
    {"YieldRateType -1", BaseGenBS, [](PricingRequest& r) { r.YieldRateType = -1; }, E::YeildRateTypeErr},
    {"both rate types invalid", BaseGenBS, [](PricingRequest& r) { r.InterestRateType = -1, r.YieldRateType = 12; },
     E::IntRateTypeErr},
    {"BankDiscountRate rate x days = 360", BaseGenBS,
     [](PricingRequest& r) {
         r.InterestRate = 0.5, r.InterestRateType = BankDiscountRate;
         r.TimeFormat = Days, r.TimeExpire = r.TimeTrading = 720;
     },
     E::IntRateTimeErr},
};

// The failure texts, word for word.
const std::map<E, std::string> kTexts = {
    {E::None, ""},
    {E::ExerciseTypeErr, "The ExerciseType is invalid."},
    {E::DividendStyleErr, "The DividendStyle is invalid."},
    {E::OptionTypeErr, "The OptionType is invalid."},
    {E::IterationsMinErr, "The number of iterations for the Binomial Model must be greater than or equal to 5."},
    {E::IterationsMaxErr, "The number of iterations for the Binomial Model must be less than or equal to 500."},
    {E::AssetPriceErr, "AssetPrice must be greater than or equal to 0."},
    {E::StrikePriceErr, "StrikePrice must be greater than 0."},
    {E::DividendAmtErr, "DividendAmount must be greater than or equal to 0."},
    {E::TimeExDivErr, "TimeExDividend must be greater than or equal to 0."},
    {E::DividendFreqErr, "DividendFrequency must be greater than or equal to 0."},
    {E::TimeExpireErr, "TimeExpire must be greater than 0."},
    {E::TimeTradingErr, "TimeTrading must be greater than 0."},
    {E::TimeFormatErr, "The TimeFormat is invalid."},
    {E::InterestRateErr, "InterestRate must be greater than 0 and less than 1E30."},
    {E::YieldRateErr, "The Yield Rate must be greater than -1 or -100% and less than 1E5."},
    {E::MktPriceNegErr, "MarketPrice cannot be a negative number."},
    {E::MktPriceGZErr, "MarketPrice must be greater than zero to calculate the Implied Value."},
    {E::AssetPriceEurErr, "AssetPrice must be less than or equal to 100."},
    {E::StrikePriceEurErr, "StrikePrice must be less than 100."},
    {E::JumpPerYrErr, "The Number of Jumps Per Year must be greater than 0."},
    {E::PerTotVolMinErr, "The Percent Total Volatility must be greater than 0."},
    {E::PerTotVolErr, "The Percent Total Volatility must be less than 1 or 100%."},
    {E::IntRateTypeErr, "The InterestRateType is invalid."},
    {E::YeildRateTypeErr, "The YieldRateType is invalid."},
    {E::IntRateTimeErr, "The Interest Rate multiplied by time cannot equal 360."},
};

TEST(LaunchValidation, EveryBoundFromBothSides) {
    for (const BoundRow& row : kBounds) {
        SCOPED_TRACE(row.what);
        PricingRequest rq = row.base();
        row.mutate(rq);
        ErrorCode = 12345;  // left over from an earlier call: must be reset
        const Outcome out = Prepare(rq);
        EXPECT_EQ(out.code, static_cast<std::int32_t>(row.code));
        EXPECT_EQ(out.raised, row.code != E::None);
        EXPECT_EQ(out.message, kTexts.at(row.code));
    }
}

// One failing value per check, in the order the checks run. Whenever two of
// them are present at once, the earlier check must report.
struct Fault {
    int field;  // faults on the same field cannot be combined
    void (*apply)(PricingRequest&);
    E code;
};

const Fault kFaultsInOrder[] = {
    {0, [](PricingRequest& r) { r.ExerciseType = 5; }, E::ExerciseTypeErr},
    {1, [](PricingRequest& r) { r.DividendStyle = 2; }, E::DividendStyleErr},
    {2, [](PricingRequest& r) { r.OptionType = 0; }, E::OptionTypeErr},
    {3, [](PricingRequest& r) { r.Iterations = 4; }, E::IterationsMinErr},
    {3, [](PricingRequest& r) { r.Iterations = 501; }, E::IterationsMaxErr},
    {4, [](PricingRequest& r) { r.AssetPrice = -1; }, E::AssetPriceErr},
    {5, [](PricingRequest& r) { r.StrikePrice = 0; }, E::StrikePriceErr},
    {6, [](PricingRequest& r) { r.DividendAmount = -1; }, E::DividendAmtErr},
    {7, [](PricingRequest& r) { r.TimeExDividend = -1; }, E::TimeExDivErr},
    {8, [](PricingRequest& r) { r.DividendFrequency = -1; }, E::DividendFreqErr},
    {9, [](PricingRequest& r) { r.TimeExpire = 0; }, E::TimeExpireErr},
    {10, [](PricingRequest& r) { r.TimeTrading = 0; }, E::TimeTradingErr},
    {11, [](PricingRequest& r) { r.TimeFormat = 2; }, E::TimeFormatErr},
    {12, [](PricingRequest& r) { r.InterestRate = 0; }, E::InterestRateErr},
    {13, [](PricingRequest& r) { r.YieldRate = -2; }, E::YieldRateErr},
    {14, [](PricingRequest& r) { r.MarketPrice = -1; }, E::MktPriceNegErr},
    {14, [](PricingRequest& r) { r.MarketPrice = 0; }, E::MktPriceGZErr},
    {4, [](PricingRequest& r) { r.AssetPrice = 101; }, E::AssetPriceEurErr},
    {5, [](PricingRequest& r) { r.StrikePrice = 100; }, E::StrikePriceEurErr},
    {15, [](PricingRequest& r) { r.JumpsPerYear = 0; }, E::JumpPerYrErr},
    {16, [](PricingRequest& r) { r.PercentTotalVol = 0; }, E::PerTotVolMinErr},
    {16, [](PricingRequest& r) { r.PercentTotalVol = 1; }, E::PerTotVolErr},
    {17, [](PricingRequest& r) { r.InterestRateType = 12; }, E::IntRateTypeErr},
    {18, [](PricingRequest& r) { r.YieldRateType = 12; }, E::YeildRateTypeErr},
};

TEST(LaunchValidation, FirstFailingCheckWinsForEveryPair) {
    // An implied-volatility Eurodollar request reaches every check.
    PricingRequest base = BaseEurodollar();
    base.OptionFunction = ImpliedVol;
    base.MarketPrice = 0.5;
    ASSERT_FALSE(Prepare(base).raised);

    const std::size_t count = std::size(kFaultsInOrder);
    for (std::size_t i = 0; i < count; ++i) {
        const Fault& first = kFaultsInOrder[i];
        PricingRequest alone = base;
        first.apply(alone);
        EXPECT_EQ(Prepare(alone).code, static_cast<std::int32_t>(first.code)) << "fault " << i << " alone";
        for (std::size_t j = i + 1; j < count; ++j) {
            const Fault& later = kFaultsInOrder[j];
            if (later.field == first.field) continue;
            PricingRequest both = base;
            later.apply(both);
            first.apply(both);
            EXPECT_EQ(Prepare(both).code, static_cast<std::int32_t>(first.code)) << "faults " << i << " and " << j;
        }
    }
}

TEST(LaunchValidation, MethodsFillWhatTheyLack) {
    // GenBS never rejects an exercise type: anything but European is American.
    const PricingRequest american = FillGenBS(7, PutOption, Theoretical, 100, 100, 1, 0.2, 0.05, 0, 0, Years, 0, 0,
                                              0, DiscreteCashFlow, Continuous, Continuous);
    EXPECT_EQ(american.ModelNumber, PseudoAmericanModel);
    EXPECT_EQ(Prepare(american).request.ExerciseType, American);
    PricingRequest french = BaseFrench();
    french.ExerciseType = 7;
    EXPECT_EQ(Prepare(french).code, static_cast<std::int32_t>(E::ExerciseTypeErr));

    // Lattice styles pass only for the lattice.
    PricingRequest genbs = BaseGenBS();
    genbs.DividendStyle = DiscreteControlVar;
    EXPECT_EQ(Prepare(genbs).code, static_cast<std::int32_t>(E::DividendStyleErr));

    // Every method's stand-ins pass the checks that run for every request.
    const PricingRequest requests[] = {
        BaseGenBS(),
        BaseFrench(),
        BaseBinomial(),
        FillWhaley(PutOption, Delta, 100, 100, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0, 0, Continuous, Continuous),
        FillBSAmerican(PutOption, Delta, 100, 100, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0, 0, Continuous, Continuous),
        BaseJump(),
        FillAmericanCall(Theoretical, 100, 100, 1, 0.2, 0.05, 0, Years, 1, 0.5, 0, SemiAnnually),
        BaseEurodollar(),
    };
    const std::int32_t models[] = {BSGen, BSFrench, CRRBinomial, Whaleys, AmericanBS, JumpDiff, RGWCall, Eurodollars};
    for (std::size_t i = 0; i < std::size(requests); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].ModelNumber, models[i]);
        const Outcome out = Prepare(requests[i]);
        EXPECT_FALSE(out.raised) << out.message;
    }
}

TEST(LaunchValidation, SilentFloorsAndCeilings) {
    struct Row {
        const char* what;
        PricingRequest (*base)();
        double volatility;
        std::int32_t eurodollarModel;
        double expected;
    };
    const Row rows[] = {
        {"zero", BaseGenBS, 0, 0, 0.002},
        {"negative", BaseGenBS, -3, 0, 0.002},
        {"NaN", BaseGenBS, kNaN, 0, 0.002},
        {"just above the floor", BaseGenBS, 0.0021, 0, 0.0021},
        {"lattice zero", BaseBinomial, 0, 0, 0.015},
        {"lattice NaN", BaseBinomial, kNaN, 0, 0.015},
        {"lattice above its floor", BaseBinomial, 0.016, 0, 0.016},
        {"Eurodollar on the lattice", BaseEurodollar, 0.001, BinomialEuro, 0.015},
        {"Eurodollar closed form", BaseEurodollar, 0.001, GenBSEuro, 0.002},
        {"Eurodollar choice unused outside model 3", BaseGenBS, 0.001, BinomialEuro, 0.002},
        {"ceiling", BaseGenBS, 2e7, 0, 1e7},
        {"infinite", BaseGenBS, kInf, 0, 1e7},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PricingRequest rq = row.base();
        rq.Volatility = row.volatility;
        rq.EurodollarModel = row.eurodollarModel;
        const Outcome out = Prepare(rq);
        ASSERT_FALSE(out.raised) << out.message;
        EXPECT_EQ(out.request.Volatility, row.expected);
    }

    PricingRequest rq = BaseGenBS();
    rq.AssetPrice = 0;
    rq.TimeExpire = rq.TimeTrading = 1e-9;
    rq.InterestRate = 1e-9;
    Outcome out = Prepare(rq);
    EXPECT_EQ(out.request.AssetPrice, 1e-17);
    EXPECT_EQ(out.request.TimeExpire, 1e-7);
    EXPECT_EQ(out.request.InterestRate, 1e-7);
    EXPECT_EQ(out.request.TimeTrading, 1e-9);  // only the calendar time has a floor

    // The expiry ceiling applies in the caller's unit, before days become years.
    rq = BaseGenBS();
    rq.TimeFormat = Days;
    rq.TimeExpire = 2e7;
    rq.YieldRate = 0;
    out = Prepare(rq);
    EXPECT_DOUBLE_EQ(out.request.TimeExpire, 1e7 / 365);

    // Bjerksund-Stensland sensitivities need a non-zero carry difference.
    PricingRequest bs =
        FillBSAmerican(CallOption, Delta, 100, 100, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0, 0, Continuous, Continuous);
    EXPECT_EQ(Prepare(bs).request.YieldRate, 1e-7);
    bs.OptionFunction = Theoretical;
    EXPECT_EQ(Prepare(bs).request.YieldRate, 0.0);
}

TEST(LaunchValidation, DaysBecomeYears) {
    PricingRequest french = FillFrenchBS(European, CallOption, Theoretical, 100, 100, 252, 365, 0.2, 0.05, 0, 0,
                                         Days, 1, 73, 91.25, DiscreteCashFlow, Continuous, Continuous);
    Outcome out = Prepare(french);
    EXPECT_EQ(out.request.TimeExpire, 1.0);
    EXPECT_EQ(out.request.TimeTrading, 1.0);
    EXPECT_DOUBLE_EQ(out.request.TimeExDividend, 0.2);
    EXPECT_DOUBLE_EQ(out.request.DividendFrequency, 0.25);

    PricingRequest genbs = BaseGenBS();
    genbs.TimeFormat = Days;
    genbs.TimeExpire = genbs.TimeTrading = 365;
    out = Prepare(genbs);
    EXPECT_EQ(out.request.TimeExpire, 1.0);
    EXPECT_DOUBLE_EQ(out.request.TimeTrading, 365.0 / 252);
}

TEST(LaunchValidation, RatesAreConvertedOverTheTermInYears) {
    PricingRequest rq = BaseGenBS();
    rq.InterestRate = 0.05;
    rq.InterestRateType = SemiAnnually;
    rq.YieldRate = 0.03;
    rq.YieldRateType = Monthly;
    rq.TimeFormat = Days;
    rq.TimeExpire = rq.TimeTrading = 36.5;  // 0.1 years: monthly compounding applies
    Outcome out = Prepare(rq);
    // Semi-annual over a term shorter than half a year compounds once.
    EXPECT_NEAR(out.request.InterestRate, std::log(1.05), 1e-15);
    EXPECT_NEAR(out.request.YieldRate, 12 * std::log(1 + 0.03 / 12), 1e-15);

    rq.TimeExpire = rq.TimeTrading = 18.25;  // 0.05 years: shorter than a month
    out = Prepare(rq);
    EXPECT_NEAR(out.request.YieldRate, std::log(1.03), 1e-15);
}

TEST(LaunchValidation, DeepNegativeCarryIsAnsweredWithZero) {
    // The stop reads the yield as quoted: -0.9 annually is -2.3 continuously,
    // which over 10 years would pass 20, but the quoted -9 does not.
    struct Row {
        double yield;
        std::int32_t yieldType;
        double years;
        bool priced;
    };
    const Row rows[] = {
        {-0.5, Continuous, 50, false},
        {-1, Continuous, 21, false},
        {-1, Continuous, 20, true},  // the bound itself is still priced
        {-0.9, Annually, 10, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.years);
        PricingRequest rq = BaseGenBS();
        rq.YieldRate = row.yield;
        rq.YieldRateType = row.yieldType;
        rq.TimeExpire = rq.TimeTrading = row.years;
        ErrorCode = 99;
        double result = -1;
        LaunchPlainOption(rq, ErrorCode, result);
        EXPECT_EQ(ErrorCode, 0);
        EXPECT_EQ(result != 0, row.priced) << result;
    }
}

TEST(LaunchValidation, FailureLeavesResultZeroAndNextCallResets) {
    PricingRequest bad = BaseGenBS();
    bad.StrikePrice = 0;
    double result = 7;
    EXPECT_THROW(LaunchPlainOption(bad, ErrorCode, result), PricingFailure);
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(E::StrikePriceErr));

    PricingRequest good = BaseGenBS();
    LaunchPlainOption(good, ErrorCode, result);
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_GT(result, 0.0);
}

TEST(LaunchRouting, UnknownModelsAndFunctions) {
    for (std::int32_t model : {9, -1, 1000}) {
        PricingRequest rq = BaseGenBS();
        rq.ModelNumber = model;
        double result = 7;
        try {
            LaunchPlainOption(rq, ErrorCode, result);
            ADD_FAILURE() << "model " << model << " priced";
        } catch (const PricingFailure& failure) {
            EXPECT_STREQ(failure.Message(), "The Model number is invalid.  Select a valid model number");
        }
        EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(E::OptionModelErr));
        EXPECT_EQ(result, 0.0);
    }
    PricingRequest rq = BaseGenBS();
    rq.OptionFunction = 14;
    double result = 0;
    EXPECT_THROW(LaunchPlainOption(rq, ErrorCode, result), PricingFailure);
    EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(E::OptionFunctionErr));
}

}  // namespace
}  // namespace kestrix
