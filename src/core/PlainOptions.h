// Generalized Black-Scholes with cost of carry b = r - q (model 0) and its
// trading-time variant (model 1), and the closed-form building blocks the
// other models reuse. Argument orders are fixed: other models call these.
//
// S is net of escrowed dividends (DividendPV); t is the trading time, T the
// calendar time, both in years; rates are continuous; d1/d2 come from
// ComputeD1D2 for the same inputs.
#pragma once

#include <cstdint>

namespace kestrix {

// The model entry for model numbers 0 and 1: dispatches on optionFunction.
double GeneralizedBlackScholes(std::int32_t modelNumber, std::int32_t exerciseType, std::int32_t optionType,
                               std::int32_t optionFunction, double S, double X, double t, double T, double sigma,
                               double r, double q, double dividendPV, double marketPrice, double d1, double d2,
                               std::int32_t& errorCode);

// Value; with American exercise floored at IntrinsicPayoff.
double GbsValue(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                double sigma, double r, double q, double d1, double d2, double dividendPV) noexcept;

// The European legs of GbsValue from their discount factors, Dq = exp(((r - q)
// - r) * T) and Dr = exp(-r * T), and normal probabilities: N(d1), N(d2) for
// the call, N(-d1), N(-d2) for the put. For searches that re-price one option
// at many asset prices.
inline double CallValueFrom(double S, double X, double Dq, double Dr, double Nd1, double Nd2) noexcept {
    return S * Dq * Nd1 - X * Dr * Nd2;
}
inline double PutValueFrom(double S, double X, double Dq, double Dr, double NminusD1, double NminusD2) noexcept {
    return X * Dr * NminusD2 - S * Dq * NminusD1;
}

// GbsValue's European value (a straddle adds both legs) from the discount
// factors and d1, d2.
double EuropeanValueFrom(std::int32_t optionType, double S, double X, double Dq, double Dr, double d1,
                         double d2) noexcept;

// Exercise value on the asset price before the dividend adjustment.
double IntrinsicPayoff(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r,
                       double q, double dividendPV) noexcept;

double GbsDelta(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r, double q,
                double d1) noexcept;
double GbsGamma(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r, double q,
                double d1, std::int32_t modelNumber) noexcept;
// Per calendar day (the French variant's volatility term per trading day).
double GbsTheta(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r, double q,
                double d1, double d2, std::int32_t modelNumber) noexcept;
// Per percentage point of volatility.
double GbsVega(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r, double q,
               double d1, std::int32_t modelNumber) noexcept;
// Per percentage point of interest rate.
double GbsRho(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
              double sigma, double r, double q, double dividendPV, double d1, double d2) noexcept;
// Per percentage point of yield.
double GbsPsi(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r, double q,
              double d1) noexcept;
// Elasticity; a straddle's is the sum of its legs' elasticities.
double GbsLambda(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                 double sigma, double r, double q, double dividendPV, double d1, double d2) noexcept;
// dV/dX, unscaled.
double GbsStrikeSensitivity(std::int32_t optionType, double S, double X, double t, double T, double sigma, double r,
                            double q, double d1, double d2) noexcept;
double GbsTimeValue(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                    double sigma, double r, double q, double d1, double d2, double dividendPV) noexcept;

// Newton searches; 0 when they fail, diverge or exceed kMaxSearchSteps.
double GbsImpliedVol(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                     double marketPrice, double r, double q, std::int32_t modelNumber, double dividendPV) noexcept;
double GbsImpliedStrike(std::int32_t exerciseType, std::int32_t optionType, double S, double X, double t, double T,
                        double sigma, double marketPrice, double r, double q, std::int32_t modelNumber,
                        double dividendPV) noexcept;

// Safety cap of every Newton search in the library: an error that stays
// constant above the tolerance must not loop for ever.
inline constexpr int kMaxSearchSteps = 1000;

}  // namespace kestrix
