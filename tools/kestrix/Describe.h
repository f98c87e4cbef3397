// The type library in readable form.
#pragma once

#include <ostream>
#include <string_view>

namespace kestrix::cli {

// Writes the library, its class and interface, every method with its
// parameters, every enumeration and the error codes with their texts. With a
// method name, only that method and the enumerations its parameters use.
// False when no method has that name.
bool Describe(std::ostream& out, std::string_view method = {});

}  // namespace kestrix::cli
