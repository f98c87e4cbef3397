// The server module's lock count: one for each live object and each lock a
// client took on the class factory. The library may be unloaded only at 0.
#pragma once

namespace kestrix {

// A live object: taken when it is made, given back when it is destroyed.
void LockModule() noexcept;
void UnlockModule() noexcept;

// IClassFactory::LockServer. Factory locks are counted apart from objects, so
// an unlock without its lock is ignored instead of cancelling a live object's
// share of the count.
void LockServer(bool lock) noexcept;

// Live objects plus factory locks; never below 0.
long ModuleLockCount() noexcept;

}  // namespace kestrix
