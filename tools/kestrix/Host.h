// How the kestrix host talks to the object: every call goes through
// IDispatch by name with named arguments given as text, exactly as a
// scripting host would call it; the outcome comes back with the error
// information the object reported.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

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

// Creates the automation object and hands out its IDispatch (nullptr when
// creation fails); the caller releases it.
IDispatch* CreateKestrix();

// Shortest text that reads back as the same double.
std::string FormatNumber(double value);
// "0x%08X".
std::string FormatHResult(HRESULT hr);
// The one-line JSON form of an outcome.
std::string JsonOutcome(const Outcome& outcome);
// A line for a person: code, description and, for a method failure, the help
// reference and source.
std::string DescribeFailure(const Outcome& outcome);

}  // namespace kestrix::cli
