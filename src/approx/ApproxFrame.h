// The common frame of the American approximations and the jump models
// (Barone-Adesi-Whaley, Bjerksund-Stensland, Merton jump-diffusion,
// Roll-Geske-Whaley). None of them has closed-form sensitivities: every
// quantity other than the value is obtained here by re-pricing through the
// model's value function.
//
// A model supplies its value function as a callable, taken by template (no
// heap, no std::function):
//
//     double value(std::int32_t optionType, double S, double X, double T,
//                  double s, double r, double q, double dividendTimeShift)
//
//   optionType         1 call, 2 put, 3 straddle (Lambda also asks for the
//                      single legs of a straddle); a call-only model ignores it
//   S, X, T, s, r, q   asset price (net of escrowed dividends), strike, years
//                      to expiry, volatility, continuous rate and yield
//   dividendTimeShift  0 at every point except Theta's: +h at the raised
//                      expiry, -h at the lowered (or unbumped) one, so a model
//                      with a dated dividend can move that date with expiry.
//                      Models without a dated dividend ignore it.
//
// Constant inputs (DividendPV, jump intensity, ...) ride in the callable's
// captures. The callable may raise PricingFailure (e.g. "EInvalidOp" from the
// checked power function); the frame never catches it.
//
// The prepared slots are those the launcher computes for the requested
// function (AssetPriceDown/Up, YieldRateDown/Up/Up2); without dividends every
// asset slot equals S and every yield slot equals q. A model with no yield
// passes q = 0 and yield slots 0.
//
// Entry point: DispatchOptionFunction. The per-function templates are public
// so that a model can expose single members (e.g. BawRho) with exactly the
// same numbers as the entry.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

namespace kestrix {

// Which point of a finite difference is being priced; the caller picks the
// prepared slots that belong to it.
enum class BumpPoint : std::int32_t {
    Lower,     // p - h (central form)
    Unbumped,  // p itself, the lower point of the forward form
    Upper,     // p + h
};

// Tolerance of both implied searches on the absolute price error.
inline constexpr double kApproxSearchTolerance = 1e-6;

// Upper bound (exclusive) of the implied-volatility search.
inline constexpr double kApproxMaxVolatility = 100;

// First difference of the input p with step h. Central, (V(p+h) - V(p-h))/2h,
// while p - h stays positive; otherwise forward, (V(p+h) - V(p))/h, so a
// positive input is never bumped to zero or below (p = h is already forward).
// `valueAt(x, point)` prices at input value x.
template <typename ValueAt>
double BumpedSensitivity(double p, double h, const ValueAt& valueAt) {
    double low = 0;
    double divisor = 0;
    if (p - h > 0) {
        low = valueAt(p - h, BumpPoint::Lower);
        divisor = 2 * h;
    } else {
        low = valueAt(p, BumpPoint::Unbumped);
        divisor = h;
    }
    const double high = valueAt(p + h, BumpPoint::Upper);
    return (high - low) / divisor;
}

// dV/dS, unscaled; the bumped points take the yields prepared for them.
template <typename ValueFn>
double ApproxDelta(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s, double r,
                   double q, double h, double yieldRateDown, double yieldRateUp) {
    return BumpedSensitivity(S, h, [&](double x, BumpPoint point) {
        const double yield = point == BumpPoint::Lower ? yieldRateDown : point == BumpPoint::Upper ? yieldRateUp : q;
        return value(optionType, x, X, T, s, r, yield, 0.0);
    });
}

// Second difference on S with step g (GammaBumpSize): around S while S - g
// stays positive, otherwise on the points S, S + g, S + 2g.
template <typename ValueFn>
double ApproxGamma(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s, double r,
                   double q, double g, double yieldRateDown, double yieldRateUp, double yieldRateUp2) {
    if (S - g > 0) {
        const double up = value(optionType, S + g, X, T, s, r, yieldRateUp, 0.0);
        const double mid = value(optionType, S, X, T, s, r, q, 0.0);
        const double down = value(optionType, S - g, X, T, s, r, yieldRateDown, 0.0);
        return ((up - mid) / g - (mid - down) / g) / g;
    }
    const double up2 = value(optionType, S + 2 * g, X, T, s, r, yieldRateUp2, 0.0);
    const double up = value(optionType, S + g, X, T, s, r, yieldRateUp, 0.0);
    const double mid = value(optionType, S, X, T, s, r, q, 0.0);
    return ((up2 - up) / g - (up - mid) / g) / g;
}

// Change of value per calendar day as time passes: -dV/dT / 365.
template <typename ValueFn>
double ApproxTheta(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s, double r,
                   double q, double h, double yieldRateDown, double yieldRateUp) {
    const double slope = BumpedSensitivity(T, h, [&](double t, BumpPoint point) {
        if (point == BumpPoint::Upper) return value(optionType, S, X, t, s, r, yieldRateUp, h);
        const double yield = point == BumpPoint::Lower ? yieldRateDown : q;
        return value(optionType, S, X, t, s, r, yield, -h);
    });
    return -slope / 365;
}

// Per percentage point of volatility.
template <typename ValueFn>
double ApproxVega(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s, double r,
                  double q, double h) {
    return BumpedSensitivity(s, h, [&](double vol, BumpPoint) {
               return value(optionType, S, X, T, vol, r, q, 0.0);
           }) *
           0.01;
}

// Per percentage point of interest rate. The lowered point (also the forward
// form's unbumped rate) uses the asset price and yield prepared for r - h;
// the raised point those prepared for r + h, since escrowed dividends are
// discounted at the bumped rate.
template <typename ValueFn>
double ApproxRho(const ValueFn& value, std::int32_t optionType, double /*S*/, double X, double T, double s, double r,
                 double /*q*/, double h, double assetPriceDown, double assetPriceUp, double yieldRateDown,
                 double yieldRateUp) {
    return BumpedSensitivity(r, h, [&](double rate, BumpPoint point) {
               if (point == BumpPoint::Upper) return value(optionType, assetPriceUp, X, T, s, rate, yieldRateUp, 0.0);
               return value(optionType, assetPriceDown, X, T, s, rate, yieldRateDown, 0.0);
           }) *
           0.01;
}

// Per percentage point of yield.
template <typename ValueFn>
double ApproxPsi(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s, double r,
                 double q, double h) {
    return BumpedSensitivity(q, h, [&](double yield, BumpPoint) {
               return value(optionType, S, X, T, s, r, yield, 0.0);
           }) *
           0.01;
}

// dV/dX, unscaled.
template <typename ValueFn>
double ApproxStrikeSensitivity(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s,
                               double r, double q, double h) {
    return BumpedSensitivity(X, h, [&](double strike, BumpPoint) {
        return value(optionType, S, strike, T, s, r, q, 0.0);
    });
}

// Elasticity Delta * (S + DividendPV) / V, 0 when V <= 0. A straddle's is the
// sum of its legs' elasticities, each with its own Delta and value: the
// elasticity of the summed position would mix a long and a short exposure.
template <typename ValueFn>
double ApproxLambda(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s, double r,
                    double q, double dividendPV, double h, double yieldRateDown, double yieldRateUp) {
    const auto legLambda = [&](std::int32_t leg) {
        const double V = value(leg, S, X, T, s, r, q, 0.0);
        if (V <= 0) return 0.0;
        return ApproxDelta(value, leg, S, X, T, s, r, q, h, yieldRateDown, yieldRateUp) * (S + dividendPV) / V;
    };
    if (optionType == Straddle) return legLambda(CallOption) + legLambda(PutOption);
    return legLambda(optionType);
}

// Value less the exercise value on the asset price before dividends.
template <typename ValueFn>
double ApproxTimeValue(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s,
                       double r, double q, double dividendPV) {
    return value(optionType, S, X, T, s, r, q, 0.0) - IntrinsicPayoff(optionType, S, X, T, T, s, r, q, dividendPV);
}

// Newton search for the volatility that reproduces marketPrice, with the
// re-priced Vega as slope. 0 when the price is not positive, a trial leaves
// (0, 100) or fails the d1/d2 check, the slope vanishes, the error grows from
// the third step on, or kMaxSearchSteps pass without convergence.
template <typename ValueFn>
double ImpliedVolatilitySearch(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double r,
                               double q, double marketPrice, double h) {
    if (marketPrice <= 0) return 0;
    const double seedRate = r < 0.01 ? 0.01 : r;
    double s = std::sqrt(std::fabs(std::log(S / X) + seedRate * T) * 2 / T);

    double d1 = 0, d2 = 0;
    if (!ComputeD1D2(BSGen, d1, d2, S, X, r, q, T, T, s)) return 0;
    double V = value(optionType, S, X, T, s, r, q, 0.0);
    double vega = ApproxVega(value, optionType, S, X, T, s, r, q, h) * 100;
    double err = std::fabs(marketPrice - V);
    int steps = 0;
    while (err > kApproxSearchTolerance && vega > 0) {
        if (steps == kMaxSearchSteps) return 0;
        s = s - (V - marketPrice) / vega;
        if (!(s > 0 && s < kApproxMaxVolatility)) return 0;
        if (!ComputeD1D2(BSGen, d1, d2, S, X, r, q, T, T, s)) return 0;
        V = value(optionType, S, X, T, s, r, q, 0.0);
        vega = ApproxVega(value, optionType, S, X, T, s, r, q, h) * 100;
        const double newErr = std::fabs(marketPrice - V);
        ++steps;
        if (newErr > err && steps >= 3) return 0;  // diverging
        err = newErr;
    }
    return vega == 0 || std::isnan(err) ? 0 : s;  // a NaN price never matched
}

// Newton search for the strike that reproduces marketPrice, with the
// re-priced strike sensitivity as slope. Starts from S - M (call), S + M (put
// and straddle) or, when that is not positive, the given strike. 0 on the
// same failures as the volatility search, or on a trial strike <= 0.
template <typename ValueFn>
double ImpliedStrikeSearch(const ValueFn& value, std::int32_t optionType, double S, double X, double T, double s,
                           double r, double q, double marketPrice, double h) {
    if (marketPrice <= 0) return 0;
    double K = 0;
    switch (optionType) {
        case CallOption: K = S - marketPrice; break;
        case PutOption: K = S + marketPrice; break;
        default: K = std::max(S - marketPrice, S + marketPrice); break;
    }
    if (K <= 0) K = X;

    double d1 = 0, d2 = 0;
    if (!ComputeD1D2(BSGen, d1, d2, S, K, r, q, T, T, s)) return 0;
    double V = value(optionType, S, K, T, s, r, q, 0.0);
    double slope = ApproxStrikeSensitivity(value, optionType, S, K, T, s, r, q, h);
    double err = std::fabs(marketPrice - V);
    int steps = 0;
    while (err > kApproxSearchTolerance && slope != 0) {
        if (steps == kMaxSearchSteps) return 0;
        K = K - (V - marketPrice) / slope;
        if (!(K > 0)) return 0;
        if (!ComputeD1D2(BSGen, d1, d2, S, K, r, q, T, T, s)) return 0;
        V = value(optionType, S, K, T, s, r, q, 0.0);
        slope = ApproxStrikeSensitivity(value, optionType, S, K, T, s, r, q, h);
        const double newErr = std::fabs(marketPrice - V);
        ++steps;
        if (newErr > err && steps >= 3) return 0;  // diverging
        err = newErr;
    }
    return slope == 0 || std::isnan(err) ? 0 : K;  // a NaN price never matched
}

// Whether a model's value and time value are floored at the exercise value.
// The two American approximations take it: their formulas can fall below
// what exercising now pays (a critical-price search that gives up keeps the
// European value; a deep negative carry drives the premium to nothing), and
// an American option is never worth less than that. Their Greeks, Lambda and
// the Newton steps of their searches keep the model's own value.
enum class ExerciseFloor : bool { None, Intrinsic };

// The entry body shared by the four models: answers optionFunction 1..13 from
// `value`, with the arguments in the order of the models' entries. Any other
// function stores OptionFunctionErr through errorCode and raises
// "The OptionFunction is invalid.". Each model's entry is its one caller:
// inlined there, its twenty arguments are not copied to the stack a second
// time.
template <ExerciseFloor Floor = ExerciseFloor::None, typename ValueFn>
[[gnu::always_inline]] inline double DispatchOptionFunction(const ValueFn& value, std::int32_t optionType,
                                                            std::int32_t optionFunction, double S, double X, double T,
                                                            double s, double r, double q, double marketPrice,
                                                            double dividendPV, double gammaBumpSize, double bumpSize,
                                                            double assetPriceDown, double assetPriceUp,
                                                            double yieldRateDown, double yieldRateUp,
                                                            double yieldRateUp2, std::int32_t& errorCode) {
    const double h = bumpSize;
    switch (optionFunction) {
        case Theoretical:
            if constexpr (Floor == ExerciseFloor::Intrinsic) {
                // A straddle is floored as one position, as GenBS's American value is.
                return std::max(value(optionType, S, X, T, s, r, q, 0.0),
                                IntrinsicPayoff(optionType, S, X, T, T, s, r, q, dividendPV));
            }
            return value(optionType, S, X, T, s, r, q, 0.0);
        case Delta: return ApproxDelta(value, optionType, S, X, T, s, r, q, h, yieldRateDown, yieldRateUp);
        case Gamma:
            return ApproxGamma(value, optionType, S, X, T, s, r, q, gammaBumpSize, yieldRateDown, yieldRateUp,
                               yieldRateUp2);
        case Theta: return ApproxTheta(value, optionType, S, X, T, s, r, q, h, yieldRateDown, yieldRateUp);
        case ImpliedVol: return ImpliedVolatilitySearch(value, optionType, S, X, T, r, q, marketPrice, h);
        case Vega: return ApproxVega(value, optionType, S, X, T, s, r, q, h);
        case Rho:
            return ApproxRho(value, optionType, S, X, T, s, r, q, h, assetPriceDown, assetPriceUp, yieldRateDown,
                             yieldRateUp);
        case Psi: return ApproxPsi(value, optionType, S, X, T, s, r, q, h);
        case Lambda:
            return ApproxLambda(value, optionType, S, X, T, s, r, q, dividendPV, h, yieldRateDown, yieldRateUp);
        case IntrinsicValue: return IntrinsicPayoff(optionType, S, X, T, T, s, r, q, dividendPV);
        case StrikeSensitivity: return ApproxStrikeSensitivity(value, optionType, S, X, T, s, r, q, h);
        case Time_Value:
            if constexpr (Floor == ExerciseFloor::Intrinsic) {
                const double intrinsic = IntrinsicPayoff(optionType, S, X, T, T, s, r, q, dividendPV);
                return std::max(value(optionType, S, X, T, s, r, q, 0.0), intrinsic) - intrinsic;
            }
            return ApproxTimeValue(value, optionType, S, X, T, s, r, q, dividendPV);
        case ImpliedStrike: return ImpliedStrikeSearch(value, optionType, S, X, T, s, r, q, marketPrice, h);
        default: RaiseError(errorCode, enumOErrCodes::OptionFunctionErr);
    }
}

}  // namespace kestrix
