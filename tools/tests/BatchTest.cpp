// Books at scale: the streaming reader, parallel pricing in input order,
// sweeps and the progress bar.
#include <gtest/gtest.h>

#include <charconv>
#include <csignal>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Book.h"
#include "Csv.h"
#include "Host.h"
#include "Progress.h"
#include "Sweep.h"

namespace kestrix::cli {
namespace {

std::vector<CsvRecord> Stream(const std::string& text) {
    std::istringstream in(text);
    TCsvStream stream(in);
    std::vector<CsvRecord> records;
    CsvRecord record;
    while (stream.Next(record)) records.push_back(record);
    EXPECT_EQ(stream.Consumed(), text.size());
    return records;
}

void ExpectSameRecords(const std::vector<CsvRecord>& actual, const std::vector<CsvRecord>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(actual[i].line, expected[i].line);
        EXPECT_EQ(actual[i].fields, expected[i].fields);
        EXPECT_EQ(actual[i].error, expected[i].error);
    }
}

// A text of several read chunks whose records cross the stream's read chunks at
// every kind of place: inside quoted fields with line breaks, between CR and
// LF, on stray and unclosed-then-closed quotes, on blank lines.
std::string RaggedCsv(unsigned seed) {
    std::mt19937 random(seed);
    const char* pieces[] = {"plain", "\"quoted, with comma\"", "\"two\nlines\"", "\"say \"\"hi\"\"\"", "",
                            "x\"y",  "\"ab\"c",               "\"cr\r\nlf\"",   "12.5",           "\"\""};
    std::string text;
    while (text.size() < 1'500'000) {
        const int cells = 1 + static_cast<int>(random() % 6);
        for (int c = 0; c < cells; ++c) {
            if (c > 0) text += ',';
            text += pieces[random() % std::size(pieces)];
        }
        text += random() % 3 == 0 ? "\r\n" : "\n";
        if (random() % 10 == 0) text += "\n";  // a blank line
    }
    return text;
}

TEST(CsvStream, ReadsWhatParseCsvReadsAcrossChunkBoundaries) {
    for (const unsigned seed : {1u, 2u}) {
        SCOPED_TRACE(seed);
        const std::string text = RaggedCsv(seed);
        ExpectSameRecords(Stream(text), ParseCsv(text));
        // Without the final line break, and with a CR as the very last byte.
        ExpectSameRecords(Stream(text.substr(0, text.size() - 1)), ParseCsv(text.substr(0, text.size() - 1)));
        const std::string cr = text + "last\r";
        ExpectSameRecords(Stream(cr), ParseCsv(cr));
        // A byte-order mark before the first record is not part of it.
        ExpectSameRecords(Stream("\xEF\xBB\xBF" + text), ParseCsv(text));
    }
}

TEST(CsvStream, AQuoteLeftOpenIsReportedWithinBoundedMemory) {
    // Near the end, the quote runs to the end of the input: as ParseCsv reads it.
    const std::string small = "a,b\n\"open,1\nnext,row\n";
    ExpectSameRecords(Stream(small), ParseCsv(small));
    EXPECT_EQ(Stream(small)[1].error, "a quoted field is not closed");

    // Far from the end, reading gives up after kMaxRecordBytes and resumes
    // on the line after the one the record started on.
    std::string big = "a,b\n\"open,1\n";
    while (big.size() < TCsvStream::kMaxRecordBytes + 500'000) big += "filler,row\n";
    big += "last,row\n";
    const auto records = Stream(big);
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[1].line, 2u);
    EXPECT_EQ(records[1].error, "a quote opened on line 2 is not closed within 1048576 bytes");
    EXPECT_EQ(records[2].line, 3u);
    EXPECT_EQ(records[2].fields, (std::vector<std::string>{"filler", "row"}));
    EXPECT_EQ(records.back().fields, (std::vector<std::string>{"last", "row"}));
    EXPECT_EQ(records.back().line, records.size());  // one record a line

    // One line longer than the limit and no quote at all: skipped whole.
    const std::string longLine = "a\n" + std::string(TCsvStream::kMaxRecordBytes + 10, 'x') + "\nb\n";
    const auto lines = Stream(longLine);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].error, "the record is longer than 1048576 bytes");
    EXPECT_EQ(lines[2].fields, std::vector<std::string>{"b"});
    EXPECT_EQ(lines[2].line, 3u);
}

// A book of mixed models with rejected requests and malformed rows, and the
// lines on which the malformed ones start.
struct MixedBook {
    std::string text;
    std::vector<std::size_t> malformedLines;
    std::size_t rows = 0;
};

MixedBook MakeMixedBook(std::size_t rows) {
    MixedBook book;
    book.text =
        "Method,ExerciseType,OptionType,OptionFunction,Iterations,AssetPrice,StrikePrice,TimeExpire,Volatility,"
        "InterestRate,YieldRate,MarketPrice,TimeFormat\n";
    std::mt19937 random(20240611);
    const char* methods[] = {"GenBS", "GenBS", "GenBS", "Whaley", "BSAmerican", "Binomial"};
    const char* types[] = {"CallOption", "PutOption", "Straddle"};
    const char* functions[] = {"Theoretical", "Delta", "Gamma", "Theta", "Vega", "Rho", "ImpliedVol"};
    std::size_t line = 2;
    for (std::size_t r = 0; r < rows; ++r, ++line) {
        const std::string method = methods[random() % std::size(methods)];
        // The approximations are American by construction and take no exercise type.
        const bool exercise = method == "GenBS" || method == "Binomial";
        std::string row = method + "," + (exercise ? random() % 2 ? "European" : "American" : "") + "," +
                          types[random() % 3] +
                          "," + functions[random() % std::size(functions)] + "," +
                          (method == "Binomial" ? "25" : "") + "," + std::to_string(80 + random() % 40) + "," +
                          std::to_string(90 + random() % 20) + ",0." + std::to_string(1 + random() % 9) + ",0.2" +
                          std::to_string(random() % 10) + ",0.05,0.01,7.5,Years";
        switch (random() % 40) {
            case 0:  // rejected by the library: its cells are still well formed
                row = "GenBS,European,CallOption,Theoretical,,100,0,1,0.2,0.05,0,,Years";
                break;
            case 1:
                row = "GenBS,European,CallOption,Theoretical,,100";
                book.malformedLines.push_back(line);
                break;
            case 2:
                row = "Heston,European,CallOption,Theoretical,,100,100,1,0.2,0.05,0,,Years";
                book.malformedLines.push_back(line);
                break;
            case 3:
                row = "GenBS,European,CallOption,Theoretical,,1\"00,100,1,0.2,0.05,0,,Years";
                book.malformedLines.push_back(line);
                break;
            case 4:  // a well-formed quoted field over two lines: an unknown option function
                row = "GenBS,European,CallOption,\"Theo\nretical\",,100,100,1,0.2,0.05,0,,Years";
                book.malformedLines.push_back(line++);
                break;
            default:
                break;
        }
        book.text += row + (r % 7 == 0 ? "\r\n" : "\n");
        ++book.rows;
    }
    return book;
}

struct PricedText {
    std::string out;
    std::string errors;
    BookSummary summary;
};

PricedText PriceWithThreads(IDispatch* object, const std::string& text, unsigned threads) {
    std::istringstream in(text);
    std::ostringstream out, errors;
    PricedText priced;
    priced.summary = PriceBook(object, in, "mixed.csv", out, errors, BookRun{threads, nullptr});
    priced.out = out.str();
    priced.errors = errors.str();
    return priced;
}

class BatchBook : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(object, nullptr); }
    void TearDown() override { object->Release(); }
    IDispatch* object = CreateKestrix();
};

TEST_F(BatchBook, ParallelRunsWriteTheSingleThreadedBytes) {
    const MixedBook book = MakeMixedBook(3000);
    const PricedText single = PriceWithThreads(object, book.text, 1);
    ASSERT_TRUE(single.summary.readable);
    EXPECT_EQ(single.summary.priced + single.summary.failed + single.summary.malformed, book.rows);
    EXPECT_EQ(single.summary.malformed, book.malformedLines.size());
    EXPECT_GT(single.summary.failed, 0u);

    // One message per malformed row, by the line it starts on, in order.
    std::vector<std::size_t> reported;
    std::istringstream messages(single.errors);
    for (std::string message; std::getline(messages, message);) {
        if (message.rfind("mixed.csv:", 0) != 0) continue;  // the second line of a two-line cell
        std::size_t line = 0;
        std::from_chars(message.data() + 10, message.data() + message.size(), line);
        reported.push_back(line);
    }
    EXPECT_EQ(reported, book.malformedLines);

    // Every row answered, in input order: the output read back has the input's cells first.
    const auto input = ParseCsv(book.text);
    const auto output = ParseCsv(single.out);
    ASSERT_EQ(output.size(), input.size());
    for (std::size_t r = 1; r < input.size(); ++r) {
        if (!input[r].error.empty() || input[r].fields.size() != input[0].fields.size()) continue;
        const std::vector<std::string> cells(output[r].fields.begin(),
                                             output[r].fields.begin() + static_cast<long>(input[r].fields.size()));
        ASSERT_EQ(cells, input[r].fields) << "row " << r;
    }

    for (const unsigned threads : {2u, 3u, 8u}) {
        SCOPED_TRACE(threads);
        const PricedText parallel = PriceWithThreads(object, book.text, threads);
        EXPECT_EQ(parallel.out, single.out);
        EXPECT_EQ(parallel.errors, single.errors);
        EXPECT_EQ(parallel.summary.priced, single.summary.priced);
        EXPECT_EQ(parallel.summary.failed, single.summary.failed);
        EXPECT_EQ(parallel.summary.malformed, single.summary.malformed);
    }

    // And the same as a book held in memory.
    std::ostringstream out, errors;
    PriceBook(object, std::string_view(book.text), "mixed.csv", out, errors);
    EXPECT_EQ(out.str(), single.out);
}

TEST_F(BatchBook, UnusableHeaderStopsEveryThread) {
    const PricedText priced = PriceWithThreads(object, "AssetPrice\n1\n", 4);
    EXPECT_FALSE(priced.summary.readable);
    EXPECT_EQ(priced.out, "");
    EXPECT_EQ(priced.errors, "mixed.csv:1: there is no Method column\n");
    // A header alone is a book of no rows.
    const PricedText empty = PriceWithThreads(object, "Method,AssetPrice\n", 4);
    EXPECT_TRUE(empty.summary.readable);
    EXPECT_EQ(empty.out, "Method,AssetPrice,Result,HResult,Description\n");
}

std::vector<std::string> Args(std::initializer_list<const char*> list) { return {list.begin(), list.end()}; }

const std::vector<std::string> kCall = Args({"GenBS", "ExerciseType=European", "OptionType=CallOption",
                                             "StrikePrice=100", "TimeExpire=1", "Volatility=0.2",
                                             "InterestRate=0.05", "YieldRate=0", "TimeFormat=Years"});

std::vector<std::string> With(std::vector<std::string> args, std::initializer_list<const char*> extra) {
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(SweepCommandLine, GridsAndTheirMistakes) {
    SweepRequest request;
    std::string problem;
    ASSERT_TRUE(ParseSweep(Args({"GenBS", "ExerciseType=European", "OptionType=CallOption", "StrikePrice=100",
                                 "TimeExpire=1", "InterestRate=0.05", "YieldRate=0", "--vary", "assetprice=80:120:41",
                                 "--vary", "Volatility=0.1:0.3:3", "--functions", "Delta,2,theta"}),
                           request, problem))
        << problem;
    ASSERT_EQ(request.axes.size(), 2u);
    EXPECT_EQ(request.axes[0].name, "AssetPrice");
    EXPECT_EQ(request.axes[0].At(0), 80);
    EXPECT_EQ(request.axes[0].At(1), 81);
    EXPECT_EQ(request.axes[0].At(40), 120);
    // Both ends exact, even where start + 2 * step is not, and points between as written.
    EXPECT_EQ(request.axes[1].At(2), 0.3);
    EXPECT_EQ(request.axes[1].At(1), 0.2);
    EXPECT_EQ(request.functions, Args({"Delta", "Delta", "Theta"}));

    // A point meant to be 0 is 0, whatever the ends.
    SweepRequest zero;
    ASSERT_TRUE(ParseSweep(Args({"GenBS", "--vary", "YieldRate=-0.3:0.3:7", "--vary", "DividendAmount=-1.1:2.2:4"}),
                           zero, problem));
    EXPECT_EQ(zero.axes[0].At(3), 0.0);
    EXPECT_EQ(zero.axes[0].At(6), 0.3);
    EXPECT_EQ(zero.axes[1].At(1), 0.0);
    EXPECT_EQ(FormatNumber(zero.axes[1].At(1)), "0");

    // Added to the end of a command, --vary and --functions override what it fixed.
    SweepRequest edited;
    ASSERT_TRUE(ParseSweep(With(kCall, {"OptionFunction=Delta", "--vary", "StrikePrice=90:110:3", "--functions", "all",
                                        "-o", "grid.csv", "--threads", "3"}),
                           edited, problem))
        << problem;
    EXPECT_EQ(edited.axes[0].name, "StrikePrice");
    for (const auto& value : edited.fixed) {
        EXPECT_NE(value.name, "StrikePrice");
        EXPECT_NE(value.name, "OptionFunction");
    }
    EXPECT_EQ(edited.functions, Args({"Theoretical", "Delta", "Gamma", "Theta", "Vega", "Rho", "Psi", "Lambda",
                                      "IntrinsicValue", "StrikeSensitivity", "Time_Value"}));
    EXPECT_EQ(edited.output, "grid.csv");
    EXPECT_EQ(edited.threads, 3u);

    SweepRequest iterations;
    ASSERT_TRUE(ParseSweep(Args({"Binomial", "--vary", "Iterations=50:450:5"}), iterations, problem)) << problem;
    EXPECT_EQ(iterations.axes[0].At(3), 350);
    EXPECT_EQ(iterations.functions, Args({"Theoretical"}));

    const std::pair<std::vector<std::string>, const char*> mistakes[] = {
        {Args({}), "sweep needs a method"},
        {Args({"GenBSS", "--vary", "AssetPrice=1:2:2"}), "unknown method 'GenBSS'; did you mean GenBS?"},
        {kCall, "sweep needs at least one --vary Name=start:stop:count"},
        {With(kCall, {"--vary"}), "--vary needs a value"},
        {With(kCall, {"--vary", "AssetPrice=80:120"}), "--vary takes Name=start:stop:count, got 'AssetPrice=80:120'"},
        {With(kCall, {"--vary", "Spot=1:2:2"}), "'Spot' is not a parameter of GenBS"},
        {With(kCall, {"--vary", "AsetPrice=1:2:2"}), "'AsetPrice' is not a parameter of GenBS; did you mean AssetPrice?"},
        {With(kCall, {"--vary", "AssetPrice=1:2:2", "--threads", "0"}), "--threads takes a number from 1 to 256, got '0'"},
        {With(kCall, {"--vary", "AssetPrice=1:2:2", "--output", "x"}), "unknown option '--output'"},
        {With(kCall, {"--vary", "TimeFormat=0:1:2"}), "--vary needs a numeric parameter; TimeFormat is an enumeration"},
        {With(kCall, {"--vary", "AssetPrice=a:2:2"}), "AssetPrice: start and stop must be numbers, got 'a' and '2'"},
        {With(kCall, {"--vary", "AssetPrice=1:2:0"}),
         "AssetPrice: the count must be a whole number from 1 to 100000000, got '0'"},
        {With(kCall, {"--vary", "AssetPrice=1:2:1"}), "AssetPrice: a grid of one point needs start equal to stop"},
        {With(kCall, {"--vary", "AssetPrice=1:2:2", "--vary", "ASSETPRICE=1:2:2"}), "AssetPrice is varied twice"},
        {With(kCall, {"--vary", "AssetPrice=1:2:20000", "--vary", "DividendAmount=1:2:20000"}),
         "the grid has more than 100000000 points"},
        {With(kCall, {"--functions", "Delta,Gamm", "--vary", "AssetPrice=1:2:2"}),
         "OptionFunction: 'Gamm' is neither a member of enumOptionFunctions nor a number; did you mean Gamma? "
         "(members: Theoretical (1), Delta (2), Gamma (3), Theta (4), ImpliedVol (5), Vega (6), Rho (7), Psi (8), "
         "Lambda (9), IntrinsicValue (10), StrikeSensitivity (11), Time_Value (12), ImpliedStrike (13)); `all` is "
         "every function that needs no market price"},
        {With(kCall, {"--vary", "AssetPrice=1:2:2", "junk"}), "expected Name=Value, --vary or --functions, got 'junk'"},
        {Args({"Binomial", "--vary", "Iterations=50:60:4"}),
         "Iterations is an integer: start, stop and the steps between them must be whole numbers"},
    };
    for (const auto& [args, expected] : mistakes) {
        SweepRequest ignored;
        std::string text;
        EXPECT_FALSE(ParseSweep(args, ignored, text)) << expected;
        EXPECT_EQ(text, expected);
    }
}

std::vector<std::vector<double>> Numbers(const std::string& csv) {
    std::vector<std::vector<double>> rows;
    for (const auto& record : ParseCsv(csv)) {
        std::vector<double> row;
        for (const auto& field : record.fields) {
            double value = NAN;
            std::from_chars(field.data(), field.data() + field.size(), value);
            row.push_back(value);
        }
        rows.push_back(row);
    }
    return rows;
}

TEST_F(BatchBook, SweepAgreesWithTheClosedFormAndItsOwnDifferences) {
    SweepRequest request;
    std::string problem;
    ASSERT_TRUE(ParseSweep(With(kCall, {"--vary", "AssetPrice=80:120:401", "--functions", "Theoretical,Delta,Gamma"}),
                           request, problem));
    std::ostringstream out, errors;
    const SweepSummary summary = Sweep(object, request, out, errors);
    EXPECT_FALSE(summary.refused);
    EXPECT_EQ(summary.failures, 0u);
    EXPECT_EQ(errors.str(), "");
    const auto rows = Numbers(out.str());
    ASSERT_EQ(rows.size(), 402u);
    EXPECT_EQ(out.str().substr(0, out.str().find('\n')), "AssetPrice,Theoretical,Delta,Gamma");

    // The value against Black-Scholes with the library's normal approximation's accuracy.
    const auto closedForm = [](double s) {
        const double d1 = (std::log(s / 100) + 0.07) / 0.2, d2 = d1 - 0.2;
        const auto n = [](double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); };
        return s * n(d1) - 100 * std::exp(-0.05) * n(d2);
    };
    for (std::size_t r = 1; r < rows.size(); ++r) EXPECT_NEAR(rows[r][1], closedForm(rows[r][0]), 2e-5);
    // Delta and Gamma against central differences over the grid's own points (step 0.1).
    for (std::size_t r = 2; r + 1 < rows.size(); ++r) {
        EXPECT_NEAR(rows[r][2], (rows[r + 1][1] - rows[r - 1][1]) / 0.2, 1e-3) << rows[r][0];
        EXPECT_NEAR(rows[r][3], (rows[r + 1][2] - rows[r - 1][2]) / 0.2, 1e-3) << rows[r][0];
    }
}

TEST_F(BatchBook, SweepGridIsCartesianAndFailingPointsStayEmpty) {
    SweepRequest request;
    std::string problem;
    ASSERT_TRUE(ParseSweep(Args({"GenBS", "ExerciseType=European", "OptionType=PutOption", "AssetPrice=100",
                                 "TimeExpire=1", "InterestRate=0.05", "YieldRate=0", "TimeFormat=Years", "--vary",
                                 "StrikePrice=0:100:2", "--vary", "Volatility=0.2:0.4:3"}),
                           request, problem));
    std::ostringstream out, errors;
    const SweepSummary summary = Sweep(object, request, out, errors);
    EXPECT_EQ(summary.failures, 3u);  // a zero strike, at each volatility
    EXPECT_EQ(out.str().substr(0, out.str().find('\n') + 1), "StrikePrice,Volatility,Theoretical\n");
    const auto rows = ParseCsv(out.str());
    ASSERT_EQ(rows.size(), 7u);
    const char* grid[][2] = {{"0", "0.2"}, {"0", "0.3"}, {"0", "0.4"}, {"100", "0.2"}, {"100", "0.3"}, {"100", "0.4"}};
    for (std::size_t r = 0; r < 6; ++r) {
        EXPECT_EQ(rows[r + 1].fields[0], grid[r][0]);
        EXPECT_EQ(rows[r + 1].fields[1], grid[r][1]);
        EXPECT_EQ(rows[r + 1].fields[2].empty(), r < 3);
    }
    EXPECT_EQ(errors.str().substr(0, errors.str().find('\n')),
              "kestrix: StrikePrice=0, Volatility=0.2, Theoretical: 0x80050002 StrikePrice must be greater than 0. "
              "(help: Kestrix.hlp, context 2)");

    // On several threads, a grid of many chunks with failing points comes out
    // byte for byte as on one.
    SweepRequest big;
    ASSERT_TRUE(ParseSweep(Args({"GenBS", "ExerciseType=European", "OptionType=PutOption", "AssetPrice=100",
                                 "TimeExpire=1", "InterestRate=0.05", "YieldRate=0", "TimeFormat=Years", "--vary",
                                 "StrikePrice=0:100:3", "--vary", "Volatility=0.1:0.5:2501", "--functions", "1,2"}),
                           big, problem));
    big.threads = 1;
    std::ostringstream singleOut, singleErrors;
    EXPECT_EQ(Sweep(object, big, singleOut, singleErrors).failures, 2501u);
    big.threads = 3;
    std::ostringstream parallelOut, parallelErrors;
    EXPECT_EQ(Sweep(object, big, parallelOut, parallelErrors).failures, 2501u);
    EXPECT_EQ(ParseCsv(parallelOut.str()).size(), 7504u);
    EXPECT_TRUE(parallelOut.str() == singleOut.str());
    EXPECT_TRUE(parallelErrors.str() == singleErrors.str());

    // A value the object cannot take stops the sweep before it writes anything.
    SweepRequest refused;
    ASSERT_TRUE(ParseSweep(With(kCall, {"MarketPrice=cheap", "--vary", "AssetPrice=1:2:2"}), refused, problem));
    std::ostringstream none, why;
    EXPECT_TRUE(Sweep(object, refused, none, why).refused);
    EXPECT_EQ(none.str(), "");
    EXPECT_EQ(why.str(), "kestrix: GenBS: MarketPrice: 'cheap' cannot be read as a double\n");
}

TEST(Progress, LineShowsShareRateAndTimeLeft) {
    EXPECT_EQ(ProgressLine(250000, 25'000'000, 100'000'000, 0.5),
              " 25% [######                  ] 250000 rows  500000 rows/s  ETA 0:02");
    EXPECT_EQ(ProgressLine(1000000, 80'000'000, 80'000'000, 2),
              "100% [########################] 1000000 rows  500000 rows/s");
    EXPECT_EQ(ProgressLine(36, 1, 4000, 1), "  0% [                        ] 36 rows  36 rows/s  ETA 1:06:39");
    // Read from a pipe the size is unknown: rows and rate only.
    EXPECT_EQ(ProgressLine(1200, 5000, 0, 2), "1200 rows  600 rows/s");
    EXPECT_EQ(ProgressLine(0, 0, 0, 0), "0 rows");

    std::ostringstream screen;
    TProgressBar bar(screen, 100);
    bar.Clear();  // nothing drawn yet: nothing to take off
    EXPECT_EQ(screen.str(), "");
    bar.Finish(10, 100);
    EXPECT_EQ(screen.str().substr(0, 10), "\r\033[K100% [");
    EXPECT_EQ(screen.str().back(), '\n');
}

// The built command, run as a user runs it, with its stderr on a pipe or on a
// terminal.
struct CommandRun {
    int status = -1;
    std::string errors;
};

// How the command is started: stdout to a file (else the test's own), or to
// a pipe nobody reads with SIGPIPE ignored, and an address-space limit.
struct RunSetup {
    bool terminal = false;
    std::string stdoutPath;
    bool closedPipe = false;
    rlim_t addressSpace = RLIM_INFINITY;
};

CommandRun RunKestrix(const std::vector<std::string>& args, const RunSetup& setup) {
    int reader = -1, writer = -1;
    if (setup.terminal) {
        if (openpty(&reader, &writer, nullptr, nullptr, nullptr) != 0) return {};
    } else {
        int ends[2];
        if (pipe(ends) != 0) return {};
        reader = ends[0];
        writer = ends[1];
    }
    std::vector<char*> argv{const_cast<char*>(KESTRIX_COMMAND)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(writer, STDERR_FILENO);
        close(reader);
        close(writer);
        if (!setup.stdoutPath.empty()) {
            const int out = open(setup.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, STDOUT_FILENO);
            close(out);
        }
        if (setup.closedPipe) {
            int ends[2];
            if (pipe(ends) != 0) _exit(127);
            dup2(ends[1], STDOUT_FILENO);
            close(ends[0]);
            close(ends[1]);
            signal(SIGPIPE, SIG_IGN);  // as some shells and job runners leave it
        }
        const rlimit limit{setup.addressSpace, setup.addressSpace};
        setrlimit(RLIMIT_AS, &limit);
        execv(KESTRIX_COMMAND, argv.data());
        _exit(127);
    }
    close(writer);
    CommandRun run;
    char buffer[4096];
    // A terminal answers EIO once the child has closed its side.
    for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) {
        run.errors.append(buffer, static_cast<std::size_t>(got));
    }
    close(reader);
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

CommandRun RunKestrix(const std::vector<std::string>& args, bool terminal) {
    RunSetup setup;
    setup.terminal = terminal;
    return RunKestrix(args, setup);
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class PriceCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("kestrix-batch-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        book = MakeMixedBook(4000);
        std::ofstream(dir / "book.csv", std::ios::binary) << book.text;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    CommandRun Price(unsigned threads, const char* output, bool terminal) {
        return RunKestrix({"price", (dir / "book.csv").string(), "-o", (dir / output).string(), "--threads",
                           std::to_string(threads), "--all-messages"},
                          terminal);
    }

    std::filesystem::path dir;
    MixedBook book;
};

TEST_F(PriceCommand, ThreadsChangeNothingInTheOutputAndNoBarOffATerminal) {
    const CommandRun single = Price(1, "single.csv", false);
    const CommandRun parallel = Price(3, "parallel.csv", false);
    EXPECT_EQ(single.status, 1);  // the book has malformed rows
    EXPECT_EQ(parallel.status, 1);
    const std::string priced = ReadFile(dir / "single.csv");
    EXPECT_EQ(ParseCsv(priced).size(), book.rows + 1);
    EXPECT_EQ(ReadFile(dir / "parallel.csv"), priced);

    // Off a terminal, stderr holds the malformed rows' reports and the summary.
    IDispatch* object = CreateKestrix();
    ASSERT_NE(object, nullptr);
    std::ostringstream out, reports;
    const BookSummary summary = PriceBook(object, std::string_view(book.text), (dir / "book.csv").string(), out,
                                          reports);
    object->Release();
    const std::string counts = "kestrix: " + (dir / "book.csv").string() + ": " + std::to_string(book.rows) +
                               " rows: " + std::to_string(summary.priced) + " priced, " +
                               std::to_string(summary.failed) + " rejected by the library, " +
                               std::to_string(summary.malformed) + " unreadable; ";
    for (const CommandRun* run : {&single, &parallel}) {
        ASSERT_EQ(run->errors.substr(0, reports.str().size()), reports.str());
        const std::string last = run->errors.substr(reports.str().size());
        EXPECT_EQ(last.substr(0, counts.size()), counts);
        EXPECT_NE(last.find(" rows/s\n"), std::string::npos) << last;
    }

    // Without --all-messages, the first hundred messages and then their count.
    ASSERT_GT(summary.malformed, 100u);
    const CommandRun capped = RunKestrix({"price", (dir / "book.csv").string(), "-o", (dir / "capped.csv").string()},
                                         false);
    EXPECT_EQ(capped.status, 1);
    std::size_t shown = 0;
    const std::string located = (dir / "book.csv").string() + ":";
    std::istringstream lines(capped.errors);
    for (std::string line; std::getline(lines, line);) {
        shown += line.rfind(located, 0) == 0 && std::isdigit(static_cast<unsigned char>(line[located.size()]));
    }
    EXPECT_EQ(shown, 100u);
    EXPECT_NE(capped.errors.find(" more messages of unreadable rows (--all-messages lists them)\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir / "capped.csv"), priced);
}

TEST_F(PriceCommand, ProgressBarOnATerminal) {
    const CommandRun run = Price(2, "bar.csv", true);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("\r\033[K100% [########################] 4000 rows  "), std::string::npos) << run.errors;
    EXPECT_NE(run.errors.find(" rows/s"), std::string::npos);
    EXPECT_NE(run.errors.find("book.csv:" + std::to_string(book.malformedLines.back()) + ": "), std::string::npos);
    // The bar stays on the terminal, out of the priced book.
    const std::string priced = ReadFile(dir / "bar.csv");
    EXPECT_EQ(priced.find('\033'), std::string::npos);
    EXPECT_EQ(ParseCsv(priced).size(), book.rows + 1);
}

// The same mistake gives the same exit status and a one-line message in every
// command; help and the version answer 0 with nothing on stderr.
TEST(CommandLine, MistakesAndHelpAcrossCommands) {
    const std::string dir = std::filesystem::temp_directory_path() / ("kestrix-cli-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir + "/heston.csv") << "Method,AssetPrice\nHeston,1\n";
    std::ofstream(dir + "/misspelt.csv") << "Method,Volatilty\nGenBS,1\n";
    const std::vector<std::string> put{"ExerciseType=European", "OptionType=PutOption", "StrikePrice=100",
                                       "AssetPrice=100", "TimeExpire=1", "Volatility=0.2", "InterestRate=0.05",
                                       "YieldRate=0", "TimeFormat=Years"};
    auto call = [&put](std::string command, std::string method, std::vector<std::string> extra) {
        std::vector<std::string> args{std::move(command), std::move(method)};
        args.insert(args.end(), put.begin(), put.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string errors;  // what stderr holds (a part of it); "" for nothing at all
    };
    const Case cases[] = {
        {{"--version"}, 0, ""},
        {{"help"}, 0, ""},
        {{"help", "DividendFrequency"}, 0, ""},
        {{"help", "0x80050002"}, 0, ""},
        {{"price", "--help"}, 0, ""},
        {{"call", "GenBS", "--help"}, 0, ""},
        {{"sweep", "-h"}, 0, ""},
        {{"help", "Volatilty"}, 2, "kestrix: help: no topic 'Volatilty'; did you mean Volatility? (see `kestrix help`)\n"},
        {{}, 2, "kestrix: no command (see `kestrix help`)\n"},
        {{"prcie"}, 2, "kestrix: unknown command 'prcie'; did you mean price? (see `kestrix help`)\n"},
        {{"price"}, 2, "kestrix: price: price needs a book (see `kestrix price --help`)\n"},
        {{"price", dir + "/missing.csv"}, 2, "missing.csv: cannot be read: No such file or directory\n"},
        {{"price", dir}, 2, ": is a directory, not a book\n"},
        {{"price", dir + "/heston.csv", "-o", dir + "/no/such/out.csv"}, 2,
         "out.csv: cannot be written: No such file or directory\n"},
        // An unknown method, parameter or member: 2 on the command line, in
        // call and sweep alike, and in a book's header.
        {call("call", "Heston", {}), 2, "kestrix: call: unknown method 'Heston' (methods: "},
        {call("sweep", "Heston", {"--vary", "Volatility=0.1:0.2:2"}), 2, "kestrix: sweep: unknown method 'Heston'"},
        {call("call", "GenBS", {"Spot=1"}), 2, "'Spot' is not a parameter of GenBS"},
        {call("sweep", "GenBS", {"Spot=1", "--vary", "Volatility=0.1:0.2:2"}), 2, "'Spot' is not a parameter of GenBS"},
        {{"price", dir + "/misspelt.csv"}, 2,
         "misspelt.csv:1: 'Volatilty' is not a parameter of any method; did you mean Volatility?"},
        {call("call", "GenBS", {"OptionFunction=Dleta"}), 2, "did you mean Delta?"},
        {call("sweep", "GenBS", {"OptionFunction=Dleta", "--vary", "Volatility=0.1:0.2:2"}), 2, "did you mean Delta?"},
        // A request the library refuses: 1.
        {call("call", "GenBS", {"OptionFunction=1", "DividendAmount=-1"}), 1, "0x80050003 DividendAmount must be greater than or equal"},
        {call("sweep", "GenBS", {"--vary", "StrikePrice=0:1:2"}), 1, "0x80050002 StrikePrice must be greater than 0."},
        {call("call", "GenBS", {"--functions", "all", "OptionFunction=Vega"}), 0, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& arg : c.args) line += arg + " ";
        SCOPED_TRACE(line);
        const CommandRun run = RunKestrix(c.args, false);
        EXPECT_EQ(run.status, c.status);
        if (c.errors.empty()) {
            EXPECT_EQ(run.errors, "");
        } else {
            EXPECT_NE(run.errors.find(c.errors), std::string::npos) << run.errors;
            if (c.status == 2) {
                EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
            }
        }
    }
    std::filesystem::remove_all(dir);
}

// The sanitizers reserve terabytes of address space: a limit on it is no test there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

bool AnyTemporaryLeft(const std::filesystem::path& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().find(".kestrix-") != std::string::npos) return true;
    }
    return false;
}

TEST_F(PriceCommand, TheBookAndAnEarlierOutputAreNeverLost) {
    const std::string book = (dir / "book.csv").string(), link = (dir / "link.csv").string();
    const std::string earlier = (dir / "earlier.csv").string(), noHeader = (dir / "no-header.csv").string();
    std::filesystem::create_symlink(dir / "book.csv", link);
    std::ofstream(earlier) << "earlier output\n";
    std::ofstream(noHeader) << "AssetPrice\n1\n";
    const auto itself = [](const std::string& output, const std::string& input) {
        return "kestrix: the output " + output + " is the book " + input +
               " itself; write the priced book to another file\n";
    };
    const struct {
        std::vector<std::string> args;
        std::string errors;
    } refused[] = {
        {{"price", book, "-o", book}, itself(book, book)},
        {{"price", link, "-o", book}, itself(book, link)},
        {{"price", book, "-o", link}, itself(link, book)},
        {{"price", noHeader, "-o", earlier}, noHeader + ":1: there is no Method column\n"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.args[1] + " -o " + c.args[3]);
        const CommandRun run = RunKestrix(c.args, false);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.errors, c.errors);
        EXPECT_EQ(ReadFile(book), this->book.text);
        EXPECT_EQ(ReadFile(earlier), "earlier output\n");
    }
    EXPECT_FALSE(AnyTemporaryLeft(dir));

    // Through a link the target is replaced, keeping its permissions, and the link stays.
    const CommandRun single = Price(1, "single.csv", false);
    std::filesystem::permissions(earlier, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                              std::filesystem::perms::group_read);
    std::filesystem::create_symlink(earlier, dir / "to-earlier.csv");
    EXPECT_EQ(Price(1, "to-earlier.csv", false).status, single.status);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "to-earlier.csv"));
    EXPECT_EQ(ReadFile(earlier), ReadFile(dir / "single.csv"));
    EXPECT_EQ(std::filesystem::status(earlier).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_FALSE(AnyTemporaryLeft(dir));
}

TEST_F(PriceCommand, AnInterruptedRunLeavesTheEarlierOutput) {
    const std::string output = (dir / "earlier.csv").string();
    std::ofstream(output) << "earlier output\n";
    // The book comes down a pipe kept open, so the run is surely in progress
    // when it is stopped.
    int book[2];
    ASSERT_EQ(pipe(book), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(book[0], STDIN_FILENO);
        close(book[0]);
        close(book[1]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDERR_FILENO);
        execl(KESTRIX_COMMAND, KESTRIX_COMMAND, "price", "-", "-o", output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(book[0]);
    const std::string rows = this->book.text.substr(0, 20000);
    ASSERT_EQ(write(book[1], rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
    // Wait until the temporary output exists, then stop the run.
    for (int i = 0; i < 500 && !AnyTemporaryLeft(dir); ++i) usleep(10'000);
    EXPECT_TRUE(AnyTemporaryLeft(dir));
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    close(book[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(ReadFile(output), "earlier output\n");
    EXPECT_FALSE(AnyTemporaryLeft(dir));
}

std::size_t LastReportedLine(const std::string& errors) {
    std::size_t last = 0;
    std::istringstream lines(errors);
    for (std::string message; std::getline(lines, message);) {
        const auto colon = message.find(".csv:");
        if (colon != std::string::npos) std::from_chars(message.data() + colon + 5, message.data() + message.size(), last);
    }
    return last;
}

TEST_F(PriceCommand, AFailedWriteEndsEveryCommand) {
    const std::string book = (dir / "book.csv").string();
    const std::string full = "kestrix: stdout: writing failed: No space left on device\n";
    const struct {
        std::vector<std::string> args;
        std::string errorsEnd;
    } cases[] = {
        {{"price", book, "--threads", "2"}, full},
        {{"price", book, "-o", "/dev/full"}, "kestrix: /dev/full: writing failed: No space left on device\n"},
        {{"call", "GenBS", "ExerciseType=European", "OptionType=CallOption", "OptionFunction=Theoretical",
          "AssetPrice=100", "StrikePrice=100", "TimeExpire=1", "Volatility=0.2", "InterestRate=0.05", "YieldRate=0"},
         full},
        {{"sweep", "GenBS", "ExerciseType=European", "OptionType=CallOption", "StrikePrice=100", "TimeExpire=1",
          "Volatility=0.2", "InterestRate=0.05", "YieldRate=0", "--vary", "AssetPrice=50:150:1000"},
         full},
        {{"describe"}, full},
        {{"register"}, full},
        {{"unregister"}, full},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        RunSetup setup;
        setup.stdoutPath = "/dev/full";
        const CommandRun run = RunKestrix(c.args, setup);
        EXPECT_EQ(run.status, 1);
        ASSERT_GE(run.errors.size(), c.errorsEnd.size()) << run.errors;
        EXPECT_EQ(run.errors.substr(run.errors.size() - c.errorsEnd.size()), c.errorsEnd);
        // Rows stop at the first failed write: the book's last rows are never reached.
        if (c.args[0] == "price") {
            EXPECT_LT(LastReportedLine(run.errors), this->book.malformedLines.back());
        }
    }

    // A reader that went away ends the run at once and without a word.
    RunSetup closed;
    closed.closedPipe = true;
    const CommandRun run = RunKestrix({"price", book, "--threads", "2"}, closed);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors.find("writing failed"), std::string::npos);
    EXPECT_LT(LastReportedLine(run.errors), this->book.malformedLines.back());
}

TEST_F(PriceCommand, RowsOfAMillionCellsTakeLittleMemory) {
    if (kSanitized) GTEST_SKIP() << "an address-space limit";
    // 16 rows of a request followed by a million empty cells: 16 MB of book.
    const std::string row = "GenBS,European,CallOption,Theoretical,100,100,1,0.2,0.05,0,,Years" +
                            std::string(1'048'476, ',') + "\n";
    {
        std::ofstream wide(dir / "wide.csv", std::ios::binary);
        wide << "Method,ExerciseType,OptionType,OptionFunction,AssetPrice,StrikePrice,TimeExpire,Volatility,"
                "InterestRate,YieldRate,MarketPrice,TimeFormat\n";
        for (int r = 0; r < 16; ++r) wide << row;
    }
    RunSetup limited;
    limited.addressSpace = rlim_t{256} << 20;
    const CommandRun run =
        RunKestrix({"price", (dir / "wide.csv").string(), "-o", (dir / "wide-priced.csv").string(), "--threads", "2"},
                   limited);
    EXPECT_EQ(run.status, 1);
    const std::string message = ": the row has 1048488 cells, the header 12\n";
    std::size_t reports = 0;
    for (auto at = run.errors.find(message); at != std::string::npos; at = run.errors.find(message, at + 1)) {
        ++reports;
    }
    EXPECT_EQ(reports, 16u) << run.errors.substr(0, 300);
    EXPECT_EQ(ParseCsv(ReadFile(dir / "wide-priced.csv")).size(), 17u);
}

TEST_F(PriceCommand, ThreadsTheSystemWillNotStartAreDoneWithout) {
    if (kSanitized) GTEST_SKIP() << "an address-space limit";
    const CommandRun single = Price(1, "single.csv", false);
    // 256 threads' stacks alone are more than the limit.
    RunSetup limited;
    limited.addressSpace = rlim_t{1} << 30;
    const CommandRun run = RunKestrix(
        {"price", (dir / "book.csv").string(), "-o", (dir / "many.csv").string(), "--threads", "256", "--all-messages"},
        limited);
    // Said once, before the rows' reports.
    EXPECT_EQ(run.errors.find("kestrix: 256 pricing threads could not be started; the book is priced on "), 0u)
        << run.errors.substr(0, 300);
    const std::string rows = run.errors.substr(run.errors.find('\n') + 1);
    const std::string outOfMemory = "kestrix: out of memory; the book was not priced to its end\n";
    if (rows.size() >= outOfMemory.size() && rows.substr(rows.size() - outOfMemory.size()) == outOfMemory) {
        // So close to the limit the work itself may find no memory: then it
        // says so, and nothing half-done takes the output's place.
        EXPECT_EQ(run.status, 1);
        EXPECT_FALSE(std::filesystem::exists(dir / "many.csv"));
    } else {
        EXPECT_EQ(run.status, single.status);
        // The same reports; the summary line after them holds the time taken.
        const auto reports = [](const std::string& errors) {
            return errors.substr(0, errors.rfind('\n', errors.size() - 2) + 1);
        };
        EXPECT_EQ(reports(rows), reports(single.errors));
        EXPECT_EQ(ReadFile(dir / "many.csv"), ReadFile(dir / "single.csv"));
    }
    EXPECT_FALSE(AnyTemporaryLeft(dir));
}

TEST_F(PriceCommand, ADirectoryIsNoBook) {
    const CommandRun run = RunKestrix({"price", dir.string()}, false);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.errors, "kestrix: " + dir.string() + ": is a directory, not a book\n");
}

}  // namespace
}  // namespace kestrix::cli
