#include "platform/ErrorInfo.h"

#include <atomic>
#include <new>
#include <string>

namespace {

// One error object answers both as the filler's ICreateErrorInfo and as the
// reader's IErrorInfo. A source never set reads back as a null string.
class TErrorInfo final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *object = static_cast<IErrorInfo*>(this);
        } else if (riid == IID_ICreateErrorInfo) {
            *object = static_cast<ICreateErrorInfo*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return Copy(source_, hasSource_, source); }
    HRESULT GetDescription(BSTR* description) override { return Copy(description_, true, description); }
    HRESULT GetHelpFile(BSTR* helpFile) override { return Copy(helpFile_, true, helpFile); }
    HRESULT GetHelpContext(DWORD* helpContext) override {
        if (helpContext == nullptr) return E_INVALIDARG;
        *helpContext = helpContext_;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        guid_ = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR source) override {
        hasSource_ = source != nullptr;
        return Assign(source_, source);
    }
    HRESULT SetDescription(LPOLESTR description) override { return Assign(description_, description); }
    HRESULT SetHelpFile(LPOLESTR helpFile) override { return Assign(helpFile_, helpFile); }
    HRESULT SetHelpContext(DWORD helpContext) override {
        helpContext_ = helpContext;
        return S_OK;
    }

private:
    static HRESULT Assign(std::string& field, LPCOLESTR text) noexcept {
        try {
            field = text == nullptr ? "" : text;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    static HRESULT Copy(const std::string& field, bool present, BSTR* out) noexcept {
        if (out == nullptr) return E_INVALIDARG;
        *out = present ? SysAllocStringLen(field.data(), static_cast<UINT>(field.size())) : nullptr;
        return present && *out == nullptr ? E_OUTOFMEMORY : S_OK;
    }

    std::atomic<ULONG> references_{1};
    GUID guid_{};
    std::string source_;
    bool hasSource_ = false;
    std::string description_;
    std::string helpFile_;
    DWORD helpContext_ = 0;
};

// The thread's current error object; released when the thread ends so a
// thread that never collects its error leaks nothing.
struct TCurrentErrorInfo {
    IErrorInfo* info = nullptr;
    ~TCurrentErrorInfo() {
        if (info != nullptr) info->Release();
    }
};

thread_local TCurrentErrorInfo currentErrorInfo;

}  // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** errorInfo) noexcept {
    if (errorInfo == nullptr) return E_INVALIDARG;
    *errorInfo = new (std::nothrow) TErrorInfo;
    return *errorInfo == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* errorInfo) noexcept {
    if (reserved != 0) return E_INVALIDARG;
    if (errorInfo != nullptr) errorInfo->AddRef();
    IErrorInfo* previous = currentErrorInfo.info;
    currentErrorInfo.info = errorInfo;
    if (previous != nullptr) previous->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** errorInfo) noexcept {
    if (errorInfo == nullptr || reserved != 0) return E_INVALIDARG;
    *errorInfo = currentErrorInfo.info;
    currentErrorInfo.info = nullptr;
    return *errorInfo == nullptr ? S_FALSE : S_OK;
}
