// The component registry's classes root, reduced to what the object and its
// registration need: string values under backslash-separated key paths (names
// compared without regard to case, as the platform does), and the lookups
// between a class identifier and its programmatic identifier.
//
// The store lives in process memory; persisting it and writing the class's
// entries belong to server registration. Until that runs, no class is
// registered and the lookups fail.
#pragma once

#include "platform/OleAuto.h"

// Sets value `valueName` (null or "" for the key's default value) of the key
// `keyPath`, creating the key.
HRESULT RegistrySetValue(LPCOLESTR keyPath, LPCOLESTR valueName, LPCOLESTR data) noexcept;

// Reads a value into a new string the caller frees; REGDB_E_KEYMISSING when
// the key or the value does not exist.
HRESULT RegistryQueryValue(LPCOLESTR keyPath, LPCOLESTR valueName, BSTR* data) noexcept;

// Removes the key `keyPath` with everything below it; S_FALSE when it did not
// exist.
HRESULT RegistryDeleteTree(LPCOLESTR keyPath) noexcept;

// The programmatic identifier of a class, read from CLSID\{clsid}\ProgID, in
// task memory (CoTaskMemFree). REGDB_E_CLASSNOTREG when the class has none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) noexcept;

// The class identifier registered under `progId`\CLSID; CO_E_CLASSSTRING when
// there is none.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) noexcept;
