// Error information: the object a failing method fills and installs, and the
// one current error object per thread that a caller collects afterwards.
#pragma once

#include "platform/Unknwn.h"

// C names, as the platform gives them: libkestrix.so exports GetErrorInfo, so
// a host that loads nothing else collects a failing call's error information
// the usual way.
extern "C" {

// A new, empty error object (reference count 1).
HRESULT CreateErrorInfo(ICreateErrorInfo** errorInfo) noexcept;

// Installs `errorInfo` (may be null: clears) as the calling thread's current
// error object, releasing the one it replaces. `reserved` must be 0.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* errorInfo) noexcept;

// Hands the calling thread's current error object to the caller and clears
// it; S_FALSE with a null pointer when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** errorInfo) noexcept;
}
