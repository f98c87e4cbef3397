// kestrix: prices options from the command line through the automation
// object, the way any automation host would.
//
//   kestrix call METHOD Name=Value ... [--json] [--progid PROGID]
//   kestrix price BOOK.csv [-o OUT.csv]
//   kestrix describe [METHOD]
//   kestrix register | unregister [LIBRARY]
//
// Exit status: 0 success, 1 the call failed or a row of the book was
// malformed, 2 the command line or the book could not be used.

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "Book.h"
#include "Describe.h"
#include "Host.h"
#include "Registration.h"
#include "platform/ObjBase.h"

namespace {

using namespace kestrix::cli;

constexpr int kFailed = 1;
constexpr int kUsage = 2;

constexpr const char* kUsageText =
    "usage: kestrix call METHOD Name=Value ... [--json] [--progid PROGID]\n"
    "       kestrix price BOOK.csv [-o OUT.csv]\n"
    "       kestrix describe [METHOD]\n"
    "       kestrix register | unregister [LIBRARY]\n"
    "\n"
    "call      prices one request; enumeration values by member name or number,\n"
    "          omitted optional parameters are 0\n"
    "price     prices every row of a CSV book (header: Method and parameter names)\n"
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
        std::cerr << "kestrix: " << method << ": " << DescribeFailure(outcome) << '\n';
    }
    return outcome.Succeeded() ? 0 : kFailed;
}

int Price(const std::vector<std::string>& args) {
    std::string input, output;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o") {
            if (i + 1 == args.size()) return Usage("-o needs a file name");
            output = args[++i];
        } else if (input.empty()) {
            input = args[i];
        } else {
            return Usage("price takes one book, got '" + args[i] + "' as well");
        }
    }
    if (input.empty()) return Usage("price needs a book");

    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::cerr << "kestrix: " << input << ": cannot be read\n";
        return kUsage;
    }
    std::ostringstream text;
    text << in.rdbuf();

    std::ofstream file;
    if (!output.empty()) {
        file.open(output, std::ios::binary);
        if (!file) {
            std::cerr << "kestrix: " << output << ": cannot be written\n";
            return kUsage;
        }
    }
    TObject object;
    if (object.get() == nullptr) {
        std::cerr << "kestrix: the Kestrix object could not be created\n";
        return kFailed;
    }
    const BookSummary summary =
        PriceBook(object.get(), text.str(), input, output.empty() ? std::cout : file, std::cerr);
    if (!summary.readable) return kUsage;
    if (file.is_open()) {
        file.close();
        if (!file) {
            std::cerr << "kestrix: " << output << ": writing failed\n";
            return kFailed;
        }
    }
    return summary.malformed == 0 ? 0 : kFailed;
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

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> all(argv + 1, argv + argc);
    if (all.empty()) return Usage("no command");
    const std::string& command = all.front();
    const std::vector<std::string> rest(all.begin() + 1, all.end());
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << kUsageText;
        return 0;
    }
    if (command == "call") return Call(rest);
    if (command == "price") return Price(rest);
    if (command == "describe") return DescribeCommand(rest);
    if (command == "register" || command == "unregister") return RegisterCommand(rest, command == "unregister");
    return Usage("unknown command '" + command + "'");
}
