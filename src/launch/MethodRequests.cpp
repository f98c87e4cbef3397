#include "launch/MethodRequests.h"

#include "core/Enumerations.h"

namespace kestrix {

namespace {

// Stand-ins for parameters a method does not have; each passes the launcher's
// checks, which run for every request.
constexpr std::int32_t kFixedIterations = 5;
constexpr double kFixedJumpsPerYear = 0.1;
constexpr double kFixedPercentTotalVol = 0.1;

// The fields every method has, in the request's order, with the stand-ins for
// the rest.
PricingRequest CommonRequest(std::int32_t modelNumber, std::int32_t exerciseType, std::int32_t optionType,
                             std::int32_t optionFunction, double assetPrice, double strikePrice, double timeTrading,
                             double timeExpire, double volatility, double interestRate, double yieldRate,
                             std::int32_t timeFormat, double dividendAmount, double timeExDividend,
                             double dividendFrequency, std::int32_t interestRateType, std::int32_t yieldRateType,
                             double marketPrice, std::int32_t dividendStyle) {
    return PricingRequest{
        .ModelNumber = modelNumber,
        .ExerciseType = exerciseType,
        .OptionType = optionType,
        .OptionFunction = optionFunction,
        .AssetPrice = assetPrice,
        .StrikePrice = strikePrice,
        .TimeTrading = timeTrading,
        .TimeExpire = timeExpire,
        .Volatility = volatility,
        .InterestRate = interestRate,
        .YieldRate = yieldRate,
        .TimeFormat = timeFormat,
        .DividendAmount = dividendAmount,
        .TimeExDividend = timeExDividend,
        .DividendFrequency = dividendFrequency,
        .InterestRateType = interestRateType,
        .YieldRateType = yieldRateType,
        .MarketPrice = marketPrice,
        .DividendStyle = dividendStyle,
        .Iterations = kFixedIterations,
        .JumpsPerYear = kFixedJumpsPerYear,
        .PercentTotalVol = kFixedPercentTotalVol,
        .EurodollarModel = GenBSEuro,
    };
}

}  // namespace

PricingRequest FillGenBS(std::int32_t ExerciseType, std::int32_t OptionType, std::int32_t OptionFunction,
                         double AssetPrice, double StrikePrice, double TimeExpire, double Volatility,
                         double InterestRate, double YieldRate, double MarketPrice, std::int32_t TimeFormat,
                         double DividendAmount, double TimeExDividend, double DividendFrequency,
                         std::int32_t DividendStyle, std::int32_t InterestRateType, std::int32_t YieldRateType) {
    const bool european = ExerciseType == European;
    const std::int32_t modelNumber = european ? std::int32_t{BSGen} : std::int32_t{PseudoAmericanModel};
    return CommonRequest(modelNumber, european ? European : American, OptionType,
                         OptionFunction, AssetPrice, StrikePrice, TimeExpire, TimeExpire, Volatility, InterestRate,
                         YieldRate, TimeFormat, DividendAmount, TimeExDividend, DividendFrequency, InterestRateType,
                         YieldRateType, MarketPrice, DividendStyle);
}

PricingRequest FillFrenchBS(std::int32_t ExerciseType, std::int32_t OptionType, std::int32_t OptionFunction,
                            double AssetPrice, double StrikePrice, double TimeTrading, double TimeExpire,
                            double Volatility, double InterestRate, double YieldRate, double MarketPrice,
                            std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                            double DividendFrequency, std::int32_t DividendStyle, std::int32_t InterestRateType,
                            std::int32_t YieldRateType) {
    return CommonRequest(BSFrench, ExerciseType, OptionType, OptionFunction, AssetPrice, StrikePrice, TimeTrading,
                         TimeExpire, Volatility, InterestRate, YieldRate, TimeFormat, DividendAmount,
                         TimeExDividend, DividendFrequency, InterestRateType, YieldRateType, MarketPrice,
                         DividendStyle);
}

PricingRequest FillBinomial(std::int32_t ExerciseType, std::int32_t OptionType, std::int32_t OptionFunction,
                            std::int32_t Iterations, double AssetPrice, double StrikePrice, double TimeExpire,
                            double Volatility, double InterestRate, double YieldRate, double MarketPrice,
                            std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                            double DividendFrequency, std::int32_t DividendStyle, std::int32_t InterestRateType,
                            std::int32_t YieldRateType) {
    PricingRequest rq = CommonRequest(CRRBinomial, ExerciseType, OptionType, OptionFunction, AssetPrice,
                                      StrikePrice, TimeExpire, TimeExpire, Volatility, InterestRate, YieldRate,
                                      TimeFormat, DividendAmount, TimeExDividend, DividendFrequency,
                                      InterestRateType, YieldRateType, MarketPrice, DividendStyle);
    rq.Iterations = Iterations;
    return rq;
}

PricingRequest FillWhaley(std::int32_t OptionType, std::int32_t OptionFunction, double AssetPrice,
                          double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                          double YieldRate, double MarketPrice, std::int32_t TimeFormat, double DividendAmount,
                          double TimeExDividend, double DividendFrequency, std::int32_t DividendStyle,
                          std::int32_t InterestRateType, std::int32_t YieldRateType) {
    return CommonRequest(Whaleys, American, OptionType, OptionFunction, AssetPrice, StrikePrice, TimeExpire,
                         TimeExpire, Volatility, InterestRate, YieldRate, TimeFormat, DividendAmount,
                         TimeExDividend, DividendFrequency, InterestRateType, YieldRateType, MarketPrice,
                         DividendStyle);
}

PricingRequest FillBSAmerican(std::int32_t OptionType, std::int32_t OptionFunction, double AssetPrice,
                              double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                              double YieldRate, double MarketPrice, std::int32_t TimeFormat, double DividendAmount,
                              double TimeExDividend, double DividendFrequency, std::int32_t DividendStyle,
                              std::int32_t InterestRateType, std::int32_t YieldRateType) {
    return CommonRequest(AmericanBS, American, OptionType, OptionFunction, AssetPrice, StrikePrice, TimeExpire,
                         TimeExpire, Volatility, InterestRate, YieldRate, TimeFormat, DividendAmount,
                         TimeExDividend, DividendFrequency, InterestRateType, YieldRateType, MarketPrice,
                         DividendStyle);
}

PricingRequest FillJumpDiffusion(std::int32_t OptionType, std::int32_t OptionFunction, double AssetPrice,
                                 double StrikePrice, double TimeExpire, double Volatility, double JumpsPerYear,
                                 double PercentTotalVol, double InterestRate, double YieldRate, double MarketPrice,
                                 std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                                 double DividendFrequency, std::int32_t DividendStyle, std::int32_t InterestRateType,
                                 std::int32_t YieldRateType) {
    PricingRequest rq = CommonRequest(JumpDiff, European, OptionType, OptionFunction, AssetPrice, StrikePrice,
                                      TimeExpire, TimeExpire, Volatility, InterestRate, YieldRate, TimeFormat,
                                      DividendAmount, TimeExDividend, DividendFrequency, InterestRateType,
                                      YieldRateType, MarketPrice, DividendStyle);
    rq.JumpsPerYear = JumpsPerYear;
    rq.PercentTotalVol = PercentTotalVol;
    return rq;
}

PricingRequest FillAmericanCall(std::int32_t OptionFunction, double AssetPrice, double StrikePrice,
                                double TimeExpire, double Volatility, double InterestRate, double MarketPrice,
                                std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                                double DividendFrequency, std::int32_t InterestRateType) {
    return CommonRequest(RGWCall, American, CallOption, OptionFunction, AssetPrice, StrikePrice, TimeExpire,
                         TimeExpire, Volatility, InterestRate, 0, TimeFormat, DividendAmount, TimeExDividend,
                         DividendFrequency, InterestRateType, InterestRateType, MarketPrice, DiscreteCashFlow);
}

PricingRequest FillEurodollar(std::int32_t Model, std::int32_t ExerciseType, std::int32_t OptionType,
                              std::int32_t OptionFunction, double AssetPrice, double StrikePrice, double TimeExpire,
                              double Volatility, double InterestRate, std::int32_t Iterations, double MarketPrice,
                              std::int32_t TimeFormat, std::int32_t InterestRateType) {
    PricingRequest rq = CommonRequest(Eurodollars, ExerciseType, OptionType, OptionFunction, AssetPrice,
                                      StrikePrice, TimeExpire, TimeExpire, Volatility, InterestRate, 0, TimeFormat,
                                      0, 0, 0, InterestRateType, Continuous, MarketPrice, DiscreteCashFlow);
    rq.Iterations = Iterations;
    rq.EurodollarModel = Model;
    return rq;
}

}  // namespace kestrix
