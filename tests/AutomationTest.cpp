#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "automation/OptionsImpl.h"
#include "core/ErrorCodes.h"
#include "core/OptionStatistics.h"
#include "launch/MethodRequests.h"
#include "platform/ErrorInfo.h"
#include "platform/Registry.h"

namespace kestrix {
namespace {

constexpr HRESULT kStrikePriceErr = MakeHResult(0x80050002u);
constexpr HRESULT kTimeExpireErr = MakeHResult(0x80050006u);
constexpr HRESULT kOptionTypeErr = MakeHResult(0x80050023u);
constexpr const char* kStrikeText = "StrikePrice must be greater than 0.";

// Black-Scholes with a dividend yield from the exact normal distribution, an
// independent check of the library's value.
double BlackScholes(bool call, double S, double K, double T, double sigma, double r, double q) {
    const auto N = [](double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); };
    const double d1 = (std::log(S / K) + (r - q + sigma * sigma / 2) * T) / (sigma * std::sqrt(T));
    const double d2 = d1 - sigma * std::sqrt(T);
    return call ? S * std::exp(-q * T) * N(d1) - K * std::exp(-r * T) * N(d2)
                : K * std::exp(-r * T) * N(-d2) - S * std::exp(-q * T) * N(-d1);
}

std::string Text(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

// The thread's current error information, collected (and so cleared).
struct CollectedError {
    bool present = false;
    GUID guid{};
    std::string description, helpFile, source;
    bool hasSource = false;
    DWORD helpContext = 0;
};

CollectedError CollectError() {
    CollectedError error;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return error;
    error.present = true;
    BSTR text = nullptr;
    info->GetGUID(&error.guid);
    info->GetDescription(&text);
    error.description = Text(text);
    SysFreeString(text);
    info->GetHelpFile(&text);
    error.helpFile = Text(text);
    SysFreeString(text);
    info->GetSource(&text);
    error.hasSource = text != nullptr;
    error.source = Text(text);
    SysFreeString(text);
    info->GetHelpContext(&error.helpContext);
    info->Release();
    return error;
}

VARIANT Num(double value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = value;
    return v;
}
VARIANT Int(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}
VARIANT Str(const char* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}
VARIANT MissingArg() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

struct NamedArg {
    const char* name;
    VARIANT value;
};

// What an IDispatch caller sees of one call.
struct Invoked {
    HRESULT hr = S_OK;
    double value = 0;
    UINT argErr = ~0u;
    SCODE scode = 0;
    std::string description, helpFile, source;
    bool hasSource = false;
    DWORD helpContext = 0;
};

// Calls `method` by name with named arguments only, the way a scripting host
// does; frees the arguments.
Invoked InvokeNamed(IDispatch* object, const char* method, std::vector<NamedArg> args) {
    std::vector<LPOLESTR> names{const_cast<LPOLESTR>(method)};
    for (const auto& arg : args) names.push_back(const_cast<LPOLESTR>(arg.name));
    std::vector<DISPID> ids(names.size());
    Invoked out;
    out.hr = object->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), LOCALE_USER_DEFAULT,
                                   ids.data());
    std::vector<VARIANT> values;
    for (const auto& arg : args) values.push_back(arg.value);
    if (SUCCEEDED(out.hr)) {
        DISPPARAMS params{values.data(), ids.data() + 1, static_cast<UINT>(values.size()),
                          static_cast<UINT>(values.size())};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        out.hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &excep,
                                &out.argErr);
        if (out.hr == S_OK) {
            EXPECT_EQ(result.vt, VT_R8);
            out.value = result.dblVal;
        }
        out.scode = excep.scode;
        out.description = Text(excep.bstrDescription);
        out.helpFile = Text(excep.bstrHelpFile);
        out.hasSource = excep.bstrSource != nullptr;
        out.source = Text(excep.bstrSource);
        out.helpContext = excep.dwHelpContext;
        ClearExcepInfo(&excep);
    }
    for (auto& v : values) VariantClear(&v);
    return out;
}

// A European GenBS request through named arguments (S=100, K, T=1 year,
// sigma=0.2, r=0.05, q=0.01), with `extra` appended.
std::vector<NamedArg> GenBSArgs(double strike, std::vector<NamedArg> extra = {}, LONG type = CallOption) {
    std::vector<NamedArg> args{{"ExerciseType", Int(European)}, {"OptionType", Int(type)},
                               {"OptionFunction", Int(Theoretical)}, {"AssetPrice", Num(100)},
                               {"StrikePrice", Num(strike)},         {"TimeExpire", Num(1)},
                               {"Volatility", Num(0.2)},             {"InterestRate", Num(0.05)},
                               {"YieldRate", Num(0.01)},             {"TimeFormat", Int(Years)}};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

class KestrixObject : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)), S_OK);
        SetErrorInfo(0, nullptr);
    }
    void TearDown() override {
        if (object != nullptr) {
            EXPECT_EQ(object->Release(), 0u);
        }
        SetErrorInfo(0, nullptr);
    }

    HRESULT GenBS(double strike, double* result, enumOptionType type = CallOption, double expiry = 1) {
        return object->GenBS(European, type, Theoretical, 100, strike, expiry, 0.2, 0.05, 0.01, 0, Years, 0, 0, 0,
                             DiscreteCashFlow, Continuous, Continuous, result);
    }

    IKestrix* object = nullptr;
};

TEST_F(KestrixObject, GenBSValueMatchesClosedFormThroughBothPaths) {
    for (const double strike : {80.0, 100.0, 125.0}) {
        for (const auto type : {CallOption, PutOption}) {
            double direct = -1;
            ASSERT_EQ(GenBS(strike, &direct, type), S_OK);
            EXPECT_NEAR(direct, BlackScholes(type == CallOption, 100, strike, 1, 0.2, 0.05, 0.01), 2e-5);
            const Invoked invoked = InvokeNamed(object, "GenBS", GenBSArgs(strike, {}, type));
            ASSERT_EQ(invoked.hr, S_OK);
            EXPECT_EQ(invoked.value, direct);
        }
    }
}

TEST_F(KestrixObject, PositionalAndNamedArgumentsReachTheSameParameters) {
    double direct = 0;
    ASSERT_EQ(GenBS(95, &direct, PutOption), S_OK);

    // The first three by position (reversed in rgvarg), the rest by name in
    // a shuffled order and spelled in any case.
    VARIANT args[] = {Num(0.01), Num(0.05), Num(0.2), Num(1), Num(95), Num(100), Str("years"),
                      Int(Theoretical), Str("PutOption"), Str("European")};
    LPOLESTR names[] = {const_cast<LPOLESTR>("genbs"),      const_cast<LPOLESTR>("YIELDRATE"),
                        const_cast<LPOLESTR>("interestrate"), const_cast<LPOLESTR>("Volatility"),
                        const_cast<LPOLESTR>("TimeExpire"),   const_cast<LPOLESTR>("StrikePrice"),
                        const_cast<LPOLESTR>("AssetPrice"),   const_cast<LPOLESTR>("TimeFormat")};
    DISPID ids[8];
    ASSERT_EQ(object->GetIDsOfNames(IID_NULL, names, 8, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 0);
    EXPECT_EQ(ids[1], 8);  // YieldRate is GenBS's ninth parameter
    EXPECT_EQ(ids[7], 10);
    DISPPARAMS params{args, ids + 1, 10, 7};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(object->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.dblVal, direct);
    for (auto& v : args) VariantClear(&v);
}

TEST_F(KestrixObject, OmittedOptionalParametersArePassedAsZero) {
    // Only the required parameters: TimeFormat 0 is Days, so TimeExpire 365
    // is one year, the rate types are Continuous and there is no dividend.
    const Invoked invoked = InvokeNamed(
        object, "GenBS",
        {{"ExerciseType", Int(European)}, {"OptionType", Int(CallOption)}, {"OptionFunction", Int(Theoretical)},
         {"AssetPrice", Num(100)}, {"StrikePrice", Num(100)}, {"TimeExpire", Num(365)}, {"Volatility", Num(0.2)},
         {"InterestRate", Num(0.05)}, {"YieldRate", Num(0.01)}, {"MarketPrice", MissingArg()}});
    ASSERT_EQ(invoked.hr, S_OK);
    double direct = 0;
    ASSERT_EQ(object->GenBS(European, CallOption, Theoretical, 100, 100, 365, 0.2, 0.05, 0.01, 0, Days, 0, 0, 0,
                            DiscreteCashFlow, Continuous, Continuous, &direct),
              S_OK);
    EXPECT_EQ(invoked.value, direct);
    EXPECT_NEAR(direct, BlackScholes(true, 100, 100, 1, 0.2, 0.05, 0.01), 2e-5);
}

TEST_F(KestrixObject, FailureLeavesResultUntouchedAndInstallsErrorInformation) {
    double result = 42;
    EXPECT_EQ(GenBS(0, &result), kStrikePriceErr);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(ErrorCode, kStrikePriceErr);
    const CollectedError error = CollectError();
    ASSERT_TRUE(error.present);
    EXPECT_EQ(error.guid, IID_IKestrix);
    EXPECT_EQ(error.description, kStrikeText);
    EXPECT_EQ(error.helpFile, "Kestrix.hlp");
    EXPECT_EQ(error.helpContext, 2u);
    EXPECT_FALSE(error.hasSource);  // the class is not registered

    // The next call resets the code before it validates.
    EXPECT_EQ(GenBS(100, &result), S_OK);
    EXPECT_EQ(ErrorCode, 0);
    EXPECT_GT(result, 0);
}

TEST_F(KestrixObject, SourceIsTheRegisteredProgIdWhenThereIsOne) {
    OLECHAR guid[kGuidStringLength];
    StringFromGUID2(CLSID_Kestrix, guid, kGuidStringLength);
    const std::string classKey = std::string("CLSID\\") + guid;
    ASSERT_EQ(RegistrySetValue((classKey + "\\ProgID").c_str(), nullptr, "Quantora.Kestrix"), S_OK);
    double result = 0;
    EXPECT_EQ(GenBS(0, &result), kStrikePriceErr);
    RegistryDeleteTree(classKey.c_str());
    const CollectedError error = CollectError();
    EXPECT_TRUE(error.hasSource);
    EXPECT_EQ(error.source, "Quantora.Kestrix");

    const Invoked invoked = InvokeNamed(object, "GenBS", GenBSArgs(0));
    EXPECT_FALSE(invoked.hasSource);  // looked up at the time of each error
}

// Every method reports an input error with its own help context, through the
// function table and through Invoke by name.
TEST_F(KestrixObject, EveryMethodReportsItsHelpContext) {
    struct Case {
        const char* method;
        DWORD helpContext;
        HRESULT (*call)(IKestrix*, double*);
        std::vector<NamedArg> (*named)();
    };
    // StrikePrice 0 with otherwise valid inputs fails validation in every
    // model, before any model runs.
    const Case cases[] = {
        {"GenBS", 2,
         [](IKestrix* o, double* r) {
             return o->GenBS(European, CallOption, Theoretical, 100, 0, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0,
                             DiscreteCashFlow, Continuous, Continuous, r);
         },
         [] { return GenBSArgs(0); }},
        {"FrenchBS", 3,
         [](IKestrix* o, double* r) {
             return o->FrenchBS(European, CallOption, Theoretical, 100, 0, 1, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0,
                                DiscreteCashFlow, Continuous, Continuous, r);
         },
         [] { return GenBSArgs(0, {{"TimeTrading", Num(1)}}); }},
        {"Binomial", 7,
         [](IKestrix* o, double* r) {
             return o->Binomial(American, PutOption, Delta, 50, 100, 0, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0,
                                DiscreteControlVar, Continuous, Continuous, r);
         },
         [] { return GenBSArgs(0, {{"Iterations", Int(50)}}); }},
        {"Whaley", 5,
         [](IKestrix* o, double* r) {
             return o->Whaley(PutOption, Theoretical, 100, 0, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0, DiscreteCashFlow,
                              Continuous, Continuous, r);
         },
         [] {
             return std::vector<NamedArg>{{"OptionType", Int(PutOption)}, {"OptionFunction", Int(Theoretical)},
                                          {"AssetPrice", Num(100)},       {"StrikePrice", Num(0)},
                                          {"TimeExpire", Num(1)},         {"Volatility", Num(0.2)},
                                          {"InterestRate", Num(0.05)},    {"YieldRate", Num(0)}};
         }},
        {"BSAmerican", 9,
         [](IKestrix* o, double* r) {
             return o->BSAmerican(PutOption, Theoretical, 100, 0, 1, 0.2, 0.05, 0, 0, Years, 0, 0, 0,
                                  DiscreteCashFlow, Continuous, Continuous, r);
         },
         [] {
             return std::vector<NamedArg>{{"OptionType", Str("PutOption")}, {"OptionFunction", Str("Theoretical")},
                                          {"AssetPrice", Num(100)},          {"StrikePrice", Num(0)},
                                          {"TimeExpire", Num(1)},            {"Volatility", Num(0.2)},
                                          {"InterestRate", Num(0.05)},       {"YieldRate", Num(0)}};
         }},
        {"JumpDiffusion", 8,
         [](IKestrix* o, double* r) {
             return o->JumpDiffusion(CallOption, Theoretical, 100, 0, 1, 0.2, 2, 0.3, 0.05, 0, 0, Years, 0, 0, 0,
                                     DiscreteCashFlow, Continuous, Continuous, r);
         },
         [] {
             return std::vector<NamedArg>{{"OptionType", Int(CallOption)}, {"OptionFunction", Int(Theoretical)},
                                          {"AssetPrice", Num(100)},        {"StrikePrice", Num(0)},
                                          {"TimeExpire", Num(1)},          {"Volatility", Num(0.2)},
                                          {"JumpsPerYear", Num(2)},        {"PercentTotalVol", Num(0.3)},
                                          {"InterestRate", Num(0.05)},     {"YieldRate", Num(0)}};
         }},
        {"AmericanCall", 35,
         [](IKestrix* o, double* r) {
             return o->AmericanCall(Theoretical, 100, 0, 1, 0.2, 0.05, 0, Years, 2, 0.25, 0, Continuous, r);
         },
         [] {
             return std::vector<NamedArg>{{"OptionFunction", Int(Theoretical)}, {"AssetPrice", Num(100)},
                                          {"StrikePrice", Num(0)},             {"TimeExpire", Num(1)},
                                          {"Volatility", Num(0.2)},            {"InterestRate", Num(0.05)}};
         }},
        {"Eurodollar", 6,
         [](IKestrix* o, double* r) {
             return o->Eurodollar(BinomialEuro, American, PutOption, Theoretical, 95, 0, 0.5, 0.2, 0.05, 50, 0,
                                  Years, Continuous, r);
         },
         [] {
             return std::vector<NamedArg>{{"Model", Str("BinomialEuro")}, {"ExerciseType", Int(American)},
                                          {"OptionType", Int(PutOption)}, {"OptionFunction", Int(Theoretical)},
                                          {"AssetPrice", Num(95)},        {"StrikePrice", Num(0)},
                                          {"TimeExpire", Num(0.5)},       {"Volatility", Num(0.2)},
                                          {"InterestRate", Num(0.05)},    {"Iterations", Int(50)}};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        double result = -7;
        EXPECT_EQ(c.call(object, &result), kStrikePriceErr);
        EXPECT_EQ(result, -7);
        const CollectedError error = CollectError();
        EXPECT_EQ(error.description, kStrikeText);
        EXPECT_EQ(error.helpContext, c.helpContext);
        EXPECT_EQ(error.helpFile, "Kestrix.hlp");

        const Invoked invoked = InvokeNamed(object, c.method, c.named());
        EXPECT_EQ(invoked.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(invoked.scode, kStrikePriceErr);
        EXPECT_EQ(invoked.description, kStrikeText);
        EXPECT_EQ(invoked.helpFile, "Kestrix.hlp");
        EXPECT_EQ(invoked.helpContext, c.helpContext);
        EXPECT_FALSE(invoked.hasSource);
        EXPECT_FALSE(CollectError().present);  // Invoke handed it over in EXCEPINFO
    }
}

TEST_F(KestrixObject, ChecksRunInTheirOrderThroughBothPaths) {
    double result = 0;
    EXPECT_EQ(object->GenBS(European, static_cast<enumOptionType>(7), Theoretical, 100, 0, 1, 0.2, 0.05, 0, 0,
                            Years, 0, 0, 0, DiscreteCashFlow, Continuous, Continuous, &result),
              kOptionTypeErr);
    EXPECT_EQ(CollectError().description, "The OptionType is invalid.");
    const Invoked invoked = InvokeNamed(object, "GenBS", {{"ExerciseType", Int(1)}, {"OptionType", Int(7)},
                                                          {"OptionFunction", Int(1)}, {"AssetPrice", Num(100)},
                                                          {"StrikePrice", Num(0)}, {"TimeExpire", Num(1)},
                                                          {"Volatility", Num(0.2)}, {"InterestRate", Num(0.05)},
                                                          {"YieldRate", Num(0)}});
    EXPECT_EQ(invoked.scode, kOptionTypeErr);
}

TEST_F(KestrixObject, MathsLibraryErrorInAModelAnswersZeroThroughBothPaths) {
    // Far above the critical price of a low-volatility put, the quadratic
    // approximation's power underflows inside the model.
    PricingRequest request = FillWhaley(PutOption, Theoretical, 1e6, 100, 1, 0.05, 0.1, 0, 0, Years, 0, 0, 0, DiscreteCashFlow,
                         Continuous, Continuous);
    double launched = 0;
    try {
        LaunchPlainOption(request, ErrorCode, launched);
        FAIL() << "the launcher priced the request";
    } catch (const PricingFailure& failure) {
        EXPECT_STREQ(failure.Message(), kInvalidOpMessage);
    }

    double result = 42;
    EXPECT_EQ(object->Whaley(PutOption, Theoretical, 1e6, 100, 1, 0.05, 0.1, 0, 0, Years, 0, 0, 0, DiscreteCashFlow,
                             Continuous, Continuous, &result),
              S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(CollectError().present);
    const Invoked invoked = InvokeNamed(
        object, "Whaley",
        {{"OptionType", Str("PutOption")}, {"OptionFunction", Str("Theoretical")}, {"AssetPrice", Num(1e6)},
         {"StrikePrice", Num(100)}, {"TimeExpire", Num(1)}, {"Volatility", Num(0.05)}, {"InterestRate", Num(0.1)},
         {"YieldRate", Num(0)}, {"TimeFormat", Str("Years")}});
    EXPECT_EQ(invoked.hr, S_OK);
    EXPECT_EQ(invoked.value, 0);
}

TEST_F(KestrixObject, NullResultPointerIsRefused) {
    EXPECT_EQ(GenBS(100, nullptr), E_POINTER);
}

TEST(PriceRequest, TranslatesEveryOutcomeOfTheLaunch) {
    const MethodDescription& americanCall = typelib::Method("AmericanCall");
    struct Case {
        const char* what;
        LaunchFunction launch;
        HRESULT expected;
        bool resultWritten;
        double value;
        const char* description;  // nullptr: no error information
    };
    const Case cases[] = {
        {"value", [](PricingRequest&, std::int32_t&, double& r) { r = 3.25; }, S_OK, true, 3.25, nullptr},
        {"maths-library error", [](PricingRequest&, std::int32_t&, double& r) { r = Power(0.0, -1.0); }, S_OK,
         true, 0, nullptr},
        {"NaN", [](PricingRequest&, std::int32_t&, double& r) { r = std::nan(""); }, S_OK, true, 0, nullptr},
        {"infinity", [](PricingRequest&, std::int32_t&, double& r) { r = -HUGE_VAL; }, S_OK, true, 0, nullptr},
        {"coded failure",
         [](PricingRequest&, std::int32_t& code, double&) { RaiseError(code, enumOErrCodes::TimeExpireErr); },
         kTimeExpireErr, false, 0, "TimeExpire must be greater than 0."},
        {"failure without a code",
         [](PricingRequest&, std::int32_t& code, double&) {
             code = 0;
             throw PricingFailure("Something went wrong.");
         },
         DISP_E_EXCEPTION, false, 0, "Something went wrong."},
        {"failure without a message",
         [](PricingRequest&, std::int32_t& code, double&) {
             code = 0;
             throw PricingFailure(nullptr);
         },
         DISP_E_EXCEPTION, false, 0, ""},
        {"foreign exception", [](PricingRequest&, std::int32_t&, double&) { throw 17; }, E_UNEXPECTED, false, 0,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetErrorInfo(0, nullptr);
        double result = 99;
        EXPECT_EQ(PriceRequest(americanCall, PricingRequest{}, &result, c.launch), c.expected);
        EXPECT_EQ(result, c.resultWritten ? c.value : 99);
        const CollectedError error = CollectError();
        EXPECT_EQ(error.present, c.description != nullptr);
        if (c.description != nullptr) {
            EXPECT_EQ(error.description, c.description);
            EXPECT_EQ(error.helpContext, 35u);
            EXPECT_EQ(error.guid, IID_IKestrix);
        }
    }
    ErrorCode = 0;
}

// Each thread prices on its own object; a failure in one never shows in the
// other's error code or error information.
TEST(KestrixThreads, ErrorStateStaysWithItsThread) {
    constexpr int kRounds = 300;
    std::latch start(2);
    const auto work = [&start](double strike, double expiry, HRESULT expectedCode, const char* expectedText,
                               int& mistakes) {
        IKestrix* object = nullptr;
        if (TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)) != S_OK) {
            ++mistakes;
            start.count_down();
            return;
        }
        start.arrive_and_wait();
        const double expected = BlackScholes(true, 100, 100, 1, 0.2, 0.05, 0);
        for (int i = 0; i < kRounds; ++i) {
            double result = -1;
            const HRESULT hr = object->GenBS(European, CallOption, Theoretical, 100, strike, expiry, 0.2, 0.05, 0, 0,
                                             Years, 0, 0, 0, DiscreteCashFlow, Continuous, Continuous, &result);
            const CollectedError error = CollectError();
            if (hr != expectedCode || ErrorCode != expectedCode || error.description != expectedText ||
                result != -1) {
                ++mistakes;
            }
            const HRESULT ok = object->GenBS(European, CallOption, Theoretical, 100, 100, 1, 0.2, 0.05, 0, 0, Years,
                                             0, 0, 0, DiscreteCashFlow, Continuous, Continuous, &result);
            if (ok != S_OK || ErrorCode != 0 || std::fabs(result - expected) > 2e-5 || CollectError().present) {
                ++mistakes;
            }
        }
        object->Release();
    };
    int mistakesA = 0, mistakesB = 0;
    std::thread a(work, 0.0, 1.0, kStrikePriceErr, kStrikeText, std::ref(mistakesA));
    std::thread b(work, 100.0, 0.0, kTimeExpireErr, "TimeExpire must be greater than 0.", std::ref(mistakesB));
    a.join();
    b.join();
    EXPECT_EQ(mistakesA, 0);
    EXPECT_EQ(mistakesB, 0);
}

TEST_F(KestrixObject, NamesResolveWithoutRegardToCaseAndDispIdsAreTheTypeLibrarys) {
    const std::pair<const char*, DISPID> methods[] = {{"GenBS", 0},       {"frenchbs", 1},      {"BINOMIAL", 2},
                                                      {"Eurodollar", 3},  {"whaley", 4},        {"AmericanCall", 5},
                                                      {"BSAmerican", 6},  {"jumpdiffusion", 7}};
    for (const auto& [name, dispid] : methods) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 99;
        EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
        EXPECT_EQ(id, dispid) << name;
    }

    LPOLESTR names[] = {const_cast<LPOLESTR>("AmericanCall"), const_cast<LPOLESTR>("interestratetype"),
                        const_cast<LPOLESTR>("YieldRate"), const_cast<LPOLESTR>("OptionFunction")};
    DISPID ids[4];
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 4, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 5);
    EXPECT_EQ(ids[1], 11);
    EXPECT_EQ(ids[2], DISPID_UNKNOWN);  // AmericanCall has no yield
    EXPECT_EQ(ids[3], 0);

    LPOLESTR unknown[] = {const_cast<LPOLESTR>("Heston"), const_cast<LPOLESTR>("AssetPrice")};
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    EXPECT_EQ(object->GetIDsOfNames(IID_IDispatch, unknown, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(KestrixObject, InvokeRefusesWhatItCannotPass) {
    struct Case {
        const char* what;
        std::vector<NamedArg> args;
        HRESULT expected;
        UINT argErr;  // index in rgvarg, ~0u when not set
    };
    std::vector<Case> cases;
    cases.push_back({"text that is no number", GenBSArgs(100, {{"MarketPrice", Str("cheap")}}),
                     DISP_E_TYPEMISMATCH, 10});
    cases.push_back({"unknown enumeration member", GenBSArgs(100, {{"DividendStyle", Str("Quarterly")}}),
                     DISP_E_TYPEMISMATCH, 10});
    cases.push_back({"integer overflow", GenBSArgs(100, {{"InterestRateType", Num(3e9)}}), DISP_E_OVERFLOW, 10});
    cases.push_back({"number overflow", GenBSArgs(100, {{"MarketPrice", Str("1e400")}}), DISP_E_OVERFLOW, 10});
    cases.push_back({"error value", GenBSArgs(100, {{"MarketPrice", [] {
                                                         VARIANT v = MissingArg();
                                                         v.scode = E_FAIL;
                                                         return v;
                                                     }()}}),
                     DISP_E_TYPEMISMATCH, 10});
    cases.push_back({"missing required", {{"ExerciseType", Int(1)}, {"OptionType", Int(1)}},
                     DISP_E_PARAMNOTOPTIONAL, ~0u});
    cases.push_back({"required passed as missing", GenBSArgs(100, {}), DISP_E_PARAMNOTOPTIONAL, ~0u});
    cases.back().args[4].value = MissingArg();
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Invoked invoked = InvokeNamed(object, "GenBS", c.args);
        EXPECT_EQ(invoked.hr, c.expected);
        EXPECT_EQ(invoked.argErr, c.argErr);
    }
}

TEST_F(KestrixObject, InvokeChecksItsCallShape) {
    VARIANT args[18];
    for (auto& v : args) v = Num(1);
    UINT argErr = ~0u;
    DISPPARAMS tooMany{args, nullptr, 18, 0};
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &tooMany, nullptr, nullptr, &argErr),
              DISP_E_BADPARAMCOUNT);
    DISPID badName = 17;  // GenBS has 17 parameters, 0 to 16
    DISPPARAMS outOfRange{args, &badName, 1, 1};
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &outOfRange, nullptr, nullptr, &argErr),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 0u);
    DISPID twice[] = {3, 3};
    DISPPARAMS duplicate{args, twice, 2, 2};
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &duplicate, nullptr, nullptr, &argErr),
              DISP_E_PARAMNOTFOUND);
    EXPECT_EQ(argErr, 1u);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(8, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(object->Invoke(0, IID_IKestrix, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_INVALIDARG);
    DISPPARAMS noArray{nullptr, nullptr, 3, 0};
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &noArray, nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_PARAMNOTOPTIONAL);
}

TEST_F(KestrixObject, AnswersForItsInterfacesOnly) {
    IUnknown* unknown = nullptr;
    ISupportErrorInfo* support = nullptr;
    void* other = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(object), unknown);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IKestrix), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    // Identity: IUnknown reached from the second interface is the same object.
    IUnknown* again = nullptr;
    ASSERT_EQ(support->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(again, unknown);
    EXPECT_EQ(again->Release(), 3u);
    EXPECT_EQ(support->Release(), 2u);
    EXPECT_EQ(unknown->Release(), 1u);

    UINT count = 5;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    void* aggregated = nullptr;
    EXPECT_EQ(TOptionsImpl::CreateInstance(unknown, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(TOptionsImpl::CreateInstance(nullptr, IID_IClassFactory, &aggregated), E_NOINTERFACE);
    EXPECT_EQ(aggregated, nullptr);
}

// The eight methods follow the seven IUnknown/IDispatch entries of the
// function table in the type library's order. Under the Itanium C++ ABI a
// pointer to a virtual member holds 1 + the slot's byte offset.
std::ptrdiff_t Slot(auto member) {
    static_assert(sizeof(member) == 2 * sizeof(std::ptrdiff_t));
    std::ptrdiff_t raw[2];
    std::memcpy(raw, &member, sizeof raw);
    return (raw[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

TEST(IKestrixFunctionTable, MethodsFollowTheSevenDispatchEntries) {
    EXPECT_EQ(Slot(&IKestrix::QueryInterface), 0);
    EXPECT_EQ(Slot(&IKestrix::Invoke), 6);
    EXPECT_EQ(Slot(&IKestrix::GenBS), 7);
    EXPECT_EQ(Slot(&IKestrix::FrenchBS), 8);
    EXPECT_EQ(Slot(&IKestrix::Binomial), 9);
    EXPECT_EQ(Slot(&IKestrix::Whaley), 10);
    EXPECT_EQ(Slot(&IKestrix::BSAmerican), 11);
    EXPECT_EQ(Slot(&IKestrix::JumpDiffusion), 12);
    EXPECT_EQ(Slot(&IKestrix::AmericanCall), 13);
    EXPECT_EQ(Slot(&IKestrix::Eurodollar), 14);
}

}  // namespace
}  // namespace kestrix
