// kestrix: prices options from the command line through the automation
// object, the way any automation host would.
//
//   kestrix call METHOD Name=Value ... [--json] [--progid PROGID] [--functions F,...]
//   kestrix price BOOK.csv [-o OUT.csv] [--threads N]
//   kestrix sweep METHOD Name=Value ... --vary Name=start:stop:count ... [--functions F,...] [-o OUT] [--threads N]
//   kestrix describe [METHOD]
//   kestrix register | unregister [LIBRARY]
//   kestrix help [COMMAND | TOPIC | --markdown], kestrix --version
//
// Exit status: 0 success, 1 the library refused a request or a row of the
// book was malformed, 2 the command line or the book could not be used (the
// same mistake, an unknown name or an unreadable value, is 2 in every command).

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "Book.h"
#include "Describe.h"
#include "Host.h"
#include "Output.h"
#include "Progress.h"
#include "Reference.h"
#include "Registration.h"
#include "Suggest.h"
#include "Sweep.h"
#include "kestrix/version.hpp"
#include "platform/ObjBase.h"

namespace {

using namespace kestrix;
using namespace kestrix::cli;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* text;
};

constexpr CommandHelp kCommands[] = {
    {"call", "kestrix call METHOD Name=Value ... [--json] [--progid PROGID] [--functions F,...|all]",
     "Prices one request and prints the value (shortest round-trip form). Enumeration values by member name\n"
     "or number, names in any letter case; optional parameters left out are 0 (TimeFormat then means Days).\n"
     "  --json            {\"hresult\":...,\"result\":...} or the error information, on stdout\n"
     "  --progid PROGID   create the object through the registry instead of the built-in one\n"
     "  --functions F,... several option functions (or `all`): one line Function,Value each\n"
     "`kestrix help METHOD` describes a method's parameters. Exit 0 priced, 1 the library refused the\n"
     "request, 2 the command line cannot be used (unknown name, unreadable value)."},
    {"price", "kestrix price BOOK.csv [-o OUT.csv] [--threads N] [--strict] [--all-messages]",
     "Prices every row of a CSV book (header: Method and parameter names, any order); BOOK.csv may be - for\n"
     "stdin. Writes the book with Result, HResult and Description added; other columns (TradeId, Comment)\n"
     "are carried through in place, but a column named close to a parameter (Volatilty) is refused.\n"
     "Ends with a summary line on stderr. `kestrix help books` says how to write a book of mixed methods.\n"
     "  -o OUT.csv        write the priced book there instead of stdout\n"
     "  --threads N       pricing threads (default: one per core)\n"
     "  --strict          refuse every column that is not a parameter\n"
     "  --all-messages    list every unreadable row (else the first 100, then their count)\n"
     "Exit 0 every row made a request, 1 some rows could not be read (reported on stderr as BOOK:LINE),\n"
     "2 the book cannot be used."},
    {"sweep", "kestrix sweep METHOD Name=Value ... --vary Name=start:stop:count ... [--functions F,...|all] "
              "[-o OUT.csv] [--threads N]",
     "Prices one request over a grid: count points from start to stop, both included; several --vary make a\n"
     "cartesian grid, the first varying slowest. One column per varied input and one per function.\n"
     "  --vary Name=a:b:n a varied input (it overrides a Name=Value given on the same line)\n"
     "  --functions F,... the option functions (default: the OptionFunction given, else Theoretical); `all`\n"
     "                    is every function that needs no market price; overrides OptionFunction\n"
     "  -o OUT.csv        write the grid there instead of stdout\n"
     "  --threads N       pricing threads (default: one per core)\n"
     "Exit 0 every point priced, 1 some points failed (empty cells, reported on stderr), 2 the command line\n"
     "cannot be used."},
    {"describe", "kestrix describe [METHOD]",
     "Prints the type library: methods with their parameters, enumerations and error codes; with a method,\n"
     "that method and the enumerations it uses."},
    {"register", "kestrix register [LIBRARY]",
     "Loads the server library (default: libkestrix.so beside kestrix) and calls DllRegisterServer."},
    {"unregister", "kestrix unregister [LIBRARY]",
     "Loads the server library and calls DllUnregisterServer: the class and its ProgID go."},
    {"help", "kestrix help [COMMAND | TOPIC | --markdown]",
     "Lists the commands and the manual's topics; with a command its options; with a topic the section of\n"
     "the reference manual (a method, a parameter, an option function, an error code by name or value, a\n"
     "help context, or a general topic); --markdown prints the whole manual (docs/reference.md)."},
};

const CommandHelp* FindCommand(std::string_view name) {
    for (const auto& command : kCommands) {
        if (name == command.name) return &command;
    }
    return nullptr;
}

void PrintCommandHelp(const CommandHelp& command) {
    std::cout << "usage: " << command.synopsis << "\n\n" << command.text << '\n';
}

void PrintOverview() {
    std::cout << "kestrix " KESTRIX_VERSION_STRING " - prices options through the Kestrix automation object\n\n";
    for (const auto& command : kCommands) std::cout << "  " << command.synopsis << '\n';
    std::cout << "\n`kestrix COMMAND --help` describes a command. `kestrix help TOPIC` prints a section of the\n"
                 "reference manual (docs/reference.md): a method, a parameter, an option function, an error code,\n"
                 "or one of:";
    for (const auto& topic : GeneralTopics()) std::cout << ' ' << topic;
    std::cout << '\n';
}

// A mistake on the command line: one line naming it and where help is.
int Usage(std::string_view command, const std::string& problem) {
    std::cerr << "kestrix: ";
    if (!command.empty()) std::cerr << command << ": ";
    const bool general = command.empty() || command == "help";
    std::cerr << problem << " (see `kestrix " << (general ? "help" : std::string(command) + " --help") << "`)\n";
    return kUsage;
}

bool WantsHelp(const std::vector<std::string>& args) {
    return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "--help" || a == "-h"; });
}

// The system's reason for the last failed file operation.
std::string Reason(int error) { return error != 0 ? std::string(": ") + std::strerror(error) : std::string(); }

// Holds the object for the command's lifetime: the built-in one, or the one
// registered under a programmatic identifier.
class TObject {
public:
    explicit TObject(const std::string& progId = {})
        : progId_(progId), object_(progId.empty() ? CreateKestrix() : CreateByProgId(progId, hr_)) {}
    ~TObject() {
        if (object_ != nullptr) object_->Release();
        CoFreeUnusedLibraries();
    }
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    IDispatch* get() const { return object_; }

    // Says on stderr why there is no object.
    void ReportFailure() const {
        if (progId_.empty()) {
            std::cerr << "kestrix: the Kestrix object could not be created\n";
        } else {
            std::cerr << "kestrix: " << progId_ << " could not be created: " << DescribeRegistryFailure(hr_) << '\n';
        }
    }

private:
    std::string progId_;
    HRESULT hr_ = S_OK;
    IDispatch* object_;
};

int Call(const std::vector<std::string>& args) {
    constexpr std::string_view kCommand = "call";
    bool json = false;
    std::string method, progId, functions;
    std::vector<NamedValue> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--progid" || arg == "--functions") {
            if (i + 1 == args.size()) return Usage(kCommand, arg + " needs a value");
            (arg == "--progid" ? progId : functions) = args[++i];
        } else if (arg.starts_with("--")) {
            return Usage(kCommand, "unknown option '" + arg + "'");
        } else if (method.empty()) {
            method = arg;
        } else {
            const auto equals = arg.find('=');
            if (equals == std::string::npos || equals == 0) {
                return Usage(kCommand, "expected Name=Value, got '" + arg + "'");
            }
            values.push_back({arg.substr(0, equals), arg.substr(equals + 1)});
        }
    }
    if (method.empty()) return Usage(kCommand, "call needs a method");
    const MethodDescription* description = FindMethod(method);
    // --json answers an unknown method in JSON too.
    if (description == nullptr && !json) return Usage(kCommand, UnknownMethod(method));

    // Several functions: the OptionFunction given is replaced by each in turn.
    std::vector<std::string> functionNames;
    if (!functions.empty()) {
        if (json) return Usage(kCommand, "give --json or --functions, not both");
        std::string problem;
        if (!ReadFunctions(functions, functionNames, problem)) return Usage(kCommand, problem);
        const int position = FindParam(*description, "OptionFunction");
        std::erase_if(values, [&](const NamedValue& v) { return FindParam(*description, v.name) == position; });
        values.push_back({"OptionFunction", std::string()});
    }

    TObject object(progId);
    if (object.get() == nullptr) {
        object.ReportFailure();
        return kFailed;
    }
    if (!functionNames.empty()) {
        std::vector<std::string> cells;
        bool failed = false;
        for (const auto& function : functionNames) {
            values.back().value = function;
            const Outcome outcome = CallMethod(object.get(), method, values);
            if (!outcome.Succeeded() && !outcome.fromMethod) {
                std::cerr << "kestrix: call: " << outcome.description << " (see `kestrix help " << description->name
                          << "`)\n";
                return kUsage;
            }
            cells.push_back(outcome.Succeeded() ? FormatNumber(outcome.result) : std::string());
            if (!outcome.Succeeded()) {
                std::cerr << "kestrix: " << description->name << ", " << function << ": " << DescribeFailure(outcome)
                          << '\n';
                failed = true;
            }
        }
        for (std::size_t f = 0; f < functionNames.size(); ++f) {
            std::cout << functionNames[f] << (f + 1 < functionNames.size() ? ',' : '\n');
        }
        for (std::size_t f = 0; f < cells.size(); ++f) std::cout << cells[f] << (f + 1 < cells.size() ? ',' : '\n');
        return failed ? kFailed : 0;
    }

    const Outcome outcome = CallMethod(object.get(), method, values);
    if (json) {
        std::cout << JsonOutcome(outcome) << '\n';
    } else if (outcome.Succeeded()) {
        std::cout << FormatNumber(outcome.result) << '\n';
    } else if (outcome.fromMethod) {
        std::cerr << "kestrix: " << description->name << ": " << Printable(DescribeFailure(outcome)) << '\n';
    } else {
        std::cerr << "kestrix: call: " << Printable(outcome.description) << " (see `kestrix help "
                  << (description != nullptr ? description->name : "methods") << "`)\n";
    }
    if (outcome.Succeeded()) return 0;
    // A request the library refused is the call's answer; a name or value it
    // could not even take is a mistake of the command line, as in price's
    // header and sweep.
    return outcome.fromMethod ? kFailed : kUsage;
}

// Passes the first `limit` messages written to it on to `out` and counts the
// messages after them, so a book of many unreadable rows does not flood the
// screen. A message starts with a line that begins with `prefix` ("BOOK:");
// the lines after it (a cell's own line breaks) belong to it.
class TMessageLimit : public std::streambuf {
public:
    TMessageLimit(std::ostream& out, std::string prefix, std::size_t limit)
        : out_(out), prefix_(std::move(prefix)), limit_(limit) {}
    std::size_t Held() const { return held_; }

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        line_ += static_cast<char>(c);
        if (c == '\n') EndLine();
        return c;
    }
    int sync() override {
        if (!line_.empty()) EndLine();
        out_.flush();
        return 0;
    }

private:
    void EndLine() {
        if (line_.rfind(prefix_, 0) == 0) {
            shown_ = messages_++ < limit_;
            held_ += shown_ ? 0 : 1;
        }
        if (shown_) out_ << line_;
        line_.clear();
    }

    std::ostream& out_;
    std::string prefix_;
    std::size_t limit_;
    std::size_t messages_ = 0;
    std::size_t held_ = 0;
    bool shown_ = true;
    std::string line_;
};

int Price(const std::vector<std::string>& args) {
    constexpr std::string_view kCommand = "price";
    std::string input, output;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    bool strict = false, allMessages = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--strict") {
            strict = true;
        } else if (args[i] == "--all-messages") {
            allMessages = true;
        } else if (args[i] == "-o") {
            if (i + 1 == args.size()) return Usage(kCommand, "-o needs a file name");
            output = args[++i];
        } else if (args[i] == "--threads") {
            if (i + 1 == args.size()) return Usage(kCommand, "--threads needs a number");
            if (!ReadThreads(args[++i], threads)) {
                return Usage(kCommand, "--threads takes a number from 1 to 256, got '" + args[i] + "'");
            }
        } else if (args[i].starts_with("-") && args[i] != "-") {
            return Usage(kCommand, "unknown option '" + args[i] + "'");
        } else if (input.empty()) {
            input = args[i];
        } else {
            return Usage(kCommand, "price takes one book, got '" + args[i] + "' as well");
        }
    }
    if (input.empty()) return Usage(kCommand, "price needs a book");

    // The book is read as it is priced, never held whole: "-" reads stdin.
    const bool fromStdin = input == "-";
    const FileIdentity book = fromStdin ? IdentifyDescriptor(STDIN_FILENO) : IdentifyPath(input);
    if (!fromStdin && book.known && std::filesystem::is_directory(input)) {
        std::cerr << "kestrix: " << input << ": is a directory, not a book\n";
        return kUsage;
    }
    std::ifstream file;
    std::uint64_t size = 0;
    if (!fromStdin) {
        errno = 0;
        file.open(input, std::ios::binary);
        if (!file) {
            std::cerr << "kestrix: " << input << ": cannot be read" << Reason(errno) << '\n';
            return kUsage;
        }
        std::error_code error;
        if (book.regular) size = std::filesystem::file_size(input, error);
        if (error) size = 0;
    }
    std::istream& in = fromStdin ? std::cin : file;
    const std::string inputName = fromStdin ? "stdin" : input;

    // Writing the priced book over the book itself would destroy it.
    const std::string outputName = output.empty() ? "stdout" : output;
    const FileIdentity target = output.empty() ? IdentifyDescriptor(STDOUT_FILENO) : IdentifyPath(output);
    if (book.regular && target.Same(book)) {
        std::cerr << "kestrix: the output " << outputName << " is the book " << inputName
                  << " itself; write the priced book to another file\n";
        return kUsage;
    }
    TOutputFile outputFile;
    std::optional<std::ostream> toFile;
    if (!output.empty()) {
        std::string problem;
        if (!outputFile.Open(output, problem)) {
            std::cerr << "kestrix: " << problem << '\n';
            return kUsage;
        }
        toFile.emplace(outputFile.Buffer());
    }
    std::ostream& out = toFile ? *toFile : std::cout;

    TObject object;
    if (object.get() == nullptr) {
        std::cerr << "kestrix: the Kestrix object could not be created\n";
        return kFailed;
    }
    // A progress bar only for a person watching; logs and pipes stay clean,
    // and rows printed on the same terminal are not overdrawn.
    std::optional<TProgressBar> bar;
    if (IsTerminal(STDERR_FILENO) && (!output.empty() || !IsTerminal(STDOUT_FILENO))) bar.emplace(std::cerr, size);
    // The first hundred messages of unreadable rows, then their count.
    constexpr std::size_t kShownMessages = 100;
    TMessageLimit limit(std::cerr, inputName + ":", allMessages ? SIZE_MAX : kShownMessages);
    std::ostream messages(&limit);
    const auto start = std::chrono::steady_clock::now();
    errno = 0;
    const BookSummary summary = PriceBook(object.get(), in, inputName, out, messages,
                                          BookRun{threads, bar ? &*bar : nullptr, strict});
    messages.flush();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (limit.Held() > 0) {
        std::cerr << "kestrix: " << inputName << ": " << limit.Held()
                  << " more messages of unreadable rows (--all-messages lists them)\n";
    }
    if (summary.readable) {
        const std::size_t rows = summary.priced + summary.failed + summary.malformed;
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.2f s, %.0f rows/s", seconds, seconds > 0 ? static_cast<double>(rows) / seconds : 0.0);
        std::cerr << "kestrix: " << inputName << ": " << rows << " rows: " << summary.priced << " priced, "
                  << summary.failed << " rejected by the library, " << summary.malformed << " unreadable; " << rate
                  << '\n';
    }
    if (summary.outOfMemory) {
        std::cerr << "kestrix: out of memory; the book was not priced to its end\n";
        return kFailed;
    }
    // A failed write to stdout is reported when the command ends.
    if (summary.outputFailed) {
        if (toFile) ReportWriteFailure(output, static_cast<TDescriptorBuf*>(outputFile.Buffer())->Error());
        return kFailed;
    }
    if (summary.inputFailed) {
        std::cerr << "kestrix: " << inputName << ": reading failed" << Reason(errno) << '\n';
        return summary.readable ? kFailed : kUsage;
    }
    if (!summary.readable) return kUsage;
    if (toFile) {
        int error = 0;
        if (!outputFile.Commit(error)) {
            ReportWriteFailure(output, error);
            return kFailed;
        }
    }
    return summary.malformed == 0 ? 0 : kFailed;
}

int SweepCommand(const std::vector<std::string>& args) {
    SweepRequest request;
    std::string problem;
    if (!ParseSweep(args, request, problem)) return Usage("sweep", problem);
    // -o is replaced only when the grid is complete, as price does.
    TOutputFile outputFile;
    std::optional<std::ostream> toFile;
    if (!request.output.empty()) {
        if (!outputFile.Open(request.output, problem)) {
            std::cerr << "kestrix: " << problem << '\n';
            return kUsage;
        }
        toFile.emplace(outputFile.Buffer());
    }
    TObject object;
    if (object.get() == nullptr) {
        std::cerr << "kestrix: the Kestrix object could not be created\n";
        return kFailed;
    }
    std::ostream& out = toFile ? *toFile : std::cout;
    std::optional<TProgressBar> bar;
    if (IsTerminal(STDERR_FILENO) && (!request.output.empty() || !IsTerminal(STDOUT_FILENO))) {
        bar.emplace(std::cerr, request.Points());
    }
    const SweepSummary summary = Sweep(object.get(), request, out, std::cerr, bar ? &*bar : nullptr);
    if (summary.refused) return kUsage;
    // A failed write to stdout is reported when the command ends.
    if (summary.outputFailed) {
        if (toFile) ReportWriteFailure(request.output, static_cast<TDescriptorBuf*>(outputFile.Buffer())->Error());
        return kFailed;
    }
    if (toFile) {
        int error = 0;
        if (!outputFile.Commit(error)) {
            ReportWriteFailure(request.output, error);
            return kFailed;
        }
    }
    return summary.failures == 0 ? 0 : kFailed;
}

int DescribeCommand(const std::vector<std::string>& args) {
    if (args.size() > 1) return Usage("describe", "describe takes at most one method");
    const std::string method = args.empty() ? std::string() : args[0];
    if (!Describe(std::cout, method)) return Usage("describe", UnknownMethod(method));
    return 0;
}

int RegisterCommand(const std::vector<std::string>& args, bool unregister) {
    if (args.size() > 1) {
        return Usage(unregister ? "unregister" : "register", "takes at most one library, got " +
                                                                 std::to_string(args.size()) + " arguments");
    }
    const std::string library = args.empty() ? DefaultServerLibrary() : args[0];
    return FAILED(RegisterServer(library, unregister, std::cout, std::cerr)) ? kFailed : 0;
}

int HelpCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        PrintOverview();
        return 0;
    }
    if (args.size() > 1) return Usage("help", "help takes one topic");
    if (args[0] == "--markdown") {
        WriteReference(std::cout);
        return 0;
    }
    if (args[0] == "--json") {
        WriteNotesJson(std::cout);
        return 0;
    }
    if (const CommandHelp* command = FindCommand(args[0])) {
        PrintCommandHelp(*command);
        return 0;
    }
    if (WriteTopic(std::cout, args[0])) return 0;
    std::vector<const char*> topics;
    const std::vector<std::string> general = GeneralTopics();
    for (const auto& topic : general) topics.push_back(topic.c_str());
    for (const char* name : MethodNames()) topics.push_back(name);
    for (const char* name : ParameterNames()) topics.push_back(name);
    for (const char* name : MemberNames(typelib::kOptionFunctions)) topics.push_back(name);
    return Usage("help", "no topic '" + args[0] + "'" + DidYouMean(args[0], topics));
}

int Run(const std::vector<std::string>& all) {
    if (all.empty()) return Usage("", "no command");
    const std::string& command = all.front();
    const std::vector<std::string> rest(all.begin() + 1, all.end());
    if (command == "--version" || command == "-V" || command == "version") {
        std::cout << "kestrix " KESTRIX_VERSION_STRING "\n";
        return 0;
    }
    if (command == "--help" || command == "-h" || command == "help") return HelpCommand(rest);
    const CommandHelp* help = FindCommand(command);
    if (help == nullptr) {
        std::vector<const char*> names;
        for (const auto& c : kCommands) names.push_back(c.name);
        return Usage("", "unknown command '" + command + "'" + DidYouMean(command, names));
    }
    if (WantsHelp(rest)) {
        // `kestrix call GenBS --help` describes the method as well.
        PrintCommandHelp(*help);
        if ((command == "call" || command == "sweep") && !rest.empty() && FindMethod(rest[0]) != nullptr) {
            std::cout << '\n';
            WriteTopic(std::cout, rest[0]);
        }
        return 0;
    }
    if (command == "call") return Call(rest);
    if (command == "price") return Price(rest);
    if (command == "sweep") return SweepCommand(rest);
    if (command == "describe") return DescribeCommand(rest);
    if (command == "register" || command == "unregister") return RegisterCommand(rest, command == "unregister");
    return HelpCommand(rest);
}

}  // namespace

int main(int argc, char** argv) {
    // Pricing threads allocate little (a batch's text now and then), but each
    // would get an allocation arena of its own reserving 64 MB of address
    // space: under a memory limit, many threads would run out for that alone.
    mallopt(M_ARENA_MAX, 2);
    // Every command writes stdout through a buffer that notices a failed
    // write: a full disk or a closed pipe ends the command with status 1.
    TDescriptorBuf output(STDOUT_FILENO);
    std::streambuf* const original = std::cout.rdbuf(&output);
    if (IsTerminal(STDOUT_FILENO)) std::cout << std::unitbuf;  // a person sees each line as it comes
    int status = kFailed;
    try {
        status = Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::bad_alloc&) {
        std::cerr << "kestrix: out of memory\n";
    }
    std::cout.flush();
    std::cout.rdbuf(original);
    if (output.Error() != 0) {
        ReportWriteFailure("stdout", output.Error());
        return kFailed;
    }
    return status;
}
