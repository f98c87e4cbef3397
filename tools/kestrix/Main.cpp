// kestrix: prices options from the command line through the automation
// object, the way any automation host would.
//
//   kestrix call METHOD Name=Value ... [--json] [--progid PROGID]
//   kestrix price BOOK.csv [-o OUT.csv] [--threads N]
//   kestrix sweep METHOD Name=Value ... --vary Name=start:stop:count ... [--functions F,...]
//   kestrix describe [METHOD]
//   kestrix register | unregister [LIBRARY]
//
// Exit status: 0 success, 1 the call failed or a row of the book was
// malformed, 2 the command line or the book could not be used.

#include <algorithm>
#include <charconv>
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
#include "Registration.h"
#include "Sweep.h"
#include "platform/ObjBase.h"

namespace {

using namespace kestrix::cli;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: kestrix call METHOD Name=Value ... [--json] [--progid PROGID]\n"
    "       kestrix price BOOK.csv [-o OUT.csv] [--threads N]\n"
    "       kestrix sweep METHOD Name=Value ... --vary Name=start:stop:count ... [--functions F,...]\n"
    "       kestrix describe [METHOD]\n"
    "       kestrix register | unregister [LIBRARY]\n"
    "\n"
    "call      prices one request; enumeration values by member name or number,\n"
    "          omitted optional parameters are 0\n"
    "price     prices every row of a CSV book (header: Method and parameter names);\n"
    "          BOOK.csv may be - for stdin; --threads defaults to one per core\n"
    "sweep     prices one request over a grid (count points from start to stop, both\n"
    "          included; several --vary make a cartesian grid, the first varying slowest)\n"
    "          for each function (default: the OptionFunction given, else Theoretical)\n"
    "describe  prints the type library: methods, parameters, enumerations, error codes\n"
    "register  registers the server library (default: libkestrix.so beside kestrix);\n"
    "          unregister removes its registration\n"
    "--progid  call creates the object through the registry instead of the built-in one\n";

int Usage(const std::string& problem) {
    std::cerr << "kestrix: " << problem << "\n" << kUsageText;
    return kUsage;
}

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
    bool json = false;
    std::string method, progId;
    std::vector<NamedValue> values;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--progid") {
            if (i + 1 == args.size()) return Usage("--progid needs a programmatic identifier");
            progId = args[++i];
        } else if (method.empty()) {
            method = arg;
        } else {
            const auto equals = arg.find('=');
            if (equals == std::string::npos || equals == 0) return Usage("expected Name=Value, got '" + arg + "'");
            values.push_back({arg.substr(0, equals), arg.substr(equals + 1)});
        }
    }
    if (method.empty()) return Usage("call needs a method");

    TObject object(progId);
    if (object.get() == nullptr) {
        object.ReportFailure();
        return kFailed;
    }
    const Outcome outcome = CallMethod(object.get(), method, values);
    if (json) {
        std::cout << JsonOutcome(outcome) << '\n';
    } else if (outcome.Succeeded()) {
        std::cout << FormatNumber(outcome.result) << '\n';
    } else {
        std::cerr << "kestrix: " << Printable(method) << ": " << Printable(DescribeFailure(outcome)) << '\n';
    }
    return outcome.Succeeded() ? 0 : kFailed;
}

// The pricing threads: --threads N, by default one per core.
bool ReadThreads(const std::string& text, unsigned& threads) {
    constexpr unsigned kMaxThreads = 256;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 1 || value > kMaxThreads) return false;
    threads = value;
    return true;
}

int Price(const std::vector<std::string>& args) {
    std::string input, output;
    unsigned threads = std::max(1u, std::thread::hardware_concurrency());
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 == args.size()) return Usage("-o needs a file name");
            output = args[++i];
        } else if (args[i] == "--threads") {
            if (i + 1 == args.size()) return Usage("--threads needs a number");
            if (!ReadThreads(args[++i], threads)) {
                return Usage("--threads takes a number from 1 to 256, got '" + args[i] + "'");
            }
        } else if (input.empty()) {
            input = args[i];
        } else {
            return Usage("price takes one book, got '" + args[i] + "' as well");
        }
    }
    if (input.empty()) return Usage("price needs a book");

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
        file.open(input, std::ios::binary);
        if (!file) {
            std::cerr << "kestrix: " << input << ": cannot be read\n";
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
    const BookSummary summary =
        PriceBook(object.get(), in, inputName, out, std::cerr, BookRun{threads, bar ? &*bar : nullptr});
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
        std::cerr << "kestrix: " << inputName << ": reading failed\n";
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
    if (!ParseSweep(args, request, problem)) return Usage(problem);
    TObject object;
    if (object.get() == nullptr) {
        std::cerr << "kestrix: the Kestrix object could not be created\n";
        return kFailed;
    }
    const SweepSummary summary = Sweep(object.get(), request, std::cout, std::cerr);
    if (summary.refused) return kUsage;
    return summary.failures == 0 && !summary.outputFailed ? 0 : kFailed;
}

int DescribeCommand(const std::vector<std::string>& args) {
    if (args.size() > 1) return Usage("describe takes at most one method");
    const std::string method = args.empty() ? std::string() : args[0];
    if (!Describe(std::cout, method)) {
        std::cerr << "kestrix: unknown method '" << method << "'; `kestrix describe` lists them\n";
        return kUsage;
    }
    return 0;
}

int RegisterCommand(const std::vector<std::string>& args, bool unregister) {
    if (args.size() > 1) return Usage("register and unregister take at most one library");
    const std::string library = args.empty() ? DefaultServerLibrary() : args[0];
    return FAILED(RegisterServer(library, unregister, std::cout, std::cerr)) ? kFailed : 0;
}

int Run(const std::vector<std::string>& all) {
    if (all.empty()) return Usage("no command");
    const std::string& command = all.front();
    const std::vector<std::string> rest(all.begin() + 1, all.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsageText;
        return 0;
    }
    if (command == "call") return Call(rest);
    if (command == "price") return Price(rest);
    if (command == "sweep") return SweepCommand(rest);
    if (command == "describe") return DescribeCommand(rest);
    if (command == "register" || command == "unregister") return RegisterCommand(rest, command == "unregister");
    return Usage("unknown command '" + command + "'");
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
