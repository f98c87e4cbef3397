// The server module's lock count: one for each live object and each lock a
// client took on the class factory. The library may be unloaded only at 0.
#pragma once

namespace kestrix {

void LockModule() noexcept;
void UnlockModule() noexcept;
long ModuleLockCount() noexcept;

}  // namespace kestrix
