#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "EnumHelpStrings.h"
#include "automation/IdlWriter.h"

namespace kestrix {
namespace {

#ifdef KESTRIX_TEST_WIDL

// The type library as widl compiles it from this build's IDL, once.
const std::vector<std::uint8_t>& CompiledLibrary() {
    static const std::vector<std::uint8_t> library = [] {
        const auto dir = std::filesystem::temp_directory_path() /
                         ("kestrix-enum-help-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                          "-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
        {
            std::ofstream idl(dir / "Quantora.idl");
            WriteIdl(idl);
        }
        const std::string command = std::string(KESTRIX_TEST_WIDL) + " -o " + (dir / "Quantora.tlb").string() + " " +
                                    (dir / "Quantora.idl").string() + " > " + (dir / "widl.log").string() + " 2>&1";
        std::vector<std::uint8_t> bytes;
        if (std::system(command.c_str()) == 0) {
            std::ifstream in(dir / "Quantora.tlb", std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        std::filesystem::remove_all(dir);
        return bytes;
    }();
    return library;
}

std::size_t EncodedSize(const std::string& text) {
    return std::max<std::size_t>(8, (text.size() + 5) & ~std::size_t{3});
}

TEST(EnumHelpStrings, EveryDocumentedMemberGetsItsHelpStringAndTheFileGrowsByThatAlone) {
    std::vector<std::uint8_t> library = CompiledLibrary();
    ASSERT_FALSE(library.empty()) << "widl did not compile the IDL";
    for (const EnumDescription* enumeration : Enumerations())
        EXPECT_TRUE(EnumMemberHelpStrings(library, enumeration->name).empty()) << enumeration->name;

    ASSERT_EQ(AddEnumMemberHelpStrings(library, Enumerations()), "");

    // Each documented member's record grows by the help context and string
    // fields, and its text joins the string table.
    std::size_t growth = 0;
    std::size_t documented = 0;
    for (const EnumDescription* enumeration : Enumerations()) {
        const auto helps = EnumMemberHelpStrings(library, enumeration->name);
        std::size_t expected = 0;
        for (const EnumMember& member : enumeration->members) {
            if (member.helpString[0] == '\0') {
                EXPECT_EQ(helps.count(member.name), 0u) << member.name;
                continue;
            }
            ++expected;
            growth += 8 + EncodedSize(member.helpString);
            const auto found = helps.find(member.name);
            ASSERT_NE(found, helps.end()) << member.name;
            EXPECT_EQ(found->second, member.helpString);
        }
        EXPECT_EQ(helps.size(), expected) << enumeration->name;
        documented += expected;
    }
    EXPECT_GT(documented, 20u) << "the error codes carry help strings";
    EXPECT_EQ(library.size(), CompiledLibrary().size() + growth);
}

TEST(EnumHelpStrings, RewritingTwiceKeepsOneHelpStringPerMember) {
    std::vector<std::uint8_t> library = CompiledLibrary();
    ASSERT_FALSE(library.empty());
    ASSERT_EQ(AddEnumMemberHelpStrings(library, Enumerations()), "");
    const auto once = EnumMemberHelpStrings(library, ErrorCodesEnumeration().name);
    ASSERT_EQ(AddEnumMemberHelpStrings(library, Enumerations()), "");
    EXPECT_EQ(EnumMemberHelpStrings(library, ErrorCodesEnumeration().name), once);
}

TEST(EnumHelpStrings, AnEnumerationOtherThanTheTablesIsRefusedAndTheFileKept) {
    const EnumMember members[] = {{"NotAMember", 1, "text"}};
    const EnumDescription missing{"enumMissing", {}, members};
    const EnumMember renamed[] = {{"Straddle", 1, "x"}, {"CallOption", 2, ""}, {"PutOption", 3, ""}};
    const EnumDescription reordered{typelib::kOptionType.name, {}, renamed};
    for (const EnumDescription* enumeration : {&missing, &reordered}) {
        std::vector<std::uint8_t> library = CompiledLibrary();
        ASSERT_FALSE(library.empty());
        const EnumDescription* const list[] = {enumeration};
        EXPECT_NE(AddEnumMemberHelpStrings(library, list), "") << enumeration->name;
        EXPECT_EQ(library, CompiledLibrary()) << enumeration->name;
    }
}

// A damaged file is refused without reading outside it: every truncation,
// and bytes overwritten at random.
TEST(EnumHelpStrings, DamagedFilesAreRefusedNotMisread) {
    const std::vector<std::uint8_t>& good = CompiledLibrary();
    ASSERT_FALSE(good.empty());
    for (std::size_t length = 0; length < good.size(); length += (length < 0x200 ? 1 : 7)) {
        std::vector<std::uint8_t> library(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        ASSERT_NE(AddEnumMemberHelpStrings(library, Enumerations()), "") << "truncated to " << length;
        EXPECT_EQ(library.size(), length);
        EXPECT_TRUE(EnumMemberHelpStrings(library, ErrorCodesEnumeration().name).empty());
    }
    std::mt19937 random(20261208);
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<std::uint8_t> library = good;
        for (int k = 0; k < 4; ++k) library[random() % library.size()] = static_cast<std::uint8_t>(random());
        const std::vector<std::uint8_t> damaged = library;
        // Harmless damage (in a name's text, say) may still be rewritten;
        // a refusal leaves the file as it was.
        if (AddEnumMemberHelpStrings(library, Enumerations()).empty()) {
            EXPECT_GT(library.size(), damaged.size());
        } else {
            EXPECT_EQ(library, damaged);
        }
        EnumMemberHelpStrings(library, ErrorCodesEnumeration().name);
    }
}

#else

TEST(EnumHelpStrings, NeedsWidl) {
#ifdef KESTRIX_REQUIRE_ALL_TESTS
    FAIL() << "widl or Wine's IDL files are not installed (tools/install-deps.sh installs them)";
#else
    GTEST_SKIP() << "widl or Wine's IDL files are not installed";
#endif
}

#endif

}  // namespace
}  // namespace kestrix
