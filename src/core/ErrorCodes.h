// The error vocabulary of the library: every code a caller can receive, its
// text, and the one failure kind that carries a text from where a check fails
// to the automation boundary.
#pragma once

#include <cstdint>
#include <exception>
#include <span>

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

// One row of the error table: the single source of codes, names and texts
// (the type library's enumeration is generated from it).
struct ErrorInfoRow {
    enumOErrCodes code;
    const char* name;
    const char* text;  // the failure message and the type library's help string
};

// Every row, `None` first, then in the type library's declaration order.
std::span<const ErrorInfoRow> ErrorTable() noexcept;

// The text of a code; nullptr for a value outside the table.
const char* ErrorText(enumOErrCodes code) noexcept;

// The message of the failure raised for maths-library errors. The automation
// boundary answers it with success and 0 instead of an error.
inline constexpr const char* kInvalidOpMessage = "EInvalidOp";

// The library's one failure kind: an error object carrying a message. The
// message always points at static text, so raising allocates nothing but the
// exception object itself.
class PricingFailure : public std::exception {
public:
    explicit PricingFailure(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }
    const char* Message() const noexcept { return message_; }

private:
    const char* message_;
};

// The most recent failure's code, one per thread: a single thread sees the
// process-wide behaviour callers expect, while hosts that price on several
// threads do not clobber each other's code.
extern thread_local std::int32_t ErrorCode;

// Stores `code` through `errorCode`, then raises the code's text.
[[noreturn]] void RaiseError(std::int32_t& errorCode, enumOErrCodes code);

}  // namespace kestrix
