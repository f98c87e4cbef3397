// Several threads, each with its own object, price the same random requests
// (every method, valid and invalid inputs) and must see exactly what one
// thread saw: the same HRESULT, value and error information for each. Run
// under ThreadSanitizer (preset tsan) this also checks the shared state the
// objects touch: the module lock count, the registry, the type library.
// KESTRIX_STRESS_REQUESTS sets the number of requests (default 6000).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <latch>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "automation/Module.h"
#include "automation/OptionsImpl.h"
#include "automation/TypeLibrary.h"
#include "platform/ErrorInfo.h"
#include "platform/Registry.h"

namespace kestrix {
namespace {

struct Request {
    DISPID method = 0;
    std::vector<VARIANT> args;  // positional, first parameter first
};

// What a host sees of one call.
struct Seen {
    HRESULT hr = S_OK;
    std::uint64_t valueBits = 0;  // the value's bits, so that NaN compares too
    SCODE scode = 0;
    std::string description, source, helpFile;
    bool hasSource = false;
    DWORD helpContext = 0;
    bool errorInfoLeft = false;  // error information still installed after the call

    bool operator==(const Seen&) const = default;
};

std::string Text(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

std::string Describe(const Seen& s) {
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08X", static_cast<unsigned>(s.hr));
    double value = 0;
    std::memcpy(&value, &s.valueBits, sizeof value);
    char scode[16];
    std::snprintf(scode, sizeof scode, "0x%08X", static_cast<unsigned>(s.scode));
    return std::string(hr) + " (" + scode + ") value " + std::to_string(value) + " '" + s.description +
           "' source '" + s.source + "' " + s.helpFile + " " + std::to_string(s.helpContext);
}

// Random inputs around the valid ranges and beyond them: zero, negative,
// huge, NaN, out-of-range enumeration values, short dividend schedules. The
// lattice gets few steps most of the time to keep the run short.
class RequestMaker {
public:
    explicit RequestMaker(std::uint64_t seed) : engine_(seed) {}

    Request Next() {
        const auto methods = std::span(typelib::kMethods);
        const MethodDescription& method = methods[Below(methods.size())];
        Request request;
        request.method = method.dispid;
        for (const ParamDescription& param : method.params) {
            VARIANT v;
            VariantInit(&v);
            if (param.kind == ParamKind::Double) {
                v.vt = VT_R8;
                v.dblVal = Number(param.name);
            } else {
                v.vt = VT_I4;
                v.lVal = Integer(param);
            }
            request.args.push_back(v);
        }
        return request;
    }

private:
    std::size_t Below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_); }
    double Uniform(double low, double high) { return std::uniform_real_distribution<double>(low, high)(engine_); }

    double Number(std::string_view name) {
        const bool time = name == "TimeExpire" || name == "TimeTrading";
        if (Below(12) == 0) {
            // Huge expiries stay out: with a dividend schedule they are
            // merely slow (kestrix-worstcase times those).
            constexpr double kOdd[] = {0, -1, -1e-300, std::numeric_limits<double>::quiet_NaN(), 1e300, 1e7, 101};
            return kOdd[Below(std::size(kOdd) - (time ? 3 : 0))];
        }
        if (name == "AssetPrice" || name == "StrikePrice") return Uniform(80, 120);
        if (name == "TimeExpire" || name == "TimeTrading") return Uniform(0.05, 2);
        if (name == "Volatility") return Uniform(0.05, 0.6);
        if (name == "InterestRate") return Uniform(0.001, 0.1);
        if (name == "YieldRate") return Uniform(-0.02, 0.08);
        if (name == "MarketPrice") return Uniform(0.5, 15);
        if (name == "DividendAmount") return Below(2) == 0 ? 0.0 : Uniform(0.1, 3);
        if (name == "TimeExDividend") return Uniform(0, 0.5);
        if (name == "DividendFrequency") return Below(2) == 0 ? 0.0 : Uniform(0.05, 0.5);
        if (name == "JumpsPerYear") return Uniform(0.5, 10);
        if (name == "PercentTotalVol") return Uniform(0.05, 0.9);
        return Uniform(0, 1);
    }

    std::int32_t Integer(const ParamDescription& param) {
        if (param.kind == ParamKind::Int) {  // Iterations
            const std::size_t pick = Below(20);
            if (pick == 0) return 500;
            if (pick == 1) return static_cast<std::int32_t>(Below(5));  // too few
            if (pick == 2) return 501;
            return static_cast<std::int32_t>(5 + Below(40));
        }
        const auto members = param.enumeration->members;
        if (Below(15) == 0) return static_cast<std::int32_t>(members.size()) + 7;  // no such member
        if (std::string_view(param.enumeration->name) == "enumTimeFormat") return Below(4) == 0 ? 0 : 1;
        return members[Below(members.size())].value;
    }

    std::mt19937_64 engine_;
};

Seen Call(IDispatch* object, Request& request) {
    // DISPPARAMS carries the arguments last first.
    std::vector<VARIANT> reversed(request.args.rbegin(), request.args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 0;
    Seen seen;
    seen.hr = object->Invoke(request.method, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &excep, &argErr);
    if (result.vt == VT_R8) std::memcpy(&seen.valueBits, &result.dblVal, sizeof seen.valueBits);
    seen.scode = excep.scode;
    seen.description = Text(excep.bstrDescription);
    seen.hasSource = excep.bstrSource != nullptr;
    seen.source = Text(excep.bstrSource);
    seen.helpFile = Text(excep.bstrHelpFile);
    seen.helpContext = excep.dwHelpContext;
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
    IErrorInfo* left = nullptr;
    seen.errorInfoLeft = GetErrorInfo(0, &left) == S_OK;
    if (left != nullptr) left->Release();
    return seen;
}

IDispatch* NewObject() {
    IDispatch* object = nullptr;
    if (TOptionsImpl::CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object)) != S_OK) return nullptr;
    return object;
}

std::size_t RequestCount() {
    const char* text = std::getenv("KESTRIX_STRESS_REQUESTS");
    const long count = text != nullptr ? std::atol(text) : 0;
    return count > 0 ? static_cast<std::size_t>(count) : 6000;
}

// Registers the class's ProgID for a scope: every failure then looks the
// source up in the registry, which all threads read at once.
class TRegisteredProgId {
public:
    TRegisteredProgId() {
        OLECHAR guid[kGuidStringLength];
        StringFromGUID2(CLSID_Kestrix, guid, kGuidStringLength);
        classKey_ = std::string("CLSID\\") + guid;
        registered_ = RegistrySetValue((classKey_ + "\\ProgID").c_str(), nullptr, typelib::kProgId) == S_OK;
    }
    ~TRegisteredProgId() { RegistryDeleteTree(classKey_.c_str()); }
    bool Registered() const { return registered_; }

private:
    std::string classKey_;
    bool registered_ = false;
};

TEST(ConcurrencyStress, EightThreadsSeeWhatOneThreadSaw) {
    constexpr int kThreads = 8;
    const long locksBefore = ModuleLockCount();
    const TRegisteredProgId progId;
    ASSERT_TRUE(progId.Registered());

    RequestMaker maker(20240614);
    std::vector<Request> requests;
    for (std::size_t i = 0; i < RequestCount(); ++i) requests.push_back(maker.Next());

    // The single-threaded run first.
    std::vector<Seen> expected;
    {
        IDispatch* object = NewObject();
        ASSERT_NE(object, nullptr);
        for (Request& request : requests) expected.push_back(Call(object, request));
        object->Release();
    }
    int failures = 0, successes = 0;
    for (const Seen& s : expected) {
        (FAILED(s.hr) ? failures : successes)++;
        if (s.hr == DISP_E_EXCEPTION) {
            EXPECT_EQ(s.source, typelib::kProgId);
        }
    }
    // The mix must exercise both paths, or the comparison proves little.
    ASSERT_GT(failures, static_cast<int>(requests.size() / 10));
    ASSERT_GT(successes, static_cast<int>(requests.size() / 4));

    // Every thread prices every request, each starting at a different one so
    // that different methods run side by side.
    std::vector<std::vector<std::string>> mismatches(kThreads);
    std::latch start(kThreads);
    const auto work = [&](int thread) {
        IDispatch* object = NewObject();
        start.arrive_and_wait();
        if (object == nullptr) {
            mismatches[thread].push_back("no object");
            return;
        }
        std::vector<Request> mine = requests;  // Invoke may not write them, but each thread keeps its own
        const std::size_t n = mine.size();
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t i = (k + static_cast<std::size_t>(thread) * n / kThreads) % n;
            const Seen seen = Call(object, mine[i]);
            if (!(seen == expected[i]) && mismatches[thread].size() < 5) {
                mismatches[thread].push_back("request " + std::to_string(i) + ": " + Describe(seen) +
                                             " instead of " + Describe(expected[i]));
            }
        }
        object->Release();
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
    for (std::thread& t : threads) t.join();

    for (int t = 0; t < kThreads; ++t) {
        for (const std::string& m : mismatches[t]) ADD_FAILURE() << "thread " << t << ", " << m;
    }
    EXPECT_EQ(ModuleLockCount(), locksBefore);
}

}  // namespace
}  // namespace kestrix
