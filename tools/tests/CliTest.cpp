#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <random>
#include <fstream>
#include <sstream>

#include "Book.h"
#include "Csv.h"
#include "Describe.h"
#include "Host.h"
#include "Reference.h"
#include "Suggest.h"
#include "TempRegistry.h"
#include "automation/TypeLibrary.h"
#include "core/ErrorCodes.h"

namespace kestrix::cli {
namespace {

TEST(Csv, ReadsQuotedFieldsAndLineEndings) {
    const auto records = ParseCsv("a,\"b,c\",\"say \"\"hi\"\"\"\r\n\n1,\"two\nlines\",3\n,,\n x ,y,z");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].fields, (std::vector<std::string>{"a", "b,c", "say \"hi\""}));
    EXPECT_EQ(records[0].line, 1u);
    EXPECT_EQ(records[1].fields, (std::vector<std::string>{"1", "two\nlines", "3"}));
    EXPECT_EQ(records[1].line, 3u);  // the blank line 2 is skipped
    EXPECT_EQ(records[2].fields, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(records[2].line, 5u);
    EXPECT_EQ(records[3].fields, (std::vector<std::string>{" x ", "y", "z"}));
    EXPECT_EQ(records[3].line, 6u);
    for (const auto& r : records) EXPECT_EQ(r.error, "");
}

TEST(Csv, MalformedRecordsAreReportedAndReadingGoesOn) {
    const auto records = ParseCsv("h1,h2\n\"ab\"c,d\nx\"y,z\n\"open,1\nlast,row\n");
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1].error, "text after the closing quote of a field");
    EXPECT_EQ(records[1].line, 2u);
    EXPECT_EQ(records[2].error, "a quote inside an unquoted field");
    EXPECT_EQ(records[2].line, 3u);
    EXPECT_EQ(records[3].error, "a quoted field is not closed");
    EXPECT_EQ(records[3].line, 4u);
    EXPECT_EQ(records[4].fields, (std::vector<std::string>{"last", "row"}));
    EXPECT_EQ(records[4].line, 5u);
    EXPECT_EQ(records[4].error, "");
}

TEST(Csv, WrittenFieldsReadBackUnchanged) {
    for (const std::string field : {"plain", "with,comma", "with \"quotes\"", "two\nlines", "", "cr\r\nlf"}) {
        const auto records = ParseCsv(CsvField(field) + ",end\n");
        ASSERT_EQ(records.size(), 1u) << field;
        EXPECT_EQ(records[0].fields, (std::vector<std::string>{field, "end"})) << field;
    }
    EXPECT_EQ(CsvField("plain"), "plain");
}

TEST(FormatNumber, ShortestTextThatReadsBack) {
    EXPECT_EQ(FormatNumber(0.1), "0.1");
    EXPECT_EQ(FormatNumber(1e-7), "1e-07");
    EXPECT_EQ(FormatNumber(-2.5), "-2.5");
    EXPECT_EQ(FormatNumber(0), "0");
    EXPECT_EQ(FormatNumber(10.450583572185565), "10.450583572185565");
    EXPECT_EQ(FormatHResult(static_cast<HRESULT>(0x80050002u)), "0x80050002");
    EXPECT_EQ(FormatHResult(S_OK), "0x00000000");
}

class HostCall : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(object, nullptr); }
    void TearDown() override { object->Release(); }
    IDispatch* object = CreateKestrix();
};

TEST_F(HostCall, PricesWithEnumerationNamesAndNumbers) {
    const std::vector<NamedValue> byName{{"exercisetype", "European"}, {"OptionType", "calloption"},
                                         {"OptionFunction", "Theoretical"}, {"AssetPrice", "100"},
                                         {"StrikePrice", "100"}, {"TimeExpire", "1"}, {"Volatility", "0.2"},
                                         {"InterestRate", "0.05"}, {"YieldRate", "0"}, {"TimeFormat", "Years"}};
    const Outcome named = CallMethod(object, "GenBS", byName);
    ASSERT_TRUE(named.Succeeded()) << named.description;
    EXPECT_NEAR(named.result, 10.450583572185565, 2e-5);
    std::vector<NamedValue> byNumber = byName;
    byNumber[0].value = "1";
    byNumber[1].value = "1";
    byNumber[2].value = "1";
    byNumber[9].value = "1";
    EXPECT_EQ(CallMethod(object, "genbs", byNumber).result, named.result);
    EXPECT_EQ(JsonOutcome(named), "{\"hresult\":\"0x00000000\",\"result\":" + FormatNumber(named.result) + "}");
}

TEST_F(HostCall, MethodFailureCarriesTheErrorInformation) {
    const Outcome outcome = CallMethod(object, "AmericanCall",
                                       std::vector<NamedValue>{{"OptionFunction", "Theoretical"},
                                                               {"AssetPrice", "80"},
                                                               {"StrikePrice", "0"},
                                                               {"TimeExpire", "0.5"},
                                                               {"Volatility", "0.3"},
                                                               {"InterestRate", "0.06"}});
    EXPECT_FALSE(outcome.Succeeded());
    EXPECT_TRUE(outcome.fromMethod);
    EXPECT_EQ(outcome.hr, static_cast<HRESULT>(0x80050002u));
    EXPECT_EQ(outcome.helpContext, 35u);
    EXPECT_EQ(JsonOutcome(outcome),
              "{\"hresult\":\"0x80050002\",\"description\":\"StrikePrice must be greater than 0.\","
              "\"helpFile\":\"Kestrix.hlp\",\"helpContext\":35,\"source\":null}");
    EXPECT_EQ(DescribeFailure(outcome), "0x80050002 StrikePrice must be greater than 0. (help: Kestrix.hlp, context 35)");
}

TEST_F(HostCall, RefusedCallsNameTheArgumentAtFault) {
    struct Case {
        const char* method;
        std::vector<NamedValue> args;
        HRESULT hr;
        std::string description;
    };
    const std::vector<NamedValue> base{{"OptionType", "PutOption"}, {"OptionFunction", "Theoretical"},
                                       {"AssetPrice", "100"},       {"StrikePrice", "100"},
                                       {"TimeExpire", "1"},         {"Volatility", "0.2"},
                                       {"InterestRate", "0.05"},    {"YieldRate", "0"}};
    auto with = [&base](NamedValue extra) {
        auto args = base;
        args.push_back(std::move(extra));
        return args;
    };
    const Case cases[] = {
        {"Heston", base, DISP_E_UNKNOWNNAME,
         "unknown method 'Heston' (methods: GenBS, FrenchBS, Binomial, Whaley, BSAmerican, JumpDiffusion, AmericanCall, "
         "Eurodollar)"},
        {"whaly", base, DISP_E_UNKNOWNNAME, "unknown method 'whaly'; did you mean Whaley?"},
        {"Whaley", with({"Iterations", "50"}), DISP_E_UNKNOWNNAME,
         "'Iterations' is not a parameter of Whaley; only Binomial, Eurodollar take it"},
        {"Whaley", with({"Volatilty", "0.3"}), DISP_E_UNKNOWNNAME,
         "'Volatilty' is not a parameter of Whaley; did you mean Volatility?"},
        {"Whaley", with({"Strike", "90"}), DISP_E_UNKNOWNNAME,
         "'Strike' is not a parameter of Whaley; did you mean StrikePrice?"},
        {"Whaley", with({"Spot", "90"}), DISP_E_UNKNOWNNAME, "'Spot' is not a parameter of Whaley"},
        {"Whaley", with({"Volatility", "0.3"}), DISP_E_PARAMNOTFOUND, "Volatility is given twice"},
        {"Whaley", with({"MarketPrice", "cheap"}), DISP_E_TYPEMISMATCH, "MarketPrice: 'cheap' cannot be read as a double"},
        {"Whaley", with({"TimeFormat", "Weeks"}), DISP_E_TYPEMISMATCH,
         "TimeFormat: 'Weeks' is neither a member of enumTimeFormat nor a number (members: Days (0), Years (1))"},
        {"Whaley", with({"TimeFormat", "yaers"}), DISP_E_TYPEMISMATCH,
         "TimeFormat: 'yaers' is neither a member of enumTimeFormat nor a number; did you mean Years? (members: Days "
         "(0), Years (1))"},
        {"Whaley", with({"InterestRateType", "1e10"}), DISP_E_OVERFLOW,
         "InterestRateType: '1e10' is out of range for a number"},
        {"Whaley", std::vector<NamedValue>(base.begin() + 3, base.end()), DISP_E_PARAMNOTOPTIONAL,
         "Whaley needs OptionType, OptionFunction, AssetPrice"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const Outcome outcome = CallMethod(object, c.method, c.args);
        EXPECT_EQ(outcome.hr, c.hr);
        EXPECT_FALSE(outcome.fromMethod);
        EXPECT_EQ(outcome.description, c.description);
        EXPECT_EQ(JsonOutcome(outcome).find("\"helpFile\":null"), JsonOutcome(outcome).find("\"helpFile\""));
    }
}

TEST_F(HostCall, ShapedCallsAnswerAsCallsByText) {
    // Random cells of every kind a book may hold: whatever the caller passes
    // as a number must be what the object reads from the text.
    std::mt19937 random(7);
    const auto decimal = [&random] {
        std::string text = random() % 4 == 0 ? "-" : "";
        const int whole = static_cast<int>(random() % 9), fraction = static_cast<int>(random() % 12);
        for (int i = 0; i < whole; ++i) text += static_cast<char>('0' + random() % 10);
        if (random() % 3 != 0) text += '.';
        for (int i = 0; i < fraction; ++i) text += static_cast<char>('0' + random() % 10);
        if (random() % 8 == 0) text += "e" + std::to_string(static_cast<int>(random() % 40) - 20);
        return text;
    };
    const char* odd[] = {"+5", " 7", "0x10", "nan", "inf", "1e999", "1e-400", "5.", ".5", "-0", "--1", "1,5",
                         "2147483648", "-2147483648", "2.5", "0.1e1", "Straddle", "putoption", "3", "Years", "9"};
    const char* names[] = {"ExerciseType", "OptionType", "OptionFunction", "AssetPrice", "StrikePrice",
                           "TimeExpire", "Volatility", "InterestRate", "YieldRate", "TimeFormat", "DividendAmount"};
    const char* members[][3] = {{"European", "american", "1"}, {"CallOption", "PUTOPTION", "2"},
                                {"Theoretical", "Delta", "Gamma"}};
    TCaller caller(object);
    std::size_t priced = 0;
    for (int r = 0; r < 10000; ++r) {
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < std::size(names); ++i) {
            if (i < 3) {
                texts.push_back(random() % 20 == 0 ? odd[random() % std::size(odd)] : members[i][random() % 3]);
            } else if (i == 9) {
                texts.push_back(random() % 2 == 0 ? "Years" : odd[random() % std::size(odd)]);
            } else {
                texts.push_back(random() % 30 == 0 ? odd[random() % std::size(odd)] : decimal());
            }
        }
        // Every name (known by its key), or some of them: more lists than the caller remembers.
        const bool all = random() % 2 == 0;
        std::vector<std::string_view> nameViews, values;
        std::vector<NamedValue> args;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            if (!all && random() % 4 == 0) continue;
            nameViews.push_back(names[i]);
            values.push_back(texts[i]);
            args.push_back({names[i], texts[i]});
        }
        const Outcome byText = CallMethod(object, "GenBS", args);
        const Outcome shaped = caller.Call("GenBS", nameViews, values, all ? 1 : 0);
        ASSERT_EQ(shaped.hr, byText.hr) << r;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(shaped.result), std::bit_cast<std::uint64_t>(byText.result)) << r;
        ASSERT_EQ(shaped.description, byText.description) << r;
        ASSERT_EQ(shaped.fromMethod, byText.fromMethod) << r;
        priced += byText.Succeeded() ? 1 : 0;
    }
    EXPECT_GT(priced, 150u);  // the comparison covered answers, not only refusals
}

TEST_F(HostCall, PricesABookRowByRow) {
    const std::string book =
        "strikeprice, METHOD ,OptionType,OptionFunction,AssetPrice,TimeExpire,Volatility,InterestRate,YieldRate,"
        "TimeFormat,Iterations,exercisetype\n"
        "100,GenBS,CallOption,Theoretical,100,1,0.2,0.05,0,Years,,European\n"
        "100,GenBS,CallOption,Theoretical,100,1,0.2,0.05\n"
        "0,Whaley,PutOption,Theoretical,100,1,0.2,0.05,0,Years,,\n"
        "100,Whaley,PutOption,Theoretical,100,1,0.2,0.05,0,Years,50,\n"
        "100,,PutOption,Theoretical,100,1,0.2,0.05,0,Years,,\n"
        "\"100\",GenBS,PutOption,Theoretical,100,1,0.2,0.05,0,Years, ,1\n";
    std::ostringstream out, errors;
    const BookSummary summary = PriceBook(object, book, "test.csv", out, errors);
    EXPECT_TRUE(summary.readable);
    EXPECT_EQ(summary.priced, 2u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(summary.malformed, 3u);
    EXPECT_EQ(errors.str(),
              "test.csv:3: the row has 8 cells, the header 12\n"
              "test.csv:5: 'Iterations' is not a parameter of Whaley; only Binomial, Eurodollar take it\n"
              "test.csv:6: the row names no method\n");

    const auto rows = ParseCsv(out.str());
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0].fields.size(), 15u);
    EXPECT_EQ(rows[0].fields[13], "HResult");
    double call = 0, put = 0;
    std::from_chars(rows[1].fields[12].data(), rows[1].fields[12].data() + rows[1].fields[12].size(), call);
    std::from_chars(rows[6].fields[12].data(), rows[6].fields[12].data() + rows[6].fields[12].size(), put);
    // Put-call parity with no yield: C - P = S - K exp(-rT).
    EXPECT_NEAR(call - put, 100 - 100 * std::exp(-0.05), 1e-9);
    EXPECT_EQ(rows[2].fields.size(), 15u);  // a short row is padded to the header
    EXPECT_EQ(rows[2].fields[13], "0x80070057");
    EXPECT_EQ(rows[3].fields[12], "");
    EXPECT_EQ(rows[3].fields[13], "0x80050002");
    EXPECT_EQ(rows[3].fields[14], "StrikePrice must be greater than 0.");
    EXPECT_EQ(rows[4].fields[13], "0x80020006");
}

TEST_F(HostCall, UnusableHeadersPriceNothing) {
    const std::pair<const char*, const char*> cases[] = {
        {"Method,Strike\nGenBS,1\n", "t.csv:1: 'Strike' is not a parameter of any method; did you mean StrikePrice?\n"},
        {"TradeId,Methd,AssetPrice\n", "t.csv:1: 'Methd' is not a parameter of any method; did you mean Method?\n"},
        {"AssetPrice,StrikePrice\n1,2\n", "t.csv:1: there is no Method column\n"},
        {"Method,assetprice,AssetPrice\n", "t.csv:1: the column 'AssetPrice' appears twice\n"},
        {"\n\n", "t.csv: the book is empty; its first line names the columns\n"},
    };
    for (const auto& [book, message] : cases) {
        std::ostringstream out, errors;
        EXPECT_FALSE(PriceBook(object, book, "t.csv", out, errors).readable);
        EXPECT_EQ(errors.str(), message);
        EXPECT_EQ(out.str(), "");
    }
}

// Columns of the trade system's own travel through in place; --strict refuses them.
TEST_F(HostCall, BooksCarryColumnsThatAreNoParameter) {
    const std::string book =
        "TradeId,Method,OptionType,OptionFunction,Comment,AssetPrice,StrikePrice,TimeExpire,Volatility,InterestRate,"
        "YieldRate,TimeFormat\n"
        "T-1,Whaley,PutOption,Theoretical,\"hedge, desk 4\",100,100,1,0.2,0.05,0,Years\n"
        "T-2,Whaley,PutOption,Theoretical,,100,0,1,0.2,0.05,0,Years\n";
    std::ostringstream out, errors;
    const BookSummary summary = PriceBook(object, book, "t.csv", out, errors);
    EXPECT_TRUE(summary.readable);
    EXPECT_EQ(summary.priced, 1u);
    EXPECT_EQ(summary.failed, 1u);
    EXPECT_EQ(errors.str(), "");
    const auto rows = ParseCsv(out.str());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].fields[0], "T-1");
    EXPECT_EQ(rows[1].fields[4], "hedge, desk 4");
    const Outcome alone = CallMethod(object, "Whaley",
                                     std::vector<NamedValue>{{"OptionType", "PutOption"}, {"OptionFunction", "1"},
                                                             {"AssetPrice", "100"}, {"StrikePrice", "100"},
                                                             {"TimeExpire", "1"}, {"Volatility", "0.2"},
                                                             {"InterestRate", "0.05"}, {"YieldRate", "0"},
                                                             {"TimeFormat", "Years"}});
    EXPECT_EQ(rows[1].fields[12], FormatNumber(alone.result));
    EXPECT_EQ(rows[2].fields[0], "T-2");
    EXPECT_EQ(rows[2].fields[14], "StrikePrice must be greater than 0.");

    std::istringstream in(book);
    std::ostringstream none, refused;
    EXPECT_FALSE(PriceBook(object, in, "t.csv", none, refused, BookRun{1, nullptr, true}).readable);
    EXPECT_EQ(refused.str(), "t.csv:1: 'TradeId' is not a parameter of any method (--strict)\n");
    EXPECT_EQ(none.str(), "");
}

TEST_F(HostCall, BooksOfOddBytesGetClearAnswers) {
    const std::string header = "Method,OptionType,OptionFunction,AssetPrice,StrikePrice,TimeExpire,Volatility,"
                               "InterestRate,YieldRate,ExerciseType";
    const std::string row = "PutOption,Theoretical,100,100,1,0.2,0.05,0,European";
    const struct {
        std::string book;
        std::string errors;
        std::string lastRowEnd;  // the end of the output's last line
    } cases[] = {
        // A spreadsheet's "CSV UTF-8" begins with a byte-order mark.
        {"\xEF\xBB\xBF" + header + "\nGenBS," + row + "\n", "", ",0x00000000,\n"},
        // NUL bytes are shown, not written, in messages and Description cells.
        {header + "\nGen" + std::string(1, '\0') + "BS," + row + "\n",
         "t.csv:2: unknown method 'Gen\\0BS'; did you mean GenBS?\n",
         ",0x80020006,unknown method 'Gen\\0BS'; did you mean GenBS?\n"},
        {"Method,Volatilt" + std::string(1, '\0') + "\nGenBS,1\n",
         "t.csv:1: 'Volatilt\\0' is not a parameter of any method; did you mean Volatility?\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errors);
        std::ostringstream out, errors;
        PriceBook(object, c.book, "t.csv", out, errors);
        EXPECT_EQ(errors.str(), c.errors);
        const std::string text = out.str();
        if (c.lastRowEnd.empty()) {
            EXPECT_EQ(text, "");
            continue;
        }
        EXPECT_EQ(text.substr(0, header.size() + 1), header + ",");
        ASSERT_GE(text.size(), c.lastRowEnd.size());
        EXPECT_EQ(text.substr(text.size() - c.lastRowEnd.size()), c.lastRowEnd);
    }
}

TEST(JsonOutcome, StaysValidJsonWhateverTheBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},  // kept as written
        {"\xFF\xFE", "\\u00FF\\u00FE"},                                   // no UTF-8 at all
        {"\xC3(", "\\u00C3("},                                            // a sequence cut short
        {"\xC0\xAF \xED\xA0\x80", "\\u00C0\\u00AF \\u00ED\\u00A0\\u0080"},  // overlong, a surrogate
        {"\xF4\x90\x80\x80", "\\u00F4\\u0090\\u0080\\u0080"},               // beyond U+10FFFF
        {std::string("a\0b\x7F", 4), "a\\u0000b\x7F"},
    };
    for (const auto& [text, escaped] : cases) {
        Outcome outcome;
        outcome.hr = DISP_E_TYPEMISMATCH;
        outcome.description = text;
        EXPECT_EQ(JsonOutcome(outcome), "{\"hresult\":\"0x80020005\",\"description\":\"" + escaped +
                                            "\",\"helpFile\":null,\"helpContext\":0,\"source\":null}");
    }
}

TEST(Describe, PrintsTheLibraryOrOneMethod) {
    std::ostringstream all;
    ASSERT_TRUE(Describe(all));
    const std::string text = all.str();
    EXPECT_NE(text.find("library Quantora  \"Quantora 2.0 Type Library\"  version 1.0  locale 0x409"),
              std::string::npos);
    EXPECT_NE(text.find("[id 5] AmericanCall  \"Roll-Geske-Whaley Model\"  (help context 35)"), std::string::npos);
    EXPECT_NE(text.find("\"The Interest Rate is too negative for the conversion.  Either"), std::string::npos);
    // Declaration order of enumCompoundRate: Monthly right after Continuous.
    const auto continuous = text.find("      Continuous");
    ASSERT_NE(continuous, std::string::npos);
    EXPECT_EQ(text.find("      Monthly"), text.find('\n', continuous) + 1);

    std::ostringstream one;
    ASSERT_TRUE(Describe(one, "eurodollar"));
    EXPECT_NE(one.str().find("enum enumEurodollarModel"), std::string::npos);
    EXPECT_NE(one.str().find("      Iterations          int                   optional\n"), std::string::npos);
    EXPECT_EQ(one.str().find("enumDividendStyle"), std::string::npos);  // Eurodollar takes no dividend style
    std::ostringstream none;
    EXPECT_FALSE(Describe(none, "Heston"));
}

TEST(Suggest, NearestNameOrNone) {
    const std::vector<const char*> params = ParameterNames();
    const std::pair<const char*, const char*> cases[] = {
        {"Volatilty", "Volatility"},   {"volatility", "Volatility"},  {"StrikPrice", "StrikePrice"},
        {"Strike", "StrikePrice"},     {"Timeformat", "TimeFormat"},  {"Iteratoins", "Iterations"},
        {"TradeId", nullptr},          {"Counterparty", nullptr},     {"Book", nullptr},
        {"Comment", nullptr},          {"Id", nullptr},               {"Spot", nullptr},
    };
    for (const auto& [name, expected] : cases) {
        const char* found = ClosestName(name, params);
        EXPECT_EQ(found == nullptr ? std::string("none") : found, expected == nullptr ? "none" : expected) << name;
    }
}

// Every name of the library has its note in the manual, and `kestrix help`
// finds its section.
TEST(Reference, EveryMethodParameterFunctionAndErrorIsDocumented) {
    for (const auto& method : typelib::kMethods) {
        EXPECT_FALSE(MethodNote(method.name).empty()) << method.name;
        std::ostringstream topic;
        EXPECT_TRUE(WriteTopic(topic, method.name));
        for (const auto& param : method.params) {
            EXPECT_FALSE(ParameterNote(param.name).empty()) << param.name;
            std::ostringstream section;
            EXPECT_TRUE(WriteTopic(section, param.name));
            EXPECT_NE(section.str().find(std::string("`") + method.name + "`"), std::string::npos) << param.name;
        }
    }
    for (const auto& member : typelib::kOptionFunctions.members) {
        EXPECT_FALSE(FunctionNote(member.name).empty()) << member.name;
    }
    for (const auto& row : ErrorTable()) {
        EXPECT_FALSE(ErrorNote(row.name).empty()) << row.name;
        if (row.code == enumOErrCodes::None) continue;
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(row.code));
        std::ostringstream byName, byCode;
        EXPECT_TRUE(WriteTopic(byName, row.name));
        EXPECT_TRUE(WriteTopic(byCode, hex));
        EXPECT_EQ(byName.str(), byCode.str());
        EXPECT_NE(byCode.str().find(row.text), std::string::npos) << row.name;
    }
    std::ostringstream context, none;
    EXPECT_TRUE(WriteTopic(context, "35"));
    EXPECT_NE(context.str().find("### AmericanCall"), std::string::npos);
    for (const auto& topic : GeneralTopics()) {
        std::ostringstream section;
        EXPECT_TRUE(WriteTopic(section, topic)) << topic;
    }
    EXPECT_FALSE(WriteTopic(none, "Heston"));
}

// docs/reference.md is what `kestrix help --markdown` writes, so the manual
// cannot drift from the type library.
TEST(Reference, CheckedInManualIsTheGeneratedOne) {
    std::ifstream file(KESTRIX_SOURCE_DIR "/docs/reference.md", std::ios::binary);
    ASSERT_TRUE(file) << "docs/reference.md is missing";
    std::ostringstream checkedIn, generated;
    checkedIn << file.rdbuf();
    WriteReference(generated);
    EXPECT_TRUE(checkedIn.str() == generated.str())
        << "docs/reference.md is out of date: build, then run "
           "`./build/default/tools/kestrix help --markdown > docs/reference.md`";
}

}  // namespace
}  // namespace kestrix::cli
