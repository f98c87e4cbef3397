// Options on Eurodollar futures: the index price is turned into a rate-like
// underlying (100 - price), calls and puts swap roles, the futures carry
// nothing (q = r), and one of four models prices the result.
#pragma once

#include <cstdint>

namespace kestrix {

// The entry of model 3. Fails with EurModelErr for a model outside
// enumEurodollarModel; every other failure is the chosen model's own.
double EurodollarOption(std::int32_t eurodollarModel, std::int32_t exerciseType, std::int32_t optionType,
                        std::int32_t optionFunction, std::int32_t iterations, double assetPrice, double strikePrice,
                        double T, double sigma, double r, double dividendAmount, double timeExDividend,
                        double dividendFrequency, std::int32_t dividendCount, double dividendPV,
                        std::int32_t dividendStyle, bool dividendsIgnored, double marketPrice, double gammaBumpSize,
                        double bumpSize, double assetPriceDown, double assetPriceUp, double yieldRateDown,
                        double yieldRateUp, double yieldRateUp2, std::int32_t& errorCode);

// The option on the rate that an option on the index is: a call on the index
// is a put on the rate, and the other way round.
std::int32_t EurodollarRateOptionType(std::int32_t optionType) noexcept;

// Back from the rate scale to the index: Delta and Lambda change sign, and a
// non-zero implied strike becomes 100 - strike, never negative.
double EurodollarToIndexTerms(std::int32_t optionFunction, double result) noexcept;

}  // namespace kestrix
