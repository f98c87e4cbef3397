// TOptionsImpl: the automation object Kestrix. Each pricing method fills one
// PricingRequest, hands it to the launcher and turns the outcome into the
// method's result or its error (HRESULT plus error information). IDispatch
// reaches the same methods by name or DISPID, converting the caller's
// arguments as the type library declares them.
#pragma once

#include <atomic>

#include "automation/Kestrix.h"
#include "launch/LaunchOutcome.h"

namespace kestrix {

// The body every pricing method shares: launches `request` and answers with
// the value (S_OK), with S_OK and 0 for a maths-library failure
// ("EInvalidOp") or a value that is not finite, or with the failure: error
// information installed for `method` and ErrorCode returned (DISP_E_EXCEPTION
// when no code was set). `result` is written only on success. The request is
// taken by reference: a large argument passed by value is built once and then
// copied, and the copy read back in wider pieces than it was written stalls.
HRESULT PriceRequest(const MethodDescription& method, PricingRequest&& request, double* result,
                     LaunchFunction launch = LaunchPlainOption) noexcept;

class TOptionsImpl final : public IKestrix, public ISupportErrorInfo {
public:
    // Creates one object and asks it for `riid`; CLASS_E_NOAGGREGATION when an
    // outer object is given (the class does not aggregate).
    static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // The type library's description of IKestrix on Windows; the stand-in
    // has no type-information objects (the count is 0).
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    // names[0] is a method, the others its parameters; any letter case.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID lcid,
                                            DISPID* dispIds) override;
    // An omitted optional parameter is passed as 0. On Windows the runtime
    // converts the arguments as the type library declares them; the stand-in
    // converts them itself and also takes an enumeration member's name.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr) override;

    HRESULT STDMETHODCALLTYPE GenBS(enumExerciseType ExerciseType, enumOptionType OptionType,
                                    enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                                    double TimeExpire, double Volatility, double InterestRate, double YieldRate,
                                    double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                                    double TimeExDividend, double DividendFrequency, enumDividendStyle DividendStyle,
                                    enumCompoundRate InterestRateType, enumCompoundRate YieldRateType,
                                    double* Result_) override;
    HRESULT STDMETHODCALLTYPE FrenchBS(enumExerciseType ExerciseType, enumOptionType OptionType,
                                       enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                                       double TimeTrading, double TimeExpire, double Volatility, double InterestRate,
                                       double YieldRate, double MarketPrice, enumTimeFormat TimeFormat,
                                       double DividendAmount, double TimeExDividend, double DividendFrequency,
                                       enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                       enumCompoundRate YieldRateType, double* Result_) override;
    HRESULT STDMETHODCALLTYPE Binomial(enumExerciseType ExerciseType, enumOptionType OptionType,
                                       enumOptionFunctions OptionFunction, std::int32_t Iterations, double AssetPrice,
                                       double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                                       double YieldRate, double MarketPrice, enumTimeFormat TimeFormat,
                                       double DividendAmount, double TimeExDividend, double DividendFrequency,
                                       enumDividendStyleBin DividendStyle, enumCompoundRate InterestRateType,
                                       enumCompoundRate YieldRateType, double* Result_) override;
    HRESULT STDMETHODCALLTYPE Whaley(enumOptionType OptionType, enumOptionFunctions OptionFunction, double AssetPrice,
                   double StrikePrice, double TimeExpire, double Volatility, double InterestRate, double YieldRate,
                   double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount, double TimeExDividend,
                   double DividendFrequency, enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                   enumCompoundRate YieldRateType, double* Result_) override;
    HRESULT STDMETHODCALLTYPE BSAmerican(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                         double AssetPrice, double StrikePrice, double TimeExpire, double Volatility,
                                         double InterestRate, double YieldRate, double MarketPrice,
                                         enumTimeFormat TimeFormat, double DividendAmount, double TimeExDividend,
                                         double DividendFrequency, enumDividendStyle DividendStyle,
                                         enumCompoundRate InterestRateType, enumCompoundRate YieldRateType,
                                         double* Result_) override;
    HRESULT STDMETHODCALLTYPE JumpDiffusion(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                            double AssetPrice, double StrikePrice, double TimeExpire, double Volatility,
                                            double JumpsPerYear, double PercentTotalVol, double InterestRate,
                                            double YieldRate, double MarketPrice, enumTimeFormat TimeFormat,
                                            double DividendAmount, double TimeExDividend, double DividendFrequency,
                                            enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                            enumCompoundRate YieldRateType, double* Result_) override;
    HRESULT STDMETHODCALLTYPE AmericanCall(enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                         double TimeExpire, double Volatility, double InterestRate, double MarketPrice,
                         enumTimeFormat TimeFormat, double DividendAmount, double TimeExDividend,
                         double DividendFrequency, enumCompoundRate InterestRateType, double* Result_) override;
    HRESULT STDMETHODCALLTYPE Eurodollar(enumEurodollarModel Model, enumExerciseType ExerciseType,
                                         enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                         double AssetPrice, double StrikePrice, double TimeExpire, double Volatility,
                                         double InterestRate, std::int32_t Iterations, double MarketPrice,
                                         enumTimeFormat TimeFormat, enumCompoundRate InterestRateType,
                                         double* Result_) override;

    // Error information is available for IKestrix only.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    // Each live object holds the module.
    TOptionsImpl() noexcept;
    ~TOptionsImpl();

    std::atomic<ULONG> references_{0};
};

}  // namespace kestrix
