#include "approx/JumpDiffusion.h"

#include <cmath>

#include "approx/ApproxFrame.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"

namespace kestrix {

double JumpDiffusionLegValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q,
                             double /*d1*/, double /*d2*/, double dividendPV, double lambda, double gamma) {
    const double variance = s * s;
    const double jumpVol = std::sqrt(variance * gamma / lambda);  // volatility of one jump
    const double diffusionVol = std::sqrt((1 - gamma) * variance);
    const double expectedJumps = lambda * T;
    const double noJumpProbability = std::exp(-lambda * T);

    double value = 0;
    for (int i = 0; i < kJumpTerms; ++i) {
        // With i jumps the variance per year grows by i/T jump variances.
        const double vol = std::sqrt(diffusionVol * diffusionVol + (i / T) * jumpVol * jumpVol);
        double d1 = 0, d2 = 0;
        if (!ComputeD1D2(JumpDiff, d1, d2, S, X, r, q, T, T, vol)) return 0;
        const double weight = noJumpProbability * Power(expectedJumps, i) / Factorial(i);
        value += weight * GbsValue(European, optionType, S, X, T, T, vol, r, q, d1, d2, dividendPV);
    }
    return value;
}

double JumpDiffusionValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q,
                          double d1, double d2, double dividendPV, double lambda, double gamma) {
    switch (optionType) {
        case CallOption:
        case PutOption:
            return JumpDiffusionLegValue(optionType, S, X, T, s, r, q, d1, d2, dividendPV, lambda, gamma);
        default:
            return JumpDiffusionLegValue(CallOption, S, X, T, s, r, q, d1, d2, dividendPV, lambda, gamma) +
                   JumpDiffusionLegValue(PutOption, S, X, T, s, r, q, d1, d2, dividendPV, lambda, gamma);
    }
}

double MertonJumpDiffusion(std::int32_t optionType, std::int32_t optionFunction, double S, double X, double T,
                           double s, double r, double q, double marketPrice, double /*d1*/, double /*d2*/,
                           double dividendPV, double jumpsPerYear, double percentTotalVol, double gammaBumpSize,
                           double bumpSize, double assetPriceDown, double assetPriceUp, double yieldRateDown,
                           double yieldRateUp, double yieldRateUp2, std::int32_t& errorCode) {
    // d1/d2 are recomputed for every term, so none are carried into the frame.
    const auto value = [=](std::int32_t type, double spot, double strike, double expiry, double vol, double rate,
                           double yield, double /*dividendTimeShift*/) {
        return JumpDiffusionValue(type, spot, strike, expiry, vol, rate, yield, 0, 0, dividendPV, jumpsPerYear,
                                  percentTotalVol);
    };
    return DispatchOptionFunction(value, optionType, optionFunction, S, X, T, s, r, q, marketPrice, dividendPV,
                                  gammaBumpSize, bumpSize, assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp,
                                  yieldRateUp2, errorCode);
}

}  // namespace kestrix
