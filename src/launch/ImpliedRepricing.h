// Implied volatilities and strikes that are solutions.
//
// Every model's own implied search is a Newton iteration from a fixed seed.
// It can stop at a point that does not reproduce the market price (a slope
// that turns negative, a seed with zero slope at the at-the-forward strike, a
// divergence rule that fires on a healthy option), and the lattice's search
// values the mean of two bumped trees rather than the tree itself. A desk
// reprices every implied answer, so an answer is kept only when the model's
// own value there reproduces the market price; otherwise a bracketing search
// on that value looks for one.
#pragma once

#include <cstdint>

#include "core/PricingRequest.h"

namespace kestrix {

// How close the model's value at an answer must come to the market price.
inline double RepricingTolerance(double marketPrice) noexcept {
    return marketPrice * 1e-12 > 1e-6 ? marketPrice * 1e-12 : 1e-6;
}

// Answers a validated and prepared ImpliedVol or ImpliedStrike request:
// 1. the model's own search runs; a non-zero answer at which the model's
//    value (OptionFunction Theoretical, the request's prepared inputs) lies
//    within RepricingTolerance of MarketPrice stands as it is;
// 2. otherwise, except for a straddle's strike (not monotone in the strike:
//    0), a geometric scan of the model's value brackets MarketPrice and
//    bisection refines the bracket to an answer within the tolerance;
// 3. no bracket, a bracket that closes on a jump, or the call's work limit
//    reached: 0, as for any search that finds nothing.
// A maths-library failure in the model's search makes its answer 0 (so step 2
// runs); at a scan point it makes that point's value unknown (passed over),
// in the bisection it ends the search with 0. Any other failure propagates.
double SolveImplied(const PricingRequest& request, const PreparedInputs& prepared, std::int32_t& errorCode);

}  // namespace kestrix
