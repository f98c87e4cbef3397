#include "launch/PlainOptionLaunch.h"

#include <cmath>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "approx/JumpDiffusion.h"
#include "approx/RollGeskeWhaley.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"
#include "core/PseudoAmerican.h"
#include "core/WorkLimits.h"
#include "launch/Eurodollar.h"
#include "launch/ImpliedRepricing.h"
#include "lattice/CRRBinomial.h"

namespace kestrix {

namespace {

constexpr double kVolatilityFloor = 0.002;
constexpr double kLatticeVolatilityFloor = 0.015;
constexpr double kCalendarDaysPerYear = 365;
constexpr double kTradingDaysPerYear = 252;

// Every range check is phrased as the condition that must hold, so a value
// that is not a number fails it.
void Require(bool holds, std::int32_t& errorCode, enumOErrCodes code) {
    if (!holds) RaiseError(errorCode, code);
}

bool LatticePrices(const PricingRequest& rq) {
    return rq.ModelNumber == CRRBinomial || (rq.ModelNumber == Eurodollars && rq.EurodollarModel == BinomialEuro);
}

// The first half: checks in their fixed order, silent floors and ceilings,
// days to years, both rates to continuous compounding. Returns false for a
// request that is answered with 0 without pricing.
bool ValidateAndConvert(PricingRequest& rq, std::int32_t& errorCode) {
    using E = enumOErrCodes;
    errorCode = 0;

    // A zero (or undefined) asset price is priced as a vanishing one, never rejected.
    if (rq.AssetPrice == 0 || std::isnan(rq.AssetPrice)) rq.AssetPrice = 1e-17;

    Require(rq.ExerciseType == American || rq.ExerciseType == European, errorCode, E::ExerciseTypeErr);
    const std::int32_t maxStyle =
        rq.ModelNumber == CRRBinomial ? std::int32_t{ContinuousControlVar} : std::int32_t{ContinuousYield};
    Require(rq.DividendStyle >= 0 && rq.DividendStyle <= maxStyle, errorCode, E::DividendStyleErr);
    Require(rq.OptionType >= CallOption && rq.OptionType <= Straddle, errorCode, E::OptionTypeErr);
    Require(rq.Iterations >= 5, errorCode, E::IterationsMinErr);
    Require(rq.Iterations <= 500, errorCode, E::IterationsMaxErr);
    Require(rq.AssetPrice >= 0, errorCode, E::AssetPriceErr);
    Require(rq.StrikePrice > 0, errorCode, E::StrikePriceErr);
    Require(rq.DividendAmount >= 0, errorCode, E::DividendAmtErr);
    Require(rq.TimeExDividend >= 0, errorCode, E::TimeExDivErr);
    Require(rq.DividendFrequency >= 0, errorCode, E::DividendFreqErr);
    Require(rq.TimeExpire > 0, errorCode, E::TimeExpireErr);
    Require(rq.TimeTrading > 0, errorCode, E::TimeTradingErr);
    Require(rq.TimeFormat == Days || rq.TimeFormat == Years, errorCode, E::TimeFormatErr);

    // The lattice needs a wider volatility floor to keep its probabilities sane.
    if (!(rq.Volatility > kLatticeVolatilityFloor) && LatticePrices(rq)) rq.Volatility = kLatticeVolatilityFloor;
    if (!(rq.Volatility > kVolatilityFloor)) rq.Volatility = kVolatilityFloor;
    if (rq.Volatility > 1e7) rq.Volatility = 1e7;
    if (rq.TimeExpire > 1e7) rq.TimeExpire = 1e7;

    Require(rq.InterestRate > 0 && rq.InterestRate <= 1e30, errorCode, E::InterestRateErr);
    Require(rq.YieldRate >= -1 && rq.YieldRate <= 100000, errorCode, E::YieldRateErr);
    if (rq.YieldRate == 0 && rq.ModelNumber == AmericanBS && rq.OptionFunction != Theoretical) {
        rq.YieldRate = 1e-7;
    }
    if (rq.OptionFunction == ImpliedVol || rq.OptionFunction == ImpliedStrike) {
        Require(rq.MarketPrice >= 0, errorCode, E::MktPriceNegErr);
        Require(rq.MarketPrice > 0, errorCode, E::MktPriceGZErr);
    }
    if (rq.ModelNumber == Eurodollars) {
        Require(rq.AssetPrice <= 100, errorCode, E::AssetPriceEurErr);
        Require(rq.StrikePrice < 100, errorCode, E::StrikePriceEurErr);
    }
    Require(rq.JumpsPerYear > 0, errorCode, E::JumpPerYrErr);
    Require(rq.PercentTotalVol > 0, errorCode, E::PerTotVolMinErr);
    Require(rq.PercentTotalVol < 1, errorCode, E::PerTotVolErr);

    if (rq.TimeFormat == Days) {
        rq.TimeExpire *= 1 / kCalendarDaysPerYear;
        rq.TimeExDividend *= 1 / kCalendarDaysPerYear;
        rq.DividendFrequency *= 1 / kCalendarDaysPerYear;
        rq.TimeTrading *= 1 / kTradingDaysPerYear;
    }

    // So negative a carry that every value would overflow: answered with 0.
    if (-rq.YieldRate * rq.TimeExpire > 20) return false;

    if (rq.TimeExpire < 1e-7) rq.TimeExpire = 1e-7;
    if (rq.InterestRate < 1e-7) rq.InterestRate = 1e-7;

    // A continuous quote converts to itself, with no check to make: most
    // requests skip the out-of-line call.
    if (rq.InterestRateType != Continuous) {
        ConvertRateToContinuous(rq.InterestRate, rq.TimeExpire, rq.InterestRateType, rq.TimeFormat, errorCode, 1);
    }
    if (rq.YieldRateType != Continuous) {
        ConvertRateToContinuous(rq.YieldRate, rq.TimeExpire, rq.YieldRateType, rq.TimeFormat, errorCode, 2);
    }
    return true;
}

// Lower, upper and second upper point of a finite difference around x; the
// lower point stays at x where x - step would not be positive.
void BumpPoints(double x, double step, double& down, double& up, double& up2) {
    down = x - step > 0 ? x - step : x;
    up = x + step;
    up2 = x + 2 * step;
}

void FillWithoutDividends(double assetPrice, double yieldRate, PreparedInputs& p) {
    p.DividendPV = 0;
    p.DividendCount = 1;
    p.DividendsIgnored = true;
    p.AssetPriceDown = p.AssetPriceUp = p.AssetPriceUp2 = assetPrice;
    p.YieldRateDown = p.YieldRateUp = p.YieldRateUp2 = yieldRate;
}

}  // namespace

double VolatilityFloor(const PricingRequest& rq) noexcept {
    return LatticePrices(rq) ? kLatticeVolatilityFloor : kVolatilityFloor;
}

double PriceWithModel(const PricingRequest& rq, const PreparedInputs& p, std::int32_t& errorCode) {
    switch (rq.ModelNumber) {
        case BSGen:
        case BSFrench:
            return GeneralizedBlackScholes(rq.ModelNumber, rq.ExerciseType, rq.OptionType, rq.OptionFunction,
                                           rq.AssetPrice, rq.StrikePrice, rq.TimeTrading, rq.TimeExpire,
                                           rq.Volatility, rq.InterestRate, rq.YieldRate, p.DividendPV,
                                           rq.MarketPrice, p.d1, p.d2, errorCode);
        case CRRBinomial:
            return CrrBinomial(rq.ExerciseType, rq.OptionType, rq.OptionFunction, rq.Iterations, rq.AssetPrice,
                               rq.StrikePrice, rq.TimeExpire, rq.Volatility, rq.InterestRate, rq.YieldRate,
                               rq.DividendAmount, rq.TimeExDividend, rq.DividendFrequency, p.DividendCount,
                               p.DividendPV, rq.MarketPrice, rq.DividendStyle, p.BumpSize, p.AssetPriceDown,
                               p.AssetPriceUp, p.YieldRateDown, p.YieldRateUp, errorCode);
        case Eurodollars:
            return EurodollarOption(rq.EurodollarModel, rq.ExerciseType, rq.OptionType, rq.OptionFunction,
                                    rq.Iterations, rq.AssetPrice, rq.StrikePrice, rq.TimeExpire, rq.Volatility,
                                    rq.InterestRate, rq.DividendAmount, rq.TimeExDividend, rq.DividendFrequency,
                                    p.DividendCount, p.DividendPV, rq.DividendStyle, p.DividendsIgnored,
                                    rq.MarketPrice, p.GammaBumpSize, p.BumpSize, p.AssetPriceDown, p.AssetPriceUp,
                                    p.YieldRateDown, p.YieldRateUp, p.YieldRateUp2, errorCode);
        case Whaleys:
            return QuadraticApproximation(rq, p, errorCode);
        case RGWCall:
            return RollGeskeWhaleyCall(rq.OptionFunction, rq.AssetPrice, rq.StrikePrice, rq.TimeExpire, rq.Volatility,
                                       rq.InterestRate, rq.MarketPrice, p.d1, p.d2, rq.DividendAmount,
                                       rq.TimeExDividend, rq.DividendFrequency, p.DividendPV, p.DividendCount,
                                       p.GammaBumpSize, p.BumpSize, p.AssetPriceDown, p.AssetPriceUp,
                                       p.DividendsIgnored, errorCode);
        case JumpDiff:
            return MertonJumpDiffusion(rq.OptionType, rq.OptionFunction, rq.AssetPrice, rq.StrikePrice, rq.TimeExpire,
                                       rq.Volatility, rq.InterestRate, rq.YieldRate, rq.MarketPrice, p.d1, p.d2,
                                       p.DividendPV, rq.JumpsPerYear, rq.PercentTotalVol, p.GammaBumpSize,
                                       p.BumpSize, p.AssetPriceDown, p.AssetPriceUp, p.YieldRateDown,
                                       p.YieldRateUp, p.YieldRateUp2, errorCode);
        case AmericanBS:
            return BjerksundStenslandApproximation(rq, p, errorCode);
        case PseudoAmericanModel:
            return PseudoAmericanApproximation(rq.OptionType, rq.OptionFunction, rq.AssetPrice, rq.StrikePrice,
                                               rq.TimeExpire, rq.Volatility, rq.InterestRate, rq.YieldRate,
                                               rq.DividendAmount, rq.TimeExDividend, rq.DividendFrequency,
                                               p.DividendPV, rq.MarketPrice, p.d1, p.d2, p.DividendsIgnored,
                                               p.DividendCount, errorCode);
        default:
            RaiseError(errorCode, enumOErrCodes::OptionModelErr);
    }
}

bool AdjustDiscreteDividends(std::int32_t modelNumber, std::int32_t optionFunction, double& assetPrice,
                             double timeExpire, double interestRate, double& yieldRate, double& dividendAmount,
                             double timeExDividend, double dividendFrequency, std::int32_t dividendStyle,
                             PreparedInputs& p) {
    const double h = p.BumpSize;
    const double S0 = assetPrice;
    const double T = timeExpire;
    const double r = interestRate;
    const double D = dividendAmount;
    const double t1 = timeExDividend;
    const double f = dividendFrequency;

    // Starting points of the unbumped and the three bumped inputs.
    double start[4] = {S0, S0, S0, S0};
    double times[4] = {T, T, T, T};
    switch (optionFunction) {
        case Delta:
        case Lambda: BumpPoints(S0, h, start[1], start[2], start[3]); break;
        case Gamma: BumpPoints(S0, p.GammaBumpSize, start[1], start[2], start[3]); break;
        case Theta: BumpPoints(T, h, times[1], times[2], times[3]); break;
        default: break;
    }
    p.YieldRateDown = p.YieldRateUp = p.YieldRateUp2 = yieldRate;
    p.DividendsIgnored = false;

    // Rho (and Psi of model 5) discounts the dividends at the bumped rates.
    const bool rateBumped = optionFunction == Rho || (optionFunction == Psi && modelNumber == RGWCall);
    const double rates[4] = {r, rateBumped ? r - h : r, rateBumped ? r + h : r, rateBumped ? r + 2 * h : r};
    double pv[4] = {0, 0, 0, 0};
    // Adds the payment at t; true when it added exactly nothing because every
    // discount factor has underflowed to 0.
    const auto addPayment = [&](double t) {
        if (!rateBumped) {
            // One rate: one discount factor serves all four sums (a schedule
            // may have 1e8 dates, and the exponential is the loop's cost).
            const double discount = std::exp(-r * t);
            const double payment = D * discount;
            for (double& sum : pv) sum += payment;
            return discount == 0 && payment == 0;
        }
        bool vanished = true;
        for (int k = 0; k < 4; ++k) {
            const double discount = std::exp(-rates[k] * t);
            const double payment = D * discount;
            pv[k] += payment;
            vanished = vanished && discount == 0 && payment == 0;
        }
        return vanished;
    };

    std::int32_t count = 1;
    bool stopped = false;
    if (t1 > T) {
        dividendAmount = 0;
    } else if (f == 0 || t1 + f > T || (T - t1) / f >= 1e8) {
        // One payment at t1; a frequency of 0 means exactly that. The
        // compound-option formula of model 5 values its one dividend itself.
        if (modelNumber == RGWCall) {
            count = 0;
        } else {
            addPayment(t1);
        }
    } else {
        auto n = static_cast<std::int32_t>(std::floor((T - t1) / f));
        if (modelNumber == RGWCall) --n;  // model 5 values the last date itself
        // Up to 1e8 dates at one rate stay within the call's work limit; at
        // four rates the longest schedules would not.
        const double maxDates = kCallWorkLimit / ScheduleWork(1, rateBumped ? kBumpedDiscountRates : 1);
        for (std::int32_t i = 0; i <= n; ++i) {
            if (!(S0 - pv[0] > 0)) {
                stopped = true;
                break;
            }
            if (i >= maxDates) return false;
            // Discount factors that have all underflowed to 0 belong to
            // positive rates, so every later date's are 0 too: the rest of
            // the schedule would leave the sums, and this loop's test, as
            // they are.
            if (addPayment(t1 + i * f)) break;
        }
        count = n + 1;
    }

    if (stopped || pv[0] >= S0) {
        // Dividends worth the whole asset: priced exactly as without dividends.
        FillWithoutDividends(S0, yieldRate, p);
        assetPrice = S0;
        dividendAmount = 0;
        return true;
    }

    assetPrice = S0 - pv[0];
    double* slots[3] = {&p.AssetPriceDown, &p.AssetPriceUp, &p.AssetPriceUp2};
    for (int k = 0; k < 3; ++k) *slots[k] = start[k + 1] - pv[k + 1];
    p.DividendPV = pv[0];
    p.DividendCount = count;

    if (dividendStyle == ContinuousYield || dividendStyle == ContinuousControlVar) {
        yieldRate -= std::log(assetPrice / S0) / T;
        double* yields[3] = {&p.YieldRateDown, &p.YieldRateUp, &p.YieldRateUp2};
        for (int k = 0; k < 3; ++k) *yields[k] -= std::log(*slots[k] / start[k + 1]) / times[k + 1];
        assetPrice = S0;
        for (double* slot : slots) *slot = S0;
        p.DividendCount = 0;
        p.DividendPV = 0;
    }
    return true;
}

bool PrepareRequest(PricingRequest& rq, std::int32_t& errorCode, PreparedInputs& p) {
    p = PreparedInputs{};
    if (!ValidateAndConvert(rq, errorCode)) return false;

    if (rq.DividendAmount > 0 && rq.TimeExDividend > 0) {
        if (!AdjustDiscreteDividends(rq.ModelNumber, rq.OptionFunction, rq.AssetPrice, rq.TimeExpire,
                                     rq.InterestRate, rq.YieldRate, rq.DividendAmount, rq.TimeExDividend,
                                     rq.DividendFrequency, rq.DividendStyle, p)) {
            return false;
        }
    } else {
        FillWithoutDividends(rq.AssetPrice, rq.YieldRate, p);
        rq.DividendAmount = 0;
    }

    return FormD1D2(rq, p);
}

bool FormD1D2(const PricingRequest& rq, PreparedInputs& p) noexcept {
    switch (rq.ModelNumber) {
        // The lattice and the Eurodollar front end form their own d1/d2.
        case CRRBinomial:
        case Eurodollars: return true;
        // The American approximations form theirs at every point they price:
        // of ComputeD1D2 they need only its verdict on the inputs.
        case Whaleys:
        case AmericanBS: return !(rq.AssetPrice < 0 || rq.StrikePrice <= 0);
        default:
            return ComputeD1D2(rq.ModelNumber, p.d1, p.d2, rq.AssetPrice, rq.StrikePrice, rq.InterestRate,
                               rq.YieldRate, rq.TimeExpire, rq.TimeTrading, rq.Volatility);
    }
}

void LaunchPlainOption(PricingRequest& request, std::int32_t& errorCode, double& result) {
    result = 0;
    PreparedInputs prepared;
    if (!PrepareRequest(request, errorCode, prepared)) return;
    if (request.OptionFunction == ImpliedVol || request.OptionFunction == ImpliedStrike) {
        result = SolveImplied(request, prepared, errorCode);
        return;
    }
    result = PriceWithModel(request, prepared, errorCode);
}

}  // namespace kestrix
