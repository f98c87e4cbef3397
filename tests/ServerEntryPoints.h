// The server library loaded as a host loads it, with its four entry points.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include "core/Enumerations.h"
#include "platform/ObjBase.h"
#include "platform/OleAuto.h"

namespace kestrix::test {

struct ServerEntryPoints {
    void* library = nullptr;
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    LPFNCANUNLOADNOW canUnloadNow = nullptr;
    HRESULT (*registerServer)() = nullptr;
    HRESULT (*unregisterServer)() = nullptr;

    // Fails with dlerror's text when the library does not load, or when an
    // entry point is missing.
    ::testing::AssertionResult Load(const char* path) {
        library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return ::testing::AssertionFailure() << dlerror();
        getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(library, "DllGetClassObject"));
        canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(library, "DllCanUnloadNow"));
        registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllRegisterServer"));
        unregisterServer = reinterpret_cast<HRESULT (*)()>(dlsym(library, "DllUnregisterServer"));
        if (!(getClassObject && canUnloadNow && registerServer && unregisterServer))
            return ::testing::AssertionFailure() << path << " lacks an entry point";
        return ::testing::AssertionSuccess();
    }
};

// GenBS with StrikePrice 0 through IDispatch::Invoke by DISPID, positional
// arguments only (the last parameter first): a call the library refuses with
// the strike's error, so its error information reaches the host.
struct FailingGenBSArguments {
    VARIANT args[9];
    DISPPARAMS params{args, nullptr, 9, 0};

    FailingGenBSArguments() {
        const double values[9] = {0.01, 0.05, 0.2, 1, 0, 100, Theoretical, CallOption, European};
        for (int i = 0; i < 9; ++i) {
            VariantInit(&args[i]);
            args[i].vt = VT_R8;
            args[i].dblVal = values[i];
        }
    }
    FailingGenBSArguments(const FailingGenBSArguments&) = delete;
    FailingGenBSArguments& operator=(const FailingGenBSArguments&) = delete;
};

}  // namespace kestrix::test
