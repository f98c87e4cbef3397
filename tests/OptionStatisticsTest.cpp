#include <gtest/gtest.h>

#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

#include "core/ErrorCodes.h"
#include "core/OptionStatistics.h"

namespace kestrix {
namespace {

TEST(CumulativeNormal, PublishedValuesToTheLastDigit) {
    EXPECT_EQ(CumulativeNormal(0), 0.5000000005248084);
    EXPECT_EQ(CumulativeNormal(1), 0.8413447404368684);
    EXPECT_EQ(CumulativeNormal(-1), 0.15865525956313165);
    EXPECT_EQ(CumulativeNormal(2), 0.9772499379857481);
    EXPECT_EQ(NormalDensity(0), 0.39894228040143287);
}

TEST(CumulativeNormal, WithinPublishedErrorOfExactDistribution) {
    for (double x = -9; x <= 9; x += 0.0137) {
        const double exact = 0.5 * std::erfc(-x / std::sqrt(2.0));
        ASSERT_NEAR(CumulativeNormal(x), exact, 7.5e-8) << "x=" << x;
        const double density = std::exp(-x * x / 2) / std::sqrt(2 * M_PI);
        ASSERT_NEAR(NormalDensity(x), density, 1e-14) << "x=" << x;
    }
}

TEST(CumulativeNormal, SymmetricExactlyAndSaturates) {
    for (double x : {1e-9, 0.3, 1.7, 4.2, 8.0, 37.5}) {
        EXPECT_EQ(CumulativeNormal(x) + CumulativeNormal(-x), 1.0) << x;
    }
    EXPECT_EQ(CumulativeNormal(-0.0), CumulativeNormal(0.0));
    EXPECT_EQ(CumulativeNormal(-9), 0.0);
    EXPECT_EQ(CumulativeNormal(40), 1.0);
    EXPECT_EQ(CumulativeNormal(-1e308), 0.0);
}

// M(a, b; rho) for rho in (-1, 1) by direct quadrature of
// integral_{-inf}^{a} n(x) N((b - rho x) / sqrt(1 - rho^2)) dx.
double BivariateByQuadrature(double a, double b, double rho) {
    const double lo = -12;
    const int steps = 20000;
    const double h = (a - lo) / steps;
    const double s = std::sqrt(1 - rho * rho);
    auto f = [&](double x) {
        return std::exp(-x * x / 2) / std::sqrt(2 * M_PI) * 0.5 * std::erfc(-(b - rho * x) / s / std::sqrt(2.0));
    };
    double sum = f(lo) + f(a);
    for (int i = 1; i < steps; ++i) sum += f(lo + i * h) * (i % 2 ? 4 : 2);
    return sum * h / 3;
}

// Drezner's rule is accurate to about 1e-6 in absolute terms.
TEST(BivariateNormal, AgreesWithQuadratureInEveryQuadrant) {
    const double args[] = {-2.1, -0.7, 0.0, 0.4, 1.9};
    const double rhos[] = {-0.95, -0.5, -0.1, 0.0, 0.3, 0.8, 0.97};
    for (double a : args) {
        for (double b : args) {
            for (double rho : rhos) {
                const double m = static_cast<double>(BivariateNormal(a, b, rho));
                ASSERT_NEAR(m, BivariateByQuadrature(a, b, rho), 1e-6) << a << " " << b << " " << rho;
            }
        }
    }
}

TEST(BivariateNormal, KnownPointsAndClamps) {
    EXPECT_NEAR(static_cast<double>(BivariateNormal(0, 0, 0)), 0.25, 2e-9);
    EXPECT_NEAR(static_cast<double>(BivariateNormal(0, 0, 0.5)), 1.0 / 3.0, 1e-8);
    EXPECT_NEAR(static_cast<double>(BivariateNormal(-0.8, 1.3, 0)), CumulativeNormal(-0.8) * CumulativeNormal(1.3),
                1e-7);
    EXPECT_EQ(BivariateNormal(0.3, -0.2, 1), BivariateNormal(0.3, -0.2, 0.9999999L));
    EXPECT_EQ(BivariateNormal(0.3, -0.2, -1.5), BivariateNormal(0.3, -0.2, -0.9999999L));
    EXPECT_EQ(BivariateNormal(12, -0.2, 0.4), BivariateNormal(9.9999999L, -0.2, 0.4));
    EXPECT_EQ(BivariateNormal(0.5, -40, 0.4), BivariateNormal(0.5, -9.9999999L, 0.4));
}

TEST(SmallIntegers, SignAndFactorial) {
    EXPECT_EQ(Sign(-3.5), -1);
    EXPECT_EQ(Sign(0.0), 0);
    EXPECT_EQ(Sign(1e-300), 1);
    EXPECT_EQ(Factorial(0), 1.0);
    EXPECT_EQ(Factorial(-4), 1.0);
    EXPECT_EQ(Factorial(5), 120.0);
    EXPECT_EQ(Factorial(13), 6227020800.0);
    EXPECT_EQ(Factorial(15), 1307674368000.0);
}

TEST(Power, OrdinaryResultsPassThrough) {
    EXPECT_EQ(Power(2, 10), 1024.0);
    EXPECT_EQ(Power(1.05, 0.5), std::pow(1.05, 0.5));
    EXPECT_EQ(Power(0, 2), 0.0);
}

TEST(Power, MathErrorsBecomeInvalidOp) {
    const double cases[][2] = {
        {-2, 0.5},    // domain
        {0, -1},      // singularity
        {10, 400},    // overflow
        {10, -400},   // underflow
    };
    for (const auto& c : cases) {
        try {
            Power(c[0], c[1]);
            ADD_FAILURE() << "no failure for " << c[0] << "^" << c[1];
        } catch (const PricingFailure& failure) {
            EXPECT_STREQ(failure.what(), "EInvalidOp");
        }
    }
}

TEST(Power, LeavesCallersFloatingPointFlagsAlone) {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::feraiseexcept(FE_INEXACT);
    Power(3, 0.5);
    EXPECT_TRUE(std::fetestexcept(FE_INEXACT));
    EXPECT_FALSE(std::fetestexcept(FE_INVALID | FE_OVERFLOW | FE_DIVBYZERO));
    std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(Power, FailsExactlyWhenPowRaisesAWatchedFlag) {
    // The oracle: pow under a clean flag state. Power must fail exactly when
    // pow raises a watched flag and otherwise return pow's bits, including
    // near the edges of the range where it takes its unchecked path.
    // The bases cover each side of the exponent field's edges (sign, subnormal,
    // normal, infinite); the exponents each side of the unchecked path's limit.
    const double bases[] = {-INFINITY, -DBL_MIN, -4.9e-324, -2, -1, -0.0, 0, 4.9e-324, DBL_MIN - 4.9e-324, DBL_MIN,
                            0x1p-1021, 1e-300, 0.5, 0.75, 1 - 0x1p-53, 1, 1 + 1e-15, 1.5, 2, 10, 1e300, 0x1p1023,
                            DBL_MAX, INFINITY, NAN};
    const double exponents[] = {-INFINITY, -1100, -1074, -1022, -999.5, -500, -400, -1, -0.5, 0, 0.5, 1, 2, 308.25,
                                499.5, 500, 999.5, 1000, 1023, 1024, 1100, INFINITY, NAN};
    constexpr int kWatched = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
    for (const double base : bases) {
        for (const double exponent : exponents) {
            std::feclearexcept(FE_ALL_EXCEPT);
            const double expected = std::pow(base, exponent);
            const bool fails = std::fetestexcept(kWatched) != 0;
            bool failed = false;
            double result = 0;
            try {
                result = Power(base, exponent);
            } catch (const PricingFailure&) {
                failed = true;
            }
            EXPECT_EQ(failed, fails) << base << "^" << exponent;
            if (!failed && !fails) {
                EXPECT_EQ(std::memcmp(&result, &expected, sizeof result), 0) << base << "^" << exponent;
            }
        }
    }
    std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(Power, SeesItsOwnErrorsBesideTheCallersPendingFlags) {
    std::feclearexcept(FE_ALL_EXCEPT);
    std::feraiseexcept(FE_UNDERFLOW | FE_INEXACT);
    EXPECT_EQ(Power(3, 2), 9.0);  // a pending underflow is not this call's error
    EXPECT_THROW(Power(10, 400), PricingFailure);
    EXPECT_THROW(Power(2, -1075.5), PricingFailure);
    EXPECT_TRUE(std::fetestexcept(FE_UNDERFLOW));
    EXPECT_FALSE(std::fetestexcept(FE_OVERFLOW));
    std::feclearexcept(FE_ALL_EXCEPT);
}

TEST(CumulativeNormalExponent, RoundsAsExtendedPrecisionDoes) {
    // The oracle: the square in extended precision, then its half to double.
    const auto extended = [](double x) {
        const long double c = std::fabs(x);
        return static_cast<double>(-c * c * 0.5L);
    };
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    const double specials[] = {0, -0.0, 4.9e-324, DBL_MIN, 0x1p-500, std::nextafter(0x1p-500, 0.0), 0x1p500,
                               std::nextafter(0x1p500, INFINITY), 1e154, 1.3407807929942596e154, 1e200, DBL_MAX,
                               INFINITY, -INFINITY, NAN, 1, -1, 2, 0.5, 1 + 0x1p-52, 2 - 0x1p-52, 3, 1e-8, 37.5};
    for (const double x : specials) {
        const double expected = extended(x);
        EXPECT_TRUE(same(CumulativeNormalExponent(x), expected) || (std::isnan(expected)))
            << x << ": " << CumulativeNormalExponent(x) << " against " << expected;
    }
    // Random squares: about one in four thousand rounds differently when
    // rounded once than when rounded to 64 bits first; those must come out as
    // extended precision has them.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(1, 2);
    std::uniform_int_distribution<int> scale(-520, 520);
    int roundedTwiceDiffers = 0;
    for (int i = 0; i < 4000000; ++i) {
        const double x = std::ldexp(mantissa(rng), i % 8 == 0 ? scale(rng) : scale(rng) / 20);
        const double expected = extended(x);
        const double c = std::fabs(x);
        if (!same(-(c * c) * 0.5, expected)) ++roundedTwiceDiffers;
        ASSERT_TRUE(same(CumulativeNormalExponent(x), expected)) << std::hexfloat << x;
        ASSERT_TRUE(same(CumulativeNormalExponent(-x), expected)) << std::hexfloat << -x;
    }
    EXPECT_GT(roundedTwiceDiffers, 1000);  // the hard cases were met

    // The first significand whose square has 106 bits, checked in 128 bits.
    __extension__ using Wide = unsigned __int128;
    for (std::uint64_t m = kSignificandOfLongSquare - 3; m <= kSignificandOfLongSquare + 3; ++m) {
        EXPECT_EQ(static_cast<Wide>(m) * m >= static_cast<Wide>(1) << 105, m >= kSignificandOfLongSquare) << m;
    }
}

TEST(LogGuards, AgreeWithTheGuardAsWritten) {
    // The oracle is the guard with its logarithm taken. The shortcut must
    // never answer false where the written guard is true: the hardest x lie at
    // the far ends of their binade (where |log2(x)| nearly reaches the bound)
    // and the hardest factors just below where the shortcut gives up.
    const double specials[] = {-INFINITY, -2, -0.0, 0, 4.9e-324, DBL_MIN / 2, DBL_MIN, 1e-300, 0.5, 1 - 0x1p-53, 1,
                               1 + 0x1p-52, 2 - 0x1p-52, 2, 1e10, 1e300, DBL_MAX, INFINITY, NAN};
    const double factors[] = {-INFINITY, -1e300, -664.5, -200, -1, -0.0, 0, 1e-300, 0.5, 1, 99.9, 100, 288.5, 664.4,
                              665, 1e300, INFINITY, NAN};
    constexpr double kLimit = 200;
    const auto check = [&](double factor, double x) {
        EXPECT_EQ(LogProductExceeds(factor, x, kLimit), factor * std::log(x) > kLimit) << factor << " ln " << x;
        EXPECT_EQ(Log10ProductExceeds(factor, x, kLimit), factor * std::log10(x) > kLimit)
            << factor << " log10 " << x;
    };
    for (const double x : specials) {
        for (const double factor : factors) check(factor, x);
    }
    std::mt19937_64 rng(20261209);
    std::uniform_int_distribution<int> binade(-1074, 1023);
    std::uniform_real_distribution<double> nudge(-1e-7, 1e-7);
    for (int i = 0; i < 200000; ++i) {
        const int e = binade(rng);
        // The binade's two ends, where |log2(x)| is farthest from or nearest to the bound.
        const double low = std::ldexp(1.0, e);
        const double x = (i % 2) ? low : std::nextafter(2 * low, 0.0);
        const double bound = Log2MagnitudeBound(x);
        for (const double base : {0.6931471805599453, 0.30102999566398120}) {
            const double edge = kLimit / (bound * base) * (1 + nudge(rng));
            check(edge, x);
            check(-edge, x);
        }
    }
}

TEST(MathErrorHandler, RaisesForTheSixKindsOnly) {
    for (std::int32_t kind = 1; kind <= 6; ++kind) {
        MathErrorRecord record{kind, "pow", 1, 2, 5};
        EXPECT_THROW(MathErrorHandler(record), PricingFailure) << kind;
        EXPECT_EQ(record.returnValue, 0.0);
    }
    MathErrorRecord other{7, "pow", 1, 2, 5};
    EXPECT_EQ(MathErrorHandler(other), 0);
    EXPECT_EQ(other.returnValue, 5.0);
}

}  // namespace
}  // namespace kestrix
