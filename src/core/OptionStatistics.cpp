#include "core/OptionStatistics.h"

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "core/Enumerations.h"
#include "core/ErrorCodes.h"

namespace kestrix {

double CumulativeNormal(double x) noexcept {
    return CumulativeNormalFromExp(x, std::exp(CumulativeNormalExponent(x)));
}

double NormalDensity(double x) noexcept { return NormalDensityFromExp(std::exp(-x * x * 0.5)); }

std::int32_t Sign(double x) noexcept { return x < 0 ? -1 : (x > 0 ? 1 : 0); }

double Factorial(std::int32_t n) noexcept {
    std::int64_t product = 1;
    for (std::int32_t i = 2; i <= n && i <= 20; ++i) product *= i;
    double result = static_cast<double>(product);
    for (std::int32_t i = 21; i <= n; ++i) result *= i;  // beyond 64 bits; no caller goes there
    return result;
}

long double BivariateNormal(long double a, long double b, long double rho) noexcept {
    constexpr long double x[5] = {0.24840615L, 0.39233107L, 0.21141819L, 0.03324666L, 0.00082485334L};
    constexpr long double y[5] = {0.10024215L, 0.48281397L, 1.0609498L, 1.7797294L, 2.6697604L};
    constexpr long double rhoClamp = 0.9999999L;
    constexpr long double argClamp = 9.9999999L;

    if (rho >= 1) rho = rhoClamp;
    if (rho <= -1) rho = -rhoClamp;
    if (a >= 10) a = argClamp;
    if (a <= -10) a = -argClamp;
    if (b >= 10) b = argClamp;
    if (b <= -10) b = -argClamp;

    const long double a1 = a / std::sqrt(2 * (1 - rho * rho));
    const long double b1 = b / std::sqrt(2 * (1 - rho * rho));

    if (a <= 0 && b <= 0 && rho <= 0) {
        long double sum = 0;
        for (int i = 0; i < 5; ++i) {
            for (int j = 0; j < 5; ++j) {
                sum += x[i] * x[j] *
                       std::exp(a1 * (2 * y[i] - a1) + b1 * (2 * y[j] - b1) + 2 * rho * (y[i] - a1) * (y[j] - b1));
            }
        }
        return sum * 0.318309886183791L * std::sqrt(1 - rho * rho);
    }
    if (a <= 0 && b >= 0 && rho >= 0) {
        return CumulativeNormal(static_cast<double>(a)) - BivariateNormal(a, -b, -rho);
    }
    if (a >= 0 && b <= 0 && rho >= 0) {
        return CumulativeNormal(static_cast<double>(b)) - BivariateNormal(-a, b, -rho);
    }
    if (a >= 0 && b >= 0 && rho <= 0) {
        return (static_cast<long double>(CumulativeNormal(static_cast<double>(a))) +
                CumulativeNormal(static_cast<double>(b)) - 1) +
               BivariateNormal(-a, -b, rho);
    }
    if (a * b * rho > 0) {
        const long double d = std::sqrt(a * a - 2 * rho * a * b + b * b);
        const std::int32_t signA = Sign(static_cast<double>(a));
        const std::int32_t signB = Sign(static_cast<double>(b));
        const long double rho1 = (rho * a - b) * signA / d;
        const long double rho2 = (rho * b - a) * signB / d;
        const long double delta = (1 - signA * signB) / 4.0L;
        return BivariateNormal(a, 0, rho1) + BivariateNormal(b, 0, rho2) - delta;
    }
    return 0;  // only reachable with unordered (NaN) inputs
}

std::int32_t MathErrorHandler(MathErrorRecord& record) {
    if (record.kind >= DomainError && record.kind <= PartialLossOfPrecision) {
        record.returnValue = 0;
        throw PricingFailure(kInvalidOpMessage);
    }
    return 0;
}

double CheckedPower(double base, double exponent) {
    if (std::isfinite(exponent) && base > 0 && !(base >= DBL_MIN) &&
        std::fabs(exponent) * (std::abs(std::ilogb(base)) + 1) < 1000) {
        return std::pow(base, exponent);  // a positive subnormal base, far enough inside
    }
    // glibc has no error hook for pow: watch the floating-point flags around
    // the call instead, and leave the caller's flags as they were.
    constexpr int kWatched = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
    std::fexcept_t saved;
    std::fegetexceptflag(&saved, FE_ALL_EXCEPT);
    std::feclearexcept(FE_ALL_EXCEPT);
    const double result = std::pow(base, exponent);
    const int raised = std::fetestexcept(kWatched);
    std::fesetexceptflag(&saved, FE_ALL_EXCEPT);
    if (raised != 0) {
        MathErrorRecord record{0, "pow", base, exponent, result};
        if (raised & FE_INVALID) {
            record.kind = DomainError;
        } else if (raised & FE_DIVBYZERO) {
            record.kind = SingularityError;
        } else if (raised & FE_OVERFLOW) {
            record.kind = OverflowError;
        } else {
            record.kind = UnderflowError;
        }
        MathErrorHandler(record);
        return record.returnValue;
    }
    return result;
}

bool PeriodicToContinuous(double& rate, double m) noexcept {
    if (rate == -1 && m == 1) rate = -0.99999999999999;  // keeps the logarithm finite
    rate = m * std::log(rate / m + 1);
    return true;
}

namespace {

[[noreturn]] void RaiseRateError(std::int32_t& errorCode, std::int32_t which, enumOErrCodes interestCode,
                                 enumOErrCodes yieldCode) {
    RaiseError(errorCode, which == 1 ? interestCode : yieldCode);
}

double PeriodsPerYear(std::int32_t rateType) noexcept {
    switch (rateType) {
        case Daily: return 365;
        case Monthly: return 12;
        case BiMonthly: return 6;
        case Quarterly: return 4;
        case TriAnnually: return 3;
        case SemiAnnually:
        case BondEquivelantYield: return 2;
        default: return 1;
    }
}

}  // namespace

bool ConvertRateToContinuous(double& rate, double T, std::int32_t rateType, std::int32_t /*timeFormat*/,
                             std::int32_t& errorCode, std::int32_t which) {
    switch (rateType) {
        case Continuous:
            return true;
        case Daily:
        case Monthly:
        case BiMonthly:
        case Quarterly:
        case TriAnnually:
        case SemiAnnually:
        case BondEquivelantYield: {
            double m = PeriodsPerYear(rateType);
            if (1 / m > T) m = 1;  // a term shorter than one period compounds once
            return PeriodicToContinuous(rate, m);
        }
        case Annually:
            return PeriodicToContinuous(rate, 1);
        case LIBOR: {
            const double days = T * 365;
            const double x = static_cast<double>(rate * days * (1.0L / 360));
            if (x <= -1) {
                RaiseRateError(errorCode, which, enumOErrCodes::IntRate2NegErr, enumOErrCodes::YieldRate2NegErr);
            }
            rate = std::log(1 + x) * 365 / days;
            return true;
        }
        case BankDiscountRate: {
            const double days = T * 365;
            if (rate * days == 360) {
                RaiseRateError(errorCode, which, enumOErrCodes::IntRateTimeErr, enumOErrCodes::YeildRateTimeErr);
            }
            const double h = static_cast<double>((rate * 365 / (360 - rate * days)) * (days * (1.0L / 365)));
            if (h <= -1) {
                RaiseRateError(errorCode, which, enumOErrCodes::IntRate2NegErr, enumOErrCodes::YieldRate2NegErr);
            }
            rate = std::log(1 + h) * 365 / days;
            return true;
        }
        case TermRate: {
            const double m = T >= 1 ? 1 : 1 / T;
            return PeriodicToContinuous(rate, m);
        }
        default:
            RaiseRateError(errorCode, which, enumOErrCodes::IntRateTypeErr, enumOErrCodes::YeildRateTypeErr);
    }
}

}  // namespace kestrix
