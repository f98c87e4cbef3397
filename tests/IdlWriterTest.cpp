#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "automation/IdlWriter.h"
#include "core/ErrorCodes.h"

namespace kestrix {
namespace {

TEST(IdlWriter, UuidIsTheBracedTextWithoutBraces) {
    OLECHAR braced[kGuidStringLength];
    for (const GUID& guid : {typelib::LIBID_Quantora, typelib::CLSID_Kestrix, typelib::IID_IKestrix}) {
        StringFromGUID2(guid, braced, kGuidStringLength);
        EXPECT_EQ("{" + IdlUuid(guid) + "}", braced);
    }
}

TEST(IdlWriter, StringsEscapeQuotesAndBackslashes) {
    EXPECT_EQ(IdlString("Binomial Model"), "\"Binomial Model\"");
    EXPECT_EQ(IdlString(R"(a "b" c\d)"), R"("a \"b\" c\\d")");
}

std::string Idl() {
    std::ostringstream out;
    WriteIdl(out);
    return out.str();
}

// The text between `from` and the next `to`.
std::string Between(const std::string& text, const std::string& from, const std::string& to) {
    const auto start = text.find(from);
    if (start == std::string::npos) return "";
    return text.substr(start, text.find(to, start) - start);
}

TEST(IdlWriter, MethodsFollowTheTableInOrderWithTheirOptionalParameters) {
    const std::string idl = Idl();
    std::size_t previous = 0;
    for (const auto& method : typelib::kMethods) {
        const std::string head = "[id(" + std::to_string(method.dispid) + "), helpstring(\"" + method.helpString +
                                 "\"), helpcontext(" + std::to_string(method.helpContext) + ")]\n        HRESULT " +
                                 method.name + "(";
        const std::size_t at = idl.find(head);
        ASSERT_NE(at, std::string::npos) << method.name;
        EXPECT_GT(at, previous) << method.name << " out of the table's order";
        previous = at;

        const std::string declaration = Between(idl.substr(at), "HRESULT", ");");
        std::size_t optional = 0, in = 0;
        for (std::size_t p = declaration.find("[in"); p != std::string::npos; p = declaration.find("[in", p + 1)) {
            ++in;
            if (declaration.compare(p, 13, "[in, optional") == 0) ++optional;
        }
        std::size_t expectedOptional = 0;
        for (const auto& param : method.params) expectedOptional += param.optional ? 1 : 0;
        EXPECT_EQ(in, method.params.size()) << method.name;
        EXPECT_EQ(optional, expectedOptional) << method.name;
        EXPECT_NE(declaration.find("[out, retval] double* Result_"), std::string::npos) << method.name;
    }
}

TEST(IdlWriter, ErrorCodesAreTheirHResultsWithTheirTexts) {
    const std::string codes = Between(Idl(), "enum enumOErrCodes {", "}");
    ASSERT_FALSE(codes.empty());
    EXPECT_NE(codes.find("None = 0,"), std::string::npos);
    // 0x80050002 as a signed 32-bit value, then its text.
    EXPECT_NE(codes.find("StrikePriceErr = -2147155966,  // 0x80050002 StrikePrice must be greater than 0.\n"),
              std::string::npos);
    for (const auto& row : ErrorTable()) {
        EXPECT_NE(codes.find(std::string("        ") + row.name + " = "), std::string::npos) << row.name;
    }
    // The last member takes no comma.
    EXPECT_NE(codes.find("VolOpenLimitErr = -2147155919  //"), std::string::npos);
}

}  // namespace
}  // namespace kestrix
