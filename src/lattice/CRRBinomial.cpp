#include "lattice/CRRBinomial.h"

#include <cmath>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "lattice/LatticeEngine.h"

namespace kestrix {

namespace {

using lattice::LegCapture;
using lattice::Legs;

constexpr long double kPerCalendarDay = 1.0L / 365;

bool IsTreeFunction(std::int32_t optionFunction) noexcept {
    switch (optionFunction) {
        case Theoretical:
        case Delta:
        case Gamma:
        case Theta:
        case Lambda:
        case Time_Value: return true;
        default: return false;
    }
}

// What the read-off needs besides the captured values.
struct TreeShape {
    double S;
    double u2;  // u^2 and d^2 from the power tables
    double d2;
    double dt;
    double S0;  // asset price before the dividend adjustment, for Lambda
};

// How a straddle's Lambda combines its legs: the plain tree takes the
// elasticity of the position, the control-variate trees add the legs'
// elasticities (tree E counts a leg as alive when its value is above 0,
// tree A when it differs from 0).
enum class LambdaRule { Plain, ControlVariateEuropean, ControlVariateAmerican };

double LegDelta(const LegCapture& c, const TreeShape& s) noexcept {
    return (c.v2[2] - c.v2[0]) / ((s.u2 - s.d2) * s.S);
}

double LegGamma(const LegCapture& c, const TreeShape& s) noexcept {
    return ((c.v2[2] - c.v2[1]) / (s.S * s.u2 - s.S) - (c.v2[1] - c.v2[0]) / (s.S - s.S * s.d2)) /
           ((s.u2 - s.d2) * s.S * 0.5);
}

// Over four steps centred on the valuation date at the constant price S.
double LegTheta(const LegCapture& c, const TreeShape& s) noexcept {
    return static_cast<double>((c.v4 - c.v0) / (4 * s.dt) * kPerCalendarDay);
}

double TreeLambda(const LegCapture* legCaptures, const Legs& legs, const TreeShape& s, LambdaRule rule) noexcept {
    if (legs.count == 1) {
        const double value = legCaptures[0].v2[1];
        return value > 0 ? LegDelta(legCaptures[0], s) * s.S0 / value : 0.0;
    }
    const double Vc = legCaptures[0].v2[1];
    const double Vp = legCaptures[1].v2[1];
    const double Dc = LegDelta(legCaptures[0], s);
    const double Dp = LegDelta(legCaptures[1], s);
    if (rule == LambdaRule::Plain) {
        if (Vc > 0 && Vp > 0) return s.S0 * (Dc + Dp) / (Vc + Vp);
        if (Vc == 0 && Vp > 0) return s.S0 * Dp / Vp;
        if (Vc > 0 && Vp == 0) return s.S0 * Dc / Vc;
        return 0;
    }
    const bool european = rule == LambdaRule::ControlVariateEuropean;
    const bool callAlive = european ? Vc > 0 : Vc != 0;
    const bool putAlive = european ? Vp > 0 : Vp != 0;
    if (callAlive && putAlive) return s.S0 * Dc / Vc + s.S0 * Dp / Vp;
    if (putAlive) return s.S0 * Dp / Vp;
    if (callAlive) return s.S0 * Dc / Vc;
    return 0;
}

// The asked function from one tree's capture points; a straddle adds its legs.
double ReadOff(std::int32_t optionFunction, const LegCapture* legCaptures, const Legs& legs, const TreeShape& s,
               LambdaRule rule, double intrinsic) noexcept {
    if (optionFunction == Lambda) return TreeLambda(legCaptures, legs, s, rule);
    double result = 0;
    for (int leg = 0; leg < legs.count; ++leg) {
        const LegCapture& c = legCaptures[leg];
        switch (optionFunction) {
            case Delta: result += LegDelta(c, s); break;
            case Gamma: result += LegGamma(c, s); break;
            case Theta: result += LegTheta(c, s); break;
            default: result += c.v2[1]; break;  // Theoretical, Time_Value
        }
    }
    return optionFunction == Time_Value ? result - intrinsic : result;
}

// Runs the extended tree (levels 0..n+2, valuation date at level 2) for one
// lattice exercised as `american` says, or for the control variate's pair of
// a European and an American tree sharing grid and payoffs. Returns false when
// the tree cannot be built or MagnitudeGuard stopped it (the result is then 0).
bool RunExtendedTree(bool controlVariate, bool american, std::int32_t steps, double S, double X, double T,
                     double sigma, double r, double q, const lattice::DividendSchedule& dividends, const Legs& legs,
                     LegCapture (*captures)[2], TreeShape& shape) noexcept {
    if (!lattice::StepsFitArrays(steps)) return false;
    const lattice::TreeGrid grid = lattice::MakeGrid(T, steps, sigma);
    const int top = steps + 2;
    double up[lattice::kNodeCapacity];
    double down[lattice::kNodeCapacity];
    const int inRange = lattice::InRangeCount(grid.log10u, top);
    lattice::TabulatePowers(grid.u, grid.d, top, inRange, up, down);
    const double expiryDividend =
        ExpiryDividend(dividends.amount, dividends.firstTime, dividends.frequency, dividends.count, T);

    const int count = controlVariate ? 2 : 1;
    lattice::Lattice trees[2];
    for (int k = 0; k < count; ++k) {
        lattice::Lattice& tree = trees[k];
        tree.S = S;
        tree.strike = X;
        tree.p = lattice::UpProbability(r - q, grid.dt, grid.u, grid.d, grid.degenerate);
        tree.disc = std::exp(-r * grid.dt);
        tree.dividendRate = r;
        // The control variate's second tree is the American one; its first,
        // European tree is the one MagnitudeGuard watches.
        tree.american = controlVariate ? k == 1 : american;
        tree.up = up;
        tree.down = down;
        lattice::FillExpiry(tree, legs, top, inRange, expiryDividend);
    }
    // The tree functions are not rate-bumped: the launcher discounted each date once.
    if (!lattice::RollBackTree(trees, count, count, legs, top, 2, grid.dt, inRange, dividends, captures,
                               lattice::LatticeWorkLimit(dividends.count, false))) {
        return false;
    }
    shape = TreeShape{S, up[2], down[2], grid.dt, S};
    return true;
}

}  // namespace

double CrrLattice(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                  std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire, double volatility,
                  double interestRate, double yieldRate, double dividendAmount, double timeExDividend,
                  double dividendFrequency, std::int32_t dividendCount, double dividendPV) noexcept {
    if (!IsTreeFunction(optionFunction)) return 0;
    const Legs legs = lattice::LegsOf(optionType);
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};
    LegCapture captures[1][2];
    TreeShape shape{};
    if (!RunExtendedTree(false, exerciseType == American, iterations, assetPrice, strikePrice, timeExpire,
                         volatility, interestRate, yieldRate, dividends, legs, captures, shape)) {
        return 0;
    }
    shape.S0 = assetPrice + dividendPV;
    const double intrinsic = IntrinsicPayoff(optionType, assetPrice, strikePrice, timeExpire, timeExpire, volatility,
                                             interestRate, yieldRate, dividendPV);
    return ReadOff(optionFunction, captures[0], legs, shape, LambdaRule::Plain, intrinsic);
}

double CrrControlVariateLattice(std::int32_t /*exerciseType*/, std::int32_t optionType, std::int32_t optionFunction,
                                std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                                double volatility, double interestRate, double yieldRate, double dividendAmount,
                                double timeExDividend, double dividendFrequency, std::int32_t dividendCount,
                                double dividendPV, std::int32_t& errorCode) {
    if (!IsTreeFunction(optionFunction)) return 0;
    const Legs legs = lattice::LegsOf(optionType);
    const lattice::DividendSchedule dividends{dividendAmount, timeExDividend, dividendFrequency, dividendCount};
    LegCapture captures[2][2];
    TreeShape shape{};
    if (!RunExtendedTree(true, true, iterations, assetPrice, strikePrice, timeExpire, volatility, interestRate,
                         yieldRate, dividends, legs, captures, shape)) {
        return 0;
    }
    shape.S0 = assetPrice + dividendPV;
    const double intrinsic = IntrinsicPayoff(optionType, assetPrice, strikePrice, timeExpire, timeExpire, volatility,
                                             interestRate, yieldRate, dividendPV);
    const double european =
        ReadOff(optionFunction, captures[0], legs, shape, LambdaRule::ControlVariateEuropean, intrinsic);
    const double american =
        ReadOff(optionFunction, captures[1], legs, shape, LambdaRule::ControlVariateAmerican, intrinsic);

    double closedForm = 0;
    double d1 = 0, d2 = 0;
    if (ComputeD1D2(BSGen, d1, d2, assetPrice, strikePrice, interestRate, yieldRate, timeExpire, timeExpire,
                    volatility)) {
        closedForm = GeneralizedBlackScholes(BSGen, European, optionType, optionFunction, assetPrice, strikePrice,
                                             timeExpire, timeExpire, volatility, interestRate, yieldRate, dividendPV,
                                             0, d1, d2, errorCode);
    }
    return american - european + closedForm;
}

double CrrBinomial(std::int32_t exerciseType, std::int32_t optionType, std::int32_t optionFunction,
                   std::int32_t iterations, double assetPrice, double strikePrice, double timeExpire,
                   double volatility, double interestRate, double yieldRate, double dividendAmount,
                   double timeExDividend, double dividendFrequency, std::int32_t dividendCount, double dividendPV,
                   double marketPrice, std::int32_t dividendStyle, double bumpSize, double assetPriceDown,
                   double assetPriceUp, double yieldRateDown, double yieldRateUp, std::int32_t& errorCode) {
    const bool controlVariate = dividendStyle >= DiscreteControlVar;
    switch (optionFunction) {
        case Theoretical:
        case Delta:
        case Gamma:
        case Theta:
        case Lambda:
        case Time_Value:
            if (controlVariate) {
                return CrrControlVariateLattice(exerciseType, optionType, optionFunction, iterations, assetPrice,
                                                strikePrice, timeExpire, volatility, interestRate, yieldRate,
                                                dividendAmount, timeExDividend, dividendFrequency, dividendCount,
                                                dividendPV, errorCode);
            }
            return CrrLattice(exerciseType, optionType, optionFunction, iterations, assetPrice, strikePrice,
                              timeExpire, volatility, interestRate, yieldRate, dividendAmount, timeExDividend,
                              dividendFrequency, dividendCount, dividendPV);
        case Vega:
        case Rho:
        case Psi:
        case StrikeSensitivity: {
            double value = 0, derivative = 0;  // only the implied searches read these
            if (controlVariate) {
                return CrrControlVariateBumpedSensitivity(
                    exerciseType, optionType, optionFunction, iterations, assetPrice, strikePrice, timeExpire,
                    volatility, interestRate, yieldRate, dividendAmount, timeExDividend, dividendFrequency,
                    dividendCount, value, derivative, dividendPV, bumpSize, assetPriceDown, assetPriceUp,
                    yieldRateDown, yieldRateUp, errorCode);
            }
            return CrrBumpedSensitivity(exerciseType, optionType, optionFunction, iterations, assetPrice,
                                        strikePrice, timeExpire, volatility, interestRate, yieldRate, dividendAmount,
                                        timeExDividend, dividendFrequency, dividendCount, value, derivative,
                                        bumpSize, assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp);
        }
        case IntrinsicValue:
            return IntrinsicPayoff(optionType, assetPrice, strikePrice, timeExpire, timeExpire, volatility,
                                   interestRate, yieldRate, dividendPV);
        case ImpliedVol:
            return CrrImpliedVolatility(exerciseType, optionType, iterations, assetPrice, strikePrice, timeExpire,
                                        marketPrice, interestRate, yieldRate, dividendAmount, timeExDividend,
                                        dividendFrequency, dividendCount, dividendPV, dividendStyle, bumpSize,
                                        assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp, errorCode);
        case ImpliedStrike:
            return CrrImpliedStrike(exerciseType, optionType, iterations, assetPrice, strikePrice, timeExpire,
                                    volatility, marketPrice, interestRate, yieldRate, dividendAmount, timeExDividend,
                                    dividendFrequency, dividendCount, dividendPV, dividendStyle, bumpSize,
                                    assetPriceDown, assetPriceUp, yieldRateDown, yieldRateUp, errorCode);
        default: RaiseError(errorCode, enumOErrCodes::OptionFunctionErr);
    }
}

}  // namespace kestrix
