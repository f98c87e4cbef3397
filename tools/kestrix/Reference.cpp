#include "Reference.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "automation/TypeLibrary.h"
#include "core/ErrorCodes.h"

namespace kestrix::cli {

namespace {

// ---------------------------------------------------------------------------
// The prose, one note per name of the library.

struct MethodNoteRow {
    const char* name;
    const char* text;
};

constexpr MethodNoteRow kMethodNotes[] = {
    {"GenBS",
     "The generalized Black-Scholes formula with a cost of carry b = InterestRate - YieldRate: a stock paying a "
     "continuous yield (YieldRate the yield), a future (YieldRate = InterestRate), a currency (YieldRate the "
     "foreign rate). Sensitivities are closed forms.\n\n"
     "With `ExerciseType=European` the option is European. Any other ExerciseType prices the option as American "
     "through the pseudo-American approximation: a call is worth the largest of the European calls held to "
     "expiry or exercised just before each ex-dividend date; a put is valued as a European put floored at its "
     "intrinsic value, so the early-exercise premium of an American put is not captured (use `Binomial`, "
     "`Whaley` or `BSAmerican` for American puts). GenBS never answers ExerciseTypeErr."},
    {"FrenchBS",
     "Black-Scholes with separate trading and calendar time: the variance runs over `TimeTrading` (in days, 252 "
     "to the year), discounting and carry over `TimeExpire` (in days, 365 to the year). Theta's volatility term "
     "is per trading day, its carry terms per calendar day. ExerciseType must be `American` or `European`; "
     "American exercise floors the European value at the intrinsic value."},
    {"Binomial",
     "The Cox-Ross-Rubinstein lattice with `Iterations` steps (5 to 500), European or American. Dividends are "
     "escrowed cash (`DiscreteCashFlowBin`), an equivalent yield (`ContinuousYieldBin`), or either of those with "
     "a control variate (`DiscreteControlVar`, `ContinuousControlVar`): the lattice's error on the European "
     "closed form is taken off the American value. Volatility below 0.015 is raised to 0.015. The implied "
     "searches re-value the whole lattice at every step, so they are the slowest calls of the library."},
    {"Whaley",
     "The Barone-Adesi-Whaley quadratic approximation of an American option (always American: the method has no "
     "ExerciseType). The value is never below the exercise value. Sensitivities are finite differences of the "
     "model's own value."},
    {"BSAmerican",
     "The Bjerksund-Stensland approximation of an American option (always American). A zero YieldRate is taken "
     "as 1e-7 for every function but Theoretical (implied searches included). The value is never below the "
     "exercise value. Sensitivities are finite differences of the model's own value."},
    {"JumpDiffusion",
     "Merton's jump-diffusion model of a European option: jumps arrive `JumpsPerYear` times a year on average "
     "and carry the share `PercentTotalVol` of the total variance given by `Volatility`. Always European."},
    {"AmericanCall",
     "The Roll-Geske-Whaley formula for an American call on an asset paying a cash dividend: the call is "
     "exercised, if at all, just before an ex-dividend date. There is no OptionType (always a call) and no yield. "
     "Without a dividend before expiry it is the European call. "
     "With several dividend dates before expiry, all but the last are taken off the asset price and the last "
     "one is the exercise date the formula weighs."},
    {"Eurodollar",
     "Options on Eurodollar futures, quoted as an index of 100 minus the rate in percent (`AssetPrice` at most "
     "100, `StrikePrice` below 100). The option is priced as the opposite option (a call on the index is a put "
     "on the rate) on the rate 100 - AssetPrice with strike 100 - StrikePrice and no cost of carry, by the "
     "model `Model` names; sensitivities to the underlying are turned back into index terms "
     "(StrikeSensitivity stays on the rate scale). `Iterations` is checked whatever the model: left out it is "
     "0 and the call fails with IterationsMinErr, so give it (5 to 500) even for `GenBSEuro`. No dividends, "
     "no yield."},
};

struct ParameterNoteRow {
    const char* name;
    const char* meaning;
    const char* range;    // what the library accepts, and what it does at the edges
    const char* omitted;  // what a left-out optional parameter means; empty for required ones
};

constexpr ParameterNoteRow kParameterNotes[] = {
    {"ExerciseType", "American (0) or European (1) exercise.",
     "0 or 1, else ExerciseTypeErr; for `GenBS` any value but European means American.", ""},
    {"OptionType", "Call (1), put (2) or straddle (3: a call plus a put on the same strike).",
     "1 to 3, else OptionTypeErr.", ""},
    {"OptionFunction", "The quantity wanted: the value, a sensitivity, an implied value (see Option functions).",
     "1 to 13, else OptionFunctionErr.", ""},
    {"Model", "The model that prices the Eurodollar option.", "0 to 3, else EurModelErr (checked last).", ""},
    {"Iterations", "Steps of the binomial lattice.",
     "5 to 500, else IterationsMinErr or IterationsMaxErr. Checked for every method that has it.",
     "0, which fails with IterationsMinErr."},
    {"AssetPrice", "Price of the underlying, in currency units (for `Eurodollar` the futures' index price).",
     "At least 0, else AssetPriceErr; 0 is priced as 1e-17. `Eurodollar`: at most 100, else AssetPriceEurErr.",
     ""},
    {"StrikePrice", "Strike, in the asset price's units.",
     "Greater than 0, else StrikePriceErr. `Eurodollar`: below 100, else StrikePriceEurErr.", ""},
    {"TimeTrading", "Trading time to expiry, in the unit of TimeFormat (days count 252 to the year).",
     "Greater than 0, else TimeTradingErr.", ""},
    {"TimeExpire", "Calendar time to expiry, in the unit of TimeFormat (days count 365 to the year).",
     "Greater than 0, else TimeExpireErr. Above 1e7 it is taken as 1e7; under 1e-7 years as 1e-7 years.", ""},
    {"Volatility", "Annual volatility of the underlying as a decimal fraction (0.2 is 20 %).",
     "Never refused: at most 0.002 (0.015 for the lattice) is raised to that floor, above 1e7 lowered to 1e7.",
     ""},
    {"JumpsPerYear", "Expected number of jumps a year.", "Greater than 0, else JumpPerYrErr.", ""},
    {"PercentTotalVol", "Share of the total variance that comes from jumps, as a decimal fraction.",
     "Greater than 0 (else PerTotVolMinErr) and less than 1 (else PerTotVolErr).", ""},
    {"InterestRate", "Risk-free rate as a decimal fraction, quoted by InterestRateType.",
     "Strictly positive and at most 1e30, else InterestRateErr; under 1e-7 it is taken as 1e-7. A zero or "
     "negative rate cannot be priced.",
     ""},
    {"YieldRate",
     "Yield of the underlying as a decimal fraction, quoted by YieldRateType: the dividend yield, the foreign "
     "rate, or the interest rate for a future. The cost of carry is InterestRate - YieldRate.",
     "At least -1 and at most 100000, else YieldRateErr. When -YieldRate x TimeExpire (in years) exceeds 20 the "
     "call succeeds with 0 without pricing.",
     ""},
    {"MarketPrice", "Observed price of the option, the target of ImpliedVol and ImpliedStrike.",
     "For those two functions greater than 0 (MktPriceNegErr, MktPriceGZErr); ignored by every other function.",
     "0: fine for every function but ImpliedVol and ImpliedStrike, which then fail with MktPriceGZErr."},
    {"TimeFormat", "The unit of TimeExpire, TimeTrading, TimeExDividend and DividendFrequency.",
     "Days (0) or Years (1), else TimeFormatErr.",
     "Days (0), not years: TimeExpire=0.5 then means half a day. Give TimeFormat=Years for times in years."},
    {"DividendAmount", "Cash amount of each discrete dividend, in the asset price's units.",
     "At least 0, else DividendAmtErr.", "0: no dividends."},
    {"TimeExDividend", "Time to the first ex-dividend date, in the unit of TimeFormat.",
     "At least 0, else TimeExDivErr. 0 means no dividend at all; a date after expiry pays nothing.",
     "0: no dividends."},
    {"DividendFrequency",
     "The interval between two dividend payments, in the unit of TimeFormat (not payments per year: quarterly "
     "dividends are 0.25 with Years, 91 with Days). Payments fall at TimeExDividend, then every interval up to "
     "and including expiry.",
     "At least 0, else DividendFreqErr. 0 means a single payment at TimeExDividend.", "0: a single payment."},
    {"DividendStyle",
     "How cash dividends enter the model: escrowed (their present value taken off the asset price) or turned "
     "into the equivalent continuous yield; `Binomial` adds the two styles with a control variate.",
     "0 or 1 (0 to 3 for `Binomial`), else DividendStyleErr.", "0: escrowed cash dividends."},
    {"InterestRateType", "The quotation of InterestRate (see Rates).", "0 to 11, else IntRateTypeErr.",
     "0: continuously compounded."},
    {"YieldRateType", "The quotation of YieldRate (see Rates).", "0 to 11, else YeildRateTypeErr.",
     "0: continuously compounded."},
};

struct FunctionNoteRow {
    const char* name;
    const char* text;
};

constexpr FunctionNoteRow kFunctionNotes[] = {
    {"Theoretical", "The option's value, in the asset price's units."},
    {"Delta", "dV/dS per unit of asset price: positive for a call, negative for a put."},
    {"Gamma", "d2V/dS2 per unit of asset price, positive for a long option."},
    {"Theta",
     "The change of value as one calendar day passes (a yearly rate divided by 365), usually negative for a "
     "long option. `FrenchBS` divides its volatility term by 252 trading days instead."},
    {"ImpliedVol",
     "The volatility (a decimal fraction) at which the model's value equals MarketPrice. 0 means no volatility "
     "reprices MarketPrice (a price outside what the model can reach). See Implied volatility and strike."},
    {"Vega", "The change of value for a volatility 1 percentage point higher (dV/dsigma x 0.01)."},
    {"Rho",
     "The change of value for an interest rate 1 percentage point higher (x 0.01): positive for a call, "
     "negative for a put."},
    {"Psi",
     "The change of value for a yield 1 percentage point higher (x 0.01): negative for a call, positive for a "
     "put."},
    {"Lambda",
     "The elasticity Delta x S / V: the percentage change of the value for a 1 % change of the asset price. 0 "
     "where the value is 0."},
    {"IntrinsicValue",
     "The value of exercising now, max(S - X, 0) for a call, max(X - S, 0) for a put, with the asset price "
     "before dividends are taken off."},
    {"StrikeSensitivity", "dV/dX, unscaled: negative for a call, positive for a put."},
    {"Time_Value",
     "Theoretical minus IntrinsicValue. It may be negative for a European option (a deep in-the-money put, a "
     "call on a high-yield asset)."},
    {"ImpliedStrike",
     "The strike at which the model's value equals MarketPrice, all else fixed. 0 means no strike reprices it."},
};

// What each member of enumCompoundRate means.
struct RateNoteRow {
    const char* name;
    const char* text;
};

constexpr RateNoteRow kRateNotes[] = {
    {"Continuous", "continuously compounded: used as it is"},
    {"Daily", "compounded 365 times a year"},
    {"Monthly", "compounded 12 times a year"},
    {"BiMonthly", "compounded every two months, 6 times a year"},
    {"Quarterly", "compounded 4 times a year"},
    {"TriAnnually", "compounded 3 times a year"},
    {"SemiAnnually", "compounded twice a year"},
    {"Annually", "compounded once a year"},
    {"LIBOR", "a simple money-market rate on a 360-day year"},
    {"BankDiscountRate", "a bank discount rate on a 360-day year"},
    {"BondEquivelantYield", "a bond-equivalent yield: the same as SemiAnnually"},
    {"TermRate", "a simple rate over the term up to a year, compounded annually beyond"},
};

constexpr const char* kNeverRaised =
    "Part of the type library's vocabulary (historic volatility from price arrays); no method of IKestrix "
    "raises it.";

struct ErrorNoteRow {
    const char* name;
    const char* text;
};

constexpr ErrorNoteRow kErrorNotes[] = {
    {"None", "Success."},
    {"IterationsMinErr",
     "Iterations below 5 (`Binomial`, `Eurodollar`; for `Eurodollar` also when Iterations is left out)."},
    {"IterationsMaxErr", "Iterations above 500."},
    {"AssetPriceErr", "A negative AssetPrice."},
    {"StrikePriceErr", "A StrikePrice of 0 or less."},
    {"DividendAmtErr", "A negative DividendAmount."},
    {"TimeExDivErr", "A negative TimeExDividend."},
    {"DividendFreqErr", "A negative DividendFrequency."},
    {"TimeExpireErr", "A TimeExpire of 0 or less."},
    {"InterestRateErr", "An InterestRate of 0 or less, or above 1e30 (exactly 1e30 is accepted)."},
    {"YieldRateErr", "A YieldRate below -1 or above 100000."},
    {"MktPriceNegErr", "A negative MarketPrice with ImpliedVol or ImpliedStrike."},
    {"MktPriceGZErr", "A MarketPrice of 0 (or left out) with ImpliedVol or ImpliedStrike."},
    {"AssetPriceEurErr", "`Eurodollar` with an AssetPrice above 100."},
    {"StrikePriceEurErr", "`Eurodollar` with a StrikePrice of 100 or more."},
    {"JumpPerYrErr", "`JumpDiffusion` with JumpsPerYear 0 or less."},
    {"PerTotVolMinErr", "`JumpDiffusion` with PercentTotalVol 0 or less."},
    {"PerTotVolErr", "`JumpDiffusion` with PercentTotalVol 1 or more."},
    {"YieldRate2NegErr",
     "A YieldRate quoted as LIBOR or BankDiscountRate so negative that the conversion to a continuous rate has "
     "no logarithm."},
    {"TimeTradingErr", "`FrenchBS` with a TimeTrading of 0 or less."},
    {"VolGreaterZeroErr", kNeverRaised},
    {"VolValuesMissErr", kNeverRaised},
    {"VolCloseArrSizeErr", kNeverRaised},
    {"VolHighArrSizeErr", kNeverRaised},
    {"VolLowArrSizeErr", kNeverRaised},
    {"VolOpenArrSizeErr", kNeverRaised},
    {"VolTypeErr", kNeverRaised},
    {"VolArrSameSizeErr", kNeverRaised},
    {"VolLowGTHighErr", kNeverRaised},
    {"VolMinElementErr", kNeverRaised},
    {"VolCloseValueErr", kNeverRaised},
    {"VolOpenValueErr", kNeverRaised},
    {"VolFracClosedErr", kNeverRaised},
    {"EurModelErr", "`Eurodollar` with a Model outside 0 to 3 (checked after every other input)."},
    {"ExerciseTypeErr", "An ExerciseType other than 0 or 1 (never from `GenBS`, which prices it as American)."},
    {"DividendStyleErr", "A DividendStyle outside 0 and 1 (0 to 3 for `Binomial`)."},
    {"OptionTypeErr", "An OptionType outside 1 to 3."},
    {"YeildRateTypeErr", "A YieldRateType outside 0 to 11."},
    {"IntRateTypeErr", "An InterestRateType outside 0 to 11."},
    {"OptionFunctionErr", "An OptionFunction outside 1 to 13."},
    {"TimeFormatErr", "A TimeFormat other than 0 or 1."},
    {"HistoricVolFcnErr", kNeverRaised},
    {"SampleTimeErr", kNeverRaised},
    {"OptionModelErr", "Part of the type library's vocabulary; no method of IKestrix raises it."},
    {"IntRateTimeErr",
     "An InterestRate quoted as BankDiscountRate whose rate x days to expiry is exactly 360."},
    {"YeildRateTimeErr", "A YieldRate quoted as BankDiscountRate whose rate x days to expiry is exactly 360."},
    {"IntRate2NegErr",
     "An InterestRate quoted as BankDiscountRate whose rate x days to expiry exceeds 360: the discount is more "
     "than the face value."},
    {"VolCloseLimitErr", kNeverRaised},
    {"VolHighLimitErr", kNeverRaised},
    {"VolLowLimitErr", kNeverRaised},
    {"VolOpenLimitErr", kNeverRaised},
};

// The general sections, by topic.
struct GeneralSection {
    const char* topic;
    const char* title;
    const char* text;
};

constexpr GeneralSection kIntroduction = {
    "calling", "Calling the library",
    "Each method of the interface `IKestrix` (object `Kestrix`, ProgID `Quantora.Kestrix`) prices one plain "
    "option and returns one number: its value, a sensitivity, or an implied volatility or strike, as "
    "`OptionFunction` asks. A request the library refuses fails with an error code of `enumOErrCodes`, whose "
    "text names the input at fault (see Errors).\n\n"
    "- Enumeration parameters take a member's value; the `kestrix` command and the Python package also take "
    "the member's name, in any letter case.\n"
    "- The interface declares no defaults. An optional parameter left out is passed as 0 by every automation "
    "caller, so it means the member of value 0: **an omitted `TimeFormat` is `Days`**, an omitted rate type "
    "`Continuous`, an omitted `DividendStyle` escrowed cash dividends.\n"
    "- A request the library cannot price although its inputs are valid (a search that does not converge, a "
    "lattice that overflows, work over the time limit) is answered with success and 0.\n"
    "- `kestrix help TOPIC` prints a section of this manual: a method, a parameter, an option function, an "
    "error code (by name or value), a help context number, or one of the topics listed by `kestrix help`."};

constexpr GeneralSection kGeneralSections[] = {
    {"time", "Times and units",
     "Times are given in the unit `TimeFormat` names: `Years`, or `Days` (the default when it is left out). "
     "Days convert with 365 calendar days to the year (`TimeExpire`, `TimeExDividend`, `DividendFrequency`) "
     "and 252 trading days (`TimeTrading` of `FrenchBS`).\n\n"
     "Rates, yields and volatilities are decimal fractions: 0.05 is 5 %. Results are in the asset price's "
     "units; see Option functions for the unit and sign of each sensitivity: Delta and Gamma per unit of asset "
     "price, Theta per calendar day, Vega, Rho and Psi per percentage point, StrikeSensitivity unscaled, Lambda "
     "as an elasticity, ImpliedVol as a decimal fraction."},
    {"rates", "Rates and their quotation",
     "`InterestRate` and `YieldRate` are quoted in the convention `InterestRateType` and `YieldRateType` name "
     "(`enumCompoundRate`, `Continuous` when left out) and converted to continuous compounding over the "
     "option's life before pricing. For a periodic rate compounded m times a year the continuous rate is "
     "m ln(1 + rate/m); when the option's life is shorter than one period the rate is taken as compounded "
     "once a year. Money-market conventions count 360 days to the year. The members:\n\n"
     "@RATES@\n\n"
     "The interest rate must be strictly positive: a zero or negative rate is refused with InterestRateErr. "
     "The yield may be negative down to -1."},
    {"dividends", "Dividends",
     "Discrete cash dividends are given by three inputs, all in the unit of `TimeFormat`: `DividendAmount` "
     "(the cash of each payment), `TimeExDividend` (the time to the first ex-dividend date) and "
     "`DividendFrequency` (**the interval between payments**, not their number a year; 0 for a single "
     "payment). Payments fall at TimeExDividend, TimeExDividend + DividendFrequency, ... up to and including "
     "expiry; a TimeExDividend of 0 or an amount of 0 means no dividends.\n\n"
     "Each payment is discounted at the interest rate. With `DividendStyle` `DiscreteCashFlow` (the default) "
     "their present value is taken off the asset price (escrowed dividends); with `ContinuousYield` it is "
     "turned into the equivalent addition to the yield. `Binomial` adds `DiscreteControlVar` and "
     "`ContinuousControlVar`, the same with a control variate. Dividends worth the whole asset price are "
     "ignored. `Eurodollar` takes no dividends."},
    {"implied", "Implied volatility and strike",
     "`ImpliedVol` and `ImpliedStrike` search for the volatility or strike at which the model's value equals "
     "`MarketPrice` (which must then be greater than 0). An answer is always a solution: the model's value there "
     "reproduces MarketPrice within max(1e-6, 1e-12 x MarketPrice); when the model's own search misses, a "
     "bracketing search on the model's value takes over. The answer 0 means \"no solution\": no volatility or "
     "strike reproduces the price (it lies outside what the model can reach, or the value jumps across it). A "
     "real volatility is never 0, so treat 0 as missing (the Python package's `implied_nan=True` returns NaN for "
     "it)."},
    {"books", "Books with several methods",
     "A book (`kestrix price`, `kestrix.book.price_book`) has a `Method` column and one column per parameter. "
     "When methods are mixed, a column belongs to the methods that declare its parameter: leave its cell blank "
     "in the rows of a method that does not take it (an `ExerciseType` cell in a `Whaley` row is refused, and "
     "the row's message lists the methods that take it). Columns that are no parameter at all (`TradeId`, "
     "`Counterparty`, ...) are carried through to the output unchanged, unless `--strict`; a column whose name "
     "is close to a parameter's (`Volatilty`) is refused as a likely misspelling."},
    {"limits", "Known limits",
     "- The interest rate must be strictly positive (InterestRateErr otherwise); rates under 1e-7 are taken as "
     "1e-7.\n"
     "- The lattice takes at most 500 steps (IterationsMaxErr).\n"
     "- The cumulative normal distribution is an approximation accurate to about 1e-7, which bounds the "
     "accuracy of every closed form.\n"
     "- Volatility is floored at 0.002 (0.015 for the lattice) and capped at 1e7; TimeExpire is capped at 1e7 "
     "in its unit and floored at 1e-7 years.\n"
     "- When -YieldRate x TimeExpire exceeds 20, the call answers 0 without pricing.\n"
     "- An implied search that finds no solution answers 0.\n"
     "- A call whose work would exceed about 0.5 s (dividend schedules of millions of dates on a large "
     "lattice, long implied searches) is not computed and answers 0.\n"
     "- The American approximations (`Whaley`, `BSAmerican`, `GenBS` American) are approximations; "
     "`GenBS` values an American put as the European put floored at intrinsic value."},
};

// ---------------------------------------------------------------------------

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

template <typename Row, std::size_t N>
const Row* Find(const Row (&rows)[N], std::string_view name) {
    for (const auto& row : rows) {
        if (SameName(row.name, name)) return &row;
    }
    return nullptr;
}

std::string Hex(std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string TypeText(const ParamDescription& param) {
    switch (param.kind) {
        case ParamKind::Double: return "double";
        case ParamKind::Int: return "integer";
        case ParamKind::Enum: return std::string("`") + param.enumeration->name + "`";
    }
    return "";
}

std::string Members(const EnumDescription& enumeration) {
    std::string text;
    for (const auto& member : enumeration.members) {
        if (!text.empty()) text += ", ";
        text += std::string("`") + member.name + "` " + std::to_string(member.value);
    }
    return text;
}

void WriteGeneral(std::ostream& out, const GeneralSection& section) {
    out << "## " << section.title << "\n\n";
    std::string text = section.text;
    if (const auto at = text.find("@RATES@"); at != std::string::npos) {
        std::string rates = "| Member | Value | Meaning |\n|---|---|---|";
        for (const auto& member : typelib::kCompoundRate.members) {
            const RateNoteRow* note = Find(kRateNotes, member.name);
            rates += std::string("\n| `") + member.name + "` | " + std::to_string(member.value) + " | " +
                     (note != nullptr ? note->text : "") + " |";
        }
        text.replace(at, 7, rates);
    }
    out << text << "\n\n";
}

void WriteMethod(std::ostream& out, const MethodDescription& method) {
    out << "### " << method.name << "\n\n";
    out << "\"" << method.helpString << "\" (DISPID " << method.dispid << ", help context " << method.helpContext
        << ")\n\n";
    out << MethodNote(method.name) << "\n\n";
    out << "| # | Parameter | Type | |\n|---|---|---|---|\n";
    int position = 1;
    for (const auto& param : method.params) {
        out << "| " << position++ << " | `" << param.name << "` | " << TypeText(param) << " | "
            << (param.optional ? "optional" : "required") << " |\n";
    }
    out << "\nThe result is the double `" << kResultParamName << "`.\n\n";
}

void WriteParameter(std::ostream& out, const ParameterNoteRow& note) {
    // Its type and the methods that take it, from the type library.
    std::string methods;
    std::string types;
    bool optionalSomewhere = false;
    for (const auto& method : typelib::kMethods) {
        const int position = FindParam(method, note.name);
        if (position < 0) continue;
        const ParamDescription& param = method.params[static_cast<std::size_t>(position)];
        methods += (methods.empty() ? "" : ", ") + std::string("`") + method.name + "`" +
                   (param.optional ? " (optional)" : "");
        optionalSomewhere = optionalSomewhere || param.optional;
        const std::string type = TypeText(param);
        if (types.find(type) == std::string::npos) {
            if (!types.empty()) types += "; ";
            types += type;
            if (param.kind == ParamKind::Enum) types += ": " + Members(*param.enumeration);
        }
    }
    out << "### " << note.name << "\n\n" << note.meaning << "\n\n";
    out << "- Type: " << types << "\n";
    out << "- Taken by: " << methods << "\n";
    out << "- Range: " << note.range << "\n";
    if (optionalSomewhere && note.omitted[0] != '\0') out << "- Left out: " << note.omitted << "\n";
    out << '\n';
}

void WriteFunction(std::ostream& out, const EnumMember& member) {
    out << "### " << member.name << " (" << member.value << ")\n\n" << FunctionNote(member.name) << "\n\n";
}

void WriteErrorRow(std::ostream& out, const ErrorInfoRow& row) {
    out << "| " << Hex(static_cast<std::int32_t>(row.code)) << " | `" << row.name << "` | " << row.text << " | "
        << ErrorNote(row.name) << " |\n";
}

constexpr const char* kErrorHeader = "| Code | Name | Text | When |\n|---|---|---|---|\n";

void WriteErrors(std::ostream& out) {
    out << "## Errors\n\n"
           "A refused request fails with one of these codes (`enumOErrCodes`, an HRESULT); its error "
           "information carries the text, the help file \"Kestrix.hlp\", the method's help context and the "
           "source `Quantora.Kestrix`. Inputs are checked in a fixed order and the first failing check is "
           "reported.\n\n"
        << kErrorHeader;
    for (const auto& row : ErrorTable()) {
        if (row.code != enumOErrCodes::None) WriteErrorRow(out, row);
    }
    out << "\n### Help contexts\n\n| Context | Method |\n|---|---|\n";
    for (const auto& method : typelib::kMethods) {
        out << "| " << method.helpContext << " | `" << method.name << "` |\n";
    }
    out << '\n';
}

void WriteMethods(std::ostream& out) {
    out << "## Methods\n\n";
    for (const auto& method : typelib::kMethods) WriteMethod(out, method);
}

void WriteParameters(std::ostream& out) {
    out << "## Parameters\n\n";
    for (const auto& note : kParameterNotes) WriteParameter(out, note);
}

void WriteFunctions(std::ostream& out) {
    out << "## Option functions\n\n"
           "`OptionFunction` (`enumOptionFunctions`) names the quantity a call returns. Every method answers "
           "every function.\n\n";
    for (const auto& member : typelib::kOptionFunctions.members) WriteFunction(out, member);
}

bool ReadInteger(std::string_view text, long long& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc{} && end == text.data() + text.size();
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

void WriteNotesJson(std::ostream& out) {
    out << "{\"methods\": {";
    for (std::size_t i = 0; i < std::size(kMethodNotes); ++i) {
        out << (i ? ", " : "") << Json(kMethodNotes[i].name) << ": " << Json(kMethodNotes[i].text);
    }
    out << "},\n \"parameters\": {";
    for (std::size_t i = 0; i < std::size(kParameterNotes); ++i) {
        const auto& note = kParameterNotes[i];
        out << (i ? ",\n  " : "") << Json(note.name) << ": {\"meaning\": " << Json(note.meaning)
            << ", \"range\": " << Json(note.range) << ", \"omitted\": " << Json(note.omitted) << "}";
    }
    out << "},\n \"functions\": {";
    for (std::size_t i = 0; i < std::size(kFunctionNotes); ++i) {
        out << (i ? ",\n  " : "") << Json(kFunctionNotes[i].name) << ": " << Json(kFunctionNotes[i].text);
    }
    out << "}}\n";
}

std::string_view MethodNote(std::string_view method) {
    const MethodNoteRow* note = Find(kMethodNotes, method);
    return note != nullptr ? note->text : "";
}

std::string_view ParameterNote(std::string_view parameter) {
    const ParameterNoteRow* note = Find(kParameterNotes, parameter);
    return note != nullptr ? note->meaning : "";
}

std::string_view FunctionNote(std::string_view function) {
    const FunctionNoteRow* note = Find(kFunctionNotes, function);
    return note != nullptr ? note->text : "";
}

std::string_view ErrorNote(std::string_view code) {
    const ErrorNoteRow* note = Find(kErrorNotes, code);
    return note != nullptr ? note->text : "";
}

std::vector<std::string> GeneralTopics() {
    std::vector<std::string> topics{kIntroduction.topic};
    for (const auto& section : kGeneralSections) topics.push_back(section.topic);
    for (const char* chapter : {"methods", "parameters", "functions", "errors"}) topics.push_back(chapter);
    return topics;
}

void WriteReference(std::ostream& out) {
    out << "# Kestrix reference manual\n\n"
           "<!-- Written by `kestrix help --markdown`; a test checks that this file is its output. Edit the "
           "notes in tools/kestrix/Reference.cpp and regenerate. -->\n\n";
    WriteGeneral(out, kIntroduction);
    for (const auto& section : kGeneralSections) WriteGeneral(out, section);
    WriteMethods(out);
    WriteParameters(out);
    WriteFunctions(out);
    WriteErrors(out);
}

bool WriteTopic(std::ostream& out, std::string_view topic) {
    if (SameName(topic, kIntroduction.topic)) {
        WriteGeneral(out, kIntroduction);
        return true;
    }
    for (const auto& section : kGeneralSections) {
        if (SameName(topic, section.topic)) {
            WriteGeneral(out, section);
            return true;
        }
    }
    if (SameName(topic, "methods")) return WriteMethods(out), true;
    if (SameName(topic, "parameters")) return WriteParameters(out), true;
    if (SameName(topic, "functions")) return WriteFunctions(out), true;
    if (SameName(topic, "errors")) return WriteErrors(out), true;

    if (const MethodDescription* method = FindMethod(topic)) return WriteMethod(out, *method), true;
    if (const ParameterNoteRow* note = Find(kParameterNotes, topic)) return WriteParameter(out, *note), true;
    if (const EnumMember* member = FindMember(typelib::kOptionFunctions, topic)) {
        return WriteFunction(out, *member), true;
    }
    long long number = 0;
    const bool numeric = ReadInteger(topic, number);
    for (const auto& row : ErrorTable()) {
        const auto code = static_cast<std::int32_t>(row.code);
        if (row.code == enumOErrCodes::None) continue;
        if (SameName(topic, row.name) || (numeric && (number == code || number == static_cast<std::uint32_t>(code)))) {
            out << kErrorHeader;
            WriteErrorRow(out, row);
            return true;
        }
    }
    if (numeric) {
        for (const auto& method : typelib::kMethods) {
            if (number == method.helpContext) return WriteMethod(out, method), true;
        }
    }
    return false;
}

}  // namespace kestrix::cli
