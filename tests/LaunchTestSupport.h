// Shared by the launcher tests: valid base requests and a way to run the
// launcher's preparation that turns a raised failure into data.
#pragma once

#include <cstdint>
#include <string>

#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "launch/MethodRequests.h"
#include "launch/PlainOptionLaunch.h"

namespace kestrix::testing {

// A European GenBS call in years with continuous rates and no dividends.
inline PricingRequest BaseGenBS() {
    return FillGenBS(European, CallOption, Theoretical, 100, 100, 1, 0.2, 0.05, 0.01, 0, Years, 0, 0, 0,
                     DiscreteCashFlow, Continuous, Continuous);
}

struct Outcome {
    bool raised = false;
    bool priced = false;  // false: the launcher stopped without pricing
    std::int32_t code = 0;
    std::string message;
    PricingRequest request;  // as the launcher left it
    PreparedInputs prepared;
};

inline Outcome Prepare(PricingRequest rq) {
    Outcome out;
    try {
        out.priced = PrepareRequest(rq, ErrorCode, out.prepared);
    } catch (const PricingFailure& failure) {
        out.raised = true;
        out.message = failure.Message();
    }
    out.code = ErrorCode;
    out.request = rq;
    return out;
}

}  // namespace kestrix::testing
