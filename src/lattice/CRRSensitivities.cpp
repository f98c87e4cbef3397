// The lattice sensitivities that need two valuations (central differences of a
// lower and an upper lattice valued in one pass on the plain n-step tree), the
// futures Rho of the Eurodollar front end, and the implied searches built on
// them. Part of the CRRBinomial unit.
#include <algorithm>
#include <cmath>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/PlainOptions.h"
#include "lattice/CRRBinomial.h"
#include "lattice/LatticeEngine.h"

namespace kestrix {

namespace {

using lattice::kNodeCapacity;
using lattice::Lattice;
using lattice::Legs;

bool IsBumpedFunction(std::int32_t optionFunction) noexcept {
    return optionFunction == Vega || optionFunction == Rho || optionFunction == Psi ||
           optionFunction == StrikeSensitivity;
}

// Inputs of one bumped pass.
struct BumpRequest {
    std::int32_t optionFunction;
    std::int32_t steps;
    double S, X, T, sigma, r, q;
    double h;
    double assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp;
};

// Power tables of a pass: one shared pair, or one pair per lattice for Vega.
struct PowerTables {
    double up[2][kNodeCapacity];
    double down[2][kNodeCapacity];
};

// Where a pass's lattices stand: step length and the overflow cut's count.
struct PassGrid {
    double dt;
    int inRange;
};

// Configures pair[0] (input lowered by h) and pair[1] (raised by h) for the
// bump the function asks for, and tabulates their powers.
PassGrid SetUpBumpedPair(const BumpRequest& in, PowerTables& tables, Lattice* pair) noexcept {
    const lattice::TreeGrid grid = lattice::MakeGrid(in.T, in.steps, in.sigma);
    const double dt = grid.dt;
    const double b = in.r - in.q;
    // The overflow cut always follows the unbumped volatility.
    const int inRange = lattice::InRangeCount(grid.log10u, in.steps);
    for (int k = 0; k < 2; ++k) {
        pair[k].S = in.S;
        pair[k].strike = in.X;
        pair[k].disc = std::exp(-in.r * dt);
        pair[k].dividendRate = in.r;
        pair[k].up = tables.up[0];
        pair[k].down = tables.down[0];
        pair[k].p = lattice::UpProbability(b, dt, grid.u, grid.d, grid.degenerate);
    }
    switch (in.optionFunction) {
        case Vega: {
            double u[2], d[2];
            const bool lowerDegenerate = lattice::UpDownFactors(in.sigma - in.h, dt, u[0], d[0]);
            const bool upperDegenerate = lattice::UpDownFactors(in.sigma + in.h, dt, u[1], d[1]);
            // One flag for the base and both bumped trees.
            const bool degenerate = grid.degenerate || lowerDegenerate || upperDegenerate;
            for (int k = 0; k < 2; ++k) {
                lattice::TabulatePowers(u[k], d[k], in.steps, inRange, tables.up[k], tables.down[k]);
                pair[k].up = tables.up[k];
                pair[k].down = tables.down[k];
                pair[k].p = lattice::UpProbability(b, dt, u[k], d[k], degenerate);
            }
            return PassGrid{dt, inRange};
        }
        case Rho: {
            pair[0].S = in.assetPriceDown;
            pair[1].S = in.assetPriceUp;
            pair[0].disc = std::exp(-(in.r - in.h) * dt);
            pair[1].disc = std::exp(-(in.r + in.h) * dt);
            pair[0].dividendRate = in.r - in.h;
            pair[1].dividendRate = in.r + in.h;
            pair[0].p = lattice::UpProbability((in.r - in.yieldRateDown) - in.h, dt, grid.u, grid.d, grid.degenerate);
            pair[1].p = lattice::UpProbability((in.r - in.yieldRateUp) + in.h, dt, grid.u, grid.d, grid.degenerate);
            break;
        }
        case Psi:
            pair[0].p = lattice::UpProbability(b - in.h, dt, grid.u, grid.d, grid.degenerate);
            pair[1].p = lattice::UpProbability(b + in.h, dt, grid.u, grid.d, grid.degenerate);
            break;
        default:  // StrikeSensitivity
            pair[0].strike = in.X - in.h;
            pair[1].strike = in.X + in.h;
            break;
    }
    lattice::TabulatePowers(grid.u, grid.d, in.steps, inRange, tables.up[0], tables.down[0]);
    return PassGrid{dt, inRange};
}

// Gives `to` the parameters of `from`: the control variate's American trees
// run on their European twins' grid.
void ShareParameters(const Lattice& from, Lattice& to) noexcept {
    to.S = from.S;
    to.strike = from.strike;
    to.p = from.p;
    to.disc = from.disc;
    to.dividendRate = from.dividendRate;
    to.up = from.up;
    to.down = from.down;
}

// Terminal payoffs and backward induction of the plain n-step tree for
// lattices taken in guarded pairs; false when MagnitudeGuard stopped it.
bool RunPlainTrees(Lattice* lattices, int count, const Legs& legs, std::int32_t steps, double T, const PassGrid& grid,
                   const lattice::DividendSchedule& dividends, std::int32_t optionFunction) noexcept {
    const double expiryDividend =
        ExpiryDividend(dividends.amount, dividends.firstTime, dividends.frequency, dividends.count, T);
    for (int k = 0; k < count; ++k) lattice::FillExpiry(lattices[k], legs, steps, grid.inRange, expiryDividend);
    return lattice::RollBackTree(lattices, count, 2, legs, steps, 0, grid.dt, grid.inRange, dividends, nullptr,
                                 lattice::LatticeWorkLimit(dividends.count, optionFunction == Rho));
}

// Work of one evaluation of an implied search on the plain tree of `steps`
// steps: the bumped pair, or the control variate's four lattices (two of
// them American); the American ones share one dividend rate.
double SearchEvaluationWork(std::int32_t exerciseType, std::int32_t optionType, std::int32_t dividendStyle,
                            std::int32_t steps, double T, const lattice::DividendSchedule& dividends) noexcept {
    if (!lattice::StepsFitArrays(steps)) return 0;
    const bool controlVariate = dividendStyle >= DiscreteControlVar;
    const bool american = controlVariate || exerciseType == American;
    return lattice::RollBackWork(controlVariate ? 4 : 2, lattice::LegsOf(optionType).count, steps, 0, T / steps,
                                 dividends, american ? 1 : 0);
}

constexpr std::int32_t kCoarseSteps = 50;
constexpr double kSearchTolerance = 1e-6;
constexpr double kSwitchThreshold = 0.1;

// The lattice's Newton search on x (a volatility or a strike). evaluate(steps,
// x, value, derivative) values the lattice; admissible(x) bounds the iterate.
// Early steps run on the coarse tree while the price error exceeds 0.1; a
// search never ends on a coarse evaluation when the full tree is larger.
// workOf(steps) is the work of one evaluation: the search gives up (0) rather
// than let its evaluations together exceed workLimit.
template <class Evaluate, class Admissible, class WorkOf>
double LatticeNewtonSearch(double x, double marketPrice, std::int32_t iterations, bool slopeMustBePositive,
                           Evaluate evaluate, Admissible admissible, WorkOf workOf, double workLimit) {
    const std::int32_t coarse = std::min(kCoarseSteps, iterations);
    const double coarseWork = workOf(coarse);
    const double fullWork = workOf(iterations);
    double work = coarseWork;
    if (work > workLimit) return 0;
    double v = 0, g = 0;
    evaluate(coarse, x, v, g);
    double err = std::fabs(marketPrice - v);
    bool switched = false;
    int coarseSteps = 0, fineSteps = 0;
    const auto slopeUsable = [&] { return slopeMustBePositive ? g > 0 : g != 0; };
    while ((err > kSearchTolerance || (!switched && coarse < iterations)) && slopeUsable()) {
        if (coarseSteps + fineSteps == kMaxSearchSteps) return 0;
        std::int32_t steps = iterations;
        if (err > kSwitchThreshold && !switched) {
            steps = coarse;
            ++coarseSteps;
        } else {
            switched = true;
            ++fineSteps;
        }
        x = x - (v - marketPrice) / g;
        if (!admissible(x)) return 0;
        work += steps == coarse ? coarseWork : fullWork;
        if (work > workLimit) return 0;
        evaluate(steps, x, v, g);
        const double newErr = std::fabs(marketPrice - v);
        if (newErr > err && (coarseSteps > 4 || fineSteps > 3)) return 0;  // diverging
        err = newErr;
    }
    return g == 0 ? 0 : x;
}

}  // namespace

double CrrBumpedSensitivity(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                            std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                            double volatility, double interestRate, double yieldRate, double dividendAmount,
                            double timeExDividend, double dividendFrequency, std::int32_t dividendCount,
                            double& value, double& derivative, double bumpSize, double assetPriceDown,
                            double assetPriceUp, double yieldRateDown, double yieldRateUp) noexcept {
    value = 0;
    derivative = 0;
    if (!IsBumpedFunction(optionFunction) || !lattice::StepsFitArrays(iterations)) return 0;
    const BumpRequest in{optionFunction, iterations,    assetPrice,   strikePrice,   timeExpire,
                         volatility,     interestRate,  yieldRate,    bumpSize,      assetPriceDown,
                         assetPriceUp,   yieldRateDown, yieldRateUp};
    const Legs legs = lattice::LegsOf(optionType);
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};

    PowerTables tables;
    Lattice pair[2];
    const PassGrid grid = SetUpBumpedPair(in, tables, pair);
    pair[0].american = pair[1].american = exerciseType == American;
    if (!RunPlainTrees(pair, 2, legs, iterations, timeExpire, grid, dividends, optionFunction)) return 0;

    const double lower = lattice::RootValue(pair[0], legs);
    const double upper = lattice::RootValue(pair[1], legs);
    const double D = (upper - lower) / (2 * bumpSize);
    switch (optionFunction) {
        case Vega:
            value = (upper + lower) * 0.5;
            derivative = D;
            return D * 0.01;
        case Rho: return D * 0.01;
        case Psi: return -D * 0.01;  // the upper lattice has the higher carry, i.e. the lower yield
        default:                     // StrikeSensitivity
            value = (upper + lower) * 0.5;
            derivative = D;
            return D;
    }
}

double CrrControlVariateBumpedSensitivity(std::int32_t /*exerciseType*/, std::int32_t optionType,
                                          std::int32_t optionFunction, std::int32_t iterations, double assetPrice,
                                          double strikePrice, double timeExpire, double volatility,
                                          double interestRate, double yieldRate, double dividendAmount,
                                          double timeExDividend, double dividendFrequency,
                                          std::int32_t dividendCount, double& value, double& derivative,
                                          double dividendPV, double bumpSize, double assetPriceDown,
                                          double assetPriceUp, double yieldRateDown, double yieldRateUp,
                                          std::int32_t& errorCode) {
    value = 0;
    derivative = 0;
    if (!IsBumpedFunction(optionFunction) || !lattice::StepsFitArrays(iterations)) return 0;
    const BumpRequest in{optionFunction, iterations,    assetPrice,   strikePrice,   timeExpire,
                         volatility,     interestRate,  yieldRate,    bumpSize,      assetPriceDown,
                         assetPriceUp,   yieldRateDown, yieldRateUp};
    const Legs legs = lattice::LegsOf(optionType);
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};

    // European lower/upper, then American lower/upper: each pair's lower
    // lattice is the one MagnitudeGuard watches.
    PowerTables tables;
    Lattice trees[4];
    const PassGrid grid = SetUpBumpedPair(in, tables, trees);
    ShareParameters(trees[0], trees[2]);
    ShareParameters(trees[1], trees[3]);
    trees[0].american = trees[1].american = false;
    trees[2].american = trees[3].american = true;
    if (!RunPlainTrees(trees, 4, legs, iterations, timeExpire, grid, dividends, optionFunction)) return 0;

    const double europeanLower = lattice::RootValue(trees[0], legs);
    const double europeanUpper = lattice::RootValue(trees[1], legs);
    const double americanLower = lattice::RootValue(trees[2], legs);
    const double americanUpper = lattice::RootValue(trees[3], legs);
    const double DA = (americanUpper - americanLower) / (2 * bumpSize);
    const double DE = (europeanUpper - europeanLower) / (2 * bumpSize);

    double d1 = 0, d2 = 0;
    double closedForm = 0;
    if (ComputeD1D2(BSGen, d1, d2, assetPrice, strikePrice, interestRate, yieldRate, timeExpire, timeExpire,
                    volatility)) {
        closedForm = GeneralizedBlackScholes(BSGen, European, optionType, optionFunction, assetPrice, strikePrice,
                                             timeExpire, timeExpire, volatility, interestRate, yieldRate, dividendPV,
                                             0, d1, d2, errorCode);
    }
    double result = 0;
    switch (optionFunction) {
        case Rho: return (DA - DE) * 0.01 + closedForm;
        case Psi: return -(DA - DE) * 0.01 + closedForm;
        case Vega: result = (DA - DE) * 0.01 + closedForm; break;
        default: result = (DA - DE) + closedForm; break;  // StrikeSensitivity
    }
    // The closed-form value enters even when d1/d2 failed (with d1 = d2 = 0).
    value = (americanLower + americanUpper) * 0.5 - (europeanLower + europeanUpper) * 0.5 +
            GeneralizedBlackScholes(BSGen, European, optionType, Theoretical, assetPrice, strikePrice, timeExpire,
                                    timeExpire, volatility, interestRate, yieldRate, dividendPV, 0, d1, d2,
                                    errorCode);
    derivative = optionFunction == Vega ? result * 100 : result;
    return result;
}

double CrrFuturesRho(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                     std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                     double volatility, double interestRate, double yieldRate, double dividendAmount,
                     double timeExDividend, double dividendFrequency, std::int32_t dividendCount, double bumpSize,
                     double assetPriceDown, double assetPriceUp, double yieldRateDown, double yieldRateUp) noexcept {
    if (!lattice::StepsFitArrays(iterations)) return 0;
    const double r = interestRate;
    const double h = bumpSize;
    const lattice::TreeGrid grid = lattice::MakeGrid(timeExpire, iterations, volatility);
    const double dt = grid.dt;
    const PassGrid pass{dt, lattice::InRangeCount(grid.log10u, iterations)};
    double up[kNodeCapacity];
    double down[kNodeCapacity];
    lattice::TabulatePowers(grid.u, grid.d, iterations, pass.inRange, up, down);

    // A and B move the rate with everything that depends on it; C and D move
    // only the carry. Each pair's first lattice is the guarded one.
    const bool rateBumpsDividends = optionFunction == Rho;
    const double S[4] = {assetPriceDown, assetPriceUp, assetPrice, assetPrice};
    const double disc[4] = {std::exp(-(r - h) * dt), std::exp(-(r + h) * dt), std::exp(-r * dt), std::exp(-r * dt)};
    const double b[4] = {(r - yieldRateDown) - h, (r - yieldRateUp) + h, (r - yieldRate) - h, (r - yieldRate) + h};
    const double dividendRate[4] = {r - h, r + h, r - h, r + h};
    Lattice trees[4];
    for (int k = 0; k < 4; ++k) {
        trees[k].S = S[k];
        trees[k].strike = strikePrice;
        trees[k].p = lattice::UpProbability(b[k], dt, grid.u, grid.d, grid.degenerate);
        trees[k].disc = disc[k];
        trees[k].dividendRate = rateBumpsDividends ? dividendRate[k] : r;
        trees[k].american = exerciseType == American;
        trees[k].up = up;
        trees[k].down = down;
    }
    const Legs legs = lattice::LegsOf(optionType);
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};
    if (!RunPlainTrees(trees, 4, legs, iterations, timeExpire, pass, dividends, optionFunction)) return 0;

    const double VA = lattice::RootValue(trees[0], legs);
    const double VB = lattice::RootValue(trees[1], legs);
    const double VC = lattice::RootValue(trees[2], legs);
    const double VD = lattice::RootValue(trees[3], legs);
    return 0.01 * ((VB - VA) / (2 * h) - (VD - VC) / (2 * h));
}

double CrrImpliedVolatility(std::int32_t exerciseType, std::int32_t optionType, std::int32_t iterations,
                            double assetPrice, double strikePrice, double timeExpire, double marketPrice,
                            double interestRate, double yieldRate, double dividendAmount, double timeExDividend,
                            double dividendFrequency, std::int32_t dividendCount, double dividendPV,
                            std::int32_t dividendStyle, double bumpSize, double assetPriceDown, double assetPriceUp,
                            double yieldRateDown, double yieldRateUp, std::int32_t& errorCode) {
    if (!(marketPrice > 0)) return 0;
    const double seedRate = interestRate >= 0.01 ? interestRate : 0.01;
    const double sigma =
        std::sqrt(std::fabs(std::log(assetPrice / strikePrice) + seedRate * timeExpire) * 2 / timeExpire);
    const auto admissible = [](double vol) { return vol > 0 && vol < 100; };
    if (!admissible(sigma)) return 0;

    const auto evaluate = [&](std::int32_t steps, double vol, double& v, double& g) {
        if (dividendStyle < DiscreteControlVar) {
            CrrBumpedSensitivity(exerciseType, optionType, Vega, steps, assetPrice, strikePrice, timeExpire, vol,
                                 interestRate, yieldRate, dividendAmount, timeExDividend, dividendFrequency,
                                 dividendCount, v, g, bumpSize, assetPriceDown, assetPriceUp, yieldRateDown,
                                 yieldRateUp);
        } else {
            CrrControlVariateBumpedSensitivity(exerciseType, optionType, Vega, steps, assetPrice, strikePrice,
                                               timeExpire, vol, interestRate, yieldRate, dividendAmount,
                                               timeExDividend, dividendFrequency, dividendCount, v, g, dividendPV,
                                               bumpSize, assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp,
                                               errorCode);
        }
    };
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};
    const auto workOf = [&](std::int32_t steps) {
        return SearchEvaluationWork(exerciseType, optionType, dividendStyle, steps, timeExpire, dividends);
    };
    return LatticeNewtonSearch(sigma, marketPrice, iterations, true, evaluate, admissible, workOf,
                               lattice::LatticeWorkLimit(dividendCount, false));
}

double CrrImpliedStrike(std::int32_t exerciseType, std::int32_t optionType, std::int32_t iterations,
                        double assetPrice, double strikePrice, double timeExpire, double volatility,
                        double marketPrice, double interestRate, double yieldRate, double dividendAmount,
                        double timeExDividend, double dividendFrequency, std::int32_t dividendCount,
                        double dividendPV, std::int32_t dividendStyle, double bumpSize, double assetPriceDown,
                        double assetPriceUp, double yieldRateDown, double yieldRateUp, std::int32_t& errorCode) {
    if (!(marketPrice > 0)) return 0;
    // A call's strike lies below the asset price by about its value, a put's
    // (and a straddle's) above it.
    double strike = optionType == CallOption ? assetPrice - marketPrice : assetPrice + marketPrice;
    if (!(strike > 0)) strike = strikePrice;
    const auto admissible = [](double K) { return K > 0; };
    if (!admissible(strike)) return 0;

    const auto evaluate = [&](std::int32_t steps, double K, double& v, double& g) {
        if (dividendStyle < DiscreteControlVar) {
            CrrBumpedSensitivity(exerciseType, optionType, StrikeSensitivity, steps, assetPrice, K, timeExpire,
                                 volatility, interestRate, yieldRate, dividendAmount, timeExDividend,
                                 dividendFrequency, dividendCount, v, g, bumpSize, assetPriceDown, assetPriceUp,
                                 yieldRateDown, yieldRateUp);
        } else {
            CrrControlVariateBumpedSensitivity(exerciseType, optionType, StrikeSensitivity, steps, assetPrice, K,
                                               timeExpire, volatility, interestRate, yieldRate, dividendAmount,
                                               timeExDividend, dividendFrequency, dividendCount, v, g, dividendPV,
                                               bumpSize, assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp,
                                               errorCode);
        }
    };
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};
    const auto workOf = [&](std::int32_t steps) {
        return SearchEvaluationWork(exerciseType, optionType, dividendStyle, steps, timeExpire, dividends);
    };
    return LatticeNewtonSearch(strike, marketPrice, iterations, false, evaluate, admissible, workOf,
                               lattice::LatticeWorkLimit(dividendCount, false));
}

double CrrValuationWork(std::int32_t exerciseType, std::int32_t optionType, std::int32_t iterations,
                        double timeExpire, double dividendAmount, double timeExDividend, double dividendFrequency,
                        std::int32_t dividendCount, std::int32_t dividendStyle) noexcept {
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};
    return SearchEvaluationWork(exerciseType, optionType, dividendStyle, iterations, timeExpire, dividends);
}

}  // namespace kestrix
