// How long one call may compute. Almost every request finishes in
// microseconds, but a few inputs make the work grow without practical bound:
// a dividend schedule of up to 1e8 dates is discounted by the launcher and
// walked again by the lattice (at every level) and by the pseudo-American
// call (once per candidate date), and an implied search may re-value its
// model up to kMaxSearchSteps times (and when its answer does not reprice,
// the launcher's bracketing search re-values it again,
// under a limit of its own). A host calls us on its own thread and
// waits, so such a call must not run for seconds: work that would exceed
// kCallWorkLimit is not started, and the request is answered the way the
// library answers every request it cannot price (0, no error), as for an
// overflowing lattice or a search that does not converge.
//
// Work is counted in units of about a nanosecond of the reference machine
// (a 2-core x86-64 build server, default preset), from operation counts, so
// the outcome does not depend on the machine's speed or load. The limit,
// 0.5 s there when the machine is otherwise idle, stays under a second when
// both cores are busy (each core then runs at about 60 %), and it keeps
// every schedule the launcher itself may expand (1e8 dates at one rate,
// 4.7e8) within bounds.
#pragma once

#include <cstdint>

namespace kestrix {

inline constexpr double kCallWorkLimit = 5e8;

// Unit costs, measured with kestrix-worstcase.
inline constexpr double kScheduleDateWork = 1.0;     // the launcher's loop, per date
inline constexpr double kDiscountWork = 3.7;         // one exponential of that loop
inline constexpr double kNodeWork = 1.2;             // one lattice node at one level
inline constexpr double kNodeDividendWork = 4.0;     // one term of a level's dividends still to come
inline constexpr double kExerciseDateWork = 70.0;    // one candidate date of the pseudo-American call

// Rates the launcher discounts each dividend date at: four for the
// rate-bumped functions (Rho, and Psi of model 5), otherwise one.
inline constexpr int kBumpedDiscountRates = 4;

// Work of the launcher's dividend loop over `dates` dates at `rates` rates.
inline constexpr double ScheduleWork(double dates, int rates) {
    return dates * (kScheduleDateWork + rates * kDiscountWork);
}

}  // namespace kestrix
