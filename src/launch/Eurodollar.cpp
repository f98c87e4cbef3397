#include "launch/Eurodollar.h"

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "core/PseudoAmerican.h"
#include "lattice/CRRBinomial.h"

namespace kestrix {

std::int32_t EurodollarRateOptionType(std::int32_t optionType) noexcept {
    switch (optionType) {
        case CallOption: return PutOption;
        case PutOption: return CallOption;
        default: return optionType;
    }
}

double EurodollarToIndexTerms(std::int32_t optionFunction, double result) noexcept {
    switch (optionFunction) {
        case Delta:
        case Lambda: return -result;
        case ImpliedStrike: {
            if (result != 0) result = 100 - result;
            return result < 0 ? 0 : result;
        }
        default: return result;
    }
}

double EurodollarOption(std::int32_t eurodollarModel, std::int32_t exerciseType, std::int32_t optionType,
                        std::int32_t optionFunction, std::int32_t iterations, double assetPrice, double strikePrice,
                        double T, double sigma, double r, double dividendAmount, double timeExDividend,
                        double dividendFrequency, std::int32_t dividendCount, double dividendPV,
                        std::int32_t dividendStyle, bool dividendsIgnored, double marketPrice, double gammaBumpSize,
                        double bumpSize, double assetPriceDown, double assetPriceUp, double yieldRateDown,
                        double yieldRateUp, double yieldRateUp2, std::int32_t& errorCode) {
    // The bumped slots take the rate before the zero guard below.
    assetPriceDown = 100 - assetPrice;
    assetPriceUp = 100 - assetPrice;
    double S = 100 - assetPrice;
    if (S == 0) S = 1e-17;
    const double K = 100 - strikePrice;
    const double q = r;  // futures carry nothing
    yieldRateDown = r;
    yieldRateUp = r;
    const std::int32_t type = EurodollarRateOptionType(optionType);

    double d1 = 0, d2 = 0;
    if (!ComputeD1D2(EurodollarModel, d1, d2, S, K, r, q, T, T, sigma)) return 0;

    double result = 0;
    if (optionFunction == Rho || optionFunction == Psi) {
        // With q = r the two coincide: the sensitivity to the rate when the
        // yield moves with it.
        switch (eurodollarModel) {
            case GenBSEuro:
                if (exerciseType == European) {
                    result = GbsRho(exerciseType, type, S, K, T, T, sigma, r, q, dividendPV, d1, d2) +
                             GbsPsi(type, S, K, T, T, sigma, r, q, d1);
                } else {
                    result = PseudoAmericanRhoPlusPsi(type, S, K, T, sigma, r, q, dividendAmount, timeExDividend,
                                                      dividendFrequency, dividendPV, d1, d2, dividendsIgnored,
                                                      dividendCount);
                }
                break;
            case WhaleyEuro:
                result = BawRho(type, S, K, T, sigma, r, q, d1, d2, dividendPV, bumpSize, assetPriceDown,
                                assetPriceUp, yieldRateDown, yieldRateUp) +
                         BawPsi(type, S, K, T, sigma, r, q, d1, d2, dividendPV, bumpSize);
                break;
            case BSAmericanEuro:
                result = BjsRho(type, S, K, T, sigma, r, q, d1, d2, dividendPV, bumpSize, assetPriceDown,
                                assetPriceUp, yieldRateDown, yieldRateUp) +
                         BjsPsi(type, S, K, T, sigma, r, q, d1, d2, dividendPV, bumpSize);
                break;
            case BinomialEuro:
                result = CrrFuturesRho(exerciseType, type, optionFunction, iterations, S, K, T, sigma, r, q,
                                       dividendAmount, timeExDividend, dividendFrequency, dividendCount, bumpSize,
                                       assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp);
                break;
            default: RaiseError(errorCode, enumOErrCodes::EurModelErr);
        }
    } else {
        switch (eurodollarModel) {
            case GenBSEuro:
                if (exerciseType == European) {
                    result = GeneralizedBlackScholes(GenBlackScholesModel, exerciseType, type, optionFunction, S, K,
                                                     T, T, sigma, r, q, dividendPV, marketPrice, d1, d2, errorCode);
                } else {
                    result = PseudoAmericanApproximation(type, optionFunction, S, K, T, sigma, r, q, dividendAmount,
                                                         timeExDividend, dividendFrequency, dividendPV, marketPrice,
                                                         d1, d2, dividendsIgnored, dividendCount, errorCode);
                }
                break;
            case WhaleyEuro:
                result = QuadraticApproximation(type, optionFunction, S, K, T, sigma, r, q, marketPrice, d1, d2,
                                                dividendPV, gammaBumpSize, bumpSize, assetPriceDown, assetPriceUp,
                                                yieldRateDown, yieldRateUp, yieldRateUp2, errorCode);
                break;
            case BinomialEuro:
                result = CrrBinomial(exerciseType, type, optionFunction, iterations, S, K, T, sigma, r, q,
                                     dividendAmount, timeExDividend, dividendFrequency, dividendCount, dividendPV,
                                     marketPrice, dividendStyle, bumpSize, assetPriceDown, assetPriceUp,
                                     yieldRateDown, yieldRateUp, errorCode);
                break;
            case BSAmericanEuro:
                result = BjerksundStenslandApproximation(type, optionFunction, S, K, T, sigma, r, q, marketPrice,
                                                         d1, d2, dividendPV, gammaBumpSize, bumpSize, assetPriceDown,
                                                         assetPriceUp, yieldRateDown, yieldRateUp, yieldRateUp2,
                                                         errorCode);
                break;
            default: RaiseError(errorCode, enumOErrCodes::EurModelErr);
        }
    }
    return EurodollarToIndexTerms(optionFunction, result);
}

}  // namespace kestrix
