// The error codes a call can answer, and their texts. Each code is an
// HRESULT value; the texts are those of the type library's help strings and
// of the error information a failing call reports, word for word.
#pragma once

#include <cstdint>

namespace kestrix {

// enumOErrCodes: each value is an HRESULT.
enum class enumOErrCodes : std::int32_t {
    None = 0,
    IterationsMinErr = static_cast<std::int32_t>(0x8004FFFFu),
    IterationsMaxErr = static_cast<std::int32_t>(0x80050000u),
    AssetPriceErr = static_cast<std::int32_t>(0x80050001u),
    StrikePriceErr = static_cast<std::int32_t>(0x80050002u),
    DividendAmtErr = static_cast<std::int32_t>(0x80050003u),
    TimeExDivErr = static_cast<std::int32_t>(0x80050004u),
    DividendFreqErr = static_cast<std::int32_t>(0x80050005u),
    TimeExpireErr = static_cast<std::int32_t>(0x80050006u),
    InterestRateErr = static_cast<std::int32_t>(0x80050007u),
    YieldRateErr = static_cast<std::int32_t>(0x80050008u),
    MktPriceNegErr = static_cast<std::int32_t>(0x80050009u),
    MktPriceGZErr = static_cast<std::int32_t>(0x8005000Au),
    AssetPriceEurErr = static_cast<std::int32_t>(0x8005000Bu),
    StrikePriceEurErr = static_cast<std::int32_t>(0x8005000Cu),
    JumpPerYrErr = static_cast<std::int32_t>(0x8005000Du),
    PerTotVolMinErr = static_cast<std::int32_t>(0x8005000Eu),
    PerTotVolErr = static_cast<std::int32_t>(0x8005000Fu),
    YieldRate2NegErr = static_cast<std::int32_t>(0x80050010u),
    TimeTradingErr = static_cast<std::int32_t>(0x80050011u),
    VolGreaterZeroErr = static_cast<std::int32_t>(0x80050013u),
    VolValuesMissErr = static_cast<std::int32_t>(0x80050014u),
    VolCloseArrSizeErr = static_cast<std::int32_t>(0x80050015u),
    VolHighArrSizeErr = static_cast<std::int32_t>(0x80050016u),
    VolLowArrSizeErr = static_cast<std::int32_t>(0x80050017u),
    VolOpenArrSizeErr = static_cast<std::int32_t>(0x80050018u),
    VolTypeErr = static_cast<std::int32_t>(0x80050019u),
    VolArrSameSizeErr = static_cast<std::int32_t>(0x8005001Au),
    VolLowGTHighErr = static_cast<std::int32_t>(0x8005001Bu),
    VolMinElementErr = static_cast<std::int32_t>(0x8005001Cu),
    VolCloseValueErr = static_cast<std::int32_t>(0x8005001Du),
    VolOpenValueErr = static_cast<std::int32_t>(0x8005001Eu),
    VolFracClosedErr = static_cast<std::int32_t>(0x8005001Fu),
    EurModelErr = static_cast<std::int32_t>(0x80050020u),
    ExerciseTypeErr = static_cast<std::int32_t>(0x80050021u),
    DividendStyleErr = static_cast<std::int32_t>(0x80050022u),
    OptionTypeErr = static_cast<std::int32_t>(0x80050023u),
    YeildRateTypeErr = static_cast<std::int32_t>(0x80050024u),
    IntRateTypeErr = static_cast<std::int32_t>(0x80050025u),
    OptionFunctionErr = static_cast<std::int32_t>(0x80050026u),
    TimeFormatErr = static_cast<std::int32_t>(0x80050027u),
    HistoricVolFcnErr = static_cast<std::int32_t>(0x80050028u),
    SampleTimeErr = static_cast<std::int32_t>(0x80050029u),
    OptionModelErr = static_cast<std::int32_t>(0x8005002Au),
    IntRateTimeErr = static_cast<std::int32_t>(0x8005002Bu),
    YeildRateTimeErr = static_cast<std::int32_t>(0x8005002Cu),
    IntRate2NegErr = static_cast<std::int32_t>(0x8005002Du),
    VolCloseLimitErr = static_cast<std::int32_t>(0x8005002Eu),
    VolHighLimitErr = static_cast<std::int32_t>(0x8005002Fu),
    VolLowLimitErr = static_cast<std::int32_t>(0x80050030u),
    VolOpenLimitErr = static_cast<std::int32_t>(0x80050031u),
};

// The text of a code; nullptr for a value outside the table.
const char* ErrorText(enumOErrCodes code) noexcept;

}  // namespace kestrix
