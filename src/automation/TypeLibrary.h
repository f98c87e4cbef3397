// The type library Quantora as data compiled into the library: the class, the
// interface, the enumerations and every method with its dispatch identifier,
// help string, help context and parameters. This one table drives name
// lookup and argument conversion in IDispatch, the printed description of the
// host, and the check that the interface's C++ signatures match it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "core/Enumerations.h"
#include "platform/ComRuntime.h"

namespace kestrix {

struct EnumMember {
    const char* name;
    std::int32_t value;
    const char* helpString;  // empty for all but the error codes
};

struct EnumDescription {
    const char* name;
    GUID guid;
    std::span<const EnumMember> members;  // in declaration order
};

// How a parameter travels: an 8-byte float, a 32-bit integer, or a 32-bit
// enumeration value.
enum class ParamKind : std::uint8_t { Double, Int, Enum };

struct ParamDescription {
    const char* name;
    ParamKind kind;
    const EnumDescription* enumeration;  // for ParamKind::Enum
    bool optional;
};

// Every method also has the final [out, retval] double `Result_`, which is not
// listed among its parameters.
struct MethodDescription {
    DISPID dispid;
    const char* name;
    const char* helpString;
    DWORD helpContext;
    std::span<const ParamDescription> params;
};

inline constexpr const char* kResultParamName = "Result_";

namespace typelib {

inline constexpr GUID LIBID_Quantora = MakeGuid("{2C9D68B6-D2AE-41BB-9161-409F995B3444}");
inline constexpr GUID CLSID_Kestrix = MakeGuid("{71D12FBC-BCD2-49AD-A254-B46503A8DA23}");
inline constexpr GUID IID_IKestrix = MakeGuid("{C4B1C099-325E-47EA-8DF4-A6429DFD28AB}");

inline constexpr const char* kLibraryName = "Quantora";
inline constexpr const char* kLibraryHelpString = "Quantora 2.0 Type Library";
inline constexpr WORD kMajorVersion = 1;
inline constexpr WORD kMinorVersion = 0;
inline constexpr LCID kLocale = 0x409;
inline constexpr const char* kHelpFile = "Kestrix.hlp";
inline constexpr const char* kClassName = "Kestrix";
inline constexpr const char* kClassHelpString = "PlainOptions Object";
inline constexpr const char* kInterfaceName = "IKestrix";
inline constexpr const char* kProgId = "Quantora.Kestrix";

// A member's name and value both come from the enumerator in
// core/Enumerations.h.
#define KESTRIX_MEMBER(enumerator) EnumMember{#enumerator, enumerator, ""}

inline constexpr EnumMember kOptionTypeMembers[] = {
    KESTRIX_MEMBER(CallOption), KESTRIX_MEMBER(PutOption), KESTRIX_MEMBER(Straddle)};
inline constexpr EnumMember kOptionFunctionsMembers[] = {
    KESTRIX_MEMBER(Theoretical),    KESTRIX_MEMBER(Delta),          KESTRIX_MEMBER(Gamma),
    KESTRIX_MEMBER(Theta),          KESTRIX_MEMBER(ImpliedVol),     KESTRIX_MEMBER(Vega),
    KESTRIX_MEMBER(Rho),            KESTRIX_MEMBER(Psi),            KESTRIX_MEMBER(Lambda),
    KESTRIX_MEMBER(IntrinsicValue), KESTRIX_MEMBER(StrikeSensitivity), KESTRIX_MEMBER(Time_Value),
    KESTRIX_MEMBER(ImpliedStrike)};
// Declared in this order, which is not the order of the values.
inline constexpr EnumMember kCompoundRateMembers[] = {
    KESTRIX_MEMBER(Continuous),       KESTRIX_MEMBER(Monthly),
    KESTRIX_MEMBER(Quarterly),        KESTRIX_MEMBER(SemiAnnually),
    KESTRIX_MEMBER(Annually),         KESTRIX_MEMBER(LIBOR),
    KESTRIX_MEMBER(BankDiscountRate), KESTRIX_MEMBER(BondEquivelantYield),
    KESTRIX_MEMBER(TermRate),         KESTRIX_MEMBER(TriAnnually),
    KESTRIX_MEMBER(BiMonthly),        KESTRIX_MEMBER(Daily)};
inline constexpr EnumMember kTimeFormatMembers[] = {KESTRIX_MEMBER(Days), KESTRIX_MEMBER(Years)};
inline constexpr EnumMember kDividendStyleMembers[] = {
    KESTRIX_MEMBER(DiscreteCashFlow), KESTRIX_MEMBER(ContinuousYield)};
inline constexpr EnumMember kDividendStyleBinMembers[] = {
    KESTRIX_MEMBER(DiscreteCashFlowBin), KESTRIX_MEMBER(ContinuousYieldBin), KESTRIX_MEMBER(DiscreteControlVar),
    KESTRIX_MEMBER(ContinuousControlVar)};
inline constexpr EnumMember kExerciseTypeMembers[] = {KESTRIX_MEMBER(American), KESTRIX_MEMBER(European)};
inline constexpr EnumMember kAvailableModelsMembers[] = {
    KESTRIX_MEMBER(GenBlackScholesModel), KESTRIX_MEMBER(GenBlackScholesFrench),
    KESTRIX_MEMBER(BinomialModel),        KESTRIX_MEMBER(EurodollarModel),
    KESTRIX_MEMBER(BAWQuadraticApprox),   KESTRIX_MEMBER(RGWCallModel),
    KESTRIX_MEMBER(BjerksundStenslandModel), KESTRIX_MEMBER(JumpDiffusionModel),
    KESTRIX_MEMBER(PseudoAmericanModel)};
inline constexpr EnumMember kEurodollarModelMembers[] = {
    KESTRIX_MEMBER(GenBSEuro), KESTRIX_MEMBER(WhaleyEuro), KESTRIX_MEMBER(BinomialEuro),
    KESTRIX_MEMBER(BSAmericanEuro)};
inline constexpr EnumMember kModelMembers[] = {
    KESTRIX_MEMBER(BSGen),   KESTRIX_MEMBER(BSFrench),   KESTRIX_MEMBER(CRRBinomial), KESTRIX_MEMBER(Eurodollars),
    KESTRIX_MEMBER(Whaleys), KESTRIX_MEMBER(RGWCall),    KESTRIX_MEMBER(AmericanBS),  KESTRIX_MEMBER(JumpDiff)};

#undef KESTRIX_MEMBER

inline constexpr EnumDescription kOptionType{
    "enumOptionType", MakeGuid("{B0C3D397-F006-4D74-A538-C8AE60686FE9}"), kOptionTypeMembers};
inline constexpr EnumDescription kOptionFunctions{
    "enumOptionFunctions", MakeGuid("{4C35423F-2C24-481C-B932-ACAB0E006CC6}"), kOptionFunctionsMembers};
inline constexpr EnumDescription kCompoundRate{
    "enumCompoundRate", MakeGuid("{865B41C9-F634-4DCD-9540-D4ADB27EDC0A}"), kCompoundRateMembers};
inline constexpr EnumDescription kTimeFormat{
    "enumTimeFormat", MakeGuid("{FFC7875E-3325-41DE-AF74-ADECD6910CA6}"), kTimeFormatMembers};
inline constexpr EnumDescription kDividendStyle{
    "enumDividendStyle", MakeGuid("{DB25FC36-B8FA-4439-AD29-2BCBA7B14407}"), kDividendStyleMembers};
inline constexpr EnumDescription kDividendStyleBin{
    "enumDividendStyleBin", MakeGuid("{474F8884-3A92-4470-A29F-A1DF124B2B86}"), kDividendStyleBinMembers};
inline constexpr EnumDescription kExerciseType{
    "enumExerciseType", MakeGuid("{03B661B0-8B05-4C7F-ACC5-B97BE8BE511E}"), kExerciseTypeMembers};
inline constexpr EnumDescription kAvailableModels{
    "enumAvailableModels", MakeGuid("{2F43373D-7D24-44C8-AB9C-E214F2882244}"), kAvailableModelsMembers};
inline constexpr EnumDescription kEurodollarModel{
    "enumEurodollarModel", MakeGuid("{E35DF087-524C-49C2-83B6-87450F0FFAA0}"), kEurodollarModelMembers};
inline constexpr EnumDescription kModel{
    "enumModel", MakeGuid("{9546F853-0282-4F6D-BBC4-61AAF4DA0953}"), kModelMembers};
inline constexpr GUID kErrorCodesGuid = MakeGuid("{47EC4677-07BB-470F-BC20-ED12E9DE843A}");

// Each parameter is described once and shared by the methods that take it.
constexpr ParamDescription Required(const char* name, ParamKind kind = ParamKind::Double) {
    return {name, kind, nullptr, false};
}
constexpr ParamDescription Required(const char* name, const EnumDescription& enumeration) {
    return {name, ParamKind::Enum, &enumeration, false};
}
constexpr ParamDescription Optional(ParamDescription param) {
    param.optional = true;
    return param;
}

inline constexpr ParamDescription kExerciseTypeParam = Required("ExerciseType", kExerciseType);
inline constexpr ParamDescription kOptionTypeParam = Required("OptionType", kOptionType);
inline constexpr ParamDescription kOptionFunctionParam = Required("OptionFunction", kOptionFunctions);
inline constexpr ParamDescription kModelParam = Required("Model", kEurodollarModel);
inline constexpr ParamDescription kIterations = Required("Iterations", ParamKind::Int);
inline constexpr ParamDescription kAssetPrice = Required("AssetPrice");
inline constexpr ParamDescription kStrikePrice = Required("StrikePrice");
inline constexpr ParamDescription kTimeTrading = Required("TimeTrading");
inline constexpr ParamDescription kTimeExpire = Required("TimeExpire");
inline constexpr ParamDescription kVolatility = Required("Volatility");
inline constexpr ParamDescription kJumpsPerYear = Required("JumpsPerYear");
inline constexpr ParamDescription kPercentTotalVol = Required("PercentTotalVol");
inline constexpr ParamDescription kInterestRate = Required("InterestRate");
inline constexpr ParamDescription kYieldRate = Required("YieldRate");
inline constexpr ParamDescription kMarketPrice = Optional(Required("MarketPrice"));
inline constexpr ParamDescription kTimeFormatParam = Optional(Required("TimeFormat", kTimeFormat));
inline constexpr ParamDescription kDividendAmount = Optional(Required("DividendAmount"));
inline constexpr ParamDescription kTimeExDividend = Optional(Required("TimeExDividend"));
inline constexpr ParamDescription kDividendFrequency = Optional(Required("DividendFrequency"));
inline constexpr ParamDescription kDividendStyleParam = Optional(Required("DividendStyle", kDividendStyle));
inline constexpr ParamDescription kDividendStyleBinParam = Optional(Required("DividendStyle", kDividendStyleBin));
inline constexpr ParamDescription kInterestRateType = Optional(Required("InterestRateType", kCompoundRate));
inline constexpr ParamDescription kYieldRateType = Optional(Required("YieldRateType", kCompoundRate));
inline constexpr ParamDescription kOptionalIterations = Optional(kIterations);

inline constexpr ParamDescription kGenBSParams[] = {
    kExerciseTypeParam, kOptionTypeParam,  kOptionFunctionParam, kAssetPrice,        kStrikePrice,
    kTimeExpire,        kVolatility,       kInterestRate,        kYieldRate,         kMarketPrice,
    kTimeFormatParam,   kDividendAmount,   kTimeExDividend,      kDividendFrequency, kDividendStyleParam,
    kInterestRateType,  kYieldRateType};
inline constexpr ParamDescription kFrenchBSParams[] = {
    kExerciseTypeParam, kOptionTypeParam, kOptionFunctionParam, kAssetPrice,        kStrikePrice,
    kTimeTrading,       kTimeExpire,      kVolatility,          kInterestRate,      kYieldRate,
    kMarketPrice,       kTimeFormatParam, kDividendAmount,      kTimeExDividend,    kDividendFrequency,
    kDividendStyleParam, kInterestRateType, kYieldRateType};
inline constexpr ParamDescription kBinomialParams[] = {
    kExerciseTypeParam, kOptionTypeParam, kOptionFunctionParam, kIterations,        kAssetPrice,
    kStrikePrice,       kTimeExpire,      kVolatility,          kInterestRate,      kYieldRate,
    kMarketPrice,       kTimeFormatParam, kDividendAmount,      kTimeExDividend,    kDividendFrequency,
    kDividendStyleBinParam, kInterestRateType, kYieldRateType};
// Whaley and BSAmerican take the same parameters.
inline constexpr ParamDescription kAmericanApproxParams[] = {
    kOptionTypeParam, kOptionFunctionParam, kAssetPrice,     kStrikePrice,       kTimeExpire,
    kVolatility,      kInterestRate,        kYieldRate,      kMarketPrice,       kTimeFormatParam,
    kDividendAmount,  kTimeExDividend,      kDividendFrequency, kDividendStyleParam, kInterestRateType,
    kYieldRateType};
inline constexpr ParamDescription kJumpDiffusionParams[] = {
    kOptionTypeParam,   kOptionFunctionParam, kAssetPrice,      kStrikePrice,    kTimeExpire,
    kVolatility,        kJumpsPerYear,        kPercentTotalVol, kInterestRate,   kYieldRate,
    kMarketPrice,       kTimeFormatParam,     kDividendAmount,  kTimeExDividend, kDividendFrequency,
    kDividendStyleParam, kInterestRateType,   kYieldRateType};
inline constexpr ParamDescription kAmericanCallParams[] = {
    kOptionFunctionParam, kAssetPrice,      kStrikePrice,    kTimeExpire,    kVolatility,        kInterestRate,
    kMarketPrice,         kTimeFormatParam, kDividendAmount, kTimeExDividend, kDividendFrequency, kInterestRateType};
inline constexpr ParamDescription kEurodollarParams[] = {
    kModelParam,  kExerciseTypeParam, kOptionTypeParam,    kOptionFunctionParam, kAssetPrice,
    kStrikePrice, kTimeExpire,        kVolatility,         kInterestRate,        kOptionalIterations,
    kMarketPrice, kTimeFormatParam,   kInterestRateType};

// The interface's methods in the type library's order, which is also the
// order of IKestrix's own function table.
inline constexpr MethodDescription kMethods[] = {
    {0, "GenBS", "Generalized Black-Scholes Model", 2, kGenBSParams},
    {1, "FrenchBS", "French Black-Scholes Model", 3, kFrenchBSParams},
    {2, "Binomial", "Binomial Model", 7, kBinomialParams},
    {4, "Whaley", "Quadratic Approximation Model", 5, kAmericanApproxParams},
    {6, "BSAmerican", "Bjerksund-Stensland Model", 9, kAmericanApproxParams},
    {7, "JumpDiffusion", "Merton Jump-Diffusion Model", 8, kJumpDiffusionParams},
    {5, "AmericanCall", "Roll-Geske-Whaley Model", 35, kAmericanCallParams},
    {3, "Eurodollar", "Eurodollar Model", 6, kEurodollarParams},
};

inline constexpr std::size_t kMaxParams =
    std::max_element(std::begin(kMethods), std::end(kMethods), [](const auto& a, const auto& b) {
        return a.params.size() < b.params.size();
    })->params.size();

// The method named exactly `name` (for the library's own code, where the
// name is a literal); a misspelt name does not compile where used constexpr.
constexpr const MethodDescription& Method(std::string_view name) {
    for (const auto& method : kMethods) {
        if (name == method.name) return method;
    }
    throw "no such method";
}

}  // namespace typelib

// Look-ups by a caller's spelling, case-insensitive; nullptr when unknown.
const MethodDescription* FindMethod(std::string_view name) noexcept;
const MethodDescription* FindMethod(DISPID dispid) noexcept;
// The position of a parameter among the method's parameters, or -1.
int FindParam(const MethodDescription& method, std::string_view name) noexcept;
const EnumMember* FindMember(const EnumDescription& enumeration, std::string_view name) noexcept;

// Every enumeration of the library in declaration order; the last is
// enumOErrCodes, whose members are the rows of ErrorTable() (`None` first),
// each with its text as help string.
std::span<const EnumDescription* const> Enumerations() noexcept;
const EnumDescription& ErrorCodesEnumeration() noexcept;

}  // namespace kestrix
