// The server module's lock count: one lock for each live object and each
// factory lock a client holds. The library may be unloaded only at zero.
#pragma once

#include "platform/WinTypes.h"

namespace kestrix {

void LockModule() noexcept;
void UnlockModule() noexcept;
LONG ModuleLockCount() noexcept;

}  // namespace kestrix
