// How the kestrix host talks to the object: every call goes through
// IDispatch by name with named arguments given as text, exactly as a
// scripting host would call it; the outcome comes back with the error
// information the object reported.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/TypeLibrary.h"
#include "platform/Unknwn.h"

namespace kestrix::cli {

struct NamedValue {
    std::string name;
    std::string value;  // passed as text; the object converts it to the declared type
};

struct Outcome {
    HRESULT hr = S_OK;
    double result = 0;
    std::string description;
    // True when the method itself failed and reported error information;
    // false for a call that could not be made (unknown name, bad value).
    bool fromMethod = false;
    std::string helpFile;
    DWORD helpContext = 0;
    std::optional<std::string> source;

    bool Succeeded() const { return SUCCEEDED(hr); }
};

// Calls `method` on `object` with `args` by name.
Outcome CallMethod(IDispatch* object, std::string_view method, std::span<const NamedValue> args);

// The messages of a misspelt name, each with the nearest known name ("did you
// mean") where one is close: "unknown method 'X'...", "'X' is not a parameter
// of M..." (naming the methods that take it, if any), and for a value that is
// no member of an enumeration the rest of "Name: 'X' is neither a member...",
// listing the members.
std::string UnknownMethod(std::string_view method);
std::string NotAParameter(const MethodDescription& method, std::string_view name);
std::string NotAMember(const EnumDescription& enumeration, std::string_view value);

// Calls like CallMethod, for many requests of few shapes (a method and the
// names of its arguments), as a book makes them: the names of a shape are
// looked up once, and an argument whose text reads as its parameter's type is
// passed as that type, read exactly as the object reads text. Any other
// argument travels as text, so the object answers it, and its errors, as it
// always has.
class TCaller {
public:
    explicit TCaller(IDispatch* object) : object_(object) {}

    // The outcome of CallMethod(object, method, {names[i] = values[i]}). The
    // text of a name must not change in place while the caller lives (a
    // book's column names do not). A nonzero `namesKey` stands for the list
    // of names: the same key always comes with the same names.
    Outcome Call(std::string_view method, std::span<const std::string_view> names,
                 std::span<const std::string_view> values, std::uint64_t namesKey = 0);

private:
    struct Spelling {
        std::string text;
        long value = 0;
    };
    struct Argument {
        const void* param = nullptr;  // its ParamDescription
        std::vector<Spelling> members;  // an enumeration's members as the book spells them
    };
    struct Shape {
        std::string method;
        std::vector<std::string> names;
        std::vector<const char*> nameTexts;  // where the caller keeps the names, to know them at a glance
        std::uint64_t namesKey = 0;
        bool resolved = false;  // else `refusal` is the answer to every call
        Outcome refusal;
        std::vector<DISPID> ids;  // the method's, then the arguments'
        std::vector<Argument> arguments;
    };

    Shape* Find(std::string_view method, std::span<const std::string_view> names, std::uint64_t namesKey);
    bool Convert(Argument& argument, std::string_view text, VARIANT& value);

    IDispatch* object_;
    std::vector<Shape> shapes_;
    std::size_t last_ = 0;
    std::size_t replaced_ = 0;
};

// Creates the automation object and hands out its IDispatch (nullptr when
// creation fails); the caller releases it.
IDispatch* CreateKestrix();

// Shortest text that reads back as the same double.
std::string FormatNumber(double value);
// "0x%08X".
std::string FormatHResult(HRESULT hr);
// The same, appended to `out`.
void AppendNumber(std::string& out, double value);
void AppendHResult(std::string& out, HRESULT hr);
// `text` with its NUL bytes written as \0: a message or a Description cell
// stays text whatever bytes a book holds.
std::string Printable(std::string_view text);
// The one-line JSON form of an outcome.
std::string JsonOutcome(const Outcome& outcome);
// A line for a person: code, description and, for a method failure, the help
// reference and source.
std::string DescribeFailure(const Outcome& outcome);

}  // namespace kestrix::cli
