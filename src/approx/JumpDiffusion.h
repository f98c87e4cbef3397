// Merton's jump-diffusion for European calls, puts and straddles (model 7):
// a Poisson mixture of generalized Black-Scholes values, one per number of
// jumps before expiry. Only the value is particular to the model; every other
// option function comes from the common frame (approx/ApproxFrame.h).
//
// S is net of escrowed dividends (DividendPV); T in years; r and q continuous;
// s is the total volatility (diffusion and jumps together). lambda is the
// expected number of jumps per year (> 0), gamma the share of the total
// variance that comes from jumps (0 < gamma < 1); the launcher checks both.
#pragma once

#include <cstdint>

namespace kestrix {

// The model entry: dispatches on optionFunction (1..13). The jump inputs ride
// unchanged to every re-pricing; they are never bumped.
double MertonJumpDiffusion(std::int32_t optionType, std::int32_t optionFunction, double S, double X, double T,
                           double s, double r, double q, double marketPrice, double d1, double d2, double dividendPV,
                           double jumpsPerYear, double percentTotalVol, double gammaBumpSize, double bumpSize,
                           double assetPriceDown, double assetPriceUp, double yieldRateDown, double yieldRateUp,
                           double yieldRateUp2, std::int32_t& errorCode);

// Value; a straddle is the call leg plus the put leg.
double JumpDiffusionValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q,
                          double d1, double d2, double dividendPV, double lambda, double gamma);

// One leg (optionType 1 or 2): the first kJumpTerms terms of the mixture.
// The weights of the omitted terms are dropped, not renormalised.
double JumpDiffusionLegValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q,
                             double d1, double d2, double dividendPV, double lambda, double gamma);

// Terms of the Poisson mixture: 0 to 15 jumps.
inline constexpr int kJumpTerms = 16;

}  // namespace kestrix
