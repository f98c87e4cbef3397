// No pricing path touches the heap: every model entry, for every option
// function and option type, on inputs that take the early-exercise and
// dividend branches too, with the global allocation functions replaced by
// counting ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "approx/BAWQuadraticApprox.h"
#include "approx/BjerksundStensland.h"
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

}  // namespace

void* operator new(std::size_t size) { return CountedAllocation(size, 0); }
void* operator new[](std::size_t size) { return CountedAllocation(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
    return CountedAllocation(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return CountedAllocation(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }

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

template <auto Entry>
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

}  // namespace
}  // namespace kestrix
