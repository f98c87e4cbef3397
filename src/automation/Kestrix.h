// The interface IKestrix of the class Kestrix, as a host sees it: a dual
// interface whose own function table continues the seven IUnknown/IDispatch
// entries with the eight pricing methods in the type library's order. Each
// method delivers its value through the final [out, retval] Result_.
#pragma once

#include "automation/TypeLibrary.h"
#include "core/Enumerations.h"
#include "platform/ComRuntime.h"

namespace kestrix {

inline constexpr const IID& IID_IKestrix = typelib::IID_IKestrix;
inline constexpr const CLSID& CLSID_Kestrix = typelib::CLSID_Kestrix;
inline constexpr const GUID& LIBID_Quantora = typelib::LIBID_Quantora;

struct IKestrix : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GenBS(enumExerciseType ExerciseType, enumOptionType OptionType,
                          enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                          double TimeExpire, double Volatility, double InterestRate, double YieldRate,
                          double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                          double TimeExDividend, double DividendFrequency, enumDividendStyle DividendStyle,
                          enumCompoundRate InterestRateType, enumCompoundRate YieldRateType, double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE FrenchBS(enumExerciseType ExerciseType, enumOptionType OptionType,
                             enumOptionFunctions OptionFunction, double AssetPrice, double StrikePrice,
                             double TimeTrading, double TimeExpire, double Volatility, double InterestRate,
                             double YieldRate, double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                             double TimeExDividend, double DividendFrequency, enumDividendStyle DividendStyle,
                             enumCompoundRate InterestRateType, enumCompoundRate YieldRateType, double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE Binomial(enumExerciseType ExerciseType, enumOptionType OptionType,
                             enumOptionFunctions OptionFunction, std::int32_t Iterations, double AssetPrice,
                             double StrikePrice, double TimeExpire, double Volatility, double InterestRate,
                             double YieldRate, double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                             double TimeExDividend, double DividendFrequency, enumDividendStyleBin DividendStyle,
                             enumCompoundRate InterestRateType, enumCompoundRate YieldRateType, double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE Whaley(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                             double AssetPrice, double StrikePrice, double TimeExpire,
                                             double Volatility, double InterestRate, double YieldRate,
                                             double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                                             double TimeExDividend, double DividendFrequency,
                                             enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                             enumCompoundRate YieldRateType, double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE BSAmerican(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                                 double AssetPrice, double StrikePrice, double TimeExpire,
                                                 double Volatility, double InterestRate, double YieldRate,
                                                 double MarketPrice, enumTimeFormat TimeFormat, double DividendAmount,
                                                 double TimeExDividend, double DividendFrequency,
                                                 enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                                 enumCompoundRate YieldRateType, double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE JumpDiffusion(enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                                    double AssetPrice, double StrikePrice, double TimeExpire,
                                                    double Volatility, double JumpsPerYear, double PercentTotalVol,
                                                    double InterestRate, double YieldRate, double MarketPrice,
                                                    enumTimeFormat TimeFormat, double DividendAmount,
                                                    double TimeExDividend, double DividendFrequency,
                                                    enumDividendStyle DividendStyle, enumCompoundRate InterestRateType,
                                                    enumCompoundRate YieldRateType, double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE AmericanCall(enumOptionFunctions OptionFunction, double AssetPrice,
                                                   double StrikePrice, double TimeExpire, double Volatility,
                                                   double InterestRate, double MarketPrice, enumTimeFormat TimeFormat,
                                                   double DividendAmount, double TimeExDividend,
                                                   double DividendFrequency, enumCompoundRate InterestRateType,
                                                   double* Result_) = 0;

    virtual HRESULT STDMETHODCALLTYPE Eurodollar(enumEurodollarModel Model, enumExerciseType ExerciseType,
                                                 enumOptionType OptionType, enumOptionFunctions OptionFunction,
                                                 double AssetPrice, double StrikePrice, double TimeExpire,
                                                 double Volatility, double InterestRate, std::int32_t Iterations,
                                                 double MarketPrice, enumTimeFormat TimeFormat,
                                                 enumCompoundRate InterestRateType, double* Result_) = 0;

protected:
    ~IKestrix() = default;
};

}  // namespace kestrix
