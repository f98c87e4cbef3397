#include "launch/LaunchOutcome.h"

#include <cmath>
#include <cstring>
#include <new>

#include "core/ErrorCodes.h"

namespace kestrix {

LaunchOutcome SettleLaunch(PricingRequest& request, LaunchFunction launch) noexcept {
    LaunchOutcome outcome;
    double value = 0;
    try {
        launch(request, ErrorCode, value);
    } catch (const PricingFailure& failure) {
        const char* message = failure.Message() != nullptr ? failure.Message() : "";
        if (std::strcmp(message, kInvalidOpMessage) == 0) return outcome;
        outcome.code = ErrorCode != 0 ? ErrorCode : kFailureWithoutCode;
        outcome.message = message;
        return outcome;
    } catch (const std::bad_alloc&) {
        outcome.code = kOutOfMemoryCode;
        return outcome;
    } catch (...) {
        // Nothing below raises anything else; should it, the failure must
        // still not cross a boundary.
        outcome.code = kUnexpectedCode;
        return outcome;
    }
    // A value that is not a finite number is numerical trouble like the
    // maths library's: a caller never receives NaN or an infinity.
    outcome.value = std::isfinite(value) ? value : 0.0;
    return outcome;
}

}  // namespace kestrix
