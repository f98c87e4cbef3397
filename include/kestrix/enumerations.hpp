// The interface's enumerations: the type library's names and values, all
// 32-bit signed. The pricing functions take plain std::int32_t so that a
// caller's out-of-range value reaches the check that rejects it; a C++ caller
// may pass one as static_cast<enumOptionType>(7) and receive that error.
#pragma once

#include <cstdint>

namespace kestrix {

enum enumExerciseType : std::int32_t { American = 0, European = 1 };

enum enumOptionType : std::int32_t { CallOption = 1, PutOption = 2, Straddle = 3 };

enum enumOptionFunctions : std::int32_t {
    Theoretical = 1,
    Delta = 2,
    Gamma = 3,
    Theta = 4,
    ImpliedVol = 5,
    Vega = 6,
    Rho = 7,
    Psi = 8,
    Lambda = 9,
    IntrinsicValue = 10,
    StrikeSensitivity = 11,
    Time_Value = 12,
    ImpliedStrike = 13,
};

enum enumCompoundRate : std::int32_t {
    Continuous = 0,
    Daily = 1,
    Monthly = 2,
    BiMonthly = 3,
    Quarterly = 4,
    TriAnnually = 5,
    SemiAnnually = 6,
    Annually = 7,
    LIBOR = 8,
    BankDiscountRate = 9,
    BondEquivelantYield = 10,
    TermRate = 11,
};

enum enumTimeFormat : std::int32_t { Days = 0, Years = 1 };

enum enumDividendStyle : std::int32_t { DiscreteCashFlow = 0, ContinuousYield = 1 };

enum enumDividendStyleBin : std::int32_t {
    DiscreteCashFlowBin = 0,
    ContinuousYieldBin = 1,
    DiscreteControlVar = 2,
    ContinuousControlVar = 3,
};

// Model numbers as the launcher routes them (8 is the pseudo-American
// approximation that GenBS uses for American exercise).
enum enumAvailableModels : std::int32_t {
    GenBlackScholesModel = 0,
    GenBlackScholesFrench = 1,
    BinomialModel = 2,
    EurodollarModel = 3,
    BAWQuadraticApprox = 4,
    RGWCallModel = 5,
    BjerksundStenslandModel = 6,
    JumpDiffusionModel = 7,
    PseudoAmericanModel = 8,
};

enum enumEurodollarModel : std::int32_t { GenBSEuro = 0, WhaleyEuro = 1, BinomialEuro = 2, BSAmericanEuro = 3 };

enum enumModel : std::int32_t {
    BSGen = 0,
    BSFrench = 1,
    CRRBinomial = 2,
    Eurodollars = 3,
    Whaleys = 4,
    RGWCall = 5,
    AmericanBS = 6,
    JumpDiff = 7,
};

}  // namespace kestrix
