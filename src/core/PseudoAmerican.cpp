#include "core/PseudoAmerican.h"

#include <algorithm>
#include <cmath>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "core/WorkLimits.h"

namespace kestrix {

namespace {

constexpr double kSearchTolerance = 1e-6;

// Upper bound (exclusive) of the implied-volatility search.
constexpr double kMaxVolatility = 100;

double CallLeg(double S, double X, double T, double sigma, double r, double q, double D, double t1, double f,
               double dividendPV, double d1, double d2, bool dividendsIgnored, std::int32_t n,
               ExercisePoint& point) noexcept {
    point = {T, X, d1, d2};
    const double exerciseNow = std::max(S + dividendPV - X, 0.0);
    if (dividendsIgnored || dividendPV == 0) {
        return std::max(exerciseNow, GbsValue(American, CallOption, S, X, T, T, sigma, r, q, d1, d2, dividendPV));
    }

    double best = 0;
    const double heldToExpiry =
        std::max(exerciseNow, GbsValue(European, CallOption, S, X, T, T, sigma, r, q, d1, d2, dividendPV));
    if (heldToExpiry > 0) best = heldToExpiry;

    // Candidate i exercises just before the ex-dividend date t_k, k = n-1-i,
    // and so captures the i+1 payments from t_k on: on the asset net of
    // escrowed dividends that is a European call expiring at t_k whose strike
    // is lowered by those payments' value at t_k.
    double discountSum = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        const double tk = t1 + (n - 1 - i) * f;
        discountSum += std::exp(-r * (i * f));
        const double K = X - D * discountSum;
        // The captured dividends pay the whole strike: no European call is
        // left to compare, and every later candidate captures even more.
        if (K <= 0) break;
        double kd1 = 0, kd2 = 0;
        ComputeD1D2(BSGen, kd1, kd2, S, K, r, q, tk, tk, sigma);
        const double V = GbsValue(European, CallOption, S, K, tk, tk, sigma, r, q, kd1, kd2, dividendPV);
        if (V >= best) point = {tk, K, kd1, kd2};
        best = std::max(best, V);
    }
    return best;
}

// A put gains nothing from an ex-dividend date: European, floored at its
// exercise value on the asset price before dividends.
double PutLeg(double S, double X, double T, double sigma, double r, double q, double dividendPV, double d1, double d2,
              ExercisePoint& point) noexcept {
    point = {T, X, d1, d2};
    return std::max(GbsValue(European, PutOption, S, X, T, T, sigma, r, q, d1, d2, dividendPV),
                    X - (S + dividendPV));
}

// A call or a put is its leg; a straddle is the call leg plus the put leg.
template <typename LegFn>
double SumOfLegs(std::int32_t optionType, const LegFn& leg) {
    switch (optionType) {
        case CallOption: return leg(CallOption);
        case PutOption: return leg(PutOption);
        default: return leg(CallOption) + leg(PutOption);
    }
}

// Where a leg's sensitivities are taken: the call's exercise point unless the
// dividends were ignored; the put's (and the ignored call's) is the request's.
ExercisePoint SensitivityPoint(std::int32_t leg, double S, double X, double T, double sigma, double r, double q,
                               double D, double t1, double f, double dividendPV, double d1, double d2,
                               bool dividendsIgnored, std::int32_t n) noexcept {
    ExercisePoint point{T, X, d1, d2};
    if (leg == CallOption && !dividendsIgnored) {
        CallLeg(S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n, point);
    }
    return point;
}

// closedForm(leg, point) evaluated at each leg's sensitivity point.
template <typename ClosedForm>
double AtExercisePoints(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                        double D, double t1, double f, double dividendPV, double d1, double d2, bool dividendsIgnored,
                        std::int32_t n, const ClosedForm& closedForm) {
    return SumOfLegs(optionType, [&](std::int32_t leg) {
        return closedForm(leg, SensitivityPoint(leg, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                                dividendsIgnored, n));
    });
}

// Newton iteration of both implied searches. evaluate(x, value, slope) prices
// at the trial x and returns false when d1/d2 cannot be formed there;
// admissible(x) bounds the trials. 0 when there is no price to match, on any
// failure, when the slope vanishes, when the error grows from the third step
// on, or after kMaxSearchSteps steps.
// Each evaluation costs evaluationWork; the search gives up (0) rather than
// let its evaluations together exceed workLimit.
template <typename Evaluate, typename Admissible>
double NewtonSearch(double x, double marketPrice, const Evaluate& evaluate, const Admissible& admissible,
                    double evaluationWork, double workLimit) {
    if (marketPrice <= 0) return 0;
    double work = evaluationWork;
    if (work > workLimit) return 0;
    double V = 0, slope = 0;
    if (!evaluate(x, V, slope)) return 0;
    double err = std::fabs(marketPrice - V);
    int steps = 0;
    while (err > kSearchTolerance && slope != 0) {
        if (steps == kMaxSearchSteps) return 0;
        x = x - (V - marketPrice) / slope;
        work += evaluationWork;
        if (work > workLimit) return 0;
        if (!admissible(x) || !evaluate(x, V, slope)) return 0;
        const double newErr = std::fabs(marketPrice - V);
        ++steps;
        if (newErr > err && steps > 2) return 0;  // diverging
        err = newErr;
    }
    return slope == 0 || std::isnan(err) ? 0 : x;  // a NaN price never matched
}

// Work of one valuation: the call leg walks the n exercise dates when the
// dividends were kept.
double ValuationWork(std::int32_t optionType, double dividendPV, bool dividendsIgnored, std::int32_t n) noexcept {
    const bool walks = optionType != PutOption && !dividendsIgnored && dividendPV != 0 && n > 0;
    return walks ? n * kExerciseDateWork : 0.0;
}

// Work limit left after the launcher discounted the n dates (four rates for Rho).
double PseudoAmericanWorkLimit(std::int32_t optionFunction, std::int32_t n) noexcept {
    return kCallWorkLimit - ScheduleWork(n, optionFunction == Rho ? kBumpedDiscountRates : 1);
}

}  // namespace

double PseudoAmericanLeg(std::int32_t legType, double S, double X, double T, double sigma, double r, double q,
                         double D, double t1, double f, double dividendPV, double d1, double d2,
                         bool dividendsIgnored, std::int32_t n, ExercisePoint& point) noexcept {
    if (legType == CallOption) {
        return CallLeg(S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n, point);
    }
    return PutLeg(S, X, T, sigma, r, q, dividendPV, d1, d2, point);
}

double PseudoAmericanValue(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept {
    return SumOfLegs(optionType, [&](std::int32_t leg) {
        ExercisePoint point{};
        return PseudoAmericanLeg(leg, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                                 point);
    });
}

double PseudoAmericanDelta(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsDelta(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1);
                            });
}

double PseudoAmericanGamma(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsGamma(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1, BSGen);
                            });
}

double PseudoAmericanTheta(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsTheta(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1, p.d2, BSGen);
                            });
}

double PseudoAmericanVega(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                          double D, double t1, double f, double dividendPV, double d1, double d2,
                          bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsVega(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1, BSGen);
                            });
}

double PseudoAmericanRho(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                         double D, double t1, double f, double dividendPV, double d1, double d2,
                         bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsRho(European, leg, S, p.strike, p.tau, p.tau, sigma, r, q, dividendPV,
                                              p.d1, p.d2);
                            });
}

double PseudoAmericanPsi(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                         double D, double t1, double f, double dividendPV, double d1, double d2,
                         bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsPsi(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1);
                            });
}

double PseudoAmericanStrikeSensitivity(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                       double q, double D, double t1, double f, double dividendPV, double d1,
                                       double d2, bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsStrikeSensitivity(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1, p.d2);
                            });
}

double PseudoAmericanRhoPlusPsi(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                double q, double D, double t1, double f, double dividendPV, double d1, double d2,
                                bool dividendsIgnored, std::int32_t n) noexcept {
    return AtExercisePoints(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n,
                            [&](std::int32_t leg, const ExercisePoint& p) {
                                return GbsRho(European, leg, S, p.strike, p.tau, p.tau, sigma, r, q, dividendPV,
                                              p.d1, p.d2) +
                                       GbsPsi(leg, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1);
                            });
}

double PseudoAmericanLambda(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                            double D, double t1, double f, double dividendPV, double d1, double d2,
                            bool dividendsIgnored, std::int32_t n) noexcept {
    return SumOfLegs(optionType, [&](std::int32_t leg) {
        if (leg == PutOption) return GbsLambda(European, PutOption, S, X, T, T, sigma, r, q, dividendPV, d1, d2);
        ExercisePoint p{T, X, d1, d2};
        const double V =
            dividendsIgnored
                ? GbsValue(European, CallOption, S, X, T, T, sigma, r, q, d1, d2, dividendPV)
                : CallLeg(S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n, p);
        if (!(V > 0)) return 0.0;
        return GbsDelta(CallOption, S, p.strike, p.tau, p.tau, sigma, r, q, p.d1) * (S + dividendPV) / V;
    });
}

double PseudoAmericanTimeValue(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                               double q, double D, double t1, double f, double dividendPV, double d1, double d2,
                               bool dividendsIgnored, std::int32_t n) noexcept {
    return PseudoAmericanValue(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n) -
           IntrinsicPayoff(optionType, S, X, T, T, sigma, r, q, dividendPV);
}

double PseudoAmericanImpliedVol(std::int32_t optionType, double S, double X, double T, double /*sigma*/, double r,
                                double q, double D, double t1, double f, double dividendPV, double marketPrice,
                                bool dividendsIgnored, std::int32_t n) noexcept {
    const double seedRate = r >= 0.01 ? r : 0.01;
    const double seed = std::sqrt(std::fabs(std::log(S / X) + seedRate * T) * 2 / T);
    // The slope is the European Vega at the request's strike and expiry.
    const auto evaluate = [&](double vol, double& V, double& slope) {
        double d1 = 0, d2 = 0;
        if (!ComputeD1D2(BSGen, d1, d2, S, X, r, q, T, T, vol)) return false;
        V = PseudoAmericanValue(optionType, S, X, T, vol, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n);
        slope = GbsVega(optionType, S, X, T, T, vol, r, q, d1, BSGen) * 100;
        return true;
    };
    return NewtonSearch(seed, marketPrice, evaluate, [](double vol) { return vol > 0 && vol < kMaxVolatility; },
                        ValuationWork(optionType, dividendPV, dividendsIgnored, n),
                        PseudoAmericanWorkLimit(ImpliedVol, n));
}

double PseudoAmericanImpliedStrike(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                   double q, double D, double t1, double f, double dividendPV, double marketPrice,
                                   bool dividendsIgnored, std::int32_t n) noexcept {
    double seed = 0;
    switch (optionType) {
        case CallOption: seed = S - marketPrice; break;
        case PutOption: seed = S + marketPrice; break;
        default: seed = std::max(S + marketPrice, S - marketPrice); break;
    }
    if (seed <= 0) seed = X;
    // The slope is the European strike sensitivity at the trial strike and the
    // request's expiry.
    const auto evaluate = [&](double K, double& V, double& slope) {
        double d1 = 0, d2 = 0;
        if (!ComputeD1D2(BSGen, d1, d2, S, K, r, q, T, T, sigma)) return false;
        V = PseudoAmericanValue(optionType, S, K, T, sigma, r, q, D, t1, f, dividendPV, d1, d2, dividendsIgnored, n);
        slope = GbsStrikeSensitivity(optionType, S, K, T, T, sigma, r, q, d1, d2);
        return true;
    };
    return NewtonSearch(seed, marketPrice, evaluate, [](double K) { return K > 0; },
                        ValuationWork(optionType, dividendPV, dividendsIgnored, n),
                        PseudoAmericanWorkLimit(ImpliedStrike, n));
}

double PseudoAmericanApproximation(std::int32_t optionType, std::int32_t optionFunction, double S, double X, double T,
                                   double sigma, double r, double q, double D, double t1, double f, double dividendPV,
                                   double marketPrice, double d1, double d2, bool dividendsIgnored,
                                   std::int32_t dividendCount, std::int32_t& errorCode) {
    const std::int32_t n = dividendCount;
    // The functions but the searches (which count their own work) and the
    // intrinsic value walk the schedule once: one too long for that within the
    // call's work limit is not walked. An unknown function still fails below.
    const bool walksOnce = optionFunction >= Theoretical && optionFunction <= ImpliedStrike &&
                           optionFunction != ImpliedVol && optionFunction != ImpliedStrike &&
                           optionFunction != IntrinsicValue;
    if (walksOnce &&
        ValuationWork(optionType, dividendPV, dividendsIgnored, n) > PseudoAmericanWorkLimit(optionFunction, n)) {
        return 0;
    }
    switch (optionFunction) {
        case Theoretical:
            return PseudoAmericanValue(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                       dividendsIgnored, n);
        case Delta:
            return PseudoAmericanDelta(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                       dividendsIgnored, n);
        case Gamma:
            return PseudoAmericanGamma(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                       dividendsIgnored, n);
        case Theta:
            return PseudoAmericanTheta(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                       dividendsIgnored, n);
        case ImpliedVol:
            return PseudoAmericanImpliedVol(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, marketPrice,
                                            dividendsIgnored, n);
        case Vega:
            return PseudoAmericanVega(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                      dividendsIgnored, n);
        case Rho:
            return PseudoAmericanRho(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                     dividendsIgnored, n);
        case Psi:
            return PseudoAmericanPsi(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                     dividendsIgnored, n);
        case Lambda:
            return PseudoAmericanLambda(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                        dividendsIgnored, n);
        case IntrinsicValue: return IntrinsicPayoff(optionType, S, X, T, T, sigma, r, q, dividendPV);
        case StrikeSensitivity:
            return PseudoAmericanStrikeSensitivity(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                                   dividendsIgnored, n);
        case Time_Value:
            return PseudoAmericanTimeValue(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, d1, d2,
                                           dividendsIgnored, n);
        case ImpliedStrike:
            return PseudoAmericanImpliedStrike(optionType, S, X, T, sigma, r, q, D, t1, f, dividendPV, marketPrice,
                                               dividendsIgnored, n);
        default: RaiseError(errorCode, enumOErrCodes::OptionFunctionErr);
    }
}

double PseudoAmericanValuationWork(std::int32_t optionType, double dividendPV, bool dividendsIgnored,
                                   std::int32_t n) noexcept {
    return ValuationWork(optionType, dividendPV, dividendsIgnored, n);
}

}  // namespace kestrix
