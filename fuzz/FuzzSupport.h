// What both fuzz targets share: values drawn with a bias toward the ones that
// break numerical code, a private registry, and a check that stops the run
// with a message when the object breaks a promise it makes to its host.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include "platform/ComRuntime.h"

namespace kestrix::fuzz {

#define KESTRIX_FUZZ_CHECK(condition)                                                               \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);      \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)

// KESTRIX_FUZZ_TRACE=1 prints each call an input makes (to replay a finding).
inline bool Tracing() {
    static const bool tracing = std::getenv("KESTRIX_FUZZ_TRACE") != nullptr;
    return tracing;
}

inline double InterestingDouble(FuzzedDataProvider& data) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    static constexpr double kValues[] = {
        0.0,     -0.0,      1.0,    -1.0,     100.0,   90.0,    110.0,    0.25,    0.05,   0.3,
        365.0,   30.0,      1e-300, 4.9e-324, 2.2e-308, -4.9e-324, 1e308,  -1e308,  1.7976931348623157e308,
        kInf,    -kInf,     std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
        1e-12,   1e12,      -1e12,  0.5,      2.0,     12.0,    1e-9,     4.0,     52.0,   0.0001,
        2147483647.0, -2147483648.0, 2147483648.0, 1e15, 500.0, 501.0, 4.0, 5.0,
    };
    switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return data.PickValueInArray(kValues);
        case 1: return data.ConsumeFloatingPointInRange<double>(-1000.0, 1000.0);
        case 2: return data.ConsumeFloatingPoint<double>();
        default: {
            // Any bit pattern: every NaN payload and every denormal.
            const std::uint64_t bits = data.ConsumeIntegral<std::uint64_t>();
            double value;
            static_assert(sizeof value == sizeof bits);
            __builtin_memcpy(&value, &bits, sizeof value);
            return value;
        }
    }
}

// An integer for an enumeration: mostly a member, sometimes just outside the
// range, sometimes anything.
inline std::int32_t InterestingEnum(FuzzedDataProvider& data) {
    static constexpr std::int32_t kValues[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, -1,
                                               std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()};
    if (data.ConsumeBool()) return data.PickValueInArray(kValues);
    return data.ConsumeIntegral<std::int32_t>();
}

// An iteration count: the edges of the accepted range and far beyond them.
inline std::int32_t InterestingIterations(FuzzedDataProvider& data) {
    static constexpr std::int32_t kValues[] = {0, 1, 2, 4, 5, 6, 7, 50, 100, 499, 500, 501, 1000, 100000, -1,
                                               std::numeric_limits<std::int32_t>::min(),
                                               std::numeric_limits<std::int32_t>::max()};
    if (data.ConsumeBool()) return data.PickValueInArray(kValues);
    return data.ConsumeIntegral<std::int32_t>();
}

// Points KESTRIX_REGISTRY at a fresh folder of this process, removed at exit,
// so a run neither reads nor writes the user's registry. With `registerClass`
// the class's ProgID is registered, so failures also fetch their source.
inline void UsePrivateRegistry(bool registerClass) {
    static std::filesystem::path folder;
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
    setenv("KESTRIX_REGISTRY", (folder / "registry").c_str(), 1);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    if (registerClass) {
        KESTRIX_FUZZ_CHECK(SUCCEEDED(RegistrySetValue("CLSID\\{71D12FBC-BCD2-49AD-A254-B46503A8DA23}\\ProgID",
                                                      nullptr, "Quantora.Kestrix")));
    }
}

// Collects and drops whatever error information the call left on the thread,
// reading each field so a broken object shows up here.
inline void DrainErrorInfo() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) return;
    KESTRIX_FUZZ_CHECK(info != nullptr);
    BSTR text = nullptr;
    KESTRIX_FUZZ_CHECK(SUCCEEDED(info->GetDescription(&text)));
    SysFreeString(text);
    text = nullptr;
    KESTRIX_FUZZ_CHECK(SUCCEEDED(info->GetSource(&text)));
    SysFreeString(text);
    text = nullptr;
    KESTRIX_FUZZ_CHECK(SUCCEEDED(info->GetHelpFile(&text)));
    SysFreeString(text);
    DWORD context = 0;
    KESTRIX_FUZZ_CHECK(SUCCEEDED(info->GetHelpContext(&context)));
    GUID guid{};
    KESTRIX_FUZZ_CHECK(SUCCEEDED(info->GetGUID(&guid)));
    info->Release();
}

}  // namespace kestrix::fuzz
