// d1 and d2 of the Black-Scholes family: the one place where the French
// variant's split between trading and calendar time enters the formulas.
#pragma once

#include <cstdint>

namespace kestrix {

// Model number 1 (BSFrench) takes the variance over the trading time Tt and the
// carry over the calendar time T; every other model number uses T for both.
// Returns false, with d1 = d2 = 0, when S < 0 or K <= 0. S = 0 is priced as
// 1e-17.
bool ComputeD1D2(std::int32_t modelNumber, double& d1, double& d2, double S, double K, double r, double q, double T,
                 double Tt, double s) noexcept;

// ComputeD1D2's d1 and d2 for every model but the French one, from log(S / K)
// and volTime = s * sqrt(T) already taken (S > 0, K > 0): for searches that
// need the logarithm or the root themselves.
inline void D1D2FromLog(double logSK, double volTime, double r, double q, double T, double s, double& d1,
                        double& d2) noexcept {
    d1 = (logSK + (r - q + s * s / 2) * T) / volTime;
    d2 = d1 - volTime;
}

}  // namespace kestrix
