// The server library loaded as a host loads it, with its four entry points.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include "platform/ObjBase.h"

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

}  // namespace kestrix::test
