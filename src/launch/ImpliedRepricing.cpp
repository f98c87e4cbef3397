#include "launch/ImpliedRepricing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PseudoAmerican.h"
#include "core/WorkLimits.h"
#include "launch/Eurodollar.h"
#include "launch/PlainOptionLaunch.h"
#include "lattice/CRRBinomial.h"

namespace kestrix {

namespace {

// The volatility scan stops below this, as the models' own searches do.
constexpr double kMaxScanVolatility = 100;
// Halvings or doublings of the strike scan, and bisection steps: a bracket
// of doubles closes to neighbours in far fewer.
constexpr int kMaxStrikeScanSteps = 200;
constexpr int kMaxBisectionSteps = 200;
// Work of one valuation by a closed form or an approximation (about a
// microsecond): only the lattice and the pseudo-American dividend walk can
// make a valuation costly.
constexpr double kFormulaValuationWork = 1000;

// The search's inputs and its running state. The scan runs on a coordinate:
// the volatility, the strike, or for the Eurodollar front end's strike the
// rate-scale strike 100 - StrikePrice, on which the model itself searches.
struct Search {
    PricingRequest request;  // OptionFunction Theoretical; the searched input varies
    PreparedInputs prepared;
    bool onVolatility = true;
    bool onRateScale = false;
    double marketPrice = 0;
    double tolerance = 0;
    double valuationWork = 0;
    double work = 0;
    double workLimit = 0;
    bool exhausted = false;  // the call's work limit is reached: the search ends with 0
};

bool IsMathLibraryFailure(const PricingFailure& failure) noexcept {
    return failure.Message() != nullptr && std::strcmp(failure.Message(), kInvalidOpMessage) == 0;
}

double ValuationWork(const PricingRequest& rq, const PreparedInputs& p) noexcept {
    const bool eurodollar = rq.ModelNumber == Eurodollars;
    const std::int32_t type = eurodollar ? EurodollarRateOptionType(rq.OptionType) : rq.OptionType;
    if (rq.ModelNumber == CRRBinomial || (eurodollar && rq.EurodollarModel == BinomialEuro)) {
        return std::max(kFormulaValuationWork,
                        CrrValuationWork(rq.ExerciseType, type, rq.Iterations, rq.TimeExpire, rq.DividendAmount,
                                         rq.TimeExDividend, rq.DividendFrequency, p.DividendCount, rq.DividendStyle));
    }
    if (rq.ModelNumber == PseudoAmericanModel ||
        (eurodollar && rq.EurodollarModel == GenBSEuro && rq.ExerciseType == American)) {
        return kFormulaValuationWork +
               PseudoAmericanValuationWork(type, p.DividendPV, p.DividendsIgnored, p.DividendCount);
    }
    return kFormulaValuationWork;
}

// The model's input (volatility or strike) at a scan coordinate, and back.
double InputAt(const Search& search, double coordinate) noexcept {
    return search.onRateScale ? 100 - coordinate : coordinate;
}

// The model's Theoretical at `input`; false when the value is unknown (a
// maths-library failure, inputs the d1/d2 check refuses, a value that is not
// finite) or the work limit is reached (then search.exhausted).
bool ValueAt(Search& search, double input, double& value, std::int32_t& errorCode) {
    search.work += search.valuationWork;
    if (search.work > search.workLimit) {
        search.exhausted = true;
        return false;
    }
    if (search.onVolatility) {
        search.request.Volatility = input;
    } else {
        search.request.StrikePrice = input;
    }
    if (!FormD1D2(search.request, search.prepared)) return false;
    try {
        value = PriceWithModel(search.request, search.prepared, errorCode);
    } catch (const PricingFailure& failure) {
        if (!IsMathLibraryFailure(failure)) throw;
        return false;
    }
    return std::isfinite(value);
}

bool Reprices(const Search& search, double value) noexcept {
    return std::fabs(value - search.marketPrice) <= search.tolerance;
}

// Bisection of the coordinates a, b (either order), whose values lie on
// either side of the market price. 0 when a value is unknown or the bracket
// closes to neighbouring doubles: the value jumps across the price there.
double Bisect(Search& search, double a, double valueA, double b, std::int32_t& errorCode) {
    const bool belowAtA = valueA < search.marketPrice;
    for (int step = 0; step < kMaxBisectionSteps; ++step) {
        const double mid = a + (b - a) / 2;
        if (mid == a || mid == b) return 0;
        double value = 0;
        if (!ValueAt(search, InputAt(search, mid), value, errorCode)) return 0;
        if (Reprices(search, value)) return mid;
        if ((value < search.marketPrice) == belowAtA) {
            a = mid;
        } else {
            b = mid;
        }
    }
    return 0;
}

// The scan's last point whose value is known.
struct KnownPoint {
    bool known = false;
    double x = 0;
    double value = 0;
};

// Values the scan coordinates x, next(x), ... (at most `points`, until next
// gives 0) and bisects the first pair of neighbouring known values on either
// side of the market price, `last` being the point before x if already
// valued. A point within the tolerance is the answer at once; a point whose
// value is unknown is passed over. Returns a coordinate, or 0.
template <class Next>
double ScanAndBisect(Search& search, double x, int points, Next next, std::int32_t& errorCode, KnownPoint last = {}) {
    for (int k = 0; k < points && x > 0; ++k, x = next(x)) {
        double value = 0;
        if (!ValueAt(search, InputAt(search, x), value, errorCode)) {
            if (search.exhausted) return 0;
            continue;
        }
        if (Reprices(search, value)) return x;
        if (last.known && (value < search.marketPrice) != (last.value < search.marketPrice)) {
            return Bisect(search, last.x, last.value, x, errorCode);
        }
        last = {true, x, value};
    }
    return 0;
}

// Volatilities floor, 2 floor, 4 floor, ... below 100, then the largest
// double below 100. The ends alone would not do: a lattice call's value falls
// to 0 once its overflow guard fires, and with few steps it swings at low
// volatilities.
double ScanVolatility(Search& search, std::int32_t& errorCode) {
    const double top = std::nextafter(kMaxScanVolatility, 0.0);
    const auto next = [top](double s) { return s >= top ? 0.0 : std::min(2 * s, top); };
    return ScanAndBisect(search, VolatilityFloor(search.request), kMaxStrikeScanSteps, next, errorCode);
}

// From the request's strike, halved or doubled towards the side where the
// market price lies: a call's value falls as its strike rises, a put's rises.
double ScanStrike(Search& search, std::int32_t optionType, std::int32_t& errorCode) {
    const double start = search.onRateScale ? 100 - search.request.StrikePrice : search.request.StrikePrice;
    double value = 0;
    if (!ValueAt(search, InputAt(search, start), value, errorCode)) return 0;
    if (Reprices(search, value)) return start;
    const bool raise = (optionType == CallOption) == (value > search.marketPrice);
    const auto next = [raise](double K) { return raise ? 2 * K : K / 2; };
    return ScanAndBisect(search, next(start), kMaxStrikeScanSteps, next, errorCode, {true, start, value});
}

}  // namespace

double SolveImplied(const PricingRequest& request, const PreparedInputs& prepared, std::int32_t& errorCode) {
    double answer = 0;
    try {
        answer = PriceWithModel(request, prepared, errorCode);
    } catch (const PricingFailure& failure) {
        if (!IsMathLibraryFailure(failure)) throw;
        answer = 0;
    }
    if (!std::isfinite(answer)) answer = 0;

    Search search{.request = request, .prepared = prepared};
    search.request.OptionFunction = Theoretical;
    search.onVolatility = request.OptionFunction == ImpliedVol;
    search.onRateScale = !search.onVolatility && request.ModelNumber == Eurodollars;
    search.marketPrice = request.MarketPrice;
    search.tolerance = RepricingTolerance(request.MarketPrice);
    search.valuationWork = ValuationWork(request, prepared);
    search.workLimit = kCallWorkLimit - ScheduleWork(prepared.DividendCount, 1);

    // The model's own answer stands when it reprices, also below the
    // volatility floor, where the model is valued directly.
    if (answer != 0) {
        double value = 0;
        if (ValueAt(search, answer, value, errorCode) && Reprices(search, value)) return answer;
    }
    if (!(search.marketPrice > 0)) return 0;
    if (search.onVolatility) return ScanVolatility(search, errorCode);

    // A straddle's value is not monotone in its strike: no bracket to look for.
    if (request.OptionType != CallOption && request.OptionType != PutOption) return 0;
    search.request.StrikePrice = request.StrikePrice;
    const std::int32_t type = search.onRateScale ? EurodollarRateOptionType(request.OptionType) : request.OptionType;
    const double strike = ScanStrike(search, type, errorCode);
    if (strike == 0) return 0;
    // Mapped back as the Eurodollar front end maps its own answer.
    return search.onRateScale ? EurodollarToIndexTerms(ImpliedStrike, strike) : strike;
}

}  // namespace kestrix
