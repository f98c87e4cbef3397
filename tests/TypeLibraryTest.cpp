#include <gtest/gtest.h>

#include <set>
#include <string>

#include "automation/TypeLibrary.h"
#include "core/ErrorCodes.h"

namespace kestrix {
namespace {

// A method's parameters as one line: optional ones in brackets, each
// enumeration parameter with its type after a colon.
std::string Signature(const MethodDescription& method) {
    std::string line;
    for (const auto& p : method.params) {
        std::string item = p.name;
        if (p.kind == ParamKind::Enum) item += std::string(":") + p.enumeration->name;
        if (p.kind == ParamKind::Int) item += ":int";
        line += (line.empty() ? "" : " ") + (p.optional ? "[" + item + "]" : item);
    }
    return line;
}

TEST(TypeLibrary, MethodsAsTheInterfaceDeclaresThem) {
    const std::string genBSTail =
        "AssetPrice StrikePrice TimeExpire Volatility InterestRate YieldRate [MarketPrice] "
        "[TimeFormat:enumTimeFormat] [DividendAmount] [TimeExDividend] [DividendFrequency] ";
    const std::string rateTypes = " [InterestRateType:enumCompoundRate] [YieldRateType:enumCompoundRate]";
    const std::string style = "[DividendStyle:enumDividendStyle]";
    const std::string head = "ExerciseType:enumExerciseType OptionType:enumOptionType "
                             "OptionFunction:enumOptionFunctions ";
    const std::string twoHead = "OptionType:enumOptionType OptionFunction:enumOptionFunctions ";
    struct Expected {
        DISPID dispid;
        const char* name;
        const char* help;
        DWORD context;
        std::string params;
    };
    const Expected expected[] = {
        {0, "GenBS", "Generalized Black-Scholes Model", 2, head + genBSTail + style + rateTypes},
        {1, "FrenchBS", "French Black-Scholes Model", 3,
         head + "AssetPrice StrikePrice TimeTrading TimeExpire Volatility InterestRate YieldRate [MarketPrice] "
                "[TimeFormat:enumTimeFormat] [DividendAmount] [TimeExDividend] [DividendFrequency] " +
             style + rateTypes},
        {2, "Binomial", "Binomial Model", 7,
         head + "Iterations:int " + genBSTail + "[DividendStyle:enumDividendStyleBin]" + rateTypes},
        {4, "Whaley", "Quadratic Approximation Model", 5, twoHead + genBSTail + style + rateTypes},
        {6, "BSAmerican", "Bjerksund-Stensland Model", 9, twoHead + genBSTail + style + rateTypes},
        {7, "JumpDiffusion", "Merton Jump-Diffusion Model", 8,
         twoHead + "AssetPrice StrikePrice TimeExpire Volatility JumpsPerYear PercentTotalVol InterestRate "
                   "YieldRate [MarketPrice] [TimeFormat:enumTimeFormat] [DividendAmount] [TimeExDividend] "
                   "[DividendFrequency] " +
             style + rateTypes},
        {5, "AmericanCall", "Roll-Geske-Whaley Model", 35,
         "OptionFunction:enumOptionFunctions AssetPrice StrikePrice TimeExpire Volatility InterestRate "
         "[MarketPrice] [TimeFormat:enumTimeFormat] [DividendAmount] [TimeExDividend] [DividendFrequency] "
         "[InterestRateType:enumCompoundRate]"},
        {3, "Eurodollar", "Eurodollar Model", 6,
         "Model:enumEurodollarModel " + head +
             "AssetPrice StrikePrice TimeExpire Volatility InterestRate [Iterations:int] [MarketPrice] "
             "[TimeFormat:enumTimeFormat] [InterestRateType:enumCompoundRate]"},
    };
    ASSERT_EQ(std::size(typelib::kMethods), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const auto& method = typelib::kMethods[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(method.name, expected[i].name);
        EXPECT_EQ(method.dispid, expected[i].dispid);
        EXPECT_STREQ(method.helpString, expected[i].help);
        EXPECT_EQ(method.helpContext, expected[i].context);
        EXPECT_EQ(Signature(method), expected[i].params);
    }
    EXPECT_EQ(typelib::kMaxParams, 18u);
}

TEST(TypeLibrary, EnumerationsWithTheirValuesInDeclarationOrder) {
    const std::pair<const char*, std::string> expected[] = {
        {"enumOptionType", "CallOption=1 PutOption=2 Straddle=3"},
        {"enumOptionFunctions",
         "Theoretical=1 Delta=2 Gamma=3 Theta=4 ImpliedVol=5 Vega=6 Rho=7 Psi=8 Lambda=9 IntrinsicValue=10 "
         "StrikeSensitivity=11 Time_Value=12 ImpliedStrike=13"},
        {"enumCompoundRate",
         "Continuous=0 Monthly=2 Quarterly=4 SemiAnnually=6 Annually=7 LIBOR=8 BankDiscountRate=9 "
         "BondEquivelantYield=10 TermRate=11 TriAnnually=5 BiMonthly=3 Daily=1"},
        {"enumTimeFormat", "Days=0 Years=1"},
        {"enumDividendStyle", "DiscreteCashFlow=0 ContinuousYield=1"},
        {"enumDividendStyleBin", "DiscreteCashFlowBin=0 ContinuousYieldBin=1 DiscreteControlVar=2 "
                                 "ContinuousControlVar=3"},
        {"enumExerciseType", "American=0 European=1"},
        {"enumAvailableModels",
         "GenBlackScholesModel=0 GenBlackScholesFrench=1 BinomialModel=2 EurodollarModel=3 BAWQuadraticApprox=4 "
         "RGWCallModel=5 BjerksundStenslandModel=6 JumpDiffusionModel=7 PseudoAmericanModel=8"},
        {"enumEurodollarModel", "GenBSEuro=0 WhaleyEuro=1 BinomialEuro=2 BSAmericanEuro=3"},
        {"enumModel", "BSGen=0 BSFrench=1 CRRBinomial=2 Eurodollars=3 Whaleys=4 RGWCall=5 AmericanBS=6 JumpDiff=7"},
    };
    const auto all = Enumerations();
    ASSERT_EQ(all.size(), std::size(expected) + 1);
    std::set<std::string> guids;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        std::string members;
        for (const auto& m : all[i]->members) {
            members += (members.empty() ? "" : " ") + std::string(m.name) + "=" + std::to_string(m.value);
        }
        EXPECT_STREQ(all[i]->name, expected[i].first);
        EXPECT_EQ(members, expected[i].second);
        OLECHAR text[kGuidStringLength];
        StringFromGUID2(all[i]->guid, text, kGuidStringLength);
        guids.insert(text);
    }

    const EnumDescription& errors = *all.back();
    EXPECT_STREQ(errors.name, "enumOErrCodes");
    ASSERT_EQ(errors.members.size(), ErrorTable().size());
    EXPECT_STREQ(errors.members[0].name, "None");
    EXPECT_EQ(errors.members[0].value, 0);
    const EnumMember* strike = FindMember(errors, "strikepriceerr");
    ASSERT_NE(strike, nullptr);
    EXPECT_EQ(static_cast<std::uint32_t>(strike->value), 0x80050002u);
    EXPECT_STREQ(strike->helpString, "StrikePrice must be greater than 0.");
    const EnumMember* last = &errors.members.back();
    EXPECT_STREQ(last->name, "VolOpenLimitErr");
    EXPECT_EQ(static_cast<std::uint32_t>(last->value), 0x80050031u);

    // Every identifier of the library is its own.
    for (const GUID& g : {errors.guid, typelib::LIBID_Quantora, typelib::CLSID_Kestrix, typelib::IID_IKestrix}) {
        OLECHAR text[kGuidStringLength];
        StringFromGUID2(g, text, kGuidStringLength);
        guids.insert(text);
    }
    EXPECT_EQ(guids.size(), std::size(expected) + 4);
}

}  // namespace
}  // namespace kestrix
