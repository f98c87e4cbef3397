#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/OptionStatistics.h"

namespace kestrix {
namespace {

double Convert(double rate, double T, std::int32_t type, std::int32_t which = 1) {
    std::int32_t code = 0;
    ConvertRateToContinuous(rate, T, type, Years, code, which);
    EXPECT_EQ(code, 0);
    return rate;
}

TEST(RateConventions, WorkedValuesToTheLastDigit) {
    EXPECT_EQ(Convert(0.05, 1, SemiAnnually), 0.04938522518074283);
    EXPECT_EQ(Convert(0.05, 1, Monthly), 0.049896121783964124);
    EXPECT_EQ(Convert(0.05, 1, Daily), 0.04999657565517335);
    EXPECT_EQ(Convert(0.05, 0.25, LIBOR), 0.05037589225480313);
    EXPECT_EQ(Convert(0.05, 0.5, BankDiscountRate), 0.05134799353621809);
    EXPECT_EQ(Convert(0.04, 0.25, TermRate), 0.03980132341267237);
    EXPECT_EQ(Convert(-1, 3, Annually, 2), -32.236990899346836);
    EXPECT_EQ(Convert(0.05, 0.5, Continuous), 0.05);
}

// ln(1 + rate/m) loses digits to cancellation for large m: compare relatively.
TEST(RateConventions, PeriodicTypesAgreeWithTheirDefinition) {
    struct Row {
        std::int32_t type;
        double m;
    };
    const Row rows[] = {{Daily, 365},      {Monthly, 12},     {BiMonthly, 6},      {Quarterly, 4},
                        {TriAnnually, 3},  {SemiAnnually, 2}, {BondEquivelantYield, 2}, {Annually, 1}};
    for (const Row& row : rows) {
        for (double rate : {-0.3, 0.01, 0.07, 2.5}) {
            EXPECT_NEAR(Convert(rate, 2, row.type), row.m * std::log1p(rate / row.m), 1e-10 * std::fabs(rate))
                << row.type << " " << rate;
        }
    }
}

TEST(RateConventions, ShortTermsCompoundOnce) {
    EXPECT_EQ(Convert(0.05, 0.002, Daily), std::log(1.05));
    EXPECT_EQ(Convert(0.05, 0.05, Monthly), std::log(1.05));
    EXPECT_EQ(Convert(0.05, 0.1, Monthly), 12 * std::log(0.05 / 12 + 1));
    EXPECT_EQ(Convert(0.05, 2, TermRate), Convert(0.05, 2, Annually));
    EXPECT_NEAR(Convert(0.04, 0.5, TermRate), std::log(1 + 0.04 * 0.5) / 0.5, 1e-15);
    for (double T : {0.01, 0.4, 1.0, 7.0}) {
        EXPECT_EQ(Convert(0.031, T, BondEquivelantYield), Convert(0.031, T, SemiAnnually)) << T;
    }
}

TEST(RateConventions, MoneyMarketConventionsCount360Days) {
    // LIBOR: simple interest over days/360, expressed per 365-day year.
    const double T = 0.75, days = T * 365;
    EXPECT_NEAR(Convert(0.06, T, LIBOR), std::log(1 + 0.06 * days / 360) * 365 / days, 1e-15);
    // Bank discount: price 1 - r*days/360, holding-period yield on that price.
    const double price = 1 - 0.06 * days / 360;
    EXPECT_NEAR(Convert(0.06, T, BankDiscountRate), std::log(1 / price) * 365 / days, 1e-14);
}

TEST(RateConventions, FailuresStoreTheirCodeAndRaiseTheirText) {
    const char* const interestTooNegative =
        "The Interest Rate is too negative for the conversion.  Either increase the Interest Rate or Decrease the "
        "Time until Expiration.";
    const char* const yieldTooNegative =
        "The Yield Rate is too negative for the conversion.  Either increase the Yield Rate or Decrease the Time "
        "until Expiration.";
    struct Row {
        double rate;
        double T;
        std::int32_t type;
        std::int32_t which;
        enumOErrCodes code;
        const char* message;
    };
    const Row rows[] = {
        {0.05, 1, 12, 1, enumOErrCodes::IntRateTypeErr, "The InterestRateType is invalid."},
        {0.05, 1, -1, 2, enumOErrCodes::YeildRateTypeErr, "The YieldRateType is invalid."},
        {0.5, 720.0 / 365, BankDiscountRate, 1, enumOErrCodes::IntRateTimeErr,
         "The Interest Rate multiplied by time cannot equal 360."},
        {0.5, 720.0 / 365, BankDiscountRate, 2, enumOErrCodes::YeildRateTimeErr,
         "The Yield Rate multiplied by time cannot equal 360."},
        {0.5, 721.0 / 365, BankDiscountRate, 1, enumOErrCodes::IntRate2NegErr, interestTooNegative},
        {0.5, 721.0 / 365, BankDiscountRate, 2, enumOErrCodes::YieldRate2NegErr, yieldTooNegative},
        {-0.9, 1.2, LIBOR, 2, enumOErrCodes::YieldRate2NegErr, yieldTooNegative},
    };
    for (const Row& row : rows) {
        double rate = row.rate;
        std::int32_t code = 0;
        try {
            ConvertRateToContinuous(rate, row.T, row.type, Years, code, row.which);
            ADD_FAILURE() << "no failure for type " << row.type;
        } catch (const PricingFailure& failure) {
            EXPECT_EQ(code, static_cast<std::int32_t>(row.code)) << row.message;
            EXPECT_EQ(std::string(failure.what()), row.message);
        }
    }
}

}  // namespace
}  // namespace kestrix
