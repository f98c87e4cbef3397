// Black's pseudo-American approximation (model 8): an American call on an
// asset with discrete cash dividends is worth the most of several European
// calls, one held to expiry and one exercised just before each ex-dividend
// date; an American put is its European value floored at intrinsic value.
// Every number is assembled from the closed forms of PlainOptions.
//
// Common arguments: S is net of the escrowed dividends (dividendPV); X the
// strike; T the years to expiry, used as trading and calendar time; sigma,
// r and q the volatility and the continuous rate and yield; D one dividend
// payment, t1 the years to the first ex-dividend date, f the years between
// payments (0 for a single payment); n (DividendCount) the number of
// ex-dividend dates whose payments make up dividendPV, at t1 + k*f for
// k = 0 .. n-1; dividendsIgnored is true when the launcher kept no dividend
// adjustment; d1/d2 come from ComputeD1D2 for (S, X, r, q, T, sigma).
#pragma once

#include <cstdint>

namespace kestrix {

// The European option that gives a leg its value: its expiry, strike and
// their d1/d2.
struct ExercisePoint {
    double tau;
    double strike;
    double d1;
    double d2;
};

// The model entry: dispatches on optionFunction (1..13); any other function
// stores OptionFunctionErr through errorCode and raises its text.
double PseudoAmericanApproximation(std::int32_t optionType, std::int32_t optionFunction, double S, double X, double T,
                                   double sigma, double r, double q, double D, double t1, double f, double dividendPV,
                                   double marketPrice, double d1, double d2, bool dividendsIgnored,
                                   std::int32_t dividendCount, std::int32_t& errorCode);

// Value of one leg (legType 1 call, 2 put); writes the leg's exercise point.
double PseudoAmericanLeg(std::int32_t legType, double S, double X, double T, double sigma, double r, double q,
                         double D, double t1, double f, double dividendPV, double d1, double d2,
                         bool dividendsIgnored, std::int32_t n, ExercisePoint& point) noexcept;

// Value of a call, put or straddle (call leg plus put leg).
double PseudoAmericanValue(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept;

// European closed forms at each leg's exercise point (the put's is always the
// request's own); a straddle adds its legs. Units as in PlainOptions: Theta
// per calendar day, Vega, Rho and Psi per percentage point.
double PseudoAmericanDelta(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanGamma(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanTheta(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                           double D, double t1, double f, double dividendPV, double d1, double d2,
                           bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanVega(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                          double D, double t1, double f, double dividendPV, double d1, double d2,
                          bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanRho(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                         double D, double t1, double f, double dividendPV, double d1, double d2,
                         bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanPsi(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                         double D, double t1, double f, double dividendPV, double d1, double d2,
                         bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanStrikeSensitivity(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                       double q, double D, double t1, double f, double dividendPV, double d1,
                                       double d2, bool dividendsIgnored, std::int32_t n) noexcept;

// Elasticity on S + dividendPV; a straddle's is the sum of its legs'.
double PseudoAmericanLambda(std::int32_t optionType, double S, double X, double T, double sigma, double r, double q,
                            double D, double t1, double f, double dividendPV, double d1, double d2,
                            bool dividendsIgnored, std::int32_t n) noexcept;

// Value less the exercise value on S + dividendPV.
double PseudoAmericanTimeValue(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                               double q, double D, double t1, double f, double dividendPV, double d1, double d2,
                               bool dividendsIgnored, std::int32_t n) noexcept;

// Rho plus Psi at each leg's exercise point: the rate sensitivity when the
// yield moves with the rate (futures, whose yield equals the rate).
double PseudoAmericanRhoPlusPsi(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                double q, double D, double t1, double f, double dividendPV, double d1, double d2,
                                bool dividendsIgnored, std::int32_t n) noexcept;

// Newton searches with the entry's arguments (the volatility search does not
// read sigma); 0 when they fail, diverge or exceed kMaxSearchSteps.
double PseudoAmericanImpliedVol(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                double q, double D, double t1, double f, double dividendPV, double marketPrice,
                                bool dividendsIgnored, std::int32_t n) noexcept;
double PseudoAmericanImpliedStrike(std::int32_t optionType, double S, double X, double T, double sigma, double r,
                                   double q, double D, double t1, double f, double dividendPV, double marketPrice,
                                   bool dividendsIgnored, std::int32_t n) noexcept;

// Work (core/WorkLimits.h) of one valuation: the call leg walks the n
// exercise dates when the dividends were kept.
double PseudoAmericanValuationWork(std::int32_t optionType, double dividendPV, bool dividendsIgnored,
                                   std::int32_t n) noexcept;

}  // namespace kestrix
