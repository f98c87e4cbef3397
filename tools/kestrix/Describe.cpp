#include "Describe.h"

#include <cstdio>
#include <string>
#include <vector>

#include "automation/TypeLibrary.h"

namespace kestrix::cli {

namespace {

std::string GuidText(const GUID& guid) {
    OLECHAR text[kGuidStringLength];
    StringFromGUID2(guid, text, kGuidStringLength);
    return text;
}

std::string TypeName(const ParamDescription& param) {
    switch (param.kind) {
        case ParamKind::Double: return "double";
        case ParamKind::Int: return "int";
        case ParamKind::Enum: return param.enumeration->name;
    }
    return "";
}

void DescribeMethod(std::ostream& out, const MethodDescription& method) {
    out << "  [id " << method.dispid << "] " << method.name << "  \"" << method.helpString << "\"  (help context "
        << method.helpContext << ")\n";
    for (const auto& param : method.params) {
        std::string line = "      " + std::string(param.name);
        line.resize(26, ' ');
        line += TypeName(param);
        if (param.optional) {
            line.resize(48, ' ');
            line += "optional";
        }
        out << line << '\n';
    }
    std::string result = "      " + std::string(kResultParamName);
    result.resize(26, ' ');
    result += "double";
    result.resize(48, ' ');
    out << result << "out, retval\n";
}

void DescribeEnumeration(std::ostream& out, const EnumDescription& enumeration) {
    out << "  enum " << enumeration.name << "  " << GuidText(enumeration.guid) << '\n';
    for (const auto& member : enumeration.members) {
        std::string line = "      " + std::string(member.name);
        line.resize(30, ' ');
        if (member.value < 0) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(member.value));
            line += hex;
        } else {
            line += std::to_string(member.value);
        }
        if (member.helpString[0] != '\0') {
            line.resize(42, ' ');
            line += "\"" + std::string(member.helpString) + "\"";
        }
        out << line << '\n';
    }
}

}  // namespace

bool Describe(std::ostream& out, std::string_view method) {
    using namespace typelib;
    if (!method.empty()) {
        const MethodDescription* found = FindMethod(method);
        if (found == nullptr) return false;
        out << kInterfaceName << '.' << found->name << '\n';
        DescribeMethod(out, *found);
        std::vector<const EnumDescription*> used;
        for (const auto& param : found->params) {
            if (param.enumeration == nullptr) continue;
            bool seen = false;
            for (const auto* e : used) seen = seen || e == param.enumeration;
            if (!seen) used.push_back(param.enumeration);
        }
        for (const auto* enumeration : used) DescribeEnumeration(out, *enumeration);
        return true;
    }

    out << "library " << kLibraryName << "  \"" << kLibraryHelpString << "\"  version " << kMajorVersion << '.'
        << kMinorVersion << "  locale 0x" << std::hex << kLocale << std::dec << "  help file \"" << kHelpFile
        << "\"  " << GuidText(LIBID_Quantora) << '\n';
    out << "  coclass " << kClassName << "  \"" << kClassHelpString << "\"  progid " << kProgId << "  "
        << GuidText(CLSID_Kestrix) << '\n';
    out << "  dual interface " << kInterfaceName << "  " << GuidText(IID_IKestrix) << "\n\n";
    for (const auto& m : kMethods) DescribeMethod(out, m);
    out << '\n';
    for (const auto* enumeration : Enumerations()) DescribeEnumeration(out, *enumeration);
    return true;
}

}  // namespace kestrix::cli
