#include "Registration.h"

#include <dlfcn.h>

#include <filesystem>

#include "Host.h"
#include "platform/ObjBase.h"
#include "platform/Registry.h"

namespace kestrix::cli {

namespace {

const char* Meaning(HRESULT hr) {
    if (hr == CO_E_CLASSSTRING) return "the programmatic identifier is not registered (kestrix register registers it)";
    if (hr == REGDB_E_CLASSNOTREG) return "the class is not registered (kestrix register registers it)";
    if (hr == CO_E_DLLNOTFOUND) return "the registered library cannot be loaded";
    if (hr == CO_E_ERRORINDLL) return "the registered library has no DllGetClassObject";
    if (hr == E_NOINTERFACE) return "the object has no IDispatch";
    if (hr == HRESULT_FROM_WIN32(ERROR_BADDB)) return "the registry file is corrupt or truncated";
    if (hr == E_ACCESSDENIED) return "access to the registry file was denied";
    if (hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)) return "the registry file's folder cannot be made or reached";
    if (hr == HRESULT_FROM_WIN32(ERROR_DISK_FULL)) return "the disk is full";
    if (hr == HRESULT_FROM_WIN32(ERROR_LOCK_VIOLATION)) return "another process holds the registry's lock";
    if (hr == HRESULT_FROM_WIN32(ERROR_REGISTRY_QUOTA_LIMIT)) return "the registry file would grow too large";
    if (hr == REGDB_E_READREGDB) return "the registry file cannot be read";
    if (hr == REGDB_E_WRITEREGDB) return "the registry file cannot be written";
    return "failed";
}

std::string RegistryFile() {
    BSTR path = nullptr;
    if (FAILED(RegistryFilePath(&path))) return "(none: set KESTRIX_REGISTRY or HOME)";
    std::string text(path, SysStringLen(path));
    SysFreeString(path);
    return text;
}

// What the library said of its failure, as error information collected
// through the runtime it exports; empty when it said nothing.
std::string LibraryFailureText(void* library) {
    const auto getErrorInfo = reinterpret_cast<HRESULT (*)(ULONG, IErrorInfo**)>(dlsym(library, "GetErrorInfo"));
    const auto freeString = reinterpret_cast<void (*)(BSTR)>(dlsym(library, "SysFreeString"));
    IErrorInfo* info = nullptr;
    if (getErrorInfo == nullptr || freeString == nullptr || getErrorInfo(0, &info) != S_OK) return {};
    BSTR description = nullptr;
    std::string text;
    if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) text = description;
    freeString(description);
    info->Release();
    return text;
}

std::string Describe(HRESULT hr, std::string meaning) {
    return FormatHResult(hr) + " " + meaning + " (registry: " + RegistryFile() + ")";
}

}  // namespace

std::string DefaultServerLibrary() {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "libkestrix.so";
    const auto beside = self.parent_path() / "libkestrix.so";
#ifdef KESTRIX_INSTALLED_LIBRARY
    // Installed, the command is in bin/ and the library in lib/.
    if (!std::filesystem::exists(beside, error)) {
        const auto installed = (self.parent_path() / KESTRIX_INSTALLED_LIBRARY).lexically_normal();
        if (std::filesystem::exists(installed, error)) return installed.string();
    }
#endif
    return beside.string();
}

HRESULT RegisterServer(const std::string& library, bool unregister, std::ostream& out, std::ostream& err) {
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    // A bare file name means the file here, not a search of the system's libraries.
    const std::string path = library.find('/') == std::string::npos ? "./" + library : library;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        err << "kestrix: " << library << " cannot be loaded: " << (reason != nullptr ? reason : "unknown") << '\n';
        return CO_E_DLLNOTFOUND;
    }
    const auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entryName));
    if (entry == nullptr) {
        err << "kestrix: " << library << " has no entry point " << entryName << '\n';
        dlclose(handle);
        return CO_E_ERRORINDLL;
    }
    const HRESULT hr = entry();
    const std::string reason = FAILED(hr) ? LibraryFailureText(handle) : std::string();
    dlclose(handle);
    if (FAILED(hr)) {
        err << "kestrix: " << entryName << " in " << library << " failed: "
            << (reason.empty() ? DescribeRegistryFailure(hr) : Describe(hr, reason)) << '\n';
    } else {
        out << entryName << " in " << library << " succeeded (registry: " << RegistryFile() << ")\n";
    }
    return hr;
}

IDispatch* CreateByProgId(const std::string& progId, HRESULT& hr) {
    CLSID clsid{};
    hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) return nullptr;
    IDispatch* object = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object));
    return SUCCEEDED(hr) ? object : nullptr;
}

std::string DescribeRegistryFailure(HRESULT hr) {
    // The registry's own account of the failure, where it has one, names the
    // file, folder or lock at fault.
    BSTR text = nullptr;
    std::string meaning = Meaning(hr);
    if (RegistryFailureText(&text) == S_OK) meaning = std::string(text, SysStringLen(text));
    SysFreeString(text);
    return Describe(hr, meaning);
}

}  // namespace kestrix::cli
