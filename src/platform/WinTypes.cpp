#include "platform/WinTypes.h"

#include <cstdio>

int StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity) noexcept {
    if (text == nullptr || capacity < kGuidStringLength) return 0;
    std::snprintf(text, static_cast<std::size_t>(capacity),
                  "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1, guid.Data2, guid.Data3,
                  guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return kGuidStringLength;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) noexcept {
    if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
    GUID guid{};
    if (!ParseGuidText(text, guid)) return CO_E_CLASSSTRING;
    *clsid = guid;
    return S_OK;
}
