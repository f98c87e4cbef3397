#include "core/ErrorCodes.h"

#include <array>

namespace kestrix {

thread_local std::int32_t ErrorCode = 0;

namespace {

using E = enumOErrCodes;

constexpr std::array kErrorTable = {
    ErrorInfoRow{E::None, "None", ""},
    ErrorInfoRow{E::IterationsMinErr, "IterationsMinErr",
                 "The number of iterations for the Binomial Model must be greater than or equal to 5."},
    ErrorInfoRow{E::IterationsMaxErr, "IterationsMaxErr",
                 "The number of iterations for the Binomial Model must be less than or equal to 500."},
    ErrorInfoRow{E::AssetPriceErr, "AssetPriceErr", "AssetPrice must be greater than or equal to 0."},
    ErrorInfoRow{E::StrikePriceErr, "StrikePriceErr", "StrikePrice must be greater than 0."},
    ErrorInfoRow{E::DividendAmtErr, "DividendAmtErr", "DividendAmount must be greater than or equal to 0."},
    ErrorInfoRow{E::TimeExDivErr, "TimeExDivErr", "TimeExDividend must be greater than or equal to 0."},
    ErrorInfoRow{E::DividendFreqErr, "DividendFreqErr", "DividendFrequency must be greater than or equal to 0."},
    ErrorInfoRow{E::TimeExpireErr, "TimeExpireErr", "TimeExpire must be greater than 0."},
    ErrorInfoRow{E::InterestRateErr, "InterestRateErr", "InterestRate must be greater than 0 and less than 1E30."},
    ErrorInfoRow{E::YieldRateErr, "YieldRateErr",
                 "The Yield Rate must be greater than -1 or -100% and less than 1E5."},
    ErrorInfoRow{E::MktPriceNegErr, "MktPriceNegErr", "MarketPrice cannot be a negative number."},
    ErrorInfoRow{E::MktPriceGZErr, "MktPriceGZErr",
                 "MarketPrice must be greater than zero to calculate the Implied Value."},
    ErrorInfoRow{E::AssetPriceEurErr, "AssetPriceEurErr", "AssetPrice must be less than or equal to 100."},
    ErrorInfoRow{E::StrikePriceEurErr, "StrikePriceEurErr", "StrikePrice must be less than 100."},
    ErrorInfoRow{E::JumpPerYrErr, "JumpPerYrErr", "The Number of Jumps Per Year must be greater than 0."},
    ErrorInfoRow{E::PerTotVolMinErr, "PerTotVolMinErr", "The Percent Total Volatility must be greater than 0."},
    ErrorInfoRow{E::PerTotVolErr, "PerTotVolErr", "The Percent Total Volatility must be less than 1 or 100%."},
    ErrorInfoRow{E::YieldRate2NegErr, "YieldRate2NegErr",
                 "The Yield Rate is too negative for the conversion.  Either increase the Yield Rate or "
                 "Decrease the Time until Expiration."},
    ErrorInfoRow{E::TimeTradingErr, "TimeTradingErr", "TimeTrading must be greater than 0."},
    ErrorInfoRow{E::VolGreaterZeroErr, "VolGreaterZeroErr", "The Price values must all be greater than zero."},
    ErrorInfoRow{E::VolValuesMissErr, "VolValuesMissErr", "The Price array must contain values."},
    ErrorInfoRow{E::VolCloseArrSizeErr, "VolCloseArrSizeErr", "The Close Array is a 1-dimensional array."},
    ErrorInfoRow{E::VolHighArrSizeErr, "VolHighArrSizeErr", "The High Array is a 1-dimensional array."},
    ErrorInfoRow{E::VolLowArrSizeErr, "VolLowArrSizeErr", "The Low Array is a 1-dimensional array."},
    ErrorInfoRow{E::VolOpenArrSizeErr, "VolOpenArrSizeErr", "The Open Array is a 1-dimensional array."},
    ErrorInfoRow{E::VolTypeErr, "VolTypeErr", "The Price array is of data type double."},
    ErrorInfoRow{E::VolArrSameSizeErr, "VolArrSameSizeErr", "The Price arrays all have to be the same size."},
    ErrorInfoRow{E::VolLowGTHighErr, "VolLowGTHighErr",
                 "The High Price must be greater than or equal to the Low Price."},
    ErrorInfoRow{E::VolMinElementErr, "VolMinElementErr", "There must be at least 2 elements in each array."},
    ErrorInfoRow{E::VolCloseValueErr, "VolCloseValueErr",
                 "The Close Price must be G.E. Low Price and L.E. High Price."},
    ErrorInfoRow{E::VolOpenValueErr, "VolOpenValueErr",
                 "The Open Price must be G.E. Low Price and L.E. High Price."},
    ErrorInfoRow{E::VolFracClosedErr, "VolFracClosedErr",
                 "The FractionClosed must be greater than 0 and less than 1."},
    ErrorInfoRow{E::EurModelErr, "EurModelErr", "The Eurodollar model is incorrect."},
    ErrorInfoRow{E::ExerciseTypeErr, "ExerciseTypeErr", "The ExerciseType is invalid."},
    ErrorInfoRow{E::DividendStyleErr, "DividendStyleErr", "The DividendStyle is invalid."},
    ErrorInfoRow{E::OptionTypeErr, "OptionTypeErr", "The OptionType is invalid."},
    ErrorInfoRow{E::YeildRateTypeErr, "YeildRateTypeErr", "The YieldRateType is invalid."},
    ErrorInfoRow{E::IntRateTypeErr, "IntRateTypeErr", "The InterestRateType is invalid."},
    ErrorInfoRow{E::OptionFunctionErr, "OptionFunctionErr", "The OptionFunction is invalid."},
    ErrorInfoRow{E::TimeFormatErr, "TimeFormatErr", "The TimeFormat is invalid."},
    ErrorInfoRow{E::HistoricVolFcnErr, "HistoricVolFcnErr", "The Historic Volatility function selected is invalid."},
    ErrorInfoRow{E::SampleTimeErr, "SampleTimeErr", "The SampleTime is invalid."},
    ErrorInfoRow{E::OptionModelErr, "OptionModelErr", "The Model number is invalid.  Select a valid model number"},
    ErrorInfoRow{E::IntRateTimeErr, "IntRateTimeErr", "The Interest Rate multiplied by time cannot equal 360."},
    ErrorInfoRow{E::YeildRateTimeErr, "YeildRateTimeErr", "The Yield Rate multiplied by time cannot equal 360."},
    ErrorInfoRow{E::IntRate2NegErr, "IntRate2NegErr",
                 "The Interest Rate is too negative for the conversion.  Either increase the Interest Rate or "
                 "Decrease the Time until Expiration."},
    ErrorInfoRow{E::VolCloseLimitErr, "VolCloseLimitErr", "The upper limit for a close price value is 1e100."},
    ErrorInfoRow{E::VolHighLimitErr, "VolHighLimitErr", "The upper limit for a high price value is 1e100."},
    ErrorInfoRow{E::VolLowLimitErr, "VolLowLimitErr", "The upper limit for a low price value is 1e100."},
    ErrorInfoRow{E::VolOpenLimitErr, "VolOpenLimitErr", "The upper limit for an open price value is 1e100."},
};

}  // namespace

std::span<const ErrorInfoRow> ErrorTable() noexcept { return kErrorTable; }

const char* ErrorText(enumOErrCodes code) noexcept {
    for (const auto& row : kErrorTable) {
        if (row.code == code) return row.text;
    }
    return nullptr;
}

void RaiseError(std::int32_t& errorCode, enumOErrCodes code) {
    errorCode = static_cast<std::int32_t>(code);
    throw PricingFailure(ErrorText(code));
}

}  // namespace kestrix
