// The hot paths of the lattice and the two American approximations against
// the straightforward forms they replace: the same inputs must give the same
// bits (or the same failure), on ordinary and extreme inputs alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/OptionStatistics.h"
#include "core/PlainOptions.h"
#include "lattice/CRRBinomial.h"
#include "lattice/LatticeEngine.h"

namespace kestrix {
namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A value, or the failure raised instead.
struct Outcome {
    double value = 0;
    bool failed = false;
};

template <typename F>
Outcome Capture(F&& f) {
    try {
        return Outcome{f(), false};
    } catch (const PricingFailure&) {
        return Outcome{0, true};
    }
}

void ExpectSame(const Outcome& got, const Outcome& want) {
    EXPECT_EQ(got.failed, want.failed);
    if (!got.failed && !want.failed) {
        EXPECT_TRUE(SameBits(got.value, want.value)) << got.value << " vs " << want.value;
    }
}

// --- The lattice: backward induction one node at a time, each exercise price
// taken as S * up[j] * down[i - j], the guard's verdict from a group's first
// lattice.

bool ReferenceRollBack(std::vector<lattice::Lattice>& trees, int groupSize, const lattice::Legs& legs, int top,
                       int originLevel, double dt, int inRange, const lattice::DividendSchedule& dividends) {
    const bool nodeDividends = dividends.amount > 0 && dividends.count >= 1;
    const int count = static_cast<int>(trees.size());
    for (int level = top - 1; level >= 0; --level) {
        const double t = (level - originLevel) * dt;
        for (int first = 0; first < count; first += groupSize) {
            for (int leg = 0; leg < legs.count; ++leg) {
                bool stop = false;
                for (int j = 0; j <= level; ++j) {
                    double c[2] = {0, 0};
                    for (int g = 0; g < groupSize; ++g) {
                        const lattice::Lattice& L = trees[first + g];
                        c[g] = ((1 - L.p) * L.values[leg][j] + L.p * L.values[leg][j + 1]) * L.disc;
                    }
                    const double magnitude = std::fabs(c[0]);
                    if (magnitude > 1e20) stop = true;
                    if (magnitude < 1e-200 && magnitude > 0) c[0] = c[1] = 0;
                    for (int g = 0; g < groupSize; ++g) {
                        lattice::Lattice& L = trees[first + g];
                        double value = c[g];
                        if (L.american) {
                            double offset = -L.strike;
                            if (nodeDividends) {
                                offset = NodeDividendPV(t, L.dividendRate, dividends.amount, dividends.firstTime,
                                                        dividends.frequency, dividends.count) -
                                         L.strike;
                            }
                            const double exercise =
                                j < inRange ? legs.sign[leg] * (L.S * L.up[j] * L.down[level - j] + offset) : 0.0;
                            value = std::max(c[g], exercise);
                        }
                        L.values[leg][j] = value;
                    }
                }
                if (stop) return false;
            }
        }
    }
    return true;
}

struct TreeCase {
    double S, X, T, sigma, r, q;
    int steps;
    std::int32_t optionType;
    unsigned american;  // bit k: tree k exercises early
    int groupSize;      // 1: one tree; 2: a guarded pair, the second tree bumped
    double dividend;    // cash amount at T / 3 and every T / 4 after (none when 0)
};

TEST(ReferenceParity, LatticeNodeLoopsMatchTheOneNodeReference) {
    const TreeCase cases[] = {
        {100, 100, 0.75, 0.25, 0.05, 0.01, 500, PutOption, 1, 1, 0},       // the benchmark's put
        {100, 100, 0.75, 0.25, 0.05, 0.01, 499, CallOption, 1, 1, 0},
        {100, 110, 1, 0.3, 0.06, 0.02, 101, Straddle, 1, 1, 0},
        {100, 90, 2, 0.4, 0.03, 0.08, 7, PutOption, 0, 1, 0},
        {100, 100, 1, 0.3, 0.05, 0.0, 2, PutOption, 1, 1, 0},
        {100, 100, 1, 0.3, 0.05, 0.0, 3, PutOption, 1, 1, 0},
        {100, 100, 1, 0.3, 0.05, 0.0, 5, CallOption, 1, 1, 0},
        {100, 100, 1, 0.3, 0.05, 0.0, 6, Straddle, 1, 1, 0},
        {100, 100, 1, 0.2, 0.05, 0.02, 100, PutOption, 1, 1, 2},           // cash dividends in the exercise test
        {100, 100, 1, 0.2, 0.05, 0.02, 250, Straddle, 3, 2, 2},
        {100, 100, 1, 0.2, 0.05, 0.02, 120, PutOption, 2, 2, 0},           // the control variate's pair
        {100, 100, 1, 0.2, 0.05, 0.02, 121, CallOption, 0, 2, 0},
        {100, 100, 1, 0.2, 0.05, 0.02, 122, PutOption, 1, 2, 0},
        {100, 100, 1, 0.2, 0.05, 0.02, 123, Straddle, 3, 2, 0},
        {100, 100, 100, 20, 0.05, 0.0, 50, CallOption, 1, 1, 0},           // beyond the overflow cut
        {100, 100, 100, 20, 0.05, 0.0, 51, PutOption, 3, 2, 0},
        {100, 100, 1, 200, 0.05, 0.0, 9, PutOption, 1, 1, 0},             // degenerate factors
        {1e25, 1, 1, 0.3, 0.05, 0.0, 40, CallOption, 1, 1, 0},             // the guard stops
        {1e25, 1, 1, 0.3, 0.05, 0.0, 41, Straddle, 3, 2, 0},
        {1e-199, 1e-199, 5, 0.5, 0.5, 0.0, 60, PutOption, 1, 1, 0},        // the guard flushes
        {1e-199, 2e-199, 5, 0.5, 0.5, 0.0, 61, Straddle, 3, 2, 0},
        {100, 100, 1, 0.05, 0.05, 3, 30, CallOption, 1, 1, 0},             // up probability below 0
        {100, 100, 1, 0.05, 3, 0.0, 31, PutOption, 1, 1, 0},               // and above 1
        {100, 100, 1, 0.3, 0.05, 0.0, 64, PutOption, 1, 1, 0},             // payoffs of -0 at the strike
        {0, 100, 1, 0.3, 0.05, 0.0, 33, PutOption, 1, 1, 0},
        {100, 0, 1, 0.3, 0.05, 0.0, 34, CallOption, 1, 1, 0},
        {100, 100, 1, 0.3, NAN, 0.0, 35, PutOption, 1, 1, 0},
        {INFINITY, 100, 1, 0.3, 0.05, 0.0, 36, CallOption, 1, 1, 0},
    };
    const lattice::NodeLoop loops[] = {lattice::NodeLoop::Widest, lattice::NodeLoop::Pairs,
                                       lattice::NodeLoop::OneNode};
    for (const TreeCase& tc : cases) {
        SCOPED_TRACE(testing::Message() << "S " << tc.S << " X " << tc.X << " sigma " << tc.sigma << " steps "
                                        << tc.steps << " type " << tc.optionType << " group " << tc.groupSize);
        const lattice::Legs legs = lattice::LegsOf(tc.optionType);
        const int top = tc.steps;
        const lattice::TreeGrid grid = lattice::MakeGrid(tc.T, tc.steps, tc.sigma);
        const int inRange = lattice::InRangeCount(grid.log10u, top);
        // The second tree of a pair stands on bumped volatility, rate and price.
        const lattice::TreeGrid bumped = lattice::MakeGrid(tc.T, tc.steps, tc.sigma * 1.01);
        std::vector<double> up[2], down[2];
        for (int k = 0; k < 2; ++k) {
            up[k].assign(lattice::kNodeCapacity, 0);
            down[k].assign(lattice::kNodeCapacity, 0);
            const lattice::TreeGrid& g = k == 0 ? grid : bumped;
            lattice::TabulatePowers(g.u, g.d, top, inRange, up[k].data(), down[k].data());
        }
        const lattice::DividendSchedule dividends{tc.dividend, tc.T / 3, tc.T / 4, tc.dividend > 0 ? 3 : 0};
        std::vector<lattice::Lattice> start(static_cast<std::size_t>(tc.groupSize));
        for (int k = 0; k < tc.groupSize; ++k) {
            lattice::Lattice& L = start[static_cast<std::size_t>(k)];
            const double r = tc.r + 0.001 * k;
            const lattice::TreeGrid& g = k == 0 ? grid : bumped;
            L.S = tc.S * (1 + 0.01 * k);
            L.strike = tc.X;
            L.p = lattice::UpProbability(r - tc.q, g.dt, g.u, g.d, g.degenerate);
            L.disc = std::exp(-r * g.dt);
            L.dividendRate = r;
            L.american = ((tc.american >> k) & 1u) != 0;
            L.up = up[k].data();
            L.down = down[k].data();
            lattice::FillExpiry(L, legs, top, inRange, 0);
        }
        std::vector<lattice::Lattice> want = start;
        const bool wantDone = ReferenceRollBack(want, tc.groupSize, legs, top, 0, grid.dt, inRange, dividends);
        for (const lattice::NodeLoop loop : loops) {
            std::vector<lattice::Lattice> got = start;
            const bool gotDone = lattice::RollBackTree(got.data(), tc.groupSize, tc.groupSize, legs, top, 0, grid.dt,
                                                       inRange, dividends, nullptr,
                                                       std::numeric_limits<double>::infinity(), loop);
            EXPECT_EQ(gotDone, wantDone) << "loop " << static_cast<int>(loop);
            for (std::size_t k = 0; k < got.size(); ++k) {
                for (int leg = 0; leg < legs.count; ++leg) {
                    EXPECT_EQ(std::memcmp(got[k].values[leg], want[k].values[leg], sizeof got[k].values[leg]), 0)
                        << "loop " << static_cast<int>(loop) << " tree " << k << " leg " << leg;
                }
            }
        }
    }
}

// --- Bjerksund-Stensland: the call value with its five phi terms taken one by one.

double ReferenceBjsEuropeanCall(double S, double X, double T, double s, double r, double b, double dividendPV) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(AmericanBS, d1, d2, S, X, r, r - b, T, T, s);
    return GbsValue(European, CallOption, S, X, T, T, s, r, r - b, d1, d2, dividendPV);
}

double ReferenceBjsCallValue(double S, double X, double T, double s, double r, double b, double dividendPV) {
    if (b >= r) return ReferenceBjsEuropeanCall(S, X, T, s, r, b, dividendPV);
    const double variance = s * s;
    const double beta =
        (0.5 - b / variance) + std::sqrt((b / variance - 0.5) * (b / variance - 0.5) + 2 * r / variance);
    const double bInfinity = beta / (beta - 1) * X;
    const double b0 = std::max(X, r / (r - b) * X);
    const double ht = -(b * T + 2 * s * std::sqrt(T)) * b0 / (bInfinity - b0);
    bool overflow = false;
    double I = 0;
    if (ht >= 100) {
        overflow = true;
    } else {
        I = b0 + (bInfinity - b0) * (1 - std::exp(ht));
        if (std::isnan(I)) overflow = true;
    }
    double value = 0;
    if (!overflow && I > 0) {
        if (S >= I) return S - X;
        if ((beta < 0 && beta * std::log10(I) > 200) || (beta > 0 && beta * std::log10(S) > 200)) {
            overflow = true;
        } else {
            const double alpha = (I - X) * Power(I, -beta);
            const double phiBeta = BjsPhi(S, T, beta, I, I, r, b, s, overflow);
            const double phiOneI = BjsPhi(S, T, 1, I, I, r, b, s, overflow);
            const double phiOneX = BjsPhi(S, T, 1, X, I, r, b, s, overflow);
            const double phiZeroI = BjsPhi(S, T, 0, I, I, r, b, s, overflow);
            const double phiZeroX = BjsPhi(S, T, 0, X, I, r, b, s, overflow);
            value = alpha * Power(S, beta) - alpha * phiBeta + phiOneI - phiOneX - X * phiZeroI + X * phiZeroX;
        }
    }
    if (overflow || I < 0) {
        if (r <= 0) return 0;
        return std::max(ReferenceBjsEuropeanCall(S, X, T, s, r, b, dividendPV), 0.0);
    }
    if (I == 0) return 0;
    return value;
}

// --- Barone-Adesi-Whaley: the critical-price search re-pricing the European
// leg through ComputeD1D2 and GbsValue at every step.

double ReferenceBawCriticalPrice(std::int32_t optionType, double phi, double X, double T, double r, double b,
                                 double s) {
    const double variance = s * s;
    const double Nn = 2 * b / variance;
    const double M = 2 * r / variance;
    const double qu = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * M)) / 2;
    const double Su = X / (1 - 1 / qu);
    const double sqrtT = std::sqrt(T);
    const double hh = -phi * (b * T + 2 * phi * s * sqrtT) * X / (phi * (Su - X));
    if (hh > 20) return 0;
    double Si = phi > 0 ? X + (Su - X) * (1 - std::exp(hh)) : Su + (X - Su) * std::exp(hh);
    const double K = 1 - std::exp(-r * T);
    const double Q = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * M / K)) / 2;
    if (Q == 0) return 0;
    const auto usable = [](double price) { return std::isfinite(price) && price > 0; };
    if (!usable(Si)) return 0;
    const double carryDiscount = std::exp((b - r) * T);
    const double volTime = s * sqrtT;
    double lhs = 0, rhs = 0, bi = 0;
    const auto evaluateAt = [&](double price) {
        const double d1 = (std::log(price / X) + (b + variance / 2) * T) / volTime;
        lhs = phi * (price - X);
        double gd1 = 0, gd2 = 0;
        ComputeD1D2(Whaleys, gd1, gd2, price, X, r, r - b, T, T, s);
        const double european = GbsValue(European, optionType, price, X, T, T, s, r, r - b, gd1, gd2, 0);
        const double Nd1 = CumulativeNormal(phi * d1);
        rhs = european + phi * (1 - carryDiscount * Nd1) * price / Q;
        bi = phi * (1 - phi * carryDiscount * NormalDensity(phi * d1) / volTime) / Q +
             (1 - 1 / Q) * phi * carryDiscount * Nd1;
    };
    evaluateAt(Si);
    if (phi * bi == 1) return 0;
    for (int steps = 0;; ++steps) {
        const double gap = std::fabs(lhs - rhs) / X;
        if (std::isnan(gap)) return 0;
        if (gap <= 1e-6) return Si;
        if (steps == kMaxCriticalPriceSteps) return 0;
        Si = (phi * rhs + X - phi * bi * Si) / (1 - phi * bi);
        if (!usable(Si)) return 0;
        evaluateAt(Si);
    }
}

double ReferenceBawLegValue(std::int32_t optionType, double phi, double S, double X, double T, double s, double r,
                            double q) {
    const double b = r - q;
    double d1 = 0, d2 = 0;
    const bool haveD1D2 = ComputeD1D2(Whaleys, d1, d2, S, X, r, q, T, T, s);
    const double european = GbsValue(European, optionType, S, X, T, T, s, r, q, d1, d2, 0);
    if (b >= r && optionType == CallOption && haveD1D2) return european;

    double premium = 0;
    const double Sstar = ReferenceBawCriticalPrice(optionType, phi, X, T, r, b, s);
    if (Sstar != 0) {
        const double variance = s * s;
        const double Nn = 2 * b / variance;
        const double K = 1 - std::exp(-r * T);
        const double Mk = 2 * r / (variance * K);
        const double e1 = (std::log(Sstar / X) + (b + variance / 2) * T) / (s * std::sqrt(T));
        const double Q = (-(Nn - 1) + phi * std::sqrt((Nn - 1) * (Nn - 1) + 4 * Mk)) / 2;
        const double A = phi * (Sstar / Q) * (1 - std::exp((b - r) * T) * CumulativeNormal(phi * e1));
        const double ratio = S / Sstar;
        if (!((ratio < 1e-5 && Q < -5) || Q > 100 || Q < -100 || std::log(ratio) * Q > 200)) {
            premium = A * Power(ratio, Q);
        }
    }
    if (optionType == CallOption) {
        if (Sstar > 0 && S >= Sstar) return S - X;
        return european + premium;
    }
    if (S <= Sstar) return X - S;
    return european + premium;
}

// Every combination of a few ordinary and extreme values of each input.
template <typename F>
void ForEachInput(F&& f) {
    const double spots[] = {1e-17, 0.5, 80, 100, 125, 1e6, 1e150};
    const double strikes[] = {1e-9, 100, 3e4};
    const double expiries[] = {1e-7, 0.02, 0.5, 3, 60, 1e4};
    const double vols[] = {0.002, 0.08, 0.25, 1.5, 40};
    const double rates[] = {1e-7, 0.01, 0.05, 0.4, 5};
    const double yields[] = {-1, -0.02, 0, 0.03, 0.2, 7};
    for (const double S : spots)
        for (const double X : strikes)
            for (const double T : expiries)
                for (const double s : vols)
                    for (const double r : rates)
                        for (const double q : yields) f(S, X, T, s, r, q);
}

TEST(ReferenceParity, BjerksundStenslandCallMatchesThePhiByPhiReference) {
    ForEachInput([](double S, double X, double T, double s, double r, double q) {
        SCOPED_TRACE(testing::Message() << S << " " << X << " " << T << " " << s << " " << r << " " << q);
        // The call, and the put as the library forms it: asset and strike swapped, rate q, carry -b.
        ExpectSame(Capture([&] { return BjsCallValue(S, X, T, s, r, r - q, 0); }),
                   Capture([&] { return ReferenceBjsCallValue(S, X, T, s, r, r - q, 0); }));
        ExpectSame(Capture([&] { return BjsCallValue(X, S, T, s, q, -(r - q), 0); }),
                   Capture([&] { return ReferenceBjsCallValue(X, S, T, s, q, -(r - q), 0); }));
    });
    // A strike that is no price reaches the phi term on X only through a direct call.
    ExpectSame(Capture([] { return BjsCallValue(100, -5, 1, 0.3, 0.08, 0.01, 0); }),
               Capture([] { return ReferenceBjsCallValue(100, -5, 1, 0.3, 0.08, 0.01, 0); }));
}

TEST(ReferenceParity, QuadraticApproximationMatchesTheRepricingReference) {
    ForEachInput([](double S, double X, double T, double s, double r, double q) {
        SCOPED_TRACE(testing::Message() << S << " " << X << " " << T << " " << s << " " << r << " " << q);
        ExpectSame(Capture([&] { return BawLegValue(CallOption, 1, S, X, T, s, r, q, 0); }),
                   Capture([&] { return ReferenceBawLegValue(CallOption, 1, S, X, T, s, r, q); }));
        ExpectSame(Capture([&] { return BawLegValue(PutOption, -1, S, X, T, s, r, q, 0); }),
                   Capture([&] { return ReferenceBawLegValue(PutOption, -1, S, X, T, s, r, q); }));
    });
    // The search on its own, for every option type it accepts.
    for (const std::int32_t type : {CallOption, PutOption, Straddle}) {
        for (const double phi : {1.0, -1.0}) {
            ExpectSame(Capture([&] { return BawCriticalPrice(type, phi, 100, 0.5, 0.05, 0.02, 0.3, 0); }),
                       Capture([&] { return ReferenceBawCriticalPrice(type, phi, 100, 0.5, 0.05, 0.02, 0.3); }));
        }
    }
}

// The shortcuts the approximations take around the normal distribution and
// the power function: each must give CumulativeNormal's and Power's bits.
TEST(ReferenceParity, NormalPairAndPowerOfOneMatchTheDirectCalls) {
    const double points[] = {-40, -8.3, -1.96, -0.5, -1e-300, -0.0, 0.0, 1e-12, 0.3, 1, 2.5, 7.9, 38,
                             std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()};
    for (const double a : points) {
        for (const double b : points) {
            double Na = 0, Nb = 0;
            CumulativeNormalPair(a, b, Na, Nb);
            EXPECT_TRUE(SameBits(Na, CumulativeNormal(a))) << a;
            EXPECT_TRUE(SameBits(Nb, CumulativeNormal(b))) << b;
        }
    }
    // Phi terms on gamma = 1 take S itself for a positive normal S.
    const double bases[] = {std::numeric_limits<double>::min(), 1e-300, 1e-17, 0.1, 1, 3.7, 100, 1e150, 1e300,
                            std::numeric_limits<double>::max()};
    for (const double x : bases) {
        for (const double base : {x, std::nextafter(x, 0.0), std::nextafter(x, 2 * x)}) {
            if (!(base >= std::numeric_limits<double>::min()) || !std::isfinite(base)) continue;
            EXPECT_TRUE(SameBits(Power(base, 1), base)) << base;
        }
    }
}

}  // namespace
}  // namespace kestrix
