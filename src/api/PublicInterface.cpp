// The C++ interface: each function fills the request exactly as the object's
// method of the same name does and settles the launch by the same rule, so
// the two answer alike to the bit.
#include "kestrix/kestrix.hpp"

#include "launch/LaunchOutcome.h"
#include "launch/MethodRequests.h"

namespace kestrix::v1 {

namespace {

Result Answer(PricingRequest&& request) noexcept {
    const LaunchOutcome outcome = SettleLaunch(request);
    return Result(outcome.value, static_cast<enumOErrCodes>(outcome.code),
                  outcome.message != nullptr ? outcome.message : "");
}

}  // namespace

Result GenBS(const GenBSInputs& in) noexcept {
    return Answer(FillGenBS(in.ExerciseType, in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice,
                            in.TimeExpire, in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice,
                            in.TimeFormat, in.DividendAmount, in.TimeExDividend, in.DividendFrequency,
                            in.DividendStyle, in.InterestRateType, in.YieldRateType));
}

Result FrenchBS(const FrenchBSInputs& in) noexcept {
    return Answer(FillFrenchBS(in.ExerciseType, in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice,
                               in.TimeTrading, in.TimeExpire, in.Volatility, in.InterestRate, in.YieldRate,
                               in.MarketPrice, in.TimeFormat, in.DividendAmount, in.TimeExDividend,
                               in.DividendFrequency, in.DividendStyle, in.InterestRateType, in.YieldRateType));
}

Result Binomial(const BinomialInputs& in) noexcept {
    return Answer(FillBinomial(in.ExerciseType, in.OptionType, in.OptionFunction, in.Iterations, in.AssetPrice,
                               in.StrikePrice, in.TimeExpire, in.Volatility, in.InterestRate, in.YieldRate,
                               in.MarketPrice, in.TimeFormat, in.DividendAmount, in.TimeExDividend,
                               in.DividendFrequency, in.DividendStyle, in.InterestRateType, in.YieldRateType));
}

Result Whaley(const WhaleyInputs& in) noexcept {
    return Answer(FillWhaley(in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire,
                             in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice, in.TimeFormat,
                             in.DividendAmount, in.TimeExDividend, in.DividendFrequency, in.DividendStyle,
                             in.InterestRateType, in.YieldRateType));
}

Result BSAmerican(const BSAmericanInputs& in) noexcept {
    return Answer(FillBSAmerican(in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire,
                                 in.Volatility, in.InterestRate, in.YieldRate, in.MarketPrice, in.TimeFormat,
                                 in.DividendAmount, in.TimeExDividend, in.DividendFrequency, in.DividendStyle,
                                 in.InterestRateType, in.YieldRateType));
}

Result JumpDiffusion(const JumpDiffusionInputs& in) noexcept {
    return Answer(FillJumpDiffusion(in.OptionType, in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire,
                                    in.Volatility, in.JumpsPerYear, in.PercentTotalVol, in.InterestRate,
                                    in.YieldRate, in.MarketPrice, in.TimeFormat, in.DividendAmount,
                                    in.TimeExDividend, in.DividendFrequency, in.DividendStyle,
                                    in.InterestRateType, in.YieldRateType));
}

Result AmericanCall(const AmericanCallInputs& in) noexcept {
    return Answer(FillAmericanCall(in.OptionFunction, in.AssetPrice, in.StrikePrice, in.TimeExpire, in.Volatility,
                                   in.InterestRate, in.MarketPrice, in.TimeFormat, in.DividendAmount,
                                   in.TimeExDividend, in.DividendFrequency, in.InterestRateType));
}

Result Eurodollar(const EurodollarInputs& in) noexcept {
    return Answer(FillEurodollar(in.Model, in.ExerciseType, in.OptionType, in.OptionFunction, in.AssetPrice,
                                 in.StrikePrice, in.TimeExpire, in.Volatility, in.InterestRate, in.Iterations,
                                 in.MarketPrice, in.TimeFormat, in.InterestRateType));
}

const char* LibraryVersion() noexcept { return KESTRIX_VERSION_STRING; }

}  // namespace kestrix::v1
