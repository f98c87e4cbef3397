#include "automation/Module.h"

#include <atomic>

namespace kestrix {

namespace {

// Objects may live in several apartments, so the counts are shared by threads.
std::atomic<long> liveObjects{0};
std::atomic<long> factoryLocks{0};

// One less, unless already at 0: a count that went negative would let a
// later lock bring it to 0 and the library be unloaded under a live object.
void Decrement(std::atomic<long>& count) noexcept {
    long current = count.load();
    while (current > 0 && !count.compare_exchange_weak(current, current - 1)) {
    }
}

}  // namespace

void LockModule() noexcept { ++liveObjects; }

void UnlockModule() noexcept { Decrement(liveObjects); }

void LockServer(bool lock) noexcept {
    if (lock) {
        ++factoryLocks;
    } else {
        Decrement(factoryLocks);
    }
}

long ModuleLockCount() noexcept { return liveObjects.load() + factoryLocks.load(); }

}  // namespace kestrix
