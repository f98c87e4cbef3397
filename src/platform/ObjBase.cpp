#include "platform/ObjBase.h"

#include <dlfcn.h>

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace {

struct TLoadedLibrary {
    std::string path;
    void* handle;
};

// The server libraries this process has loaded, each once, until
// CoFreeUnusedLibraries finds them unused.
struct TLoadedLibraries {
    std::mutex lock;
    std::vector<TLoadedLibrary> libraries;
};

TLoadedLibraries& LoadedLibraries() {
    static TLoadedLibraries loaded;
    return loaded;
}

HRESULT LoadServer(const std::string& path, void*& handle) {
    auto& loaded = LoadedLibraries();
    const std::lock_guard guard(loaded.lock);
    for (const auto& library : loaded.libraries) {
        if (library.path == path) {
            handle = library.handle;
            return S_OK;
        }
    }
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return CO_E_DLLNOTFOUND;
    loaded.libraries.push_back({path, handle});
    return S_OK;
}

}  // namespace

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* /*serverInfo*/, REFIID riid, void** object) noexcept {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if ((context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    try {
        BSTR path = nullptr;
        HRESULT hr = RegistryQueryServerPath(clsid, &path);
        if (FAILED(hr)) return hr;
        const std::string library(path, SysStringLen(path));
        SysFreeString(path);
        void* handle = nullptr;
        hr = LoadServer(library, handle);
        if (FAILED(hr)) return hr;
        const auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
        if (getClassObject == nullptr) return CO_E_ERRORINDLL;
        return getClassObject(clsid, riid, object);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) noexcept {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

void CoFreeUnusedLibraries() noexcept {
    auto& loaded = LoadedLibraries();
    const std::lock_guard guard(loaded.lock);
    std::erase_if(loaded.libraries, [](const TLoadedLibrary& library) {
        // A library that cannot say stays loaded.
        const auto canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(library.handle, "DllCanUnloadNow"));
        if (canUnloadNow == nullptr || canUnloadNow() != S_OK) return false;
        dlclose(library.handle);
        return true;
    });
}
