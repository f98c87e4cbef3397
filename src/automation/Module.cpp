#include "automation/Module.h"

#include <atomic>

namespace kestrix {

namespace {

// Objects may be released on any thread; the count is atomic for that.
std::atomic<LONG> moduleLocks{0};

}  // namespace

void LockModule() noexcept { ++moduleLocks; }

void UnlockModule() noexcept { --moduleLocks; }

LONG ModuleLockCount() noexcept { return moduleLocks.load(); }

}  // namespace kestrix
