// The bound on one call's time: the faster dividend loops must give the bits
// the straightforward ones gave, the work counts must be exact, and work
// beyond the limit must not be started.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PseudoAmerican.h"
#include "core/WorkLimits.h"
#include "launch/PlainOptionLaunch.h"
#include "lattice/CRRBinomial.h"
#include "lattice/LatticeEngine.h"

namespace kestrix {
namespace {

bool SameBits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

// ---------------------------------------------------------------------------
// The launcher's dividend step as it was first written: four discount
// factors per date, whatever the rates. Kept as the reference.

void ReferenceBumpPoints(double x, double step, double& down, double& up, double& up2) {
    down = x - step > 0 ? x - step : x;
    up = x + step;
    up2 = x + 2 * step;
}

void ReferenceAdjust(std::int32_t modelNumber, std::int32_t optionFunction, double& assetPrice, double T, double r,
                     double& yieldRate, double& dividendAmount, double t1, double f, std::int32_t dividendStyle,
                     PreparedInputs& p) {
    const double h = p.BumpSize;
    const double S0 = assetPrice;
    const double D = dividendAmount;
    double start[4] = {S0, S0, S0, S0};
    double times[4] = {T, T, T, T};
    switch (optionFunction) {
        case Delta:
        case Lambda: ReferenceBumpPoints(S0, h, start[1], start[2], start[3]); break;
        case Gamma: ReferenceBumpPoints(S0, p.GammaBumpSize, start[1], start[2], start[3]); break;
        case Theta: ReferenceBumpPoints(T, h, times[1], times[2], times[3]); break;
        default: break;
    }
    p.YieldRateDown = p.YieldRateUp = p.YieldRateUp2 = yieldRate;
    p.DividendsIgnored = false;
    const bool rateBumped = optionFunction == Rho || (optionFunction == Psi && modelNumber == RGWCall);
    const double rates[4] = {r, rateBumped ? r - h : r, rateBumped ? r + h : r, rateBumped ? r + 2 * h : r};
    double pv[4] = {0, 0, 0, 0};
    const auto addPayment = [&](double t) {
        for (int k = 0; k < 4; ++k) pv[k] += D * std::exp(-rates[k] * t);
    };
    std::int32_t count = 1;
    bool stopped = false;
    if (t1 > T) {
        dividendAmount = 0;
    } else if (f == 0 || t1 + f > T || (T - t1) / f >= 1e8) {
        if (modelNumber == RGWCall) {
            count = 0;
        } else {
            addPayment(t1);
        }
    } else {
        auto n = static_cast<std::int32_t>(std::floor((T - t1) / f));
        if (modelNumber == RGWCall) --n;
        for (std::int32_t i = 0; i <= n; ++i) {
            if (!(S0 - pv[0] > 0)) {
                stopped = true;
                break;
            }
            addPayment(t1 + i * f);
        }
        count = n + 1;
    }
    if (stopped || pv[0] >= S0) {
        p.DividendPV = 0;
        p.DividendCount = 1;
        p.DividendsIgnored = true;
        p.AssetPriceDown = p.AssetPriceUp = p.AssetPriceUp2 = S0;
        p.YieldRateDown = p.YieldRateUp = p.YieldRateUp2 = yieldRate;
        assetPrice = S0;
        dividendAmount = 0;
        return;
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
}

struct Schedule {
    double S, T, r, D, t1, f;
};

TEST(CallBounds, DividendStepGivesTheStraightforwardLoopsBits) {
    const Schedule schedules[] = {
        {100, 1, 0.05, 2, 0.5, 0},              // one date (frequency 0)
        {100, 1, 0.05, 0.5, 0.25, 0.25},        // quarterly, the last on expiry
        {100, 1, 0.05, 2, 1.5, 0.25},           // first date after expiry
        {100, 30, 3, 0.01, 1e-3, 1e-3},         // 30000 dates at a high rate
        {10, 1, 0.05, 4, 0.1, 0.1},             // worth more than the asset: dropped
        {1e-3, 1, 1e-7, 1e-4, 0.01, 0.01},      // the loop stops part way
        {100, 1, 1e-7, 1e-6, 1e-4, 1e-4},       // 10000 dates at the rate floor
        {5e-6, 0.5, 0.05, 1e-7, 0.1, 0.05},     // a tiny asset price
        {100, 1e4, 0.02, 1e-6, 0.5, 0.75},      // a long expiry
        {100, 1, 1e30, 3, 0.2, 0.2},            // an enormous rate
        {100, 1e3, 5, 0.01, 0.5, 1e-2},         // discount factors vanish after 150 of 1000 years
        {100, 1, 1e30, std::numeric_limits<double>::infinity(), 0.2, 0.2},  // infinite payments, vanished discounts
        {100, 2e3, 0.5, 1e-300, 0.1, 0.1},      // payments underflow long before the discount factors
        {100, 1e3, 1e-7, 1e-3, 0.5, 0.5},       // a bumped rate at or below 0 (Rho): factors above 1
    };
    const std::int32_t models[] = {BSGen, CRRBinomial, RGWCall, PseudoAmericanModel, Whaleys};
    const std::int32_t functions[] = {Theoretical, Delta, Gamma, Theta, Rho, Psi, Lambda, ImpliedVol};
    int compared = 0;
    for (const Schedule& s : schedules) {
        for (const std::int32_t model : models) {
            for (const std::int32_t function : functions) {
                for (const std::int32_t style : {0, 1, 2, 3}) {
                    double S = s.S, q = 0.01, D = s.D;
                    PreparedInputs p;
                    ASSERT_TRUE(AdjustDiscreteDividends(model, function, S, s.T, s.r, q, D, s.t1, s.f, style, p));
                    double refS = s.S, refQ = 0.01, refD = s.D;
                    PreparedInputs ref;
                    ReferenceAdjust(model, function, refS, s.T, s.r, refQ, refD, s.t1, s.f, style, ref);
                    const double got[] = {S, q, D, p.DividendPV, p.AssetPriceDown, p.AssetPriceUp, p.AssetPriceUp2,
                                          p.YieldRateDown, p.YieldRateUp, p.YieldRateUp2};
                    const double want[] = {refS, refQ, refD, ref.DividendPV, ref.AssetPriceDown, ref.AssetPriceUp,
                                           ref.AssetPriceUp2, ref.YieldRateDown, ref.YieldRateUp, ref.YieldRateUp2};
                    for (std::size_t k = 0; k < std::size(got); ++k) {
                        EXPECT_TRUE(SameBits(got[k], want[k]))
                            << "value " << k << " of S=" << s.S << " T=" << s.T << " D=" << s.D << " t1=" << s.t1
                            << " f=" << s.f << " model " << model << " function " << function << " style " << style
                            << ": " << got[k] << " instead of " << want[k];
                    }
                    EXPECT_EQ(p.DividendCount, ref.DividendCount);
                    EXPECT_EQ(p.DividendsIgnored, ref.DividendsIgnored);
                    ++compared;
                }
            }
        }
    }
    EXPECT_EQ(compared, 14 * 5 * 8 * 4);
}

// ---------------------------------------------------------------------------
// Lattice dividends.

using lattice::DividendSchedule;
using lattice::Lattice;

// The walk NodeDividendPV makes, counting its terms.
double ReferenceTerms(const DividendSchedule& d, int top, int originLevel, double dt) {
    double terms = 0;
    for (int level = top - 1; level >= 0; --level) {
        const double t = (level - originLevel) * dt;
        for (std::int32_t k = d.count; k >= 1; --k) {
            if (d.firstTime + (k - 1) * d.frequency - t < -1e-17) break;
            ++terms;
        }
    }
    return terms;
}

const DividendSchedule kSchedules[] = {
    {1, 0.25, 0.25, 4},        // quarterly, dates on level times of a 4- or 8-step tree
    {0.5, 0.1, 0.3, 3},
    {2, 0.5, 0, 2},            // frequency 0: the same date twice
    {1e-3, 1e-3, 1e-3, 1000},  // dates falling between and on level times
    {1, 2, 1, 1},              // a date after expiry
    {1, 0.3, std::numeric_limits<double>::infinity(), 1},
    {1, 1e-9, 1e-9, 5000},
};

TEST(CallBounds, DividendTermsAreTheWalksOwnCount) {
    for (const DividendSchedule& d : kSchedules) {
        for (const int steps : {4, 5, 8, 50, 333}) {
            for (const int origin : {0, 2}) {
                const int top = steps + origin;
                const double dt = 1.0 / steps;
                EXPECT_EQ(lattice::DividendTerms(d, top, origin, dt), ReferenceTerms(d, top, origin, dt))
                    << "count " << d.count << " first " << d.firstTime << " steps " << steps << " origin " << origin;
            }
        }
    }
}

TEST(CallBounds, LatticesSharingARateShareTheWalkBitForBit) {
    const double r = 0.05, h = 1e-5;
    // The rate layouts of the passes: one lattice; a pair on one rate (Vega,
    // the control variate); a Rho pair; the futures Rho's four lattices.
    const std::vector<std::vector<double>> layouts = {{r}, {r, r}, {r - h, r + h}, {r - h, r + h, r - h, r + h},
                                                      {r, r, r, r}, {-0.0, 0.0, r, 1e30}};
    for (const DividendSchedule& d : kSchedules) {
        for (const auto& rates : layouts) {
            for (unsigned american = 0; american < (1u << rates.size()); ++american) {
                for (const double t : {-0.5, 0.0, 0.1, 0.25, 0.999, 1.0}) {
                    for (const bool nodeDividends : {true, false}) {
                        Lattice lattices[lattice::kMaxPassLattices]{};
                        const int count = static_cast<int>(rates.size());
                        for (int k = 0; k < count; ++k) {
                            lattices[k].strike = 100 + k;
                            lattices[k].dividendRate = rates[static_cast<std::size_t>(k)];
                            lattices[k].american = ((american >> k) & 1u) != 0;
                        }
                        lattice::LevelOffsets(lattices, count, t, d, nodeDividends);
                        int walks = 0;
                        for (int k = 0; k < count; ++k) {
                            double want = -lattices[k].strike;
                            if (lattices[k].american && nodeDividends) {
                                want = NodeDividendPV(t, lattices[k].dividendRate, d.amount, d.firstTime,
                                                      d.frequency, d.count) -
                                       lattices[k].strike;
                            }
                            EXPECT_TRUE(SameBits(lattices[k].offset, want)) << lattices[k].offset << " " << want;
                            bool seen = false;
                            for (int j = 0; j < k; ++j) {
                                seen |= lattices[j].american && lattices[k].american &&
                                        SameBits(lattices[j].dividendRate, lattices[k].dividendRate);
                            }
                            walks += lattices[k].american && !seen ? 1 : 0;
                        }
                        EXPECT_EQ(lattice::DividendWalksPerLevel(lattices, count), walks);
                    }
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The limit.

TEST(CallBounds, APassBeyondItsLimitIsNotStarted) {
    const lattice::Legs legs = lattice::LegsOf(Straddle);
    const DividendSchedule dividends{0.5, 0.1, 0.1, 9};
    constexpr int kSteps = 10;
    const lattice::TreeGrid grid = lattice::MakeGrid(1, kSteps, 0.3);
    double up[lattice::kNodeCapacity], down[lattice::kNodeCapacity];
    const int inRange = lattice::InRangeCount(grid.log10u, kSteps);
    lattice::TabulatePowers(grid.u, grid.d, kSteps, inRange, up, down);
    const auto run = [&](double limit) {
        Lattice pair[2]{};
        for (Lattice& l : pair) {
            l.S = 100;
            l.strike = 100;
            l.p = lattice::UpProbability(0.05, grid.dt, grid.u, grid.d, grid.degenerate);
            l.disc = std::exp(-0.05 * grid.dt);
            l.dividendRate = 0.05;
            l.american = true;
            l.up = up;
            l.down = down;
            lattice::FillExpiry(l, legs, kSteps, inRange, 0);
        }
        const bool ran =
            lattice::RollBackTree(pair, 2, 2, legs, kSteps, 0, grid.dt, inRange, dividends, nullptr, limit);
        return ran ? lattice::RootValue(pair[0], legs) : -1.0;
    };
    // Two lattices, two legs, levels 0..9; one walk per level (one rate).
    const double work = lattice::RollBackWork(2, 2, kSteps, 0, grid.dt, dividends, 1);
    EXPECT_EQ(work, 2 * 2 * 55 * kNodeWork + lattice::DividendTerms(dividends, kSteps, 0, grid.dt) * kNodeDividendWork);
    const double value = run(work);
    EXPECT_GT(value, 0);
    EXPECT_EQ(run(kCallWorkLimit), value);
    EXPECT_EQ(run(std::nextafter(work, 0.0)), -1.0);
}

// The longest schedule the launcher hands on (1e8 dates within a year).
struct LongSchedule {
    double D = 1e-9, t1 = 1e-8, f = 1.0000001e-8;
    std::int32_t count = 99999991;
};

double LatticeWithDates(std::int32_t exercise, std::int32_t function, std::int32_t style, std::int32_t count,
                        std::int32_t steps = 500, double strike = 100) {
    const LongSchedule s;
    return CrrBinomial(exercise, PutOption, function, steps, 99.9, strike, 1, 0.25, 0.05, 0, s.D, s.t1, s.f, count, 0.1,
                       10, style, 1e-5, 99.9, 99.9, 0, 0, ErrorCode);
}

TEST(CallBounds, LatticeDoesNotWalkASchedulePastTheLimit) {
    const LongSchedule s;
    // Walked at every level of every pass: answered 0 without computing.
    for (const std::int32_t function : {Theoretical, Delta, Vega, Rho, ImpliedVol, ImpliedStrike}) {
        for (const std::int32_t style : {DiscreteCashFlowBin, DiscreteControlVar}) {
            EXPECT_EQ(LatticeWithDates(American, function, style, s.count), 0.0) << function << " " << style;
            EXPECT_EQ(LatticeWithDates(American, function, style, s.count, 5), 0.0) << function << " " << style;
        }
    }
    // The same schedule is no work where it is not walked: a European plain
    // tree (the escrowed price carries the dividends) and the intrinsic value.
    EXPECT_GT(LatticeWithDates(European, Theoretical, DiscreteCashFlowBin, s.count), 0.0);
    EXPECT_EQ(LatticeWithDates(American, IntrinsicValue, DiscreteCashFlowBin, s.count, 500, 110), 10.0);
    // A short schedule of the same dates is priced.
    EXPECT_GT(LatticeWithDates(American, Theoretical, DiscreteCashFlowBin, 1000), 0.0);
    EXPECT_GT(LatticeWithDates(American, ImpliedVol, DiscreteControlVar, 1000), 0.0);
}

TEST(CallBounds, PseudoAmericanCallDoesNotWalkASchedulePastTheLimit) {
    const LongSchedule s;
    const auto price = [&](std::int32_t type, std::int32_t function, std::int32_t count, double strike = 100) {
        return PseudoAmericanApproximation(type, function, 99.9, strike, 1, 0.25, 0.05, 0, s.D, s.t1, s.f, 0.1, 10, 0.1,
                                           0.0, false, count, ErrorCode);
    };
    for (const std::int32_t function : {Theoretical, Delta, Lambda, Time_Value, ImpliedVol, ImpliedStrike}) {
        EXPECT_EQ(price(CallOption, function, s.count), 0.0) << function;
        EXPECT_EQ(price(Straddle, function, s.count), 0.0) << function;
        EXPECT_NE(price(CallOption, function, 1000), 0.0) << function;
    }
    // The put leg walks nothing; the intrinsic value neither.
    EXPECT_GT(price(PutOption, Theoretical, s.count), 0.0);
    EXPECT_EQ(price(CallOption, IntrinsicValue, s.count, 90), 10.0);
    // An unknown function is still reported as such.
    ErrorCode = 0;
    EXPECT_THROW(price(CallOption, 14, s.count), PricingFailure);
    EXPECT_EQ(ErrorCode, static_cast<std::int32_t>(enumOErrCodes::OptionFunctionErr));
    ErrorCode = 0;
}

}  // namespace
}  // namespace kestrix
