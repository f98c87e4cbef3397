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

}  // namespace kestrix
