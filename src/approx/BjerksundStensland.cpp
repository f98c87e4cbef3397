#include "approx/BjerksundStensland.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "approx/ApproxFrame.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"

namespace kestrix {

namespace {

// An asset price of 0 is priced as this, as ComputeD1D2 does: the put's
// transformed problem has the asset as its strike, and a strike of exactly 0
// would leave the trigger price 0/0.
constexpr double kZeroAssetPrice = 1e-17;

// Largest power of ten the guards let through (10^200).
constexpr double kMaxDecimalExponent = 200;

auto BjsValueFunction(double dividendPV) {
    return [dividendPV](std::int32_t optionType, double S, double X, double T, double s, double r, double q,
                        double /*dividendTimeShift*/) {
        return BjsValue(optionType, S, X, T, s, r, q, 0, 0, dividendPV);
    };
}

// The European call of the (possibly transformed) problem, yield r - b.
double EuropeanCall(double S, double X, double T, double s, double r, double b, double dividendPV) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(AmericanBS, d1, d2, S, X, r, r - b, T, T, s);
    return GbsValue(European, CallOption, S, X, T, T, s, r, r - b, d1, d2, dividendPV);
}

// What the phi terms of one call value share: the same I and S in all five,
// H = I or X. Taken once, each the very call BjsPhi makes, so the terms keep
// their bits.
struct PhiCommon {
    double S, X, T, r, b, variance;
    double carryOverVariance;  // 2 * b / variance
    double volTime;
    double ratioIS;      // I / S
    double logISTerm;    // 2 * log(I / S) / volTime
    double logSI, logSX;  // log(S / H) for H = I and H = X
};

PhiCommon MakePhiCommon(double S, double X, double T, double I, double r, double b, double s) {
    PhiCommon c{};
    c.S = S;
    c.X = X;
    c.T = T;
    c.r = r;
    c.b = b;
    c.variance = s * s;
    c.carryOverVariance = 2 * b / c.variance;
    c.volTime = s * std::sqrt(T);
    c.ratioIS = I / S;
    c.logISTerm = 2 * std::log(c.ratioIS) / c.volTime;
    c.logSI = std::log(S / I);
    c.logSX = std::log(S / X);
    return c;
}

// N(a) - w * N(b).
double NormalDifference(double a, double w, double b) {
    double Na = 0, Nb = 0;
    CumulativeNormalPair(a, b, Na, Nb);
    return Na - w * Nb;
}

// BjsPhi(S, T, gamma, I, I, ...) and, when `withX`, BjsPhi(S, T, gamma, X, I,
// ...) as two consecutive calls give them: the factors that depend on gamma
// alone (exp(lambda), S^gamma, (I/S)^kappa) are taken once, and the powers
// only where BjsPhi would take them, so a power that fails still fails.
// Returns whether S^gamma was taken (then in powerS).
bool PhiPair(const PhiCommon& c, double gamma, bool withX, double& phiI, double& phiX, double& powerS,
             bool& overflow) {
    phiI = 0;
    if (withX) phiX = 0;
    const double lambda = (-c.r + gamma * c.b + gamma * (gamma - 1) * c.variance / 2) * c.T;
    const double drift = (c.b + (gamma - 0.5) * c.variance) * c.T;
    const double kappa = c.carryOverVariance + (2 * gamma - 1);
    if (lambda > kMaxDecimalExponent) overflow = true;
    if (Log10ProductExceeds(gamma, c.S, kMaxDecimalExponent) ||
        Log10ProductExceeds(kappa, c.ratioIS, kMaxDecimalExponent)) {
        overflow = true;
    }
    if (overflow) return false;

    // pow(x, 0) is 1 for every x, and for a positive finite x Power neither
    // fails nor differs from pow: the term on gamma = 0 needs no call. Nor does
    // the one on gamma = 1 for a positive normal x: pow(x, 1) is x exactly (its
    // error stays below one unit in the last place, and x is representable),
    // with no exception raised.
    if (gamma == 0 && c.S > 0 && std::isfinite(c.S)) {
        powerS = 1.0;
    } else if (gamma == 1 && c.S >= DBL_MIN && c.S <= DBL_MAX) {
        powerS = c.S;
    } else {
        powerS = Power(c.S, gamma);
    }
    const double scale = std::exp(lambda) * powerS;
    const double powerIS = Power(c.ratioIS, kappa);
    const double dI = -(c.logSI + drift) / c.volTime;
    if (!withX || c.X <= 0) {
        phiI = scale * NormalDifference(dI, powerIS, dI - c.logISTerm);
        if (withX) overflow = true;
        return true;
    }
    // Both terms' four N at once: four exponentials, then four polynomials.
    const double dX = -(c.logSX + drift) / c.volTime;
    const double dI2 = dI - c.logISTerm;
    const double dX2 = dX - c.logISTerm;
    const double expI = std::exp(CumulativeNormalExponent(dI));
    const double expI2 = std::exp(CumulativeNormalExponent(dI2));
    const double expX = std::exp(CumulativeNormalExponent(dX));
    const double expX2 = std::exp(CumulativeNormalExponent(dX2));
    phiI = scale * (CumulativeNormalFromExp(dI, expI) - powerIS * CumulativeNormalFromExp(dI2, expI2));
    phiX = scale * (CumulativeNormalFromExp(dX, expX) - powerIS * CumulativeNormalFromExp(dX2, expX2));
    return true;
}

}  // namespace

double BjsPhi(double S, double T, double gamma, double H, double I, double r, double b, double s, bool& overflow) {
    const double variance = s * s;
    const double lambda = (-r + gamma * b + gamma * (gamma - 1) * variance / 2) * T;
    if (H <= 0) {
        overflow = true;
        return 0;
    }
    const double volTime = s * std::sqrt(T);
    const double d = -(std::log(S / H) + (b + (gamma - 0.5) * variance) * T) / volTime;
    const double kappa = 2 * b / variance + (2 * gamma - 1);
    if (lambda > kMaxDecimalExponent) {
        overflow = true;
        return 0;
    }
    if (gamma * std::log10(S) > kMaxDecimalExponent || kappa * std::log10(I / S) > kMaxDecimalExponent) {
        overflow = true;
    }
    if (overflow) return 0;
    return std::exp(lambda) * Power(S, gamma) *
           (CumulativeNormal(d) - Power(I / S, kappa) * CumulativeNormal(d - 2 * std::log(I / S) / volTime));
}

double BjsCallValue(double S, double X, double T, double s, double r, double b, double dividendPV) {
    // Carrying the asset costs at least the rate: early exercise never pays.
    if (b >= r) return EuropeanCall(S, X, T, s, r, b, dividendPV);

    const double variance = s * s;
    const double beta =
        (0.5 - b / variance) + std::sqrt((b / variance - 0.5) * (b / variance - 0.5) + 2 * r / variance);
    const double bInfinity = beta / (beta - 1) * X;
    const double b0 = std::max(X, r / (r - b) * X);
    const double ht = -(b * T + 2 * s * std::sqrt(T)) * b0 / (bInfinity - b0);

    bool overflow = false;
    double I = 0;  // trigger price
    if (ht >= 100) {
        overflow = true;
    } else {
        I = b0 + (bInfinity - b0) * (1 - std::exp(ht));
        // No number (e.g. a negative rate under the root of beta): treat it as
        // a guard that fired rather than let NaN through.
        if (std::isnan(I)) overflow = true;
    }

    double value = 0;
    if (!overflow && I > 0) {
        if (S >= I) return S - X;
        if ((beta < 0 && Log10ProductExceeds(beta, I, kMaxDecimalExponent)) ||
            (beta > 0 && Log10ProductExceeds(beta, S, kMaxDecimalExponent))) {
            overflow = true;
        } else {
            const double alpha = (I - X) * Power(I, -beta);
            const PhiCommon common = MakePhiCommon(S, X, T, I, r, b, s);
            double phiBeta = 0, phiOneI = 0, phiOneX = 0, phiZeroI = 0, phiZeroX = 0;
            double powerSBeta = 0, unused = 0;
            const bool havePowerSBeta = PhiPair(common, beta, false, phiBeta, unused, powerSBeta, overflow);
            PhiPair(common, 1, true, phiOneI, phiOneX, unused, overflow);
            PhiPair(common, 0, true, phiZeroI, phiZeroX, unused, overflow);
            if (!havePowerSBeta) powerSBeta = Power(S, beta);
            value = alpha * powerSBeta - alpha * phiBeta + phiOneI - phiOneX - X * phiZeroI + X * phiZeroX;
        }
    }
    if (overflow || I < 0) {
        if (r <= 0) return 0;
        return std::max(EuropeanCall(S, X, T, s, r, b, dividendPV), 0.0);
    }
    if (I == 0) return 0;
    return value;
}

double BjsValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double /*d1*/,
                double /*d2*/, double dividendPV) {
    const double b = r - q;
    const double asset = S == 0 ? kZeroAssetPrice : S;
    switch (optionType) {
        case CallOption: return BjsCallValue(asset, X, T, s, r, b, dividendPV);
        case PutOption: return BjsCallValue(X, asset, T, s, q, -b, dividendPV);
        default:
            return BjsCallValue(asset, X, T, s, r, b, dividendPV) + BjsCallValue(X, asset, T, s, q, -b, dividendPV);
    }
}

double BjsRho(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double /*d1*/,
              double /*d2*/, double dividendPV, double bumpSize, double assetPriceDown, double assetPriceUp,
              double yieldRateDown, double yieldRateUp) {
    return ApproxRho(BjsValueFunction(dividendPV), optionType, S, X, T, s, r, q, bumpSize, assetPriceDown,
                     assetPriceUp, yieldRateDown, yieldRateUp);
}

double BjsPsi(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double /*d1*/,
              double /*d2*/, double dividendPV, double bumpSize) {
    return ApproxPsi(BjsValueFunction(dividendPV), optionType, S, X, T, s, r, q, bumpSize);
}

double BjerksundStenslandApproximation(std::int32_t optionType, std::int32_t optionFunction, double S, double X,
                                       double T, double s, double r, double q, double marketPrice, double /*d1*/,
                                       double /*d2*/, double dividendPV, double gammaBumpSize, double bumpSize,
                                       double assetPriceDown, double assetPriceUp, double yieldRateDown,
                                       double yieldRateUp, double yieldRateUp2, std::int32_t& errorCode) {
    return DispatchOptionFunction<ExerciseFloor::Intrinsic>(
        BjsValueFunction(dividendPV), optionType, optionFunction, S, X, T, s, r, q, marketPrice, dividendPV,
        gammaBumpSize, bumpSize, assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp, yieldRateUp2, errorCode);
}

double BjerksundStenslandApproximation(const PricingRequest& rq, const PreparedInputs& p, std::int32_t& errorCode) {
    return DispatchOptionFunction<ExerciseFloor::Intrinsic>(
        BjsValueFunction(p.DividendPV), rq.OptionType, rq.OptionFunction, rq.AssetPrice, rq.StrikePrice,
        rq.TimeExpire, rq.Volatility, rq.InterestRate, rq.YieldRate, rq.MarketPrice, p.DividendPV, p.GammaBumpSize,
        p.BumpSize, p.AssetPriceDown, p.AssetPriceUp, p.YieldRateDown, p.YieldRateUp, p.YieldRateUp2, errorCode);
}

}  // namespace kestrix
