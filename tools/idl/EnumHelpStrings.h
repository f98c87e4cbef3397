// Help strings on enumeration members in a compiled type library.
//
// widl compiles the IDL of Quantora into a type library (the "MSFT" format
// that LoadTypeLib reads) but refuses help strings on enumeration members,
// which the error codes carry. These functions add them to the compiled file
// afterwards: each member's record gains its help-string field, the strings
// join the library's string table, and the offsets that follow move with
// them. Everything else in the file stays byte for byte as widl wrote it.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "automation/TypeLibrary.h"

namespace kestrix {

// Gives every member of `enumerations` that has a help string in the table
// that help string in `library`. Returns an empty string on success, else
// why the file could not be rewritten (it is then left unchanged): it is not
// a type library in the layout widl writes, an enumeration is missing, or its
// members differ from the table's.
std::string AddEnumMemberHelpStrings(std::vector<std::uint8_t>& library,
                                     std::span<const EnumDescription* const> enumerations);

// The help strings of the members of the enumeration `name`, by member name
// (members without one are absent). Empty when the library or the
// enumeration cannot be read.
std::map<std::string, std::string> EnumMemberHelpStrings(std::span<const std::uint8_t> library,
                                                         const std::string& name);

}  // namespace kestrix
