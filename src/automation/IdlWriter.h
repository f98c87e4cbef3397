// The type library Quantora as IDL, written from the type-library table at
// build time: the file widl compiles into the type library embedded in
// Kestrix.dll, so the Windows library and the table are one source.
#pragma once

#include <ostream>
#include <string>

#include "automation/TypeLibrary.h"

namespace kestrix {

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX", as IDL's uuid() takes it.
std::string IdlUuid(const GUID& guid);

// A string literal with quotes and backslashes escaped.
std::string IdlString(const char* text);

// The whole library: enumerations, the dual interface IKestrix with its
// methods in the table's order (which is the order of its function table)
// and the class Kestrix.
void WriteIdl(std::ostream& out);

}  // namespace kestrix
