#include "lattice/LatticeEngine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The four-lane node loop, chosen at run time; not on Windows, whose 64-bit
// ABI does not keep the stack aligned for 32-byte spills.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define KESTRIX_AVX_NODES 1
#include <immintrin.h>
#else
#define KESTRIX_AVX_NODES 0
#endif

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
    const double* assetUp[G];
    const double* downLevel[G];  // down[level - j] at j
    double p[G], q[G], disc[G], offset[G];
};

// The vector forms of the exercisable nodes of a level: each lane takes
// exactly the operations of the one-node form in RollBackLevel, so the values
// are bit for bit the same. Two details differ in form only: sign * x (sign
// is +1 or -1) becomes flipping the sign bit, which gives the same number and
// differs only in a NaN's sign, which max(c, NaN) never returns; and the stop
// test keeps the largest magnitude seen (NaNs skipped, as > skips them) and
// compares it once. maxpd(e, c) is std::max(c, e), NaNs and zeros included.
// Each returns the first node left to the one-node loop; reads v[j .. j + W]
// before writing v[j .. j + W - 1].
#if defined(__SSE2__)
template <int G, unsigned American>
int RollBackPairs(GroupState<G>& s, double sign, int exercisable, bool& stop) noexcept {
    // Everything in registers: stores to the node arrays could otherwise
    // alias the parameters and force a reload per pair.
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(INT64_MAX));
    const __m128d signFlip = _mm_and_pd(_mm_set1_pd(sign), _mm_castsi128_pd(_mm_set1_epi64x(INT64_MIN)));
    const __m128d floor = _mm_set1_pd(kGuardFloor);
    double* v[G];
    const double* assetUp[G];
    const double* downLevel[G];
    __m128d p[G], q[G], disc[G], offset[G];
    for (int g = 0; g < G; ++g) {
        v[g] = s.v[g];
        assetUp[g] = s.assetUp[g];
        downLevel[g] = s.downLevel[g];
        p[g] = _mm_set1_pd(s.p[g]);
        q[g] = _mm_set1_pd(s.q[g]);
        disc[g] = _mm_set1_pd(s.disc[g]);
        offset[g] = _mm_set1_pd(s.offset[g]);
    }
    __m128d largest = _mm_setzero_pd();
    int j = 0;
    for (; j + 1 < exercisable; j += 2) {
        __m128d c[G];
        for (int g = 0; g < G; ++g) {
            c[g] = _mm_mul_pd(_mm_add_pd(_mm_mul_pd(q[g], _mm_loadu_pd(v[g] + j)),
                                         _mm_mul_pd(p[g], _mm_loadu_pd(v[g] + j + 1))),
                              disc[g]);
        }
        const __m128d magnitude = _mm_and_pd(c[0], absMask);
        largest = _mm_max_pd(magnitude, largest);
        const __m128d flush = _mm_and_pd(_mm_cmplt_pd(magnitude, floor), _mm_cmpgt_pd(magnitude, _mm_setzero_pd()));
        for (int g = 0; g < G; ++g) {
            c[g] = _mm_andnot_pd(flush, c[g]);
            if ((American >> g) & 1u) {
                const __m128d price = _mm_mul_pd(_mm_loadu_pd(assetUp[g] + j), _mm_loadu_pd(downLevel[g] + j));
                const __m128d exercised = _mm_xor_pd(_mm_add_pd(price, offset[g]), signFlip);
                c[g] = _mm_max_pd(exercised, c[g]);
            }
            _mm_storeu_pd(v[g] + j, c[g]);
        }
    }
    stop |= _mm_movemask_pd(_mm_cmpgt_pd(largest, _mm_set1_pd(kGuardCeiling))) != 0;
    return j;
}
#endif

#if KESTRIX_AVX_NODES
template <int G, unsigned American>
[[gnu::target("avx")]] int RollBackQuads(GroupState<G>& s, double sign, int exercisable, bool& stop) noexcept {
    const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
    const __m256d signFlip = _mm256_and_pd(_mm256_set1_pd(sign), _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MIN)));
    const __m256d floor = _mm256_set1_pd(kGuardFloor);
    double* v[G];
    const double* assetUp[G];
    const double* downLevel[G];
    __m256d p[G], q[G], disc[G], offset[G];
    for (int g = 0; g < G; ++g) {
        v[g] = s.v[g];
        assetUp[g] = s.assetUp[g];
        downLevel[g] = s.downLevel[g];
        p[g] = _mm256_set1_pd(s.p[g]);
        q[g] = _mm256_set1_pd(s.q[g]);
        disc[g] = _mm256_set1_pd(s.disc[g]);
        offset[g] = _mm256_set1_pd(s.offset[g]);
    }
    __m256d largest = _mm256_setzero_pd();
    int j = 0;
    for (; j + 3 < exercisable; j += 4) {
        __m256d c[G];
        for (int g = 0; g < G; ++g) {
            c[g] = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(q[g], _mm256_loadu_pd(v[g] + j)),
                                               _mm256_mul_pd(p[g], _mm256_loadu_pd(v[g] + j + 1))),
                                 disc[g]);
        }
        const __m256d magnitude = _mm256_and_pd(c[0], absMask);
        largest = _mm256_max_pd(magnitude, largest);
        const __m256d flush = _mm256_and_pd(_mm256_cmp_pd(magnitude, floor, _CMP_LT_OQ),
                                            _mm256_cmp_pd(magnitude, _mm256_setzero_pd(), _CMP_GT_OQ));
        for (int g = 0; g < G; ++g) {
            c[g] = _mm256_andnot_pd(flush, c[g]);
            if ((American >> g) & 1u) {
                const __m256d price = _mm256_mul_pd(_mm256_loadu_pd(assetUp[g] + j), _mm256_loadu_pd(downLevel[g] + j));
                const __m256d exercised = _mm256_xor_pd(_mm256_add_pd(price, offset[g]), signFlip);
                c[g] = _mm256_max_pd(exercised, c[g]);
            }
            _mm256_storeu_pd(v[g] + j, c[g]);
        }
    }
    stop |= _mm256_movemask_pd(_mm256_cmp_pd(largest, _mm256_set1_pd(kGuardCeiling), _CMP_GT_OQ)) != 0;
    return j;
}

// Whether this processor runs the four-lane form (the runtime's own record,
// filled once at start-up; the call returns at once after that).
bool HaveAvx() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx") != 0;
}
#endif

// Runs the vector form `loop` asks for where this build and processor have
// it, else the next narrower one; returns 0 for the one-node loop alone.
template <int G, unsigned American>
int RollBackNodes(NodeLoop loop, GroupState<G>& s, double sign, int exercisable, bool& stop) noexcept {
#if KESTRIX_AVX_NODES
    if (loop == NodeLoop::Widest && HaveAvx()) return RollBackQuads<G, American>(s, sign, exercisable, stop);
#endif
#if defined(__SSE2__)
    if (loop != NodeLoop::OneNode) return RollBackPairs<G, American>(s, sign, exercisable, stop);
#endif
    static_cast<void>(loop), static_cast<void>(s), static_cast<void>(sign), static_cast<void>(exercisable),
        static_cast<void>(stop);
    return 0;
}

// One level of one leg for a group of G lattices: lattice 0 is the one
// MagnitudeGuard watches, and its verdict applies to the group; lattice g
// exercises early when bit g of `American` is set. Exercise flags are
// template parameters so that the node loops carry no branches.
template <int G, unsigned American>
bool RollBackLevel(NodeLoop loop, Lattice* group, int leg, double sign, int level, int top, int inRange) noexcept {
    GroupState<G> s;
    for (int g = 0; g < G; ++g) {
        s.v[g] = group[g].values[leg];
        s.assetUp[g] = group[g].assetUp;
        s.downLevel[g] = group[g].downReversed + (top - level);
        s.p[g] = group[g].p;
        s.q[g] = 1 - group[g].p;
        s.disc[g] = group[g].disc;
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
    const auto exercise = [&s, sign](int g, int j) {
        return sign * (s.assetUp[g][j] * s.downLevel[g][j] + s.offset[g]);
    };
    // Nodes below the overflow cut exercise at their price, those above it at 0.
    const int exercisable = std::min(level + 1, inRange);
    int j = RollBackNodes<G, American>(loop, s, sign, exercisable, stop);
    for (; j < exercisable; ++j) {
        double c[G];
        continuations(j, c);
        for (int g = 0; g < G; ++g) s.v[g][j] = (American >> g) & 1u ? std::max(c[g], exercise(g, j)) : c[g];
    }
    for (; j <= level; ++j) {
        double c[G];
        continuations(j, c);
        for (int g = 0; g < G; ++g) s.v[g][j] = (American >> g) & 1u ? std::max(c[g], 0.0) : c[g];
    }
    return !stop;
}

// The exercise tables of an American lattice for a tree of `top` levels.
void TabulateExercisePrices(Lattice& lattice, int top, int inRange) noexcept {
    for (int j = 0; j < inRange; ++j) lattice.assetUp[j] = lattice.S * lattice.up[j];
    for (int k = 0; k <= top; ++k) lattice.downReversed[k] = lattice.down[top - k];
}

bool RollBackGroup(NodeLoop loop, Lattice* group, int groupSize, int leg, double sign, int level, int top,
                   int inRange) noexcept {
    if (groupSize == 1) {
        return group[0].american ? RollBackLevel<1, 1>(loop, group, leg, sign, level, top, inRange)
                                 : RollBackLevel<1, 0>(loop, group, leg, sign, level, top, inRange);
    }
    switch ((group[0].american ? 1u : 0u) | (group[1].american ? 2u : 0u)) {
        case 0: return RollBackLevel<2, 0>(loop, group, leg, sign, level, top, inRange);
        case 1: return RollBackLevel<2, 1>(loop, group, leg, sign, level, top, inRange);
        case 2: return RollBackLevel<2, 2>(loop, group, leg, sign, level, top, inRange);
        default: return RollBackLevel<2, 3>(loop, group, leg, sign, level, top, inRange);
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
                  double workLimit, NodeLoop loop) noexcept {
    const bool nodeDividends = dividends.amount > 0 && dividends.count >= 1;
    // A long schedule is walked again at every level: a pass beyond the
    // call's work limit is not started (the lattice answers 0).
    const int walks = nodeDividends ? DividendWalksPerLevel(lattices, count) : 0;
    if (RollBackWork(count, legs.count, top, originLevel, dt, dividends, walks) > workLimit) return false;
    for (int k = 0; k < count; ++k) {
        if (lattices[k].american) TabulateExercisePrices(lattices[k], top, inRange);
    }
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
                if (!RollBackGroup(loop, lattices + first, groupSize, leg, legs.sign[leg], level, top, inRange)) return false;
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
