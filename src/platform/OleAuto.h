// The automation runtime's data: length-prefixed strings (BSTR), the VARIANT
// subset a pricing host exchanges (empty, 32-bit integer, double, boolean,
// string, error/missing), the argument block of IDispatch::Invoke and the
// exception record it fills.
#pragma once

#include "platform/WinTypes.h"

using BSTR = OLECHAR*;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// Task memory: what the runtime hands out for callers to free (ProgIDs).
void* CoTaskMemAlloc(std::size_t size) noexcept;
void CoTaskMemFree(void* block) noexcept;

// A BSTR points at its characters; the length sits in front of them and a
// terminator follows, so it also reads as a C string. A null BSTR is the
// empty string.
// C names, as the platform gives them: libkestrix.so exports SysFreeString
// and SysStringLen for a host to free and measure the strings it hands out.
extern "C" {
BSTR SysAllocString(LPCOLESTR text) noexcept;
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) noexcept;
void SysFreeString(BSTR text) noexcept;
UINT SysStringLen(BSTR text) noexcept;
}

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I4 = 3,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONG lVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        BSTR bstrVal;
        SCODE scode;
    };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* value) noexcept;
// Frees what the variant owns (its string) and leaves it VT_EMPTY.
HRESULT VariantClear(VARIANT* value) noexcept;
HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) noexcept;

// Converts `source` to `vt` (VT_I4, VT_R8 or VT_BOOL) into `destination`,
// which may be `source` itself. Text is read as a decimal number (blanks
// around it allowed, nothing else); a double becomes an integer by rounding
// half to even. DISP_E_OVERFLOW when the value does not fit the target,
// DISP_E_TYPEMISMATCH when it cannot be read as one, DISP_E_BADVARTYPE for a
// source type outside the subset.
HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, WORD flags, VARTYPE vt) noexcept;

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

// Arguments of IDispatch::Invoke: rgvarg holds the named arguments first (in
// the order of rgdispidNamedArgs), then the positional ones in reverse order,
// so the first positional argument is rgvarg[cArgs - 1].
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Frees the strings of an exception record and zeroes it (the platform leaves
// this to each caller; one helper keeps the hosts leak-free).
void ClearExcepInfo(EXCEPINFO* info) noexcept;
