// The one gate every pricing request passes: validation in a fixed order,
// silent floors and ceilings, unit and rate conversion, dividend preparation,
// d1/d2 and routing to exactly one model entry.
#pragma once

#include <cstdint>

#include "core/PricingRequest.h"

namespace kestrix {

// Turns the cash dividends before expiry into a present value subtracted from
// assetPrice (or, for the continuous styles 1 and 3, into extra yield), and
// fills every prepared value but d1/d2. Runs only for a positive amount and a
// positive ex-dividend time; times in years, interestRate continuous. Returns
// false, leaving its outputs incomplete, for a schedule too long to discount
// within the call's work limit (core/WorkLimits.h): the request is then not
// priced.
bool AdjustDiscreteDividends(std::int32_t modelNumber, std::int32_t optionFunction, double& assetPrice,
                             double timeExpire, double interestRate, double& yieldRate, double& dividendAmount,
                             double timeExDividend, double dividendFrequency, std::int32_t dividendStyle,
                             PreparedInputs& prepared);

// Everything the launcher does before routing: resets errorCode, validates,
// converts `request` in place, prepares dividends and d1/d2. Returns false
// when the request is to be answered with 0 and no error (a deep negative
// carry, or a dividend schedule beyond the work limit). A failed check stores its code in errorCode and raises
// PricingFailure with the code's text.
bool PrepareRequest(PricingRequest& request, std::int32_t& errorCode, PreparedInputs& prepared);

// The lowest volatility the launcher lets a request's model see: wider for
// the lattice (its own and the Eurodollar front end's).
double VolatilityFloor(const PricingRequest& request) noexcept;

// The d1/d2 of a prepared request at its current volatility and strike, or
// the verdict on them of the models that form their own; false when the
// request is not to be priced.
bool FormD1D2(const PricingRequest& request, PreparedInputs& prepared) noexcept;

// The one model entry of a prepared request, for its OptionFunction.
double PriceWithModel(const PricingRequest& request, const PreparedInputs& prepared, std::int32_t& errorCode);

// Sets errorCode and result to 0, then validates, converts (in place) and
// prices `request`. On success `result` holds the model's value (0 when the
// request is not priced, e.g. a deep negative carry). On failure the code is
// stored in errorCode and PricingFailure is raised; result stays 0.
void LaunchPlainOption(PricingRequest& request, std::int32_t& errorCode, double& result);

}  // namespace kestrix
