// Our side of the side-by-side jobs (FieldJobs.h), for every method of the
// interface: the value, one sensitivity and the implied volatility, each
// called at the model entry (inputs prepared as the launcher prepares them
// for an option without escrowed dividends) and through LaunchPlainOption
// with the request the automation method fills.
#include <cstdint>
#include <string>

#include "FieldJobs.h"
#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "approx/JumpDiffusion.h"
#include "approx/RollGeskeWhaley.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "lattice/CRRBinomial.h"
#include "launch/Eurodollar.h"
#include "launch/MethodRequests.h"
#include "launch/PlainOptionLaunch.h"

namespace {

using namespace kestrix;
using namespace kestrix::bench;

constexpr double kBumpSize = 1e-5;
constexpr double kGammaBumpSize = 0.01;

// AmericanCall's one cash dividend, before expiry.
constexpr double kDividend = 2;
constexpr double kTimeExDividend = 0.25;

// Eurodollar quotes an index at most 100: its asset is the spot less this.
constexpr double kIndexBelowSpot = 5;

double D1(std::int32_t modelNumber, double S, double q, double& d2) {
    double d1 = 0;
    ComputeD1D2(modelNumber, d1, d2, S, kStrike, kRate, q, kExpiry, kExpiry, kVolatility);
    return d1;
}

// The model entries, called as the launcher calls them; `f` is the option
// function, `m` the market price of the implied searches.
double GenBSEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(BSGen, S, kYield, d2);
    return GeneralizedBlackScholes(BSGen, European, CallOption, f, S, kStrike, kExpiry, kExpiry, kVolatility, kRate,
                                   kYield, 0, m, d1, d2, ErrorCode);
}
double FrenchBSEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(BSFrench, S, kYield, d2);
    return GeneralizedBlackScholes(BSFrench, European, CallOption, f, S, kStrike, kExpiry, kExpiry, kVolatility,
                                   kRate, kYield, 0, m, d1, d2, ErrorCode);
}
double BinomialEntry(std::int32_t f, double S, double m) {
    return CrrBinomial(American, PutOption, f, kLatticeSteps, S, kStrike, kExpiry, kVolatility, kRate, kYield, 0, 0, 0,
                       1, 0, m, DiscreteCashFlowBin, kBumpSize, S, S, kYield, kYield, ErrorCode);
}
double WhaleyEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(Whaleys, S, kYield, d2);
    return QuadraticApproximation(PutOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, d1, d2, 0,
                                  kGammaBumpSize, kBumpSize, S, S, kYield, kYield, kYield, ErrorCode);
}
double BSAmericanEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(AmericanBS, S, kYield, d2);
    return BjerksundStenslandApproximation(PutOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, d1, d2,
                                           0, kGammaBumpSize, kBumpSize, S, S, kYield, kYield, kYield, ErrorCode);
}
double JumpDiffusionEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(JumpDiff, S, kYield, d2);
    return MertonJumpDiffusion(CallOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, d1, d2, 0,
                               kJumpsPerYear, kPercentTotalVol, kGammaBumpSize, kBumpSize, S, S, kYield, kYield,
                               kYield, ErrorCode);
}
// One dividend before expiry: nothing escrowed, the model treats it.
double AmericanCallEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(RGWCall, S, 0, d2);
    return RollGeskeWhaleyCall(f, S, kStrike, kExpiry, kVolatility, kRate, m, d1, d2, kDividend, kTimeExDividend, 0,
                               0, 0, kGammaBumpSize, kBumpSize, S, S, false, ErrorCode);
}
double EurodollarEntry(std::int32_t f, double S, double m) {
    const double index = S - kIndexBelowSpot;
    return EurodollarOption(GenBSEuro, European, CallOption, f, 5, index, kStrike - kIndexBelowSpot, kExpiry,
                            kVolatility, kRate, 0, 0, 0, 1, 0, DiscreteCashFlow, true, m, kGammaBumpSize, kBumpSize,
                            index, index, 0, 0, 0, ErrorCode);
}

// The requests the automation methods fill for the same options (years,
// continuous rates).
PricingRequest GenBSRequest(std::int32_t f, double S, double m) {
    return FillGenBS(European, CallOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, Years, 0, 0, 0,
                     DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest FrenchBSRequest(std::int32_t f, double S, double m) {
    return FillFrenchBS(European, CallOption, f, S, kStrike, kExpiry, kExpiry, kVolatility, kRate, kYield, m, Years,
                        0, 0, 0, DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest BinomialRequest(std::int32_t f, double S, double m) {
    return FillBinomial(American, PutOption, f, kLatticeSteps, S, kStrike, kExpiry, kVolatility, kRate, kYield, m,
                        Years, 0, 0, 0, DiscreteCashFlowBin, Continuous, Continuous);
}
PricingRequest WhaleyRequest(std::int32_t f, double S, double m) {
    return FillWhaley(PutOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, Years, 0, 0, 0,
                      DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest BSAmericanRequest(std::int32_t f, double S, double m) {
    return FillBSAmerican(PutOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, Years, 0, 0, 0,
                          DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest JumpDiffusionRequest(std::int32_t f, double S, double m) {
    return FillJumpDiffusion(CallOption, f, S, kStrike, kExpiry, kVolatility, kJumpsPerYear, kPercentTotalVol, kRate,
                             kYield, m, Years, 0, 0, 0, DiscreteCashFlow, Continuous, Continuous);
}
PricingRequest AmericanCallRequest(std::int32_t f, double S, double m) {
    return FillAmericanCall(f, S, kStrike, kExpiry, kVolatility, kRate, m, Years, kDividend, kTimeExDividend, 0,
                            Continuous);
}
PricingRequest EurodollarRequest(std::int32_t f, double S, double m) {
    return FillEurodollar(GenBSEuro, European, CallOption, f, S - kIndexBelowSpot, kStrike - kIndexBelowSpot, kExpiry,
                          kVolatility, kRate, 5, m, Years, Continuous);
}

using Call = double (*)(std::int32_t function, double S, double marketPrice);
using Fill = PricingRequest (*)(std::int32_t function, double S, double marketPrice);

struct Method {
    const char* name;
    std::int32_t sensitivity;  // a bumped or tree sensitivity where the model has one
    const char* sensitivityName;
    Call entry;
    Fill request;
};

const Method kMethods[] = {
    {"GenBS", Delta, "Delta", GenBSEntry, GenBSRequest},
    {"FrenchBS", Delta, "Delta", FrenchBSEntry, FrenchBSRequest},
    {"Binomial", Delta, "Delta", BinomialEntry, BinomialRequest},
    {"Whaley", Vega, "Vega", WhaleyEntry, WhaleyRequest},
    {"BSAmerican", Vega, "Vega", BSAmericanEntry, BSAmericanRequest},
    {"JumpDiffusion", Delta, "Delta", JumpDiffusionEntry, JumpDiffusionRequest},
    {"AmericanCall", Vega, "Vega", AmericanCallEntry, AmericanCallRequest},
    {"Eurodollar", Delta, "Delta", EurodollarEntry, EurodollarRequest},
};

double Launch(Fill fill, std::int32_t function, double S, double marketPrice) {
    PricingRequest request = fill(function, S, marketPrice);
    double result = 0;
    LaunchPlainOption(request, ErrorCode, result);
    return result;
}

// The three jobs of a method for one way of calling it. `price(function, S,
// marketPrice)` prices through that way; the market price of the implied job
// is the method's own value at the typical spot, so the search recovers
// about kVolatility.
template <typename Price>
void RegisterWay(const Method& method, const char* way, Price price) {
    const std::string name = method.name;
    const std::int32_t sensitivity = method.sensitivity;
    RegisterJob(name + ".Value", way, [=] { return [=](double S) { return price(Theoretical, S, 0.0); }; });
    RegisterJob(name + "." + method.sensitivityName, way,
                [=] { return [=](double S) { return price(sensitivity, S, 0.0); }; });
    RegisterJob(name + ".ImpliedVol", way, [=] {
        const double marketPrice = price(Theoretical, kSpot, 0.0);
        return [=](double S) { return price(ImpliedVol, S, marketPrice); };
    });
}

const bool registered = [] {
    for (const Method& method : kMethods) {
        RegisterWay(method, "Entry", method.entry);
        const Fill fill = method.request;
        RegisterWay(method, "Launch", [fill](std::int32_t f, double S, double m) { return Launch(fill, f, S, m); });
    }
    return true;
}();

}  // namespace
