#include "platform/Registry.h"

#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace {

// The store maps "key path" + separator + "value name", folded to lower case,
// to the data. Folding once at the door makes every lookup case-insensitive.
constexpr char kValueSeparator = '\x01';

std::string Fold(LPCOLESTR text) {
    std::string folded = text == nullptr ? "" : text;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

std::string Entry(LPCOLESTR keyPath, LPCOLESTR valueName) {
    return Fold(keyPath) + kValueSeparator + Fold(valueName);
}

struct TClassesRoot {
    std::mutex lock;
    std::map<std::string, std::string> values;
};

TClassesRoot& ClassesRoot() {
    static TClassesRoot root;
    return root;
}

bool ValidKey(LPCOLESTR keyPath) noexcept { return keyPath != nullptr && keyPath[0] != '\0'; }

}  // namespace

HRESULT RegistrySetValue(LPCOLESTR keyPath, LPCOLESTR valueName, LPCOLESTR data) noexcept {
    if (!ValidKey(keyPath) || data == nullptr) return E_INVALIDARG;
    try {
        auto& root = ClassesRoot();
        const std::lock_guard guard(root.lock);
        root.values[Entry(keyPath, valueName)] = data;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT RegistryQueryValue(LPCOLESTR keyPath, LPCOLESTR valueName, BSTR* data) noexcept {
    if (!ValidKey(keyPath) || data == nullptr) return E_INVALIDARG;
    *data = nullptr;
    try {
        auto& root = ClassesRoot();
        const std::lock_guard guard(root.lock);
        const auto found = root.values.find(Entry(keyPath, valueName));
        if (found == root.values.end()) return REGDB_E_KEYMISSING;
        *data = SysAllocStringLen(found->second.data(), static_cast<UINT>(found->second.size()));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return *data == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT RegistryDeleteTree(LPCOLESTR keyPath) noexcept {
    if (!ValidKey(keyPath)) return E_INVALIDARG;
    try {
        auto& root = ClassesRoot();
        const std::lock_guard guard(root.lock);
        const std::string key = Fold(keyPath);
        bool removed = false;
        // The key's own values sort right after "key\x01", its subkeys after "key\\".
        for (const std::string& prefix : {key + kValueSeparator, key + '\\'}) {
            auto it = root.values.lower_bound(prefix);
            while (it != root.values.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
                it = root.values.erase(it);
                removed = true;
            }
        }
        return removed ? S_OK : S_FALSE;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId) noexcept {
    if (progId == nullptr) return E_INVALIDARG;
    *progId = nullptr;
    OLECHAR guidText[kGuidStringLength];
    StringFromGUID2(clsid, guidText, kGuidStringLength);
    OLECHAR keyPath[sizeof "CLSID\\" + kGuidStringLength + sizeof "\\ProgID"];
    std::strcpy(keyPath, "CLSID\\");
    std::strcat(keyPath, guidText);
    std::strcat(keyPath, "\\ProgID");
    BSTR value = nullptr;
    if (FAILED(RegistryQueryValue(keyPath, nullptr, &value))) return REGDB_E_CLASSNOTREG;
    const UINT length = SysStringLen(value);
    *progId = static_cast<LPOLESTR>(CoTaskMemAlloc(length + 1));
    if (*progId != nullptr) std::memcpy(*progId, value, length + 1);
    SysFreeString(value);
    return *progId == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid) noexcept {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    BSTR value = nullptr;
    try {
        const std::string keyPath = std::string(progId) + "\\CLSID";
        if (FAILED(RegistryQueryValue(keyPath.c_str(), nullptr, &value))) return CO_E_CLASSSTRING;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = CLSIDFromString(value, clsid);
    SysFreeString(value);
    return hr;
}
