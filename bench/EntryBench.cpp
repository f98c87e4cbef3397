// Our side of the side-by-side jobs, called at the model entries: the inputs
// as the launcher prepares them for an option without dividends (d1/d2 from
// ComputeD1D2 for each new spot, bumped slots equal to the spot and yield).
#include <cstdint>

#include "FieldJobs.h"
#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

namespace {

using namespace kestrix;
using namespace kestrix::bench;

constexpr double kBumpSize = 1e-5;
constexpr double kGammaBumpSize = 0.01;

// GenBS (model 0) and FrenchBS (model 1, trading time equal to calendar time)
// on the European call.
double GenBsEntry(std::int32_t modelNumber, std::int32_t function, double S, double marketPrice) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(modelNumber, d1, d2, S, kStrike, kRate, kYield, kExpiry, kExpiry, kVolatility);
    return GeneralizedBlackScholes(modelNumber, European, CallOption, function, S, kStrike, kExpiry, kExpiry, kVolatility,
                                   kRate, kYield, 0, marketPrice, d1, d2, ErrorCode);
}

// The American approximations share one entry signature.
using ApproxEntry = double (*)(std::int32_t, std::int32_t, double, double, double, double, double, double, double,
                               double, double, double, double, double, double, double, double, double, double,
                               std::int32_t&);

// Whaley and BSAmerican on the American put.
double ApproxEntryCall(ApproxEntry entry, std::int32_t function, double S, double marketPrice) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, S, kStrike, kRate, kYield, kExpiry, kExpiry, kVolatility);
    return entry(PutOption, function, S, kStrike, kExpiry, kVolatility, kRate, kYield, marketPrice, d1, d2, 0,
                 kGammaBumpSize, kBumpSize, S, S, kYield, kYield, kYield, ErrorCode);
}

// Registers the value, one sensitivity and the implied volatility of a
// method; `price(function, S, marketPrice)` calls its entry. The
// market price of the implied job is the method's own value at the typical
// inputs, so the search recovers about kVolatility.
template <typename Price>
void RegisterMethod(const char* method, std::int32_t sensitivity, const char* sensitivityName, Price price) {
    const std::string name = method;
    RegisterJob(name + ".Value", "Entry", [=] {
        return [=](double S) { return price(Theoretical, S, 0.0); };
    });
    RegisterJob(name + "." + sensitivityName, "Entry", [=] {
        return [=](double S) { return price(sensitivity, S, 0.0); };
    });
    RegisterJob(name + ".ImpliedVol", "Entry", [=] {
        const double marketPrice = price(Theoretical, kSpot, 0.0);
        return [=](double S) { return price(ImpliedVol, S, marketPrice); };
    });
}

const bool registered = [] {
    RegisterMethod("GenBS", Delta, "Delta", [](std::int32_t function, double S, double marketPrice) {
        return GenBsEntry(BSGen, function, S, marketPrice);
    });
    RegisterMethod("FrenchBS", Delta, "Delta", [](std::int32_t function, double S, double marketPrice) {
        return GenBsEntry(BSFrench, function, S, marketPrice);
    });
    RegisterMethod("Whaley", Vega, "Vega", [](std::int32_t function, double S, double marketPrice) {
        return ApproxEntryCall(QuadraticApproximation, function, S, marketPrice);
    });
    RegisterMethod("BSAmerican", Vega, "Vega", [](std::int32_t function, double S, double marketPrice) {
        return ApproxEntryCall(BjerksundStenslandApproximation, function, S, marketPrice);
    });
    return true;
}();

}  // namespace
