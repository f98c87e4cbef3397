#include "automation/OptionsImpl.h"

#include <cmath>
#include <cstring>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "automation/Module.h"
#include "core/ErrorCodes.h"
#include "launch/LaunchOutcome.h"
#include "launch/MethodRequests.h"
#include "launch/PlainOptionLaunch.h"
#include "platform/ComRuntime.h"
#ifdef _WIN32
#include "automation/win32/ModuleTypeInfo.h"
#endif

namespace kestrix {

namespace {

// Installs error information for a failed pricing call, filled in the order
// identifier, source, help context and file, description; returns the
// method's HRESULT. The source is the class's registered programmatic
// identifier, looked up now and left out when the class is not registered.
HRESULT ReportFailure(const MethodDescription& method, const char* message, HRESULT code) noexcept {
    ICreateErrorInfo* createInfo = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&createInfo))) {
        createInfo->SetGUID(IID_IKestrix);
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(CLSID_Kestrix, &progId))) {
            createInfo->SetSource(progId);
            CoTaskMemFree(progId);
        }
        createInfo->SetHelpContext(method.helpContext);
        createInfo->SetHelpFile(OleText(typelib::kHelpFile));
        createInfo->SetDescription(OleText(message));
        IErrorInfo* errorInfo = nullptr;
        if (SUCCEEDED(createInfo->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&errorInfo)))) {
            SetErrorInfo(0, errorInfo);
            errorInfo->Release();
        }
        createInfo->Release();
    }
    return code;
}

}  // namespace

static_assert(kFailureWithoutCode == DISP_E_EXCEPTION && kOutOfMemoryCode == E_OUTOFMEMORY &&
              kUnexpectedCode == E_UNEXPECTED);

HRESULT PriceRequest(const MethodDescription& method, PricingRequest&& request, double* result,
                     LaunchFunction launch) noexcept {
    if (result == nullptr) return E_POINTER;
    const LaunchOutcome outcome = SettleLaunch(request, launch);
    if (outcome.code == 0) {
        *result = outcome.value;
        return S_OK;
    }
    return outcome.message != nullptr ? ReportFailure(method, outcome.message, outcome.code) : outcome.code;
}

namespace {

// One argument after conversion to its declared type.
struct ArgValue {
    double number = 0;
    std::int32_t integer = 0;
};

template <typename T>
T ArgAs(const ArgValue& arg) noexcept {
    if constexpr (std::is_same_v<T, double>) {
        return arg.number;
    } else {
        return static_cast<T>(arg.integer);
    }
}

template <typename T>
constexpr bool KindMatches(ParamKind kind) {
    if constexpr (std::is_same_v<T, double>) return kind == ParamKind::Double;
    if constexpr (std::is_same_v<T, std::int32_t>) return kind == ParamKind::Int;
    if constexpr (std::is_enum_v<T>) return kind == ParamKind::Enum && sizeof(T) == sizeof(std::int32_t);
    return false;
}

// True when the C++ signature of a method is the type library's: the same
// number of parameters, each of the declared kind, then the double* Result_.
template <typename... A, std::size_t... I>
constexpr bool Matches(HRESULT (STDMETHODCALLTYPE IKestrix::*)(A...), const MethodDescription& method,
                       std::index_sequence<I...>) {
    using Params = std::tuple<A...>;
    return method.params.size() == sizeof...(I) &&
           std::is_same_v<std::tuple_element_t<sizeof...(A) - 1, Params>, double*> &&
           (KindMatches<std::tuple_element_t<I, Params>>(method.params[I].kind) && ...);
}
template <typename... A>
constexpr bool Matches(HRESULT (STDMETHODCALLTYPE IKestrix::*fn)(A...), const MethodDescription& method) {
    return Matches(fn, method, std::make_index_sequence<sizeof...(A) - 1>{});
}

template <typename... A, std::size_t... I>
HRESULT CallWithArgs(IKestrix* self, HRESULT (STDMETHODCALLTYPE IKestrix::*fn)(A...), const ArgValue* args,
                     double* result, std::index_sequence<I...>) {
    using Params = std::tuple<A...>;
    return (self->*fn)(ArgAs<std::tuple_element_t<I, Params>>(args[I])..., result);
}

template <typename... A>
HRESULT CallWithArgs(IKestrix* self, HRESULT (STDMETHODCALLTYPE IKestrix::*fn)(A...), const ArgValue* args,
                     double* result) {
    return CallWithArgs(self, fn, args, result, std::make_index_sequence<sizeof...(A) - 1>{});
}

template <auto Fn>
HRESULT CallMethod(IKestrix* self, const ArgValue* args, double* result) {
    return CallWithArgs(self, Fn, args, result);
}

// Invoke's way to each method through the function table, in the type
// library's order; each binding is checked against its row at compile time.
struct MethodBinding {
    const char* name;
    HRESULT (*call)(IKestrix*, const ArgValue*, double*);
    bool signatureMatches;
};

#define KESTRIX_BIND(method) \
    MethodBinding { #method, &CallMethod<&IKestrix::method>, Matches(&IKestrix::method, typelib::Method(#method)) }

constexpr MethodBinding kBindings[] = {KESTRIX_BIND(GenBS),      KESTRIX_BIND(FrenchBS),
                                       KESTRIX_BIND(Binomial),   KESTRIX_BIND(Whaley),
                                       KESTRIX_BIND(BSAmerican), KESTRIX_BIND(JumpDiffusion),
                                       KESTRIX_BIND(AmericanCall), KESTRIX_BIND(Eurodollar)};

#undef KESTRIX_BIND

constexpr bool BindingsFollowTheTypeLibrary() {
    if (std::size(kBindings) != std::size(typelib::kMethods)) return false;
    for (std::size_t i = 0; i < std::size(kBindings); ++i) {
        if (std::string_view(kBindings[i].name) != typelib::kMethods[i].name) return false;
        if (!kBindings[i].signatureMatches) return false;
    }
    return true;
}
static_assert(BindingsFollowTheTypeLibrary(), "IKestrix and the type library disagree");

bool Missing(const VARIANT* arg) noexcept {
    return arg == nullptr || (arg->vt == VT_ERROR && arg->scode == DISP_E_PARAMNOTFOUND);
}

// Finds the argument of each of the method's parameters in `params`:
// supplied[i] stays null for a parameter the caller left out, suppliedAt[i]
// is the argument's index in rgvarg. On failure `argErr` (when given)
// receives the index of the offending argument.
HRESULT PlaceArguments(const MethodDescription& method, const DISPPARAMS& params, const VARIANT** supplied,
                       UINT* suppliedAt, UINT* argErr) noexcept {
    const UINT count = params.cArgs;
    const UINT named = params.cNamedArgs;
    if ((count > 0 && params.rgvarg == nullptr) || named > count ||
        (named > 0 && params.rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    const auto fail = [argErr](HRESULT hr, UINT index) {
        if (argErr != nullptr) *argErr = index;
        return hr;
    };
    const UINT positional = count - named;
    if (positional > method.params.size()) return fail(DISP_E_BADPARAMCOUNT, 0);

    for (UINT p = 0; p < positional; ++p) {
        supplied[p] = &params.rgvarg[count - 1 - p];
        suppliedAt[p] = count - 1 - p;
    }
    for (UINT n = 0; n < named; ++n) {
        const DISPID position = params.rgdispidNamedArgs[n];
        // An unknown parameter, or one already given, has no free place.
        if (position < 0 || static_cast<std::size_t>(position) >= method.params.size() ||
            supplied[position] != nullptr) {
            return fail(DISP_E_PARAMNOTFOUND, n);
        }
        supplied[position] = &params.rgvarg[n];
        suppliedAt[position] = n;
    }
    return S_OK;
}

#ifdef _WIN32

// The position of the first supplied argument that does not convert to its
// parameter's declared type (0 when all do).
UINT UnconvertibleArgument(const MethodDescription& method, const VARIANT* const* supplied) noexcept {
    for (UINT i = 0; i < method.params.size(); ++i) {
        if (Missing(supplied[i])) continue;
        VARIANT converted;
        VariantInit(&converted);
        // The platform declares the source writable; it is only read.
        const HRESULT hr = VariantChangeType(&converted, const_cast<VARIANT*>(supplied[i]), 0,
                                             method.params[i].kind == ParamKind::Double ? VT_R8 : VT_I4);
        VariantClear(&converted);
        if (FAILED(hr)) return i;
    }
    return 0;
}

#else

// Converts one supplied argument to its parameter's declared type. An
// enumeration parameter takes a member's name as well as a number.
HRESULT ConvertArgument(const ParamDescription& param, const VARIANT& source, ArgValue& value) noexcept {
    // Hosts mostly pass each argument in its declared type already; taking it
    // as it is gives the conversion's value without its round trip through a
    // temporary VARIANT, which was most of Invoke's own cost.
    if (param.kind == ParamKind::Double && source.vt == VT_R8) {
        value.number = source.dblVal;
        return S_OK;
    }
    if (param.kind != ParamKind::Double && source.vt == VT_I4) {
        value.integer = source.lVal;
        return S_OK;
    }
    if (param.kind == ParamKind::Enum && source.vt == VT_BSTR) {
        const std::string_view text(source.bstrVal == nullptr ? "" : source.bstrVal, SysStringLen(source.bstrVal));
        if (const EnumMember* member = FindMember(*param.enumeration, text)) {
            value.integer = member->value;
            return S_OK;
        }
    }
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr =
        VariantChangeType(&converted, &source, 0, param.kind == ParamKind::Double ? VT_R8 : VT_I4);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    if (param.kind == ParamKind::Double) {
        value.number = converted.dblVal;
    } else {
        value.integer = converted.lVal;
    }
    return S_OK;
}

// Places every argument of `params` at its parameter's position and converts
// it. On failure `argErr` (when given) receives the index in rgvarg of the
// offending argument.
HRESULT ConvertArguments(const MethodDescription& method, const DISPPARAMS& params, ArgValue* values,
                         UINT* argErr) noexcept {
    const VARIANT* supplied[typelib::kMaxParams] = {};
    UINT suppliedAt[typelib::kMaxParams] = {};
    if (const HRESULT hr = PlaceArguments(method, params, supplied, suppliedAt, argErr); FAILED(hr)) return hr;

    for (std::size_t i = 0; i < method.params.size(); ++i) {
        const ParamDescription& param = method.params[i];
        values[i] = ArgValue{};
        if (Missing(supplied[i])) {
            if (!param.optional) return DISP_E_PARAMNOTOPTIONAL;
            continue;  // omitted optional: 0
        }
        if (const HRESULT hr = ConvertArgument(param, *supplied[i], values[i]); FAILED(hr)) {
            if (argErr != nullptr) *argErr = suppliedAt[i];
            return hr;
        }
    }
    return S_OK;
}

// The exception record of a failed method, from the error information it
// installed (when there is any).
void FillExcepInfo(HRESULT hr, EXCEPINFO* excepInfo) noexcept {
    if (excepInfo == nullptr) return;
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = hr;
    IErrorInfo* errorInfo = nullptr;
    if (GetErrorInfo(0, &errorInfo) != S_OK) return;
    errorInfo->GetSource(&excepInfo->bstrSource);
    errorInfo->GetDescription(&excepInfo->bstrDescription);
    errorInfo->GetHelpFile(&excepInfo->bstrHelpFile);
    errorInfo->GetHelpContext(&excepInfo->dwHelpContext);
    errorInfo->Release();
}

#endif  // _WIN32

constexpr const MethodDescription& kGenBS = typelib::Method("GenBS");
constexpr const MethodDescription& kFrenchBS = typelib::Method("FrenchBS");
constexpr const MethodDescription& kBinomial = typelib::Method("Binomial");
constexpr const MethodDescription& kWhaley = typelib::Method("Whaley");
constexpr const MethodDescription& kBSAmerican = typelib::Method("BSAmerican");
constexpr const MethodDescription& kJumpDiffusion = typelib::Method("JumpDiffusion");
constexpr const MethodDescription& kAmericanCall = typelib::Method("AmericanCall");
constexpr const MethodDescription& kEurodollar = typelib::Method("Eurodollar");

}  // namespace

TOptionsImpl::TOptionsImpl() noexcept { LockModule(); }

TOptionsImpl::~TOptionsImpl() { UnlockModule(); }

HRESULT TOptionsImpl::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* instance = new (std::nothrow) TOptionsImpl;
    if (instance == nullptr) return E_OUTOFMEMORY;
    instance->AddRef();
    const HRESULT hr = instance->QueryInterface(riid, object);
    instance->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IKestrix) {
        *object = static_cast<IKestrix*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE TOptionsImpl::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE TOptionsImpl::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

#ifdef _WIN32

// IDispatch is the type library's: names are looked up in it and DispInvoke
// converts the arguments and calls through the function table.

HRESULT STDMETHODCALLTYPE TOptionsImpl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::GetTypeInfo(UINT index, LCID /*lcid*/, ITypeInfo** typeInfo) {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    ITypeInfo* dispatchInfo = win32::DispatchTypeInfo();
    if (dispatchInfo == nullptr) return TYPE_E_CANTLOADLIBRARY;
    dispatchInfo->AddRef();
    *typeInfo = dispatchInfo;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID /*lcid*/,
                                                      DISPID* dispIds) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* dispatchInfo = win32::DispatchTypeInfo();
    if (dispatchInfo == nullptr) return TYPE_E_CANTLOADLIBRARY;
    return DispGetIDsOfNames(dispatchInfo, names, nameCount, dispIds);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD flags,
                                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                               UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const MethodDescription* method = FindMethod(dispIdMember);
    if (method == nullptr || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr) return E_INVALIDARG;
    ITypeInfo* interfaceInfo = win32::InterfaceTypeInfo();
    if (interfaceInfo == nullptr) return TYPE_E_CANTLOADLIBRARY;

    // The type library declares no default values, so the runtime has nothing
    // to pass for an omitted optional parameter: every parameter receives the
    // caller's argument or, left out, 0 of its declared type.
    const VARIANT* supplied[typelib::kMaxParams] = {};
    UINT suppliedAt[typelib::kMaxParams] = {};
    if (const HRESULT hr = PlaceArguments(*method, *params, supplied, suppliedAt, argErr); FAILED(hr)) return hr;
    const UINT count = static_cast<UINT>(method->params.size());
    VARIANTARG arguments[typelib::kMaxParams];
    for (UINT i = 0; i < count; ++i) {
        VARIANTARG& argument = arguments[count - 1 - i];  // positional arguments come last first
        if (Missing(supplied[i])) {
            if (!method->params[i].optional) return DISP_E_PARAMNOTOPTIONAL;
            VariantInit(&argument);
            if (method->params[i].kind == ParamKind::Double) {
                argument.vt = VT_R8;
                argument.dblVal = 0;
            } else {
                argument.vt = VT_I4;
                argument.lVal = 0;
            }
        } else {
            argument = *supplied[i];  // borrowed: DispInvoke converts copies
        }
    }
    DISPPARAMS all{arguments, nullptr, count, 0};

    // Whatever error information the thread holds afterwards is this call's.
    SetErrorInfo(0, nullptr);
    UINT at = count;
    const HRESULT hr = DispInvoke(static_cast<IKestrix*>(this), interfaceInfo, dispIdMember, flags, &all, result,
                                  excepInfo, &at);
    if ((hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) && argErr != nullptr) {
        if (at >= count) at = count - 1 - UnconvertibleArgument(*method, supplied);  // the runtime did not say
        *argErr = suppliedAt[count - 1 - at];
    }
    return hr;
}

#else

HRESULT STDMETHODCALLTYPE TOptionsImpl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::GetTypeInfo(UINT /*index*/, LCID /*lcid*/, ITypeInfo** typeInfo) {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID /*lcid*/,
                                                      DISPID* dispIds) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (names == nullptr || dispIds == nullptr || nameCount == 0) return E_INVALIDARG;
    const auto text = [names](UINT i) { return std::string_view(names[i] == nullptr ? "" : names[i]); };
    const MethodDescription* method = FindMethod(text(0));
    HRESULT hr = S_OK;
    dispIds[0] = method != nullptr ? method->dispid : DISPID_UNKNOWN;
    if (method == nullptr) hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < nameCount; ++i) {
        // A parameter's DISPID is its position among the method's parameters.
        const int position = method != nullptr ? FindParam(*method, text(i)) : -1;
        dispIds[i] = position >= 0 ? position : DISPID_UNKNOWN;
        if (position < 0) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::Invoke(DISPID dispIdMember, REFIID riid, LCID /*lcid*/, WORD flags,
                                               DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                               UINT* argErr) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    const MethodDescription* method = FindMethod(dispIdMember);
    if (method == nullptr || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr) return E_INVALIDARG;

    ArgValue values[typelib::kMaxParams];
    if (const HRESULT hr = ConvertArguments(*method, *params, values, argErr); FAILED(hr)) return hr;

    // Whatever error information the thread holds afterwards is this call's.
    SetErrorInfo(0, nullptr);
    double value = 0;
    const auto& binding = kBindings[static_cast<std::size_t>(method - typelib::kMethods)];
    const HRESULT hr = binding.call(this, values, &value);
    if (FAILED(hr)) {
        FillExcepInfo(hr, excepInfo);
        return DISP_E_EXCEPTION;
    }
    if (result != nullptr) {
        VariantInit(result);
        result->vt = VT_R8;
        result->dblVal = value;
    }
    return hr;
}

#endif  // _WIN32

HRESULT STDMETHODCALLTYPE TOptionsImpl::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_IKestrix ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::GenBS(enumExerciseType ExerciseType, enumOptionType OptionType,
                            enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                            double TimeExpire, double Volatility, double InterestRate, double YieldRate,
                            double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                            double TimeExDividend, double DividendFrequency, enumDividendStyle DividendStyle,
                            enumCompoundRate InterestRateType, enumCompoundRate YieldRateType, double* Result_) {
    return PriceRequest(kGenBS,
                 FillGenBS(ExerciseType, OptionType, OptionFunction, AssetPrice, StrikePrice, TimeExpire, Volatility,
                           InterestRate, YieldRate, MarketPrice, TimeFormat, DividendAmount, TimeExDividend,
                           DividendFrequency, DividendStyle, InterestRateType, YieldRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::FrenchBS(enumExerciseType ExerciseType, enumOptionType OptionType,
                               enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                               double TimeTrading, double TimeExpire, double Volatility, double InterestRate,
                               double YieldRate, double MarketPrice, enumTimeFormat TimeFormat,
                               double DividendAmount, double TimeExDividend, double DividendFrequency,
                               enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                               enumCompoundRate YieldRateType, double* Result_) {
    return PriceRequest(kFrenchBS,
                 FillFrenchBS(ExerciseType, OptionType, OptionFunction, AssetPrice, StrikePrice, TimeTrading,
                              TimeExpire, Volatility, InterestRate, YieldRate, MarketPrice, TimeFormat,
                              DividendAmount, TimeExDividend, DividendFrequency, DividendStyle, InterestRateType,
                              YieldRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::Binomial(enumExerciseType ExerciseType, enumOptionType OptionType,
                               enumOptionFunctions OptionFunction, std::int32_t Iterations, double AssetPrice,
                               double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                               double YieldRate, double MarketPrice, enumTimeFormat TimeFormat,
                               double DividendAmount, double TimeExDividend, double DividendFrequency,
                               enumDividendStyleBin DividendStyle, enumCompoundRate InterestRateType,
                               enumCompoundRate YieldRateType, double* Result_) {
    return PriceRequest(kBinomial,
                 FillBinomial(ExerciseType, OptionType, OptionFunction, Iterations, AssetPrice, StrikePrice,
                              TimeExpire, Volatility, InterestRate, YieldRate, MarketPrice, TimeFormat,
                              DividendAmount, TimeExDividend, DividendFrequency, DividendStyle, InterestRateType,
                              YieldRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::Whaley(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                               double AssetPrice, double StrikePrice, double TimeExpire,
                                               double Volatility, double InterestRate, double YieldRate,
                                               double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                                               double TimeExDividend, double DividendFrequency,
                                               enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                               enumCompoundRate YieldRateType, double* Result_) {
    return PriceRequest(kWhaley,
                 FillWhaley(OptionType, OptionFunction, AssetPrice, StrikePrice, TimeExpire, Volatility,
                            InterestRate, YieldRate, MarketPrice, TimeFormat, DividendAmount, TimeExDividend,
                            DividendFrequency, DividendStyle, InterestRateType, YieldRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::BSAmerican(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                                   double AssetPrice, double StrikePrice, double TimeExpire,
                                                   double Volatility, double InterestRate, double YieldRate,
                                                   double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                                                   double TimeExDividend, double DividendFrequency,
                                                   enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                                   enumCompoundRate YieldRateType, double* Result_) {
    return PriceRequest(kBSAmerican,
                 FillBSAmerican(OptionType, OptionFunction, AssetPrice, StrikePrice, TimeExpire, Volatility,
                                InterestRate, YieldRate, MarketPrice, TimeFormat, DividendAmount, TimeExDividend,
                                DividendFrequency, DividendStyle, InterestRateType, YieldRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::JumpDiffusion(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                    double AssetPrice, double StrikePrice, double TimeExpire, double Volatility,
                                    double JumpsPerYear, double PercentTotalVol, double InterestRate,
                                    double YieldRate, double MarketPrice, enumTimeFormat TimeFormat,
                                    double DividendAmount, double TimeExDividend, double DividendFrequency,
                                    enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                    enumCompoundRate YieldRateType, double* Result_) {
    return PriceRequest(kJumpDiffusion,
                 FillJumpDiffusion(OptionType, OptionFunction, AssetPrice, StrikePrice, TimeExpire, Volatility,
                                   JumpsPerYear, PercentTotalVol, InterestRate, YieldRate, MarketPrice, TimeFormat,
                                   DividendAmount, TimeExDividend, DividendFrequency, DividendStyle,
                                   InterestRateType, YieldRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::AmericanCall(enumOptionFunctions OptionFunction, double AssetPrice,
                                                     double StrikePrice, double TimeExpire, double Volatility,
                                                     double InterestRate, double MarketPrice, enumTimeFormat TimeFormat,
                                                     double DividendAmount, double TimeExDividend,
                                                     double DividendFrequency, enumCompoundRate InterestRateType,
                                                     double* Result_) {
    return PriceRequest(kAmericanCall,
                 FillAmericanCall(OptionFunction, AssetPrice, StrikePrice, TimeExpire, Volatility, InterestRate,
                                  MarketPrice, TimeFormat, DividendAmount, TimeExDividend, DividendFrequency,
                                  InterestRateType),
                 Result_);
}

HRESULT STDMETHODCALLTYPE TOptionsImpl::Eurodollar(enumEurodollarModel Model, enumExerciseType ExerciseType,
                                 enumOptionType OptionType, enumOptionFunctions OptionFunction, double AssetPrice,
                                 double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                                 std::int32_t Iterations, double MarketPrice, enumTimeFormat TimeFormat,
                                 enumCompoundRate InterestRateType, double* Result_) {
    return PriceRequest(kEurodollar,
                 FillEurodollar(Model, ExerciseType, OptionType, OptionFunction, AssetPrice, StrikePrice,
                                TimeExpire, Volatility, InterestRate, Iterations, MarketPrice, TimeFormat,
                                InterestRateType),
                 Result_);
}

}  // namespace kestrix
