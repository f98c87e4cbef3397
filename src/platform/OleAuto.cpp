#include "platform/OleAuto.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

void* CoTaskMemAlloc(std::size_t size) noexcept { return std::malloc(size); }

void CoTaskMemFree(void* block) noexcept { std::free(block); }

// Layout of a BSTR block: the length in characters, then the characters and a
// terminator. The BSTR points just past the length.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) noexcept {
    auto* block = static_cast<char*>(std::malloc(sizeof(UINT) + (length + 1) * sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &length, sizeof(UINT));
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(UINT));
    if (text != nullptr) std::memcpy(chars, text, length * sizeof(OLECHAR));
    chars[length] = '\0';
    return chars;
}

BSTR SysAllocString(LPCOLESTR text) noexcept {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::strlen(text)));
}

void SysFreeString(BSTR text) noexcept {
    if (text != nullptr) std::free(reinterpret_cast<char*>(text) - sizeof(UINT));
}

UINT SysStringLen(BSTR text) noexcept {
    if (text == nullptr) return 0;
    UINT length = 0;
    std::memcpy(&length, reinterpret_cast<const char*>(text) - sizeof(UINT), sizeof(UINT));
    return length;
}

void VariantInit(VARIANT* value) noexcept {
    value->vt = VT_EMPTY;
    value->wReserved1 = value->wReserved2 = value->wReserved3 = 0;
    value->dblVal = 0;
}

HRESULT VariantClear(VARIANT* value) noexcept {
    if (value == nullptr) return E_INVALIDARG;
    if (value->vt == VT_BSTR) SysFreeString(value->bstrVal);
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* destination, const VARIANT* source) noexcept {
    if (destination == nullptr || source == nullptr) return E_INVALIDARG;
    if (destination == source) return S_OK;
    VARIANT copy = *source;
    if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (copy.bstrVal == nullptr) return E_OUTOFMEMORY;
    }
    VariantClear(destination);
    *destination = copy;
    return S_OK;
}

namespace {

// A decimal number, blanks around it allowed; locale-independent so a book
// reads the same everywhere. Non-finite spellings ("inf", "nan") are not
// numbers a host means to send.
HRESULT ParseNumber(BSTR text, double& value) noexcept {
    std::string_view s(text == nullptr ? "" : text, SysStringLen(text));
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    if (s.size() > 1 && s.front() == '+' && s[1] != '-') s.remove_prefix(1);
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (s.empty() || end != s.data() + s.size()) return DISP_E_TYPEMISMATCH;
    if (error == std::errc::result_out_of_range) return DISP_E_OVERFLOW;
    if (error != std::errc{} || !std::isfinite(value)) return DISP_E_TYPEMISMATCH;
    return S_OK;
}

// The numeric value of a source variant, whatever its type in the subset.
HRESULT AsDouble(const VARIANT& source, double& value) noexcept {
    switch (source.vt) {
        case VT_EMPTY: value = 0; return S_OK;
        case VT_I4: value = source.lVal; return S_OK;
        case VT_R8: value = source.dblVal; return S_OK;
        case VT_BOOL: value = source.boolVal; return S_OK;
        case VT_BSTR: return ParseNumber(source.bstrVal, value);
        case VT_NULL:
        case VT_ERROR: return DISP_E_TYPEMISMATCH;
        default: return DISP_E_BADVARTYPE;
    }
}

}  // namespace

HRESULT VariantChangeType(VARIANT* destination, const VARIANT* source, WORD /*flags*/, VARTYPE vt) noexcept {
    if (destination == nullptr || source == nullptr) return E_INVALIDARG;
    double number = 0;
    if (const HRESULT hr = AsDouble(*source, number); FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    result.vt = vt;
    switch (vt) {
        case VT_R8:
            result.dblVal = number;
            break;
        case VT_I4: {
            // Half to even, as the platform rounds; out of range (or NaN) overflows.
            const double rounded = std::nearbyint(number);
            if (!(rounded >= std::numeric_limits<LONG>::min() && rounded <= std::numeric_limits<LONG>::max())) {
                return DISP_E_OVERFLOW;
            }
            result.lVal = static_cast<LONG>(rounded);
            break;
        }
        case VT_BOOL:
            result.boolVal = number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        default:
            return DISP_E_TYPEMISMATCH;
    }
    VariantClear(destination);
    *destination = result;
    return S_OK;
}

void ClearExcepInfo(EXCEPINFO* info) noexcept {
    if (info == nullptr) return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    *info = EXCEPINFO{};
}
