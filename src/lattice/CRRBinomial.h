// The Cox-Ross-Rubinstein binomial lattice (model 2, and the engine of the
// Eurodollar front end's binomial choice).
//
// Inputs arrive as the launcher prepares them: times in years, continuous
// rates, the asset price net of escrowed dividends for the discrete dividend
// styles (0, 2) and the dividends folded into the yield for the continuous
// styles (1, 3). Numerical trouble (an overflowing tree, a search that finds
// nothing) gives 0, never a failure. Step counts outside 2..502 (beyond the
// fixed node arrays) also give 0.
#pragma once

#include <cstdint>

namespace kestrix {

// The model entry: dispatches on optionFunction, and on whether dividendStyle
// selects the plain lattice (0, 1) or the control variate (2, 3). An
// optionFunction outside 1..13 raises OptionFunctionErr.
double CrrBinomial(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                   std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                   double volatility, double interestRate, double yieldRate, double dividendAmount,
                   double timeExDividend, double dividendFrequency, std::int32_t dividendCount, double dividendPV,
                   double marketPrice, std::int32_t dividendStyle, double bumpSize, double assetPriceDown,
                   double assetPriceUp, double yieldRateDown, double yieldRateUp, std::int32_t& errorCode);

// Value, Delta, Gamma, Theta (per calendar day), Lambda and time value read
// off the extended tree of n + 3 levels (valuation date at level 2); 0 for any
// other function.
double CrrLattice(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                  std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire, double volatility,
                  double interestRate, double yieldRate, double dividendAmount, double timeExDividend,
                  double dividendFrequency, std::int32_t dividendCount, double dividendPV) noexcept;

// The same functions from an American and a European tree on one grid: the
// American result corrected by the European tree's error against the closed
// form. Always prices early exercise, whatever exerciseType says.
double CrrControlVariateLattice(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                                std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                                double volatility, double interestRate, double yieldRate, double dividendAmount,
                                double timeExDividend, double dividendFrequency, std::int32_t dividendCount,
                                double dividendPV, std::int32_t& errorCode);

// Value at time t of the dividends not yet paid (one paid at t itself counts).
double NodeDividendPV(double t, double rate, double dividendAmount, double timeExDividend, double dividendFrequency,
                      std::int32_t dividendCount) noexcept;

// The amount by which the strike at expiry rises: dividendAmount when the last
// ex-dividend date equals timeExpire exactly, else 0.
double ExpiryDividend(double dividendAmount, double timeExDividend, double dividendFrequency,
                      std::int32_t dividendCount, double timeExpire) noexcept;

// Vega, Rho, Psi (per percentage point) and the strike sensitivity by central
// differences of two lattices valued in one pass; 0 for any other function.
// For Vega and StrikeSensitivity, `value` receives the mean of the two values
// and `derivative` the raw derivative (for Vega dV/dsigma); both are 0 when
// the pass is cut short.
double CrrBumpedSensitivity(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                            std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                            double volatility, double interestRate, double yieldRate, double dividendAmount,
                            double timeExDividend, double dividendFrequency, std::int32_t dividendCount,
                            double& value, double& derivative, double bumpSize, double assetPriceDown,
                            double assetPriceUp, double yieldRateDown, double yieldRateUp) noexcept;

// The control-variate twin: American minus European difference plus the
// closed-form sensitivity.
double CrrControlVariateBumpedSensitivity(std::int32_t exerciseType, std::int32_t optionType,
                                          std::int32_t optionFunction, std::int32_t iterations, double assetPrice,
                                          double strikePrice, double timeExpire, double volatility,
                                          double interestRate, double yieldRate, double dividendAmount,
                                          double timeExDividend, double dividendFrequency,
                                          std::int32_t dividendCount, double& value, double& derivative,
                                          double dividendPV, double bumpSize, double assetPriceDown,
                                          double assetPriceUp, double yieldRateDown, double yieldRateUp,
                                          std::int32_t& errorCode);

// Rate sensitivity of an option on a futures price (per percentage point):
// the full rate sensitivity less the part that passes through the carry.
double CrrFuturesRho(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                     std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                     double volatility, double interestRate, double yieldRate, double dividendAmount,
                     double timeExDividend, double dividendFrequency, std::int32_t dividendCount, double bumpSize,
                     double assetPriceDown, double assetPriceUp, double yieldRateDown, double yieldRateUp) noexcept;

// Newton searches on the lattice (the plain or the control-variate one by
// dividendStyle): early steps on a coarse tree of at most 50 steps, the last
// ones on the full tree. 0 when there is no market price, the search leaves
// its bounds, diverges or runs out of steps.
double CrrImpliedVolatility(std::int32_t exerciseType, std::int32_t optionType, std::int32_t iterations,
                            double assetPrice, double strikePrice, double timeExpire, double marketPrice,
                            double interestRate, double yieldRate, double dividendAmount, double timeExDividend,
                            double dividendFrequency, std::int32_t dividendCount, double dividendPV,
                            std::int32_t dividendStyle, double bumpSize, double assetPriceDown, double assetPriceUp,
                            double yieldRateDown, double yieldRateUp, std::int32_t& errorCode);

double CrrImpliedStrike(std::int32_t exerciseType, std::int32_t optionType, std::int32_t iterations,
                        double assetPrice, double strikePrice, double timeExpire, double volatility,
                        double marketPrice, double interestRate, double yieldRate, double dividendAmount,
                        double timeExDividend, double dividendFrequency, std::int32_t dividendCount,
                        double dividendPV, std::int32_t dividendStyle, double bumpSize, double assetPriceDown,
                        double assetPriceUp, double yieldRateDown, double yieldRateUp, std::int32_t& errorCode);

// Work (core/WorkLimits.h) of one valuation for a search that re-values the
// lattice many times: at most that of one evaluation of the Newton searches
// above, which value a bumped pair (or the control variate's four trees).
double CrrValuationWork(std::int32_t exerciseType, std::int32_t optionType, std::int32_t iterations,
                        double timeExpire, double dividendAmount, double timeExDividend, double dividendFrequency,
                        std::int32_t dividendCount, std::int32_t dividendStyle) noexcept;

}  // namespace kestrix
