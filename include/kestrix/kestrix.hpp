// Kestrix for C++ programs: the eight pricing methods of the automation
// object Kestrix, called directly. Each takes a struct of the method's inputs,
// named and ordered as the interface's parameters, and answers exactly what
// the object answers for them: the same value to the bit, or the same error
// code and text.
//
//   #include <kestrix/kestrix.hpp>
//
//   const kestrix::Result call = kestrix::GenBS({.ExerciseType = kestrix::European,
//                                                .OptionType = kestrix::CallOption,
//                                                .OptionFunction = kestrix::Theoretical,
//                                                .AssetPrice = 100, .StrikePrice = 100, .TimeExpire = 1,
//                                                .Volatility = 0.2, .InterestRate = 0.05,
//                                                .TimeFormat = kestrix::Years});
//   if (call) use(call.value()); else report(call.code(), call.text());
//
// An input left out is 0, as for an automation caller that omits an optional
// argument: an omitted TimeFormat means Days, an omitted rate type
// Continuous. Calls keep no state, allocate nothing and may run on any number
// of threads at once. Link with Kestrix::kestrix (CMake) or
// `pkg-config --libs kestrix`.
#pragma once

#include <cstdint>
#include <exception>

#include "kestrix/enumerations.hpp"
#include "kestrix/errors.hpp"
#include "kestrix/version.hpp"

namespace kestrix {
// The library's interface version: a change that breaks programs built
// against it comes with a new inline namespace and a new soname.
inline namespace v1 {

// The failure of Result::value(): the code and its text.
class PricingError : public std::exception {
public:
    PricingError(enumOErrCodes code, const char* text) noexcept : code_(code), text_(text) {}
    enumOErrCodes code() const noexcept { return code_; }
    const char* what() const noexcept override { return text_; }

private:
    enumOErrCodes code_;
    const char* text_;
};

// One call's answer: a value, or an error code with its text.
class Result {
public:
    constexpr Result(double value, enumOErrCodes code, const char* text) noexcept
        : value_(value), code_(code), text_(text) {}

    constexpr bool ok() const noexcept { return code_ == enumOErrCodes::None; }
    constexpr explicit operator bool() const noexcept { return ok(); }
    // The value; throws PricingError when the call failed.
    double value() const {
        if (!ok()) throw PricingError(code_, text_);
        return value_;
    }
    constexpr double value_or(double fallback) const noexcept { return ok() ? value_ : fallback; }
    // None on success; otherwise the code the object's method returns (an
    // enumOErrCodes value, or an automation code such as 0x80020009 for a
    // failure that carried none).
    constexpr enumOErrCodes code() const noexcept { return code_; }
    // The error's text, as the object's error information describes it; ""
    // on success. Static: it stays valid for the life of the program.
    constexpr const char* text() const noexcept { return text_; }

private:
    double value_;
    enumOErrCodes code_;
    const char* text_;
};

// The inputs of each method, in the interface's order. Models that do not
// take an input (a yield for AmericanCall, say) fill it as the object does.

struct GenBSInputs {
    enumExerciseType ExerciseType{};
    enumOptionType OptionType{};
    enumOptionFunctions OptionFunction{};
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double InterestRate = 0;
    double YieldRate = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    enumDividendStyle DividendStyle{};
    enumCompoundRate InterestRateType{};
    enumCompoundRate YieldRateType{};
};

struct FrenchBSInputs {
    enumExerciseType ExerciseType{};
    enumOptionType OptionType{};
    enumOptionFunctions OptionFunction{};
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeTrading = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double InterestRate = 0;
    double YieldRate = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    enumDividendStyle DividendStyle{};
    enumCompoundRate InterestRateType{};
    enumCompoundRate YieldRateType{};
};

struct BinomialInputs {
    enumExerciseType ExerciseType{};
    enumOptionType OptionType{};
    enumOptionFunctions OptionFunction{};
    std::int32_t Iterations = 0;
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double InterestRate = 0;
    double YieldRate = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    enumDividendStyleBin DividendStyle{};
    enumCompoundRate InterestRateType{};
    enumCompoundRate YieldRateType{};
};

// Whaley and BSAmerican take the same inputs.
struct AmericanApproxInputs {
    enumOptionType OptionType{};
    enumOptionFunctions OptionFunction{};
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double InterestRate = 0;
    double YieldRate = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    enumDividendStyle DividendStyle{};
    enumCompoundRate InterestRateType{};
    enumCompoundRate YieldRateType{};
};
using WhaleyInputs = AmericanApproxInputs;
using BSAmericanInputs = AmericanApproxInputs;

struct JumpDiffusionInputs {
    enumOptionType OptionType{};
    enumOptionFunctions OptionFunction{};
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double JumpsPerYear = 0;
    double PercentTotalVol = 0;
    double InterestRate = 0;
    double YieldRate = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    enumDividendStyle DividendStyle{};
    enumCompoundRate InterestRateType{};
    enumCompoundRate YieldRateType{};
};

struct AmericanCallInputs {
    enumOptionFunctions OptionFunction{};
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double InterestRate = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    double DividendAmount = 0;
    double TimeExDividend = 0;
    double DividendFrequency = 0;
    enumCompoundRate InterestRateType{};
};

struct EurodollarInputs {
    enumEurodollarModel Model{};
    enumExerciseType ExerciseType{};
    enumOptionType OptionType{};
    enumOptionFunctions OptionFunction{};
    double AssetPrice = 0;
    double StrikePrice = 0;
    double TimeExpire = 0;
    double Volatility = 0;
    double InterestRate = 0;
    std::int32_t Iterations = 0;
    double MarketPrice = 0;
    enumTimeFormat TimeFormat{};
    enumCompoundRate InterestRateType{};
};

Result GenBS(const GenBSInputs& inputs) noexcept;
Result FrenchBS(const FrenchBSInputs& inputs) noexcept;
Result Binomial(const BinomialInputs& inputs) noexcept;
Result Whaley(const WhaleyInputs& inputs) noexcept;
Result BSAmerican(const BSAmericanInputs& inputs) noexcept;
Result JumpDiffusion(const JumpDiffusionInputs& inputs) noexcept;
Result AmericanCall(const AmericanCallInputs& inputs) noexcept;
Result Eurodollar(const EurodollarInputs& inputs) noexcept;

// The version of the library the program runs with (KESTRIX_VERSION_STRING is
// the one it was built against).
const char* LibraryVersion() noexcept;

}  // namespace v1
}  // namespace kestrix
