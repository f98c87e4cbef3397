// Prices a few European options through the C++ pricing entry and prints them.
#include <cstdio>

#include "core/D1D2.h"
#include "core/Enumerations.h"
#include "core/ErrorCodes.h"
#include "core/PlainOptions.h"

int main() {
    using namespace kestrix;
    struct Row {
        const char* label;
        std::int32_t type;
        std::int32_t function;
    };
    const Row rows[] = {
        {"call value", CallOption, Theoretical}, {"put value", PutOption, Theoretical},
        {"call delta", CallOption, Delta},       {"straddle vega", Straddle, Vega},
        {"put theta", PutOption, Theta},
    };
    const double S = 100, X = 100, T = 0.5, sigma = 0.25, r = 0.05, q = 0.02;
    double d1 = 0, d2 = 0;
    ComputeD1D2(BSGen, d1, d2, S, X, r, q, T, T, sigma);
    std::printf("S=%g X=%g T=%g sigma=%g r=%g q=%g\n", S, X, T, sigma, r, q);
    for (const Row& row : rows) {
        const double v = GeneralizedBlackScholes(BSGen, European, row.type, row.function, S, X, T, T, sigma, r, q, 0,
                                                 0, d1, d2, ErrorCode);
        std::printf("%-14s %.17g\n", row.label, v);
    }
    return 0;
}
