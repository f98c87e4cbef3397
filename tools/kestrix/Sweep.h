// One request priced over a grid of inputs: `kestrix sweep`.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "Host.h"
#include "Progress.h"

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
    std::string output;                  // -o; empty for stdout
    unsigned threads = 1;                // --threads; ParseSweep's default is one per core

    std::size_t Points() const;
};

// Reads "METHOD Name=Value ... --vary Name=start:stop:count ... [--functions
// F,...] [-o OUT] [--threads N]". A varied input overrides a fixed value of the
// same name and --functions overrides OptionFunction, so a command can be
// edited by adding to its end. False with `problem` set when the command line
// cannot be used.
bool ParseSweep(const std::vector<std::string>& args, SweepRequest& request, std::string& problem);

// Reads a list of option functions ("Delta,2,theta", or "all": every function
// that needs no market price) as member names. False with `problem` set.
bool ReadFunctions(std::string_view list, std::vector<std::string>& names, std::string& problem);

// --threads N: a number from 1 to 256.
bool ReadThreads(const std::string& text, unsigned& threads);

struct SweepSummary {
    bool refused = false;      // the object refused the call itself and the sweep stopped
    std::size_t failures = 0;  // points at which a function failed; their cells are empty
    bool outputFailed = false;  // a write to `out` failed and the sweep stopped there
};

// Writes the grid as CSV, one column per axis and one per function, one row
// per point; a failing point is reported to `errors` by its inputs. The
// points are priced on request.threads threads (the calling one with
// `object`, each other with its own object), written in grid order: the same
// bytes for any number of threads.
SweepSummary Sweep(IDispatch* object, const SweepRequest& request, std::ostream& out, std::ostream& errors,
                   TProgressBar* progress = nullptr);

}  // namespace kestrix::cli
