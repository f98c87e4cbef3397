#include "automation/Module.h"

#include <atomic>

namespace kestrix {

namespace {

// Objects may live in several apartments, so the count is shared by threads.
std::atomic<long> moduleLocks{0};

}  // namespace

void LockModule() noexcept { ++moduleLocks; }

void UnlockModule() noexcept { --moduleLocks; }

long ModuleLockCount() noexcept { return moduleLocks.load(); }

}  // namespace kestrix
