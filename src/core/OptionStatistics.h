// Numerical floor of every model: the normal distribution, the bivariate
// normal, small integer helpers, the checked power function and the rate
// conventions.
#pragma once

#include <cstdint>

namespace kestrix {

// N(x), Abramowitz and Stegun 26.2.17 (absolute error below 7.5e-8).
double CumulativeNormal(double x) noexcept;

// n(x), the standard normal density.
double NormalDensity(double x) noexcept;

// M(a, b; rho), Drezner's five-point Gauss rule, in extended precision.
long double BivariateNormal(long double a, long double b, long double rho) noexcept;

// -1, 0 or +1.
std::int32_t Sign(double x) noexcept;

// n! (1 for n <= 0), exact for the arguments the models use (0 to 15).
double Factorial(std::int32_t n) noexcept;

// Error kinds reported by the maths library's error hook.
enum MathErrorKind : std::int32_t {
    DomainError = 1,
    SingularityError = 2,
    OverflowError = 3,
    UnderflowError = 4,
    TotalLossOfPrecision = 5,
    PartialLossOfPrecision = 6,
};

// What the maths library reports about a failing call.
struct MathErrorRecord {
    std::int32_t kind;
    const char* functionName;
    double arg1;
    double arg2;
    double returnValue;
};

// For the six error kinds above: sets the proposed return value to 0 and
// raises PricingFailure("EInvalidOp"); never returns. Any other kind is not
// handled: returns 0.
std::int32_t MathErrorHandler(MathErrorRecord& record);

// base^exponent through the maths library, with its errors (domain,
// singularity, overflow, underflow) routed to MathErrorHandler. Every power
// the models take goes through here; the lattice's node powers do not.
double Power(double base, double exponent);

// rate := m * ln(1 + rate / m). Always succeeds.
bool PeriodicToContinuous(double& rate, double m) noexcept;

// Converts a rate quoted in the enumCompoundRate convention `rateType` to a
// continuously compounded rate over the term T (years). `which` is 1 for the
// interest rate and 2 for the yield; it selects the error raised. On failure
// the code is stored through errorCode and PricingFailure is raised.
bool ConvertRateToContinuous(double& rate, double T, std::int32_t rateType, std::int32_t timeFormat,
                             std::int32_t& errorCode, std::int32_t which);

}  // namespace kestrix
