// Calls IKestrix's pricing methods through the function table, as a compiled
// host does, with arbitrary doubles and integers for every parameter. The
// input is the method's index, then each parameter drawn in order (with a
// bias toward NaN, infinities, signed zeros, denormals, huge values and the
// edges of every range); several calls per input share one object.
//
// Promises checked: a call answers S_OK with a finite value, or fails with a
// code of the error table whose text is the installed description (or with
// DISP_E_EXCEPTION / E_OUTOFMEMORY), leaving the result untouched; a null
// result pointer is E_POINTER. The sanitizers and the leak check do the rest.

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "FuzzSupport.h"
#include "automation/Module.h"
#include "automation/OptionsImpl.h"
#include "automation/TypeLibrary.h"
#include "core/ErrorCodes.h"

namespace kestrix::fuzz {
namespace {

template <typename T>
T Draw(FuzzedDataProvider& data) {
    if constexpr (std::is_same_v<T, double>) {
        return InterestingDouble(data);
    } else if constexpr (std::is_enum_v<T>) {
        return static_cast<T>(InterestingEnum(data));
    } else {
        static_assert(std::is_same_v<T, std::int32_t>);
        return InterestingIterations(data);
    }
}

template <typename... A, std::size_t... I>
HRESULT CallDrawn(IKestrix* object, HRESULT (STDMETHODCALLTYPE IKestrix::*method)(A...), FuzzedDataProvider& data, double* result,
                  std::index_sequence<I...>) {
    using Params = std::tuple<A...>;
    // A braced list evaluates in order, so the input decodes the same way everywhere.
    const std::tuple<std::tuple_element_t<I, Params>...> args{Draw<std::tuple_element_t<I, Params>>(data)...};
    if (Tracing()) {
        ((std::fprintf(stderr, " %.17g", static_cast<double>(std::get<I>(args)))), ...);
    }
    return (object->*method)(std::get<I>(args)..., result);
}

// Draws every parameter but the final double* Result_, then calls.
template <typename... A>
HRESULT CallDrawn(IKestrix* object, HRESULT (STDMETHODCALLTYPE IKestrix::*method)(A...), FuzzedDataProvider& data, double* result) {
    return CallDrawn(object, method, data, result, std::make_index_sequence<sizeof...(A) - 1>{});
}

using Caller = HRESULT (*)(IKestrix*, FuzzedDataProvider&, double*);

template <auto Method>
HRESULT Call(IKestrix* object, FuzzedDataProvider& data, double* result) {
    return CallDrawn(object, Method, data, result);
}

constexpr Caller kCallers[] = {
    &Call<&IKestrix::GenBS>,      &Call<&IKestrix::FrenchBS>,      &Call<&IKestrix::Binomial>,
    &Call<&IKestrix::Whaley>,     &Call<&IKestrix::BSAmerican>,    &Call<&IKestrix::JumpDiffusion>,
    &Call<&IKestrix::AmericanCall>, &Call<&IKestrix::Eurodollar>,
};

std::string Text(BSTR text) { return text == nullptr ? std::string() : std::string(text, SysStringLen(text)); }

// The failure's error information: present, and describing exactly `hr`.
void CheckErrorInfo(HRESULT hr) {
    IErrorInfo* info = nullptr;
    KESTRIX_FUZZ_CHECK(GetErrorInfo(0, &info) == S_OK);
    BSTR description = nullptr;
    KESTRIX_FUZZ_CHECK(info->GetDescription(&description) == S_OK);
    if (hr != DISP_E_EXCEPTION) {
        const char* expected = ErrorText(static_cast<enumOErrCodes>(hr));
        KESTRIX_FUZZ_CHECK(expected != nullptr);
        KESTRIX_FUZZ_CHECK(Text(description) == expected);
    }
    SysFreeString(description);
    GUID guid{};
    KESTRIX_FUZZ_CHECK(info->GetGUID(&guid) == S_OK && guid == IID_IKestrix);
    info->Release();
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

    IKestrix* object = nullptr;
    KESTRIX_FUZZ_CHECK(TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)) ==
                       S_OK);
    for (int call = 0; call < 4 && data.remaining_bytes() > 0; ++call) {
        const std::size_t index = data.ConsumeIntegralInRange<std::size_t>(0, std::size(kCallers) - 1);
        const bool nullResult = data.ConsumeIntegralInRange<int>(0, 31) == 0;
        constexpr double kSentinel = -12345.678;
        double result = kSentinel;
        SetErrorInfo(0, nullptr);
        if (Tracing()) std::fprintf(stderr, "%s", typelib::kMethods[index].name);
        const auto start = std::chrono::steady_clock::now();
        const HRESULT hr = kCallers[index](object, data, nullResult ? nullptr : &result);
        if (Tracing()) {
            std::fprintf(stderr, " -> 0x%08X %.17g (%.3f s)\n", static_cast<unsigned>(hr), result,
                         std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        if (nullResult) {
            KESTRIX_FUZZ_CHECK(hr == E_POINTER);
        } else if (hr == S_OK) {
            KESTRIX_FUZZ_CHECK(std::isfinite(result));
        } else {
            KESTRIX_FUZZ_CHECK(FAILED(hr));
            KESTRIX_FUZZ_CHECK(std::memcmp(&result, &kSentinel, sizeof result) == 0);
            if (hr != E_OUTOFMEMORY) CheckErrorInfo(hr);
        }
        DrainErrorInfo();
    }
    KESTRIX_FUZZ_CHECK(object->Release() == 0);
    KESTRIX_FUZZ_CHECK(ModuleLockCount() == locksBefore);
    return 0;
}
