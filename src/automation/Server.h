// The in-process server's entry points, exported by name with C linkage from
// libkestrix.so (beside them it exports only GetErrorInfo, SysFreeString and
// SysStringLen of the runtime: Server.map).
#pragma once

#include "platform/WinTypes.h"

extern "C" {

// The class factory of Kestrix (IUnknown or IClassFactory);
// CLASS_E_CLASSNOTAVAILABLE for any other class.
HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept;

// S_OK when no object lives and no factory lock is held, S_FALSE otherwise.
HRESULT DllCanUnloadNow() noexcept;

// Writes the class's registry entries and registers the type library, all in
// one replace of the registry: on failure (the first failing HRESULT) nothing
// is written.
HRESULT DllRegisterServer() noexcept;

// Removes the class key and the programmatic identifier's key with
// everything below them; the type library stays registered.
HRESULT DllUnregisterServer() noexcept;
}
