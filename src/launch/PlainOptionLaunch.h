// The one gate every pricing request passes: validation in a fixed order,
// silent floors and ceilings, unit and rate conversion, dividend preparation,
// d1/d2 and routing to exactly one model entry.
#pragma once

#include <cstdint>

#include "launch/PricingRequest.h"

namespace kestrix {

// Sets errorCode and result to 0, then validates, converts (in place) and
// prices `request`. On success `result` holds the model's value (0 when the
// request is not priced, e.g. a deep negative carry). On failure the code is
// stored in errorCode and PricingFailure is raised; result stays 0.
void LaunchPlainOption(PricingRequest& request, std::int32_t& errorCode, double& result);

}  // namespace kestrix
