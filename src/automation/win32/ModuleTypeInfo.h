// Kestrix.dll's own module: its instance handle and the type library
// embedded in it, which IDispatch is delegated to.
#pragma once

#include "platform/ComRuntime.h"

namespace kestrix::win32 {

// The library's instance handle, set when the library is loaded.
HMODULE ModuleHandle() noexcept;

// IKestrix as described by the embedded type library, loaded from the
// module's own file on first use: the dispatch view (what a client inspects
// through IDispatch::GetTypeInfo) and the function-table view (what
// DispInvoke calls through). Null when the library cannot be loaded. Owned
// by the module; callers do not release them.
ITypeInfo* DispatchTypeInfo() noexcept;
ITypeInfo* InterfaceTypeInfo() noexcept;

}  // namespace kestrix::win32
