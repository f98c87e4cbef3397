// One pricing call's inputs, as an automation method fills them (the field
// order is the launcher's parameter order), and the values the launcher
// prepares beside them for the model entries.
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

// Values prepared beside the request and handed to the model entries. The
// defaults are those of a request without dividends (before the asset-price
// and yield slots are filled).
struct PreparedInputs {
    double DividendPV = 0;  // already subtracted from AssetPrice; models add it back where needed
    std::int32_t DividendCount = 0;
    bool DividendsIgnored = true;  // false only when a dividend adjustment was made and kept
    double BumpSize = 1e-5;        // asset-price, time and rate step of the finite differences
    double GammaBumpSize = 0.01;   // asset-price step of Gamma
    // Net of dividends: bumped asset prices for Delta, Lambda and Gamma; the
    // asset price with dividends discounted at r - h, r + h, r + 2h for Rho
    // (and for Psi of model 5); otherwise the asset price itself.
    double AssetPriceDown = 0;
    double AssetPriceUp = 0;
    double AssetPriceUp2 = 0;
    // Yields of the three bumped inputs; they differ from YieldRate only for
    // the continuous dividend styles.
    double YieldRateDown = 0;
    double YieldRateUp = 0;
    double YieldRateUp2 = 0;
    // Left 0 for the models that form their own (lattice, Eurodollar, the
    // American approximations).
    double d1 = 0;
    double d2 = 0;
};

}  // namespace kestrix
