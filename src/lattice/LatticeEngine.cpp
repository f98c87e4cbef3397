#include "lattice/LatticeEngine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "core/Enumerations.h"
#include "core/WorkLimits.h"
#include "lattice/CRRBinomial.h"

namespace kestrix {

double NodeDividendPV(double t, double rate, double dividendAmount, double timeExDividend,
                      double dividendFrequency, std::int32_t dividendCount) noexcept {
    double pv = 0;
    // Latest date first; a dividend paid at t itself (within 1e-17) is still to come.
    for (std::int32_t k = dividendCount; k >= 1; --k) {
        const double tk = timeExDividend + (k - 1) * dividendFrequency;
        if (tk - t < -1e-17) break;
        pv += dividendAmount * std::exp(-rate * (tk - t));
    }
    return pv;
}

double ExpiryDividend(double dividendAmount, double timeExDividend, double dividendFrequency,
                      std::int32_t dividendCount, double timeExpire) noexcept {
    // Exact comparison on purpose: only a schedule that lands on expiry counts.
    return (dividendCount - 1) * dividendFrequency + timeExDividend == timeExpire ? dividendAmount : 0.0;
}

namespace lattice {

namespace {

constexpr double kOverflowCut = 306;  // keeps u^j a hundredfold below the largest double
constexpr double kGuardCeiling = 1e20;
constexpr double kGuardFloor = 1e-200;

// MagnitudeGuard, split for a branch-free node loop. A continuation beyond
// 1e20 in magnitude stops the whole computation (the result is then 0 whatever
// was asked, so the level in progress may finish before the pass stops); a
// non-zero one below 1e-200 is flushed to 0. Magnitude comparisons stand in
// for log10(|c|) > 20 and < -200.
bool GuardFlushes(double magnitude) noexcept { return magnitude < kGuardFloor && magnitude > 0; }
bool GuardStops(double magnitude) noexcept { return magnitude > kGuardCeiling; }

// The parameters of a group's lattices, held in locals for the node loop.
template <int G>
struct GroupState {
    double* v[G];
    const double* up[G];
    const double* down[G];
    double p[G], q[G], disc[G], S[G], offset[G];
};

// One level of one leg for a group of G lattices: lattice 0 is the one
// MagnitudeGuard watches, and its verdict applies to the group; lattice g
// exercises early when bit g of `American` is set. Exercise flags are
// template parameters so that the node loops carry no branches.
template <int G, unsigned American>
bool RollBackLevel(Lattice* group, int leg, double sign, int level, int inRange) noexcept {
    GroupState<G> s;
    for (int g = 0; g < G; ++g) {
        s.v[g] = group[g].values[leg];
        s.up[g] = group[g].up;
        s.down[g] = group[g].down;
        s.p[g] = group[g].p;
        s.q[g] = 1 - group[g].p;
        s.disc[g] = group[g].disc;
        s.S[g] = group[g].S;
        s.offset[g] = group[g].offset;
    }
    bool stop = false;
    // Continuations of node j after the flush; notes a stop.
    const auto continuations = [&s, &stop](int j, double (&c)[G]) {
        for (int g = 0; g < G; ++g) c[g] = (s.q[g] * s.v[g][j] + s.p[g] * s.v[g][j + 1]) * s.disc[g];
        const double magnitude = std::fabs(c[0]);
        stop |= GuardStops(magnitude);
        const bool flush = GuardFlushes(magnitude);
        for (int g = 0; g < G; ++g) c[g] = flush ? 0.0 : c[g];
    };
    // Nodes below the overflow cut exercise at their price, those above it at 0.
    const int exercisable = std::min(level + 1, inRange);
    int j = 0;
    for (; j < exercisable; ++j) {
        double c[G];
        continuations(j, c);
        for (int g = 0; g < G; ++g) {
            if ((American >> g) & 1u) {
                const double exercise = sign * (s.S[g] * s.up[g][j] * s.down[g][level - j] + s.offset[g]);
                s.v[g][j] = std::max(c[g], exercise);
            } else {
                s.v[g][j] = c[g];
            }
        }
    }
    for (; j <= level; ++j) {
        double c[G];
        continuations(j, c);
        for (int g = 0; g < G; ++g) s.v[g][j] = (American >> g) & 1u ? std::max(c[g], 0.0) : c[g];
    }
    return !stop;
}

bool RollBackGroup(Lattice* group, int groupSize, int leg, double sign, int level, int inRange) noexcept {
    if (groupSize == 1) {
        return group[0].american ? RollBackLevel<1, 1>(group, leg, sign, level, inRange)
                                 : RollBackLevel<1, 0>(group, leg, sign, level, inRange);
    }
    switch ((group[0].american ? 1u : 0u) | (group[1].american ? 2u : 0u)) {
        case 0: return RollBackLevel<2, 0>(group, leg, sign, level, inRange);
        case 1: return RollBackLevel<2, 1>(group, leg, sign, level, inRange);
        case 2: return RollBackLevel<2, 2>(group, leg, sign, level, inRange);
        default: return RollBackLevel<2, 3>(group, leg, sign, level, inRange);
    }
}

}  // namespace

bool UpDownFactors(double sigma, double dt, double& u, double& d) noexcept {
    const double spread = sigma * std::sqrt(dt);
    if (spread >= 50) {
        u = 0.9999999;
        d = 1e-17;
        return true;
    }
    u = std::exp(spread);
    d = 1 / u;
    return false;
}

TreeGrid MakeGrid(double T, std::int32_t steps, double sigma) noexcept {
    TreeGrid grid{};
    grid.dt = T / steps;
    grid.degenerate = UpDownFactors(sigma, grid.dt, grid.u, grid.d);
    grid.log10u = grid.degenerate ? 0.0 : std::log10(grid.u);
    return grid;
}

double UpProbability(double b, double dt, double u, double d, bool degenerate) noexcept {
    if (b * dt >= 50 || degenerate) return 0;
    return (std::exp(b * dt) - d) / (u - d);
}

int InRangeCount(double log10u, int top) noexcept {
    int count = 0;
    while (count <= top && !(count * log10u > kOverflowCut)) ++count;
    return count;
}

void TabulatePowers(double u, double d, int top, int inRange, double* up, double* down) noexcept {
    for (int k = 0; k <= top; ++k) down[k] = std::pow(d, k);
    for (int j = 0; j < inRange; ++j) up[j] = std::pow(u, j);
}

Legs LegsOf(std::int32_t optionType) noexcept {
    if (optionType == CallOption) return Legs{1, {1.0, 0.0}};
    if (optionType == PutOption) return Legs{1, {-1.0, 0.0}};
    return Legs{2, {1.0, -1.0}};
}

void FillExpiry(Lattice& lattice, const Legs& legs, int top, int inRange, double expiryDividend) noexcept {
    const double expiryStrike = lattice.strike + expiryDividend;
    for (int leg = 0; leg < legs.count; ++leg) {
        double* v = lattice.values[leg];
        for (int j = 0; j <= top; ++j) {
            if (j < inRange) {
                const double price = lattice.S * lattice.up[j] * lattice.down[top - j];
                v[j] = std::max(legs.sign[leg] * (price - expiryStrike), 0.0);
            } else {
                v[j] = 0;
            }
        }
    }
}

namespace {

bool SameRate(double a, double b) noexcept {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// The schedule's walk for the dividends still to come at time t stops at the
// first date more than 1e-17 before t (NodeDividendPV). The dates rise with
// k, so the dates it stops at form a prefix 1..k; returns that prefix's
// length, found by bisection on the walk's own test.
std::int32_t PaidDates(const DividendSchedule& dividends, double t) noexcept {
    const auto paid = [&](std::int32_t k) {
        const double tk = dividends.firstTime + (k - 1) * dividends.frequency;
        return tk - t < -1e-17;
    };
    std::int32_t low = 0, high = dividends.count;  // paid(k) for k <= low, not for k > high
    while (low < high) {
        const std::int32_t mid = low + (high - low + 1) / 2;
        if (paid(mid)) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low;
}

}  // namespace

void LevelOffsets(Lattice* lattices, int count, double t, const DividendSchedule& dividends,
                  bool nodeDividends) noexcept {
    double rates[kMaxPassLattices];
    double values[kMaxPassLattices];
    int known = 0;
    for (int k = 0; k < count; ++k) {
        Lattice& lattice = lattices[k];
        lattice.offset = -lattice.strike;
        if (!(lattice.american && nodeDividends)) continue;
        int slot = 0;
        while (slot < known && !SameRate(rates[slot], lattice.dividendRate)) ++slot;
        if (slot == known) {
            rates[known] = lattice.dividendRate;
            values[known] = NodeDividendPV(t, lattice.dividendRate, dividends.amount, dividends.firstTime,
                                           dividends.frequency, dividends.count);
            ++known;
        }
        lattice.offset = values[slot] - lattice.strike;
    }
}

int DividendWalksPerLevel(const Lattice* lattices, int count) noexcept {
    int walks = 0;
    for (int k = 0; k < count; ++k) {
        if (!lattices[k].american) continue;
        bool seen = false;
        for (int j = 0; j < k; ++j) {
            seen |= lattices[j].american && SameRate(lattices[j].dividendRate, lattices[k].dividendRate);
        }
        if (!seen) ++walks;
    }
    return walks;
}

double DividendTerms(const DividendSchedule& dividends, int top, int originLevel, double dt) noexcept {
    if (dividends.count < 1) return 0;
    double terms = 0;
    for (int level = top - 1; level >= 0; --level) {
        const double t = (level - originLevel) * dt;
        terms += dividends.count - PaidDates(dividends, t);
    }
    return terms;
}

double RollBackWork(int count, int legs, int top, int originLevel, double dt, const DividendSchedule& dividends,
                    int dividendWalks) noexcept {
    // Level i updates i + 1 nodes per lattice and leg.
    const double nodes = static_cast<double>(count) * legs * (static_cast<double>(top) * (top + 1) / 2);
    const bool nodeDividends = dividends.amount > 0 && dividends.count >= 1;
    const double terms = nodeDividends && dividendWalks > 0
                             ? dividendWalks * DividendTerms(dividends, top, originLevel, dt)
                             : 0.0;
    return nodes * kNodeWork + terms * kNodeDividendWork;
}

double LatticeWorkLimit(std::int32_t dividendCount, bool rateBumped) noexcept {
    return kCallWorkLimit - ScheduleWork(dividendCount, rateBumped ? kBumpedDiscountRates : 1);
}

bool RollBackTree(Lattice* lattices, int count, int groupSize, const Legs& legs, int top, int originLevel,
                  double dt, int inRange, const DividendSchedule& dividends, LegCapture (*captures)[2],
                  double workLimit) noexcept {
    const bool nodeDividends = dividends.amount > 0 && dividends.count >= 1;
    // A long schedule is walked again at every level: a pass beyond the
    // call's work limit is not started (the lattice answers 0).
    const int walks = nodeDividends ? DividendWalksPerLevel(lattices, count) : 0;
    if (RollBackWork(count, legs.count, top, originLevel, dt, dividends, walks) > workLimit) return false;
    for (int level = top - 1; level >= 0; --level) {
        // The arrays hold level + 1 in full here: level 4 before level 3 is
        // processed, the valuation date (level 2) before level 1.
        if (captures != nullptr && (level == 3 || level == 1)) {
            for (int k = 0; k < count; ++k) {
                for (int leg = 0; leg < legs.count; ++leg) {
                    const double* v = lattices[k].values[leg];
                    LegCapture& capture = captures[k][leg];
                    if (level == 3) {
                        capture.v4 = v[2];
                    } else {
                        std::copy(v, v + 3, capture.v2);
                    }
                }
            }
        }
        LevelOffsets(lattices, count, (level - originLevel) * dt, dividends, nodeDividends);
        for (int first = 0; first < count; first += groupSize) {
            for (int leg = 0; leg < legs.count; ++leg) {
                if (!RollBackGroup(lattices + first, groupSize, leg, legs.sign[leg], level, inRange)) return false;
            }
        }
    }
    if (captures != nullptr) {
        for (int k = 0; k < count; ++k) {
            for (int leg = 0; leg < legs.count; ++leg) captures[k][leg].v0 = lattices[k].values[leg][0];
        }
    }
    return true;
}

double RootValue(const Lattice& lattice, const Legs& legs) noexcept {
    double value = lattice.values[0][0];
    if (legs.count == 2) value += lattice.values[1][0];
    return value;
}

}  // namespace lattice
}  // namespace kestrix
