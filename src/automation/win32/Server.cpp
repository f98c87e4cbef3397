// Kestrix.dll on Windows: the module object, the class factory of the one
// class, the four exported server entry points and the registration of the
// class and its type library in the platform's registry.
#include <olectl.h>

#include <new>
#include <string>

#include "automation/Module.h"
#include "automation/OptionsImpl.h"
#include "automation/win32/ModuleTypeInfo.h"

namespace kestrix::win32 {

namespace {

HMODULE moduleHandle = nullptr;

INIT_ONCE typeInfoOnce = INIT_ONCE_STATIC_INIT;
ITypeInfo* dispatchInfo = nullptr;
ITypeInfo* interfaceInfo = nullptr;

// The full path of the library file; empty when it cannot be had.
std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(moduleHandle, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);  // truncated: try a larger buffer
    }
}

BOOL CALLBACK LoadTypeInfos(PINIT_ONCE, PVOID, PVOID*) {
    try {
        const std::wstring path = ModulePath();
        ITypeLib* library = nullptr;
        if (path.empty() || FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return TRUE;
        if (SUCCEEDED(library->GetTypeInfoOfGuid(IID_IKestrix, &dispatchInfo))) {
            // A dual interface's dispatch view names its function-table view
            // as implemented type -1.
            HREFTYPE vtable = 0;
            if (SUCCEEDED(dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtable))) {
                dispatchInfo->GetRefTypeInfo(vtable, &interfaceInfo);
            }
        }
        library->Release();
    } catch (const std::bad_alloc&) {
        // Left unloaded: IDispatch answers TYPE_E_CANTLOADLIBRARY.
    }
    return TRUE;
}

void ReleaseTypeInfos() noexcept {
    for (ITypeInfo** info : {&interfaceInfo, &dispatchInfo}) {
        if (*info != nullptr) (*info)->Release();
        *info = nullptr;
    }
}

// The one class factory lives as long as the module, so references to it own
// nothing; a client keeps the module loaded with LockServer.
class TClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        return TOptionsImpl::CreateInstance(outer, riid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        kestrix::LockServer(lock != 0);
        return S_OK;
    }
};

TClassFactory classFactory;

std::wstring GuidText(REFGUID guid) {
    OLECHAR text[kGuidStringLength];
    StringFromGUID2(guid, text, kGuidStringLength);
    return text;
}

std::wstring ClassKey() { return L"CLSID\\" + GuidText(CLSID_Kestrix); }

std::wstring ProgIdKey() { return std::wstring(OleText(typelib::kProgId)); }

// Sets the value `name` (null: the default value) of the key `key` under the
// classes root, creating the key.
HRESULT SetClassesValue(const std::wstring& key, const wchar_t* name, const std::wstring& data) noexcept {
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return HRESULT_FROM_WIN32(status);
}

// Registers the type library embedded in the file `path` under that path.
HRESULT RegisterTypeLibrary(const std::wstring& path) noexcept {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    std::wstring fullPath = path;  // RegisterTypeLib takes a writable string
    hr = RegisterTypeLib(library, fullPath.data(), nullptr);
    library->Release();
    return hr;
}

// The class's registrar: the class's entries, then its type library.
HRESULT RegisterClassEntries(const std::wstring& path) {
    const std::wstring classKey = ClassKey();
    const std::wstring progId = ProgIdKey();
    const std::wstring description(OleText(typelib::kClassHelpString));
    const std::wstring version =
        std::to_wstring(typelib::kMajorVersion) + L"." + std::to_wstring(typelib::kMinorVersion);
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring data;
    } entries[] = {
        {classKey, nullptr, description},
        {classKey + L"\\InprocServer32", nullptr, path},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {progId, nullptr, description},
        {progId + L"\\CLSID", nullptr, GuidText(CLSID_Kestrix)},
        {classKey + L"\\ProgID", nullptr, progId},
        {classKey + L"\\Version", nullptr, version},
        {classKey + L"\\Typelib", nullptr, GuidText(LIBID_Quantora)},
    };
    for (const auto& entry : entries) {
        if (const HRESULT hr = SetClassesValue(entry.key, entry.name, entry.data); FAILED(hr)) return hr;
    }
    return RegisterTypeLibrary(path);
}

}  // namespace

HMODULE ModuleHandle() noexcept { return moduleHandle; }

ITypeInfo* DispatchTypeInfo() noexcept {
    InitOnceExecuteOnce(&typeInfoOnce, LoadTypeInfos, nullptr, nullptr);
    return dispatchInfo;
}

ITypeInfo* InterfaceTypeInfo() noexcept {
    InitOnceExecuteOnce(&typeInfoOnce, LoadTypeInfos, nullptr, nullptr);
    return interfaceInfo;
}

}  // namespace kestrix::win32

using namespace kestrix;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        win32::moduleHandle = instance;
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Unloaded by FreeLibrary: the runtime is still there to take the
        // type information back. At process exit there is nothing to tidy.
        win32::ReleaseTypeInfos();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Kestrix) return CLASS_E_CLASSNOTAVAILABLE;
    return win32::classFactory.QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
    try {
        const std::wstring path = win32::ModulePath();
        if (path.empty()) return GetLastError() != 0 ? HRESULT_FROM_WIN32(GetLastError()) : E_FAIL;
        if (const HRESULT hr = win32::RegisterClassEntries(path); FAILED(hr)) return hr;
        return win32::RegisterTypeLibrary(path);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// Removes the class's keys; the type library stays registered. A key that is
// already gone is not an error.
STDAPI DllUnregisterServer() {
    try {
        for (const std::wstring& key : {win32::ClassKey(), win32::ProgIdKey()}) {
            const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(status);
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
