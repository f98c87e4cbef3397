#include "automation/Server.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "automation/Module.h"
#include "automation/OptionsImpl.h"
#include "platform/ErrorInfo.h"
#include "platform/Registry.h"

namespace kestrix {

namespace {

// The library file's full path, recorded when the library is loaded (while a
// relative path it was loaded by still means what it meant). A plain array, so
// it is ready before any constructor runs.
char modulePath[PATH_MAX];

// Library load and unload stand in for the platform's process attach and
// detach; there are no per-thread notifications to switch off.
__attribute__((constructor)) void ModuleAttach() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DllGetClassObject), &info) == 0 || info.dli_fname == nullptr) return;
    if (realpath(info.dli_fname, modulePath) == nullptr) modulePath[0] = '\0';
}

__attribute__((destructor)) void ModuleDetach() { modulePath[0] = '\0'; }

// The one class factory, which lives as long as the library: its references
// do not keep the module loaded, only LockServer does.
class TClassFactory final : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        return TOptionsImpl::CreateInstance(outer, riid, object);
    }
    HRESULT LockServer(BOOL lock) override {
        kestrix::LockServer(lock != 0);
        return S_OK;
    }
};

TClassFactory classFactory;

std::string GuidText(REFGUID guid) {
    OLECHAR text[kGuidStringLength];
    StringFromGUID2(guid, text, kGuidStringLength);
    return text;
}

// The class's registrar: the entries of the class key (replaced whole, so
// nothing stale stays below it) and of its programmatic identifier.
HRESULT RegisterClassEntries(HREGTRANSACTION transaction) {
    using typelib::kClassHelpString, typelib::kMajorVersion, typelib::kMinorVersion, typelib::kProgId;
    const std::string classKey = "CLSID\\" + GuidText(CLSID_Kestrix);
    const std::string inproc = classKey + "\\InprocServer32";
    const std::string progIdClsid = std::string(kProgId) + "\\CLSID";
    const std::string classId = GuidText(CLSID_Kestrix);
    const std::string libraryId = GuidText(LIBID_Quantora);
    char version[16];
    std::snprintf(version, sizeof version, "%d.%d", kMajorVersion, kMinorVersion);
    struct Entry {
        std::string key;
        const char* name;
        const char* data;
    };
    const Entry entries[] = {
        {classKey, nullptr, kClassHelpString},
        {inproc, nullptr, modulePath},
        {inproc, "ThreadingModel", "Apartment"},
        {kProgId, nullptr, kClassHelpString},
        {progIdClsid, nullptr, classId.c_str()},
        {classKey + "\\ProgID", nullptr, kProgId},
        {classKey + "\\Version", nullptr, version},
        {classKey + "\\Typelib", nullptr, libraryId.c_str()},
    };
    HRESULT hr = RegistryDeleteTree(classKey.c_str(), transaction);
    for (const Entry& entry : entries) {
        if (FAILED(hr)) break;
        hr = RegistrySetValue(entry.key.c_str(), entry.name, entry.data, transaction);
    }
    return hr;
}

// The type library lives in the library file itself; its help files beside it.
HRESULT RegisterTypeLibrary(HREGTRANSACTION transaction) {
    using typelib::kLibraryHelpString, typelib::kLocale, typelib::kMajorVersion, typelib::kMinorVersion;
    std::string helpDir = modulePath;
    helpDir.erase(helpDir.find_last_of('/') + 1);
    const TYPELIBREGISTRATION library{LIBID_Quantora, kLocale,    kMajorVersion, kMinorVersion,
                                      0,              kLibraryHelpString};
    return RegisterTypeLib(library, modulePath, helpDir.c_str(), transaction);
}

// A registration that failed says why, where the registry can tell more than
// the HRESULT (the lock held by another process, a folder of another user),
// as error information for the registering host to collect.
HRESULT RegistrationFailed(HRESULT hr) noexcept {
    BSTR text = nullptr;
    ICreateErrorInfo* createInfo = nullptr;
    if (RegistryFailureText(&text) == S_OK && SUCCEEDED(CreateErrorInfo(&createInfo))) {
        createInfo->SetDescription(text);
        IErrorInfo* errorInfo = nullptr;
        if (SUCCEEDED(createInfo->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&errorInfo)))) {
            SetErrorInfo(0, errorInfo);
            errorInfo->Release();
        }
        createInfo->Release();
    }
    SysFreeString(text);
    return hr;
}

}  // namespace

}  // namespace kestrix

using namespace kestrix;

HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Kestrix) return CLASS_E_CLASSNOTAVAILABLE;
    return classFactory.QueryInterface(riid, object);
}

HRESULT DllCanUnloadNow() noexcept { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

HRESULT DllRegisterServer() noexcept {
    SetErrorInfo(0, nullptr);
    // Without its own path the library cannot say where it is to be loaded from.
    if (modulePath[0] == '\0') return E_UNEXPECTED;
    HREGTRANSACTION transaction = nullptr;
    HRESULT hr = RegistryBeginTransaction(&transaction);
    if (FAILED(hr)) return hr;
    try {
        hr = RegisterClassEntries(transaction);
        // A class that could not be registered gets no type library either.
        if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(transaction);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        RegistryRollbackTransaction(transaction);
        return hr;
    }
    hr = RegistryCommitTransaction(transaction);
    return FAILED(hr) ? RegistrationFailed(hr) : hr;
}

HRESULT DllUnregisterServer() noexcept {
    SetErrorInfo(0, nullptr);
    HREGTRANSACTION transaction = nullptr;
    HRESULT hr = RegistryBeginTransaction(&transaction);
    if (FAILED(hr)) return hr;
    try {
        hr = RegistryDeleteTree(("CLSID\\" + GuidText(CLSID_Kestrix)).c_str(), transaction);
        if (SUCCEEDED(hr)) hr = RegistryDeleteTree(typelib::kProgId, transaction);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    }
    if (FAILED(hr)) {
        RegistryRollbackTransaction(transaction);
        return hr;
    }
    hr = RegistryCommitTransaction(transaction);
    return FAILED(hr) ? RegistrationFailed(hr) : hr;
}
