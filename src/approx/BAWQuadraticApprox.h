// Barone-Adesi-Whaley quadratic approximation of American calls, puts and
// straddles (model 4). Only the value is particular to the model; every other
// option function comes from the common frame (approx/ApproxFrame.h).
//
// S is net of escrowed dividends (DividendPV); T in years; r and q continuous;
// d1/d2 are carried along for the interface and recomputed where needed.
#pragma once

#include <cstdint>

#include "core/PricingRequest.h"

namespace kestrix {

// The model entry: dispatches on optionFunction (1..13).
double QuadraticApproximation(std::int32_t optionType, std::int32_t optionFunction, double S, double X, double T,
                              double s, double r, double q, double marketPrice, double d1, double d2,
                              double dividendPV, double gammaBumpSize, double bumpSize, double assetPriceDown,
                              double assetPriceUp, double yieldRateDown, double yieldRateUp, double yieldRateUp2,
                              std::int32_t& errorCode);

// The launcher's way in: the same entry, its arguments read from the request
// and the values prepared beside it, both passed by reference rather than as
// twenty copies.
double QuadraticApproximation(const PricingRequest& request, const PreparedInputs& prepared, std::int32_t& errorCode);

// American value; a straddle is the call leg plus the put leg.
double BawValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double d1,
                double d2, double dividendPV);

// One leg (optionType 1 or 2, phi = +1 or -1).
double BawLegValue(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                   double dividendPV);

// Early-exercise premium over the European value; writes the critical price
// S* (0 when its search was abandoned, and then the premium is 0).
double BawPremium(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                  double dividendPV, double& criticalPrice);

// Critical asset price S* of one leg (b = r - q), or 0 when the search is
// abandoned: no usable seed, a degenerate slope, or kMaxCriticalPriceSteps
// steps without convergence.
double BawCriticalPrice(std::int32_t optionType, double phi, double X, double T, double r, double b, double s,
                        double dividendPV);

// Rho and Psi per percentage point, callable on their own (the Eurodollar
// front end adds them).
double BawRho(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double d1,
              double d2, double dividendPV, double bumpSize, double assetPriceDown, double assetPriceUp,
              double yieldRateDown, double yieldRateUp);
double BawPsi(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double d1,
              double d2, double dividendPV, double bumpSize);

// Newton steps of BawCriticalPrice before it gives up.
inline constexpr int kMaxCriticalPriceSteps = 500;

}  // namespace kestrix
