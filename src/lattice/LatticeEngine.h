// The machinery every Cox-Ross-Rubinstein lattice of the library shares: tree
// parameters, power tables, the overflow cut, terminal payoffs, MagnitudeGuard
// and backward induction with early exercise over one to four lattices that
// run side by side on the same grid. Internal to src/lattice.
#pragma once

#include <cstdint>

namespace kestrix::lattice {

// Entries per node array: the extended tree of n + 3 levels needs index n + 2.
inline constexpr int kNodeCapacity = 505;
inline constexpr std::int32_t kMaxSteps = kNodeCapacity - 3;

// Step counts the fixed arrays can hold. One step is too few for the extended
// tree (it needs a level two steps after the valuation date).
inline bool StepsFitArrays(std::int32_t steps) noexcept { return steps >= 2 && steps <= kMaxSteps; }

// dt, u, d and the overflow cut's log10(u) of one tree.
struct TreeGrid {
    double dt;
    double u;
    double d;
    double log10u;
    bool degenerate;  // sigma * sqrt(dt) >= 50: substitute factors, p = 0
};

// Up and down factors of one volatility; true when the tree is degenerate.
bool UpDownFactors(double sigma, double dt, double& u, double& d) noexcept;

TreeGrid MakeGrid(double T, std::int32_t steps, double sigma) noexcept;

// Probability weight of the up move; deliberately not clamped to [0, 1].
double UpProbability(double b, double dt, double u, double d, bool degenerate) noexcept;

// Number of node indices 0..top below the overflow cut (j * log10u <= 306).
// The cut is monotone in j, so the in-range indices are exactly 0..count-1.
int InRangeCount(double log10u, int top) noexcept;

// d^k for k = 0..top and u^j for the in-range j, each through pow.
void TabulatePowers(double u, double d, int top, int inRange, double* up, double* down) noexcept;

// Option legs: a call or a put has one, a straddle a call leg and a put leg.
struct Legs {
    int count;
    double sign[2];
};

Legs LegsOf(std::int32_t optionType) noexcept;

// The cash dividends a lattice adds back when it tests early exercise.
struct DividendSchedule {
    double amount;
    double firstTime;
    double frequency;
    std::int32_t count;
};

// One lattice of a pass. The node price of level i, node j is S * up[j] * down[i - j].
struct Lattice {
    double S;
    double strike;        // exercise strike; the expiry strike adds ExpiryDividend
    double p;
    double disc;
    double dividendRate;  // rate discounting the dividends still to come
    bool american;
    const double* up;
    const double* down;
    double offset;        // exercise offset of the level being processed
    double values[2][kNodeCapacity];  // per leg
    // Filled by RollBackTree for an American lattice: S * up[j] for the
    // in-range j, and down[top - k] at k, so that the exercise prices of a
    // level, S * up[j] * down[i - j], read both tables forwards.
    double assetUp[kNodeCapacity];
    double downReversed[kNodeCapacity];
};

// Values of one leg read at the extended tree's capture points.
struct LegCapture {
    double v2[3];  // level 2 (valuation date), nodes 0..2
    double v4;     // level 4, node 2 (price S, two steps later)
    double v0;     // level 0, node 0 (price S, two steps earlier)
};

// Terminal payoffs at level `top`: max(sign * (S_T - K_T), 0), 0 beyond the cut.
void FillExpiry(Lattice& lattice, const Legs& legs, int top, int inRange, double expiryDividend) noexcept;

// Lattices one pass runs side by side, at most.
inline constexpr int kMaxPassLattices = 4;

// Sets each lattice's exercise offset for a level at time t: -strike, plus
// the dividends still to come for an American lattice when `nodeDividends`.
// Lattices with the same dividend rate share one NodeDividendPV.
void LevelOffsets(Lattice* lattices, int count, double t, const DividendSchedule& dividends,
                  bool nodeDividends) noexcept;

// Distinct dividend rates among the American lattices: how many dividend
// walks LevelOffsets makes per level.
int DividendWalksPerLevel(const Lattice* lattices, int count) noexcept;

// Terms NodeDividendPV adds over levels 0..top-1, level i at time
// (i - originLevel) * dt, for one rate; counted without evaluating them.
double DividendTerms(const DividendSchedule& dividends, int top, int originLevel, double dt) noexcept;

// Work (core/WorkLimits.h) of a backward induction over `count` lattices of
// `legs` legs from level top - 1 down to 0, with `dividendWalks` dividend
// walks per level.
double RollBackWork(int count, int legs, int top, int originLevel, double dt, const DividendSchedule& dividends,
                    int dividendWalks) noexcept;

// Work limit left to a lattice of a call whose launcher discounted
// `dividendCount` dates, at four rates when `rateBumped`.
double LatticeWorkLimit(std::int32_t dividendCount, bool rateBumped) noexcept;

// How the node loop runs: all forms give the same values bit for bit. Widest
// takes the widest vector form the build and the processor offer (four nodes
// at a time with AVX, else two with SSE2); the others exist so that tests can
// hold each form against the rest.
enum class NodeLoop { Widest, Pairs, OneNode };

// Backward induction from level top - 1 down to 0 for `count` lattices taken in
// groups of `groupSize` (1 or 2): each group's first lattice is tested by
// MagnitudeGuard and its verdict applies to the whole group. Level i lies at
// time (i - originLevel) * dt. When `captures` is given (the extended tree,
// originLevel 2) it receives each lattice's capture points per leg. An
// American lattice's exercise is tested at S * up[j] * down[i - j] (see
// assetUp). Returns false when MagnitudeGuard stopped the pass, or without
// starting it when its work would exceed `workLimit`.
bool RollBackTree(Lattice* lattices, int count, int groupSize, const Legs& legs, int top, int originLevel,
                  double dt, int inRange, const DividendSchedule& dividends, LegCapture (*captures)[2],
                  double workLimit, NodeLoop loop = NodeLoop::Widest) noexcept;

// Level-0 value of a lattice, legs added.
double RootValue(const Lattice& lattice, const Legs& legs) noexcept;

}  // namespace kestrix::lattice
