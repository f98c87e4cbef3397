// What a failing call costs when the class is registered: its error
// information names the registered programmatic identifier, looked up in the
// registry on every failure. The store is read once and kept while the file
// is unchanged, so the cost must not grow with the store: range(0) is the
// number of other keys in it (-1: no store file at all).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "automation/Kestrix.h"
#include "automation/OptionsImpl.h"

namespace {

using namespace kestrix;

// A registry of its own for the benchmark's lifetime, given a modification
// time in the past so the process keeps what it reads.
class TBenchRegistry {
public:
    explicit TBenchRegistry(long otherKeys) {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        if (const char* old = std::getenv("KESTRIX_REGISTRY")) old_ = old;
        const std::string file = (*folder_ / "registry").string();
        setenv("KESTRIX_REGISTRY", file.c_str(), 1);
        if (otherKeys < 0) return;
        HREGTRANSACTION transaction = nullptr;
        if (FAILED(RegistryBeginTransaction(&transaction))) return;
        RegistrySetValue("CLSID\\{71D12FBC-BCD2-49AD-A254-B46503A8DA23}\\ProgID", nullptr, "Quantora.Kestrix",
                         transaction);
        for (long i = 0; i < otherKeys; ++i) {
            RegistrySetValue(("Other.Program" + std::to_string(i) + "\\CLSID").c_str(), nullptr,
                             "{00000000-0000-0000-0000-000000000001}", transaction);
        }
        RegistryCommitTransaction(transaction);
        const timespec past[2] = {{1700000000, 0}, {1700000000, 0}};
        utimensat(AT_FDCWD, file.c_str(), past, 0);
    }
    ~TBenchRegistry() {
        if (old_) {
            setenv("KESTRIX_REGISTRY", old_->c_str(), 1);
        } else {
            unsetenv("KESTRIX_REGISTRY");
        }
        std::error_code ignored;
        if (folder_) std::filesystem::remove_all(*folder_, ignored);
    }
    TBenchRegistry(const TBenchRegistry&) = delete;
    TBenchRegistry& operator=(const TBenchRegistry&) = delete;

private:
    std::optional<std::filesystem::path> folder_;
    std::optional<std::string> old_;
};

void BM_FailingCallSource(benchmark::State& state) {
    const TBenchRegistry registry(state.range(0));
    IKestrix* object = nullptr;
    if (FAILED(TOptionsImpl::CreateInstance(nullptr, IID_IKestrix, reinterpret_cast<void**>(&object)))) {
        state.SkipWithError("no object");
        return;
    }
    for (auto _ : state) {
        double result = 0;
        benchmark::DoNotOptimize(object->GenBS(European, CallOption, Theoretical, 100, 0, 1, 0.2, 0.05, 0, 0, Years,
                                               0, 0, 0, DiscreteCashFlow, Continuous, Continuous, &result));
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK) info->Release();
    }
    object->Release();
}
BENCHMARK(BM_FailingCallSource)->Arg(-1)->Arg(0)->Arg(10000);

}  // namespace
