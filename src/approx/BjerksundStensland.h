// Bjerksund-Stensland (1993) flat-boundary approximation of American calls,
// puts and straddles (model 6). Only the value is particular to the model;
// every other option function comes from the common frame
// (approx/ApproxFrame.h). The entry takes the same arguments as
// QuadraticApproximation.
#pragma once

#include <cstdint>

#include "core/PricingRequest.h"

namespace kestrix {

// The model entry: dispatches on optionFunction (1..13).
double BjerksundStenslandApproximation(std::int32_t optionType, std::int32_t optionFunction, double S, double X,
                                       double T, double s, double r, double q, double marketPrice, double d1,
                                       double d2, double dividendPV, double gammaBumpSize, double bumpSize,
                                       double assetPriceDown, double assetPriceUp, double yieldRateDown,
                                       double yieldRateUp, double yieldRateUp2, std::int32_t& errorCode);

// The launcher's way in: the same entry, its arguments read from the request
// and the values prepared beside it, both passed by reference rather than as
// twenty copies.
double BjerksundStenslandApproximation(const PricingRequest& request, const PreparedInputs& prepared,
                                       std::int32_t& errorCode);

// American value. A put is the call with asset and strike swapped, rate q and
// carry -b; a straddle is the call plus that put.
double BjsValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double d1,
                double d2, double dividendPV);

// American call on asset S, strike X, rate r and carry b.
double BjsCallValue(double S, double X, double T, double s, double r, double b, double dividendPV);

// The phi function of the approximation. `overflow` is shared by one
// BjsCallValue evaluation and all its BjsPhi calls: a guard that fires sets
// it, and once set every BjsPhi returns 0 (the call falls back to its
// European value).
double BjsPhi(double S, double T, double gamma, double H, double I, double r, double b, double s, bool& overflow);

// Rho and Psi per percentage point, callable on their own (the Eurodollar
// front end adds them); the arguments of BawRho and BawPsi.
double BjsRho(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double d1,
              double d2, double dividendPV, double bumpSize, double assetPriceDown, double assetPriceUp,
              double yieldRateDown, double yieldRateUp);
double BjsPsi(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double d1,
              double d2, double dividendPV, double bumpSize);

}  // namespace kestrix
