// "Did you mean": the known name closest to a misspelt one, for methods,
// parameters and enumeration members. kestrix.book in Python follows the
// same rule, so the command and the package suggest the same names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "automation/TypeLibrary.h"

namespace kestrix::cli {

// The candidate `name` most likely misspells, or nullptr: the nearest by edit
// distance in any letter case (at most a third of the name's length, at least
// 1, at most 3), else the shortest that begins with a name of three or more
// letters. Ties go to the first candidate.
const char* ClosestName(std::string_view name, const std::vector<const char*>& candidates);

std::vector<const char*> MethodNames();
// Every parameter name of the library, each once, in the order first declared.
std::vector<const char*> ParameterNames();
std::vector<const char*> ParameterNames(const MethodDescription& method);
std::vector<const char*> MemberNames(const EnumDescription& enumeration);

// "; did you mean X?" when some candidate is close, else "".
std::string DidYouMean(std::string_view name, const std::vector<const char*>& candidates);

// "Binomial, Eurodollar": the methods that declare a parameter.
std::string MethodsTaking(std::string_view parameter);

}  // namespace kestrix::cli
