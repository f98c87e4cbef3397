#include "core/PlainOptions.h"

#include <algorithm>
#include <cmath>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/OptionStatistics.h"

namespace kestrix {

namespace {

// 1/365 and 1/252 as multiplications in extended precision.
constexpr long double kPerCalendarDay = 1.0L / 365;
constexpr long double kPerTradingDay = 1.0L / 252;

constexpr double kSearchTolerance = 1e-6;

// Variance time: trading time for the French variant, calendar time otherwise.
double VarianceTime(std::int32_t modelNumber, double t, double T) noexcept {
    return modelNumber == GenBlackScholesFrench ? t : T;
}

double EuropeanValue(std::int32_t optionType, double S, double X, double T, double r, double q, double d1,
                     double d2) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    const double Dr = std::exp(-r * T);
    return EuropeanValueFrom(optionType, S, X, Dq, Dr, d1, d2);
}

double CallTheta(double S, double X, double tau, double T, double sigma, double r, double q, double d1, double d2,
                 std::int32_t modelNumber) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    const double Dr = std::exp(-r * T);
    const double A = -S * Dq * NormalDensity(d1) * sigma / (2 * std::sqrt(tau));
    if (modelNumber == GenBlackScholesFrench) {
        const double carry = q * S * Dq * CumulativeNormal(d1) - r * X * Dr * CumulativeNormal(d2);
        return static_cast<double>(A * kPerTradingDay + carry * kPerCalendarDay);
    }
    return static_cast<double>((A + q * S * Dq * CumulativeNormal(d1) - r * X * Dr * CumulativeNormal(d2)) *
                               kPerCalendarDay);
}

double PutTheta(double S, double X, double tau, double T, double sigma, double r, double q, double d1, double d2,
                std::int32_t modelNumber) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    const double Dr = std::exp(-r * T);
    const double A = -S * Dq * NormalDensity(d1) * sigma / (2 * std::sqrt(tau));
    if (modelNumber == GenBlackScholesFrench) {
        const double carry = -q * S * Dq * CumulativeNormal(-d1) + r * X * Dr * CumulativeNormal(-d2);
        return static_cast<double>(A * kPerTradingDay + carry * kPerCalendarDay);
    }
    return static_cast<double>((A - q * S * Dq * CumulativeNormal(-d1) + r * X * Dr * CumulativeNormal(-d2)) *
                               kPerCalendarDay);
}

double LegLambda(std::int32_t exerciseType, std::int32_t leg, double S, double X, double t, double T, double sigma,
                 double r, double q, double dividendPV, double d1, double d2) noexcept {
    const double V = GbsValue(exerciseType, leg, S, X, t, T, sigma, r, q, d1, d2, dividendPV);
    if (!(V > 0)) return 0;
    const double Dq = std::exp(((r - q) - r) * T);
    const double Nd1 = CumulativeNormal(d1);
    const double slope = leg == CallOption ? Nd1 : Nd1 - 1;
    return Dq * slope * (S + dividendPV) / V;
}

}  // namespace

double IntrinsicPayoff(std::int32_t optionType, double S, double X, double /*t*/, double /*T*/, double /*sigma*/,
                       double /*r*/, double /*q*/, double dividendPV) noexcept {
    const double spot = S + dividendPV;
    switch (optionType) {
        case CallOption: return std::max(spot - X, 0.0);
        case PutOption: return std::max(X - spot, 0.0);
        default: return std::max(spot - X, 0.0) + std::max(X - spot, 0.0);
    }
}

double EuropeanValueFrom(std::int32_t optionType, double S, double X, double Dq, double Dr, double d1,
                         double d2) noexcept {
    double n1 = 0, n2 = 0;
    switch (optionType) {
        case CallOption:
            CumulativeNormalPair(d1, d2, n1, n2);
            return CallValueFrom(S, X, Dq, Dr, n1, n2);
        case PutOption:
            CumulativeNormalPair(-d1, -d2, n1, n2);
            return PutValueFrom(S, X, Dq, Dr, n1, n2);
        default:
            return CallValueFrom(S, X, Dq, Dr, CumulativeNormal(d1), CumulativeNormal(d2)) +
                   PutValueFrom(S, X, Dq, Dr, CumulativeNormal(-d1), CumulativeNormal(-d2));
    }
}

double GbsValue(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                double sigma, double r, double q, double d1, double d2, double dividendPV) noexcept {
    const double value = EuropeanValue(optionType, S, X, T, r, q, d1, d2);
    if (exerciseType == American) {
        return std::max(value, IntrinsicPayoff(optionType, S, X, t, T, sigma, r, q, dividendPV));
    }
    return value;
}

double GbsDelta(std::int32_t optionType, double /*S*/, double /*X*/, double /*t*/, double T, double /*sigma*/,
                double r, double q, double d1) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    switch (optionType) {
        case CallOption: return Dq * CumulativeNormal(d1);
        case PutOption: return -Dq * CumulativeNormal(-d1);
        default: return Dq * CumulativeNormal(d1) + -Dq * CumulativeNormal(-d1);
    }
}

double GbsGamma(std::int32_t optionType, double S, double /*X*/, double t, double T, double sigma, double r, double q,
                double d1, std::int32_t modelNumber) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    const double gamma = Dq * NormalDensity(d1) / (S * sigma * std::sqrt(VarianceTime(modelNumber, t, T)));
    return optionType == Straddle ? 2 * gamma : gamma;
}

double GbsTheta(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r, double q,
                double d1, double d2, std::int32_t modelNumber) noexcept {
    const double tau = VarianceTime(modelNumber, t, T);
    switch (optionType) {
        case CallOption: return CallTheta(S, X, tau, T, sigma, r, q, d1, d2, modelNumber);
        case PutOption: return PutTheta(S, X, tau, T, sigma, r, q, d1, d2, modelNumber);
        default:
            return CallTheta(S, X, tau, T, sigma, r, q, d1, d2, modelNumber) +
                   PutTheta(S, X, tau, T, sigma, r, q, d1, d2, modelNumber);
    }
}

double GbsVega(std::int32_t optionType, double S, double /*X*/, double t, double T, double /*sigma*/, double r,
               double q, double d1, std::int32_t modelNumber) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    const double vega = S * Dq * NormalDensity(d1) * std::sqrt(VarianceTime(modelNumber, t, T)) * 0.01;
    return optionType == Straddle ? 2 * vega : vega;
}

double GbsRho(std::int32_t /*exerciseType*/, std::int32_t optionType, double /*S*/, double X, double /*t*/, double T,
              double /*sigma*/, double r, double /*q*/, double /*dividendPV*/, double /*d1*/, double d2) noexcept {
    const double Dr = std::exp(-r * T);
    const double call = T * X * Dr * CumulativeNormal(d2) * 0.01;
    const double put = -T * X * Dr * CumulativeNormal(-d2) * 0.01;
    switch (optionType) {
        case CallOption: return call;
        case PutOption: return put;
        default: return call + put;
    }
}

double GbsPsi(std::int32_t optionType, double S, double /*X*/, double /*t*/, double T, double /*sigma*/, double r,
              double q, double d1) noexcept {
    const double Dq = std::exp(((r - q) - r) * T);
    const double call = -T * S * Dq * CumulativeNormal(d1) * 0.01;
    const double put = T * S * Dq * CumulativeNormal(-d1) * 0.01;
    switch (optionType) {
        case CallOption: return call;
        case PutOption: return put;
        default: return call + put;
    }
}

double GbsLambda(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                 double sigma, double r, double q, double dividendPV, double d1, double d2) noexcept {
    if (optionType == Straddle) {
        return LegLambda(exerciseType, CallOption, S, X, t, T, sigma, r, q, dividendPV, d1, d2) +
               LegLambda(exerciseType, PutOption, S, X, t, T, sigma, r, q, dividendPV, d1, d2);
    }
    return LegLambda(exerciseType, optionType, S, X, t, T, sigma, r, q, dividendPV, d1, d2);
}

double GbsStrikeSensitivity(std::int32_t optionType, double /*S*/, double /*X*/, double /*t*/, double T,
                            double /*sigma*/, double r, double /*q*/, double /*d1*/, double d2) noexcept {
    const double Dr = std::exp(-r * T);
    const double call = -Dr * CumulativeNormal(d2);
    const double put = Dr * CumulativeNormal(-d2);
    switch (optionType) {
        case CallOption: return call;
        case PutOption: return put;
        default: return call + put;
    }
}

double GbsTimeValue(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                    double sigma, double r, double q, double d1, double d2, double dividendPV) noexcept {
    return GbsValue(exerciseType, optionType, S, X, t, T, sigma, r, q, d1, d2, dividendPV) -
           IntrinsicPayoff(optionType, S, X, t, T, sigma, r, q, dividendPV);
}

double GbsImpliedVol(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                     double marketPrice, double r, double q, std::int32_t modelNumber, double dividendPV) noexcept {
    if (marketPrice <= 0) return 0;
    const double seedRate = r >= 0.01 ? r : 0.01;
    double sigma = std::sqrt(std::fabs(std::log(S / X) + seedRate * T) * 2 / T);

    double d1 = 0, d2 = 0;
    double V = 0;
    if (ComputeD1D2(modelNumber, d1, d2, S, X, r, q, T, t, sigma)) {
        V = GbsValue(exerciseType, optionType, S, X, t, T, sigma, r, q, d1, d2, dividendPV);
    }
    double W = GbsVega(optionType, S, X, t, T, sigma, r, q, d1, modelNumber) * 100;
    double err = std::fabs(marketPrice - V);
    int steps = 0;
    while (err > kSearchTolerance && W > 0) {
        if (steps == kMaxSearchSteps) return 0;
        sigma = sigma - (V - marketPrice) / W;
        if (sigma <= 0 || sigma >= 100) return 0;
        if (!ComputeD1D2(modelNumber, d1, d2, S, X, r, q, T, t, sigma)) return 0;
        V = GbsValue(exerciseType, optionType, S, X, t, T, sigma, r, q, d1, d2, dividendPV);
        W = GbsVega(optionType, S, X, t, T, sigma, r, q, d1, modelNumber) * 100;
        const double newErr = std::fabs(marketPrice - V);
        ++steps;
        if (newErr > err && steps > 2) return 0;  // diverging
        err = newErr;
    }
    return W == 0 ? 0 : sigma;
}

double GbsImpliedStrike(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                        double sigma, double marketPrice, double r, double q, std::int32_t modelNumber,
                        double dividendPV) noexcept {
    if (marketPrice <= 0) return 0;
    double K = 0;
    switch (optionType) {
        case CallOption: K = S - marketPrice; break;
        case PutOption: K = S + marketPrice; break;
        default: K = std::max(S + marketPrice, S - marketPrice); break;
    }
    if (K <= 0) K = X;

    double d1 = 0, d2 = 0;
    double V = 0, G = 0;
    if (ComputeD1D2(modelNumber, d1, d2, S, K, r, q, T, t, sigma)) {
        V = GbsValue(exerciseType, optionType, S, K, t, T, sigma, r, q, d1, d2, dividendPV);
        G = GbsStrikeSensitivity(optionType, S, K, t, T, sigma, r, q, d1, d2);
    }
    double err = std::fabs(marketPrice - V);
    int steps = 0;
    while (err > kSearchTolerance && G != 0) {
        if (steps == kMaxSearchSteps) return 0;
        K = K - (V - marketPrice) / G;
        if (K <= 0) return 0;
        if (!ComputeD1D2(modelNumber, d1, d2, S, K, r, q, T, t, sigma)) return 0;
        V = GbsValue(exerciseType, optionType, S, K, t, T, sigma, r, q, d1, d2, dividendPV);
        G = GbsStrikeSensitivity(optionType, S, K, t, T, sigma, r, q, d1, d2);
        const double newErr = std::fabs(marketPrice - V);
        ++steps;
        if (newErr > err && steps > 2) return 0;  // diverging
        err = newErr;
    }
    return G == 0 ? 0 : K;
}

double GeneralizedBlackScholes(std::int32_t modelNumber, std::int32_t exerciseType, std::int32_t optionType,
                               std::int32_t optionFunction, double S, double X, double t, double T, double sigma,
                               double r, double q, double dividendPV, double marketPrice, double d1, double d2,
                               std::int32_t& errorCode) {
    switch (optionFunction) {
        case Theoretical: return GbsValue(exerciseType, optionType, S, X, t, T, sigma, r, q, d1, d2, dividendPV);
        case Delta: return GbsDelta(optionType, S, X, t, T, sigma, r, q, d1);
        case Gamma: return GbsGamma(optionType, S, X, t, T, sigma, r, q, d1, modelNumber);
        case Theta: return GbsTheta(optionType, S, X, t, T, sigma, r, q, d1, d2, modelNumber);
        case ImpliedVol:
            return GbsImpliedVol(exerciseType, optionType, S, X, t, T, marketPrice, r, q, modelNumber, dividendPV);
        case Vega: return GbsVega(optionType, S, X, t, T, sigma, r, q, d1, modelNumber);
        case Rho: return GbsRho(exerciseType, optionType, S, X, t, T, sigma, r, q, dividendPV, d1, d2);
        case Psi: return GbsPsi(optionType, S, X, t, T, sigma, r, q, d1);
        case Lambda: return GbsLambda(exerciseType, optionType, S, X, t, T, sigma, r, q, dividendPV, d1, d2);
        case IntrinsicValue: return IntrinsicPayoff(optionType, S, X, t, T, sigma, r, q, dividendPV);
        case StrikeSensitivity: return GbsStrikeSensitivity(optionType, S, X, t, T, sigma, r, q, d1, d2);
        case Time_Value: return GbsTimeValue(exerciseType, optionType, S, X, t, T, sigma, r, q, d1, d2, dividendPV);
        case ImpliedStrike:
            return GbsImpliedStrike(exerciseType, optionType, S, X, t, T, sigma, marketPrice, r, q, modelNumber,
                                    dividendPV);
        default: RaiseError(errorCode, enumOErrCodes::OptionFunctionErr);
    }
}

}  // namespace kestrix
