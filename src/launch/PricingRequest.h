// One pricing call's inputs, as an automation method fills them. The field
// order is the launcher's parameter order.
#pragma once

#include <cstdint>

namespace kestrix {

struct PricingRequest {
    std::int32_t ModelNumber = 0;     // enumAvailableModels: 0..7, 8 = pseudo-American
    std::int32_t ExerciseType = 0;    // enumExerciseType
    std::int32_t OptionType = 0;      // enumOptionType
    std::int32_t OptionFunction = 0;  // enumOptionFunctions
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeTrading = 0;  // days or years, see TimeFormat
    double TimeExpire = 0;   // days or years
    double Volatility = 0;
    double InterestRate = 0;  // quoted by InterestRateType
    double YieldRate = 0;     // quoted by YieldRateType
    std::int32_t TimeFormat = 0;  // enumTimeFormat
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    std::int32_t InterestRateType = 0;  // enumCompoundRate
    std::int32_t YieldRateType = 0;     // enumCompoundRate
    double MarketPrice = 0;
    std::int32_t DividendStyle = 0;  // enumDividendStyle, or enumDividendStyleBin for the lattice
    std::int32_t Iterations = 0;
    double JumpsPerYear = 0;
    double PercentTotalVol = 0;
    std::int32_t EurodollarModel = 0;  // enumEurodollarModel
};

}  // namespace kestrix
