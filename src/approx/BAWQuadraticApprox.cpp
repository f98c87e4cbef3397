#include "approx/BAWQuadraticApprox.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>

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

// The discount factors of a leg's European value at one T, r and q: Dr =
// exp(-r * T) and Dq = exp(yieldExponent), yieldExponent = ((r - q) - r) * T.
struct LegDiscounts {
    double Dr;
    double yieldExponent;
    double Dq;
};

LegDiscounts DiscountsOf(double T, double r, double q) {
    const double yieldExponent = ((r - q) - r) * T;
    return LegDiscounts{std::exp(-r * T), yieldExponent, std::exp(yieldExponent)};
}

// exp(exponent), taken from `known` when it has that very exponent.
double ExpReusing(double exponent, double knownExponent, double knownValue) {
    return exponent == knownExponent ? knownValue : std::exp(exponent);
}

// The critical price and what the premium needs at it, each the very value
// BawPremium would take again.
struct CriticalPoint {
    double price;          // S*, 0 when the search was abandoned
    double K;              // 1 - exp(-r * T)
    double carryDiscount;  // exp((b - r) * T)
    double Nd1;            // N(phi * d1) at S*
};

// The search of BawCriticalPrice. `leg` holds the European discount factors
// the caller took at the same T and r (and its own yield), so that exp(-r * T)
// and, where the exponents agree, the others are not taken again.
CriticalPoint RunCriticalPriceSearch(std::int32_t optionType, double phi, double X, double T, double r, double b,
                                     double s, const LegDiscounts& leg) {
    CriticalPoint point{};
    const double variance = s * s;
    const double Nn = 2 * b / variance;
    const double M = 2 * r / variance;
    const double qu = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * M)) / 2;
    const double Su = X / (1 - 1 / qu);  // critical price at infinite maturity
    const double sqrtT = std::sqrt(T);
    const double hh = -phi * (b * T + 2 * phi * s * sqrtT) * X / (phi * (Su - X));
    if (hh > 20) return point;
    double Si = phi > 0 ? X + (Su - X) * (1 - std::exp(hh)) : Su + (X - Su) * std::exp(hh);

    const double Dr = leg.Dr;  // exp(-r * T)
    const double K = 1 - Dr;
    const double Q = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * M / K)) / 2;
    if (Q == 0) return point;
    // A seed that is no price (degenerate inputs) cannot start the search.
    if (!IsUsablePrice(Si)) return point;

    const double carryDiscount = ExpReusing((b - r) * T, leg.yieldExponent, leg.Dq);
    const double volTime = s * sqrtT;
    // The European value at each trial price is GbsValue's at yield r - b: its
    // discount factors do not depend on the price.
    const double q = r - b;
    const double yieldExponent = ((r - q) - r) * T;
    const double Dq = yieldExponent == (b - r) * T ? carryDiscount
                                                    : ExpReusing(yieldExponent, leg.yieldExponent, leg.Dq);
    double lhs = 0, rhs = 0, bi = 0, Nd1 = 0;
    const auto evaluateAt = [&](double price) {
        const double logPriceX = std::log(price / X);
        const double d1 = (logPriceX + (b + variance / 2) * T) / volTime;
        lhs = phi * (price - X);
        // ComputeD1D2(Whaleys, ...) at this price (> 0): zeros for a strike that is not positive.
        double gd1 = 0, gd2 = 0;
        if (!(X <= 0)) D1D2FromLog(logPriceX, volTime, r, q, T, s, gd1, gd2);
        // N(phi * d1) is the European leg's N(+-gd1) whenever d1 and gd1
        // agree, and n(phi * d1) takes N's exp where their exponents agree.
        const double x1 = phi * d1;
        double european = 0, exponent1 = 0, exp1 = 0;
        bool haveNd1 = false;
        const auto normalAt = [](double x, double& exponent, double& e) {
            exponent = CumulativeNormalExponent(x);
            e = std::exp(exponent);
            return CumulativeNormalFromExp(x, e);
        };
        // Both exponentials before either polynomial (as CumulativeNormalPair):
        // the two N are independent, and the search waits for both at every step.
        const auto europeanLeg = [&](double legD1, double legD2, auto value) {
            const double exponent = CumulativeNormalExponent(legD1);
            const double e = std::exp(exponent);
            const double e2 = std::exp(CumulativeNormalExponent(legD2));
            const double n1 = CumulativeNormalFromExp(legD1, e);
            const double n2 = CumulativeNormalFromExp(legD2, e2);
            european = value(price, X, Dq, Dr, n1, n2);
            if (x1 == legD1) {
                Nd1 = n1;
                exponent1 = exponent;
                exp1 = e;
                haveNd1 = true;
            }
        };
        switch (optionType) {
            case CallOption: europeanLeg(gd1, gd2, CallValueFrom); break;
            case PutOption: europeanLeg(-gd1, -gd2, PutValueFrom); break;
            default: european = EuropeanValueFrom(optionType, price, X, Dq, Dr, gd1, gd2); break;
        }
        if (!haveNd1) Nd1 = normalAt(x1, exponent1, exp1);
        const double densityExponent = -x1 * x1 * 0.5;
        const double density =
            NormalDensityFromExp(densityExponent == exponent1 ? exp1 : std::exp(densityExponent));
        rhs = european + phi * (1 - carryDiscount * Nd1) * price / Q;
        bi = phi * (1 - phi * carryDiscount * density / volTime) / Q + (1 - 1 / Q) * phi * carryDiscount * Nd1;
    };

    evaluateAt(Si);
    if (phi * bi == 1) return point;
    for (int steps = 0;; ++steps) {
        const double gap = std::fabs(lhs - rhs) / X;
        if (std::isnan(gap)) return point;
        if (gap <= kCriticalPriceTolerance) {
            point = CriticalPoint{Si, K, carryDiscount, Nd1};
            return point;
        }
        if (steps == kMaxCriticalPriceSteps) return point;
        Si = (phi * rhs + X - phi * bi * Si) / (1 - phi * bi);
        if (!IsUsablePrice(Si)) return point;
        evaluateAt(Si);
    }
}

// The search does not depend on the asset price, and hosts ask for it again
// at other prices of the same option: a spot ladder, Delta's and Gamma's
// bumped prices, book rows on one contract. Each thread keeps its last call
// search and its last put search (a straddle needs both), keyed on the bits
// of every input the search reads, so a repeat returns the very point the
// search would find again (it is a pure function of them). The leg's Dr and
// Dq are exp(-r * T) and exp(yieldExponent): the key holds what they follow
// from.
using SearchKey = std::array<std::uint64_t, 8>;

struct RememberedSearch {
    bool valid;
    SearchKey key;
    CriticalPoint point;
};

thread_local RememberedSearch lastSearch[2]{};  // by phi: call, put

CriticalPoint SearchCriticalPrice(std::int32_t optionType, double phi, double X, double T, double r, double b,
                                  double s, const LegDiscounts& leg) {
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    const SearchKey key{static_cast<std::uint64_t>(static_cast<std::uint32_t>(optionType)),
                        bits(phi), bits(X), bits(T), bits(r), bits(b), bits(s), bits(leg.yieldExponent)};
    RememberedSearch& last = lastSearch[phi > 0 ? 0 : 1];
    if (last.valid && last.key == key) return last.point;
    const CriticalPoint point = RunCriticalPriceSearch(optionType, phi, X, T, r, b, s, leg);
    last = RememberedSearch{true, key, point};
    return point;
}

// BawPremium with the leg's discount factors at hand.
double PremiumOver(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                   const LegDiscounts& leg, double& criticalPrice) {
    const double b = r - q;
    const CriticalPoint point = SearchCriticalPrice(optionType, phi, X, T, r, b, s, leg);
    criticalPrice = point.price;
    const double Sstar = criticalPrice;
    if (Sstar == 0) return 0;

    const double variance = s * s;
    const double Nn = 2 * b / variance;
    const double Mk = 2 * r / (variance * point.K);
    const double Q = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * Mk)) / 2;
    // N(phi * d1) at S* is the search's last: d1 = (log(S*/X) + (b + variance/2) T) / (s sqrt(T)).
    const double A = phi * (Sstar / Q) * (1 - point.carryDiscount * point.Nd1);

    // Far from S* the power is negligible or overflows: no premium.
    const double ratio = S / Sstar;
    if ((ratio < 1e-5 && Q < -5) || Q > 100 || Q < -100 || LogProductExceeds(Q, ratio, 200)) return 0;
    return A * Power(ratio, Q);
}

}  // namespace

double BawCriticalPrice(std::int32_t optionType, double phi, double X, double T, double r, double b, double s,
                        double /*dividendPV*/) {
    return SearchCriticalPrice(optionType, phi, X, T, r, b, s, DiscountsOf(T, r, r - b)).price;
}

double BawPremium(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                  double /*dividendPV*/, double& criticalPrice) {
    return PremiumOver(optionType, phi, S, X, T, s, r, q, DiscountsOf(T, r, q), criticalPrice);
}

double BawLegValue(std::int32_t optionType, double phi, double S, double X, double T, double s, double r, double q,
                   double /*dividendPV*/) {
    const double b = r - q;
    double d1 = 0, d2 = 0;
    const bool haveD1D2 = ComputeD1D2(Whaleys, d1, d2, S, X, r, q, T, T, s);
    // GbsValue's European value, its discount factors kept for the search.
    const LegDiscounts leg = DiscountsOf(T, r, q);
    const double european = EuropeanValueFrom(optionType, S, X, leg.Dq, leg.Dr, d1, d2);
    // A call on an asset that costs nothing to carry is never exercised early.
    if (b >= r && optionType == CallOption && haveD1D2) return european;

    double criticalPrice = 0;
    const double premium = PremiumOver(optionType, phi, S, X, T, s, r, q, leg, criticalPrice);
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
    return DispatchOptionFunction<ExerciseFloor::Intrinsic>(
        BawValueFunction(dividendPV), optionType, optionFunction, S, X, T, s, r, q, marketPrice, dividendPV,
        gammaBumpSize, bumpSize, assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp, yieldRateUp2, errorCode);
}

double QuadraticApproximation(const PricingRequest& rq, const PreparedInputs& p, std::int32_t& errorCode) {
    return DispatchOptionFunction<ExerciseFloor::Intrinsic>(
        BawValueFunction(p.DividendPV), rq.OptionType, rq.OptionFunction, rq.AssetPrice, rq.StrikePrice,
        rq.TimeExpire, rq.Volatility, rq.InterestRate, rq.YieldRate, rq.MarketPrice, p.DividendPV, p.GammaBumpSize,
        p.BumpSize, p.AssetPriceDown, p.AssetPriceUp, p.YieldRateDown, p.YieldRateUp, p.YieldRateUp2, errorCode);
}

}  // namespace kestrix
