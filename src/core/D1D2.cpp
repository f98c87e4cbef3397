#include "core/D1D2.h"

#include <cmath>

#include "core/Enumerations.h"

namespace kestrix {

bool ComputeD1D2(std::int32_t modelNumber, double& d1, double& d2, double S, double K, double r, double q, double T,
                 double Tt, double s) noexcept {
    if (S < 0 || K <= 0) {
        d1 = 0;
        d2 = 0;
        return false;
    }
    if (S == 0) S = 1e-17;
    if (modelNumber == GenBlackScholesFrench) {
        const double volTime = s * std::sqrt(Tt);
        d1 = (std::log(S / K) + (r - q) * T + s * s / 2 * Tt) / volTime;
        d2 = d1 - volTime;
    } else {
        D1D2FromLog(std::log(S / K), s * std::sqrt(T), r, q, T, s, d1, d2);
    }
    return true;
}

}  // namespace kestrix
