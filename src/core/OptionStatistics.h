// Numerical floor of every model: the normal distribution, the bivariate
// normal, small integer helpers, the checked power function and the rate
// conventions.
#pragma once

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace kestrix {

// N(x), Abramowitz and Stegun 26.2.17 (absolute error below 7.5e-8).
double CumulativeNormal(double x) noexcept;

// n(x), the standard normal density.
double NormalDensity(double x) noexcept;

// A double's significand field, and the smallest significand (with its
// leading bit) whose square reaches 2^105: ceil(2^52.5).
inline constexpr std::uint64_t kSignificandBits = 0x000FFFFFFFFFFFFFu;
inline constexpr std::uint64_t kSignificandOfLongSquare = 6369051672525773u;

// The two functions in two steps, for callers that need N(x) and n(x) at the same
// point: each takes exp of its exponent, -x * x / 2 as it rounds it (N in
// extended precision, n in double), and where the two exponents agree one
// exp serves both. CumulativeNormal(x) is CumulativeNormalFromExp(x,
// exp(CumulativeNormalExponent(x))); NormalDensity(x) is
// NormalDensityFromExp(exp(-x * x * 0.5)).
// Inline: the searches call them in their innermost loops, and a call costs
// as much as the extended-precision polynomial itself.
//
// The exponent is -x * x / 2 as extended precision rounds it: the square to
// 64 bits, its half to double. It leads to exp on every search's critical
// path, where the round trip through the x87 registers cost more than exp's
// own call, so it is formed in double whenever that gives the same bits.
// Rounding the exact square once to 53 bits differs from rounding it to 64
// bits first only when the square lies within half a 64-bit unit of a
// midpoint between doubles, and the low bits of the integer square of the
// significand show how far it lies. About one square in five hundred, those
// near a midpoint (and any outside the range where the half stays a normal
// double), takes the extended-precision path.
[[gnu::always_inline]] inline double CumulativeNormalExponent(double x) noexcept {
    const double c = std::fabs(x);
#if FLT_EVAL_METHOD == 0
    if (c >= 0x1p-500 && c <= 0x1p500) {
        const std::uint64_t significand =
            (std::bit_cast<std::uint64_t>(c) & kSignificandBits) | (std::uint64_t{1} << 52);
        // The square has 106 bits from this significand on (105 below it), of
        // which rounding to double drops 53 (52): the dropped bits, scaled to
        // 53 either way, are the low bits of the square modulo 2^64.
        const bool longSquare = significand >= kSignificandOfLongSquare;
        const std::uint64_t dropped =
            ((significand * significand) << (longSquare ? 0 : 1)) & ((std::uint64_t{1} << 53) - 1);
        // Half a 64-bit unit is 2^41 on this scale; keep four of them clear of the midpoint 2^52.
        constexpr std::uint64_t kMidpoint = std::uint64_t{1} << 52;
        constexpr std::uint64_t kClearance = std::uint64_t{1} << 43;
        if (dropped - (kMidpoint - kClearance) >= 2 * kClearance) return -(c * c) * 0.5;
    }
#endif
    // From x rather than c: an extended copy of c shared with the polynomial
    // would be kept, and spilled as ten bytes around exp, on every path.
    const long double e = std::fabs(static_cast<long double>(x));
    return static_cast<double>(-e * e * 0.5L);
}

[[gnu::always_inline]] inline double CumulativeNormalFromExp(double x, double expOfExponent) noexcept {
    // Constants as published; the polynomial is evaluated in extended
    // precision and rounded to double once at the end. The exponential is the
    // double one: the extended one costs four times as much for the same
    // rounded result in all but a few cases.
    constexpr long double p = 0.2316419L;
    constexpr long double b1 = 0.31938153L;
    constexpr long double b2 = -0.356563782L;
    constexpr long double b3 = 1.781477937L;
    constexpr long double b4 = -1.821255978L;
    constexpr long double b5 = 1.330274429L;
    constexpr long double twoPi = 6.28318530717958L;

    const long double c = std::fabs(x);
    const long double k = 1.0L / (1.0L + p * c);
    const long double n = (1.0L / std::sqrt(twoPi)) * expOfExponent;
    const long double k2 = k * k;
    const long double k3 = k2 * k;
    const long double k4 = k3 * k;
    const long double k5 = k4 * k;
    const double v = static_cast<double>(1.0L - n * (b1 * k + b2 * k2 + b3 * k3 + b4 * k4 + b5 * k5));
    return x >= 0 ? v : 1.0 - v;
}

// CumulativeNormal at two points, both exponentials before either
// polynomial: callers that need both wait for both, and the two chains overlap.
[[gnu::always_inline]] inline void CumulativeNormalPair(double a, double b, double& Na, double& Nb) noexcept {
    const double expA = std::exp(CumulativeNormalExponent(a));
    const double expB = std::exp(CumulativeNormalExponent(b));
    Na = CumulativeNormalFromExp(a, expA);
    Nb = CumulativeNormalFromExp(b, expB);
}

[[gnu::always_inline]] inline double NormalDensityFromExp(double expOfExponent) noexcept {
    return static_cast<double>(expOfExponent * (1.0L / std::sqrt(6.28318530717958L)));
}

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

// An upper bound on |log2(x)|: a positive normal x lies within a factor of
// two of 2^(its exponent field), so |log2(x)| is at most that exponent's
// magnitude plus one. Any other x (zero, subnormal, negative, infinite, NaN)
// gets infinity.
[[gnu::always_inline]] inline double Log2MagnitudeBound(double x) noexcept {
    const auto field = static_cast<std::int32_t>(std::bit_cast<std::uint64_t>(x) >> 52);  // sign, exponent
    constexpr std::int32_t kBias = 1023;
    if (field < 1 || field > 2 * kBias) return HUGE_VAL;
    return std::abs(field - kBias) + 1;
}

// The overflow guards the models put before a power: factor * log(x) > limit
// and factor * log10(x) > limit, exactly as written. When x's exponent field
// already keeps |factor * log(x)| below the limit (the usual case: a ratio
// near one, a modest power) the answer is false and the logarithm, which the
// guard alone needed, is not taken. The constants lie just above ln 2 and
// log10 2, with room for the logarithm's and the product's rounding; a NaN
// factor or x falls through to the expression as written.
[[gnu::always_inline]] inline bool LogProductExceeds(double factor, double x, double limit) noexcept {
    constexpr double kAboveLn2 = 0.6931472;
    if (std::fabs(factor) * Log2MagnitudeBound(x) * kAboveLn2 < limit) return false;
    return factor * std::log(x) > limit;
}

[[gnu::always_inline]] inline bool Log10ProductExceeds(double factor, double x, double limit) noexcept {
    constexpr double kAboveLog10Of2 = 0.30103;
    if (std::fabs(factor) * Log2MagnitudeBound(x) * kAboveLog10Of2 < limit) return false;
    return factor * std::log10(x) > limit;
}

// Power beyond its common case: subnormal bases, and the error check.
double CheckedPower(double base, double exponent);

// base^exponent through the maths library, with its errors (domain,
// singularity, overflow, underflow) routed to MathErrorHandler. Every power
// the models take goes through here; the lattice's node powers do not.
inline double Power(double base, double exponent) {
    // The common case needs no error check. With a positive finite base, a
    // finite exponent and |exponent * log2(base)| below 1000 (log2(base) lies
    // within one of ilogb(base)) the result is far inside the normal range:
    // pow cannot fail, divide by zero, overflow or underflow. Reading the
    // flags waits for all floating-point work in flight and cost more than
    // pow itself; only the other cases pay for it. A normal base's ilogb is
    // its exponent field, read here rather than through a library call.
    const auto field = static_cast<std::int32_t>(std::bit_cast<std::uint64_t>(base) >> 52);  // sign, exponent
    constexpr std::int32_t kBias = 1023;
    if (field >= 1 && field <= 2 * kBias && std::isfinite(exponent) &&
        std::fabs(exponent) * (std::abs(field - kBias) + 1) < 1000) {
        return std::pow(base, exponent);
    }
    return CheckedPower(base, exponent);
}

// rate := m * ln(1 + rate / m). Always succeeds.
bool PeriodicToContinuous(double& rate, double m) noexcept;

// Converts a rate quoted in the enumCompoundRate convention `rateType` to a
// continuously compounded rate over the term T (years). `which` is 1 for the
// interest rate and 2 for the yield; it selects the error raised. On failure
// the code is stored through errorCode and PricingFailure is raised.
bool ConvertRateToContinuous(double& rate, double T, std::int32_t rateType, std::int32_t timeFormat,
                             std::int32_t& errorCode, std::int32_t which);

}  // namespace kestrix
