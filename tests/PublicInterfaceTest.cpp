// The C++ interface <kestrix/kestrix.hpp> answers as the automation object:
// the same value to the bit, or the same code with the object's error text,
// for a table of requests (failures among them) and for random ones.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "automation/OptionsImpl.h"
#include "kestrix/kestrix.hpp"
#include "platform/ErrorInfo.h"

namespace kestrix {
namespace {

// What a caller learns of one call.
struct Answer {
    std::int32_t code = 0;
    std::uint64_t bits = 0;  // of the value, on success
    std::string text;        // the error's text, on failure
};

std::string ErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return "(no error information)";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::string description = text == nullptr ? "" : std::string(text, SysStringLen(text));
    SysFreeString(text);
    info->Release();
    return description;
}

Answer FromObject(HRESULT hr, double value) {
    Answer answer{hr, 0, ""};
    if (hr == S_OK) {
        answer.bits = std::bit_cast<std::uint64_t>(value);
    } else {
        answer.text = ErrorDescription();
    }
    return answer;
}

Answer FromInterface(const Result& result) {
    Answer answer{static_cast<std::int32_t>(result.code()), 0, result.text()};
    if (result.ok()) {
        answer.bits = std::bit_cast<std::uint64_t>(result.value());
        EXPECT_STREQ(result.text(), "");
    } else {
        EXPECT_EQ(result.value_or(-7.5), -7.5);
        try {
            (void)result.value();
            ADD_FAILURE() << "value() of a failed call did not throw";
        } catch (const PricingError& error) {
            EXPECT_EQ(error.code(), result.code());
            EXPECT_STREQ(error.what(), result.text());
        }
    }
    return answer;
}

// The object's method for each input struct, with the struct's fields as its
// arguments in the interface's order.
HRESULT Call(IKestrix* o, const GenBSInputs& in, double* r) {
    return o->GenBS(in.ExerciseType, in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire,
                    in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice, in.TimeFormat, in.DividendAmount,
                    in.TimeExDividend, in.DividendFrequency, in.DividendStyle, in.InterestRateType,
                    in.YieldRateType, r);
}
HRESULT Call(IKestrix* o, const FrenchBSInputs& in, double* r) {
    return o->FrenchBS(in.ExerciseType, in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice,
                       in.TimeTrading, in.TimeExpire, in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice,
                       in.TimeFormat, in.DividendAmount, in.TimeExDividend, in.DividendFrequency, in.DividendStyle,
                       in.InterestRateType, in.YieldRateType, r);
}
HRESULT Call(IKestrix* o, const BinomialInputs& in, double* r) {
    return o->Binomial(in.ExerciseType, in.OptionType, in.OptionFunction, in.Iterations, in.AssetPrice,
                       in.StrikePrice, in.TimeExpire, in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice,
                       in.TimeFormat, in.DividendAmount, in.TimeExDividend, in.DividendFrequency, in.DividendStyle,
                       in.InterestRateType, in.YieldRateType, r);
}
HRESULT CallWhaley(IKestrix* o, const WhaleyInputs& in, double* r) {
    return o->Whaley(in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire, in.Volatility,
                     in.InterestRate, in.YieldRate, in.MarketPrice, in.TimeFormat, in.DividendAmount,
                     in.TimeExDividend, in.DividendFrequency, in.DividendStyle, in.InterestRateType,
                     in.YieldRateType, r);
}
HRESULT CallBSAmerican(IKestrix* o, const BSAmericanInputs& in, double* r) {
    return o->BSAmerican(in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire,
                         in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice, in.TimeFormat,
                         in.DividendAmount, in.TimeExDividend, in.DividendFrequency, in.DividendStyle,
                         in.InterestRateType, in.YieldRateType, r);
}
HRESULT Call(IKestrix* o, const JumpDiffusionInputs& in, double* r) {
    return o->JumpDiffusion(in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire,
                            in.Volatility, in.JumpsPerYear, in.PercentTotalVol, in.InterestRate, in.YieldRate,
                            in.MarketPrice, in.TimeFormat, in.DividendAmount, in.TimeExDividend,
                            in.DividendFrequency, in.DividendStyle, in.InterestRateType, in.YieldRateType, r);
}
HRESULT Call(IKestrix* o, const AmericanCallInputs& in, double* r) {
    return o->AmericanCall(in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire, in.Volatility,
                           in.InterestRate, in.MarketPrice, in.TimeFormat, in.DividendAmount, in.TimeExDividend,
                           in.DividendFrequency, in.InterestRateType, r);
}
HRESULT Call(IKestrix* o, const EurodollarInputs& in, double* r) {
    return o->Eurodollar(in.Model, in.ExerciseType, in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice,
                         in.TimeExpire, in.Volatility, in.InterestRate, in.Iterations, in.MarketPrice, in.TimeFormat,
                         in.InterestRateType, r);
}

struct Case {
    std::string what;
    std::function<Answer(IKestrix*)> object;
    std::function<Answer()> api;
};

template <typename Inputs>
Case Make(std::string what, Result (*api)(const Inputs&) noexcept,
          HRESULT (*object)(IKestrix*, const Inputs&, double*), const Inputs& inputs) {
    return {std::move(what),
            [=](IKestrix* o) {
                SetErrorInfo(0, nullptr);
                double value = 0;
                const HRESULT hr = object(o, inputs, &value);
                return FromObject(hr, value);
            },
            [=] { return FromInterface(api(inputs)); }};
}
template <typename Inputs>
Case Make(std::string what, Result (*api)(const Inputs&) noexcept, const Inputs& inputs) {
    return Make<Inputs>(std::move(what), api, static_cast<HRESULT (*)(IKestrix*, const Inputs&, double*)>(&Call),
                        inputs);
}

std::vector<Case> Table() {
    const GenBSInputs call{.ExerciseType = European, .OptionType = CallOption, .OptionFunction = Theoretical,
                           .AssetPrice = 100, .StrikePrice = 95, .TimeExpire = 0.5, .Volatility = 0.25,
                           .InterestRate = 0.05, .YieldRate = 0.01, .TimeFormat = Years};
    const AmericanApproxInputs put{.OptionType = PutOption, .OptionFunction = Theoretical, .AssetPrice = 90,
                                   .StrikePrice = 100, .TimeExpire = 0.75, .Volatility = 0.3, .InterestRate = 0.08,
                                   .YieldRate = 0.02, .TimeFormat = Years};
    std::vector<Case> cases;
    cases.push_back(Make("GenBS value", &GenBS, call));
    cases.push_back(Make("GenBS in days, left-out TimeFormat", &GenBS,
                         GenBSInputs{.ExerciseType = European, .OptionType = PutOption, .OptionFunction = Delta,
                                     .AssetPrice = 100, .StrikePrice = 100, .TimeExpire = 180, .Volatility = 0.2,
                                     .InterestRate = 0.05}));
    auto american = call;
    american.ExerciseType = American;
    american.OptionFunction = Gamma;
    american.DividendAmount = 1.5;
    american.TimeExDividend = 0.1;
    american.DividendFrequency = 0.25;
    cases.push_back(Make("GenBS American with a dividend schedule", &GenBS, american));
    auto implied = call;
    implied.OptionFunction = ImpliedVol;
    implied.MarketPrice = 9.5;
    cases.push_back(Make("GenBS implied volatility", &GenBS, implied));
    implied.MarketPrice = 0;
    cases.push_back(Make("GenBS implied volatility without a market price", &GenBS, implied));
    auto zeroStrike = call;
    zeroStrike.StrikePrice = 0;
    cases.push_back(Make("GenBS zero strike", &GenBS, zeroStrike));
    auto badType = call;
    badType.OptionType = static_cast<enumOptionType>(7);
    cases.push_back(Make("GenBS out-of-range option type", &GenBS, badType));
    auto monthly = call;
    monthly.InterestRateType = Monthly;
    monthly.YieldRateType = static_cast<enumCompoundRate>(12);
    cases.push_back(Make("GenBS out-of-range yield rate type", &GenBS, monthly));
    cases.push_back(Make("GenBS with everything left out", &GenBS, GenBSInputs{}));

    cases.push_back(Make("FrenchBS Theta", &FrenchBS,
                         FrenchBSInputs{.ExerciseType = European, .OptionType = Straddle, .OptionFunction = Theta,
                                        .AssetPrice = 100, .StrikePrice = 100, .TimeTrading = 120,
                                        .TimeExpire = 180, .Volatility = 0.2, .InterestRate = 0.05}));
    cases.push_back(Make("FrenchBS zero trading time", &FrenchBS,
                         FrenchBSInputs{.ExerciseType = European, .OptionType = CallOption,
                                        .OptionFunction = Theoretical, .AssetPrice = 100, .StrikePrice = 100,
                                        .TimeExpire = 180, .Volatility = 0.2, .InterestRate = 0.05}));

    const BinomialInputs lattice{.ExerciseType = American, .OptionType = PutOption, .OptionFunction = Vega,
                                 .Iterations = 150, .AssetPrice = 100, .StrikePrice = 105, .TimeExpire = 1,
                                 .Volatility = 0.3, .InterestRate = 0.06, .YieldRate = 0.02, .TimeFormat = Years,
                                 .DividendAmount = 2, .TimeExDividend = 0.4, .DividendStyle = DiscreteControlVar};
    cases.push_back(Make("Binomial control variate Vega", &Binomial, lattice));
    auto fewSteps = lattice;
    fewSteps.Iterations = 4;
    cases.push_back(Make("Binomial too few iterations", &Binomial, fewSteps));
    fewSteps.Iterations = 501;
    cases.push_back(Make("Binomial too many iterations", &Binomial, fewSteps));

    cases.push_back(Make<WhaleyInputs>("Whaley value", &Whaley, &CallWhaley, put));
    auto lambda = put;
    lambda.OptionFunction = Lambda;
    cases.push_back(Make<WhaleyInputs>("Whaley Lambda", &Whaley, &CallWhaley, lambda));
    auto underflow = put;  // the model's power underflows: success with 0
    underflow.AssetPrice = 1e6;
    underflow.Volatility = 0.05;
    underflow.InterestRate = 0.1;
    underflow.YieldRate = 0;
    cases.push_back(Make<WhaleyInputs>("Whaley maths-library error", &Whaley, &CallWhaley, underflow));
    auto strike = put;
    strike.OptionFunction = ImpliedStrike;
    strike.MarketPrice = 12;
    cases.push_back(Make<BSAmericanInputs>("BSAmerican implied strike", &BSAmerican, &CallBSAmerican, strike));
    auto negativeYield = put;
    negativeYield.YieldRate = -2;
    cases.push_back(Make<BSAmericanInputs>("BSAmerican yield below -100%", &BSAmerican, &CallBSAmerican,
                                           negativeYield));

    cases.push_back(Make("JumpDiffusion Rho", &JumpDiffusion,
                         JumpDiffusionInputs{.OptionType = CallOption, .OptionFunction = Rho, .AssetPrice = 100,
                                             .StrikePrice = 100, .TimeExpire = 0.5, .Volatility = 0.25,
                                             .JumpsPerYear = 3, .PercentTotalVol = 0.4, .InterestRate = 0.05,
                                             .TimeFormat = Years}));
    cases.push_back(Make("JumpDiffusion no jumps", &JumpDiffusion,
                         JumpDiffusionInputs{.OptionType = CallOption, .OptionFunction = Theoretical,
                                             .AssetPrice = 100, .StrikePrice = 100, .TimeExpire = 0.5,
                                             .Volatility = 0.25, .PercentTotalVol = 0.4, .InterestRate = 0.05,
                                             .TimeFormat = Years}));

    const AmericanCallInputs rgw{.OptionFunction = Theoretical, .AssetPrice = 100, .StrikePrice = 100,
                                 .TimeExpire = 1, .Volatility = 0.3, .InterestRate = 0.05, .TimeFormat = Years,
                                 .DividendAmount = 3, .TimeExDividend = 0.5};
    cases.push_back(Make("AmericanCall with a cash dividend", &AmericanCall, rgw));
    auto negativeDividend = rgw;
    negativeDividend.DividendAmount = -1;
    cases.push_back(Make("AmericanCall negative dividend", &AmericanCall, negativeDividend));

    const EurodollarInputs future{.Model = BinomialEuro, .ExerciseType = American, .OptionType = CallOption,
                                  .OptionFunction = Psi, .AssetPrice = 94.5, .StrikePrice = 95, .TimeExpire = 0.5,
                                  .Volatility = 0.2, .InterestRate = 0.05, .Iterations = 100, .TimeFormat = Years};
    cases.push_back(Make("Eurodollar binomial Psi", &Eurodollar, future));
    auto above = future;
    above.AssetPrice = 101;
    cases.push_back(Make("Eurodollar price above 100", &Eurodollar, above));
    auto model = future;
    model.Model = static_cast<enumEurodollarModel>(4);
    cases.push_back(Make("Eurodollar unknown model", &Eurodollar, model));
    return cases;
}

class PublicInterface : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)), S_OK);
    }
    void TearDown() override {
        if (object != nullptr) object->Release();
        SetErrorInfo(0, nullptr);
    }
    void ExpectSameAnswer(const Case& c) {
        SCOPED_TRACE(c.what);
        const Answer expected = c.object(object);
        const Answer actual = c.api();
        EXPECT_EQ(actual.code, expected.code);
        EXPECT_EQ(actual.bits, expected.bits) << std::bit_cast<double>(actual.bits) << " against "
                                              << std::bit_cast<double>(expected.bits);
        EXPECT_EQ(actual.text, expected.text);
    }
    IKestrix* object = nullptr;
};

TEST_F(PublicInterface, AnswersAsTheObjectForATableOfRequests) {
    int failures = 0;
    for (const Case& c : Table()) {
        ExpectSameAnswer(c);
        failures += c.api().code != 0;
    }
    EXPECT_GE(failures, 10) << "the table must keep its failing requests";
    EXPECT_STREQ(ErrorText(enumOErrCodes::StrikePriceErr), "StrikePrice must be greater than 0.");
    EXPECT_STREQ(LibraryVersion(), KESTRIX_VERSION_STRING);
}

// Random requests of every method, inputs now and then out of range, so that
// any difference in how a field reaches the request shows.
TEST_F(PublicInterface, AnswersAsTheObjectForRandomRequests) {
    std::mt19937_64 random(20261209);
    const auto pick = [&](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    const auto choose = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
    for (int trial = 0; trial < 300; ++trial) {
        const auto exercise = static_cast<enumExerciseType>(choose(0, 1));
        const auto type = static_cast<enumOptionType>(choose(0, 4) == 0 ? 0 : choose(1, 3));
        const auto function = static_cast<enumOptionFunctions>(choose(1, 13));
        const double spot = pick(-5, 150), strike = pick(-5, 150), expiry = pick(0, 2), vol = pick(0.01, 0.8);
        const double rate = pick(-0.01, 0.12), yield = pick(-0.05, 0.08), market = pick(0, 20);
        const auto format = static_cast<enumTimeFormat>(choose(0, 1));
        const double amount = pick(0, 3), exDividend = pick(0, 1), frequency = pick(0, 0.5);
        const auto style = static_cast<enumDividendStyle>(choose(0, 1));
        const auto rateType = static_cast<enumCompoundRate>(choose(0, 12));
        const auto yieldType = static_cast<enumCompoundRate>(choose(0, 11));
        const std::int32_t steps = choose(3, 120);
        const std::vector<Case> cases = {
            Make("GenBS", &GenBS,
                 GenBSInputs{exercise, type, function, spot, strike, expiry, vol, rate, yield, market, format, amount,
                             exDividend, frequency, style, rateType, yieldType}),
            Make("FrenchBS", &FrenchBS,
                 FrenchBSInputs{exercise, type, function, spot, strike, expiry * pick(0.5, 1), expiry, vol, rate,
                                yield, market, format, amount, exDividend, frequency, style, rateType, yieldType}),
            Make("Binomial", &Binomial,
                 BinomialInputs{exercise, type, function, steps, spot, strike, expiry, vol, rate, yield, market,
                                format, amount, exDividend, frequency,
                                static_cast<enumDividendStyleBin>(choose(0, 3)), rateType, yieldType}),
            Make<WhaleyInputs>("Whaley", &Whaley, &CallWhaley,
                               {type, function, spot, strike, expiry, vol, rate, yield, market, format, amount,
                                exDividend, frequency, style, rateType, yieldType}),
            Make<BSAmericanInputs>("BSAmerican", &BSAmerican, &CallBSAmerican,
                                   {type, function, spot, strike, expiry, vol, rate, yield, market, format, amount,
                                    exDividend, frequency, style, rateType, yieldType}),
            Make("JumpDiffusion", &JumpDiffusion,
                 JumpDiffusionInputs{type, function, spot, strike, expiry, vol, pick(-1, 5), pick(-0.1, 1.1), rate,
                                     yield, market, format, amount, exDividend, frequency, style, rateType,
                                     yieldType}),
            Make("AmericanCall", &AmericanCall,
                 AmericanCallInputs{function, spot, strike, expiry, vol, rate, market, format, amount, exDividend,
                                    frequency, rateType}),
            Make("Eurodollar", &Eurodollar,
                 EurodollarInputs{static_cast<enumEurodollarModel>(choose(0, 4)), exercise, type, function,
                                  pick(80, 101), pick(80, 101), expiry, vol, rate, steps, market, format, rateType}),
        };
        for (const Case& c : cases) ExpectSameAnswer(c);
        if (HasFailure()) {
            ADD_FAILURE() << "trial " << trial;
            return;
        }
    }
}

}  // namespace
}  // namespace kestrix
