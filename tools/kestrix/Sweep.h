// One request priced over a grid of inputs: `kestrix sweep`.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "Host.h"

namespace kestrix::cli {

// One varied input: `count` points from `start` to `stop`, both included.
struct SweepAxis {
    std::string name;
    double start = 0;
    double stop = 0;
    std::size_t count = 1;
    bool integral = false;  // an integer parameter: whole steps only

    double At(std::size_t i) const;
};

struct SweepRequest {
    std::string method;
    std::vector<NamedValue> fixed;
    std::vector<SweepAxis> axes;         // the first varies slowest
    std::vector<std::string> functions;  // member names of enumOptionFunctions
};

// Reads "METHOD Name=Value ... --vary Name=start:stop:count ... [--functions
// F,...]". False with `problem` set when the command line cannot be used.
bool ParseSweep(const std::vector<std::string>& args, SweepRequest& request, std::string& problem);

struct SweepSummary {
    bool refused = false;      // the object refused the call itself and the sweep stopped
    std::size_t failures = 0;  // points at which a function failed; their cells are empty
    bool outputFailed = false;  // a write to `out` failed and the sweep stopped there
};

// Writes the grid as CSV, one column per axis and one per function, one row
// per point; a failing point is reported to `errors` by its inputs.
SweepSummary Sweep(IDispatch* object, const SweepRequest& request, std::ostream& out, std::ostream& errors);

}  // namespace kestrix::cli
