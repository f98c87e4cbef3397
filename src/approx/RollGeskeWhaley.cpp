#include "approx/RollGeskeWhaley.h"

#include <cmath>

#include "approx/ApproxFrame.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"

namespace kestrix {

namespace {

// A dividend date at or after expiry is moved this far before it.
constexpr double kBeforeExpiry = 1e-6;

// A dividend date of today (or, after Theta's shift, already past) is priced
// this far ahead: the compound formula needs a positive exercise date.
constexpr double kEarliestDividendDate = 0.001 * 1e-6;

// The bracket for the critical ex-dividend price stops doubling here.
constexpr double kMaxCriticalPrice = 1e8;

// Bisection tolerance, on the exercise gain and on the bracket width.
constexpr double kCriticalPriceTolerance = 1e-6;

// European call without yield; 0 when d1/d2 cannot be formed.
double EuropeanCall(double S, double X, double T, double s, double r, double dividendPV) noexcept {
    double d1 = 0, d2 = 0;
    if (!ComputeD1D2(RGWCall, d1, d2, S, X, r, 0, T, T, s)) return 0;
    return GbsValue(European, CallOption, S, X, T, T, s, r, 0, d1, d2, dividendPV);
}

double NotNegative(double value) noexcept { return value < 0 ? 0 : value; }

}  // namespace

double RgwValue(double S, double X, double T, double s, double r, double D, double timeExDividend,
                double dividendFrequency, std::int32_t dividendCount, double dividendPV, double dividendTimeShift,
                bool dividendsIgnored) {
    const double sh = dividendTimeShift;

    // The treated dividend follows the dividendCount escrowed ones (none when
    // it is the only dividend before expiry).
    double t1 = 0;
    if (!dividendsIgnored) {
        t1 = dividendCount * dividendFrequency + timeExDividend;
        if (t1 >= T - sh) t1 = (T - sh) - kBeforeExpiry;
    }

    // Exercising forfeits the interest on X until expiry; when that is worth
    // at least the dividend, early exercise never pays.
    if ((1 - std::exp(-r * (T - t1))) * X >= D) {
        const double Sx = S - D * std::exp(-r * (t1 + sh));
        return NotNegative(EuropeanCall(Sx, X, T, s, r, dividendPV));
    }

    if (t1 == T) {
        t1 = t1 - kBeforeExpiry + sh;
    } else if (t1 == 0) {
        t1 = kEarliestDividendDate + sh;
    } else {
        t1 = t1 + sh;
    }
    // Theta's lowered point may move a dividend due within one step into the
    // past; it is then priced as due now rather than at a negative date.
    if (!(t1 > 0)) t1 = kEarliestDividendDate;
    const double Sx = S - D * std::exp(-r * t1);
    if (Sx <= 0) return NotNegative(EuropeanCall(S + dividendPV, X, T, s, r, dividendPV));

    // Critical ex-dividend price I: holding the call after the dividend is
    // worth exactly as much as exercising it just before.
    const double remaining = T - t1;
    const auto holdingGain = [&](double price) {
        return EuropeanCall(price, X, remaining, s, r, 0) - price - D + X;
    };
    double highS = S;
    double gain = holdingGain(highS);
    while (gain > 0 && highS < kMaxCriticalPrice) {
        highS = 2 * highS;
        gain = holdingGain(highS);
    }
    if (highS > kMaxCriticalPrice) return NotNegative(EuropeanCall(Sx, X, T, s, r, dividendPV));
    double lowS = 0;
    double I = highS / 2;
    gain = holdingGain(I);
    while (std::fabs(gain) > kCriticalPriceTolerance && highS - lowS > kCriticalPriceTolerance) {
        if (gain < 0) {
            highS = I;
        } else {
            lowS = I;
        }
        I = (highS + lowS) / 2;
        gain = holdingGain(I);
    }

    const double rho = -std::sqrt(t1 / T);
    const double volT = s * std::sqrt(T);
    const double volT1 = s * std::sqrt(t1);
    const double a1 = (std::log(Sx / X) + (r + s * s / 2) * T) / volT;
    const double a2 = a1 - volT;
    const double b1 = (std::log(Sx / I) + (r + s * s / 2) * t1) / volT1;
    const double b2 = b1 - volT1;
    const long double value = Sx * CumulativeNormal(b1) + Sx * BivariateNormal(a1, -b1, rho) -
                              X * std::exp(-r * T) * BivariateNormal(a2, -b2, rho) -
                              (X - D) * std::exp(-r * t1) * CumulativeNormal(b2);
    return NotNegative(static_cast<double>(value));
}

double RollGeskeWhaleyCall(std::int32_t optionFunction, double S, double X, double T, double s, double r,
                           double marketPrice, double /*d1*/, double /*d2*/, double dividendAmount,
                           double timeExDividend, double dividendFrequency, double dividendPV,
                           std::int32_t dividendCount, double gammaBumpSize, double bumpSize, double assetPriceDown,
                           double assetPriceUp, bool dividendsIgnored, std::int32_t& errorCode) {
    if (r < kRgwMinRate) r = kRgwMinRate;
    if (T < kRgwMinExpiry) T = kRgwMinExpiry;

    const auto value = [=](std::int32_t /*optionType*/, double spot, double strike, double expiry, double vol,
                           double rate, double /*yield*/, double dividendTimeShift) {
        return RgwValue(spot, strike, expiry, vol, rate, dividendAmount, timeExDividend, dividendFrequency,
                        dividendCount, dividendPV, dividendTimeShift, dividendsIgnored);
    };
    // Without a yield, Psi asks for the same rate sensitivity as Rho (the
    // launcher prepares the rate-bumped asset prices for both).
    const std::int32_t function = optionFunction == Psi ? static_cast<std::int32_t>(Rho) : optionFunction;
    constexpr double kNoYield = 0;
    return DispatchOptionFunction(value, CallOption, function, S, X, T, s, r, kNoYield, marketPrice, dividendPV,
                                  gammaBumpSize, bumpSize, assetPriceDown, assetPriceUp, kNoYield, kNoYield,
                                  kNoYield, errorCode);
}

}  // namespace kestrix
