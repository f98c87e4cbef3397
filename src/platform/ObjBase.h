// Creating an object from its class registration, as a host does: the class
// identifier leads through CLSID\{clsid}\InprocServer32 to the server library,
// which is loaded once and asked for its class factory (DllGetClassObject).
#pragma once

#include "platform/Unknwn.h"

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

// The server library's entry points.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID clsid, REFIID riid, void** object);
using LPFNCANUNLOADNOW = HRESULT (*)();

// The class object of `clsid` asked for `riid`. REGDB_E_CLASSNOTREG when the
// class has no in-process server (or `context` does not allow one),
// E_ACCESSDENIED when the registry may not be trusted with what to load or the
// library is not named by its full path (RegistryQueryServerPath),
// CO_E_DLLNOTFOUND when its library cannot be loaded, CO_E_ERRORINDLL when the
// library has no DllGetClassObject; else what the library answers.
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* serverInfo, REFIID riid, void** object) noexcept;

// One new object of `clsid` through its class factory.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) noexcept;

// Unloads every server library loaded here whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries() noexcept;
