#include "approx/BAWQuadraticApprox.h"

#include <cmath>

#include "approx/ApproxFrame.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"

namespace kestrix {

namespace {

// Relative tolerance of the critical-price search, |LHS - RHS| / X.
constexpr double kCriticalPriceTolerance = 1e-6;

// The model's value at one point of the frame; d1/d2 are recomputed inside.
auto BawValueFunction(double dividendPV) {
    return [dividendPV](std::int32_t optionType, double S, double X, double T, double s, double r, double q,
                        double /*dividendTimeShift*/) {
        return BawValue(optionType, S, X, T, s, r, q, 0, 0, dividendPV);
    };
}

bool IsUsablePrice(double price) { return std::isfinite(price) && price > 0; }

}  // namespace

double BawCriticalPrice(std::int32_t optionType, double phi, double X, double T, double r, double b, double s,
                        double dividendPV) {
    const double variance = s * s;
    const double Nn = 2 * b / variance;
    const double M = 2 * r / variance;
    const double qu = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * M)) / 2;
    const double Su = X / (1 - 1 / qu);  // critical price at infinite maturity
    const double sqrtT = std::sqrt(T);
    const double hh = -phi * (b * T + 2 * phi * s * sqrtT) * X / (phi * (Su - X));
    if (hh > 20) return 0;
    double Si = phi > 0 ? X + (Su - X) * (1 - std::exp(hh)) : Su + (X - Su) * std::exp(hh);

    const double K = 1 - std::exp(-r * T);
    const double Q = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * M / K)) / 2;
    if (Q == 0) return 0;
    // A seed that is no price (degenerate inputs) cannot start the search.
    if (!IsUsablePrice(Si)) return 0;

    const double carryDiscount = std::exp((b - r) * T);
    const double volTime = s * sqrtT;
    double lhs = 0, rhs = 0, bi = 0;
    const auto evaluateAt = [&](double price) {
        const double d1 = (std::log(price / X) + (b + variance / 2) * T) / volTime;
        lhs = phi * (price - X);
        double gd1 = 0, gd2 = 0;
        ComputeD1D2(Whaleys, gd1, gd2, price, X, r, r - b, T, T, s);
        const double european = GbsValue(European, optionType, price, X, T, T, s, r, r - b, gd1, gd2, dividendPV);
        const double Nd1 = CumulativeNormal(phi * d1);
        rhs = european + phi * (1 - carryDiscount * Nd1) * price / Q;
        bi = phi * (1 - phi * carryDiscount * NormalDensity(phi * d1) / volTime) / Q +
             (1 - 1 / Q) * phi * carryDiscount * Nd1;
    };

    evaluateAt(Si);
    if (phi * bi == 1) return 0;
    for (int steps = 0;; ++steps) {
        const double gap = std::fabs(lhs - rhs) / X;
        if (std::isnan(gap)) return 0;
        if (gap <= kCriticalPriceTolerance) return Si;
        if (steps == kMaxCriticalPriceSteps) return 0;
        Si = (phi * rhs + X - phi * bi * Si) / (1 - phi * bi);
        if (!IsUsablePrice(Si)) return 0;
        evaluateAt(Si);
    }
}

double BawPremium(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                  double dividendPV, double& criticalPrice) {
    const double b = r - q;
    criticalPrice = BawCriticalPrice(optionType, phi, X, T, r, b, s, dividendPV);
    const double Sstar = criticalPrice;
    if (Sstar == 0) return 0;

    const double variance = s * s;
    const double Nn = 2 * b / variance;
    const double K = 1 - std::exp(-r * T);
    const double Mk = 2 * r / (variance * K);
    const double d1 = (std::log(Sstar / X) + (b + variance / 2) * T) / (s * std::sqrt(T));
    const double Q = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * Mk)) / 2;
    const double A = phi * (Sstar / Q) * (1 - std::exp((b - r) * T) * CumulativeNormal(phi * d1));

    // Far from S* the power is negligible or overflows: no premium.
    const double ratio = S / Sstar;
    if ((ratio < 1e-5 && Q < -5) || Q > 100 || Q < -100 || std::log(ratio) * Q > 200) return 0;
    return A * Power(ratio, Q);
}

double BawLegValue(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                   double dividendPV) {
    const double b = r - q;
    double d1 = 0, d2 = 0;
    const bool haveD1D2 = ComputeD1D2(Whaleys, d1, d2, S, X, r, q, T, T, s);
    const double european = GbsValue(European, optionType, S, X, T, T, s, r, q, d1, d2, dividendPV);
    // A call on an asset that costs nothing to carry is never exercised early.
    if (b >= r && optionType == CallOption && haveD1D2) return european;

    double criticalPrice = 0;
    const double premium = BawPremium(optionType, phi, S, X, T, s, r, q, dividendPV, criticalPrice);
    if (optionType == CallOption) {
        // S* = 0 means the search was abandoned, not that every price is
        // worth exercising: the call keeps its European value, as the put does.
        if (criticalPrice > 0 && S >= criticalPrice) return S - X;
        return european + premium;
    }
    if (S <= criticalPrice) return X - S;
    return european + premium;
}

double BawValue(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double /*d1*/,
                double /*d2*/, double dividendPV) {
    switch (optionType) {
        case CallOption: return BawLegValue(CallOption, 1, S, X, T, s, r, q, dividendPV);
        case PutOption: return BawLegValue(PutOption, -1, S, X, T, s, r, q, dividendPV);
        default:
            return BawLegValue(CallOption, 1, S, X, T, s, r, q, dividendPV) +
                   BawLegValue(PutOption, -1, S, X, T, s, r, q, dividendPV);
    }
}

double BawRho(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double /*d1*/,
              double /*d2*/, double dividendPV, double bumpSize, double assetPriceDown, double assetPriceUp,
              double yieldRateDown, double yieldRateUp) {
    return ApproxRho(BawValueFunction(dividendPV), optionType, S, X, T, s, r, q, bumpSize, assetPriceDown,
                     assetPriceUp, yieldRateDown, yieldRateUp);
}

double BawPsi(std::int32_t optionType, double S, double X, double T, double s, double r, double q, double /*d1*/,
              double /*d2*/, double dividendPV, double bumpSize) {
    return ApproxPsi(BawValueFunction(dividendPV), optionType, S, X, T, s, r, q, bumpSize);
}

double QuadraticApproximation(std::int32_t optionType, std::int32_t optionFunction, double S, double X, double T,
                              double s, double r, double q, double marketPrice, double /*d1*/, double /*d2*/,
                              double dividendPV, double gammaBumpSize, double bumpSize, double assetPriceDown,
                              double assetPriceUp, double yieldRateDown, double yieldRateUp, double yieldRateUp2,
                              std::int32_t& errorCode) {
    return DispatchOptionFunction(BawValueFunction(dividendPV), optionType, optionFunction, S, X, T, s, r, q,
                                  marketPrice, dividendPV, gammaBumpSize, bumpSize, assetPriceDown, assetPriceUp,
                                  yieldRateDown, yieldRateUp, yieldRateUp2, errorCode);
}

}  // namespace kestrix
