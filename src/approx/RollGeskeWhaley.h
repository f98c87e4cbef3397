// Roll-Geske-Whaley: an American call on an asset paying one known cash
// dividend before expiry (model 5). The call is exercised, if at all, just
// before the ex-dividend date, so its value is a compound option: a European
// call to expiry plus the right to exercise at that date. Only the value is
// particular to the model; every other option function comes from the common
// frame (approx/ApproxFrame.h), always for a call and without a yield.
#pragma once

#include <cstdint>

namespace kestrix {

// The model entry: dispatches on optionFunction (1..13). Rates below
// kRgwMinRate and expiries below kRgwMinExpiry are raised to them first. Psi
// answers the rate sensitivity, as Rho does: the model has no yield.
//
// S is net of dividendPV, the escrowed dividends before the one the formula
// treats (dividendAmount, paid at dividendCount * dividendFrequency +
// timeExDividend). With one dividend before expiry nothing is escrowed:
// dividendPV 0, dividendCount 0. dividendsIgnored is true when there is no
// dividend to treat (dividendAmount is then 0).
double RollGeskeWhaleyCall(std::int32_t optionFunction, double S, double X, double T, double s, double r,
                           double marketPrice, double d1, double d2, double dividendAmount, double timeExDividend,
                           double dividendFrequency, double dividendPV, std::int32_t dividendCount,
                           double gammaBumpSize, double bumpSize, double assetPriceDown, double assetPriceUp,
                           bool dividendsIgnored, std::int32_t& errorCode);

// The call's value, never negative. dividendTimeShift moves the dividend date
// together with a bumped expiry (Theta); 0 everywhere else. D is the
// dividend's cash amount.
double RgwValue(double S, double X, double T, double s, double r, double D, double timeExDividend,
                double dividendFrequency, std::int32_t dividendCount, double dividendPV, double dividendTimeShift,
                bool dividendsIgnored);

inline constexpr double kRgwMinRate = 1e-7;
inline constexpr double kRgwMinExpiry = 1e-4;

}  // namespace kestrix
