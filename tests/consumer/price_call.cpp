// An outside program using the installed library: prices a call, reads the
// error of a zero strike, and checks the version it runs with.
#include <kestrix/kestrix.hpp>

#include <cstdio>
#include <cstring>

int main() {
    kestrix::GenBSInputs call{.ExerciseType = kestrix::European,
                              .OptionType = kestrix::CallOption,
                              .OptionFunction = kestrix::Theoretical,
                              .AssetPrice = 100,
                              .StrikePrice = 100,
                              .TimeExpire = 1,
                              .Volatility = 0.2,
                              .InterestRate = 0.05,
                              .TimeFormat = kestrix::Years};
    const kestrix::Result value = kestrix::GenBS(call);
    if (!value) {
        std::printf("the call failed: %s\n", value.text());
        return 1;
    }
    std::printf("Call value: %.15g\n", value.value());

    call.StrikePrice = 0;
    try {
        kestrix::GenBS(call).value();
        std::printf("a zero strike was priced\n");
        return 1;
    } catch (const kestrix::PricingError& error) {
        std::printf("Error 0x%08X: %s\n", static_cast<unsigned>(error.code()), error.what());
    }
    if (std::strcmp(kestrix::LibraryVersion(), KESTRIX_VERSION_STRING) != 0) {
        std::printf("built against %s, running with %s\n", KESTRIX_VERSION_STRING, kestrix::LibraryVersion());
        return 1;
    }
    std::printf("Kestrix %s\n", kestrix::LibraryVersion());
    return 0;
}
