// The reference manual: every method, parameter, option function and error
// code of the library, with its meaning, unit, range and caveats. The lists
// and tables come from the type library and the error table; the prose is
// kept here beside them, one note per name, so a name added to the library
// without a note is caught by the tests. docs/reference.md is this text.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::cli {

// The whole manual as Markdown (docs/reference.md).
void WriteReference(std::ostream& out);

// The notes of the methods, parameters and option functions as JSON, for the
// Python package's docstrings.
void WriteNotesJson(std::ostream& out);

// Prints the sections a topic names: a section's name ("rates",
// "dividends", "limits", ...), a method, a parameter, an option function, an
// error code by name or value (0x80050002), or a help context number. Any
// letter case. False when the topic names nothing.
bool WriteTopic(std::ostream& out, std::string_view topic);

// The topics of the general sections, for `kestrix help`.
std::vector<std::string> GeneralTopics();

// The note of a name, empty when it has none (tests check that every name of
// the library has one).
std::string_view MethodNote(std::string_view method);
std::string_view ParameterNote(std::string_view parameter);
std::string_view FunctionNote(std::string_view function);
std::string_view ErrorNote(std::string_view code);

}  // namespace kestrix::cli
