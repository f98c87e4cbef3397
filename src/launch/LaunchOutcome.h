// What one launch answers a host: the rule every boundary (the automation
// object, the C++ interface) applies to the launcher's outcome, kept in one
// place so that each reports the same value or the same failure.
#pragma once

#include <cstdint>

#include "launch/PlainOptionLaunch.h"
#include "core/PricingRequest.h"

namespace kestrix {

using LaunchFunction = void (*)(PricingRequest& request, std::int32_t& errorCode, double& result);

// The code of a failure raised without one (ErrorCode still 0), of running
// out of memory, and of anything else escaping the launcher: the automation
// runtime's DISP_E_EXCEPTION, E_OUTOFMEMORY and E_UNEXPECTED.
inline constexpr std::int32_t kFailureWithoutCode = static_cast<std::int32_t>(0x80020009u);
inline constexpr std::int32_t kOutOfMemoryCode = static_cast<std::int32_t>(0x8007000Eu);
inline constexpr std::int32_t kUnexpectedCode = static_cast<std::int32_t>(0x8000FFFFu);

struct LaunchOutcome {
    std::int32_t code = 0;  // 0: `value` is the answer
    double value = 0;       // finite; 0 for a maths-library failure or a value that is not finite
    // The failure's text (static) for a raised failure ("" when it had none);
    // nullptr on success and for the failures that carry no error information
    // (out of memory, anything unexpected).
    const char* message = nullptr;
};

// Launches `request` and settles the outcome: a value that is not finite and
// a maths-library failure ("EInvalidOp") answer 0 without an error; a raised
// failure answers ErrorCode (kFailureWithoutCode when none was stored) and
// its text.
LaunchOutcome SettleLaunch(PricingRequest& request, LaunchFunction launch = LaunchPlainOption) noexcept;

}  // namespace kestrix
