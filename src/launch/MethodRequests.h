// How each automation method turns its parameters into a PricingRequest: the
// model number, and fixed values for the parameters the method does not have.
// Parameters come in the interface's order; enumerations are passed as plain
// 32-bit values so that out-of-range input reaches the launcher's checks.
//
// Values a method lacks: Iterations 5, JumpsPerYear and PercentTotalVol 0.1,
// EurodollarModel 0, TimeTrading = TimeExpire (all but FrenchBS), and for
// AmericanCall and Eurodollar no yield (AmericanCall quotes its zero yield by
// its InterestRateType; Eurodollar takes no dividends either).
#pragma once

#include <cstdint>

#include "core/PricingRequest.h"

namespace kestrix {

// European exercise prices with model 0, anything else as American with the
// pseudo-American approximation (model 8).
PricingRequest FillGenBS(std::int32_t ExerciseType, std::int32_t OptionType, std::int32_t OptionFunction,
                         double AssetPrice, double StrikePrice, double TimeExpire, double Volatility,
                         double InterestRate, double YieldRate, double MarketPrice, std::int32_t TimeFormat,
                         double DividendAmount, double TimeExDividend, double DividendFrequency,
                         std::int32_t DividendStyle, std::int32_t InterestRateType, std::int32_t YieldRateType);

PricingRequest FillFrenchBS(std::int32_t ExerciseType, std::int32_t OptionType, std::int32_t OptionFunction,
                            double AssetPrice, double StrikePrice, double TimeTrading, double TimeExpire,
                            double Volatility, double InterestRate, double YieldRate, double MarketPrice,
                            std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                            double DividendFrequency, std::int32_t DividendStyle, std::int32_t InterestRateType,
                            std::int32_t YieldRateType);

// DividendStyle is an enumDividendStyleBin value.
PricingRequest FillBinomial(std::int32_t ExerciseType, std::int32_t OptionType, std::int32_t OptionFunction,
                            std::int32_t Iterations, double AssetPrice, double StrikePrice, double TimeExpire,
                            double Volatility, double InterestRate, double YieldRate, double MarketPrice,
                            std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                            double DividendFrequency, std::int32_t DividendStyle, std::int32_t InterestRateType,
                            std::int32_t YieldRateType);

PricingRequest FillWhaley(std::int32_t OptionType, std::int32_t OptionFunction, double AssetPrice,
                          double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                          double YieldRate, double MarketPrice, std::int32_t TimeFormat, double DividendAmount,
                          double TimeExDividend, double DividendFrequency, std::int32_t DividendStyle,
                          std::int32_t InterestRateType, std::int32_t YieldRateType);

PricingRequest FillBSAmerican(std::int32_t OptionType, std::int32_t OptionFunction, double AssetPrice,
                              double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                              double YieldRate, double MarketPrice, std::int32_t TimeFormat, double DividendAmount,
                              double TimeExDividend, double DividendFrequency, std::int32_t DividendStyle,
                              std::int32_t InterestRateType, std::int32_t YieldRateType);

PricingRequest FillJumpDiffusion(std::int32_t OptionType, std::int32_t OptionFunction, double AssetPrice,
                                 double StrikePrice, double TimeExpire, double Volatility, double JumpsPerYear,
                                 double PercentTotalVol, double InterestRate, double YieldRate, double MarketPrice,
                                 std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                                 double DividendFrequency, std::int32_t DividendStyle, std::int32_t InterestRateType,
                                 std::int32_t YieldRateType);

PricingRequest FillAmericanCall(std::int32_t OptionFunction, double AssetPrice, double StrikePrice,
                                double TimeExpire, double Volatility, double InterestRate, double MarketPrice,
                                std::int32_t TimeFormat, double DividendAmount, double TimeExDividend,
                                double DividendFrequency, std::int32_t InterestRateType);

// Model is an enumEurodollarModel value.
PricingRequest FillEurodollar(std::int32_t Model, std::int32_t ExerciseType, std::int32_t OptionType,
                              std::int32_t OptionFunction, double AssetPrice, double StrikePrice, double TimeExpire,
                              double Volatility, double InterestRate, std::int32_t Iterations, double MarketPrice,
                              std::int32_t TimeFormat, std::int32_t InterestRateType);

}  // namespace kestrix
