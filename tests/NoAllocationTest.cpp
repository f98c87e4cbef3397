// No pricing path touches the heap: every model entry, for every option
// function and option type, on inputs that take the early-exercise and
// dividend branches too, called directly and through the object (function
// table and IDispatch::Invoke), with the global allocation functions replaced
// by counting ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <vector>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
#include "automation/Kestrix.h"
#include "automation/OptionsImpl.h"
#include "automation/TypeLibrary.h"
#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

namespace {

// All tests link into one binary and the framework allocates freely, so the
// counter is per thread and counts only while armed around a measured call.
thread_local bool allocationsArmed = false;
thread_local int allocationsCounted = 0;

void* CountedAllocation(std::size_t size, std::size_t alignment) {
    if (allocationsArmed) ++allocationsCounted;
    if (size == 0) size = 1;
    void* block = alignment <= alignof(std::max_align_t)
                      ? std::malloc(size)
                      : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

// Kept out of line: inlined into the replaced deletes, free() on a block
// from the replaced new looks mismatched to the compiler, though both sides
// are this file's and agree.
[[gnu::noinline]] void ReleaseBlock(void* block) noexcept { std::free(block); }

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size, 0); }
void* operator new[](std::size_t size) { return CountedAllocation(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return CountedAllocation(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return CountedAllocation(size, static_cast<std::size_t>(alignment));
}
// The non-throwing forms too: left to the runtime they would allocate from
// another heap than the one these deletes return blocks to.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocation(size, static_cast<std::size_t>(alignment));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t& tag) noexcept {
    return operator new(size, alignment, tag);
}
void operator delete(void* block) noexcept { ReleaseBlock(block); }
void operator delete[](void* block) noexcept { ReleaseBlock(block); }
void operator delete(void* block, std::size_t) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { ReleaseBlock(block); }
void operator delete(void* block, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { ReleaseBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { ReleaseBlock(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { ReleaseBlock(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { ReleaseBlock(block); }

namespace kestrix {
namespace {

// Allocations made by `price()`, and whether it failed (a failure would mean
// the path under test was not the pricing path).
struct Count {
    int allocations = 0;
    bool failed = false;
};

template <typename Price>
Count CountAllocations(const Price& price) {
    Count count;
    allocationsCounted = 0;
    allocationsArmed = true;
    try {
        volatile double sink = price();
        (void)sink;
    } catch (const PricingFailure&) {
        count.failed = true;
    }
    allocationsArmed = false;
    count.allocations = allocationsCounted;
    return count;
}

// One option as the launcher hands it to a model: S net of the dividends'
// present value, no bumped-yield differences.
struct Case {
    const char* name;
    double S, X, T, s, r, q, dividendPV;
};

constexpr Case kCases[] = {
    {"at the money", 100, 100, 0.5, 0.25, 0.05, 0.02, 0},
    {"deep in the money, early exercise", 60, 100, 1, 0.2, 0.08, 0, 0},
    {"high yield, early call exercise", 120, 100, 1, 0.3, 0.05, 0.12, 0},
    {"escrowed dividend", 97, 100, 0.5, 0.25, 0.05, 0, 2.5},
};

constexpr double kBumpSize = 1e-5;
constexpr double kGammaBumpSize = 0.01;
// A price the implied searches can match for every case and type.
constexpr double kMarketPrice = 12;

using EntryCall = double (*)(const Case&, std::int32_t exerciseType, std::int32_t optionType,
                             std::int32_t optionFunction);

double GenBs(std::int32_t modelNumber, const Case& c, std::int32_t exerciseType, std::int32_t optionType,
             std::int32_t optionFunction) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(modelNumber, d1, d2, c.S, c.X, c.r, c.q, c.T, c.T, c.s);
    return GeneralizedBlackScholes(modelNumber, exerciseType, optionType, optionFunction, c.S, c.X, c.T, c.T, c.s,
                                   c.r, c.q, c.dividendPV, kMarketPrice, d1, d2, ErrorCode);
}

// The argument form of the two entries (each also has a request form).
using ArgumentEntry = double (*)(std::int32_t, std::int32_t, double, double, double, double, double, double, double,
                                 double, double, double, double, double, double, double, double, double, double,
                                 std::int32_t&);

template <ArgumentEntry Entry>
double Approximation(const Case& c, std::int32_t /*exerciseType*/, std::int32_t optionType,
                     std::int32_t optionFunction) {
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, c.S, c.X, c.r, c.q, c.T, c.T, c.s);
    return Entry(optionType, optionFunction, c.S, c.X, c.T, c.s, c.r, c.q, kMarketPrice, d1, d2, c.dividendPV,
                 kGammaBumpSize, kBumpSize, c.S, c.S, c.q, c.q, c.q, ErrorCode);
}

struct Entry {
    const char* name;
    EntryCall call;
};

const Entry kEntries[] = {
    {"GeneralizedBlackScholes (model 0)",
     [](const Case& c, std::int32_t e, std::int32_t t, std::int32_t f) { return GenBs(BSGen, c, e, t, f); }},
    {"GeneralizedBlackScholes (model 1)",
     [](const Case& c, std::int32_t e, std::int32_t t, std::int32_t f) { return GenBs(BSFrench, c, e, t, f); }},
    {"QuadraticApproximation", Approximation<QuadraticApproximation>},
    {"BjerksundStenslandApproximation", Approximation<BjerksundStenslandApproximation>},
};

TEST(NoAllocation, TheCounterSeesAnAllocation) {
    const Count count = CountAllocations([] {
        int* block = new int(7);
        const double value = *block;
        delete block;
        return value;
    });
    EXPECT_EQ(count.allocations, 1);
}

TEST(NoAllocation, EveryModelEntryEveryFunction) {
    for (const Entry& entry : kEntries) {
        for (const Case& c : kCases) {
            for (const std::int32_t exercise : {American, European}) {
                for (const std::int32_t type : {CallOption, PutOption, Straddle}) {
                    for (std::int32_t function = Theoretical; function <= ImpliedStrike; ++function) {
                        const Count count =
                            CountAllocations([&] { return entry.call(c, exercise, type, function); });
                        EXPECT_EQ(count.allocations, 0) << entry.name << ", " << c.name << ", exercise " << exercise
                                                        << ", type " << type << ", function " << function;
                        EXPECT_FALSE(count.failed) << entry.name << ", " << c.name << ", function " << function;
                    }
                }
            }
        }
    }
}

// Through the object a host holds, every method reaches its model entry
// (GenBS with American exercise the pseudo-American one, Binomial with every
// dividend style, Eurodollar with every model) with the launcher's
// preparation, dividends included.
struct Request {
    std::int32_t exercise;
    std::int32_t type;
    std::int32_t function;
    double marketPrice;
    double dividend;       // one cash dividend at 0.25 years, or 0
    std::int32_t variant;  // Binomial: dividend style; Eurodollar: model
};

constexpr std::int32_t kObjectSteps = 50;

// `result` by reference: it is read after the call that writes it.
double Priced(HRESULT hr, const double& result) { return hr == S_OK ? result : -1; }

using MethodCall = double (*)(IKestrix*, const Request&);

struct ObjectMethod {
    const char* name;
    MethodCall call;
    std::int32_t variants;  // dividend styles or Eurodollar models to run
};

const ObjectMethod kObjectMethods[] = {
    {"GenBS", [](IKestrix* k, const Request& q) {
         double r = 0;
         const auto e = static_cast<enumExerciseType>(q.exercise);
         return Priced(k->GenBS(e, static_cast<enumOptionType>(q.type), static_cast<enumOptionFunctions>(q.function),
                                100, 100, 0.5, 0.25, 0.05, 0.02, q.marketPrice, Years, q.dividend, 0.25, 0,
                                DiscreteCashFlow, Continuous, Continuous, &r),
                       r);
     }, 1},
    {"FrenchBS", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->FrenchBS(static_cast<enumExerciseType>(q.exercise), static_cast<enumOptionType>(q.type),
                                   static_cast<enumOptionFunctions>(q.function), 100, 100, 0.4, 0.5, 0.25, 0.05,
                                   0.02, q.marketPrice, Years, q.dividend, 0.25, 0, DiscreteCashFlow, Continuous,
                                   Continuous, &r),
                       r);
     }, 1},
    {"Binomial", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->Binomial(static_cast<enumExerciseType>(q.exercise), static_cast<enumOptionType>(q.type),
                                   static_cast<enumOptionFunctions>(q.function), kObjectSteps, 100, 100, 0.5, 0.25,
                                   0.05, 0.02, q.marketPrice, Years, q.dividend, 0.25, 0,
                                   static_cast<enumDividendStyleBin>(q.variant), Continuous, Continuous, &r),
                       r);
     }, 4},
    {"Whaley", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->Whaley(static_cast<enumOptionType>(q.type), static_cast<enumOptionFunctions>(q.function),
                                 100, 100, 0.5, 0.25, 0.05, 0.02, q.marketPrice, Years, q.dividend, 0.25, 0,
                                 DiscreteCashFlow, Continuous, Continuous, &r),
                       r);
     }, 1},
    {"BSAmerican", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->BSAmerican(static_cast<enumOptionType>(q.type),
                                     static_cast<enumOptionFunctions>(q.function), 100, 100, 0.5, 0.25, 0.05, 0.02,
                                     q.marketPrice, Years, q.dividend, 0.25, 0, DiscreteCashFlow, Continuous,
                                     Continuous, &r),
                       r);
     }, 1},
    {"JumpDiffusion", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->JumpDiffusion(static_cast<enumOptionType>(q.type),
                                        static_cast<enumOptionFunctions>(q.function), 100, 100, 0.5, 0.25, 1, 0.25,
                                        0.05, 0.02, q.marketPrice, Years, q.dividend, 0.25, 0, DiscreteCashFlow,
                                        Continuous, Continuous, &r),
                       r);
     }, 1},
    {"AmericanCall", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->AmericanCall(static_cast<enumOptionFunctions>(q.function), 100, 100, 0.5, 0.25, 0.05,
                                       q.marketPrice, Years, q.dividend, 0.25, 0, Continuous, &r),
                       r);
     }, 1},
    {"Eurodollar", [](IKestrix* k, const Request& q) {
         double r = 0;
         return Priced(k->Eurodollar(static_cast<enumEurodollarModel>(q.variant),
                                     static_cast<enumExerciseType>(q.exercise), static_cast<enumOptionType>(q.type),
                                     static_cast<enumOptionFunctions>(q.function), 95, 95, 0.5, 0.25, 0.05,
                                     kObjectSteps, q.marketPrice, Years, Continuous, &r),
                       r);
     }, 4},
};

class ObjectAllocations : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)), S_OK);
    }
    void TearDown() override {
        if (object != nullptr) object->Release();
    }
    IKestrix* object = nullptr;
};

TEST_F(ObjectAllocations, EveryMethodEveryFunctionThroughTheFunctionTable) {
    for (const ObjectMethod& method : kObjectMethods) {
        for (std::int32_t variant = 0; variant < method.variants; ++variant) {
            for (const double dividend : {0.0, 2.0}) {
                for (const std::int32_t exercise : {American, European}) {
                    for (const std::int32_t type : {CallOption, PutOption, Straddle}) {
                        // The implied searches look for the option's own value.
                        const double value =
                            method.call(object, Request{exercise, type, Theoretical, 0, dividend, variant});
                        ASSERT_GT(value, 0) << method.name << ", type " << type << ", variant " << variant;
                        for (std::int32_t function = Theoretical; function <= ImpliedStrike; ++function) {
                            const Request request{exercise, type, function, value, dividend, variant};
                            double result = 0;
                            const Count count = CountAllocations([&] { return result = method.call(object, request); });
                            EXPECT_EQ(count.allocations, 0)
                                << method.name << ", variant " << variant << ", dividend " << dividend
                                << ", exercise " << exercise << ", type " << type << ", function " << function;
                            EXPECT_NE(result, -1) << method.name << " failed, function " << function;
                        }
                    }
                }
            }
        }
    }
}

// Invoke by DISPID with every parameter as a positional VARIANT of its
// declared type, and once more with integers where doubles are declared
// (the conversion path).
TEST_F(ObjectAllocations, EveryMethodEveryFunctionThroughInvoke) {
    const auto valueOf = [](std::string_view name, std::int32_t function) -> double {
        if (name == "ExerciseType") return European;
        if (name == "OptionType") return CallOption;
        if (name == "OptionFunction") return function;
        if (name == "Iterations") return kObjectSteps;
        if (name == "AssetPrice" || name == "StrikePrice") return 95;
        if (name == "TimeExpire" || name == "TimeTrading" || name == "MarketPrice") return 1;
        if (name == "Volatility" || name == "PercentTotalVol") return 0.25;
        if (name == "InterestRate") return 0.05;
        if (name == "TimeFormat" || name == "JumpsPerYear") return 1;
        return 0;
    };
    for (const MethodDescription& method : typelib::kMethods) {
        for (const bool convert : {false, true}) {
            for (std::int32_t function = Theoretical; function <= ImpliedStrike; ++function) {
                std::vector<VARIANT> args;
                for (const ParamDescription& param : method.params) {
                    VARIANT arg;
                    VariantInit(&arg);
                    const double value = valueOf(param.name, function);
                    if (param.kind == ParamKind::Double && !(convert && value == static_cast<LONG>(value))) {
                        arg.vt = VT_R8;
                        arg.dblVal = value;
                    } else {
                        arg.vt = VT_I4;
                        arg.lVal = static_cast<LONG>(value);
                    }
                    args.insert(args.begin(), arg);  // positional arguments travel last first
                }
                DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
                VARIANT result;
                VariantInit(&result);
                EXCEPINFO exception{};
                UINT argErr = 0;
                HRESULT hr = E_FAIL;
                const Count count = CountAllocations([&] {
                    hr = object->Invoke(method.dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                        &result, &exception, &argErr);
                    return result.dblVal;
                });
                EXPECT_EQ(hr, S_OK) << method.name << ", function " << function;
                EXPECT_EQ(count.allocations, 0) << method.name << ", function " << function << ", convert " << convert;
                ClearExcepInfo(&exception);
            }
        }
    }
}

}  // namespace
}  // namespace kestrix
