// Drives the object through IDispatch as a scripting host does, and as a
// broken or hostile one might: any DISPID, interface id and flags; any number
// of arguments, positional, named or both, named DISPIDs out of range or
// repeated; every VARIANT type (and type numbers the runtime does not know,
// by-reference and array flags included) holding NaN, infinities, denormals,
// huge or negative numbers, numbers and enumeration names as text, arbitrary
// text, or a missing-argument marker; null result, exception and argErr
// pointers. GetIDsOfNames gets arbitrary names, QueryInterface arbitrary ids.
//
// Promises checked: Invoke answers one of the documented HRESULTs; success
// comes with a finite VT_R8 result; DISP_E_EXCEPTION with an exception record
// whose code is the error table's and whose description is its text; argErr
// is written only for an argument error and names an argument that exists;
// every object and the module lock count are back where they started.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "automation/Module.h"
#include "automation/OptionsImpl.h"
#include "automation/TypeLibrary.h"
#include "core/ErrorCodes.h"

namespace kestrix::fuzz {
namespace {

// Type numbers of the platform's VARIANT the stand-in does not carry.
constexpr VARTYPE VT_I2 = 2, VT_R4 = 4, VT_CY = 6, VT_DATE = 7, VT_DISPATCH = 9, VT_VARIANT = 12,
                  VT_UNKNOWN = 13, VT_DECIMAL = 14, VT_I1 = 16, VT_UI1 = 17, VT_UI4 = 19, VT_I8 = 20, VT_INT = 22,
                  VT_ARRAY = 0x2000, VT_BYREF = 0x4000;

constexpr IID kSomeOtherIid{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

GUID DrawIid(FuzzedDataProvider& data) {
    static const IID kKnown[] = {IID_IUnknown,      IID_IDispatch, IID_IKestrix,     IID_ISupportErrorInfo,
                                 IID_IErrorInfo,    IID_IClassFactory, IID_NULL,     CLSID_Kestrix,
                                 LIBID_Quantora,    kSomeOtherIid};
    if (data.ConsumeIntegralInRange<int>(0, 7) != 0) return data.PickValueInArray(kKnown);
    GUID guid{};
    guid.Data1 = data.ConsumeIntegral<std::uint32_t>();
    guid.Data2 = data.ConsumeIntegral<std::uint16_t>();
    guid.Data3 = data.ConsumeIntegral<std::uint16_t>();
    for (auto& byte : guid.Data4) byte = data.ConsumeIntegral<std::uint8_t>();
    return guid;
}

// A name a host might spell: one of the library's (a method, a parameter, an
// enumeration member) in any letter case, or anything at all.
std::string DrawName(FuzzedDataProvider& data) {
    std::string name;
    switch (data.ConsumeIntegralInRange<int>(0, 4)) {
        case 0: name = typelib::kMethods[data.ConsumeIntegralInRange<std::size_t>(0, 7)].name; break;
        case 1: {
            const auto& method = typelib::kMethods[data.ConsumeIntegralInRange<std::size_t>(0, 7)];
            name = method.params[data.ConsumeIntegralInRange<std::size_t>(0, method.params.size() - 1)].name;
            break;
        }
        case 2: {
            const auto enumerations = Enumerations();
            const EnumDescription* enumeration =
                enumerations[data.ConsumeIntegralInRange<std::size_t>(0, enumerations.size() - 1)];
            name = enumeration->members[data.ConsumeIntegralInRange<std::size_t>(0, enumeration->members.size() - 1)]
                       .name;
            break;
        }
        case 3: name = kResultParamName; break;
        default: return data.ConsumeRandomLengthString(64);
    }
    for (char& c : name) {
        if (data.ConsumeBool()) c = static_cast<char>(c ^ 0x20);  // flips the case of a letter, garbles others
    }
    return name;
}

// Text a host might pass for a number or an enumeration value.
std::string DrawText(FuzzedDataProvider& data) {
    static constexpr const char* kTexts[] = {"",       " ",        "100",   " 0.25 ", "+5",   "-0",    "1e308",
                                             "1e309",  "-1e309",   "inf",   "nan",    "0x10", "1,5",   "++1",
                                             "+-1",    "4.9e-324", "1e-400", "2147483648", "-2147483649",
                                             "\t7\r\n", "Days",    "years", "CALLOPTION", "Straddle"};
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return data.PickValueInArray(kTexts);
        case 1: {
            char text[64];
            std::snprintf(text, sizeof text, "%.17g", InterestingDouble(data));
            return text;
        }
        case 2: return DrawName(data);
        default: return data.ConsumeRandomLengthString(48);  // may hold NULs: BSTRs carry their length
    }
}

// One argument; the caller frees it with VariantClear.
VARIANT DrawVariant(FuzzedDataProvider& data) {
    VARIANT v;
    VariantInit(&v);
    switch (data.ConsumeIntegralInRange<int>(0, 15)) {
        case 0: case 1: case 2: case 3:
            v.vt = VT_R8;
            v.dblVal = InterestingDouble(data);
            break;
        case 4: case 5:
            v.vt = VT_I4;
            v.lVal = data.ConsumeBool() ? InterestingEnum(data) : InterestingIterations(data);
            break;
        case 6: case 7: {
            v.vt = VT_BSTR;
            if (data.ConsumeIntegralInRange<int>(0, 15) == 0) {
                v.bstrVal = nullptr;  // the empty string
            } else {
                const std::string text = DrawText(data);
                v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            }
            break;
        }
        case 8:
            v.vt = VT_ERROR;
            v.scode = data.ConsumeBool() ? DISP_E_PARAMNOTFOUND : data.ConsumeIntegral<SCODE>();
            break;
        case 9:
            v.vt = VT_BOOL;
            v.boolVal = data.ConsumeBool() ? VARIANT_TRUE : data.ConsumeIntegral<VARIANT_BOOL>();
            break;
        case 10: v.vt = data.ConsumeBool() ? VT_EMPTY : VT_NULL; break;
        default: {
            // A type outside the subset: its payload is never to be read as
            // what the type number says (a by-reference pointer stays bogus).
            static constexpr VARTYPE kTypes[] = {VT_I2,      VT_R4,      VT_CY,     VT_DATE,           VT_DISPATCH,
                                                 VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1,            VT_UI1,
                                                 VT_UI4,     VT_I8,      VT_INT,    VT_BYREF | VT_R8,  VT_BYREF | VT_BSTR,
                                                 VT_BYREF | VT_VARIANT, VT_ARRAY | VT_R8, VT_BYREF | VT_I4};
            v.vt = data.ConsumeBool() ? data.PickValueInArray(kTypes) : data.ConsumeIntegral<VARTYPE>();
            if (v.vt == VT_BSTR) v.vt = VT_I4;  // a BSTR must hold one
            v.lVal = data.ConsumeIntegral<LONG>();
            break;
        }
    }
    return v;
}

bool Among(HRESULT hr, std::initializer_list<HRESULT> codes) {
    for (HRESULT code : codes) {
        if (hr == code) return true;
    }
    return false;
}

std::string Text(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

void FuzzInvoke(IDispatch* object, FuzzedDataProvider& data) {
    const MethodDescription* method = nullptr;
    DISPID dispid;
    if (data.ConsumeIntegralInRange<int>(0, 3) != 0) {
        method = &typelib::kMethods[data.ConsumeIntegralInRange<std::size_t>(0, std::size(typelib::kMethods) - 1)];
        dispid = method->dispid;
    } else {
        static constexpr DISPID kOthers[] = {-1, -4, -5, 8, 9, 100, 0x60020000,
                                             std::numeric_limits<DISPID>::min(), std::numeric_limits<DISPID>::max()};
        dispid = data.ConsumeBool() ? data.PickValueInArray(kOthers) : data.ConsumeIntegral<DISPID>();
        method = FindMethod(dispid);  // a drawn number may still be a method's
    }
    const std::size_t paramCount = method != nullptr ? method->params.size() : typelib::kMaxParams;

    const IID riid = data.ConsumeIntegralInRange<int>(0, 15) == 0 ? DrawIid(data) : IID_NULL;
    WORD flags = DISPATCH_METHOD;
    switch (data.ConsumeIntegralInRange<int>(0, 15)) {
        case 0: flags = DISPATCH_PROPERTYGET; break;
        case 1: flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET; break;
        case 2: flags = data.ConsumeIntegral<WORD>(); break;
        default: break;
    }

    // Mostly a plausible count; sometimes far more arguments than any method has.
    const UINT count = data.ConsumeIntegralInRange<int>(0, 15) == 0
                           ? data.ConsumeIntegralInRange<UINT>(0, 64)
                           : data.ConsumeIntegralInRange<UINT>(0, static_cast<UINT>(paramCount) + 2);
    UINT named = data.ConsumeIntegralInRange<UINT>(0, count);
    if (data.ConsumeIntegralInRange<int>(0, 31) == 0) named = count + data.ConsumeIntegralInRange<UINT>(1, 3);

    std::vector<VARIANT> args;
    args.reserve(count);
    for (UINT i = 0; i < count; ++i) args.push_back(DrawVariant(data));
    std::vector<DISPID> namedIds(named + 1, 0);
    for (UINT n = 0; n < named; ++n) {
        switch (data.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: namedIds[n] = n > 0 ? namedIds[data.ConsumeIntegralInRange<UINT>(0, n - 1)] : 0; break;
            case 1: namedIds[n] = data.ConsumeIntegral<DISPID>(); break;
            default:
                namedIds[n] = data.ConsumeIntegralInRange<DISPID>(-1, static_cast<DISPID>(paramCount));
                break;
        }
    }

    DISPPARAMS params{args.data(), namedIds.data(), count, named};
    if (count > 0 && data.ConsumeIntegralInRange<int>(0, 31) == 0) params.rgvarg = nullptr;
    if (named > 0 && data.ConsumeIntegralInRange<int>(0, 31) == 0) params.rgdispidNamedArgs = nullptr;
    const bool nullParams = data.ConsumeIntegralInRange<int>(0, 63) == 0;
    const bool wantResult = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    const bool wantExcepInfo = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    const bool wantArgErr = data.ConsumeIntegralInRange<int>(0, 7) != 0;

    if (Tracing()) {
        std::fprintf(stderr, "Invoke %d flags %u args %u named %u:", dispid, flags, count, named);
        for (UINT i = 0; i < count; ++i) {
            const VARIANT& arg = args[count - 1 - i];
            std::fprintf(stderr, " %s", i + named < count ? "" : "named ");
            if (arg.vt == VT_R8) std::fprintf(stderr, "%.17g", arg.dblVal);
            else if (arg.vt == VT_BSTR) std::fprintf(stderr, "'%s'", Text(arg.bstrVal).c_str());
            else std::fprintf(stderr, "vt%u:%d", arg.vt, arg.lVal);
        }
        for (UINT n = 0; n < named; ++n) std::fprintf(stderr, " id%d", namedIds[n]);
    }
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excepInfo{};
    constexpr UINT kUntouched = 0xDEADBEEF;
    UINT argErr = kUntouched;
    SetErrorInfo(0, nullptr);
    const HRESULT hr = object->Invoke(dispid, riid, LOCALE_USER_DEFAULT, flags, nullParams ? nullptr : &params,
                                      wantResult ? &result : nullptr, wantExcepInfo ? &excepInfo : nullptr,
                                      wantArgErr ? &argErr : nullptr);
    if (Tracing()) {
        std::fprintf(stderr, " -> 0x%08X %.17g scode 0x%08X\n", static_cast<unsigned>(hr),
                     result.vt == VT_R8 ? result.dblVal : 0.0, static_cast<unsigned>(excepInfo.scode));
    }
    KESTRIX_FUZZ_CHECK(Among(hr, {S_OK, DISP_E_EXCEPTION, DISP_E_UNKNOWNINTERFACE, DISP_E_MEMBERNOTFOUND,
                                  E_INVALIDARG, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTFOUND, DISP_E_PARAMNOTOPTIONAL,
                                  DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW}));
    if (method == nullptr) KESTRIX_FUZZ_CHECK(hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNINTERFACE);
    if (hr == S_OK && wantResult) {
        KESTRIX_FUZZ_CHECK(result.vt == VT_R8);
        KESTRIX_FUZZ_CHECK(std::isfinite(result.dblVal));
    }
    if (hr != S_OK && wantResult) KESTRIX_FUZZ_CHECK(result.vt == VT_EMPTY);
    if (hr == DISP_E_EXCEPTION && wantExcepInfo) {
        KESTRIX_FUZZ_CHECK(FAILED(excepInfo.scode));
        if (excepInfo.scode != DISP_E_EXCEPTION && excepInfo.scode != E_OUTOFMEMORY) {
            const char* expected = ErrorText(static_cast<enumOErrCodes>(excepInfo.scode));
            KESTRIX_FUZZ_CHECK(expected != nullptr);
            KESTRIX_FUZZ_CHECK(Text(excepInfo.bstrDescription) == expected);
            KESTRIX_FUZZ_CHECK(Text(excepInfo.bstrSource) == typelib::kProgId);
        }
    }
    if (hr != DISP_E_EXCEPTION && wantExcepInfo) {
        KESTRIX_FUZZ_CHECK(excepInfo.scode == 0 && excepInfo.bstrDescription == nullptr);
    }
    if (wantArgErr && argErr != kUntouched) {
        KESTRIX_FUZZ_CHECK(Among(hr, {DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW, DISP_E_PARAMNOTFOUND,
                                      DISP_E_BADPARAMCOUNT}));
        KESTRIX_FUZZ_CHECK(argErr < count || (argErr == 0 && hr == DISP_E_BADPARAMCOUNT));
    }

    ClearExcepInfo(&excepInfo);
    VariantClear(&result);
    for (VARIANT& arg : args) {
        if (arg.vt == VT_BSTR) VariantClear(&arg);
    }
}

void FuzzGetIDsOfNames(IDispatch* object, FuzzedDataProvider& data) {
    const UINT count = data.ConsumeIntegralInRange<UINT>(0, static_cast<UINT>(typelib::kMaxParams) + 3);
    std::vector<std::string> texts;
    std::vector<LPOLESTR> names;
    for (UINT i = 0; i < count; ++i) texts.push_back(DrawName(data));
    for (UINT i = 0; i < count; ++i) {
        names.push_back(data.ConsumeIntegralInRange<int>(0, 31) == 0 ? nullptr : texts[i].data());
    }
    std::vector<DISPID> ids(count + 1, 0x5A5A5A5A);
    const IID riid = data.ConsumeIntegralInRange<int>(0, 15) == 0 ? DrawIid(data) : IID_NULL;
    const bool nullNames = data.ConsumeIntegralInRange<int>(0, 31) == 0;
    const bool nullIds = data.ConsumeIntegralInRange<int>(0, 31) == 0;
    const HRESULT hr = object->GetIDsOfNames(riid, nullNames ? nullptr : names.data(), count, LOCALE_USER_DEFAULT,
                                             nullIds ? nullptr : ids.data());
    if (Tracing()) {
        std::fprintf(stderr, "GetIDsOfNames");
        for (UINT i = 0; i < count; ++i) std::fprintf(stderr, " '%s'=%d", names[i] ? names[i] : "(null)", ids[i]);
        std::fprintf(stderr, " -> 0x%08X\n", static_cast<unsigned>(hr));
    }
    KESTRIX_FUZZ_CHECK(Among(hr, {S_OK, DISP_E_UNKNOWNNAME, DISP_E_UNKNOWNINTERFACE, E_INVALIDARG}));
    if (hr == S_OK || hr == DISP_E_UNKNOWNNAME) {
        const MethodDescription* method = FindMethod(ids[0]);
        KESTRIX_FUZZ_CHECK(method != nullptr || ids[0] == DISPID_UNKNOWN);
        for (UINT i = 1; i < count; ++i) {
            KESTRIX_FUZZ_CHECK(ids[i] == DISPID_UNKNOWN ||
                               (method != nullptr && ids[i] >= 0 &&
                                static_cast<std::size_t>(ids[i]) < method->params.size()));
        }
        KESTRIX_FUZZ_CHECK(ids[count] == 0x5A5A5A5A);  // nothing written past the last name
    }
}

void FuzzInterfaces(IDispatch* object, FuzzedDataProvider& data) {
    const IID iid = DrawIid(data);
    IUnknown* other = nullptr;
    const HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&other));
    if (SUCCEEDED(hr)) {
        KESTRIX_FUZZ_CHECK(other != nullptr);
        if (iid == IID_ISupportErrorInfo) {
            const HRESULT supports = static_cast<ISupportErrorInfo*>(other)->InterfaceSupportsErrorInfo(DrawIid(data));
            KESTRIX_FUZZ_CHECK(supports == S_OK || supports == S_FALSE);
        }
        KESTRIX_FUZZ_CHECK(other->Release() > 0);
    } else {
        KESTRIX_FUZZ_CHECK(hr == E_NOINTERFACE && other == nullptr);
    }
    UINT typeCount = 7;
    KESTRIX_FUZZ_CHECK(object->GetTypeInfoCount(&typeCount) == S_OK && typeCount == 0);
    ITypeInfo* typeInfo = reinterpret_cast<ITypeInfo*>(&typeCount);
    KESTRIX_FUZZ_CHECK(object->GetTypeInfo(data.ConsumeIntegral<UINT>(), 0, &typeInfo) == DISP_E_BADINDEX);
    KESTRIX_FUZZ_CHECK(typeInfo == nullptr);
}

}  // namespace
}  // namespace kestrix::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrix::fuzz::UsePrivateRegistry(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    using namespace kestrix;
    using namespace kestrix::fuzz;
    FuzzedDataProvider data(bytes, size);
    const long locksBefore = ModuleLockCount();

    IDispatch* object = nullptr;
    const IID first = DrawIid(data);
    void* created = nullptr;
    const HRESULT hr = TOptionsImpl::CreateInstance(nullptr, first, &created);
    if (FAILED(hr)) {
        KESTRIX_FUZZ_CHECK(hr == E_NOINTERFACE && created == nullptr);
        KESTRIX_FUZZ_CHECK(ModuleLockCount() == locksBefore);
        KESTRIX_FUZZ_CHECK(TOptionsImpl::CreateInstance(nullptr, IID_IDispatch, &created) == S_OK);
        object = static_cast<IDispatch*>(created);
    } else if (first == IID_ISupportErrorInfo) {
        auto* support = static_cast<ISupportErrorInfo*>(created);
        KESTRIX_FUZZ_CHECK(support->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object)) == S_OK);
        KESTRIX_FUZZ_CHECK(support->Release() == 1);
    } else {
        object = static_cast<IDispatch*>(created);  // IUnknown, IDispatch and IKestrix share the one table
    }

    for (int step = 0; step < 6 && data.remaining_bytes() > 0; ++step) {
        switch (data.ConsumeIntegralInRange<int>(0, 7)) {
            case 0: FuzzGetIDsOfNames(object, data); break;
            case 1: FuzzInterfaces(object, data); break;
            default: FuzzInvoke(object, data); break;
        }
        DrainErrorInfo();
    }
    KESTRIX_FUZZ_CHECK(object->Release() == 0);
    KESTRIX_FUZZ_CHECK(ModuleLockCount() == locksBefore);
    return 0;
}
