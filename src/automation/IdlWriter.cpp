#include "automation/IdlWriter.h"

#include <cstdio>

namespace kestrix {

namespace {

const char* IdlType(const ParamDescription& param) {
    switch (param.kind) {
        case ParamKind::Double: return "double";
        case ParamKind::Int: return "long";
        case ParamKind::Enum: return param.enumeration->name;
    }
    return "";
}

std::string Hex(std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<std::uint32_t>(value));
    return text;
}

// widl accepts no help strings on enumeration members, so an error code's
// text travels here as a comment; kestrix-idl --document-enums adds it to the
// compiled library from the same table.
void WriteEnumeration(std::ostream& out, const EnumDescription& enumeration) {
    out << "    typedef [uuid(" << IdlUuid(enumeration.guid) << "), v1_enum]\n"
        << "    enum " << enumeration.name << " {\n";
    for (std::size_t i = 0; i < enumeration.members.size(); ++i) {
        const EnumMember& member = enumeration.members[i];
        out << "        " << member.name << " = " << member.value << (i + 1 < enumeration.members.size() ? "," : "");
        if (member.helpString[0] != '\0') out << "  // " << Hex(member.value) << " " << member.helpString;
        out << '\n';
    }
    out << "    } " << enumeration.name << ";\n\n";
}

void WriteMethod(std::ostream& out, const MethodDescription& method) {
    out << "        [id(" << method.dispid << "), helpstring(" << IdlString(method.helpString) << "), helpcontext("
        << method.helpContext << ")]\n"
        << "        HRESULT " << method.name << "(\n";
    for (const auto& param : method.params) {
        out << "            [in" << (param.optional ? ", optional" : "") << "] " << IdlType(param) << ' '
            << param.name << ",\n";
    }
    out << "            [out, retval] double* " << kResultParamName << ");\n";
}

}  // namespace

std::string IdlUuid(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(guid.Data1), static_cast<unsigned>(guid.Data2),
                  static_cast<unsigned>(guid.Data3), guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                  guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

std::string IdlString(const char* text) {
    std::string literal = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') literal += '\\';
        literal += *c;
    }
    return literal + '"';
}

void WriteIdl(std::ostream& out) {
    using namespace typelib;
    out << "// The type library " << kLibraryName << " of Kestrix.dll, written at build time from the\n"
        << "// library's type-library table. Do not edit: change the table.\n\n"
        << "import \"oaidl.idl\";\n\n"
        << "[\n"
        << "    uuid(" << IdlUuid(LIBID_Quantora) << "),\n"
        << "    version(" << kMajorVersion << '.' << kMinorVersion << "),\n"
        << "    lcid(" << Hex(static_cast<std::int32_t>(kLocale)) << "),\n"
        << "    helpstring(" << IdlString(kLibraryHelpString) << "),\n"
        << "    helpfile(" << IdlString(kHelpFile) << ")\n"
        << "]\n"
        << "library " << kLibraryName << "\n{\n"
        << "    importlib(\"stdole2.tlb\");\n\n";

    for (const EnumDescription* enumeration : Enumerations()) WriteEnumeration(out, *enumeration);

    out << "    [\n"
        << "        uuid(" << IdlUuid(IID_IKestrix) << "),\n"
        << "        version(" << kMajorVersion << '.' << kMinorVersion << "),\n"
        << "        dual,\n"
        << "        oleautomation\n"
        << "    ]\n"
        << "    interface " << kInterfaceName << " : IDispatch\n    {\n";
    for (std::size_t i = 0; i < std::size(kMethods); ++i) {
        if (i > 0) out << '\n';
        WriteMethod(out, kMethods[i]);
    }
    out << "    };\n\n"
        << "    [\n"
        << "        uuid(" << IdlUuid(CLSID_Kestrix) << "),\n"
        << "        version(" << kMajorVersion << '.' << kMinorVersion << "),\n"
        << "        helpstring(" << IdlString(kClassHelpString) << ")\n"
        << "    ]\n"
        << "    coclass " << kClassName << "\n    {\n"
        << "        [default] interface " << kInterfaceName << ";\n"
        << "    };\n"
        << "};\n";
}

}  // namespace kestrix
