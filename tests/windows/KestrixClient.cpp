// kestrix-client: a C++ client of the registered Kestrix.dll, run under Wine.
// It calls IKestrix through its function table and through IDispatch and
// compares both with the pricing code linked in directly, reads the error
// information of failed calls, checks the embedded type library against the
// type-library table, and watches DllCanUnloadNow around object lifetimes.
//
//   kestrix-client PATH\Kestrix.dll
//
// Prints each failed check and a closing "N passed, N failed"; exit status 1
// when a check failed.
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "automation/Kestrix.h"
#include "core/ErrorCodes.h"
#include "launch/MethodRequests.h"
#include "launch/PlainOptionLaunch.h"

namespace {

using namespace kestrix;

int passed = 0;
int failed = 0;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s\n", what.c_str());
    }
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != L'\0'; ++text) out += static_cast<char>(*text);
    return out;
}

std::string Take(BSTR text) {
    std::string out = Narrow(text);
    SysFreeString(text);
    return out;
}

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

// ---- One request, three ways -------------------------------------------------

// A request's arguments in the interface's order (enumerations and integers
// as whole numbers).
struct Request {
    const char* method;
    std::vector<double> args;
};

template <typename T>
T As(double value) {
    if constexpr (std::is_same_v<T, double>) {
        return value;
    } else {
        return static_cast<T>(static_cast<std::int32_t>(value));
    }
}

template <typename... A, std::size_t... I>
HRESULT CallTable(IKestrix* object, HRESULT (STDMETHODCALLTYPE IKestrix::*method)(A...), const double* args,
                  double* result, std::index_sequence<I...>) {
    using Params = std::tuple<A...>;
    return (object->*method)(As<std::tuple_element_t<I, Params>>(args[I])..., result);
}

template <typename... A, std::size_t... I>
PricingRequest Fill(PricingRequest (*fill)(A...), const double* args, std::index_sequence<I...>) {
    using Params = std::tuple<A...>;
    return fill(As<std::tuple_element_t<I, Params>>(args[I])...);
}

#define KESTRIX_METHOD(name)                                                                                    \
    {                                                                                                           \
        #name,                                                                                                  \
            [](IKestrix* object, const double* args, double* result) {                                          \
                return CallTable(object, &IKestrix::name, args, result,                                         \
                                 std::make_index_sequence<typelib::Method(#name).params.size()>{});             \
            },                                                                                                  \
            [](const double* args) {                                                                            \
                return Fill(&Fill##name, args, std::make_index_sequence<typelib::Method(#name).params.size()>{}); \
            }                                                                                                   \
    }

struct MethodCalls {
    const char* name;
    HRESULT (*table)(IKestrix*, const double*, double*);
    PricingRequest (*fill)(const double*);
};

const MethodCalls kCalls[] = {KESTRIX_METHOD(GenBS),         KESTRIX_METHOD(FrenchBS),
                              KESTRIX_METHOD(Binomial),      KESTRIX_METHOD(Whaley),
                              KESTRIX_METHOD(BSAmerican),    KESTRIX_METHOD(JumpDiffusion),
                              KESTRIX_METHOD(AmericanCall),  KESTRIX_METHOD(Eurodollar)};

#undef KESTRIX_METHOD

const MethodCalls& CallsOf(const char* name) {
    for (const auto& calls : kCalls) {
        if (std::string(calls.name) == name) return calls;
    }
    return kCalls[0];
}

// The arguments padded with 0 for omitted trailing optional parameters.
std::vector<double> Padded(const Request& request) {
    std::vector<double> args = request.args;
    args.resize(FindMethod(request.method)->params.size(), 0.0);
    return args;
}

// What the pricing code itself answers: the value, or the failure's code.
struct Direct {
    HRESULT hr = S_OK;
    double value = 0;
};

Direct PriceDirectly(const Request& request) {
    const std::vector<double> args = Padded(request);
    PricingRequest filled = CallsOf(request.method).fill(args.data());
    Direct direct;
    try {
        LaunchPlainOption(filled, ErrorCode, direct.value);
        if (!std::isfinite(direct.value)) direct.value = 0;
    } catch (const PricingFailure& failure) {
        direct.value = 0;
        if (std::string(failure.Message()) != kInvalidOpMessage)
            direct.hr = ErrorCode != 0 ? ErrorCode : DISP_E_EXCEPTION;
    }
    return direct;
}

HRESULT PriceThroughTable(IKestrix* object, const Request& request, double* result) {
    const std::vector<double> args = Padded(request);
    return CallsOf(request.method).table(object, args.data(), result);
}

// IDispatch by name with positional arguments, as a script calls; only the
// arguments the request lists are passed.
HRESULT PriceThroughDispatch(IDispatch* object, const Request& request, double* result, EXCEPINFO* excepInfo) {
    const MethodDescription* method = FindMethod(request.method);
    std::wstring name(request.method, request.method + std::string(request.method).size());
    LPOLESTR names[] = {name.data()};
    DISPID dispid = DISPID_UNKNOWN;
    if (const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid); FAILED(hr)) {
        return hr;
    }
    const UINT count = static_cast<UINT>(request.args.size());
    std::vector<VARIANT> args(count);
    for (UINT i = 0; i < count; ++i) {
        VARIANT& arg = args[count - 1 - i];
        VariantInit(&arg);
        if (method->params[i].kind == ParamKind::Double) {
            arg.vt = VT_R8;
            arg.dblVal = request.args[i];
        } else {
            arg.vt = VT_I4;
            arg.lVal = static_cast<LONG>(request.args[i]);
        }
    }
    DISPPARAMS params{args.data(), nullptr, count, 0};
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr =
        object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &value, excepInfo, nullptr);
    if (SUCCEEDED(hr)) *result = value.vt == VT_R8 ? value.dblVal : NAN;
    VariantClear(&value);
    return hr;
}

std::string Describe(const Request& request) {
    std::string text = request.method;
    for (const double arg : request.args) {
        char number[32];
        std::snprintf(number, sizeof number, " %.17g", arg);
        text += number;
    }
    return text;
}

// Requests of every method: values, sensitivities, implied values, American
// exercise, dividends, quoted rates; and one that a check refuses.
const Request kRequests[] = {
    {"GenBS", {1, 1, 1, 100, 100, 1, 0.2, 0.05, 0, 0, 1}},
    {"GenBS", {1, 2, 2, 100, 95, 0.5, 0.25, 0.05, 0.02, 0, 1}},
    {"GenBS", {0, 2, 1, 100, 110, 182, 0.3, 0.06, 0, 0, 0, 2, 45, 0, 0, 7, 7}},
    {"GenBS", {1, 1, 5, 100, 100, 1, 0.2, 0.05, 0, 10.45, 1}},
    {"FrenchBS", {1, 1, 4, 100, 100, 180, 250, 0.2, 0.05, 0.01}},
    {"Binomial", {0, 2, 1, 100, 7, 100, 110, 1, 0.25, 0.05, 0, 0, 1}},
    {"Binomial", {0, 2, 3, 200, 100, 100, 1, 0.25, 0.05, 0.02, 0, 1, 0, 0, 0, 3}},
    {"Whaley", {2, 1, 90, 100, 0.5, 0.3, 0.08, 0.04, 0, 1}},
    {"BSAmerican", {1, 6, 110, 100, 0.75, 0.2, 0.05, 0.06, 0, 1}},
    {"JumpDiffusion", {1, 1, 100, 100, 0.5, 0.25, 5, 0.4, 0.05, 0, 0, 1}},
    {"AmericanCall", {1, 80, 75, 0.5, 0.3, 0.06, 0, 1, 2, 0.25}},
    {"Eurodollar", {1, 1, 2, 1, 94.5, 95, 0.25, 0.15, 0.05, 50, 0, 1}},
    {"Eurodollar", {2, 0, 1, 1, 94.5, 95, 90, 0.15, 0.05, 25}},
    {"GenBS", {1, 1, 1, 100, 0, 1, 0.2, 0.05, 0, 0, 1}},
};

// ---- The checks ---------------------------------------------------------------

// DllCanUnloadNow follows the objects and factory locks, not factory
// references; the factory makes one object per request and no aggregates.
void CheckModuleLifetime(const wchar_t* dllPath) {
    HMODULE library = LoadLibraryW(dllPath);
    Check(library != nullptr, "LoadLibrary of Kestrix.dll");
    if (library == nullptr) return;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    // Through void*: the entry's real type is not GetProcAddress's.
    const auto entry = [library](const char* name) { return reinterpret_cast<void*>(GetProcAddress(library, name)); };
    const auto getClassObject = reinterpret_cast<GetClassObject>(entry("DllGetClassObject"));
    const auto canUnloadNow = reinterpret_cast<CanUnloadNow>(entry("DllCanUnloadNow"));
    Check(getClassObject != nullptr && canUnloadNow != nullptr, "the Dll entry points are exported by name");
    Check(GetProcAddress(library, "DllRegisterServer") != nullptr &&
              GetProcAddress(library, "DllUnregisterServer") != nullptr,
          "DllRegisterServer and DllUnregisterServer are exported");
    if (getClassObject == nullptr || canUnloadNow == nullptr) return;

    void* unknown = nullptr;
    Check(getClassObject(IID_IDispatch, IID_IClassFactory, &unknown) == CLASS_E_CLASSNOTAVAILABLE &&
              unknown == nullptr,
          "DllGetClassObject refuses another class");
    IClassFactory* factory = nullptr;
    Check(getClassObject(CLSID_Kestrix, IID_IClassFactory, reinterpret_cast<void**>(&factory)) == S_OK &&
              factory != nullptr,
          "DllGetClassObject hands out the class factory");
    if (factory == nullptr) return;
    Check(canUnloadNow() == S_OK, "a factory reference alone does not hold the module");

    IKestrix* first = nullptr;
    IKestrix* second = nullptr;
    Check(factory->CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&first)) == S_OK,
          "CreateInstance for IKestrix");
    Check(factory->CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&second)) == S_OK &&
              second != first,
          "each CreateInstance makes a new object");
    Check(canUnloadNow() == S_FALSE, "live objects hold the module");
    if (first != nullptr) first->Release();
    Check(canUnloadNow() == S_FALSE, "one live object still holds the module");
    if (second != nullptr) second->Release();
    Check(canUnloadNow() == S_OK, "the module may unload once every object is gone");

    Check(factory->LockServer(TRUE) == S_OK && canUnloadNow() == S_FALSE, "LockServer(TRUE) holds the module");
    Check(factory->LockServer(FALSE) == S_OK && canUnloadNow() == S_OK, "LockServer(FALSE) releases it");

    IUnknown* outer = factory;  // any object will do as a would-be aggregator
    IUnknown* inner = nullptr;
    Check(factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner)) == CLASS_E_NOAGGREGATION &&
              inner == nullptr,
          "the class does not aggregate");
    Check(canUnloadNow() == S_OK, "a refused creation leaves no lock");
    factory->Release();
    FreeLibrary(library);
}

void CheckRequests(IKestrix* object) {
    for (const Request& request : kRequests) {
        const Direct direct = PriceDirectly(request);
        const std::string what = Describe(request);

        double table = -1;
        const HRESULT tableHr = PriceThroughTable(object, request, &table);
        Check(tableHr == direct.hr, what + ": function table answers " + Hex(tableHr) + ", expected " + Hex(direct.hr));
        if (SUCCEEDED(direct.hr)) {
            Check(table == direct.value, what + ": function table value " + std::to_string(table));
        } else {
            Check(table == -1, what + ": a failed call leaves Result_ alone");
        }

        double dispatched = -1;
        EXCEPINFO excepInfo{};
        const HRESULT dispatchHr = PriceThroughDispatch(object, request, &dispatched, &excepInfo);
        if (SUCCEEDED(direct.hr)) {
            Check(dispatchHr == S_OK && dispatched == direct.value,
                  what + ": IDispatch answers " + Hex(dispatchHr) + " " + std::to_string(dispatched));
        } else {
            Check(dispatchHr == DISP_E_EXCEPTION && excepInfo.scode == direct.hr,
                  what + ": IDispatch reports the failure as an exception with its code");
        }
        SysFreeString(excepInfo.bstrSource);
        SysFreeString(excepInfo.bstrDescription);
        SysFreeString(excepInfo.bstrHelpFile);
    }
}

struct Failure {
    HRESULT hr;
    const char* method;
    DWORD helpContext;
};

void CheckErrorInformation(IKestrix* object) {
    ISupportErrorInfo* support = nullptr;
    Check(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)) == S_OK,
          "the object supports ISupportErrorInfo");
    if (support != nullptr) {
        Check(support->InterfaceSupportsErrorInfo(IID_IKestrix) == S_OK, "error information for IKestrix");
        Check(support->InterfaceSupportsErrorInfo(IID_IDispatch) == S_FALSE, "no error information for IDispatch");
        support->Release();
    }

    // StrikePrice 0 through GenBS and AmericanCall: the same text, each
    // method's help context.
    const Request requests[] = {{"GenBS", {1, 1, 1, 100, 0, 1, 0.2, 0.05, 0, 0, 1}},
                                {"AmericanCall", {1, 100, 0, 1, 0.2, 0.05, 0, 1}}};
    const DWORD contexts[] = {2, 35};
    for (int i = 0; i < 2; ++i) {
        double result = 42;
        const HRESULT hr = PriceThroughTable(object, requests[i], &result);
        Check(hr == static_cast<HRESULT>(0x80050002),
              std::string(requests[i].method) + " with StrikePrice 0 answers " + Hex(hr));
        Check(result == 42, "Result_ is untouched by a failure");
        IErrorInfo* info = nullptr;
        Check(GetErrorInfo(0, &info) == S_OK && info != nullptr, "the failure installed error information");
        if (info == nullptr) continue;
        GUID guid{};
        BSTR text = nullptr;
        DWORD context = 0;
        info->GetGUID(&guid);
        Check(guid == IID_IKestrix, "error information names IKestrix");
        info->GetDescription(&text);
        Check(Take(text) == "StrikePrice must be greater than 0.", "the description is the failure's message");
        info->GetHelpFile(&text);
        Check(Take(text) == "Kestrix.hlp", "the help file");
        info->GetHelpContext(&context);
        Check(context == contexts[i], std::string(requests[i].method) + "'s help context " + std::to_string(context));
        info->GetSource(&text);
        Check(Take(text) == "Quantora.Kestrix", "the source is the registered programmatic identifier");
        info->Release();
    }

    // A power-function error inside a model answers S_OK and 0.
    double result = 42;
    const Request underflow{"Whaley", {2, 1, 1e6, 100, 1, 0.05, 0.1, 0, 0, 1}};
    Check(PriceThroughTable(object, underflow, &result) == S_OK && result == 0,
          "a maths-library error inside a model answers S_OK and 0");

    // A failure after a failure: the second call validates afresh.
    result = 42;
    PriceThroughTable(object, requests[0], &result);
    Check(PriceThroughTable(object, kRequests[0], &result) == S_OK && result > 10 && result < 11,
          "a call after a failed one prices normally");
}

// Calls GenBS through IDispatch with the given arguments (rgvarg order).
HRESULT InvokeGenBS(IDispatch* object, std::vector<VARIANT>& args, std::vector<DISPID> named, double* result,
                    UINT* argErr) {
    DISPPARAMS params{args.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(args.size()),
                      static_cast<UINT>(named.size())};
    VARIANT value;
    VariantInit(&value);
    EXCEPINFO excepInfo{};
    const HRESULT hr =
        object->Invoke(0, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &value, &excepInfo, argErr);
    *result = value.vt == VT_R8 ? value.dblVal : NAN;
    VariantClear(&value);
    SysFreeString(excepInfo.bstrSource);
    SysFreeString(excepInfo.bstrDescription);
    SysFreeString(excepInfo.bstrHelpFile);
    return hr;
}

VARIANT Number(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}

void CheckDispatchArguments(IKestrix* object) {
    // European call S=K=100, T=1 year, sigma 20 %, r 5 %, no yield.
    double expected = 0;
    PriceThroughTable(object, kRequests[0], &expected);

    // Names in any letter case, parameters by position as their DISPIDs.
    std::wstring names[] = {L"genbs", L"TIMEFORMAT", L"StrikePrice", L"Result_x"};
    LPOLESTR namePointers[] = {names[0].data(), names[1].data(), names[2].data()};
    DISPID ids[3] = {};
    Check(object->GetIDsOfNames(IID_NULL, namePointers, 3, LOCALE_USER_DEFAULT, ids) == S_OK && ids[0] == 0 &&
              ids[1] == 10 && ids[2] == 4,
          "GetIDsOfNames: method 0, TimeFormat at 10, StrikePrice at 4");
    LPOLESTR unknown[] = {names[0].data(), names[3].data()};
    Check(object->GetIDsOfNames(IID_NULL, unknown, 2, LOCALE_USER_DEFAULT, ids) == DISP_E_UNKNOWNNAME,
          "GetIDsOfNames refuses an unknown parameter");

    // Named arguments, in reverse order, optional ones left out but TimeFormat.
    const double values[] = {1, 1, 1, 100, 100, 1, 0.2, 0.05, 0};
    std::vector<VARIANT> args;
    std::vector<DISPID> named;
    args.push_back(Number(1));  // TimeFormat = Years
    named.push_back(10);
    for (int i = 8; i >= 0; --i) {
        args.push_back(Number(values[i]));
        named.push_back(i);
    }
    double result = 0;
    Check(InvokeGenBS(object, args, named, &result, nullptr) == S_OK && result == expected,
          "named arguments in any order, omitted optional ones as 0");

    // Positional, with MarketPrice passed as "missing" and a number as text.
    args.clear();
    args.push_back(Number(1));  // TimeFormat
    VARIANT missing;
    VariantInit(&missing);
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    args.push_back(missing);
    for (int i = 8; i >= 0; --i) args.push_back(Number(values[i]));
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"100");
    VARIANT replaced = args[args.size() - 1 - 4];
    args[args.size() - 1 - 4] = text;  // StrikePrice as "100"
    Check(InvokeGenBS(object, args, {}, &result, nullptr) == S_OK && result == expected,
          "a missing marker and a number in text are converted as declared");

    // Text that is no number: a type mismatch at that argument.
    SysFreeString(text.bstrVal);
    text.bstrVal = SysAllocString(L"one hundred");
    args[args.size() - 1 - 4] = text;
    UINT argErr = 99;
    const HRESULT mismatch = InvokeGenBS(object, args, {}, &result, &argErr);
    Check(mismatch == DISP_E_TYPEMISMATCH && argErr == args.size() - 1 - 4,
          "a value that is no number is a type mismatch at its argument: " + Hex(mismatch) + " at " +
              std::to_string(argErr));
    SysFreeString(text.bstrVal);
    args[args.size() - 1 - 4] = replaced;

    // A required parameter left out; more arguments than parameters.
    std::vector<VARIANT> tooFew(args.end() - 3, args.end());  // ExerciseType, OptionType, OptionFunction
    Check(InvokeGenBS(object, tooFew, {}, &result, nullptr) == DISP_E_PARAMNOTOPTIONAL,
          "a required parameter left out");
    std::vector<VARIANT> tooMany(18, Number(1));
    Check(InvokeGenBS(object, tooMany, {}, &result, nullptr) == DISP_E_BADPARAMCOUNT, "too many arguments");
}

std::string MemberName(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    return Take(name);
}

std::string MemberHelpString(ITypeInfo* info, MEMBERID id) {
    BSTR help = nullptr;
    info->GetDocumentation(id, nullptr, &help, nullptr, nullptr);
    return Take(help);
}

// The embedded type library carries the table: library attributes, every
// method with its DISPID, help string, help context, parameters, optional
// flags and function-table slot, and every enumeration with its members.
void CheckTypeLibrary(IKestrix* object) {
    UINT count = 0;
    Check(object->GetTypeInfoCount(&count) == S_OK && count == 1, "GetTypeInfoCount is 1");
    ITypeInfo* dispatchInfo = nullptr;
    Check(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &dispatchInfo) == S_OK && dispatchInfo != nullptr,
          "GetTypeInfo hands out IKestrix's description");
    if (dispatchInfo == nullptr) return;
    TYPEATTR* attr = nullptr;
    dispatchInfo->GetTypeAttr(&attr);
    Check(attr->guid == IID_IKestrix && attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL) != 0,
          "IKestrix is a dual interface");
    dispatchInfo->ReleaseTypeAttr(attr);
    Check(MemberName(dispatchInfo, MEMBERID_NIL) == typelib::kInterfaceName, "the interface's name");

    ITypeLib* library = nullptr;
    UINT index = 0;
    dispatchInfo->GetContainingTypeLib(&library, &index);
    TLIBATTR* libAttr = nullptr;
    library->GetLibAttr(&libAttr);
    Check(libAttr->guid == LIBID_Quantora && libAttr->lcid == typelib::kLocale &&
              libAttr->wMajorVerNum == typelib::kMajorVersion && libAttr->wMinorVerNum == typelib::kMinorVersion &&
              libAttr->syskind == (sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32),
          "library identifier, locale, version 1.0, the client's bitness");
    library->ReleaseTLibAttr(libAttr);
    BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
    library->GetDocumentation(-1, &name, &doc, nullptr, &helpFile);
    Check(Take(name) == typelib::kLibraryName && Take(doc) == typelib::kLibraryHelpString &&
              Take(helpFile).ends_with(typelib::kHelpFile),
          "library name, help string and help file");

    ITypeInfo* classInfo = nullptr;
    Check(library->GetTypeInfoOfGuid(CLSID_Kestrix, &classInfo) == S_OK, "the class is in the library");
    if (classInfo != nullptr) {
        classInfo->GetTypeAttr(&attr);
        Check(attr->typekind == TKIND_COCLASS && (attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0,
              "the class is creatable");
        classInfo->ReleaseTypeAttr(attr);
        classInfo->GetDocumentation(MEMBERID_NIL, &name, &doc, nullptr, nullptr);
        Check(Take(name) == typelib::kClassName && Take(doc) == typelib::kClassHelpString,
              "class name and help string");
        classInfo->Release();
    }

    HREFTYPE vtableRef = 0;
    ITypeInfo* vtableInfo = nullptr;
    dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef);
    dispatchInfo->GetRefTypeInfo(vtableRef, &vtableInfo);
    Check(vtableInfo != nullptr, "the dual interface's function-table view");
    if (vtableInfo != nullptr) {
        for (UINT i = 0; i < std::size(typelib::kMethods); ++i) {
            const MethodDescription& method = typelib::kMethods[i];
            const std::string what = std::string(method.name) + ": ";
            FUNCDESC* func = nullptr;
            if (FAILED(vtableInfo->GetFuncDesc(i, &func))) {
                Check(false, what + "no function description");
                continue;
            }
            Check(func->memid == method.dispid, what + "DISPID");
            Check(func->oVft == static_cast<SHORT>((7 + i) * sizeof(void*)), what + "slot after the seven inherited");
            Check(func->cParams == static_cast<SHORT>(method.params.size() + 1), what + "parameter count");
            BSTR help = nullptr;
            DWORD context = 0;
            vtableInfo->GetDocumentation(func->memid, &name, &help, &context, nullptr);
            Check(Take(name) == method.name && Take(help) == method.helpString && context == method.helpContext,
                  what + "name, help string and help context");
            BSTR names[32] = {};
            UINT got = 0;
            vtableInfo->GetNames(func->memid, names, 32, &got);
            bool namesMatch = got == method.params.size() + 2;
            for (UINT n = 0; n < got; ++n) {
                const std::string paramName = Take(names[n]);
                if (n >= 1 && n <= method.params.size())
                    namesMatch = namesMatch && paramName == method.params[n - 1].name;
                if (n == method.params.size() + 1) namesMatch = namesMatch && paramName == kResultParamName;
            }
            Check(namesMatch, what + "parameter names");
            bool typesMatch = true;
            for (std::size_t p = 0; p < method.params.size(); ++p) {
                const ParamDescription& param = method.params[p];
                const ELEMDESC& element = func->lprgelemdescParam[p];
                const USHORT flags = element.paramdesc.wParamFlags;
                typesMatch = typesMatch && ((flags & PARAMFLAG_FIN) != 0) &&
                             (((flags & PARAMFLAG_FOPT) != 0) == param.optional) &&
                             ((flags & PARAMFLAG_FHASDEFAULT) == 0);
                if (param.kind == ParamKind::Double) {
                    typesMatch = typesMatch && element.tdesc.vt == VT_R8;
                } else if (param.kind == ParamKind::Int) {
                    typesMatch = typesMatch && element.tdesc.vt == VT_I4;
                } else {
                    ITypeInfo* enumInfo = nullptr;
                    typesMatch = typesMatch && element.tdesc.vt == VT_USERDEFINED &&
                                 SUCCEEDED(vtableInfo->GetRefTypeInfo(element.tdesc.hreftype, &enumInfo)) &&
                                 MemberName(enumInfo, MEMBERID_NIL) == param.enumeration->name;
                    if (enumInfo != nullptr) enumInfo->Release();
                }
            }
            const ELEMDESC& result = func->lprgelemdescParam[method.params.size()];
            typesMatch = typesMatch && result.tdesc.vt == VT_PTR && result.tdesc.lptdesc->vt == VT_R8 &&
                         (result.paramdesc.wParamFlags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL)) ==
                             (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
            Check(typesMatch, what + "parameter types, in and optional flags, [out, retval] double Result_");
            vtableInfo->ReleaseFuncDesc(func);
        }
        vtableInfo->Release();
    }

    for (const EnumDescription* enumeration : Enumerations()) {
        const std::string what = std::string(enumeration->name) + ": ";
        ITypeInfo* enumInfo = nullptr;
        if (FAILED(library->GetTypeInfoOfGuid(enumeration->guid, &enumInfo))) {
            Check(false, what + "not in the library");
            continue;
        }
        enumInfo->GetTypeAttr(&attr);
        const bool shape = attr->typekind == TKIND_ENUM && attr->cVars == enumeration->members.size();
        enumInfo->ReleaseTypeAttr(attr);
        Check(shape && MemberName(enumInfo, MEMBERID_NIL) == enumeration->name, what + "an enumeration of its size");
        bool membersMatch = shape;
        bool helpsMatch = true;
        for (UINT m = 0; membersMatch && m < enumeration->members.size(); ++m) {
            VARDESC* var = nullptr;
            enumInfo->GetVarDesc(m, &var);
            membersMatch = var->varkind == VAR_CONST && var->lpvarValue->vt == VT_I4 &&
                           var->lpvarValue->lVal == enumeration->members[m].value &&
                           MemberName(enumInfo, var->memid) == enumeration->members[m].name;
            const std::string help = MemberHelpString(enumInfo, var->memid);
            if (help != enumeration->members[m].helpString) {
                helpsMatch = false;
                std::printf("  %s%s has the help string \"%s\"\n", what.c_str(), enumeration->members[m].name,
                            help.c_str());
            }
            enumInfo->ReleaseVarDesc(var);
        }
        Check(membersMatch, what + "members with their values in declaration order");
        Check(membersMatch && helpsMatch, what + "members' help strings (the error codes' texts)");
        enumInfo->Release();
    }
    library->Release();
    dispatchInfo->Release();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Unbuffered, so that a client that dies midway still shows how far it got.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 2) {
        std::printf("usage: kestrix-client PATH\\Kestrix.dll\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::printf("FAIL CoInitializeEx\n");
        return 1;
    }
    CheckModuleLifetime(argv[1]);

    CLSID clsid{};
    Check(CLSIDFromProgID(L"Quantora.Kestrix", &clsid) == S_OK && clsid == CLSID_Kestrix,
          "Quantora.Kestrix names the class");
    IKestrix* object = nullptr;
    const HRESULT created =
        CoCreateInstance(CLSID_Kestrix, nullptr, CLSCTX_INPROC_SERVER, IID_IKestrix, reinterpret_cast<void**>(&object));
    Check(created == S_OK && object != nullptr, "CoCreateInstance of the registered class: " + Hex(created));
    if (object != nullptr) {
        CheckRequests(object);
        CheckErrorInformation(object);
        CheckDispatchArguments(object);
        CheckTypeLibrary(object);
        object->Release();
    }
    CoUninitialize();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
