// The library as a host sees it: libkestrix.so loaded with dlopen, the class
// factory from DllGetClassObject, one IKestrix from CreateInstance, and every
// call through the object's function table (or IDispatch::Invoke). Nothing of
// the pricing code is linked into this program: only the library's headers
// (interfaces, GUIDs, enumerations) are shared with it. The jobs are those of
// bench/FieldJobs.h, so QuantLib's rows (bench/QuantLibBench.cpp) are the same
// jobs in the same process.
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../FieldJobs.h"
#include "automation/Kestrix.h"
#include "automation/TypeLibrary.h"
#include "core/Enumerations.h"

namespace {

using namespace kestrix;
using namespace kestrix::bench;

using GetClassObject = HRESULT (*)(REFCLSID, REFIID, void**) noexcept;

// The loaded library: loaded once, before any job, and kept for the run.
IKestrix* NewObject() {
    static GetClassObject getClassObject = [] {
        const char* path = std::getenv("KESTRIX_HOST_BENCH_LIBRARY");
        if (path == nullptr) path = KESTRIX_SERVER_LIBRARY;
        void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
            std::exit(2);
        }
        auto entry = reinterpret_cast<GetClassObject>(dlsym(library, "DllGetClassObject"));
        if (entry == nullptr) {
            std::fprintf(stderr, "%s exports no DllGetClassObject\n", path);
            std::exit(2);
        }
        return entry;
    }();
    IClassFactory* factory = nullptr;
    IKestrix* object = nullptr;
    if (getClassObject(CLSID_Kestrix, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK ||
        factory->CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)) != S_OK) {
        std::fprintf(stderr, "the library did not create an IKestrix\n");
        std::exit(2);
    }
    factory->Release();
    return object;
}

// One object per job, released when the job's timing ends.
struct Object {
    IKestrix* kestrix = NewObject();
    Object() = default;
    Object(const Object& other) : kestrix(other.kestrix) { kestrix->AddRef(); }
    Object& operator=(const Object&) = delete;
    ~Object() { kestrix->Release(); }
};

double GenBS(IKestrix* k, std::int32_t function, double S, double marketPrice) {
    double result = 0;
    k->GenBS(European, CallOption, static_cast<enumOptionFunctions>(function), S, kStrike, kExpiry, kVolatility,
             kRate, kYield, marketPrice, Years, 0, 0, 0, DiscreteCashFlow, Continuous, Continuous, &result);
    return result;
}

// The closed form as a caller would write it without a library: the
// generalized Black-Scholes call through erfc. Out of line, so that the
// compiler cannot hoist the parts that do not depend on the spot out of the
// timing loop, which a library call cannot do either.
[[gnu::noinline]] double BareCall(double S, double X, double T, double sigma, double r, double q) {
    const double volRoot = sigma * std::sqrt(T);
    const double d1 = (std::log(S / X) + (r - q + 0.5 * sigma * sigma) * T) / volRoot;
    const double d2 = d1 - volRoot;
    return S * std::exp(-q * T) * 0.5 * std::erfc(-d1 * M_SQRT1_2) -
           X * std::exp(-r * T) * 0.5 * std::erfc(-d2 * M_SQRT1_2);
}

// GenBS through IDispatch::Invoke by DISPID, the positional arguments last
// to first, as the protocol passes them.
class InvokeGenBS {
public:
    InvokeGenBS() {
        const MethodDescription& method = typelib::Method("GenBS");
        dispid_ = method.dispid;
        count_ = method.params.size();
        for (std::size_t i = 0; i < count_; ++i) {
            VARIANT& arg = args_[count_ - 1 - i];
            std::memset(&arg, 0, sizeof arg);
            const std::string_view name = method.params[i].name;
            double value = 0;
            if (name == "ExerciseType") value = European;
            if (name == "OptionType") value = CallOption;
            if (name == "OptionFunction") value = Theoretical;
            if (name == "AssetPrice") asset_ = count_ - 1 - i;
            if (name == "StrikePrice") value = kStrike;
            if (name == "TimeExpire") value = kExpiry;
            if (name == "Volatility") value = kVolatility;
            if (name == "InterestRate") value = kRate;
            if (name == "YieldRate") value = kYield;
            if (name == "TimeFormat") value = Years;
            if (method.params[i].kind == ParamKind::Double) {
                arg.vt = VT_R8;
                arg.dblVal = value;
            } else {
                arg.vt = VT_I4;
                arg.lVal = static_cast<LONG>(value);
            }
        }
    }

    double operator()(double S) {
        args_[asset_].dblVal = S;
        DISPPARAMS params{args_, nullptr, static_cast<UINT>(count_), 0};
        VARIANT result;
        std::memset(&result, 0, sizeof result);
        EXCEPINFO exception{};
        UINT argErr = 0;
        object_.kestrix->Invoke(dispid_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception,
                                &argErr);
        return result.dblVal;  // VT_R8: nothing to clear
    }

private:
    Object object_;
    DISPID dispid_ = 0;
    std::size_t count_ = 0;
    std::size_t asset_ = 0;
    VARIANT args_[32];
};

const bool registered = [] {
    RegisterJob("GenBS.Value", "Formula",
                [] { return [](double S) { return BareCall(S, kStrike, kExpiry, kVolatility, kRate, kYield); }; });
    RegisterJob("GenBS.Value", "Table", [] {
        return [o = Object()](double S) { return GenBS(o.kestrix, Theoretical, S, 0); };
    });
    RegisterJob("GenBS.Value", "Invoke", [] { return InvokeGenBS(); });
    RegisterJob("GenBS.ImpliedVol", "Table", [] {
        Object o;
        const double price = GenBS(o.kestrix, Theoretical, kSpot, 0);
        return [o, price](double S) { return GenBS(o.kestrix, ImpliedVol, S, price); };
    });
    RegisterJob("Whaley.Value", "Table", [] {
        return [o = Object()](double S) {
            double result = 0;
            o.kestrix->Whaley(PutOption, Theoretical, S, kStrike, kExpiry, kVolatility, kRate, kYield, 0, Years, 0, 0,
                              0, DiscreteCashFlow, Continuous, Continuous, &result);
            return result;
        };
    });
    // The same put with the strike moved too, by a part in a billion on every
    // call: the critical price a thread remembers from the call before never
    // serves, so this is the cost of a request on an option not seen before.
    RegisterJob("Whaley.Value", "NewX", [] {
        return [o = Object()](double S) {
            double result = 0;
            o.kestrix->Whaley(PutOption, Theoretical, S, kStrike * (1 + (S - kSpot) * 1e-9), kExpiry, kVolatility,
                              kRate, kYield, 0, Years, 0, 0, 0, DiscreteCashFlow, Continuous, Continuous, &result);
            return result;
        };
    });
    RegisterJob("BSAmerican.Value", "Table", [] {
        return [o = Object()](double S) {
            double result = 0;
            o.kestrix->BSAmerican(PutOption, Theoretical, S, kStrike, kExpiry, kVolatility, kRate, kYield, 0, Years, 0,
                                  0, 0, DiscreteCashFlow, Continuous, Continuous, &result);
            return result;
        };
    });
    RegisterJob("Binomial.Value", "Table", [] {
        return [o = Object()](double S) {
            double result = 0;
            o.kestrix->Binomial(American, PutOption, Theoretical, kLatticeSteps, S, kStrike, kExpiry, kVolatility,
                                kRate, kYield, 0, Years, 0, 0, 0, DiscreteCashFlowBin, Continuous, Continuous,
                                &result);
            return result;
        };
    });
    RegisterJob("JumpDiffusion.Value", "Table", [] {
        return [o = Object()](double S) {
            double result = 0;
            o.kestrix->JumpDiffusion(CallOption, Theoretical, S, kStrike, kExpiry, kVolatility, kJumpsPerYear,
                                     kPercentTotalVol, kRate, kYield, 0, Years, 0, 0, 0, DiscreteCashFlow, Continuous,
                                     Continuous, &result);
            return result;
        };
    });
    return true;
}();

}  // namespace
