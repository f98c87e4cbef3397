// Our side of the side-by-side jobs (FieldJobs.h), for every method of the
// interface: the value, one sensitivity and the implied volatility, each
// called three ways: at the model entry (inputs prepared as the launcher
// prepares them for an option without escrowed dividends), through the
// object's function table (an IKestrix method) and through IDispatch::Invoke
// by DISPID with VARIANT arguments.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "FieldJobs.h"
#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "approx/JumpDiffusion.h"
#include "approx/RollGeskeWhaley.h"
#include "automation/Kestrix.h"
#include "automation/OptionsImpl.h"
#include "automation/TypeLibrary.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"
#include "lattice/CRRBinomial.h"
#include "launch/Eurodollar.h"

namespace {

using namespace kestrix;
using namespace kestrix::bench;

constexpr double kBumpSize = 1e-5;
constexpr double kGammaBumpSize = 0.01;

// AmericanCall's one cash dividend, before expiry.
constexpr double kDividend = 2;
constexpr double kTimeExDividend = 0.25;

// Eurodollar quotes an index at most 100: its asset is the spot less this.
constexpr double kIndexBelowSpot = 5;

double D1(std::int32_t modelNumber, double S, double q, double& d2) {
    double d1 = 0;
    ComputeD1D2(modelNumber, d1, d2, S, kStrike, kRate, q, kExpiry, kExpiry, kVolatility);
    return d1;
}

// The model entries, called as the launcher calls them; `f` is the option
// function, `m` the market price of the implied searches.
double GenBSEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(BSGen, S, kYield, d2);
    return GeneralizedBlackScholes(BSGen, European, CallOption, f, S, kStrike, kExpiry, kExpiry, kVolatility, kRate,
                                   kYield, 0, m, d1, d2, ErrorCode);
}
double FrenchBSEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(BSFrench, S, kYield, d2);
    return GeneralizedBlackScholes(BSFrench, European, CallOption, f, S, kStrike, kExpiry, kExpiry, kVolatility,
                                   kRate, kYield, 0, m, d1, d2, ErrorCode);
}
double BinomialEntry(std::int32_t f, double S, double m) {
    return CrrBinomial(American, PutOption, f, kLatticeSteps, S, kStrike, kExpiry, kVolatility, kRate, kYield, 0, 0, 0,
                       1, 0, m, DiscreteCashFlowBin, kBumpSize, S, S, kYield, kYield, ErrorCode);
}
double WhaleyEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(Whaleys, S, kYield, d2);
    return QuadraticApproximation(PutOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, d1, d2, 0,
                                  kGammaBumpSize, kBumpSize, S, S, kYield, kYield, kYield, ErrorCode);
}
double BSAmericanEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(AmericanBS, S, kYield, d2);
    return BjerksundStenslandApproximation(PutOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, d1, d2,
                                           0, kGammaBumpSize, kBumpSize, S, S, kYield, kYield, kYield, ErrorCode);
}
double JumpDiffusionEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(JumpDiff, S, kYield, d2);
    return MertonJumpDiffusion(CallOption, f, S, kStrike, kExpiry, kVolatility, kRate, kYield, m, d1, d2, 0,
                               kJumpsPerYear, kPercentTotalVol, kGammaBumpSize, kBumpSize, S, S, kYield, kYield,
                               kYield, ErrorCode);
}
// One dividend before expiry: nothing escrowed, the model treats it.
double AmericanCallEntry(std::int32_t f, double S, double m) {
    double d2 = 0;
    const double d1 = D1(RGWCall, S, 0, d2);
    return RollGeskeWhaleyCall(f, S, kStrike, kExpiry, kVolatility, kRate, m, d1, d2, kDividend, kTimeExDividend, 0,
                               0, 0, kGammaBumpSize, kBumpSize, S, S, false, ErrorCode);
}
double EurodollarEntry(std::int32_t f, double S, double m) {
    const double index = S - kIndexBelowSpot;
    return EurodollarOption(GenBSEuro, European, CallOption, f, 5, index, kStrike - kIndexBelowSpot, kExpiry,
                            kVolatility, kRate, 0, 0, 0, 1, 0, DiscreteCashFlow, true, m, kGammaBumpSize, kBumpSize,
                            index, index, 0, 0, 0, ErrorCode);
}

// --- The object: the same options as a host describes them.

using Call = double (*)(std::int32_t function, double S, double marketPrice);
using TableCall = HRESULT (*)(IKestrix* object, const VARIANT* args, double* result);

struct Method {
    const char* name;
    std::int32_t sensitivity;  // a bumped or tree sensitivity where the model has one
    const char* sensitivityName;
    Call entry;
    TableCall table;
    // The option, where methods differ.
    std::int32_t exerciseType;
    std::int32_t optionType;
    std::int32_t iterations;
    double dividend;       // one cash dividend at kTimeExDividend, or 0
    double indexBelowSpot;  // Eurodollar's asset is an index at most 100
};

// The value a host passes for parameter `name` of `method`; parameters not
// named here (dividend frequency and style, rate types) are 0: continuous
// rates, discrete cash dividends.
double ParameterValue(const Method& method, std::string_view name, std::int32_t function, double S,
                      double marketPrice) {
    if (name == "ExerciseType") return method.exerciseType;
    if (name == "OptionType") return method.optionType;
    if (name == "OptionFunction") return function;
    if (name == "Iterations") return method.iterations;
    if (name == "AssetPrice") return S - method.indexBelowSpot;
    if (name == "StrikePrice") return kStrike - method.indexBelowSpot;
    if (name == "TimeExpire" || name == "TimeTrading") return kExpiry;
    if (name == "Volatility") return kVolatility;
    if (name == "InterestRate") return kRate;
    if (name == "YieldRate") return kYield;
    if (name == "MarketPrice") return marketPrice;
    if (name == "TimeFormat") return Years;
    if (name == "DividendAmount") return method.dividend;
    if (name == "TimeExDividend") return method.dividend > 0 ? kTimeExDividend : 0;
    if (name == "JumpsPerYear") return kJumpsPerYear;
    if (name == "PercentTotalVol") return kPercentTotalVol;
    if (name == "Model") return GenBSEuro;
    return 0;
}

// The arguments of one call in the interface's order, typed as the type
// library declares them (VT_R8 for doubles, VT_I4 for integers and
// enumerations).
std::vector<VARIANT> Arguments(const Method& method, std::int32_t function, double S, double marketPrice) {
    std::vector<VARIANT> args;
    for (const ParamDescription& param : typelib::Method(method.name).params) {
        VARIANT arg;
        VariantInit(&arg);
        const double value = ParameterValue(method, param.name, function, S, marketPrice);
        if (param.kind == ParamKind::Double) {
            arg.vt = VT_R8;
            arg.dblVal = value;
        } else {
            arg.vt = VT_I4;
            arg.lVal = static_cast<LONG>(value);
        }
        args.push_back(arg);
    }
    return args;
}

// A function-table call with the arguments read from their VARIANTs, as a
// host reads its own variables.
template <typename P>
P Native(const VARIANT& arg) {
    if constexpr (std::is_same_v<P, double>) {
        return arg.dblVal;
    } else {
        return static_cast<P>(arg.lVal);
    }
}

template <typename... P, std::size_t... I>
HRESULT CallTable(IKestrix* object, HRESULT (IKestrix::*fn)(P...), const VARIANT* args, double* result,
                  std::index_sequence<I...>) {
    return (object->*fn)(Native<std::tuple_element_t<I, std::tuple<P...>>>(args[I])..., result);
}

template <auto Fn>
HRESULT TableMethod(IKestrix* object, const VARIANT* args, double* result) {
    return [&]<typename... P>(HRESULT (IKestrix::*fn)(P...)) {
        return CallTable(object, fn, args, result, std::make_index_sequence<sizeof...(P) - 1>{});
    }(Fn);
}

const Method kMethods[] = {
    {"GenBS", Delta, "Delta", GenBSEntry, TableMethod<&IKestrix::GenBS>, European, CallOption, 5, 0, 0},
    {"FrenchBS", Delta, "Delta", FrenchBSEntry, TableMethod<&IKestrix::FrenchBS>, European, CallOption, 5, 0, 0},
    {"Binomial", Delta, "Delta", BinomialEntry, TableMethod<&IKestrix::Binomial>, American, PutOption,
     kLatticeSteps, 0, 0},
    {"Whaley", Vega, "Vega", WhaleyEntry, TableMethod<&IKestrix::Whaley>, American, PutOption, 5, 0, 0},
    {"BSAmerican", Vega, "Vega", BSAmericanEntry, TableMethod<&IKestrix::BSAmerican>, American, PutOption, 5, 0, 0},
    {"JumpDiffusion", Delta, "Delta", JumpDiffusionEntry, TableMethod<&IKestrix::JumpDiffusion>, European,
     CallOption, 5, 0, 0},
    {"AmericanCall", Vega, "Vega", AmericanCallEntry, TableMethod<&IKestrix::AmericanCall>, American, CallOption, 5,
     kDividend, 0},
    {"Eurodollar", Delta, "Delta", EurodollarEntry, TableMethod<&IKestrix::Eurodollar>, European, CallOption, 5, 0,
     kIndexBelowSpot},
};

// The object a host creates; one per job, released when the job ends.
struct Object {
    IKestrix* kestrix = nullptr;
    Object() {
        if (TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&kestrix)) != S_OK) std::abort();
    }
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ~Object() { kestrix->Release(); }
};

// Prices through the function table; only the asset price changes between
// calls.
class TablePricer {
public:
    TablePricer(const Method& method, std::int32_t function, double marketPrice)
        : method_(method),
          object_(std::make_shared<Object>()),
          args_(Arguments(method, function, kSpot, marketPrice)),
          asset_(FindParam(typelib::Method(method.name), "AssetPrice")) {}

    double operator()(double S) {
        args_[asset_].dblVal = S - method_.indexBelowSpot;
        double result = 0;
        method_.table(object_->kestrix, args_.data(), &result);
        return result;
    }

private:
    const Method& method_;
    std::shared_ptr<Object> object_;
    std::vector<VARIANT> args_;
    int asset_;
};

// Prices through IDispatch::Invoke by DISPID, the positional arguments in
// reverse order as the protocol passes them.
class InvokePricer {
public:
    InvokePricer(const Method& method, std::int32_t function, double marketPrice)
        : method_(method),
          object_(std::make_shared<Object>()),
          dispid_(typelib::Method(method.name).dispid),
          args_(Arguments(method, function, kSpot, marketPrice)),
          asset_(static_cast<int>(args_.size()) - 1 - FindParam(typelib::Method(method.name), "AssetPrice")) {
        std::reverse(args_.begin(), args_.end());
    }

    double operator()(double S) {
        args_[asset_].dblVal = S - method_.indexBelowSpot;
        DISPPARAMS params{args_.data(), nullptr, static_cast<UINT>(args_.size()), 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT argErr = 0;
        object_->kestrix->Invoke(dispid_, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                 &exception, &argErr);
        return result.dblVal;
    }

private:
    const Method& method_;
    std::shared_ptr<Object> object_;
    DISPID dispid_;
    std::vector<VARIANT> args_;
    int asset_;
};

// The three jobs of a method for one way of calling it. `makePricer(function,
// marketPrice)` returns the callable double(double S) of that way. The market
// price of the implied job is the method's own value at the typical spot, so
// the search recovers about kVolatility.
template <typename MakePricer>
void RegisterWay(const Method& method, const char* way, MakePricer makePricer) {
    const std::string name = method.name;
    const std::int32_t sensitivity = method.sensitivity;
    RegisterJob(name + ".Value", way, [=] { return makePricer(Theoretical, 0.0); });
    RegisterJob(name + "." + method.sensitivityName, way, [=] { return makePricer(sensitivity, 0.0); });
    RegisterJob(name + ".ImpliedVol", way, [=] {
        const double marketPrice = makePricer(Theoretical, 0.0)(kSpot);
        return makePricer(ImpliedVol, marketPrice);
    });
}

const bool registered = [] {
    for (const Method& method : kMethods) {
        RegisterWay(method, "Entry", [&method](std::int32_t function, double marketPrice) {
            return [entry = method.entry, function, marketPrice](double S) { return entry(function, S, marketPrice); };
        });
        RegisterWay(method, "Table", [&method](std::int32_t function, double marketPrice) {
            return TablePricer(method, function, marketPrice);
        });
        RegisterWay(method, "Invoke", [&method](std::int32_t function, double marketPrice) {
            return InvokePricer(method, function, marketPrice);
        });
    }
    return true;
}();

}  // namespace
